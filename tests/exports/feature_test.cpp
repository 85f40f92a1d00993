#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "rules/feature_actions.h"
#include "tests/exports/support.h"
#include "transaction/tree.h"

namespace varnel::test {
namespace {

using rules::FeatureGeometry;
using rules::FeatureSet;
using transaction::NistFile;

const std::string kUs(1, '\x1F');
const std::string kRs(1, '\x1E');

std::string us(std::initializer_list<std::string> items) {
  std::string out;
  for (const auto& s : items) {
    if (!out.empty()) out += kUs;
    out += s;
  }
  return out;
}

std::string rs(const std::vector<std::string>& subs) {
  std::string out;
  for (const auto& s : subs) {
    if (!out.empty()) out += kRs;
    out += s;
  }
  return out;
}

std::string field(const NistFile& f, int fieldNo, int occ = 0) {
  std::string out;
  if (f.getFieldFullText(9, fieldNo, occ, out) < 0) return "<absent>";
  return out;
}

bool present(const NistFile& f, int fieldNo, int occ = 0) {
  return f.getSubfieldCount(9, fieldNo, occ) >= 0;
}

// Converted minutiae of 9.137 as (x, y, theta, kind).
struct Converted {
  int x, y, theta, kind;
};
std::vector<Converted> minutiae(const NistFile& f, int occ = 0) {
  std::vector<Converted> out;
  const int n = f.getSubfieldCount(9, 137, occ);
  for (int s = 0; s < n; ++s) {
    auto item = [&](int i) {
      std::string_view v;
      EXPECT_EQ(f.getItemText(9, 137, occ, s, i, v), 0);
      return std::stoi(std::string(v));
    };
    out.push_back({item(1), item(2), item(3), item(4)});
  }
  return out;
}

// A Type-14 image (IDC 1) of width x height at `ppi` and a Type-9 record (IDC 1) with the
// given fields.
void loadType9(NistFile& f, const TxBuilder::Fields& t9, int width = 400, int height = 500,
               int ppi = 500, const std::string& pixels = {}) {
  TxBuilder b;
  b.type1({{5, "20240413"}, {8, "ORI"}, {11, "19.69"}});
  TxBuilder::Fields nine = {{2, "01"}, {3, "0"}, {4, "S"}};
  nine.insert(nine.end(), t9.begin(), t9.end());
  b.tagged(9, nine);
  const std::string data =
      pixels.empty() ? std::string(static_cast<std::size_t>(width) * height, '\xFF') : pixels;
  b.tagged(14, imageFields(1, 1, width, height, "NONE", data, 7, ppi));
  loadBytes(f, b.bytes());
}

std::vector<std::string> convert(NistFile& f, const std::string& from) {
  std::vector<std::string> warnings;
  EXPECT_EQ(rules::convertFeatureSet(f, from, warnings), 0);
  return warnings;
}

// ---- image search and geometry ----

TEST(FeatureGeometry, IdcComparedAsNumberAndLaterTypeWins) {
  TxBuilder b;
  b.type1({{11, "19.69"}});
  b.tagged(9, {{2, "1"}, {4, "S"}});
  b.raw(4, type4Record(1, 3, 1, 300, 200, 0, std::string(300 * 200, '\xFF')));
  b.tagged(14, imageFields(1, 1, 640, 480, "NONE", std::string(640 * 480, '\xFF'), 9));
  NistFile f;
  loadBytes(f, b.bytes());
  FeatureGeometry g;
  ASSERT_EQ(rules::findFeatureGeometry(f, 0, g), 1);
  EXPECT_EQ(g.imageType, 14);
  EXPECT_EQ(g.width, 640);
  EXPECT_EQ(g.height, 480);
  EXPECT_EQ(g.fingerPosition, 9);
}

TEST(FeatureGeometry, Type4ImageTakesResolutionFromType1AndFingerFromField4) {
  for (const auto& [nsr, ppi] : std::vector<std::pair<std::string, int>>{
           {"19.69", 500}, {"", 500}, {"39.37", 1000}, {"0", 500}, {"abc", 500}}) {
    TxBuilder b;
    TxBuilder::Fields t1;
    if (!nsr.empty()) t1.push_back({11, nsr});
    b.type1(t1);
    b.tagged(9, {{2, "01"}, {4, "S"}});
    b.raw(4, type4Record(1, 6, 1, 30, 20, 0, std::string(600, '\xFF')));
    NistFile f;
    loadBytes(f, b.bytes());
    FeatureGeometry g;
    ASSERT_EQ(rules::findFeatureGeometry(f, 0, g), 1) << nsr;
    EXPECT_EQ(g.imageType, 4);
    EXPECT_EQ(g.ppi, ppi) << "1.011 = '" << nsr << "'";
    EXPECT_EQ(g.fingerPosition, 6);
  }
}

TEST(FeatureGeometry, BinaryFingerRecordsGiveTheirFingerPosition) {
  TxBuilder b;
  b.type1({{11, "19.69"}});
  b.tagged(9, {{2, "01"}, {4, "S"}});
  b.raw(6, type4Record(1, 8, 1, 30, 20, 0, std::string(600, '\xFF')));
  NistFile f;
  loadBytes(f, b.bytes());
  FeatureGeometry g;
  ASSERT_EQ(rules::findFeatureGeometry(f, 0, g), 1);
  EXPECT_EQ(g.imageType, 6);
  EXPECT_EQ(g.fingerPosition, 8);
  EXPECT_EQ(g.ppi, 500);
}

TEST(FeatureGeometry, TaggedResolutionByScaleUnits) {
  struct Case {
    std::string units, scale;
    int ppi;
  };
  for (const Case& c : std::vector<Case>{{"2", "197", 500},
                                         {"2", "196", 497},
                                         {"1", "1000", 1000},
                                         {"", "1000", 500},
                                         {"1", "x", 500},
                                         {"1", "0", 500}}) {
    TxBuilder b;
    b.type1();
    b.tagged(9, {{2, "01"}, {4, "S"}});
    TxBuilder::Fields img = {{2, "01"}, {6, "10"}, {7, "20"}};
    if (!c.units.empty()) img.push_back({8, c.units});
    img.push_back({9, c.scale});
    b.tagged(13, img);
    NistFile f;
    loadBytes(f, b.bytes());
    FeatureGeometry g;
    ASSERT_EQ(rules::findFeatureGeometry(f, 0, g), 1);
    EXPECT_EQ(g.ppi, c.ppi) << "units " << c.units << " scale " << c.scale;
  }
  FeatureGeometry g;
  NistFile f;
  loadType9(f, {});
  ASSERT_EQ(rules::findFeatureGeometry(f, 0, g), 1);
  EXPECT_FLOAT_EQ(g.pitch, 5.0787201f);
  EXPECT_EQ(g.heightHmm, 2539);  // nearest(500 x 5.0787201)
}

// ---- parsing of the source blocks ----

TEST(FeatureParse, LegacyLocationsOfElevenAndThirteenCharacters) {
  NistFile f;
  loadType9(f,
            {{10, "2"},
             {12, rs({us({"1", "01230456090", "0", "A"}), us({"2", "0012300456090", "0", "B"})})}});
  FeatureSet fs;
  ASSERT_EQ(rules::parseFeatureBlock(f, 0, "Legacy", 2539, fs), 0);
  ASSERT_EQ(fs.minutiae.size(), 2u);
  for (const auto& m : fs.minutiae) {
    EXPECT_EQ(m.x, 123);
    EXPECT_EQ(m.y, 456);  // no flip in the legacy block
    EXPECT_EQ(m.theta, 270);
  }
  EXPECT_EQ(fs.minutiae[0].kind, 1);
  EXPECT_EQ(fs.minutiae[1].kind, 2);

  // The turned angle stays within one turn.
  NistFile g;
  loadType9(g, {{10, "1"}, {12, us({"1", "01230456300", "0", "A"})}});
  ASSERT_EQ(rules::parseFeatureBlock(g, 0, "Legacy", 2539, fs), 0);
  ASSERT_EQ(fs.minutiae.size(), 1u);
  EXPECT_EQ(fs.minutiae[0].theta, 120);
}

TEST(FeatureParse, MinutiaKindsByLetter) {
  NistFile f;
  loadType9(f, {{15, "5"},
                {23, rs({us({"1", "01000200090", "0", "A"}), us({"2", "01000200090", "0", "B"}),
                         us({"3", "01000200090", "0", "C"}), us({"4", "01000200090", "0", "a"}),
                         us({"5", "01000200090"})})},
                {331, rs({us({"10", "20", "30", "E"}), us({"10", "20", "30", "B"}),
                          us({"10", "20", "30", "X"}), us({"10", "20", "30", "A"})})}});
  FeatureSet fbi;
  ASSERT_EQ(rules::parseFeatureBlock(f, 0, "FBI IAFIS", 2539, fbi), 0);
  ASSERT_EQ(fbi.minutiae.size(), 5u);
  const int fbiKinds[] = {1, 2, 0, 0, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(fbi.minutiae[i].kind, fbiKinds[i]) << i;
  FeatureSet efs;
  ASSERT_EQ(rules::parseFeatureBlock(f, 0, "Extended", 2539, efs), 0);
  ASSERT_EQ(efs.minutiae.size(), 4u);
  const int efsKinds[] = {1, 2, 0, 0};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(efs.minutiae[i].kind, efsKinds[i]) << i;
}

TEST(FeatureParse, MalformedItemsAndDisagreeingCountsDoNotCrash) {
  NistFile f;
  loadType9(f, {{15, "50"},  // more than 9.023 holds
                {21, rs({us({"abc"}), us({"01000100", "45"})})},
                {22, rs({us({"02000200", "0", "", "90"}), us({})})},
                {23, rs({us({"1", "garbage", "0", "A"}), us({"2"}), us({"3", "0100", "0", "B"}),
                         us({"4", "-0100100045", "0", "A"})})}});
  FeatureSet fs;
  ASSERT_EQ(rules::parseFeatureBlock(f, 0, "FBI IAFIS", 2539, fs), 0);
  // Only the minutiae with readable x and y survive.
  ASSERT_EQ(fs.minutiae.size(), 1u);
  EXPECT_EQ(fs.minutiae[0].x, -10);
  ASSERT_EQ(fs.cores.size(), 1u);
  EXPECT_EQ(fs.cores[0].direction, 45);
  ASSERT_EQ(fs.deltas.size(), 1u);
  EXPECT_EQ(fs.deltas[0].angle1, -1);  // 0 means none
  EXPECT_EQ(fs.deltas[0].angle2, -1);  // empty
  EXPECT_EQ(fs.deltas[0].angle3, 90);

  std::vector<std::string> warnings;
  EXPECT_EQ(rules::convertFeatureSet(f, "FBI IAFIS", warnings), 0);
  EXPECT_EQ(field(f, 136), "1");
}

TEST(FeatureParse, CoresAndDeltasStopAtNine) {
  std::vector<std::string> cores;
  for (int i = 0; i < 12; ++i) cores.push_back(us({"01000100", "10"}));
  NistFile f;
  loadType9(f, {{15, "0"}, {21, rs(cores)}, {22, rs(cores)}});
  FeatureSet fs;
  ASSERT_EQ(rules::parseFeatureBlock(f, 0, "FBI IAFIS", 2539, fs), 0);
  EXPECT_EQ(fs.cores.size(), 9u);
  EXPECT_EQ(fs.deltas.size(), 9u);
}

// ---- conversion ----

TEST(FeatureConvert, WritesTheIncitsBlock) {
  NistFile f;
  loadType9(f, {{15, "1"},
                {21, us({"01000200", "90", "5"})},
                {22, us({"02000300", "60", "120", "200", "3"})},
                {23, us({"1", "01000200090", "50", "B"})}});
  const auto warnings = convert(f, "FBI IAFIS");
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(field(f, 4), "U");
  EXPECT_EQ(field(f, 126), us({"27", "513", "0000"}));
  EXPECT_EQ(field(f, 127), us({"APPF", "0"}));
  EXPECT_EQ(field(f, 128), "400");
  EXPECT_EQ(field(f, 129), "500");
  EXPECT_EQ(field(f, 130), "2");
  EXPECT_EQ(field(f, 131), "197");
  EXPECT_EQ(field(f, 132), "197");
  EXPECT_EQ(field(f, 133), "0");
  EXPECT_EQ(field(f, 134), "7");
  EXPECT_EQ(field(f, 135), "99");
  EXPECT_EQ(field(f, 136), "1");
  // x 100 -> 20 px; y 2539 - 200 = 2339 -> 500 - 461 = 39 px; theta 90 -> 45.
  EXPECT_EQ(field(f, 137), us({"001", "20", "39", "45", "2", "0"}));
  EXPECT_EQ(field(f, 139), us({"20", "39", "45"}));
  EXPECT_EQ(field(f, 140), us({"39", "59", "30"}));
  EXPECT_EQ(field(f, 141), us({"60", "100"}));
  for (int n = 13; n <= 30; ++n) EXPECT_FALSE(present(f, n)) << n;
}

TEST(FeatureConvert, UnconvertedFbiFieldsWarnAndAreDeleted) {
  NistFile f;
  loadType9(f, {{14, "x"}, {15, "0"}, {16, "y"}});
  const auto warnings = convert(f, "FBI IAFIS");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0], "Field 9.014 is not yet supported by feature set conversion");
  EXPECT_EQ(warnings[1], "Field 9.016 is not yet supported by feature set conversion");
  EXPECT_FALSE(present(f, 14));
  EXPECT_FALSE(present(f, 15));
  EXPECT_FALSE(present(f, 136));  // no minutiae, no count
  EXPECT_EQ(field(f, 128), "400");
}

TEST(FeatureConvert, MissingKeyFieldStillDeletesAndWritesFixedBlock) {
  NistFile f;
  loadType9(f, {{23, us({"1", "01000200090", "50", "B"})}, {5, "legacy"}, {6, "7"}});
  EXPECT_TRUE(convert(f, "FBI IAFIS").empty());  // 9.023 is read, so no warning
  EXPECT_FALSE(present(f, 23));
  EXPECT_FALSE(present(f, 137));
  EXPECT_EQ(field(f, 126), us({"27", "513", "0000"}));
  EXPECT_EQ(field(f, 5), "legacy");  // other blocks untouched

  NistFile g;
  loadType9(g, {{6, "7"}, {12, us({"1", "01000200090", "0", "A"})}});
  EXPECT_TRUE(convert(g, "Legacy").empty());  // legacy fields go without warnings
  EXPECT_FALSE(present(g, 6));
  EXPECT_FALSE(present(g, 12));
  EXPECT_FALSE(present(g, 137));  // 9.010 missing: nothing parsed
}

TEST(FeatureConvert, ExtendedWarnsForFieldsNotCarriedOver) {
  NistFile f;
  loadType9(f, {{300, us({"2000", "2500", "100", "50"})},
                {301, "x"},
                {307, "y"},
                {314, "z"},
                {331, us({"500", "600", "90", "E"})},
                {353, "w"}});
  const auto warnings = convert(f, "Extended");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0], "Field 9.314 is not yet supported by feature set conversion");
  EXPECT_EQ(warnings[1], "Field 9.353 is not yet supported by feature set conversion");
  for (int n = 300; n <= 399; ++n) EXPECT_FALSE(present(f, n)) << n;
  // x 500 + 100 = 600 -> 118 px; y 2539 - 600 - 50 = 1889 -> 500 - 372 = 128 px.
  EXPECT_EQ(field(f, 137), us({"001", "118", "128", "45", "1", "0"}));
}

