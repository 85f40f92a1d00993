// A transaction that fills every field the XML writer knows is written, checked for
// well-formedness, and read back: every field must come back with the same text, the documented
// exceptions aside.
#include <gtest/gtest.h>

#include <set>

#include "samples/tx_builder.h"
#include "tests/xml/test_support.h"
#include "transaction/field_table.h"
#include "xml/detail/element_tables.h"
#include "xml/writer.h"

namespace varnel::xml::test {
namespace {

constexpr char kUs = '\x1F';
constexpr char kRs = '\x1E';

// "a|b^c" with | for US and ^ for RS, the way the tests write multi-valued fields.
std::string sep(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '|') c = kUs;
    if (c == '^') c = kRs;
  }
  return out;
}

struct FieldSpec {
  int field;
  std::string_view value;
};

void fill(transaction::NistFile& f, int type, int occurrence,
          std::initializer_list<FieldSpec> fields) {
  for (const auto& fs : fields) {
    ASSERT_EQ(f.setFieldAt(type, fs.field, sep(fs.value), occurrence), 0)
        << type << "." << fs.field;
  }
}

void addImage(transaction::NistFile& f, int type, std::string_view idc, std::string_view bytes) {
  ASSERT_EQ(f.appendTaggedRecord(type, &idc), 0);
  const int occ = f.countRecords(type) - 1;
  ASSERT_EQ(
      f.replaceImageData(
          type, occ, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())),
      0);
}

std::string firstDifference(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const std::size_t from = i > 80 ? i - 80 : 0;
  return "first difference at byte " + std::to_string(i) + ":\n" + a.substr(from, 160) + "\n---\n" +
         b.substr(from, 160);
}

