// Malformed and hostile documents: the load fails rather than passing off the prepared Type-1
// record as a transaction; the reader never crashes, never expands entities beyond the predefined
// ones and never opens anything but the given file.
#include <gtest/gtest.h>

#include "tests/xml/test_support.h"
#include "xml/reader.h"
#include "xml/status.h"

namespace varnel::xml::test {
namespace {

const std::string kType1 =
    "<itl:PackageInformationRecord><biom:RecordCategoryCode>1</biom:RecordCategoryCode>"
    "<biom:Transaction><biom:TransactionControlIdentification><nc:IdentificationID>T-42"
    "</nc:IdentificationID></biom:TransactionControlIdentification></biom:Transaction>"
    "</itl:PackageInformationRecord>";

TEST(XmlHostileInput, DocumentsThatDoNotParseFailToLoad) {
  const std::string whole = package(kType1);
  for (std::size_t cut : {std::size_t{1}, std::size_t{40}, whole.size() / 2, whole.size() - 5}) {
    EXPECT_FALSE(loadXml(whole.substr(0, cut))) << cut;
  }
  for (std::string_view junk :
       {"<", "<<<>>>", "<a><b></a></b>", "<a x='1' x='2'/>", "<\xFF\xFE/>"}) {
    EXPECT_FALSE(loadXml(junk)) << junk;
  }
  // UTF-16 without a byte-order mark begins with "<" too.
  std::string utf16;
  for (char ch : whole) utf16 += std::string{ch, '\0'};
  EXPECT_FALSE(loadXml(utf16));
}

TEST(XmlHostileInput, Utf8ByteOrderMarkIsAccepted) {
  auto f = loadXml("\xEF\xBB\xBF" + package(kType1));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 1, 9), "T-42");
}

TEST(XmlHostileInput, SeparatorBytesInTextsBecomeSpaces) {
  // A character reference may bring in the traditional encoding's separators; the value stays
  // one value instead of being cut into items or refused.
  auto f = loadXml(
      package("<itl:PackageInformationRecord><biom:RecordCategoryCode>1</biom:RecordCategoryCode>"
              "<biom:Transaction><biom:TransactionControlIdentification><nc:IdentificationID>T&#"
              "x1C;4&#x1F;2"
              "</nc:IdentificationID></biom:TransactionControlIdentification></biom:Transaction>"
              "</itl:PackageInformationRecord>"));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 1, 9), "T 4 2");
}

TEST(XmlHostileInput, DeepNestingFailsWithoutCrashing) {
  std::string doc = "<p>";
  for (int i = 0; i < 100000; ++i) doc += "<a>";
  for (int i = 0; i < 100000; ++i) doc += "</a>";
  doc += "</p>";
  EXPECT_FALSE(loadXml(doc));
  XmlFile f;
  ASSERT_EQ(f.file.createDefault(), 0);
  EXPECT_EQ(readXmlBytes(doc, f.file), kNotWellFormed);
}

TEST(XmlHostileInput, HugeTextNodesAreReadAsTheyAre) {
  const std::string big(4 << 20, 'x');
  auto f = loadXml(
      package("<itl:PackageInformationRecord><biom:RecordCategoryCode>1</biom:RecordCategoryCode>"
              "<biom:Transaction><biom:TransactionControlIdentification><nc:IdentificationID>" +
              big +
              "</nc:IdentificationID></biom:TransactionControlIdentification></biom:Transaction>"
              "</itl:PackageInformationRecord>"));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 1, 9).size(), big.size());
}

TEST(XmlHostileInput, InvalidBase64FailsTheLoad) {
  auto withData = [](std::string_view text) {
    return package(
        kType1 +
        "<itl:R><biom:RecordCategoryCode>14</biom:RecordCategoryCode><biom:FingerImpressionImage>"
        "<nc:BinaryBase64Object>" +
        std::string(text) + "</nc:BinaryBase64Object></biom:FingerImpressionImage></itl:R>");
  };
  auto good = loadXml(withData("TWFu\r\nTWE=\n"));
  ASSERT_TRUE(good);
  EXPECT_EQ(field(good->file, 14, 999), "ManMa");
  for (std::string_view bad : std::initializer_list<std::string_view>{
           "TWFu\nTWFu*!$garbage", "&#x1;&#xFFFF;====", "TWFu=TWFu", "TQ=", "TWFu==", "TWFuT",
           std::string_view("TWFu\0", 5)}) {
    EXPECT_FALSE(loadXml(withData(bad))) << bad;
  }
  // Long data is decoded ahead of parsing; a fault there fails the load the same way.
  std::string longText(4000, 'A');
  longText[3000] = '.';
  EXPECT_FALSE(loadXml(withData(longText)));
}