TEST(FeatureConvert, MissingImageLeavesRecordUnchanged) {
  TxBuilder b;
  b.type1();
  b.tagged(9, {{2, "05"}, {4, "S"}, {15, "1"}, {23, us({"1", "01000200090"})}});
  b.tagged(14, imageFields(1, 1, 10, 10, "NONE", std::string(100, '\xFF'), 1));
  NistFile f;
  loadBytes(f, b.bytes());
  const auto before = f.transaction()->records;
  EXPECT_TRUE(convert(f, "FBI IAFIS").empty());
  ASSERT_EQ(f.transaction()->records.size(), before.size());
  EXPECT_EQ(f.transaction()->records[1].byteTotal, before[1].byteTotal);
  EXPECT_EQ(field(f, 15), "1");
  EXPECT_FALSE(present(f, 126));
}

TEST(FeatureConvert, UnknownSourceChangesNothing) {
  NistFile f;
  loadType9(f, {{15, "0"}});
  std::vector<std::string> warnings;
  EXPECT_EQ(rules::convertFeatureSet(f, "fbi iafis", warnings), rules::kFeatureFormatUnknown);
  EXPECT_EQ(field(f, 15), "0");
  EXPECT_FALSE(present(f, 126));
  EXPECT_EQ(field(f, 4), "S");
}

