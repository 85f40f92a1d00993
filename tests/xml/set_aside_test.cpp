// Long image data is set aside before parsing; reading with that step must give exactly what the
// plain reading gives, status, records, fields and warnings alike.
#include "xml/detail/set_aside.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/xml/test_support.h"
#include "transaction/base64.h"
#include "xml/reader.h"

namespace varnel::xml::test {
namespace {

namespace fs = std::filesystem;

// Every record, field, subfield and item of the transaction, and the warnings.
std::string dump(const transaction::NistFile& f) {
  std::string out;
  for (const auto& rec : f.transaction()->records) {
    out += "R" + std::to_string(rec.type) + "\n";
    for (const auto& fld : rec.fields) {
      out += std::to_string(fld.fieldNumber) + ":";
      for (const auto& sub : fld.subfields) {
        for (const auto& item : sub.items) out += item.value + "\x1F";
        out += "\x1E";
      }
      out += "\n";
    }
  }
  for (const auto& w : f.warnings()) out += "W " + w + "\n";
  return out;
}

void expectSameReading(const std::string& document, const std::string& name) {
  XmlFile fast;
  XmlFile plain;
  ASSERT_EQ(fast.file.createDefault(), 0);
  ASSERT_EQ(plain.file.createDefault(), 0);
  const int fastStatus = readXmlBytes(document, fast.file);
  const int plainStatus = detail::readXmlBytesPlain(document, plain.file);
  EXPECT_EQ(fastStatus, plainStatus) << name;
  EXPECT_TRUE(dump(fast.file) == dump(plain.file)) << name;
}

std::string record(std::string_view dataElement) {
  return "<itl:R><biom:RecordCategoryCode>14</biom:RecordCategoryCode>"
         "<biom:FingerImpressionImage>" +
         std::string(dataElement) + "</biom:FingerImpressionImage></itl:R>";
}

TEST(XmlSetAside, AgreesWithThePlainReading) {
  std::string data(5000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  std::string text;
  transaction::encodeBase64(
      std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), text);
  auto element = [](std::string_view inner) {
    return "<nc:BinaryBase64Object>" + std::string(inner) + "</nc:BinaryBase64Object>";
  };
  const std::vector<std::pair<std::string, std::string>> documents = {
      {"plain", package(record(element(text)))},
      {"attribute",
       package(record("<nc:BinaryBase64Object s:id=\"x\">" + text + "</nc:BinaryBase64Object>"))},
      {"entity", package(record(element("&#65;" + text.substr(1))))},
      {"unknown entity",
       package(record(element(text.substr(0, 1200) + "&bogus;" + text.substr(1200))))},
      {"comment", package("<!-- " + record(element(text)) + " -->" + record(element("YWJj")))},
      {"cdata",
       package(record("<nc:BinaryBase64Object><![CDATA[" + text + "]]></nc:BinaryBase64Object>"))},
      {"instruction", package("<?pi " + element(text) + "?>" + record(element(text)))},
      {"doctype",
       "<?xml version=\"1.0\"?><!DOCTYPE p>" + package(record(element(text))).substr(39)},
      {"dangling", package(record(element(text.substr(0, text.find('=')) + "Q")))},
      {"stray", package(record(element(text.substr(0, 3000) + "*" + text.substr(3000))))},
      {"marker", package(record(element("@varnel-blob:0")))},
      {"cut", package(record(element(text))).substr(0, 3000)},
  };
  for (const auto& [name, document] : documents) expectSameReading(document, name);

  // And every XML transaction of the shared corpus.
  int files = 0;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(VARNEL_CORPUS, ec)) {
    if (!e.is_regular_file() || e.path().extension() != ".xml") continue;
    expectSameReading(readFile(e.path().string()), e.path().string());
    ++files;
  }
  EXPECT_GT(files, 10);
}

}  // namespace
}  // namespace varnel::xml::test
