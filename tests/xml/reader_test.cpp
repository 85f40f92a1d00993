#include "xml/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tests/xml/test_support.h"
#include "transaction/base64.h"
#include "xml/status.h"

namespace varnel::xml::test {
namespace {

std::string type1(std::string_view transactionBody) {
  return "<itl:PackageInformationRecord><biom:RecordCategoryCode>1</biom:RecordCategoryCode>"
         "<biom:Transaction>" +
         std::string(transactionBody) + "</biom:Transaction></itl:PackageInformationRecord>";
}

std::string base64(std::string_view bytes) {
  std::string out;
  transaction::encodeBase64(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), out);
  return out;
}

std::string imageRecord(int category, std::string_view idc, std::string_view inner,
                        std::string_view imageName = "biom:FingerImpressionImage") {
  std::string s =
      "<itl:R><biom:RecordCategoryCode>" + std::to_string(category) + "</biom:RecordCategoryCode>";
  if (!idc.empty()) {
    s += "<biom:ImageReferenceIdentification><nc:IdentificationID>" + std::string(idc) +
         "</nc:IdentificationID></biom:ImageReferenceIdentification>";
  }
  s += "<" + std::string(imageName) + ">" + std::string(inner) + "</" + std::string(imageName) +
       "></itl:R>";
  return s;
}

TEST(XmlReaderPackage, RootIsThePackageOrWrapsIt) {
  const std::string records = type1(
      "<biom:TransactionControlIdentification><nc:IdentificationID>T1</nc:IdentificationID>"
      "</biom:TransactionControlIdentification>");
  auto direct = loadXml(package(records));
  ASSERT_TRUE(direct);
  EXPECT_EQ(field(direct->file, 1, 9), "T1");

  auto wrapped =
      loadXml("<soap:Envelope xmlns:nc=\"http://niem.gov/niem/niem-core/2.0\"><x:ExchangePackage>" +
              records + "</x:ExchangePackage></soap:Envelope>");
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(field(wrapped->file, 1, 9), "T1");

  // A package without records loads with the prepared Type-1 record.
  auto bare = loadXml("<itl:NISTBiometricInformationExchangePackage/>");
  ASSERT_TRUE(bare);
  EXPECT_EQ(recordTypes(bare->file), "1");
  EXPECT_EQ(field(bare->file, 1, 9), "1234567890");

  // Any other root, or a wrapper around something else, is not a transaction.
  EXPECT_FALSE(loadXml("<soap:Envelope/>"));
  EXPECT_FALSE(
      loadXml("<soap:Envelope><itl:AnyPackage>" + records + "</itl:AnyPackage></soap:Envelope>"));
  EXPECT_FALSE(loadXml("<html><body><p>Not found</p></body></html>"));
}

TEST(XmlReaderPackage, NiemCorePrefixComesFromTheRootBinding) {
  const std::string doc =
      "<x:NISTBiometricInformationExchangePackage xmlns:q1=\"http://niem.gov/niem/niem-core/2.0\">"
      "<x:PackageInformationRecord><x:RecordCategoryCode>1</x:RecordCategoryCode><x:Transaction>"
      "<x:TransactionDate><q1:Date>2024-04-13</q1:Date></x:TransactionDate>"
      "<x:TransactionUTCDate><q1:DateTime>2024-04-13T10:20:30Z</q1:DateTime></x:TransactionUTCDate>"
      "<x:TransactionControlIdentification><nc:IdentificationID>nc</nc:IdentificationID>"
      "<q1:IdentificationID>q1</q1:IdentificationID></x:TransactionControlIdentification>"
      "</x:Transaction></x:PackageInformationRecord></x:NISTBiometricInformationExchangePackage>";
  auto f = loadXml(doc);
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 1, 5), "20240413");
  EXPECT_EQ(field(f->file, 1, 14), "20240413102030Z");
  EXPECT_EQ(field(f->file, 1, 9), "q1");
}