TEST(XmlHostileInput, MissingHeaderFieldsGetPlaceholdersAndAWarning) {
  auto f = loadXml(package(kType1));
  ASSERT_TRUE(f);
  ASSERT_EQ(f->file.warnings().size(), 1u);
  const std::string& w = f->file.warnings()[0];
  EXPECT_NE(w.find("1.007 DAI \"Brennic\""), std::string::npos) << w;
  EXPECT_NE(w.find("1.008 ORI"), std::string::npos) << w;
  EXPECT_EQ(w.find("1.009"), std::string::npos) << w;
  // The next load starts with no warnings.
  const std::string path = tempPath("plain.nist");
  ASSERT_EQ(f->file.saveTraditional(path), 0);
  ASSERT_EQ(f->file.load(path), 0);
  EXPECT_TRUE(f->file.warnings().empty());
}

TEST(XmlHostileInput, InternalEntitiesAreNotExpanded) {
  std::string doctype = "<!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    doctype += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k)
      doctype += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
    doctype += "\">";
  }
  doctype += "]>";
  const std::string doc =
      "<?xml version=\"1.0\"?>" + doctype +
      "<itl:NISTBiometricInformationExchangePackage><itl:PackageInformationRecord>"
      "<biom:RecordCategoryCode>1</biom:RecordCategoryCode><biom:Transaction>"
      "<biom:TransactionControlIdentification><nc:IdentificationID>&lol9;</nc:IdentificationID>"
      "</biom:TransactionControlIdentification></biom:Transaction></itl:PackageInformationRecord>"
      "</itl:NISTBiometricInformationExchangePackage>";
  auto f = loadXml(doc);
  ASSERT_TRUE(f);
  EXPECT_LT(field(f->file, 1, 9).size(), 100u);
}

TEST(XmlHostileInput, ExternalEntitiesAreNeverFetched) {
  const std::string secret = tempPath("secret.txt");
  writeFile(secret, "SECRET-CONTENT");
  const std::string doc =
      "<?xml version=\"1.0\"?><!DOCTYPE p [<!ENTITY ext SYSTEM \"file://" + secret +
      "\"><!ENTITY net SYSTEM \"http://127.0.0.1:9/x\">]>"
      "<itl:NISTBiometricInformationExchangePackage><itl:PackageInformationRecord>"
      "<biom:RecordCategoryCode>1</biom:RecordCategoryCode><biom:Transaction>"
      "<biom:TransactionControlIdentification><nc:IdentificationID>&ext;&net;</nc:IdentificationID>"
      "</biom:TransactionControlIdentification></biom:Transaction></itl:PackageInformationRecord>"
      "</itl:NISTBiometricInformationExchangePackage>";
  auto f = loadXml(doc);
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 1, 9).find("SECRET"), std::string::npos);
}

TEST(XmlHostileInput, OutOfRangeNumbersAndFieldsAreDropped) {
  auto f = loadXml(package(
      kType1 +
      "<itl:R><biom:RecordCategoryCode>4</biom:RecordCategoryCode><biom:FingerprintImage>"
      "<nc:BinaryBase64Object>YQ==</nc:BinaryBase64Object>"
      "<biom:FingerprintImagePosition><biom:FingerPositionCode>-1</biom:FingerPositionCode>"
      "<biom:FingerPositionCode>999</biom:FingerPositionCode></biom:FingerprintImagePosition>"
      "<biom:ImageHorizontalLineLengthPixelQuantity>99999999999999999999"
      "</biom:ImageHorizontalLineLengthPixelQuantity>"
      "</biom:FingerprintImage></itl:R>"
      "<itl:R><biom:RecordCategoryCode>99999999999999999999</biom:RecordCategoryCode><x/></"
      "itl:R>"));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 1, 9), "T-42");
  ASSERT_EQ(f->file.countRecords(4), 1);
  EXPECT_EQ(fullField(f->file, 4, 4), "255|255|255|255|255|255");
  EXPECT_EQ(field(f->file, 4, 6), "0");
  // The record stays writable in the traditional encoding.
  EXPECT_EQ(f->file.saveTraditional(tempPath("range.nist")), 0);
}

TEST(XmlHostileInput, ReadingFromMemoryMatchesReadingTheFile) {
  XmlFile f;
  const std::string path = tempPath("mem.xml");
  writeFile(path, package(""));
  ASSERT_EQ(f.file.load(path), 0);
  EXPECT_EQ(readXmlBytes(package(kType1), f.file), 0);
  EXPECT_EQ(field(f.file, 1, 9), "T-42");
  EXPECT_EQ(readXmlBytes(std::string_view(), f.file), kNotWellFormed);
  EXPECT_EQ(readXml(path + ".does-not-exist", f.file), kNotWellFormed);
  EXPECT_EQ(readXml("/dev/null", f.file), kNotWellFormed);
  EXPECT_EQ(field(f.file, 1, 9), "T-42");
}

}  // namespace
}  // namespace varnel::xml::test
