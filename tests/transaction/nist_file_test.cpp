#include "transaction/nist_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/common/tx_builder.h"
#include "transaction/status.h"
#include "transaction/traditional.h"

using namespace varnel::transaction;
using varnel::test::tempFile;
using varnel::test::TxBuilder;

namespace {

NistFile loaded(const std::string& bytes) {
  NistFile nf;
  const std::string path = tempFile(bytes);
  EXPECT_EQ(nf.load(path), kOk);
  std::remove(path.c_str());
  return nf;
}

std::string cntIdcs(const NistFile& nf) {
  std::string out;
  const int n = nf.getSubfieldCount(1, 3);
  for (int i = 1; i < n; ++i) {
    std::string_view v;
    EXPECT_EQ(nf.getItemText(1, 3, 0, i, 1, v), kOk);
    out += std::string(v) + (i + 1 < n ? "," : "");
  }
  return out;
}

// LEN of every record equals its written size, and the Transaction total the file size.
void expectConsistent(const NistFile& nf) {
  std::string out;
  ASSERT_EQ(writeTraditionalBytes(*nf.transaction(), out), kOk);
  EXPECT_EQ(nf.transaction()->byteTotal, static_cast<std::int32_t>(out.size()));
  std::unique_ptr<Transaction> again;
  ASSERT_EQ(readTraditionalBytes(out, again), kOk);
  for (const Record& r : nf.transaction()->records) {
    EXPECT_EQ(computeRecordBytes(r), r.byteTotal);
  }
}

}  // namespace

TEST(NistFileQueries, NothingHeldGivesMinusOne) {
  NistFile nf;
  std::string_view v;
  EXPECT_EQ(nf.getFieldText(1, 2, v), kNoTransaction);
  EXPECT_EQ(nf.setField(2, 5, "x"), kNoTransaction);
  EXPECT_EQ(nf.deleteRecord(4, 0), kNoTransaction);
  EXPECT_EQ(nf.saveTraditional("/tmp/x"), kNoTransaction);
  EXPECT_EQ(nf.countRecords(1), 0);
}

TEST(NistFileQueries, FieldsItemsAndMissingOnes) {
  NistFile nf = loaded(TxBuilder()
                           .type1()
                           .tagged(2, {{2, "00"},
                                       {18,
                                        "A\x1F"
                                        "B\x1E"
                                        "C"}})
                           .bytes());
  std::string_view v;
  EXPECT_EQ(nf.getFieldText(1, 2, v), kOk);
  EXPECT_EQ(v, "0400");
  EXPECT_EQ(nf.getSubfieldCount(2, 18), 2);
  EXPECT_EQ(nf.getItemText(2, 18, 0, 0, 1, v), kOk);
  EXPECT_EQ(v, "B");
  EXPECT_EQ(nf.getItemText(2, 18, 0, -1, 0, v), kBadArgument);
  EXPECT_EQ(nf.getItemText(2, 18, 0, 2, 0, v), kNotFound);
  EXPECT_EQ(nf.getFieldText(2, 19, v), kNotFound);
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(nf.recordTypeAt(1), 2);
  EXPECT_EQ(nf.recordTypeAt(2), kRecordNotFound);
  std::string full;
  EXPECT_EQ(nf.getFieldFullText(2, 18, 0, full), kOk);
  EXPECT_EQ(full,
            "A\x1F"
            "B\x1E"
            "C");
}