TEST(XmlReaderType1, VersionDatesAndAssembledFields) {
  auto f = loadXml(package(
      type1("<biom:TransactionMajorVersionValue>5</biom:TransactionMajorVersionValue>"
            "<biom:TransactionMinorVersionValue>1</biom:TransactionMinorVersionValue>"
            "<biom:TransactionDate>20240413</biom:TransactionDate>"
            "<biom:TransactionCategoryCode>CAR</biom:TransactionCategoryCode>"
            "<biom:TransactionDestinationOrganization><nc:OrganizationIdentification>"
            "<nc:IdentificationID>DEST</nc:IdentificationID></nc:OrganizationIdentification>"
            "<nc:OrganizationName>Dest &amp; Co</nc:OrganizationName>"
            "</biom:TransactionDestinationOrganization>"
            "<biom:TransactionOriginatingAgency><biom:IdentificationID>ORIG</biom:IdentificationID>"
            "</biom:TransactionOriginatingAgency>"
            "<biom:TransactionDomain><biom:TransactionDomainName>NORAM</biom:TransactionDomainName>"
            "<biom:DomainVersionNumberID>10.0</biom:DomainVersionNumberID></biom:TransactionDomain>"
            "<biom:TransactionCharacterSetDirectory><biom:CharacterSetIndexCode>3</"
            "biom:CharacterSetIndexCode>"
            "<biom:CharacterSetCommonNameCode>UTF-8</biom:CharacterSetCommonNameCode>"
            "</biom:TransactionCharacterSetDirectory>"
            "<biom:TransactionUTCDate><nc:DateTime>2016-04-10T10:46:32-05:00</nc:DateTime>"
            "</biom:TransactionUTCDate>")));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 1, 2), "0501");
  EXPECT_EQ(field(f->file, 1, 5), "20240413");  // not YYYY-MM-DD: copied unchanged
  EXPECT_EQ(field(f->file, 1, 4), "CAR");
  EXPECT_EQ(field(f->file, 1, 7), "DEST");
  EXPECT_EQ(field(f->file, 1, 8), "ORIG");
  EXPECT_EQ(fullField(f->file, 1, 17), "Dest & Co|");
  EXPECT_EQ(fullField(f->file, 1, 13), "NORAM|10.0");
  EXPECT_EQ(fullField(f->file, 1, 15), "3|UTF-8|");
  EXPECT_EQ(field(f->file, 1, 14), "2016-04-10T10:46:32-05:00");
}

TEST(XmlReaderType1, OnlyMajorVersionKeepsPreparedValueAndInterpolCategoryWins) {
  auto f = loadXml(package(
      type1("<biom:TransactionMajorVersionValue>5</biom:TransactionMajorVersionValue>"
            "<biom:TransactionCategoryCode>CAR</biom:TransactionCategoryCode>"
            "<int-i:TransactionAugmentation><int-i:TransactionCategoryCode>MPS</"
            "int-i:TransactionCategoryCode>"
            "</int-i:TransactionAugmentation>"
            "<biom:TransactionDomain><biom:TransactionDomainName>A</biom:TransactionDomainName>"
            "<nc:OrganizationName>ORG</nc:OrganizationName><biom:DomainVersionNumberIdentification>"
            "<nc:IdentificationID>2</nc:IdentificationID></biom:DomainVersionNumberIdentification>"
            "</biom:TransactionDomain>"),
      " xmlns:int-i=\"http://interpol.gov/int-i/1.0\""));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 1, 2), "0201");
  EXPECT_EQ(field(f->file, 1, 4), "MPS");
  EXPECT_EQ(fullField(f->file, 1, 13), "ORG|2");
}

TEST(XmlReaderText, FirstNonCommentChildMustBeText) {
  auto f =
      loadXml(package(type1("<biom:TransactionControlIdentification><nc:IdentificationID><!-- c "
                            "-->A1</nc:IdentificationID>"
                            "</biom:TransactionControlIdentification>"
                            "<biom:TransactionControlReferenceIdentification><nc:IdentificationID><"
                            "x/>B</nc:IdentificationID>"
                            "</biom:TransactionControlReferenceIdentification>"
                            "<biom:TransactionPriorityValue> 4 </biom:TransactionPriorityValue>")));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 1, 9), "A1");
  EXPECT_EQ(field(f->file, 1, 10), "<missing>");
  EXPECT_EQ(field(f->file, 1, 6), "4");  // layout whitespace around a value is dropped
}

