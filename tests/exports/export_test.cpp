#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "rules/detail/export_actions.h"
#include "tests/common/file_size_limit.h"
#include "tests/exports/support.h"

namespace varnel::test {
namespace {

namespace fs = std::filesystem;
using transaction::NistFile;

// "width height format" as ImageMagick reads the file, or "" when identify is missing.
std::string identify(const std::string& path) {
  int status = 0;
  std::string out = runCommand("identify -format '%w %h %m' '" + path + "' 2>/dev/null", status);
  EXPECT_EQ(status, 0) << path;
  return out;
}

std::vector<std::string> listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    names.push_back(fs::relative(e.path(), folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Exporter {
  RuleRunner runner;
  explicit Exporter(const std::string& tag) {
    runner.run.destFolder = freshFolder(tag);
    runner.state.baseName = "a";
  }
  const std::string& dest() const { return runner.run.destFolder; }
  int counter() const { return runner.state.exportCounter; }
};

TxBuilder::Fields withField(TxBuilder::Fields f, int number, std::string value) {
  for (auto& [n, v] : f) {
    if (n == number) {
      v = std::move(value);
      return f;
    }
  }
  // Fields stay in ascending order, the image data last.
  auto at = std::find_if(f.begin(), f.end(), [&](const auto& e) { return e.first > number; });
  f.insert(at, {number, std::move(value)});
  return f;
}

// Two WSQ Type-14 fingers and a JPEG face (Type 10), as a.nst.
void loadMixed(NistFile& f) {
  const std::string left = testData("exports/Fingerprint_LeftPointer.wsq");
  const std::string right = testData("exports/Fingerprint_RightPointer.wsq");
  const std::string face = testData("exports/imageHeader_test.jpeg");
  ASSERT_FALSE(left.empty() || right.empty() || face.empty());
  TxBuilder b;
  b.type1({{5, "20240413"}, {8, "ORI"}});
  b.tagged(2, {{2, "00"}, {18, "DOE, JOHN"}});
  b.tagged(14, imageFields(1, 1, 320, 480, "WSQ20", left, 7));
  b.tagged(14, imageFields(2, 1, 320, 480, "WSQ20", right, 2));
  b.tagged(10, withField(imageFields(3, 0, 400, 533, "JPEGB", face, 0), 20, "F"));
  loadBytes(f, b.bytes());
}

TEST(ExportAll, TypesAscendingRecordsInOrderCountedInNames) {
  NistFile f;
  loadMixed(f);
  Exporter e("all");
  e.runner.apply(f, "Export All Biometrics", {"%FILENAME%_%RECORD_EXPORT_COUNT%"});
  EXPECT_EQ(listing(e.dest()), (std::vector<std::string>{"a_1.JPG", "a_2.WSQ", "a_3.WSQ"}));
  EXPECT_EQ(e.counter(), 3);
  EXPECT_EQ(e.runner.state.exportRecordIndex, 1);  // last record exported: Type 14, index 1
  EXPECT_EQ(readFile(e.dest() + "a_2.WSQ"), testData("exports/Fingerprint_LeftPointer.wsq"));
  EXPECT_EQ(readFile(e.dest() + "a_3.WSQ"), testData("exports/Fingerprint_RightPointer.wsq"));
  ASSERT_TRUE(haveTool("identify")) << "ImageMagick identify is needed (scripts/install-deps)";
  EXPECT_EQ(identify(e.dest() + "a_1.JPG"), "400 533 JPEG");
}

TEST(ExportAll, FailedWritesGiveTheCounterBack) {
  TxBuilder b;
  b.type1();
  b.tagged(9, {{2, "01"}, {4, "S"}});  // no image: fails and gives the number back
  b.tagged(14, imageFields(2, 1, 4, 3, "NONE", std::string(12, '\x80'), 1));
  b.tagged(14, {{2, "03"}, {6, "4"}, {7, "3"}, {11, "NONE"}});  // no image data
  b.tagged(14, imageFields(4, 1, 4, 3, "NONE", std::string(12, '\x10'), 2));
  NistFile f;
  loadBytes(f, b.bytes());
  Exporter e("giveback");
  e.runner.apply(f, "Export All Biometrics", {"n%RECORD_EXPORT_COUNT%"});
  EXPECT_EQ(listing(e.dest()), (std::vector<std::string>{"n1.BMP", "n2.BMP"}));
  EXPECT_EQ(e.counter(), 2);
}

TEST(ExportAll, RawImagesBecomeBitmapsOfTheirSize) {
  TxBuilder b;
  b.type1({{11, "19.69"}});
  b.raw(4, type4Record(1, 3, 1, 40, 30, 0, std::string(1200, '\x55')));
  b.tagged(14, imageFields(2, 1, 33, 17, "NONE", std::string(33 * 17, '\xAA'), 1));
  NistFile f;
  loadBytes(f, b.bytes());
  Exporter e("raw");
  e.runner.apply(f, "Export All Biometrics", {"img_%RECORD_EXPORT_COUNT%"});
  ASSERT_EQ(listing(e.dest()), (std::vector<std::string>{"img_1.BMP", "img_2.BMP"}));
  EXPECT_EQ(readFile(e.dest() + "img_1.BMP").substr(0, 2), "BM");
  ASSERT_TRUE(haveTool("identify")) << "ImageMagick identify is needed (scripts/install-deps)";
  EXPECT_EQ(identify(e.dest() + "img_1.BMP"), "40 30 BMP3");
  EXPECT_EQ(identify(e.dest() + "img_2.BMP"), "33 17 BMP3");
}

TEST(ExportBiometric, NoMatchingRecordWritesNothingAndKeepsTheCounter) {
  NistFile f;
  loadMixed(f);
  Exporter e("nomatch");
  e.runner.state.exportCounter = 5;
  e.runner.apply(f, "Export Biometric", {"x", "Right Index"});
  e.runner.apply(f, "Export Biometric", {"x", "Left Iris"});
  e.runner.apply(f, "Export Biometric", {"x", "Nose"});
  EXPECT_TRUE(listing(e.dest()).empty());
  EXPECT_EQ(e.counter(), 5);
  e.runner.apply(f, "Export Biometric", {"face_%RECORD_EXPORT_COUNT%", "Front Profile"});
  EXPECT_EQ(listing(e.dest()), std::vector<std::string>{"face_6.JPG"});
  EXPECT_EQ(e.runner.state.exportRecordIndex, 0);  // not changed by this action
}

TEST(ExportBiometric, EveryNameFindsTheLastMatchingRecord) {
  TxBuilder b;
  b.type1();
  for (int fgp = 1; fgp <= 14; ++fgp) {
    b.raw(4, type4Record(fgp, fgp, 1, 2, 2, 0, "\x01\x02\x03\x04"));
  }
  b.raw(4, type4Record(15, 2, 1, 2, 2, 0, "\x05\x06\x07\x08"));  // a second right index
  b.tagged(17, {{2, "16"}, {3, "1"}});
  b.tagged(17, {{2, "17"}, {3, "2"}});
  b.tagged(17, {{2, "18"}, {3, "1 "}});  // not exactly "1"
  b.tagged(10, {{2, "19"}, {20, "F"}});
  b.tagged(10, {{2, "20"}, {20, "L"}});
  b.tagged(10, {{2, "21"}, {20, "R"}});
  b.tagged(10, {{2, "22"}, {20, "F"}});
  NistFile f;
  loadBytes(f, b.bytes());
  struct Case {
    std::string name;
    int type, index;
  };
  const std::vector<Case> cases = {{"Right Iris", 17, 0},
                                   {"Left Iris", 17, 1},
                                   {"Front Profile", 10, 3},
                                   {"Left Profile", 10, 1},
                                   {"Right Profile", 10, 2},
                                   {"Right Thumb", 4, 0},
                                   {"Right Index", 4, 14},
                                   {"Right Middle", 4, 2},
                                   {"Right Ring", 4, 3},
                                   {"Right Little", 4, 4},
                                   {"Left Thumb", 4, 5},
                                   {"Left Index", 4, 6},
                                   {"Left Middle", 4, 7},
                                   {"Left Ring", 4, 8},
                                   {"Left Little", 4, 9},
                                   {"Plain Right Thumb", 4, 10},
                                   {"Plain Left Thumb", 4, 11},
                                   {"Plain Right Four Fingers", 4, 12},
                                   {"Plain Left Four Fingers", 4, 13}};
  for (const Case& c : cases) {
    int type = -1, index = -1;
    ASSERT_EQ(rules::findBiometricRecord(f, c.name, type, index), 1) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(index, c.index) << c.name;
  }
  int type = -7, index = -7;
  EXPECT_EQ(rules::findBiometricRecord(f, "right thumb", type, index), 0);
  EXPECT_EQ(type, -7);
  EXPECT_EQ(index, -7);
}

TEST(ExportPaths, SeparatorsCreateFoldersInsideTheDestination) {
  NistFile f;
  loadMixed(f);
  Exporter e("folders");
  e.runner.apply(f, "Export Biometric", {"images\\%FILENAME%", "Front Profile"});
  e.runner.apply(f, "Export Biometric", {"deep/er\\still/%FILENAME%", "Front Profile"});
  EXPECT_TRUE(fs::is_regular_file(e.dest() + "images/a.JPG"));
  EXPECT_TRUE(fs::is_regular_file(e.dest() + "deep/er/still/a.JPG"));
  EXPECT_EQ(e.counter(), 2);
}

TEST(ExportPaths, NamesLeadingOutsideAreRefusedAndGiveTheCounterBack) {
  NistFile f;
  loadMixed(f);
  Exporter e("outside");
  const fs::path parent = fs::path(e.dest()).parent_path().parent_path();
  for (const std::string name :
       {"../escaped_%RECORD_EXPORT_COUNT%", "x/../../escaped2", "..\\escaped3", "/../escaped4"}) {
    e.runner.apply(f, "Export Biometric", {name, "Front Profile"});
    e.runner.apply(f, "Export To Tenprint", {name});
  }
  EXPECT_EQ(e.counter(), 0);
  for (const auto& entry : fs::directory_iterator(parent)) {
    EXPECT_EQ(entry.path().filename().string().find("escaped"), std::string::npos) << entry.path();
  }
  EXPECT_TRUE(listing(e.dest()).empty());
  // A name that climbs and comes back down stays inside and is allowed.
  e.runner.apply(f, "Export Biometric", {"sub/../inside", "Front Profile"});
  EXPECT_TRUE(fs::is_regular_file(e.dest() + "inside.JPG"));
}

TEST(ExportPaths, AFileWhereAFolderShouldBeIsNotCalledAWayOutside) {
  NistFile f;
  loadMixed(f);
  Exporter e("notfolder");
  std::ofstream(e.dest() + "images") << "a file";
  e.runner.apply(f, "Export Biometric", {"images/%FILENAME%", "Front Profile"});
  ASSERT_EQ(e.runner.outcome.rows.size(), 1u);
  EXPECT_EQ(e.runner.outcome.rows[0].text,
            "Export not written: images/a.JPG names a folder that cannot be created");
  EXPECT_EQ(e.counter(), 0);
}

TEST(ExportWrites, EveryWriterNamesTheReasonTheSystemGave) {
  TxBuilder b;
  b.type1();
  b.tagged(14, imageFields(1, 1, 40, 30, "NONE", std::string(1200, '\x80'), 1));
  NistFile raw;
  loadBytes(raw, b.bytes());
  NistFile mixed;
  loadMixed(mixed);
  Exporter e("limit");
  {
    const test::FileSizeLimit limit(100);
    ASSERT_TRUE(limit.active());
    e.runner.apply(raw, "Export All Biometrics", {"bitmap"});
    e.runner.apply(mixed, "Export Biometric", {"stored", "Front Profile"});
    e.runner.apply(mixed, "Export To Tenprint", {"card"});
  }
  std::vector<std::string> texts;
  for (const auto& row : e.runner.outcome.rows) texts.push_back(row.text);
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "Export bitmap.BMP could not be written: File too large",
                       "Export stored.JPG could not be written: File too large",
                       "Tenprint card card.TIFF could not be written: File too large"}));
  EXPECT_TRUE(listing(e.dest()).empty());
  EXPECT_EQ(e.counter(), 0);
}

TEST(ExportOfType, ConditionsPerRecordRawForUnknownCompression) {
  TxBuilder b;
  b.type1();
  b.tagged(14, imageFields(1, 1, 4, 3, "NONE", std::string(12, '\x80'), 1));
  b.tagged(14, imageFields(2, 1, 4, 3, "ODD", std::string(12, '\x80'), 2));
  b.tagged(14, imageFields(3, 1, 4, 3, "NONE", std::string(12, '\x80'), 3));
  NistFile f;
  loadBytes(f, b.bytes());
  Exporter e("oftype");
  e.runner.apply(f, "Export Biometrics of Type", {"f%14.013%", "0"});
  EXPECT_TRUE(listing(e.dest()).empty());
  rules::RuleCondition notThree{rules::kEquals, "%14.013%", "1,2"};
  e.runner.apply(f, "Export Biometrics of Type", {"f%14.013%_%RECORD_EXPORT_COUNT%", "14"},
                 {notThree});
  EXPECT_EQ(listing(e.dest()), (std::vector<std::string>{"f1_1.BMP", "f2_2.RAW"}));
  EXPECT_EQ(readFile(e.dest() + "f2_2.RAW"), std::string(12, '\x80'));
  EXPECT_EQ(e.runner.state.exportRecordIndex, 1);
}

TEST(ExportTenprint, WritesTheCardAsTiffWithoutCounting) {
  NistFile f;
  loadMixed(f);
  Exporter e("tenprint");
  e.runner.apply(f, "Export To Tenprint", {"cards/%FILENAME%"});
  ASSERT_TRUE(fs::is_regular_file(e.dest() + "cards/a.TIFF"));
  EXPECT_EQ(e.counter(), 0);
  ASSERT_TRUE(haveTool("identify")) << "ImageMagick identify is needed (scripts/install-deps)";
  EXPECT_EQ(identify(e.dest() + "cards/a.TIFF"), "4795 7015 TIFF");
}

}  // namespace
}  // namespace varnel::test