TEST(FeatureConvert, ExistingIncitsBlockReplacedFieldByField) {
  NistFile f;
  loadType9(
      f, {{126, "old"},
          {128, "1"},
          {136, "2"},
          {137, rs({us({"001", "1", "1", "1", "1", "0"}), us({"002", "2", "2", "2", "1", "0"})})},
          {138, "kept"},
          {15, "1"},
          {23, us({"1", "01000200090", "50", "B"})}});
  (void)convert(f, "FBI IAFIS");
  EXPECT_EQ(field(f, 126), us({"27", "513", "0000"}));
  EXPECT_EQ(field(f, 128), "400");
  EXPECT_EQ(field(f, 136), "1");
  EXPECT_EQ(field(f, 137), us({"001", "20", "39", "45", "2", "0"}));
  EXPECT_EQ(field(f, 138), "kept");

  // A record without the source block keeps the minutiae of its INCITS block.
  NistFile g;
  loadType9(g, {{136, "1"}, {137, us({"001", "1", "1", "1", "1", "0"})}});
  (void)convert(g, "Legacy");
  EXPECT_EQ(field(g, 136), "1");
  EXPECT_EQ(field(g, 137), us({"001", "1", "1", "1", "1", "0"}));
  EXPECT_EQ(field(g, 128), "400");
}