TEST(XmlReaderRecords, CategoryCodeDecidesWhateverTheElementName) {
  auto f =
      loadXml(package(type1("") + imageRecord(14, "", "") + imageRecord(14, "", "") +
                      "<itl:PackageVoiceDataRecord><biom:X/></itl:PackageVoiceDataRecord>"
                      "<itl:PackageSignatureImageRecord><biom:X/></itl:PackageSignatureImageRecord>"
                      "<itl:PackageUnknownRecord><biom:X/></itl:PackageUnknownRecord>"
                      "<itl:R><biom:RecordCategoryCode>abc</biom:RecordCategoryCode></itl:R>"
                      "<itl:R><biom:RecordCategoryCode>140</biom:RecordCategoryCode></itl:R>"
                      "<itl:PackageLatentImageRecord/>"));
  ASSERT_TRUE(f);
  EXPECT_EQ(recordTypes(f->file), "1 14 14 11");
  // Without an image reference the IDC counts the records before the new one.
  EXPECT_EQ(field(f->file, 14, 2, 0), "0");
  EXPECT_EQ(field(f->file, 14, 2, 1), "1");
  EXPECT_EQ(field(f->file, 14, 999, 0), "<missing>");
}

TEST(XmlReaderRecords, MissingIdcAfterType2AndType14Is2) {
  auto f = loadXml(package(type1("") +
                           "<itl:PackageDescriptiveTextRecord><biom:RecordCategoryCode>2"
                           "</biom:RecordCategoryCode></itl:PackageDescriptiveTextRecord>" +
                           imageRecord(14, "07", "") + imageRecord(14, "", "")));
  ASSERT_TRUE(f);
  EXPECT_EQ(recordTypes(f->file), "1 2 14 14");
  EXPECT_EQ(field(f->file, 14, 2, 0), "07");
  EXPECT_EQ(field(f->file, 14, 2, 1), "2");
  EXPECT_EQ(field(f->file, 2, 10), "<missing>");  // the helper field used to create Type-2
}

TEST(XmlReaderImages, DataCompressionPositionsAndHash) {
  const std::string data = std::string("\xFF\xA0\x00\x01", 4) + "image";
  auto f = loadXml(package(
      type1("") +
      imageRecord(14, "1",
                  "<nc:BinaryBase64Object>" + base64(data) +
                      "</nc:BinaryBase64Object>"
                      "<biom:ImageCompressionAlgorithmCode>1</biom:ImageCompressionAlgorithmCode>"
                      "<biom:FingerPositionCode>2</biom:FingerPositionCode>"
                      "<biom:Other/><biom:FingerPositionCode>3</biom:FingerPositionCode>") +
      imageRecord(14, "2",
                  "<biom:ImageCompressionAlgorithmCode>0</biom:ImageCompressionAlgorithmCode>") +
      "<itl:R><biom:RecordCategoryCode>10</biom:RecordCategoryCode>"
      "<biom:ImageHashValue>00</biom:ImageHashValue>"
      "<biom:FaceImage><nc:BinaryBase64Object>YWJj</nc:BinaryBase64Object></biom:FaceImage></"
      "itl:R>"));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 14, 999, 0), data);
  EXPECT_EQ(field(f->file, 14, 11, 0), "WSQ20");
  EXPECT_EQ(fullField(f->file, 14, 13, 0), "2^3");
  EXPECT_EQ(field(f->file, 14, 11, 1), "0");
  EXPECT_EQ(field(f->file, 10, 999), "abc");
  // SHA-256 of "abc", not the value in the document.
  EXPECT_EQ(field(f->file, 10, 996),
            "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
}