std::unique_ptr<XmlFile> richTransaction() {
  auto x = loadXml(package(""));
  if (!x) return nullptr;
  auto& f = x->file;
  fill(f, 1, 0,
       {{2, "0501"},
        {4, "CAR"},
        {5, "20240413"},
        {6, "4"},
        {7, "DEST"},
        {8, "ORIG"},
        {9, "TCN-1"},
        {10, "TCR-1"},
        {11, "19.69"},
        {12, "19.69"},
        {13, "NORAM|10.0"},
        {14, "20240413102030Z"},
        {15, "3|UTF-8|1"},
        {16, "ORG|APP|2"},
        {17, "D & N|O <N>"}});
  EXPECT_EQ(f.setField(2, 3, "content not written"), 0);

  const std::uint8_t fgp[6] = {1, 2, 255, 255, 255, 255};
  const std::uint8_t data4[5] = {0xFF, 0xA0, 0, 1, 2};
  const std::string_view idc4 = "1";
  EXPECT_EQ(f.appendBinaryImageRecord(4, &idc4, 0, 1, fgp, 1, 300, 400, 1, data4), 0);

  const std::string_view idc9 = "2";
  EXPECT_EQ(f.appendTaggedRecord(9, &idc9), 0);
  fill(f, 9, 0,
       {{3, "0"},
        {4, "U"},
        {126, "27|515|1"},
        {136, "2"},
        {137, "1|10|20|30|A|50^2|11|21|31|B|60"},
        {139, "5|6|7"},
        {140, "1|2|3^4|5|6"},
        {141, "40|50^60|"},
        {320, "1|2|3|4|5"},
        {321, "1|2|3|4|5|6|7|8|9|10"},
        {331, "1|2|3|4|5|6^7|8|9|10|11|12"}});

  addImage(f, 10, "3", std::string("\xFF\xD8\xFF\x00 jpeg & <data>", 18));
  fill(f, 10, 0,
       {{3, "FACE"},
        {4, "SRC & co"},
        {5, "20200102"},
        {6, "480"},
        {7, "640"},
        {8, "1"},
        {9, "500"},
        {10, "500"},
        {11, "JPEGB"},
        {12, "SRGB"},
        {13, "1"},
        {14, "1|2|3|4|5"},
        {16, "100"},
        {17, "101"},
        {18, "A|B|C"},
        {19, "L1^L2"},
        {20, "F"},
        {21, "5"},
        {23, "CODE|desc"},
        {24, "80|VEN|PROD"},
        {25, "1|2|3|4|5|6"},
        {26, "D1^D2"},
        {27, "BLU"},
        {28, "BLK^GRY"},
        {29, "1|2.1|10|20^2|3.1|30|40"},
        {30, "ASSISTED"},
        {31, "2"},
        {33, "E|3|1|2|3|4|5|6"},
        {38, "comment"},
        {39, "REF"},
        {40, "NC1^NC2"},
        {41, "10|20"},
        {44, "T1^T2"},
        {902, "20200102030405Z|Proc|Owner|Desc"},
        {903, "DEV"},
        {904, "Make|Model|Serial"},
        {993, "Agency"},
        {998, "20200102030405Z|48|1|2|11|3|4|100|WGS84|32U|1000|2000|Lab|SYS|text"}});

  addImage(f, 13, "4", "latent");
  fill(f, 13, 0,
       {{3, "4"},
        {4, "SRC"},
        {5, "20200102"},
        {6, "10"},
        {7, "20"},
        {8, "1"},
        {9, "500"},
        {10, "500"},
        {11, "NONE"},
        {12, "8"},
        {13, "2^3"},
        {20, "latent comment"},
        {901, "TECH"},
        {902, "20200102030405Z|P|O|D^20210102030405Z|Q||"}});

  addImage(f, 14, "5", "finger");
  fill(f, 14, 0,
       {{3, "0"},
        {4, "SRC"},
        {5, "20200102"},
        {6, "10"},
        {7, "20"},
        {8, "1"},
        {9, "500"},
        {10, "500"},
        {11, "WSQ20"},
        {12, "8"},
        {13, "13"},
        {18, "1|UP^2|XX"},
        {22, "1|50^2|60"},
        {24, "1|80|V|P^2|70|W|Q"},
        {25, "1|4|0|0|10|0|10|10|0|10"},
        {26, "CAP-1"},
        {27, "Y"},
        {31, "20"},
        {901, "TECH"}});

  addImage(f, 15, "6", "palm");
  fill(f, 15, 0, {{3, "0"}, {11, "WSQ20"}, {12, "8"}, {13, "21^22"}, {20, "palm comment"}});

  addImage(f, 17, "7", "iris");
  fill(f, 17, 0,
       {{3, "1"},     {4, "SRC"},           {5, "20200102"}, {6, "640"},  {7, "480"},
        {8, "1"},     {9, "500"},           {10, "500"},     {11, "PNG"}, {12, "8"},
        {13, "GRAY"}, {14, "10"},           {15, "5"},       {17, "DUI"}, {19, "Make|Model|Serial"},
        {20, "BLU"},  {21, "iris comment"}, {22, "100"},     {23, "101"}, {24, "90|V|P"},
        {26, "200"},  {28, "MA"},           {31, "1"},       {32, "2"},   {40, "30"},
        {41, "0"}});

  addImage(f, 20, "8", "\x89PNG source");
  fill(f, 20, 0,
       {{3, "D"},
        {4, "SRC"},
        {5, "20200102"},
        {6, "680"},
        {7, "416"},
        {8, "1"},
        {9, "72"},
        {10, "72"},
        {11, "PNG"},
        {12, "8"},
        {13, "GRAY"},
        {14, "6"},
        {15, "PNG|none"},
        {21, "1"},
        {24, "70|V|P"},
        {38, "source comment"}});

  addImage(f, 16, "9", "test image");
  fill(f, 16, 0,
       {{3, "user type"},
        {4, "SRC"},
        {5, "20200102"},
        {6, "10"},
        {7, "20"},
        {8, "1"},
        {9, "500"},
        {10, "500"},
        {11, "NONE"},
        {12, "8"},
        {13, "GRAY"},
        {20, "test comment"},
        {24, "60|V|P"},
        {902, "20200102030405Z|P|O|D"}});

  addImage(f, 19, "10", "plantar");
  fill(f, 19, 0,
       {{3, "0"},
        {5, "20200102"},
        {6, "10"},
        {7, "20"},
        {11, "WSQ20"},
        {12, "8"},
        {13, "60^61"},
        {20, "sole"},
        {901, "TECH"}});

  addImage(f, 99, "11", "cbeff data");
  fill(f, 99, 0,
       {{4, "SRC"},
        {5, "20200102"},
        {100, "0101"},
        {101, "00000008"},
        {102, "80|V|P^70|W|Q"},
        {103, "001B"},
        {104, "0201"},
        {902, "20200102030405Z|P|O|D"}});
  return x;
}

