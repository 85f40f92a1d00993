// Every document the writer produces from the shared corpus and the samples validates against the
// ANSI/NIST-ITL 2011 exchange schema (with the project's extension schema). Values copied from an
// input that lie outside the schema's value sets are tolerated; a structural error is a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

#include "tests/xml/test_support.h"

namespace varnel::xml::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSchemaRoot = fs::path(VARNEL_CORPUS) / "../reference/ansi-nist-xml/XMLschemas";

// Transactions of the corpus and the samples, in name order.
std::vector<std::string> transactionFiles() {
  std::vector<std::string> out;
  for (const fs::path& root : {fs::path(VARNEL_CORPUS), fs::path(VARNEL_SAMPLES)}) {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(root, ec)) {
      if (!e.is_regular_file()) continue;
      std::string ext = e.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
      for (std::string_view known :
           {".an2", ".an2k", ".eft", ".nist", ".nst", ".lffs", ".xml", ".int", ".tdf"}) {
        if (ext == known) out.push_back(e.path().string());
      }
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A schema that brings in the exchange schema, INTERPOL's domain schema and the project's
// extension, for xmllint.
std::string driverSchema() {
  const std::string path = tempPath("driver.xsd");
  const std::string itl = fs::absolute(kSchemaRoot / "exchange/itl-full.xsd").lexically_normal();
  const std::string inti = fs::absolute(kSchemaRoot / "int-i/1.0/int-i.xsd").lexically_normal();
  const std::string ext = fs::absolute(fs::path(VARNEL_DOCS) / "varnel-extension.xsd");
  writeFile(path,
            "<?xml version=\"1.0\"?>\n"
            "<xsd:schema xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n"
            "<xsd:import namespace=\"http://biometrics.nist.gov/standard/2011\" schemaLocation=\"" +
                itl +
                "\"/>\n"
                "<xsd:import namespace=\"http://interpol.gov/int-i/1.0\" schemaLocation=\"" +
                inti +
                "\"/>\n"
                "<xsd:import namespace=\"http://varnel.example/ext/1.0\" schemaLocation=\"" +
                ext + "\"/>\n</xsd:schema>\n");
  return path;
}

// xmllint's complaints that are not about a value copied from the input; the others are counted
// by element in `values`.
std::vector<std::string> structuralErrors(const std::string& log,
                                          std::map<std::string, int>& values) {
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.find("Schemas validity error") == std::string::npos) continue;
    const bool valueOnly = line.find("is not a valid value of") != std::string::npos ||
                           line.find("is not facet-valid") != std::string::npos ||
                           line.find("is not an element of the set") != std::string::npos ||
                           line.find("is not accepted by the pattern") != std::string::npos ||
                           line.find("has a length of") != std::string::npos ||
                           line.find("[facet '") != std::string::npos;
    if (!valueOnly) {
      out.push_back(line);
    } else if (const std::size_t at = line.find(": element "); at != std::string::npos) {
      ++values[line.substr(at + 10, line.find(':', at + 10) - at - 10)];
    }
  }
  return out;
}

TEST(XmlSchema, EveryWrittenDocumentValidates) {
  ASSERT_EQ(std::system("xmllint --version >/dev/null 2>&1"), 0) << "xmllint is needed";
  ASSERT_TRUE(fs::exists(kSchemaRoot / "exchange/itl-full.xsd")) << kSchemaRoot;
  const auto files = transactionFiles();
  ASSERT_GT(files.size(), 50u);
  const std::string schema = driverSchema();
  int written = 0;
  int valid = 0;
  int structural = 0;
  std::map<std::string, int> values;
  for (const auto& path : files) {
    // A conformance-suite file made to fail lacks the Type-20 fields the schema requires.
    if (fs::path(path).filename() == "fail-all-supported-types-L2.an2") continue;
    XmlFile in;
    if (in.file.load(path) != 0) continue;  // inputs no reader accepts are another test's concern
    const std::string xml = tempPath("schema.xml");
    ASSERT_EQ(in.file.saveXml(xml), 0) << path;
    ++written;
    const std::string log = tempPath("schema.log");
    const int rc = std::system(
        ("xmllint --noout --nonet --schema '" + schema + "' '" + xml + "' 2>'" + log + "'")
            .c_str());
    if (rc == 0) ++valid;
    const auto errors = structuralErrors(readFile(log), values);
    if (!errors.empty()) ++structural;
    std::string all;
    for (const auto& e : errors) all += e + "\n";
    EXPECT_TRUE(errors.empty()) << path << ":\n" << all;
  }
  std::cout << "[schema] " << written << " documents written, " << valid << " valid, " << structural
            << " with structural errors; values outside the schema's sets:";
  for (const auto& [element, count] : values) std::cout << ' ' << element << ' ' << count;
  std::cout << '\n';
}

}  // namespace
}  // namespace varnel::xml::test