// Long image data is decoded before parsing; every way of writing it must give the same bytes,
// and text that only looks like image data (in a comment) must stay out of the record.
TEST(XmlReaderImages, LargeImageDataDecodesTheSameInEveryForm) {
  std::string data(5000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  const std::string text = base64(data);
  auto record = [](std::string_view dataElement) {
    return "<itl:R><biom:RecordCategoryCode>14</biom:RecordCategoryCode>"
           "<biom:FingerImpressionImage>" +
           std::string(dataElement) + "</biom:FingerImpressionImage></itl:R>";
  };
  const std::string plain = "<nc:BinaryBase64Object>" + text + "</nc:BinaryBase64Object>";
  const std::string withAttribute =
      "<nc:BinaryBase64Object s:id=\"x\">" + text + "</nc:BinaryBase64Object>";
  const std::string withEntity =
      "<nc:BinaryBase64Object>&#65;" + text.substr(1) + "</nc:BinaryBase64Object>";
  const std::string commented = "<!-- <nc:BinaryBase64Object>" + text +
                                " --><nc:BinaryBase64Object>YWJj</nc:BinaryBase64Object>";
  // A character reference deep inside the text, and an unknown entity that ends the data there.
  char ref[16];
  std::snprintf(ref, sizeof ref, "&#x%X;", static_cast<unsigned>(text[2000]));
  const std::string withHexEntity = "<nc:BinaryBase64Object>" + text.substr(0, 2000) + ref +
                                    text.substr(2001) + "</nc:BinaryBase64Object>";
  const std::string withUnknown = "<nc:BinaryBase64Object>" + text.substr(0, 1200) + "&bogus;" +
                                  text.substr(1200) + "</nc:BinaryBase64Object>";
  auto f = loadXml(package(record(plain) + record(withAttribute) + record(withEntity) +
                           record(commented) + record(plain) + record(withHexEntity)));
  ASSERT_TRUE(f);
  ASSERT_EQ(f->file.countRecords(14), 6);
  EXPECT_TRUE(field(f->file, 14, 999, 0) == data);
  EXPECT_TRUE(field(f->file, 14, 999, 1) == data);
  EXPECT_TRUE(field(f->file, 14, 999, 2) == data);
  EXPECT_EQ(field(f->file, 14, 999, 3), "abc");
  EXPECT_TRUE(field(f->file, 14, 999, 4) == data);
  EXPECT_TRUE(field(f->file, 14, 999, 5) == data);
  // An unknown entity is no base64: the file does not load.
  EXPECT_FALSE(loadXml(package(record(plain) + record(withUnknown))));

  // With a DOCTYPE the document goes to the parser untouched and still reads the same.
  auto g = loadXml("<?xml version=\"1.0\"?><!DOCTYPE p>" + package(record(plain)).substr(39));
  ASSERT_TRUE(g);
  EXPECT_TRUE(field(g->file, 14, 999, 0) == data);
  // A placeholder written into a document by hand names nothing, and is no base64.
  EXPECT_FALSE(
      loadXml(package(record("<nc:BinaryBase64Object>@varnel-blob:0</nc:BinaryBase64Object>"))));
}

TEST(XmlReaderImages, Type4NeedsImageDataAndTakesSixPositions) {
  std::string positions;
  for (int p = 1; p <= 7; ++p) {
    positions += "<biom:FingerPositionCode>" + std::to_string(p) + "</biom:FingerPositionCode>";
  }
  const std::string inner =
      "<nc:BinaryBase64Object>YWJj</nc:BinaryBase64Object>"
      "<biom:ImageCaptureDetail><biom:CaptureResolutionCode>1</biom:CaptureResolutionCode>"
      "</biom:ImageCaptureDetail>"
      "<biom:ImageCompressionAlgorithmCode>1</biom:ImageCompressionAlgorithmCode>"
      "<biom:ImageHorizontalLineLengthPixelQuantity>300</"
      "biom:ImageHorizontalLineLengthPixelQuantity>"
      "<biom:ImageVerticalLineLengthPixelQuantity>400</biom:ImageVerticalLineLengthPixelQuantity>"
      "<biom:FingerprintImagePosition>" +
      positions +
      "</biom:FingerprintImagePosition>"
      "<biom:FingerprintImageImpressionCaptureCategoryCode>2"
      "</biom:FingerprintImageImpressionCaptureCategoryCode>";
  auto f = loadXml(package(type1("") + imageRecord(4, "", "", "biom:FingerprintImage") +
                           imageRecord(4, "05", inner, "biom:FingerprintImage")));
  ASSERT_TRUE(f);
  EXPECT_EQ(recordTypes(f->file), "1 4");
  EXPECT_EQ(field(f->file, 4, 2), "05");
  EXPECT_EQ(field(f->file, 4, 3), "2");
  EXPECT_EQ(fullField(f->file, 4, 4), "1|2|3|4|5|6");
  EXPECT_EQ(field(f->file, 4, 5), "1");
  EXPECT_EQ(field(f->file, 4, 6), "300");
  EXPECT_EQ(field(f->file, 4, 7), "400");
  EXPECT_EQ(field(f->file, 4, 8), "1");
  EXPECT_EQ(field(f->file, 4, 9), "abc");
}

TEST(XmlReaderImages, LegacyType4TakesLegacyElements) {
  auto f = loadXml(package(
      type1("") +
      "<itl:PackageLegacyFingerprintImageRecord><biom:ImageReferenceIdentification>"
      "<nc:IdentificationID>3</nc:IdentificationID></biom:ImageReferenceIdentification>"
      "<biom:FingerprintLegacyImageData><nc:BinaryBase64Object>YQ==</nc:BinaryBase64Object>"
      "<biom:LegacyExemplarFingerPositionCode>7</biom:LegacyExemplarFingerPositionCode>"
      "<biom:LegacyExemplarFingerPositionCode>8</biom:LegacyExemplarFingerPositionCode>"
      "<biom:LegacyImageCompressionAlgorithmCode>1</biom:LegacyImageCompressionAlgorithmCode>"
      "</biom:FingerprintLegacyImageData></itl:PackageLegacyFingerprintImageRecord>"));
  ASSERT_TRUE(f);
  EXPECT_EQ(fullField(f->file, 4, 4), "7|8|255|255|255|255");
  EXPECT_EQ(field(f->file, 4, 8), "1");
  EXPECT_EQ(field(f->file, 4, 9), "a");
}

TEST(XmlReaderImages, CaptureDetailGeoAndAnnotations) {
  const std::string inner =
      "<biom:ImageCaptureDetail>"
      "<biom:CaptureLocation><nc:LocationDescriptionText>Lab</nc:LocationDescriptionText>"
      "<biom:LocationTwoDimensionalGeographicCoordinate><nc:GeographicCoordinateLatitude>"
      "<nc:LatitudeDegreeValue>48</nc:LatitudeDegreeValue></nc:GeographicCoordinateLatitude>"
      "</biom:LocationTwoDimensionalGeographicCoordinate></biom:CaptureLocation>"
      "<biom:CaptureUTCDateTime><nc:DateTime>2020-01-02T03:04:05Z</nc:DateTime></"
      "biom:CaptureUTCDateTime>"
      "<biom:CaptureDate><nc:Date>2020-01-02</nc:Date></biom:CaptureDate>"
      "<biom:CaptureDeviceIdentification><nc:IdentificationID>DEV</nc:IdentificationID>"
      "</biom:CaptureDeviceIdentification>"
      "<biom:CaptureDeviceModelText>M</biom:CaptureDeviceModelText>"
      "<biom:CaptureOrganization><nc:OrganizationIdentification><nc:IdentificationID>SRC"
      "</nc:IdentificationID></nc:OrganizationIdentification></biom:CaptureOrganization>"
      "</biom:ImageCaptureDetail>";
  const std::string record =
      "<itl:R><biom:RecordCategoryCode>17</biom:RecordCategoryCode>"
      "<biom:ProcessAnnotation><biom:ProcessUTCDate><nc:DateTime>2020-01-02T03:04:05Z</nc:DateTime>"
      "</biom:ProcessUTCDate><biom:ProcessName>P</biom:ProcessName></biom:ProcessAnnotation>"
      "<biom:ProcessAnnotation><biom:ProcessName>undated</biom:ProcessName></"
      "biom:ProcessAnnotation>"
      "<biom:IrisImage>" +
      inner + "</biom:IrisImage></itl:R>";
  auto f = loadXml(package(type1("") + record));
  ASSERT_TRUE(f);
  EXPECT_EQ(fullField(f->file, 17, 998), "20200102030405Z|48|||||||||||Lab||");
  EXPECT_EQ(field(f->file, 17, 5), "20200102");
  EXPECT_EQ(field(f->file, 17, 4), "SRC");
  EXPECT_EQ(field(f->file, 17, 17), "DEV");  // Type-17 keeps the device id in 17.017
  EXPECT_EQ(fullField(f->file, 17, 19), "|M|");
  EXPECT_EQ(field(f->file, 17, 903), "<missing>");
  EXPECT_EQ(fullField(f->file, 17, 902), "20200102030405Z|P||^");

  // The same location under other prefixes bound to the same namespaces reads the same; a
  // prefix bound elsewhere does not count.
  std::string other = record;
  for (auto [from, to] : {std::pair<std::string, std::string>{"<biom:", "<ansi-nist:"},
                          {"</biom:", "</ansi-nist:"},
                          {"<nc:", "<n2:"},
                          {"</nc:", "</n2:"}}) {
    for (std::size_t p = 0; (p = other.find(from, p)) != std::string::npos; p += to.size()) {
      other.replace(p, from.size(), to);
    }
  }
  auto g = loadXml(package(type1("") + other,
                           " xmlns:ansi-nist=\"http://niem.gov/niem/biometrics/1.0\""
                           " xmlns:n2=\"http://niem.gov/niem/niem-core/2.0\""));
  ASSERT_TRUE(g);
  EXPECT_EQ(fullField(g->file, 17, 998), "20200102030405Z|48|||||||||||Lab||");
  auto h = loadXml(package(type1("") + other, " xmlns:ansi-nist=\"urn:x\" xmlns:n2=\"urn:y\""));
  ASSERT_TRUE(h);
  EXPECT_EQ(field(h->file, 17, 998), "<missing>");
}

TEST(XmlReaderMinutiae, FormatIndicatorAndDeltaAngles) {
  const std::string record =
      "<itl:PackageMinutiaeRecord><biom:RecordCategoryCode>9</biom:RecordCategoryCode>"
      "<biom:MinutiaeFormatNISTStandardIndicator>true</biom:MinutiaeFormatNISTStandardIndicator>"
      "<biom:INCITSMinutiae>"
      "<biom:FingerprintPatternDeltaLocation><biom:PositionHorizontalCoordinateValue>1"
      "</biom:PositionHorizontalCoordinateValue><biom:ImageLocationThetaAngleMeasure>10"
      "</biom:ImageLocationThetaAngleMeasure><biom:ImageLocationThetaAngleMeasure>20"
      "</biom:ImageLocationThetaAngleMeasure></biom:FingerprintPatternDeltaLocation>"
      "<biom:FingerprintPatternDeltaLocation><biom:PositionVerticalCoordinateValue>5"
      "</biom:PositionVerticalCoordinateValue></biom:FingerprintPatternDeltaLocation>"
      "</biom:INCITSMinutiae></itl:PackageMinutiaeRecord>"
      "<itl:PackageMinutiaeRecord><biom:RecordCategoryCode>9</biom:RecordCategoryCode>"
      "</itl:PackageMinutiaeRecord>";
  auto f = loadXml(package(type1("") + record));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 9, 4, 0), "S");
  EXPECT_EQ(fullField(f->file, 9, 140, 0), "1||10^");
  EXPECT_EQ(fullField(f->file, 9, 141, 0), "20|");
  EXPECT_EQ(field(f->file, 9, 4, 1), "U");
}