TEST(XmlRoundTrip, EveryWrittenFieldReadsBackUnchanged) {
  auto source = richTransaction();
  ASSERT_TRUE(source);
  ASSERT_FALSE(::testing::Test::HasFailure());
  const std::string path = tempPath("rich.xml");
  ASSERT_EQ(source->file.saveXml(path), 0);
  EXPECT_TRUE(wellFormed(path));

  XmlFile back;
  ASSERT_EQ(back.file.load(path), 0);
  EXPECT_EQ(recordTypes(back.file), recordTypes(source->file));
  // Every element the writer uses is one the reader knows.
  for (const auto& w : back.file.warnings())
    EXPECT_EQ(w.find("Unknown elements"), std::string::npos) << w;

  const auto& records = source->file.transaction()->records;
  int occurrence[100] = {};
  for (const auto& rec : records) {
    const int occ = occurrence[rec.type]++;
    if (rec.type == 2) continue;  // Type-2 content is not written
    for (const auto& fld : rec.fields) {
      if (fld.fieldNumber == 1) continue;  // lengths are recomputed
      std::string want;
      ASSERT_EQ(source->file.getFieldFullText(rec.type, fld.fieldNumber, occ, want), 0);
      std::string got;
      EXPECT_EQ(back.file.getFieldFullText(rec.type, fld.fieldNumber, occ, got), 0)
          << rec.type << "." << fld.fieldNumber << " missing";
      EXPECT_EQ(got, want) << rec.type << "." << fld.fieldNumber;
    }
  }

  // Written again, the document is the same byte for byte.
  std::string first;
  std::string second;
  ASSERT_EQ(writeXmlToString(source->file, first), 0);
  ASSERT_EQ(writeXmlToString(back.file, second), 0);
  EXPECT_TRUE(first == second) << firstDifference(first, second);
}

TEST(XmlRoundTrip, DocumentedExceptions) {
  auto x = loadXml(package(""));
  ASSERT_TRUE(x);
  auto& f = x->file;
  ASSERT_EQ(f.setField(1, 2, "0400"), 0);
  ASSERT_EQ(f.setField(1, 5, "2024"), 0);  // too short to convert: written unchanged
  const std::string_view idc = "1";
  ASSERT_EQ(f.appendTaggedRecord(9, &idc), 0);
  ASSERT_EQ(f.setFieldAt(9, 4, "S", 0), 0);
  addImage(f, 20, "2", "src");
  ASSERT_EQ(f.setFieldAt(20, 14, "006", 0), 0);
  const std::string path = tempPath("exceptions.xml");
  ASSERT_EQ(f.saveXml(path), 0);
  XmlFile back;
  ASSERT_EQ(back.file.load(path), 0);
  EXPECT_EQ(field(back.file, 1, 2), "0400");
  EXPECT_EQ(field(back.file, 1, 5), "2024");
  EXPECT_EQ(field(back.file, 9, 4), "S");      // the indicator goes as a boolean and back
  EXPECT_EQ(field(back.file, 20, 14), "006");  // kept whole by the extension fields
  // No Type-4 record: the resolutions the transaction states are kept, 00.00 only when absent.
  EXPECT_EQ(field(back.file, 1, 11), "19.69");
}

}  // namespace
}  // namespace varnel::xml::test