TEST(NistFileEditing, ProtectedFieldsAndRanges) {
  NistFile nf = loaded(TxBuilder().type1().tagged(2, {{2, "00"}}).bytes());
  EXPECT_EQ(nf.setField(1, 1, "5"), kProtected);
  EXPECT_EQ(nf.setField(1, 3, "5"), kProtected);
  EXPECT_EQ(nf.setFieldAt(2, 2, "5", 0), kProtected);
  EXPECT_EQ(nf.deleteField(2, 2), kProtected);
  EXPECT_EQ(nf.setField(2, 0, "x"), kFieldNumberRange);
  EXPECT_EQ(nf.setField(2, 10000, "x"), kFieldNumberRange);
  EXPECT_EQ(nf.deleteRecord(1, 0), kProtected);
  EXPECT_EQ(nf.deleteRecord(2, 0), kProtected);
  EXPECT_EQ(nf.deleteFeatureBlock(9, 0), kBadFeatureBlock);
}

TEST(NistFileEditing, MandatoryType1FieldsAreEmptiedNotRemoved) {
  NistFile nf = loaded(TxBuilder().type1({{7, "DAI"}, {8, "ORI"}}).bytes());
  ASSERT_EQ(nf.deleteField(1, 8), kOk);
  std::string_view v;
  EXPECT_EQ(nf.getFieldText(1, 8, v), kOk);
  EXPECT_EQ(v, "");
  // Setting it again replaces the emptied field.
  EXPECT_EQ(nf.setField(1, 8, "NEWORI"), kOk);
  EXPECT_EQ(nf.getFieldText(1, 8, v), kOk);
  EXPECT_EQ(v, "NEWORI");
  expectConsistent(nf);
}

TEST(NistFileEditing, LengthGainsTheDigitItCountsItself) {
  // A record whose total grows from 998 to 1001 bytes ends with LEN 1002.
  NistFile nf = loaded(TxBuilder().type1().tagged(2, {{2, "00"}}).bytes());
  const std::int32_t base = nf.transaction()->records[1].byteTotal;             // LEN of 2 digits
  const std::string filler(static_cast<std::size_t>(998 - base - 1 - 7), 'x');  // GS + "2.010:" tag
  ASSERT_EQ(nf.setField(2, 10, filler), kOk);
  std::string_view len;
  ASSERT_EQ(nf.getFieldText(2, 1, len), kOk);
  ASSERT_EQ(len, "998");
  ASSERT_EQ(nf.setField(2, 10, filler + "xxx"), kOk);
  ASSERT_EQ(nf.getFieldText(2, 1, len), kOk);
  EXPECT_EQ(len, "1002");
  EXPECT_EQ(nf.transaction()->records[1].byteTotal, 1002);
  expectConsistent(nf);
}

TEST(NistFileEditing, FieldsGoInNumberOrderWithNewTags) {
  NistFile nf = loaded(TxBuilder().type1().tagged(2, {{2, "00"}, {30, "z"}}).bytes());
  ASSERT_EQ(nf.setField(2, 18, "NAME"), kOk);
  ASSERT_EQ(nf.setField(2, 40, "LAST"), kOk);
  const Record& r = nf.transaction()->records[1];
  ASSERT_EQ(r.fields.size(), 5u);
  EXPECT_EQ(r.fields[2].tag, "2.018:");
  EXPECT_EQ(r.fields[3].fieldNumber, 30);
  EXPECT_TRUE(r.fields[3].hasGs);
  EXPECT_FALSE(r.fields[4].hasGs);
  expectConsistent(nf);
}

TEST(NistFileEditing, BinaryHeaderValuesKeepTheirWidth) {
  NistFile nf = loaded(TxBuilder().type1().binary(4, 1, "data").bytes());
  EXPECT_EQ(nf.setFieldAt(4, 6, "300", 0), kOk);
  EXPECT_EQ(nf.setFieldAt(4, 5, "300", 0), kBadArgument);
  EXPECT_EQ(nf.setFieldAt(4, 6, "70000", 0), kBadArgument);
  EXPECT_EQ(nf.setFieldAt(4, 6, "12a", 0), kBadArgument);
  EXPECT_EQ(nf.setFieldAt(4, 6, "1", 1), kNoBinaryRecord);
  EXPECT_EQ(nf.setFieldAt(4, 12, "1", 0), kNoBinaryField);
  EXPECT_EQ(nf.deleteField(4, 6), kBinaryFieldsFixed);
  std::string out;
  ASSERT_EQ(writeTraditionalBytes(*nf.transaction(), out), kOk);
  const std::size_t t4 = out.size() - 22;
  EXPECT_EQ(out.substr(t4 + 13, 2), std::string("\x01\x2C", 2));
}

