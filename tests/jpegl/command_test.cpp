#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/jpegl_command.h"
#include "tests/jpegl/stream_builder.h"

namespace varnel::cli {
namespace {

namespace fs = std::filesystem;
using jpegl::testing::encodeLossless;
using jpegl::testing::parsePnm;
using jpegl::testing::PlaneSpec;
using jpegl::testing::readFile;
using jpegl::testing::StreamOptions;
using jpegl::testing::testPicture;
using jpegl::testing::writeFile;

class JpeglCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("varnel_jpegl_cli_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    EXPECT_TRUE(writeFile(path(name), bytes));
    return path(name);
  }

  fs::path dir_;
};

PlaneSpec plane(int id, int w, int h, int predictor, unsigned seed) {
  PlaneSpec p;
  p.id = id;
  p.width = w;
  p.height = h;
  p.samples = testPicture(w, h, seed);
  p.predictor = predictor;
  return p;
}

TEST_F(JpeglCommand, GreyBecomesPgm) {
  const PlaneSpec p = plane(1, 13, 7, 5, 1);
  const auto in = write("grey.jpg", encodeLossless({p}));
  std::ostringstream err;
  ASSERT_EQ(runJpeglDecode(in, path("grey.pgm"), err), 0) << err.str();
  EXPECT_EQ(err.str(), "");
  char kind = 0;
  int w = 0, h = 0;
  std::vector<std::uint8_t> pixels;
  ASSERT_TRUE(parsePnm(readFile(path("grey.pgm")), kind, w, h, pixels));
  EXPECT_EQ(kind, '5');
  EXPECT_EQ(w, 13);
  EXPECT_EQ(h, 7);
  EXPECT_EQ(pixels, p.samples);
}

TEST_F(JpeglCommand, ThreeComponentsBecomeInterleavedPpm) {
  const std::vector<PlaneSpec> planes = {plane(1, 9, 6, 1, 1), plane(2, 9, 6, 4, 2),
                                         plane(3, 9, 6, 7, 3)};
  const auto in = write("rgb.jpg", encodeLossless(planes));
  std::ostringstream err;
  ASSERT_EQ(runJpeglDecode(in, path("rgb.ppm"), err), 0) << err.str();
  char kind = 0;
  int w = 0, h = 0;
  std::vector<std::uint8_t> pixels;
  ASSERT_TRUE(parsePnm(readFile(path("rgb.ppm")), kind, w, h, pixels));
  EXPECT_EQ(kind, '6');
  ASSERT_EQ(pixels.size(), 9u * 6 * 3);
  for (std::size_t i = 0; i < 9u * 6; ++i) {
    for (std::size_t k = 0; k < 3; ++k) {
      ASSERT_EQ(pixels[i * 3 + k], planes[k].samples[i]) << "pixel " << i << " component " << k;
    }
  }
}

TEST_F(JpeglCommand, RefusesWhatPnmCannotHoldAndBadInput) {
  struct Case {
    std::string name;
    std::vector<std::uint8_t> stream;
    std::string message;
  };
  std::vector<PlaneSpec> two = {plane(1, 4, 4, 1, 1), plane(2, 4, 4, 1, 2)};
  std::vector<PlaneSpec> sub = {plane(1, 8, 8, 1, 1), plane(2, 4, 8, 1, 2), plane(3, 4, 8, 1, 3)};
  sub[0].h = 2;
  StreamOptions subOptions;
  subOptions.width = 8;
  subOptions.height = 8;
  auto noApp0 = encodeLossless({plane(1, 4, 4, 1, 1)});
  noApp0[3] = 0xFE;  // APP0 becomes a comment
  const Case cases[] = {
      {"two.jpg", encodeLossless(two), "has 2 components"},
      {"sub.jpg", encodeLossless(sub, subOptions), "subsampled"},
      {"noapp0.jpg", noApp0, "status -3"},
      {"empty.jpg", {}, "status -39"},
  };
  for (const Case& c : cases) {
    const auto in = write(c.name, c.stream);
    std::ostringstream err;
    EXPECT_EQ(runJpeglDecode(in, path(c.name + ".pnm"), err), 1) << c.name;
    EXPECT_NE(err.str().find(c.message), std::string::npos) << c.name << ": " << err.str();
    EXPECT_FALSE(fs::exists(path(c.name + ".pnm"))) << c.name;
  }
  std::ostringstream err;
  EXPECT_EQ(runJpeglDecode(path("missing.jpg"), path("x.pgm"), err), 1);
  EXPECT_NE(err.str().find("cannot read"), std::string::npos);
  const auto in = write("ok.jpg", encodeLossless({plane(1, 4, 4, 1, 1)}));
  EXPECT_EQ(runJpeglDecode(in, path("no/such/dir/x.pgm"), err), 1);
  EXPECT_NE(err.str().find("cannot create"), std::string::npos);
}

TEST_F(JpeglCommand, SubcommandParsesAndSetsTheExitCode) {
  const auto good = write("g.jpg", encodeLossless({plane(1, 5, 5, 2, 1)}));
  const auto bad = write("b.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
  {
    CLI::App app;
    int exitCode = -1;
    addJpeglCommand(app, exitCode);
    const std::string out = path("g.pgm");
    std::vector<std::string> args = {out, good, "decode", "jpegl"};  // CLI11 parses in reverse
    app.parse(args);
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(fs::exists(out));
  }
  {
    CLI::App app;
    int exitCode = -1;
    addJpeglCommand(app, exitCode);
    std::vector<std::string> args = {path("b.pgm"), bad, "decode", "jpegl"};
    ::testing::internal::CaptureStderr();
    app.parse(args);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(exitCode, 1);
    EXPECT_NE(err.find("b.jpg"), std::string::npos);
  }
  {
    CLI::App app;
    int exitCode = -1;
    addJpeglCommand(app, exitCode);
    std::vector<std::string> args = {"decode", "jpegl"};  // IN and OUT missing
    EXPECT_THROW(app.parse(args), CLI::ParseError);
  }
}

}  // namespace
}  // namespace varnel::cli