namespace varnel::xml::test {
namespace {

// The signature record's elements are the ones the field definition table gives for its fields.
TEST(XmlRecordForms, SignatureElementsFollowTheFieldTable) {
  auto pathOf = [](int field) {
    for (const auto& row : transaction::fieldDefinitions()) {
      if (row.recordType == 8 && row.field == field && !row.xmlPath.empty() &&
          row.xmlPath.find('/') != std::string_view::npos) {
        return row.xmlPath;
      }
    }
    return std::string_view();
  };
  for (const auto& e : detail::kSignatureElements) {
    EXPECT_EQ(e.path, pathOf(e.field)) << "8." << e.field;
    EXPECT_EQ(e.path.substr(e.path.rfind('/') + 1), e.element);
  }
  EXPECT_EQ(detail::kSignatureDataPath, pathOf(8));
}

// A signature record is read into its binary layout, written back with every field, and reads
// back the same.
TEST(XmlRecordForms, SignatureRecordBothWays) {
  auto in = loadXml(package(
      "<itl:PackageSignatureImageRecord><biom:RecordCategoryCode>8</biom:RecordCategoryCode>"
      "<biom:ImageReferenceIdentification><nc:IdentificationID>3</nc:IdentificationID>"
      "</biom:ImageReferenceIdentification><biom:SignatureImage>"
      "<nc:BinaryBase64Object>AQID</nc:BinaryBase64Object>"
      "<biom:ImageCaptureDetail><biom:CaptureResolutionCode>1</biom:CaptureResolutionCode>"
      "</biom:ImageCaptureDetail>"
      "<biom:ImageHorizontalLineLengthPixelQuantity>300</"
      "biom:ImageHorizontalLineLengthPixelQuantity>"
      "<biom:ImageVerticalLineLengthPixelQuantity>70000</biom:ImageVerticalLineLengthPixelQuantity>"
      "<biom:SignatureRepresentationCode>1</biom:SignatureRepresentationCode>"
      "<biom:SignatureCategoryCode>0</biom:SignatureCategoryCode>"
      "</biom:SignatureImage></itl:PackageSignatureImageRecord>"));
  ASSERT_TRUE(in);
  EXPECT_EQ(recordTypes(in->file), "1 8");
  EXPECT_EQ(field(in->file, 8, 2), "3");
  EXPECT_EQ(field(in->file, 8, 3), "0");
  EXPECT_EQ(field(in->file, 8, 4), "1");
  EXPECT_EQ(field(in->file, 8, 5), "1");
  EXPECT_EQ(field(in->file, 8, 6), "300");
  EXPECT_EQ(field(in->file, 8, 7), "0");  // too wide for its two bytes
  EXPECT_EQ(field(in->file, 8, 8), std::string("\x01\x02\x03"));
  EXPECT_EQ(fullField(in->file, 1, 3), "1|1^8|03");

  const std::string nist = tempPath("signature.nist");
  ASSERT_EQ(in->file.saveTraditional(nist), 0);
  XmlFile traditional;
  ASSERT_EQ(traditional.file.load(nist), 0);
  std::string doc;
  ASSERT_EQ(writeXmlToString(traditional.file, doc), 0);
  const std::size_t data = doc.find("<nc:BinaryBase64Object>AQID");
  const std::size_t srt = doc.find("<biom:SignatureRepresentationCode>1<");
  const std::size_t sig = doc.find("<biom:SignatureCategoryCode>0<");
  EXPECT_TRUE(data < srt && srt < sig && sig != std::string::npos) << doc;
  auto back = loadXml(doc);
  ASSERT_TRUE(back);
  for (int f = 2; f <= 8; ++f) {
    EXPECT_EQ(field(back->file, 8, f), field(in->file, 8, f)) << "8." << f;
  }
}

}  // namespace
}  // namespace varnel::xml::test

namespace varnel::xml::test {
namespace {

// In a transaction of INTERPOL's domain, Type-2 goes as the domain's elements; what they cannot
// give back whole also travels as extension fields, so every field reads back unchanged.
TEST(XmlRecordForms, InterpolType2AsTheDomainsElements) {
  auto x = loadXml(package(""));
  ASSERT_TRUE(x);
  auto& f = x->file;
  ASSERT_EQ(f.setField(1, 13, sep("INT-I|06.00")), 0);
  fill(f, 2, 0,
       {{4, "20240101"},
        {10, "FRA|123"},
        {13, "P|"},
        {22, "1|Main St|Lyon|||FRA|69000"},
        {30, "|Ann||Lee"},
        {34, "|Eve||Lee^||||||Shadow"},
        {35, "19800203"},
        {37, "Lyon"},
        {39, "F"},
        {55, "20240102030405"},
        {56, "20240101|20240102"},
        {64, "1|true|3|MPS|I"},
        {74, "E1|NAM|bad"},
        {75, "|Max||Lee"},
        {91, "DEU|0987"},
        {95, " padded "}});
  std::string doc;
  ASSERT_EQ(writeXmlToString(f, doc), 0);
  for (std::string_view part :
       {"<int-i:DomainDefinedDescriptiveDetail xmlns:int-i=", "<nc:PersonGivenName>Ann<",
        "<int-i:PersonSexCode>F<", "<nc:StreetName>Main St<", "<nc:DateTime>2024-01-02T03:04:05Z<",
        "<int-i:ErrorFieldMnemonicCode>NAM<", "<ext:OtherDescriptiveFields>",
        "<int-i:PersonExtendedName>Shadow<", "<nc:AddressFullText>Lyon<",
        "<int-i:TransactionCandidatesTotalQuantity>3<", "<int-i:PersonFather>",
        "<int-i:NationalPersonInquiryIdentifier>"}) {
    EXPECT_NE(doc.find(part), std::string::npos) << part;
  }
  // Carried whole by the elements: not repeated as extension fields.
  EXPECT_EQ(doc.find("<ext:Field number=\"39\">"), std::string::npos);
  EXPECT_EQ(doc.find("<ext:Field number=\"4\">"), std::string::npos);
  EXPECT_EQ(doc.find("<ext:Field number=\"37\">"), std::string::npos);
  EXPECT_NE(doc.find("<ext:Field number=\"95\">"), std::string::npos);  // spaces kept
  // A miscellaneous identification without its number is not written as an element.
  EXPECT_EQ(doc.find("MiscellaneousIdentificationID2"), std::string::npos);
  auto back = loadXml(doc);
  ASSERT_TRUE(back);
  for (int n : {4, 10, 13, 22, 30, 34, 35, 37, 39, 55, 56, 64, 74, 75, 91, 95}) {
    EXPECT_EQ(fullField(back->file, 2, n), fullField(f, 2, n)) << "2." << n;
  }
}

}  // namespace
}  // namespace varnel::xml::test