TEST(NistFileEditing, DeletingARecordRenumbersLaterIdcsUnlessShared) {
  auto build = [](const std::string& lastIdc) {
    std::string bytes = TxBuilder()
                            .type1()
                            .tagged(2, {{2, "00"}})
                            .tagged(10, {{2, "01"}})
                            .tagged(10, {{2, "02"}})
                            .tagged(10, {{2, "03"}})
                            .tagged(14, {{2, lastIdc}})
                            .bytes();
    return bytes;
  };
  // CNT IDCs are 00..04 as written by the builder; delete the record with IDC 03.
  NistFile nf = loaded(build("04"));
  ASSERT_EQ(cntIdcs(nf), "00,01,02,03,04");
  ASSERT_EQ(nf.deleteRecord(10, 2), kOk);
  EXPECT_EQ(cntIdcs(nf), "00,01,02,03");
  std::string_view v;
  ASSERT_EQ(nf.getFieldText(14, 2, v), kOk);
  EXPECT_EQ(v, "03");
  ASSERT_EQ(nf.getItemText(1, 3, 0, 0, 1, v), kOk);
  EXPECT_EQ(v, "4");
  expectConsistent(nf);

  // When another record shares the removed IDC nothing is renumbered.
  NistFile shared = loaded(build("04"));
  ASSERT_EQ(shared.setFieldAt(10, 2, "03", 0), kOk);  // CNT follows field 2
  ASSERT_EQ(cntIdcs(shared), "00,03,02,03,04");
  ASSERT_EQ(shared.deleteRecord(10, 2), kOk);
  EXPECT_EQ(cntIdcs(shared), "00,03,02,04");
  expectConsistent(shared);
}

TEST(NistFileEditing, SettingType2OnATransactionWithoutOneCreatesIt) {
  NistFile nf = loaded(TxBuilder().type1().bytes());
  ASSERT_EQ(nf.setFieldAt(2, 18, "NAME", 0), kOk);
  ASSERT_EQ(nf.countRecords(2), 1);
  std::string_view v;
  ASSERT_EQ(nf.getItemText(1, 3, 0, 1, 0, v), kOk);
  EXPECT_EQ(v, "2");
  ASSERT_EQ(nf.getItemText(1, 3, 0, 1, 1, v), kOk);
  EXPECT_EQ(v, "00");
  ASSERT_EQ(nf.getItemText(1, 3, 0, 0, 1, v), kOk);
  EXPECT_EQ(v, "1");
  EXPECT_EQ(nf.setFieldAt(2, 18, "X", 2), kRecordNotFound);
  EXPECT_EQ(nf.setFieldAt(14, 18, "X", 0), kRecordNotCreatable);
  expectConsistent(nf);
}

TEST(NistFileEditing, SettingIdcOfSecondType10UpdatesCnt) {
  NistFile nf = loaded(TxBuilder()
                           .type1()
                           .tagged(2, {{2, "00"}})
                           .tagged(10, {{2, "01"}})
                           .tagged(10, {{2, "02"}})
                           .bytes());
  ASSERT_EQ(nf.setFieldAt(10, 2, "07", 1), kOk);
  EXPECT_EQ(cntIdcs(nf), "00,01,07");
  expectConsistent(nf);
}

