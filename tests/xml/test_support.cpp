#include "tests/xml/test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace varnel::xml::test {

namespace {

std::filesystem::path tempDir() {
  return std::filesystem::temp_directory_path() /
         ("varnel_xml_tests_" + std::to_string(::getpid()));
}

// Removes the files the tests wrote once every test has run.
class TempDirCleaner : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(tempDir(), ec);
  }
};
[[maybe_unused]] ::testing::Environment* const kCleaner =
    ::testing::AddGlobalTestEnvironment(new TempDirCleaner);

}  // namespace

std::string tempPath(std::string_view name) {
  static std::atomic<int> counter{0};
  const auto dir = tempDir();
  std::filesystem::create_directories(dir);
  return (dir / (std::to_string(counter++) + "_" + std::string(name))).string();
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::unique_ptr<XmlFile> loadXml(std::string_view document) {
  auto f = std::make_unique<XmlFile>();
  const std::string path = tempPath("doc.xml");
  writeFile(path, document);
  if (f->file.load(path) != 0) return nullptr;
  return f;
}

std::string package(std::string_view records, std::string_view extraNamespaces) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<itl:NISTBiometricInformationExchangePackage"
      " xmlns:itl=\"http://biometrics.nist.gov/standard/2011\""
      " xmlns:biom=\"http://niem.gov/niem/biometrics/1.0\""
      " xmlns:nc=\"http://niem.gov/niem/niem-core/2.0\"";
  out += extraNamespaces;
  out += ">\n";
  out += records;
  out += "\n</itl:NISTBiometricInformationExchangePackage>\n";
  return out;
}

std::string field(const transaction::NistFile& f, int type, int fieldNumber, int occurrence) {
  std::string_view v;
  if (f.getFieldText(type, fieldNumber, v, occurrence) != 0) return "<missing>";
  return std::string(v);
}

std::string fullField(const transaction::NistFile& f, int type, int fieldNumber, int occurrence) {
  std::string v;
  if (f.getFieldFullText(type, fieldNumber, occurrence, v) != 0) return "<missing>";
  for (char& c : v) {
    if (c == '\x1F') c = '|';
    if (c == '\x1E') c = '^';
  }
  return v;
}

::testing::AssertionResult wellFormed(const std::string& path) {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
    return ::testing::AssertionFailure() << "xmllint is needed (scripts/install-deps)";
  }
  const std::string cmd = "xmllint --noout --nonet '" + path + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) {
    return ::testing::AssertionFailure() << path << " is not well-formed";
  }
  return ::testing::AssertionSuccess();
}

std::string recordTypes(const transaction::NistFile& f) {
  std::string out;
  const auto* tx = f.transaction();
  if (!tx) return out;
  for (const auto& r : tx->records) {
    if (!out.empty()) out += ' ';
    out += std::to_string(r.type);
  }
  return out;
}

}  // namespace varnel::xml::test