TEST(FeatureConvert, MinutiaAtTopEdgeLandsNearRowZero) {
  NistFile f;
  // FBI IAFIS y counts from the top edge; the extended block likewise.
  loadType9(f, {{15, "1"}, {23, us({"1", "01000002000"})}, {331, us({"1000", "3", "0"})}});
  (void)convert(f, "FBI IAFIS");
  ASSERT_EQ(minutiae(f).size(), 1u);
  EXPECT_LE(minutiae(f)[0].y, 1);
  NistFile g;
  loadType9(g, {{331, us({"1000", "3", "0"})}});
  (void)convert(g, "Extended");
  ASSERT_EQ(minutiae(g).size(), 1u);
  EXPECT_LE(minutiae(g)[0].y, 1);
}

TEST(FeatureConvert, CoordinatesOutsideTheImageAreWrittenAsComputed) {
  NistFile f;
  loadType9(f, {{15, "2"}, {23, rs({us({"1", "99999999090"}), us({"2", "-999-999090"})})}});
  (void)convert(f, "FBI IAFIS");
  const auto m = minutiae(f);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_GT(m[0].x, 400);
  EXPECT_LT(m[1].x, 0);
}

TEST(FeatureConvert, FieldTextStopsAtTheLimitAndCountMatches) {
  std::vector<std::string> subs;
  for (int i = 0; i < 6000; ++i) subs.push_back(us({"500", "600", "90", "E"}));
  NistFile f;
  loadType9(f, {{331, rs(subs)}});
  (void)convert(f, "Extended");
  const std::string text = field(f, 137);
  EXPECT_LE(text.size(), rules::kMaxFeatureFieldText);
  EXPECT_GT(text.size(), rules::kMaxFeatureFieldText - 40);
  const int written = f.getSubfieldCount(9, 137, 0);
  EXPECT_LT(written, 6000);
  EXPECT_EQ(field(f, 136), std::to_string(written));
}