TEST(NistFileEditing, TextWithSeparatorsReplacesTheWholeField) {
  NistFile nf = loaded(TxBuilder()
                           .type1()
                           .tagged(2, {{2, "00"},
                                       {18,
                                        "A\x1F"
                                        "B\x1E"
                                        "C\x1F"
                                        "D"}})
                           .bytes());
  ASSERT_EQ(nf.setFieldAt(2, 18, "X\x1FY", 0), kOk);
  std::string full;
  ASSERT_EQ(nf.getFieldFullText(2, 18, 0, full), kOk);
  EXPECT_EQ(full, "X\x1FY");
  ASSERT_EQ(nf.setFieldAt(2, 19,
                          "1\x1E"
                          "2\x1E"
                          "3",
                          0),
            kOk);
  EXPECT_EQ(nf.getSubfieldCount(2, 19), 3);
  expectConsistent(nf);
}

TEST(NistFileEditing, SetItemAppendsOnlyTheNextPosition) {
  NistFile nf = loaded(TxBuilder().type1().tagged(2, {{2, "00"}, {18, "A"}}).bytes());
  EXPECT_EQ(nf.setItem(2, 18, 0, 0, 1, "B"), kOk);
  EXPECT_EQ(nf.setItem(2, 18, 0, 1, 0, "C"), kOk);
  EXPECT_EQ(nf.setItem(2, 18, 0, 3, 0, "E"), kNotFound);
  EXPECT_EQ(nf.setItem(2, 18, 0, 0, 5, "E"), kNotFound);
  EXPECT_EQ(nf.setItem(2, 18, 0, 0, 0, "AAA"), kOk);
  EXPECT_EQ(nf.setItem(2, 20, 0, 1, 0, "Q"), kNotFound);
  EXPECT_EQ(nf.setItem(4, 2, 0, 0, 0, "1"), kBadArgument);
  std::string full;
  ASSERT_EQ(nf.getFieldFullText(2, 18, 0, full), kOk);
  EXPECT_EQ(full,
            "AAA\x1F"
            "B\x1E"
            "C");
  expectConsistent(nf);
}

TEST(NistFileEditing, SetItemOnImageFieldLoadsTheFile) {
  NistFile nf = loaded(TxBuilder().type1().tagged(14, {{2, "00"}, {999, "old"}}).bytes());
  const std::string img = tempFile(std::string("\xFF\xA0\x1C\x1D new image", 13), ".wsq");
  ASSERT_EQ(nf.setItem(14, 999, 0, 0, 0, img), kOk);
  EXPECT_EQ(nf.getFieldByteCount(14, 999), 13);
  expectConsistent(nf);
  std::remove(img.c_str());
}

TEST(NistFileEditing, LenIsNotDeletedEvenAsTheOnlyField) {
  NistFile nf = loaded(TxBuilder().type1().tagged(2, {{2, "00"}}).tagged(9, {}).bytes());
  ASSERT_EQ(nf.countRecords(9), 1);
  ASSERT_EQ(nf.deleteField(9, 1), kStructuralField);
  EXPECT_EQ(nf.countRecords(9), 1);
  EXPECT_EQ(nf.getSubfieldCount(1, 3), 3);
  expectConsistent(nf);
}

// LEN, the version and a record's IDC hold the file together: removing or splitting them would
// write a file no reader loads. The IDC and the version may still be set to a new value.
TEST(NistFileEditing, StructuralFieldsAreNotRemovedOrSplit) {
  NistFile nf = loaded(
      TxBuilder().type1().tagged(2, {{2, "00"}}).tagged(14, {{2, "01"}, {999, "img"}}).bytes());
  EXPECT_EQ(nf.deleteField(14, 1), kStructuralField);
  EXPECT_EQ(nf.deleteField(14, 2), kStructuralField);
  EXPECT_EQ(nf.deleteField(1, 2), kStructuralField);
  EXPECT_EQ(nf.deleteField(2, 1), kProtected);
  EXPECT_EQ(nf.setItem(14, 1, 0, 0, 1, "7"), kStructuralField);
  EXPECT_EQ(nf.setItem(14, 2, 0, 1, 0, "7"), kStructuralField);
  EXPECT_EQ(nf.setFieldAt(14, 1, "99", 0), kStructuralField);
  EXPECT_EQ(nf.setFieldAt(14, 2,
                          "1\x1E"
                          "2",
                          0),
            kStructuralField);
  EXPECT_EQ(nf.setItem(1, 2, 0, 0, 1, "x"), kStructuralField);
  EXPECT_EQ(nf.setFieldAt(14, 2, "05", 0), kOk);
  EXPECT_EQ(nf.setField(1, 2, "0500"), kOk);
  EXPECT_EQ(cntIdcs(nf), "00,05");
  expectConsistent(nf);
}