namespace varnel::xml::test {
namespace {

// Field numbers of the occurrence-th record of `type`, e.g. "1 2 900".
std::string fieldNumbers(const transaction::NistFile& f, int type) {
  std::string out;
  for (const auto& r : f.transaction()->records) {
    if (r.type != type) continue;
    for (const auto& fld : r.fields)
      out += (out.empty() ? "" : " ") + std::to_string(fld.fieldNumber);
    break;
  }
  return out;
}

// Elements the schema requires but the record has no value for are written empty, and read back
// as nothing: no field appears that the record did not have.
TEST(XmlRecordForms, RequiredElementsWithoutValueAddNoField) {
  auto x = loadXml(package(""));
  ASSERT_TRUE(x);
  auto& f = x->file;
  const std::string_view idc = "1";
  ASSERT_EQ(f.appendTaggedRecord(98, &idc), 0);
  fill(f, 98, 0, {{900, "Added||21.016|Lab|"}});
  ASSERT_EQ(f.appendTaggedRecord(21, &idc), 0);
  fill(f, 21, 0, {{15, "DAT|how"}});
  std::string doc;
  ASSERT_EQ(writeXmlToString(f, doc), 0);
  for (std::string_view part :
       {"<biom:AssuranceFormatOwnerIdentification>\n\t\t\t<nc:IdentificationID></",
        "<biom:AssuranceLogEventLocationText>21.016<", "<biom:ContextFileCategoryText>DAT<",
        "<biom:ContextIdentification>\n\t\t\t<nc:IdentificationID></"}) {
    EXPECT_NE(doc.find(part), std::string::npos) << part;
  }
  auto back = loadXml(doc);
  ASSERT_TRUE(back);
  EXPECT_EQ(fieldNumbers(back->file, 98), "1 2 900");
  EXPECT_EQ(fieldNumbers(back->file, 21), "1 2 15");
  EXPECT_EQ(fullField(back->file, 98, 900), "Added||21.016|Lab|");
}

}  // namespace
}  // namespace varnel::xml::test

namespace varnel::xml::test {
namespace {

// A user-defined image record in the extended 33-byte header layout comes back byte for byte
// from XML: its header values travel as extension fields, its data as the extension's image.
TEST(XmlRecordForms, ExtendedUserDefinedImageBothWays) {
  const std::string data = "\x01\x02\x1C\x1D\xFF image";
  std::string bytes = samples::TxBuilder().type4(1, 1, 1, "x").bytes();
  const std::size_t cnt = bytes.find(
      "\x1E"
      "4\x1F");
  ASSERT_NE(cnt, std::string::npos);
  bytes[cnt + 1] = '7';
  std::string record = {0, 0, 0, static_cast<char>(33 + data.size()), 1, 2, 3};
  for (int k = 0; k < 10; ++k) record.push_back(static_cast<char>(k < 6 ? 10 + k : 0));
  for (int k = 0; k < 11; ++k) record.push_back(static_cast<char>(20 + k));
  record += std::string{0, 5, 0, 6, 4} + data;
  bytes.replace(bytes.size() - 19, 19, record);
  const std::string in = tempPath("type7.an2");
  writeFile(in, bytes);
  XmlFile traditional;
  ASSERT_EQ(traditional.file.load(in), 0);
  ASSERT_EQ(fullField(traditional.file, 7, 10), data);
  const std::string xml = tempPath("type7.xml");
  ASSERT_EQ(traditional.file.saveXml(xml), 0);
  XmlFile back;
  ASSERT_EQ(back.file.load(xml), 0);
  const std::string out = tempPath("type7-back.an2");
  ASSERT_EQ(back.file.saveTraditional(out), 0);
  const std::string written = readFile(out);
  ASSERT_GE(written.size(), record.size());
  EXPECT_EQ(written.substr(written.size() - record.size()), record);
}

}  // namespace
}  // namespace varnel::xml::test
