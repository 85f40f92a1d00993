// `varnel validate` as a user runs it: listing, exit statuses, JSON, HTML and profiles.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "samples/tx_builder.h"
#include "tests/common/run_program.h"
#include "tests/rules/helpers.h"

namespace {

using varnel::rules::testing::readFile;
using varnel::rules::testing::TempDir;
using varnel::rules::testing::writeFile;

using Result = varnel::test::ProgramResult;

Result run(const std::string& args, const TempDir& scratch) {
  return varnel::test::runProgram(VARNEL_EXE, args, scratch.path());
}

class Validate : public ::testing::Test {
 protected:
  void SetUp() override {
    varnel::samples::TxBuilder good;
    good.type1Field(2, "0500").type2(0, {});
    writeFile(dir / "good.nst", good.bytes());
    varnel::samples::TxBuilder bad;
    bad.type1Field(2, "0500").type1Field(11, "19.7").type2(0, {});
    writeFile(dir / "bad.an2", bad.bytes());
    writeFile(dir / "notes.txt", "not a transaction");
  }
  TempDir dir;
  TempDir scratch;
};

TEST_F(Validate, FolderListingNamesFindingsAndExitsOneOnErrors) {
  const Result r = run("validate '" + dir.path() + "'", scratch);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("bad.an2: 1 error, 0 warnings\n"
                       "  error    1.011 NSR: expected 5 characters NN.NN, found '19.7'\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("good.nst: conforms\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("notes.txt"), std::string::npos);
  EXPECT_EQ(run("validate '" + (dir / "good.nst") + "'", scratch).status, 0);
}

TEST_F(Validate, JsonListsEachFindingWithItsParts) {
  const Result r = run("validate --json '" + (dir / "bad.an2") + "'", scratch);
  EXPECT_EQ(r.status, 1);
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["profile"], "base");
  EXPECT_EQ(j["filesWithErrors"], 1);
  const auto& f = j["files"][0]["findings"][0];
  EXPECT_EQ(f["severity"], "error");
  EXPECT_EQ(f["check"], "length");
  EXPECT_EQ(f["recordType"], 1);
  EXPECT_EQ(f["field"], 11);
  EXPECT_EQ(f["mnemonic"], "NSR");
  EXPECT_EQ(f["found"], "'19.7'");

  // A Latin-1 byte quoted in a finding must not break the JSON document.
  varnel::samples::TxBuilder latin;
  latin.type1Field(2, "0500").type1Field(11, "1\xE9.7").type2(0, {});
  writeFile(dir / "latin.an2", latin.bytes());
  const Result l = run("validate --json '" + (dir / "latin.an2") + "'", scratch);
  EXPECT_EQ(l.status, 1) << l.err;
  EXPECT_EQ(nlohmann::json::parse(l.out)["files"][0]["findings"][0]["field"], 11);
}

TEST_F(Validate, HtmlReportHasErrorRowsBeforeWarnings) {
  const std::string html = scratch / "report.html";
  EXPECT_EQ(run("validate --html '" + html + "' '" + dir.path() + "'", scratch).status, 1);
  const std::string page = readFile(html);
  const auto row = page.find(
      "<td class=\"IconErrorEncoded\"></td><td class=\"messageCell\">"
      "<strong>" +
      (dir / "bad.an2") + ": </strong>1.011 NSR");
  EXPECT_NE(row, std::string::npos) << page;
  EXPECT_NE(page.find("Files with errors: 1"), std::string::npos);
  EXPECT_NE(page.find("NIST Validation Report - "), std::string::npos);
  EXPECT_EQ(page.find("NIST Conversion"), std::string::npos);
}

TEST_F(Validate, ProfileTightensAndBadUsageExitsTwo) {
  writeFile(scratch / "p.profile", "2.018 required\n");
  const Result r = run(
      "validate --profile '" + (scratch / "p.profile") + "' '" + (dir / "good.nst") + "'", scratch);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("2.018"), std::string::npos) << r.out;
  writeFile(scratch / "bad.profile", "2.018 requird\n");
  const Result bad =
      run("validate --profile '" + (scratch / "bad.profile") + "' '" + dir.path() + "'", scratch);
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("line 1: unknown keyword 'requird'"), std::string::npos) << bad.err;
  EXPECT_EQ(run("validate", scratch).status, 2);
  EXPECT_EQ(run("validate '" + (dir / "missing.nst") + "'", scratch).status, 2);
}

TEST_F(Validate, ShippedProfilesLoad) {
  for (const char* name : {"base.profile", "example-receiver.profile"}) {
    const Result r = run(std::string("validate --profile '") + VARNEL_SOURCE_DIR +
                             "/docs/profiles/" + name + "' '" + (dir / "good.nst") + "'",
                         scratch);
    EXPECT_LE(r.status, 1) << name << ": " << r.err;
  }
}

}  // namespace