TEST(NistFileEditing, SeparatorsInsideOneValueAreRefused) {
  NistFile nf = loaded(TxBuilder().type1().tagged(2, {{2, "00"}, {5, "old"}}).bytes());
  EXPECT_EQ(nf.setField(2, 5,
                        "a\x1C"
                        "b"),
            kSeparatorInValue);
  EXPECT_EQ(nf.setFieldAt(2, 5,
                          "a\x1D"
                          "b",
                          0),
            kSeparatorInValue);
  EXPECT_EQ(nf.setItem(2, 5, 0, 0, 0,
                       "a\x1E"
                       "b"),
            kSeparatorInValue);
  EXPECT_EQ(nf.setItem(2, 5, 0, 0, 1, "a\x1F"), kSeparatorInValue);
  std::string full;
  ASSERT_EQ(nf.getFieldFullText(2, 5, 0, full), kOk);
  EXPECT_EQ(full, "old");
  // RS and US in a whole field's text build subfields and items, as they do when read back.
  ASSERT_EQ(nf.setField(2, 73,
                        "A\x1E"
                        " \x1E"
                        " "),
            kOk);
  EXPECT_EQ(nf.getSubfieldCount(2, 73), 3);
  expectConsistent(nf);
}

TEST(NistFileEditing, FieldsNumberedAboveTheImageDataGoBeforeIt) {
  NistFile nf = loaded(TxBuilder().type1().tagged(14, {{2, "01"}, {999, "img\x1Cx"}}).bytes());
  ASSERT_EQ(nf.setFieldAt(14, 1000, "late", 0), kOk);
  ASSERT_EQ(nf.setItem(14, 1001, 0, 0, 0, "later"), kOk);
  const Record& r = nf.transaction()->records[1];
  EXPECT_EQ(r.fields.back().fieldNumber, 999);
  EXPECT_EQ(r.fields[r.fields.size() - 2].fieldNumber, 1001);
  expectConsistent(nf);
  std::string out;
  ASSERT_EQ(writeTraditionalBytes(*nf.transaction(), out), kOk);
  std::unique_ptr<Transaction> back;
  ASSERT_EQ(readTraditionalBytes(out, back), kOk);
  EXPECT_EQ(back->records[1].fields.back().subfields[0].items[0].value, "img\x1Cx");
}

TEST(NistFileEditing, DeleteFeatureBlockRemovesItsRange) {
  NistFile nf =
      loaded(TxBuilder()
                 .type1()
                 .tagged(9, {{2, "00"}, {4, "S"}, {5, "x"}, {12, "y"}, {13, "z"}, {300, "e"}})
                 .bytes());
  ASSERT_EQ(nf.deleteFeatureBlock(4, 0), kOk);  // 9.005 to 9.012
  std::string_view v;
  EXPECT_EQ(nf.getFieldText(9, 5, v), kNotFound);
  EXPECT_EQ(nf.getFieldText(9, 12, v), kNotFound);
  EXPECT_EQ(nf.getFieldText(9, 13, v), kOk);
  ASSERT_EQ(nf.deleteFeatureBlock(8, 0), kOk);
  EXPECT_EQ(nf.getFieldText(9, 300, v), kNotFound);
  EXPECT_EQ(nf.deleteFeatureBlock(0, 3), kRecordNotFound);
  expectConsistent(nf);
}