TEST(FeatureConvert, ConvertedMinutiaeLandOnTheirRidgeFeatures) {
  // Marks at known pixels stand in for minutiae; each format writes them in its own frame and
  // unit, and the converted pixel coordinates must fall on the marks.
  const std::vector<Point> marks = {{40, 60}, {200, 250}, {350, 30}, {123, 477}, {5, 5}};
  for (int ppi : {500, 1000}) {
    const int w = 400, h = 500;
    const std::string pixels = picture(w, h, marks, 5);
    const double pitch = 500.0 / (ppi * 19.69) * 100.0;
    const int heightHmm = static_cast<int>(std::lround(h * static_cast<float>(pitch)));
    std::vector<std::string> fbi, efs, legacy;
    for (const Point& p : marks) {
      char buf[32];
      const int x = static_cast<int>(std::lround(p.x * pitch));
      const int yTop = static_cast<int>(std::lround(p.y * pitch));
      std::snprintf(buf, sizeof buf, "%04d%04d%03d", x, yTop, 90);
      fbi.push_back(us({"1", buf, "0", "A"}));
      efs.push_back(us({std::to_string(x), std::to_string(yTop), "90", "E"}));
      std::snprintf(buf, sizeof buf, "%04d%04d%03d", x, heightHmm - yTop, 90);
      legacy.push_back(us({"1", buf, "0", "A"}));
    }
    struct Source {
      std::string from;
      TxBuilder::Fields fields;
    };
    for (const Source& s :
         {Source{"FBI IAFIS", {{15, std::to_string(marks.size())}, {23, rs(fbi)}}},
          Source{"Extended", {{331, rs(efs)}}},
          Source{"Legacy", {{10, std::to_string(marks.size())}, {12, rs(legacy)}}}}) {
      NistFile f;
      loadType9(f, s.fields, w, h, ppi, pixels);
      (void)convert(f, s.from);
      const auto got = minutiae(f);
      ASSERT_EQ(got.size(), marks.size()) << s.from;
      for (std::size_t i = 0; i < marks.size(); ++i) {
        const Converted& c = got[i];
        ASSERT_TRUE(c.x >= 0 && c.x < w && c.y >= 0 && c.y < h) << s.from << " " << i;
        EXPECT_EQ(pixels[static_cast<std::size_t>(c.y) * w + c.x], '\0')
            << s.from << " at " << ppi << " ppi: minutia " << i << " at " << c.x << "," << c.y
            << " expected near " << marks[i].x << "," << marks[i].y;
      }
    }
  }
}