TEST(XmlReaderType2, InterpolLayoutKeepsItemPositions) {
  const std::string record =
      "<itl:PackageDescriptiveTextRecord><biom:RecordCategoryCode>2</biom:RecordCategoryCode>"
      "<itl:UserDefinedDescriptiveDetail><int-i:DomainDefinedDescriptiveDetail>"
      "<int-i:RecordSubject><int-i:PersonName><nc:PersonGivenName>Ann</nc:PersonGivenName>"
      "<nc:PersonSurName>Lee</nc:PersonSurName></int-i:PersonName>"
      "<biom:PersonBirthDate><nc:Date>1980-02-03</nc:Date></biom:PersonBirthDate></"
      "int-i:RecordSubject>"
      "<int-i:RecordMetadata><int-i:MiscellaneousIdentification>"
      "<int-i:MiscellaneousIdentificationID2><int-i:MiscIDType>P</int-i:MiscIDType>"
      "</int-i:MiscellaneousIdentificationID2></int-i:MiscellaneousIdentification></"
      "int-i:RecordMetadata>"
      "<int-i:RecordOffence><int-i:ArrestLocation><nc:LocationAddress><nc:StructuredAddress>"
      "<nc:LocationStateName>S</nc:LocationStateName></nc:StructuredAddress></nc:LocationAddress>"
      "</int-i:ArrestLocation></int-i:RecordOffence>"
      "<int-i:RecordOffense><int-i:OffenseDescriptionText>wrong form</int-i:OffenseDescriptionText>"
      "</int-i:RecordOffense>"
      "</int-i:DomainDefinedDescriptiveDetail></itl:UserDefinedDescriptiveDetail>"
      "</itl:PackageDescriptiveTextRecord>";
  auto f = loadXml(package(type1("") + record, " xmlns:int-i=\"http://interpol.gov/int-i/1.0\""));
  ASSERT_TRUE(f);
  EXPECT_EQ(fullField(f->file, 2, 30), "|Ann||Lee|");
  EXPECT_EQ(field(f->file, 2, 35), "19800203");
  EXPECT_EQ(fullField(f->file, 2, 13), "P|");
  EXPECT_EQ(fullField(f->file, 2, 22), "||||S|");
  EXPECT_EQ(field(f->file, 2, 54), "<missing>");
}