TEST(NistFileEditing, InsertRecordAssignsIdcAndMovesLaterOnes) {
  NistFile nf = loaded(TxBuilder()
                           .type1()
                           .tagged(2, {{2, "00"}})
                           .tagged(10, {{2, "01"}})
                           .tagged(10, {{2, "02"}})
                           .bytes());
  Record r = makeTaggedRecord(13);
  Field f;
  ASSERT_EQ(makeTextField(13, 1, "0", f), kOk);
  appendField(r, f);
  ASSERT_EQ(makeTextField(13, 2, "99", f), kOk);
  appendField(r, f);
  std::int32_t g = 0;
  ASSERT_EQ(updateRecordLength(r, g), kOk);
  ASSERT_EQ(nf.insertRecord(2, r, true), kOk);  // after the Type-2
  EXPECT_EQ(cntIdcs(nf), "00,01,02,03");
  std::string_view v;
  ASSERT_EQ(nf.getFieldText(13, 2, v), kOk);
  EXPECT_EQ(v, "01");
  ASSERT_EQ(nf.getFieldText(10, 2, v, 1), kOk);
  EXPECT_EQ(v, "03");
  EXPECT_EQ(nf.insertRecord(0, r, true), -4);
  EXPECT_EQ(nf.insertRecord(99, r, true), -4);
  Record t1 = makeTaggedRecord(1);
  EXPECT_EQ(nf.insertRecord(1, t1, true), -3);
  expectConsistent(nf);
}

