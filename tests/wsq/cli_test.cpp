// The `varnel wsq` subcommands, run through their functions and through CLI11.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "cli/pnm.h"
#include "cli/wsq_command.h"
#include "tests/wsq/wsq_test_util.h"

namespace varnel::cli {
namespace {

namespace fs = std::filesystem;

class WsqCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("varnel_wsq_cli_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(WsqCommand, EncodeDecodeInfoRoundTrip) {
  const auto img = wsq::test::ridgeImage(200, 160);
  std::string error;
  ASSERT_TRUE(writePgm(path("in.pgm"), img, 200, 160, error)) << error;
  std::ostringstream err;
  ASSERT_EQ(runWsqEncode(path("in.pgm"), path("a.wsq"), 2.25F, err), 0) << err.str();
  ASSERT_EQ(runWsqEncode(path("in.pgm"), path("b.wsq"), 0.75F, err), 0) << err.str();
  EXPECT_LT(fs::file_size(path("b.wsq")), fs::file_size(path("a.wsq")));
  ASSERT_EQ(runWsqDecode(path("a.wsq"), path("out.pgm"), err), 0) << err.str();
  std::vector<std::uint8_t> px;
  int w = 0;
  int h = 0;
  ASSERT_TRUE(readPgm(path("out.pgm"), px, w, h, error)) << error;
  EXPECT_EQ(w, 200);
  EXPECT_EQ(h, 160);
  std::ostringstream out;
  ASSERT_EQ(runWsqInfo(path("a.wsq"), out, err), 0);
  const std::string text = out.str();
  EXPECT_NE(text.find("size 200x160\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ppi -1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("software 10032\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n59 "), std::string::npos) << text;
  EXPECT_NE(text.find("\n63 0 0\n"), std::string::npos) << text;
  EXPECT_TRUE(err.str().empty()) << err.str();
}

TEST_F(WsqCommand, BadInputGivesMessageAndFailure) {
  std::ostringstream err;
  EXPECT_EQ(runWsqEncode(path("missing.pgm"), path("x.wsq"), 2.25F, err), 1);
  EXPECT_NE(err.str().find("cannot open"), std::string::npos);
  std::string error;
  ASSERT_TRUE(writeFileBytes(
      path("p6.pgm"), {'P', '6', '\n', '1', ' ', '1', '\n', '2', '5', '5', '\n', 0, 0, 0}, error));
  err.str("");
  EXPECT_EQ(runWsqEncode(path("p6.pgm"), path("x.wsq"), 2.25F, err), 1);
  EXPECT_NE(err.str().find("P5"), std::string::npos) << err.str();
  ASSERT_TRUE(writeFileBytes(
      path("trunc.pgm"), {'P', '5', ' ', '4', ' ', '4', ' ', '2', '5', '5', '\n', 1, 2, 3}, error));
  err.str("");
  EXPECT_EQ(runWsqEncode(path("trunc.pgm"), path("x.wsq"), 2.25F, err), 1);
  EXPECT_NE(err.str().find("truncated"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(path("x.wsq")));
  ASSERT_TRUE(writeFileBytes(path("bad.wsq"), {0xFF, 0xD8, 0xFF, 0xE0}, error));
  err.str("");
  EXPECT_EQ(runWsqDecode(path("bad.wsq"), path("y.pgm"), err), 1);
  EXPECT_NE(err.str().find("-88"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(path("y.pgm")));
  std::ostringstream out;
  err.str("");
  EXPECT_EQ(runWsqInfo(path("bad.wsq"), out, err), 1);
  EXPECT_TRUE(out.str().empty());
}

TEST_F(WsqCommand, SubcommandParsing) {
  const auto img = wsq::test::ridgeImage(128, 128);
  std::string error;
  ASSERT_TRUE(writePgm(path("in.pgm"), img, 128, 128, error)) << error;
  CLI::App app("varnel");
  int exitCode = -1;
  addWsqCommand(app, exitCode);
  const std::string in = path("in.pgm");
  const std::string out = path("o.wsq");
  std::vector<std::string> args = {out, in, "1.5", "--bitrate", "encode", "wsq"};
  app.parse(args);
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(fs::exists(out));
  // A bitrate that is not positive is refused by the parser.
  CLI::App app2("varnel");
  addWsqCommand(app2, exitCode);
  std::vector<std::string> bad = {out, in, "-1", "--bitrate", "encode", "wsq"};
  EXPECT_THROW(app2.parse(bad), CLI::ValidationError);
}

}  // namespace
}  // namespace varnel::cli