TEST(XmlReaderType2, GsatLayoutAndBothContainersFillTheFirstType2) {
  const std::string record =
      "<itl:PackageDescriptiveTextRecord><biom:RecordCategoryCode>2</biom:RecordCategoryCode>"
      "<itl:UserDefinedDescriptiveText><gsat:DomainDefinedDescriptiveFields>"
      "<int-i:RecordActivity><nc:ActivityReasonText>R</nc:ActivityReasonText><int-i:ArrestLocation>"
      "<nc:LocationAddress><nc:StructuredAddress><nc:LocationCityName>Lyon</nc:LocationCityName>"
      "</nc:StructuredAddress></nc:LocationAddress></int-i:ArrestLocation></int-i:RecordActivity>"
      "<gsat:RecordSubject><int-i:PersonSexCode>F</int-i:PersonSexCode><int-i:PersonName/>"
      "</gsat:RecordSubject>"
      "<gsat:RecordMetadata><int-i:ContactInformation><nc:PersonFullName>P</nc:PersonFullName>"
      "</int-i:ContactInformation></gsat:RecordMetadata>"
      "<int-i:RecordOffense><int-i:OffenseDescriptionText>theft</int-i:OffenseDescriptionText>"
      "</int-i:RecordOffense>"
      "<gsat:TransactionMetadata><gsat:PersonalControlNumber><nc:IdentificationID>PCN"
      "</nc:IdentificationID></gsat:PersonalControlNumber><gsat:INPOLEnummer>IN</gsat:INPOLEnummer>"
      "</gsat:TransactionMetadata></gsat:DomainDefinedDescriptiveFields></"
      "itl:UserDefinedDescriptiveText>"
      "<itl:UserDefinedDescriptiveDetail><int-i:DomainDefinedDescriptiveDetail><int-i:"
      "RecordOffence>"
      "<int-i:OffenceDescriptionCode>C9</int-i:OffenceDescriptionCode></int-i:RecordOffence>"
      "</int-i:DomainDefinedDescriptiveDetail></itl:UserDefinedDescriptiveDetail>"
      "</itl:PackageDescriptiveTextRecord>";
  auto f = loadXml(package(type1("") + record,
                           " xmlns:int-i=\"http://interpol.gov/int-i/1.0\" xmlns:gsat=\"urn:g\""));
  ASSERT_TRUE(f);
  EXPECT_EQ(recordTypes(f->file), "1 2");
  EXPECT_EQ(field(f->file, 2, 21), "C9");  // the second container is read after the first
  EXPECT_EQ(fullField(f->file, 2, 22), "Lyon|");
  EXPECT_EQ(field(f->file, 2, 39), "F");
  EXPECT_EQ(fullField(f->file, 2, 30), "||||");  // an empty name container still sets the field
  EXPECT_EQ(fullField(f->file, 2, 63), "||P|");
  EXPECT_EQ(field(f->file, 2, 54), "theft");
  EXPECT_EQ(field(f->file, 2, 201), "PCN");
  EXPECT_EQ(field(f->file, 2, 12), "IN");
}

