// Record-level and image rule actions, run through the rule engine.
// g++ 12 at -O3 reports -Wrestrict falsely for short std::string assignments (GCC bug 105329).
#pragma GCC diagnostic ignored "-Wrestrict"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "imaging/detail/codecs.h"
#include "imaging/image_layer.h"
#include "imaging/wsq/wsq.h"
#include "rules/detail/record_actions.h"
#include "rules/engine.h"
#include "tests/common/tx_builder.h"
#include "tests/imaging/support.h"
#include "transaction/sha256.h"

namespace varnel::rules {
namespace {

using test::asString;
using test::fieldText;
using test::imageBytes;
using test::testPicture;
using test::Type14;

ConversionRule rule(std::string action, std::string p1 = {}, std::string p2 = {},
                    std::string p3 = {}) {
  ConversionRule r;
  r.action = std::move(action);
  r.parameters = {std::move(p1), std::move(p2), std::move(p3), {}, {}};
  return r;
}

std::string hexOf(std::string_view bytes) {
  std::string hex;
  EXPECT_TRUE(transaction::sha256Hex(bytes, hex));
  return hex;
}

std::string wsqBytes(int w, int h) {
  std::vector<std::uint8_t> s;
  EXPECT_EQ(wsq::wsqEncode(2.25f, testPicture(w, h, 1), w, h, s), 0);
  return std::string(s.begin(), s.end());
}

class Actions : public ::testing::Test {
 protected:
  void apply(const ConversionRule& r) {
    ActionContext ctx(file, state, run, outcome);
    applyRule(r, ctx);
  }
  std::string full(int t, int f, int i = 0) {
    std::string out;
    if (file.getFieldFullText(t, f, i, out) != 0) return "<missing>";
    return out;
  }
  // Records of the given types, each a small raw image; IDCs in order.
  void loadTypes(std::initializer_list<int> types) {
    std::vector<Type14> recs;
    int idc = 0;
    for (int t : types) {
      Type14 r;
      r.type = t;
      r.idc = idc++;
      r.width = "64";
      r.height = "64";
      r.data = asString(testPicture(64, 64, 1, static_cast<unsigned>(idc)));
      recs.push_back(r);
    }
    test::loadTagged(file, recs);
  }

