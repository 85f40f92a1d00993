#include "xml/writer.h"

#include <gtest/gtest.h>

#include "tests/xml/test_support.h"
#include "xml/status.h"

namespace varnel::xml::test {
namespace {

// A transaction holding the prepared Type-1 record only (loaded from an empty package).
std::unique_ptr<XmlFile> prepared() { return loadXml(package("")); }

std::string written(const transaction::NistFile& f) {
  std::string out;
  EXPECT_EQ(writeXmlToString(f, out), kOk);
  return out;
}

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

TEST(XmlWriterLayout, Type1AndType2OnlyGiveFixedLinesByteForByte) {
  auto f = prepared();
  ASSERT_TRUE(f);
  ASSERT_EQ(f->file.setField(2, 3, "x"), 0);
  // CNT is protected from the setters; the IDC text is edited in the tree directly.
  auto& cnt = f->file.transaction()->records[0].fields[2];
  ASSERT_EQ(cnt.fieldNumber, 3);
  ASSERT_EQ(cnt.subfields.size(), 2u);
  cnt.subfields[1].items[1].value = "007";
  const std::string doc = written(f->file);
  const std::string expectedStart =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<itl:NISTBiometricInformationExchangePackage xmlns:xsi=";
  EXPECT_EQ(doc.substr(0, expectedStart.size()), expectedStart);
  EXPECT_TRUE(contains(doc, "xmlns:nc=\"http://niem.gov/niem/niem-core/2.0\""));
  const std::string type1 =
      "\">\n"
      "\t<itl:PackageInformationRecord>\n"
      "\t\t<biom:RecordCategoryCode>1</biom:RecordCategoryCode>\n"
      "\t\t<biom:Transaction>\n"
      "\t\t\t<biom:TransactionDate>\n"
      "\t\t\t\t<nc:Date>2008-11-20</nc:Date>\n"
      "\t\t\t</biom:TransactionDate>\n";
  EXPECT_TRUE(contains(doc, type1));
  EXPECT_TRUE(contains(
      doc,
      "\t\t\t<biom:TransactionImageResolutionDetails>\n"
      "\t\t\t\t<biom:NativeScanningResolutionValue>19.69</biom:NativeScanningResolutionValue>\n"
      "\t\t\t\t<biom:NominalTransmittingResolutionValue>19.69</"
      "biom:NominalTransmittingResolutionValue>\n"));
  EXPECT_TRUE(contains(doc, "<biom:ContentRecordQuantity>1</biom:ContentRecordQuantity>"));
  // CNT IDC 007 is written without its leading zeros.
  EXPECT_TRUE(contains(doc, "\t\t\t\t\t\t<nc:IdentificationID>7</nc:IdentificationID>\n"));
  const std::string type2 =
      "\t<itl:PackageDescriptiveTextRecord>\n"
      "\t\t<biom:RecordCategoryCode>2</biom:RecordCategoryCode>\n"
      "\t\t<biom:ImageReferenceIdentification>\n"
      "\t\t\t<nc:IdentificationID>00</nc:IdentificationID>\n"
      "\t\t</biom:ImageReferenceIdentification>\n"
      "\t\t<itl:UserDefinedDescriptiveDetail>\n"
      "\t\t\t<ext:DescriptiveFields>\n"
      "\t\t\t\t<ext:Field number=\"3\">\n"
      "\t\t\t\t\t<ext:Subfield>\n"
      "\t\t\t\t\t\t<ext:Item>x</ext:Item>\n"
      "\t\t\t\t\t</ext:Subfield>\n"
      "\t\t\t\t</ext:Field>\n"
      "\t\t\t</ext:DescriptiveFields>\n"
      "\t\t</itl:UserDefinedDescriptiveDetail>\n"
      "\t</itl:PackageDescriptiveTextRecord>\n"
      "</itl:NISTBiometricInformationExchangePackage>\n";
  EXPECT_EQ(doc.substr(doc.size() - type2.size()), type2);
}

TEST(XmlWriterLayout, VersionIsTheTransactionsAndAmpersandIsEscaped) {
  auto f = prepared();
  ASSERT_TRUE(f);
  ASSERT_EQ(f->file.setField(1, 2, "0400"), 0);
  ASSERT_EQ(f->file.setField(1, 9, "A&B<C"), 0);
  std::string doc = written(f->file);
  EXPECT_TRUE(
      contains(doc, "<biom:TransactionMajorVersionValue>04</biom:TransactionMajorVersionValue>"));
  EXPECT_TRUE(
      contains(doc, "<biom:TransactionMinorVersionValue>00</biom:TransactionMinorVersionValue>"));
  EXPECT_TRUE(contains(doc, "<nc:IdentificationID>A&amp;B&lt;C</nc:IdentificationID>"));
  // Type-1 fields without an element are named in a warning.
  ASSERT_EQ(f->file.setField(1, 21, "x"), 0);
  const std::size_t before = f->file.warnings().size();
  doc = written(f->file);
  ASSERT_EQ(f->file.warnings().size(), before + 1);
  EXPECT_EQ(f->file.warnings().back(), "Type-1 fields not written, having no XML form: 1.021");
  // A version that is not four digits gives this encoding's own, 05 01.
  ASSERT_EQ(f->file.setField(1, 2, "5.1"), 0);
  doc = written(f->file);
  EXPECT_TRUE(
      contains(doc, "<biom:TransactionMajorVersionValue>05</biom:TransactionMajorVersionValue>"));
}

TEST(XmlWriterRecords, FaceOrPhysicalFeatureAndUnwrittenTypes) {
  auto f = prepared();
  ASSERT_TRUE(f);
  for (int type : {10, 10, 5, 6, 7, 12, 16, 18, 19, 21, 22, 98, 99}) {
    const std::string_view idc = "5";
    if (type <= 7) {
      const std::uint8_t fgp[6] = {1, 255, 255, 255, 255, 255};
      const std::uint8_t data[3] = {1, 2, 3};
      ASSERT_EQ(f->file.appendBinaryImageRecord(type, &idc, 0, 0, fgp, 0, 1, 1, 0, data), 0);
    } else {
      ASSERT_EQ(f->file.appendTaggedRecord(type, &idc), 0) << type;
    }
  }
  ASSERT_EQ(f->file.setFieldAt(10, 3, "FACE", 0), 0);
  ASSERT_EQ(f->file.setFieldAt(10, 3, "SCAR", 1), 0);
  const std::string doc = written(f->file);
  EXPECT_TRUE(contains(doc, "<biom:FaceImage>"));
  EXPECT_TRUE(contains(doc, "<biom:PhysicalFeatureImage>"));
  EXPECT_NE(doc.find("<itl:PackageFacialAndSMTImageRecord>"),
            doc.rfind("<itl:PackageFacialAndSMTImageRecord>"));
  for (int type : {5, 6, 99}) {
    EXPECT_FALSE(contains(doc, "\n\t\t<biom:RecordCategoryCode>" + std::to_string(type) + "<"))
        << type;
  }
  for (std::string_view element :
       {"<itl:PackageUserDefinedImageRecord>", "<itl:PackageForensicDentalDataRecord>",
        "<itl:PackageUserDefinedTestingImageRecord>", "<itl:PackageDNARecord>",
        "<itl:PackagePlantarImageRecord>", "<itl:PackageAssociatedContextRecord>",
        "<itl:PackageNonPhotographicImageryRecord>", "<itl:PackageInformationAssuranceRecord>"}) {
    EXPECT_TRUE(contains(doc, element)) << element;
  }
  // The content summary lists and counts only the records written.
  EXPECT_TRUE(contains(doc, "<biom:ContentRecordQuantity>10</biom:ContentRecordQuantity>"));
  EXPECT_FALSE(contains(doc, "<biom:RecordCategoryCode>5</biom:RecordCategoryCode>"));
  // One warning (after the load's own) names every record left out.
  ASSERT_EQ(f->file.warnings().size(), 2u);
  EXPECT_EQ(f->file.warnings().back(),
            "Records not written, having no XML form: record 4 of type 5, record 5 of type 6, "
            "record 14 of type 99");
}

TEST(XmlWriterRecords, ImageDataLeafEndsAtLineStart) {
  auto f = prepared();
  ASSERT_TRUE(f);
  const std::string_view idc = "1";
  ASSERT_EQ(f->file.appendTaggedRecord(14, &idc), 0);
  ASSERT_EQ(f->file.appendTaggedRecord(14, &idc), 0);
  const std::vector<std::uint8_t> data(57, 0);
  ASSERT_EQ(f->file.replaceImageData(14, 0, data), 0);
  const std::string doc = written(f->file);
  EXPECT_TRUE(contains(doc, "\t\t\t<nc:BinaryBase64Object>" + std::string(76, 'A') +
                                "\r\n\n</nc:BinaryBase64Object>\n"));
  // A record without image data gets a leaf holding only the LF.
  EXPECT_TRUE(contains(doc, "\t\t\t<nc:BinaryBase64Object>\n</nc:BinaryBase64Object>\n"));
}

TEST(XmlWriterFile, UncreatableFileGivesMinus6AndNoOutput) {
  auto f = prepared();
  ASSERT_TRUE(f);
  const std::string path = tempPath("no_such_dir") + "/out.xml";
  EXPECT_EQ(writeXml(path, f->file), kCannotCreate);
  transaction::NistFile empty;
  EXPECT_EQ(writeXml(tempPath("x.xml"), empty), kNoTransaction);
}

TEST(XmlWriterFile, FullDiskIsReportedAndThePartialFileRemoved) {
  auto f = prepared();
  ASSERT_TRUE(f);
  FILE* probe = std::fopen("/dev/full", "wb");
  ASSERT_NE(probe, nullptr) << "/dev/full is needed";
  std::fclose(probe);
  EXPECT_EQ(writeXml("/dev/full", f->file), kWriteFailed);
}

TEST(XmlWriterText, DatesStripAndEscapes) {
  EXPECT_EQ(dateToXml("20240413"), "2024-04-13");
  EXPECT_EQ(dateToXml("20240413xyz"), "2024-04-13");
  EXPECT_EQ(dateToXml("202404"), "202404");  // too short: unchanged
  EXPECT_EQ(dateToXml("2024-04-13"), "2024-04-13");
  EXPECT_EQ(dateTimeToXml("20240413102030Z"), "2024-04-13T10:20:30Z");
  EXPECT_EQ(dateTimeToXml("2024041310203"), "2024041310203");
  EXPECT_EQ(dateTimeToXml("2016-04-10T10:46:32-05:00"), "2016-04-10T10:46:32-05:00");
  EXPECT_EQ(stripLeadingZeros("007"), "7");
  EXPECT_EQ(stripLeadingZeros("000"), "0");
  EXPECT_EQ(stripLeadingZeros("0"), "0");
  EXPECT_EQ(stripLeadingZeros(""), "");
  EXPECT_EQ(stripLeadingZeros("10"), "10");

  std::string out;
  appendEscaped("a&b<c>]]>d\x01\te", out);
  EXPECT_EQ(out, "a&amp;b&lt;c>]]&gt;d\te");
  out.clear();
  appendEscaped("caf\xE9 \xC3\xA9", out);  // Latin-1 e-acute, then a UTF-8 one
  EXPECT_EQ(out, "caf\xC3\xA9 \xC3\xA9");
}

}  // namespace
}  // namespace varnel::xml::test