TEST(XmlReaderDates, ConvertOnlyTheExactXmlLengths) {
  EXPECT_EQ(dateFromXml("2024-04-13"), "20240413");
  EXPECT_EQ(dateFromXml("2024-4-13"), "2024-4-13");
  EXPECT_EQ(dateFromXml(""), "");
  EXPECT_EQ(dateTimeFromXml("2024-04-13T10:20:30Z"), "20240413102030Z");
  EXPECT_EQ(dateTimeFromXml("2024-04-13T10:20:30"), "2024-04-13T10:20:30");
}

TEST(XmlReaderFile, MissingFileFailsAndLeavesTheTransaction) {
  XmlFile f;
  const std::string path = tempPath("t1.xml");
  writeFile(path, package(type1("")));
  ASSERT_EQ(f.file.load(path), 0);
  EXPECT_EQ(readXml(tempPath("absent.xml"), f.file), kNotWellFormed);
  EXPECT_EQ(recordTypes(f.file), "1");
}

}  // namespace
}  // namespace varnel::xml::test

namespace varnel::xml::test {
namespace {

TEST(XmlReaderWarnings, UnreadRecordsAndUnmappedDomainsAreNamed) {
  auto f = loadXml(package(
      "<itl:PackageDescriptiveTextRecord><biom:RecordCategoryCode>2</biom:RecordCategoryCode>"
      "<itl:UserDefinedDescriptiveDetail><ebts:DomainDefinedDescriptiveFields>"
      "<ebts:RecordSubject><nc:PersonName>X</nc:PersonName><ebts:Y/></ebts:RecordSubject>"
      "</ebts:DomainDefinedDescriptiveFields></itl:UserDefinedDescriptiveDetail>"
      "</itl:PackageDescriptiveTextRecord>"
      "<itl:PackageDataRecord><biom:RecordCategoryCode>5</biom:RecordCategoryCode>"
      "</itl:PackageDataRecord>"));
  ASSERT_TRUE(f);
  const auto& w = f->file.warnings();
  auto has = [&](std::string_view part) {
    return std::any_of(w.begin(), w.end(),
                       [&](const std::string& t) { return t.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(has("itl:PackageDataRecord (type 5)"));
  EXPECT_TRUE(has("4 elements skipped (ebts:DomainDefinedDescriptiveFields)"));
}

}  // namespace
}  // namespace varnel::xml::test

namespace varnel::xml::test {
namespace {

// Elements no table knows, inside records that are read, are skipped and named once in one
// warning; what they hold is not looked into, and the project's extension elements are known.
TEST(XmlReaderWarnings, UnknownElementsInKnownRecordsAreNamedOnce) {
  auto f = loadXml(package(
      "<itl:PackageFingerprintImageRecord><biom:RecordCategoryCode>14</biom:RecordCategoryCode>"
      "<biom:ImageReferenceIdentification><nc:IdentificationID>1</nc:IdentificationID>"
      "</biom:ImageReferenceIdentification><biom:Odd><biom:Inner/></biom:Odd>"
      "<biom:FingerImpressionImage><biom:Odd/><x:Other/>"
      "<biom:ImageHorizontalLineLengthPixelQuantity>5</biom:ImageHorizontalLineLengthPixelQuantity>"
      "</biom:FingerImpressionImage></itl:PackageFingerprintImageRecord>",
      " xmlns:x=\"urn:x\""));
  ASSERT_TRUE(f);
  EXPECT_EQ(field(f->file, 14, 6), "5");
  const auto& w = f->file.warnings();
  ASSERT_FALSE(w.empty());
  EXPECT_EQ(w.back(), "Unknown elements skipped: biom:Odd, x:Other");
  EXPECT_EQ(std::count_if(w.begin(), w.end(),
                          [](const std::string& t) { return t.find("Unknown") == 0; }),
            1);
}

}  // namespace
}  // namespace varnel::xml::test
