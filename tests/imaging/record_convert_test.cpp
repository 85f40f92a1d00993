// Record conversions between Type 4/6 and Type 14/13, and new Type-7 records.
#include <gtest/gtest.h>

#include "imaging/detail/codecs.h"
#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "imaging/wsq/wsq.h"
#include "tests/common/tx_builder.h"
#include "tests/imaging/support.h"
#include "transaction/traditional.h"

namespace varnel::imaging {
namespace {

using test::asString;
using test::fieldText;
using test::imageBytes;
using test::testPicture;
using transaction::NistFile;

// The transaction still reads back after being written: LEN, CNT and separators add up.
void expectWritesAndReadsBack(const NistFile& f) {
  std::string bytes;
  ASSERT_EQ(transaction::writeTraditionalBytes(*f.transaction(), bytes), 0);
  std::unique_ptr<transaction::Transaction> back;
  ASSERT_EQ(transaction::readTraditionalBytes(bytes, back), 0);
  EXPECT_EQ(back->records.size(), f.transaction()->records.size());
}

TEST(Type4ToType14, WsqRecordBecomesType14InPlace) {
  NistFile f;
  std::string data(202, 'w');
  data[0] = '\xFF';
  data[1] = '\xA0';
  test::loadType4(f, data, 804, 752, 1);
  ASSERT_EQ(convertType4ToType14(f), kOk);
  EXPECT_EQ(f.countRecords(4), 0);
  ASSERT_EQ(f.countRecords(14), 1);
  EXPECT_EQ(f.recordTypeAt(1), 14);
  EXPECT_EQ(fieldText(f, 14, 2), "00");
  EXPECT_EQ(fieldText(f, 14, 3), "1");
  EXPECT_EQ(fieldText(f, 14, 4), "ORI123");
  EXPECT_EQ(fieldText(f, 14, 5), "20240413");
  EXPECT_EQ(fieldText(f, 14, 6), "804");
  EXPECT_EQ(fieldText(f, 14, 7), "752");
  EXPECT_EQ(fieldText(f, 14, 8), "2");
  EXPECT_EQ(fieldText(f, 14, 9), "197");
  EXPECT_EQ(fieldText(f, 14, 10), "197");
  EXPECT_EQ(fieldText(f, 14, 11), "WSQ20");
  EXPECT_EQ(fieldText(f, 14, 12), "8");
  EXPECT_EQ(fieldText(f, 14, 13), "1");
  EXPECT_EQ(f.getSubfieldCount(14, 13, 0), 1);  // stops at the first 255
  EXPECT_EQ(imageBytes(f, 14, 0), data);
  std::string cnt;
  ASSERT_EQ(f.getFieldFullText(1, 3, 0, cnt), 0);
  EXPECT_EQ(cnt,
            "1\x1F"
            "1\x1E"
            "14\x1F"
            "00");
  expectWritesAndReadsBack(f);
}

TEST(Type4ToType14, MissingSourcesAndSkippedRecords) {
  NistFile noOri;
  test::TxBuilder b;
  b.type1({{5, "20240413"}, {12, "19.69"}}).binary(4, 0, "\xFF\xA0xx", 2, 1);
  test::loadBytes(noOri, b.bytes());
  ASSERT_EQ(noOri.setFieldAt(4, 8, "1", 0), 0);
  EXPECT_EQ(convertType4ToType14(noOri), kT4NoOri);
  EXPECT_EQ(noOri.countRecords(4), 1);

  NistFile noNtr;
  test::loadType4(noNtr, "\xFF\xA0xx", 2, 1, 1, "");
  EXPECT_EQ(convertType4ToType14(noNtr), kT4NoResolution);

  NistFile lowRes;
  test::loadType4(lowRes, "\xFF\xA0xx", 2, 1, 1, "19.49");
  EXPECT_EQ(convertType4ToType14(lowRes), kOk);
  EXPECT_EQ(lowRes.countRecords(4), 1);

  NistFile jpeg;
  test::loadType4(jpeg, "xx", 2, 1, 2);  // GCA 2: not converted
  EXPECT_EQ(convertType4ToType14(jpeg), kOk);
  EXPECT_EQ(jpeg.countRecords(4), 1);

  NistFile latent;
  test::loadType4(latent, "\x01\x02", 2, 1, 0);
  ASSERT_EQ(latent.setFieldAt(4, 3, "5", 0), 0);
  ASSERT_EQ(convertType4ToType14(latent), kOk);
  EXPECT_EQ(latent.countRecords(13), 1);
  EXPECT_EQ(fieldText(latent, 13, 11), "NONE");

  NistFile badImp;
  test::loadType4(badImp, "\x01\x02", 2, 1, 0);
  ASSERT_EQ(badImp.setFieldAt(4, 3, "8", 0), 0);
  EXPECT_EQ(convertType4ToType14(badImp), kT4BadImpression);
}

TEST(Type14ToType4, ResolutionDecidesIsr) {
  std::string wsq(52, 'q');
  wsq[0] = '\xFF';
  wsq[1] = '\xA0';
  test::Type14 a;
  a.compression = "WSQ20";
  a.units = "1";
  a.scale = "500";  // 19.69 pixels per millimetre
  a.data = wsq;
  test::Type14 b = a;
  b.idc = 1;
  b.units = "2";
  b.scale = "197";  // exactly 19.7
  test::Type14 c = a;
  c.idc = 2;
  c.scale = "1000";  // out of range: stays
  test::Type14 d = a;
  d.idc = 3;
  d.bpx = "1";
  d.compression = "NONE";
  NistFile f;
  test::loadTagged(f, {a, b, c, d});
  ASSERT_EQ(convertType14ToType4(f), kOk);
  EXPECT_EQ(f.countRecords(4), 2);
  EXPECT_EQ(f.countRecords(6), 1);
  EXPECT_EQ(f.countRecords(14), 1);
  EXPECT_EQ(f.recordTypeAt(1), 4);
  EXPECT_EQ(f.recordTypeAt(3), 14);
  EXPECT_EQ(f.recordTypeAt(4), 6);
  EXPECT_EQ(fieldText(f, 4, 5, 0), "1");
  EXPECT_EQ(fieldText(f, 4, 5, 1), "0");
  EXPECT_EQ(fieldText(f, 4, 8, 0), "1");
  EXPECT_EQ(fieldText(f, 6, 8, 0), "0");
  EXPECT_EQ(fieldText(f, 4, 2, 1), "01");
  EXPECT_EQ(fieldText(f, 4, 1, 0), std::to_string(wsq.size() + 18));
  std::string fgp;
  ASSERT_EQ(f.getFieldFullText(4, 4, 0, fgp), 0);
  EXPECT_EQ(fgp,
            "2\x1F"
            "255\x1F"
            "255\x1F"
            "255\x1F"
            "255\x1F"
            "255");
  EXPECT_EQ(imageBytes(f, 4, 0), wsq);
  expectWritesAndReadsBack(f);
}

TEST(Type14ToType4, MissingFieldsStopTheWalk) {
  test::Type14 a;
  a.units = std::string(1, '3');
  NistFile f;
  test::loadTagged(f, {a});
  EXPECT_EQ(convertType14ToType4(f), kT14BadUnitsOrNoDepth);
  EXPECT_EQ(f.countRecords(14), 1);
  ASSERT_EQ(f.setFieldAt(14, 8, "0", 0), 0);
  EXPECT_EQ(convertType14ToType4(f), kOk);  // SLC 0: left alone
  EXPECT_EQ(f.countRecords(14), 1);
}

TEST(Type14ToType4, ValuesBeyondTheBinaryFieldsKeepTheRecord) {
  test::Type14 wide;
  wide.width = "70000";
  test::Type14 fine = wide;
  fine.idc = 1;
  fine.width = "8";
  NistFile f;
  test::loadTagged(f, {wide, fine});
  std::vector<UnfitValue> unfit;
  ASSERT_EQ(convertType14ToType4(f, &unfit), kOk);
  EXPECT_EQ(f.recordTypeAt(1), 14);
  EXPECT_EQ(f.recordTypeAt(2), 4);
  ASSERT_EQ(unfit.size(), 1u);
  EXPECT_EQ(unfit[0].type, 14);
  EXPECT_EQ(unfit[0].occurrence, 0);
  EXPECT_EQ(unfit[0].field, 6);
  EXPECT_EQ(unfit[0].text, "70000");
  EXPECT_EQ(unfit[0].width, 2);
  expectWritesAndReadsBack(f);
}

TEST(AddImageRecord, WsqPngAndBmpBecomeType7) {
  NistFile f;
  test::loadTagged(f, {});
  std::vector<std::uint8_t> wsq;
  ASSERT_EQ(wsq::wsqEncode(2.25f, testPicture(64, 40, 1), 64, 40, wsq), 0);
  ASSERT_EQ(addImageRecord(f, wsq, 21, 10), kOk);
  EXPECT_EQ(fieldText(f, 7, 2), "00");
  EXPECT_EQ(fieldText(f, 7, 3), "10");
  EXPECT_EQ(fieldText(f, 7, 4), "21");
  EXPECT_EQ(fieldText(f, 7, 6), "64");
  EXPECT_EQ(fieldText(f, 7, 7), "40");
  EXPECT_EQ(fieldText(f, 7, 8), "1");
  EXPECT_EQ(imageBytes(f, 7, 0), std::string(wsq.begin(), wsq.end()));

  RawImage grey;
  grey.width = 3;
  grey.height = 2;
  grey.depth = 8;
  grey.pixels = testPicture(3, 2, 1);
  std::vector<std::uint8_t> png;
  ASSERT_EQ(pngEncode(grey, png), kOk);
  ASSERT_EQ(addImageRecord(f, png, 1, 0), kOk);
  EXPECT_EQ(fieldText(f, 7, 8, 1), "6");
  EXPECT_EQ(fieldText(f, 7, 2, 1), "01");

  RawImage colour = grey;
  colour.depth = 24;
  colour.pixels = testPicture(3, 2, 3);
  ASSERT_EQ(pngEncode(colour, png), kOk);
  EXPECT_EQ(addImageRecord(f, png, 1, 0), kBadDepth);
  const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0};
  EXPECT_EQ(addImageRecord(f, jpeg, 1, 0), kBadFormat);
  EXPECT_EQ(f.countRecords(7), 2);
  expectWritesAndReadsBack(f);
}

}  // namespace
}  // namespace varnel::imaging