TEST(FeatureConvert, ActionReportsWarningsWithoutFileName) {
  NistFile f;
  loadType9(f, {{14, "x"}, {15, "0"}});
  RuleRunner r;
  r.apply(f, "Convert Feature Set", {"FBI IAFIS", "INCITS 378", "Warn"});
  ASSERT_EQ(r.outcome.rows.size(), 1u);
  EXPECT_FALSE(r.outcome.rows[0].withFileName);
  EXPECT_EQ(r.outcome.rows[0].kind, rules::RowKind::kWarning);
  EXPECT_EQ(r.outcome.rows[0].counter, rules::RowCounter::kWarnings);
  EXPECT_EQ(field(f, 130), "2");
}

// ---- Delete Feature Set ----

TEST(DeleteFeatureSet, NamesSelectTheirBlocksOnly) {
  struct Case {
    std::string name;
    int inBlock;
  };
  for (const Case& c : std::vector<Case>{{"FBI IAFIS", 20},
                                         {"Extended", 331},
                                         {"Legacy", 12},
                                         {"Cogent", 40},
                                         {"NEC", 110},
                                         {"Morpho", 80},
                                         {"Motorola", 60},
                                         {"Identix", 160}}) {
    NistFile f;
    loadType9(f, {{c.inBlock, "x"}, {130, "2"}});
    RuleRunner r;
    r.apply(f, "Delete Feature Set", {c.name});
    EXPECT_FALSE(present(f, c.inBlock)) << c.name;
    EXPECT_TRUE(present(f, 130)) << c.name;
  }
  for (const std::string name : {"INCITS 378", "fbi iafis", ""}) {
    NistFile f;
    loadType9(f, {{20, "x"}, {130, "2"}});
    EXPECT_EQ(rules::deleteFeatureSet(f, name), 0);
    EXPECT_TRUE(present(f, 20)) << name;
    EXPECT_TRUE(present(f, 130)) << name;
  }
}