TEST(NistFileEditing, AppendRecordsAndReplaceImageData) {
  NistFile nf = loaded(TxBuilder().type1().tagged(2, {{2, "00"}}).bytes());
  ASSERT_EQ(nf.appendTaggedRecord(14), kOk);
  std::string_view v;
  ASSERT_EQ(nf.getFieldText(14, 2, v), kOk);
  EXPECT_EQ(v, "1");
  const std::uint8_t fgp[6] = {2, 255, 255, 255, 255, 255};
  const std::uint8_t data[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(nf.appendBinaryImageRecord(4, nullptr, 3, 1, fgp, 1, 10, 20, 0, data), kOk);
  EXPECT_EQ(nf.getFieldByteCount(4, 9), 5);
  ASSERT_EQ(nf.getFieldText(4, 1, v), kOk);
  EXPECT_EQ(v, "23");
  const std::uint8_t bigger[40] = {};
  ASSERT_EQ(nf.replaceImageData(4, 0, bigger), kOk);
  ASSERT_EQ(nf.getFieldText(4, 1, v), kOk);
  EXPECT_EQ(v, "58");
  ASSERT_EQ(nf.replaceImageData(14, 0, data), kOk);
  ASSERT_EQ(nf.replaceImageData(14, 0, bigger), kOk);  // replaces, never two 999 fields
  EXPECT_EQ(nf.getFieldByteCount(14, 999), 40);
  EXPECT_EQ(nf.replaceImageData(2, 0, data), kNotImageType);
  EXPECT_EQ(nf.replaceImageData(14, -1, data), kBadArgument);
  EXPECT_EQ(nf.replaceImageData(14, 1, data), kRecordNotFound);
  expectConsistent(nf);

  const std::string out = tempFile("", ".raw");
  EXPECT_EQ(nf.exportImageData(4, 0, out), kOk);
  EXPECT_EQ(varnel::test::readFile(out).size(), 40u);
  EXPECT_EQ(nf.exportImageData(2, 0, out), kNotImageType);
  EXPECT_EQ(nf.exportImageData(4, 0, ""), kMissingArgument);
  EXPECT_EQ(nf.exportImageData(4, 5, out), kRecordNotFound);
  std::remove(out.c_str());
}

// A binary header value the writer cannot store is found before saving and never wrapped.
TEST(NistFileEditing, BinaryValuesBeyondTheirWidthAreFoundNotWrapped) {
  for (const std::string_view idc : {std::string_view("300"), std::string_view("A1")}) {
    NistFile nf = loaded(TxBuilder().type1().bytes());
    const std::uint8_t fgp[6] = {1, 255, 255, 255, 255, 255};
    const std::uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(nf.appendBinaryImageRecord(4, &idc, 0, 1, fgp, 0, 1, 3, 0, data), kOk);
    int position = 0, field = 0, width = 0;
    std::string text;
    ASSERT_EQ(nf.findUnfitBinaryValue(position, field, text, width), 1);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(field, 2);
    EXPECT_EQ(text, idc);
    EXPECT_EQ(width, 1);
    std::string out;
    EXPECT_EQ(writeTraditionalBytes(*nf.transaction(), out), -41);
  }
  NistFile fits = loaded(TxBuilder().type1().binary(4, 1, "data", 300, 65535).bytes());
  int position = 0, field = 0, width = 0;
  std::string text;
  EXPECT_EQ(fits.findUnfitBinaryValue(position, field, text, width), 0);
}

TEST(NistFileLoad, XmlWithoutCodecAndDefaultType1WithOne) {
  const std::string path =
      tempFile("<?xml version=\"1.0\"?><itl:NISTBiometricInformationExchangePackage/>", ".xnst");
  NistFile plain;
  EXPECT_EQ(plain.load(path), kIsXml);
  EXPECT_EQ(plain.transaction(), nullptr);

  // A codec that adds nothing shows the default Type-1 record it was handed.
  struct NullCodec : XmlCodec {
    int read(const std::string&, NistFile&) const noexcept override { return 0; }
    int write(const std::string&, const NistFile&) const noexcept override { return 0; }
  } codec;
  NistFile nf(&codec);
  ASSERT_EQ(nf.load(path), kOk);
  EXPECT_TRUE(nf.isXml());
  std::string_view v;
  ASSERT_EQ(nf.getFieldText(1, 2, v), kOk);
  EXPECT_EQ(v, "0201");
  ASSERT_EQ(nf.getFieldText(1, 8, v), kOk);
  EXPECT_EQ(v, "Brennic");
  ASSERT_EQ(nf.getItemText(1, 3, 0, 0, 1, v), kOk);
  EXPECT_EQ(v, "0");
  const Record& t1 = nf.transaction()->records[0];
  for (std::size_t i = 1; i < t1.fields.size(); ++i) {
    EXPECT_LT(t1.fields[i - 1].fieldNumber, t1.fields[i].fieldNumber);
  }
  expectConsistent(nf);
  std::remove(path.c_str());
}

TEST(NistFileLoad, FailedLoadLeavesTheHandleEmpty) {
  NistFile nf = loaded(TxBuilder().type1().bytes());
  ASSERT_NE(nf.transaction(), nullptr);
  const std::string bad = tempFile("1.001:99\x1D");
  EXPECT_EQ(nf.load(bad), kReadFailed);
  EXPECT_EQ(nf.transaction(), nullptr);
  std::remove(bad.c_str());
}

TEST(Banner, ExactText) { EXPECT_EQ(versionBanner(), "tavrix version 2.4.0.0 - April 13, 2024\n"); }

TEST(NistFileEditing, ImageDataWithSeparatorBytesStaysOneItem) {
  NistFile nf = loaded(TxBuilder().type1().tagged(10, {{2, "01"}, {999, "img"}}).bytes());
  ASSERT_EQ(nf.setField(10, 999,
                        "a\x1E"
                        "b\x1F"
                        "c"),
            kOk);
  EXPECT_EQ(nf.getSubfieldCount(10, 999, 0), 1);
  EXPECT_EQ(nf.getItemCount(10, 999, 0, 0), 1);
  expectConsistent(nf);
}