  transaction::NistFile file;
  FileState state;
  RunInputs run;
  FileOutcome outcome;
};

TEST(Sha256, Fips180TestVectors) {
  EXPECT_EQ(hexOf("abc"), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
  EXPECT_EQ(hexOf(""), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
  EXPECT_EQ(hexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1");
  EXPECT_EQ(hexOf(std::string(1000000, 'a')),
            "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0");
}

TEST_F(Actions, AddHashMatchesSha256sumAndIsStable) {
  loadTypes({14, 10});
  test::TxBuilder b;
  apply(rule("Add Hash"));
  const std::string hash = fieldText(file, 14, 996);
  ASSERT_EQ(hash.size(), 64u);
  EXPECT_EQ(hash.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(hash, hexOf(imageBytes(file, 14, 0)));
  EXPECT_EQ(fieldText(file, 10, 996), hexOf(imageBytes(file, 10, 0)));
  apply(rule("Add Hash"));
  EXPECT_EQ(fieldText(file, 14, 996), hash);
  EXPECT_EQ(file.getSubfieldCount(14, 996, 0), 1);
  ASSERT_TRUE(test::haveTool("sha256sum"));
  const std::string path = test::tempPath(".bin");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const std::string bytes = imageBytes(file, 14, 0);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
  }
  int status = 0;
  std::string out = test::runCommand("sha256sum " + path, status);
  std::remove(path.c_str());
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(out.substr(0, 64), hash);
}

TEST_F(Actions, AddHashSkipsBinaryRecordsAndHonoursConditions) {
  test::loadType4(file, std::string(16, 'x'), 4, 4, 0);
  apply(rule("Add Hash"));
  EXPECT_EQ(file.getFieldByteCount(4, 996, 0), -300);
  loadTypes({14, 14});
  ASSERT_EQ(file.setFieldAt(14, 3, "9", 1), 0);
  ConversionRule r = rule("Add Hash");
  r.conditions.push_back(RuleCondition{kEquals, "%IMP%", "9"});
  apply(r);
  EXPECT_EQ(fieldText(file, 14, 996, 0), "");
  EXPECT_EQ(fieldText(file, 14, 996, 1).size(), 64u);
}

TEST_F(Actions, DeleteRecordsKeepsTypesOneAndTwo) {
  test::TxBuilder b;
  b.type1().tagged(2, {{2, "00"}, {18, "DOE"}});
  test::loadBytes(file, b.bytes());
  apply(rule("Delete Records of Type", "2"));
  EXPECT_EQ(file.countRecords(2), 1);

  loadTypes({14, 10, 14, 13});
  ASSERT_EQ(file.setFieldAt(14, 3, "9", 0), 0);
  ConversionRule del = rule("Delete Records of Type", "14");
  del.conditions.push_back(RuleCondition{kEquals, "%IMP%", "9"});
  apply(del);
  EXPECT_EQ(file.countRecords(14), 1);
  EXPECT_EQ(fieldText(file, 14, 2), "01");  // IDCs above the removed one move down
  apply(rule("Delete All Records"));
  EXPECT_EQ(file.transaction()->records.size(), 1u);
  EXPECT_EQ(full(1, 3),
            "1\x1F"
            "0");
}

TEST_F(Actions, ConvertType4WarnsAboutMissingOriOrDate) {
  test::TxBuilder b;
  b.type1({{5, "20240413"}, {12, "19.69"}}).binary(4, 0, "\xFF\xA0xx", 2, 1);
  test::loadBytes(file, b.bytes());
  ASSERT_EQ(file.setFieldAt(4, 8, "1", 0), 0);
  apply(rule("Convert Type 4 to Type 14"));
  ASSERT_EQ(outcome.rows.size(), 1u);
  EXPECT_EQ(outcome.rows[0].text,
            "Type 4 records could not be converted, a mandatory field 1.008 (ORI) is missing");
  EXPECT_EQ(outcome.rows[0].kind, RowKind::kWarning);
  EXPECT_EQ(outcome.rows[0].counter, RowCounter::kWarnings);
  EXPECT_EQ(file.countRecords(4), 1);

  ASSERT_EQ(file.setField(1, 8, "ORI"), 0);
  ASSERT_EQ(file.deleteField(1, 5), 0);
  apply(rule("Convert Type 4 to Type 14"));
  ASSERT_EQ(outcome.rows.size(), 2u);
  EXPECT_EQ(outcome.rows[1].text,
            "Type 4 records could not be converted, a mandatory field 1.005 (DAT) is missing");

  ASSERT_EQ(file.setField(1, 5, "20240101"), 0);
  apply(rule("Convert Type 4 to Type 14"));
  EXPECT_EQ(outcome.rows.size(), 2u);
  EXPECT_EQ(file.countRecords(14), 1);
  apply(rule("Convert Type 14 to Type 4"));
  EXPECT_EQ(file.countRecords(4), 1);
  EXPECT_EQ(fieldText(file, 4, 5), "0");  // 197 per centimetre is exactly 19.7
}

TEST_F(Actions, ConvertToCjisKeepsOnlyFingerPalmsAsType7) {
  const std::string wsq = wsqBytes(48, 40);
  std::vector<Type14> recs(3);
  for (int i = 0; i < 3; ++i) {
    recs[i].type = 15;
    recs[i].idc = i;
    recs[i].data = wsq;
  }
  std::vector<std::uint8_t> jp2;
  ASSERT_EQ(imaging::jp2LosslessEncode(testPicture(8, 8, 1), 8, 8, 8, jp2), 0);
  recs[1].data = std::string(jp2.begin(), jp2.end());
  test::TxBuilder b;
  b.type1({{9, "AB-12-C"}, {13, "DOMAIN"}}).tagged(2, {{2, "00"}, {18, "DOE"}});
  for (const Type14& r : recs) {
    char idc[16];
    std::snprintf(idc, sizeof idc, "%02d", r.idc + 1);
    b.tagged(15, {{2, idc}, {6, "48"}, {7, "40"}, {11, "WSQ20"}, {13, "25"}, {999, r.data}});
  }
  test::loadBytes(file, b.bytes());
  ASSERT_EQ(file.setFieldAt(15, 13, "20", 2), 0);
  apply(rule("Convert To CJIS"));
  EXPECT_EQ(fieldText(file, 1, 4), "CNA");
  EXPECT_EQ(fieldText(file, 1, 7), "IDENT1");
  EXPECT_EQ(fieldText(file, 1, 9), "AB12C");
  EXPECT_EQ(full(1, 13), "<missing>");
  EXPECT_EQ(full(2, 73), "UKDEFENCE\x1E \x1E ");
  EXPECT_EQ(file.countRecords(15), 0);
  ASSERT_EQ(file.countRecords(7), 1);
  EXPECT_EQ(file.recordTypeAt(static_cast<int>(file.transaction()->records.size()) - 1), 7);
  EXPECT_EQ(fieldText(file, 7, 3), "10");
  EXPECT_EQ(fieldText(file, 7, 4), "21");
  EXPECT_EQ(imageBytes(file, 7, 0), wsq);
}

TEST_F(Actions, SetCjisMnuCutsIntoPiecesOfTwelve) {
  test::TxBuilder b;
  b.type1().tagged(2, {{2, "00"}, {18, "DOE,JOHN"}});
  test::loadBytes(file, b.bytes());
  apply(rule("Set CJIS MNU", "ABCDEFGHIJKLM"));
  EXPECT_EQ(full(2, 17), "I1~ABCDEFGHIJKL\x1EI1~M");
  apply(rule("Set CJIS MNU", "X-%2.18%-%9.9%-%bad%"));
  EXPECT_EQ(full(2, 17), "I1~X-DOE,JOHN--");
  apply(rule("Set CJIS MNU", "AB%2.18"));
  EXPECT_EQ(full(2, 17), "I1~AB");
  apply(rule("Set CJIS MNU", std::string(37, 'z')));
  EXPECT_EQ(full(2, 17), "I1~AB");  // too long: unchanged
  std::string value;
  EXPECT_TRUE(cjisMnuValue(file, std::string(36, 'q'), value));
  EXPECT_EQ(value.size(), 3 * 15u + 2);
  EXPECT_FALSE(cjisMnuValue(file, std::string(5000, '%') + "x", value) && value.size() > 47);
}

TEST_F(Actions, AutoFixSetsDimensionsFromTheImage) {
  std::vector<Type14> recs(2);
  recs[0].data = wsqBytes(812, 40);
  recs[0].width = "800";
  recs[0].height = "40";
  recs[0].compression = "WSQ20";
  recs[1].idc = 1;
  recs[1].width = "3";
  recs[1].height = "3";
  recs[1].data = "unreadable";
  test::loadTagged(file, recs);
  apply(rule("Auto Fix", "Something Else"));
  EXPECT_EQ(fieldText(file, 14, 6), "800");
  apply(rule("Auto Fix", "Conflicting Image Dimensions"));
  EXPECT_EQ(fieldText(file, 14, 6), "812");
  EXPECT_EQ(fieldText(file, 14, 7), "40");
  EXPECT_EQ(fieldText(file, 14, 6, 1), "3");
}

TEST_F(Actions, ConvertImageFormatOnlyTouchesTheSourceFormat) {
  std::vector<Type14> recs(3);
  for (int i = 0; i < 3; ++i) {
    recs[i].idc = i;
    recs[i].width = "16";
    recs[i].height = "16";
    recs[i].data = asString(testPicture(16, 16, 1, static_cast<unsigned>(i)));
  }
  recs[1].compression = "WSQ20";
  recs[1].width = "64";
  recs[1].height = "64";
  recs[1].data = wsqBytes(64, 64);
  recs[2].bpx = "9";
  test::loadTagged(file, recs);
  ConversionRule r = rule("Convert Image Format", "14", "NONE", "PNG");
  r.conditions.push_back(RuleCondition{kEquals, "%14.012%", "8"});
  apply(r);
  EXPECT_EQ(fieldText(file, 14, 11, 0), "PNG");
  EXPECT_EQ(fieldText(file, 14, 11, 1), "WSQ20");
  EXPECT_EQ(fieldText(file, 14, 11, 2), "NONE");
  apply(rule("Convert Image Format", "14", "PNG", "JP2 Lossless"));
  EXPECT_EQ(fieldText(file, 14, 11, 0), "JP2L");
  imaging::RawImage img;
  ASSERT_EQ(imaging::decodeRecordImage(file, 14, 0, false, img), 0);
  EXPECT_EQ(img.pixels, testPicture(16, 16, 1, 0));
}

TEST_F(Actions, CompressRecordsByBitrateAndType) {
  loadTypes({14, 13, 15, 19, 10});
  apply(rule("Compress Records To WSQ", "abc"));
  EXPECT_EQ(fieldText(file, 14, 11), "NONE");
  apply(rule("Compress Records To WSQ", "0.75"));
  EXPECT_EQ(fieldText(file, 14, 11), "WSQ20");
  apply(rule("Compress Records To JP2L"));
  EXPECT_EQ(fieldText(file, 14, 11), "WSQ20");
  for (int t : {13, 15, 19}) EXPECT_EQ(fieldText(file, t, 11), "JP2L") << t;
  EXPECT_EQ(fieldText(file, 10, 11), "NONE");
}

}  // namespace
}  // namespace varnel::rules