// ---- real files ----

TEST(FeatureCorpus, ConvertsTheType9RecordsOfRealFiles) {
  const std::filesystem::path corpus = VARNEL_CORPUS;
  std::vector<std::filesystem::path> files = {std::string(VARNEL_TEST_DATA) +
                                              "/exports/type9-13.an2k"};
  if (std::filesystem::is_directory(corpus)) {
    for (const char* name :
         {"nist-reference/type-9-10-14.an2", "nist-reference/type-9-13-std.an2",
          "nist-reference/type-9-14-std.an2", "nist-reference/type-9-4-iafis.an2",
          "nist-reference/type-9-13-m1.an2", "libbiomeval/type9.an2k", "libbiomeval/type9-efs.an2k",
          "node-nist/latent_with_minutiae.lffs"}) {
      files.push_back(corpus / name);
    }
  }
  std::printf("%-40s %-10s %4s %8s %5s %6s %8s\n", "file", "from", "rec", "minutiae", "cores",
              "deltas", "warnings");
  for (const auto& path : files) {
    NistFile probe;
    ASSERT_EQ(probe.load(path.string()), 0) << path;
    // The block each record carries decides the source format.
    std::string from;
    if (probe.getSubfieldCount(9, 15, 0) >= 0) {
      from = "FBI IAFIS";
    } else if (probe.getSubfieldCount(9, 10, 0) < 0 && probe.getSubfieldCount(9, 331, 0) >= 0) {
      from = "Extended";
    } else {
      from = "Legacy";
    }
    std::vector<std::string> warnings;
    std::vector<rules::FeatureConversion> done;
    ASSERT_EQ(rules::convertFeatureSet(probe, from, warnings, &done), 0) << path;
    const std::string name =
        path.parent_path().filename().string() + "/" + path.filename().string();
    if (done.empty()) {
      std::printf("%-40s %-10s %4s %8s %5s %6s %8zu  (no image record matches)\n", name.c_str(),
                  from.c_str(), "-", "-", "-", "-", warnings.size());
    }
    for (const auto& d : done) {
      std::printf("%-40s %-10s %4d %8d %5d %6d %8zu\n", name.c_str(), from.c_str(), d.record,
                  d.minutiae, d.cores, d.deltas, warnings.size());
      // Every written minutia lies in the image it describes, give or take a rounding pixel.
      std::string width, height;
      ASSERT_EQ(probe.getFieldFullText(9, 128, d.record, width), 0);
      ASSERT_EQ(probe.getFieldFullText(9, 129, d.record, height), 0);
      for (const auto& m : minutiae(probe, d.record)) {
        EXPECT_GE(m.x, -1) << name;
        EXPECT_LE(m.x, std::stoi(width) + 1) << name;
        EXPECT_GE(m.y, -1) << name;
        EXPECT_LE(m.y, std::stoi(height) + 1) << name;
      }
    }
    if (path.filename() == "type9-13.an2k") {
      ASSERT_EQ(done.size(), 1u);
      EXPECT_EQ(done[0].minutiae, 28);
    }
  }
}

}  // namespace
}  // namespace varnel::test
