// Runs the varnel program as a user would, without a terminal, and checks exit statuses and
// what it prints.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
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

// Runs varnel with `args` (already quoted), stdin from /dev/null.
Result runVarnel(const std::string& args, const TempDir& scratch) {
  return varnel::test::runProgram(VARNEL_EXE, args, scratch.path());
}

std::string q(const std::string& s) { return "'" + s + "'"; }

// Runs a bash script (written to a file, so that it may quote freely); its exit status.
int runScript(const std::string& script, const TempDir& scratch) {
  writeFile(scratch / "script.sh", script);
  const int raw = std::system(("bash " + q(scratch / "script.sh") + " </dev/null").c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

class VarnelCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    varnel::samples::TxBuilder b;
    b.type2(1, {{18, "DOE,JOHN"}});
    writeFile(src / "one.nst", b.bytes());
    writeFile(src / "two.eft", b.bytes());
    writeFile(rules / "empty.ntx", "");
  }

  std::string convertArgs(const std::string& ruleFile) {
    return "convert --source " + q(src.path()) + " --dest " + q(dst.path()) + " --rules " +
           q(ruleFile);
  }

  TempDir src;
  TempDir dst;
  TempDir rules;
  TempDir scratch;
};

TEST_F(VarnelCommand, ConvertPrintsOnlyTheReportAndCountsWithoutATerminal) {
  const Result r = runVarnel(convertArgs(rules / "empty.ntx"), scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_EQ(r.out.rfind("Report: " + dst.path() + "/VarnelReport_", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\n2 processed of 2, errors: 0, warnings: 0, messages: 2\n"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(std::filesystem::exists(dst / "one.nst"));
}

TEST_F(VarnelCommand, ConvertExitsOneWhenAFileHadAnError) {
  writeFile(src / "broken.an2", "1.001:9");
  const Result r = runVarnel(convertArgs(rules / "empty.ntx") + " --quiet", scratch);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("3 processed of 3, errors: 1"), std::string::npos) << r.out;
}

TEST_F(VarnelCommand, ConvertRefusesBadInputWithTheMessage) {
  Result r = runVarnel("convert --source " + q(src / "nope") + " --dest " + q(dst.path()) +
                           " --rules " + q(rules / "empty.ntx"),
                       scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "varnel: source folder '" + (src / "nope") + "' does not exist\n");
  r = runVarnel(convertArgs(rules / "missing.ntx"), scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "varnel: rule file '" + (rules / "missing.ntx") + "' does not exist\n");
  r = runVarnel(convertArgs(rules / "empty.ntx") + " --param NOEQUALS", scratch);
  EXPECT_EQ(r.status, 2);
}

TEST_F(VarnelCommand, PromptsWithoutATerminalNeedTheirParamAndUnaskedParamsAreWarned) {
  writeFile(rules / "prompt.ntx",
            "Prompt for Parameter|WHO|Who is converting?|||\n"
            "Add Field|2.040|%WHO%|||\n");
  Result r = runVarnel(convertArgs(rules / "prompt.ntx"), scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "varnel convert: no answer for the prompt \"Who is converting?\": give it with "
            "--param WHO=VALUE\n");
  EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
  r = runVarnel(convertArgs(rules / "prompt.ntx") + " --param WHO=Ann --param X=1", scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "varnel convert: warning: no prompt asks for --param X\n");
  EXPECT_NE(readFile(dst / "one.nst").find("2.040:Ann"), std::string::npos);
}

TEST_F(VarnelCommand, UsageErrorsExitTwoWithTheUsage) {
  Result r = runVarnel("", scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Subcommands:"), std::string::npos) << r.err;
  r = runVarnel("conver", scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("varnel: 'conver' is not a varnel command; did you mean convert?\n", 0), 0u)
      << r.err;
  r = runVarnel(convertArgs(rules / "empty.ntx") + " --frobnicate", scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--frobnicate"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--no-clobber"), std::string::npos) << r.err;  // convert's usage
  EXPECT_EQ(runVarnel("convert --source " + q(src.path()), scratch).status, 2);
  EXPECT_EQ(runVarnel("dump a b", scratch).status, 2);
  EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
  r = runVarnel("help", scratch);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("convert"), std::string::npos) << r.out;
  r = runVarnel("help convert", scratch);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Exit status:\n  0  "), std::string::npos) << r.out;
}

TEST_F(VarnelCommand, InvalidFileRowSaysWhyAndJsonListsEveryFile) {
  writeFile(src / "broken.an2",
            "1.001:9999\x1D"
            "1.002:0502\x1C");
  const Result r = runVarnel(convertArgs(rules / "empty.ntx") + " --json", scratch);
  EXPECT_EQ(r.status, 1);
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["status"], "completed");
  EXPECT_EQ(doc["totals"]["processed"], 3);
  EXPECT_EQ(doc["totals"]["errors"], 1);
  EXPECT_EQ(doc["outputs"], nlohmann::json({"one.nst", "two.eft"}));
  ASSERT_EQ(doc["files"].size(), 3u);
  const auto& broken = doc["files"][0];
  EXPECT_EQ(broken["name"], "broken.an2");
  EXPECT_EQ(broken["outcome"], "error");
  EXPECT_TRUE(broken["output"].is_null());
  const std::string text = broken["messages"][0]["text"];
  EXPECT_EQ(text,
            "Invalid NIST File: the length (LEN) of record 1 (Type-1), 9999 bytes from byte 0, "
            "runs past the end of the file (truncated at byte 22)");
  EXPECT_EQ(doc["files"][1]["output"], "one.nst");
  std::string report;
  for (const auto& e : std::filesystem::directory_iterator(dst.path())) {
    if (e.path().filename().string().starts_with("VarnelReport_")) {
      report = readFile(e.path().string());
    }
  }
  EXPECT_NE(report.find("Invalid NIST File: the length (LEN) of record 1"), std::string::npos);
}

TEST_F(VarnelCommand, DryRunListsOutputsAndWritesNothing) {
  writeFile(rules / "rename.ntx",
            "Change Filename|new_%FILENAME%|||\nOutput to CSV|N|%2.018%|||\n");
  const Result r = runVarnel(convertArgs(rules / "rename.ntx") + " --dry-run", scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("one.nst -> new_one.nst\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Dry run: 2 of 2 files would be converted"), std::string::npos) << r.out;
  EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
}

TEST_F(VarnelCommand, NoClobberRefusesToReplaceAnExistingOutput) {
  writeFile(dst / "one.nst", "mine");
  const Result r = runVarnel(convertArgs(rules / "empty.ntx") + " --no-clobber --json", scratch);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(readFile(dst / "one.nst"), "mine");
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["files"][0]["messages"][0]["text"], "Not saved: one.nst already exists");
  EXPECT_EQ(doc["files"][1]["output"], "two.eft");
}

TEST_F(VarnelCommand, ReportThatCannotBeCreatedStopsWithStatusFour) {
  const Result r = runVarnel(
      "convert --source " + q(src.path()) + " --dest /proc --rules " + q(rules / "empty.ntx"),
      scratch);
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("report"), std::string::npos) << r.err;
}

TEST_F(VarnelCommand, RuleFileThatCannotBeUsedIsRefusedWithStatusTwo) {
  ASSERT_EQ(::mkfifo((rules / "fifo.ntx").c_str(), 0600), 0);
  Result r = runVarnel(convertArgs(rules / "fifo.ntx"), scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "Rule file cannot be read: '" + (rules / "fifo.ntx") + "': not a regular file\n");
  writeFile(rules / "typo.ntx", "Compress Record To WSQ|2.25|||\n");
  r = runVarnel(convertArgs(rules / "typo.ntx"), scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Unknown action \"Compress Record To WSQ\" on line 1"), std::string::npos)
      << r.err;
  EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
  r = runVarnel("rules check " + q(rules / "typo.ntx"), scratch);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("refused: Unknown action \"Compress Record To WSQ\""), std::string::npos)
      << r.out;
}

TEST_F(VarnelCommand, TerminatedRunFinishesTheFileInHandAndExitsThree) {
  varnel::samples::TxBuilder b;
  b.type2(1, {{18, "DOE,JOHN"}});
  for (int i = 0; i < 30; ++i) writeFile(src / ("f" + std::to_string(100 + i) + ".nst"), b.bytes());
  writeFile(rules / "card.ntx", "Output to CSV|N|%2.018%|||\nExport To Tenprint|%FILENAME%|||\n");
  // Each file renders a large card, so the run is still going when the signal comes.
  const std::string cmd = "'" + std::string(VARNEL_EXE) + "' " + convertArgs(rules / "card.ntx") +
                          " >/dev/null 2>&1 & pid=$!; "
                          "until ls " +
                          q(dst.path()) +
                          "/VarnelReport_*.html >/dev/null 2>&1; "
                          "do sleep 0.01; done; kill -TERM $pid; wait $pid; exit $?";
  EXPECT_EQ(runScript(cmd, scratch), 3);
  std::string report;
  std::size_t cards = 0;
  for (const auto& e : std::filesystem::directory_iterator(dst.path())) {
    const std::string name = e.path().filename().string();
    EXPECT_EQ(name.find(".varnel-"), std::string::npos) << name;  // no temporary file left
    if (name.ends_with(".TIFF")) ++cards;
    if (name.starts_with("VarnelReport_")) report = readFile(e.path().string());
  }
  EXPECT_TRUE(report.ends_with("</html>"));
  const std::size_t converted = [&] {
    std::size_t n = 0;
    for (std::size_t p = 0; (p = report.find("successfully converted", p)) != std::string::npos;
         ++p)
      ++n;
    return n;
  }();
  EXPECT_GE(converted, 1u);
  EXPECT_LT(converted, 32u);
  EXPECT_EQ(cards, converted);
  EXPECT_NE(report.find("Stopped before the end of the folder"), std::string::npos);
  // One CSV line per converted file after the header.
  const std::string csv = readFile(dst / "results.csv");
  EXPECT_EQ(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')), converted + 1);
}

TEST_F(VarnelCommand, ReportThatCannotBeWrittenEndsWithStatusFourAndTheReason) {
  varnel::samples::TxBuilder b;
  b.type2(1, {{18, "DOE,JOHN"}});
  for (int i = 0; i < 80; ++i) writeFile(src / ("f" + std::to_string(100 + i) + ".nst"), b.bytes());
  // Files may grow to 9 KiB: the report outgrows that after some rows.
  const std::string cmd = "trap '' XFSZ; ulimit -f 9; exec '" + std::string(VARNEL_EXE) + "' " +
                          convertArgs(rules / "empty.ntx") + " 2>" + q(scratch / "err.txt");
  EXPECT_EQ(runScript(cmd + " >/dev/null", scratch), 4);
  const std::string err = readFile(scratch / "err.txt");
  EXPECT_NE(err.find("The report file could not be written: '" + dst.path() + "/VarnelReport_"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("File too large"), std::string::npos) << err;
}

TEST_F(VarnelCommand, RulesCheckPrintsTheEditorMessages) {
  writeFile(rules / "mixed.ntx", "Add Field|2.005|x|||\nString Left|2.005|0|||\n");
  Result r = runVarnel("rules check " + q(rules / "mixed.ntx"), scratch);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Rule 1 \"Add Field\": ok\n"
            "Rule 2 \"String Left\": refused: Value must be in the range of 1 to 100\n"
            "2 rule(s), 1 refused\n");
  r = runVarnel("rules check " + q(rules / "empty.ntx"), scratch);
  EXPECT_EQ(r.status, 0);
}

TEST_F(VarnelCommand, RulesCheckWarnsAboutStructuralEdits) {
  writeFile(rules / "len.ntx", "Delete Field|14.001||||\n");
  const Result r = runVarnel("rules check " + q(rules / "len.ntx"), scratch);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Rule 1 \"Delete Field\": ok, warning: Field 14.001 holds the record's length, "
            "version or IDC: this rule will not be applied\n"
            "1 rule(s), 0 refused\n");
}

TEST_F(VarnelCommand, ProgressLineFitsANarrowTerminal) {
  // `script` gives the program a terminal 40 columns wide.
  const std::string cmd = "script -qec \"stty cols 40; '" + std::string(VARNEL_EXE) + "' " +
                          convertArgs(rules / "empty.ntx") + "\" /dev/null > " +
                          q(scratch / "tty.txt");
  ASSERT_EQ(runScript(cmd, scratch), 0);
  const std::string tty = readFile(scratch / "tty.txt");
  EXPECT_NE(tty.find("\r2 processed of 2"), std::string::npos) << tty;
  for (std::size_t p = 0, next = 0; p < tty.size(); p = next + 1) {
    next = std::min(tty.find_first_of("\r\n", p), tty.size());
    const std::string line = tty.substr(p, next - p);
    if (line.ends_with("\x1b[K")) {  // a progress line
      EXPECT_LT(line.size() - 3, 40u) << line;
    }
  }
}

TEST_F(VarnelCommand, DumpJsonHasRecordsFieldsSubfieldsAndItems) {
  const Result r = runVarnel("dump --json " + q(src / "one.nst"), scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc["records"].size(), 2u);
  const auto& type2 = doc["records"][1];
  EXPECT_EQ(type2["type"], 2);
  bool found = false;
  for (const auto& f : type2["fields"]) {
    found = found || (f["tag"] == "2.018" && f["subfields"] == nlohmann::json({{"DOE,JOHN"}}));
  }
  EXPECT_TRUE(found) << r.out;
}

TEST_F(VarnelCommand, DumpJsonGivesAnImagesFormatSizeAndDepth) {
  varnel::samples::TxBuilder b;
  b.type4(1, 16, 12, std::string(16 * 12, '\x80'));
  writeFile(src / "image.nst", b.bytes());
  const Result r = runVarnel("dump --json " + q(src / "image.nst"), scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc["records"].size(), 2u);
  nlohmann::json image;
  for (const auto& f : doc["records"][1]["fields"]) {
    if (f.contains("image")) image = f["image"];
  }
  ASSERT_TRUE(image.is_object()) << r.out;
  const std::string description = image.value("description", "");
  EXPECT_EQ(image.value("format", ""), description.substr(0, description.find(' '))) << r.out;
  EXPECT_EQ(image.value("width", 0), 16) << r.out;
  EXPECT_EQ(image.value("height", 0), 12) << r.out;
  EXPECT_EQ(image.value("depth", 0), 8) << r.out;
}

TEST_F(VarnelCommand, DumpShowsFieldsOrFailsWithTheLoadStatus) {
  Result r = runVarnel("dump " + q(src / "one.nst"), scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  2.018: DOE,JOHN\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Record 2: Type-2"), std::string::npos) << r.out;
  writeFile(src / "bad.nst", "garbage");
  r = runVarnel("dump " + q(src / "bad.nst"), scratch);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'" + (src / "bad.nst") + "' is not a transaction file that loads: "),
            std::string::npos)
      << r.err;
  r = runVarnel("dump " + q(src / "gone.nst"), scratch);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "varnel dump: '" + (src / "gone.nst") + "' does not exist\n");
}

TEST_F(VarnelCommand, VersionShowsProgramAndLibraryBanners) {
  const Result r = runVarnel("--version", scratch);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("varnel 3.3.0.0\ntavrix version 2.4.0.0", 0), 0u) << r.out;
}

TEST_F(VarnelCommand, ShardsMergeIntoOneReportAndBadShardSetsExitTwo) {
  for (const char* bad : {"0/2", "3/2", "1-2"}) {
    const Result r = runVarnel(convertArgs(rules / "empty.ntx") + " --shard " + bad, scratch);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("K/N"), std::string::npos) << r.err;
  }
  EXPECT_EQ(runVarnel(convertArgs(rules / "empty.ntx") + " --shard 2/2", scratch).status, 0);
  Result r = runVarnel("report merge " + q(dst.path()), scratch);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("shard 1 of 2 is missing"), std::string::npos) << r.err;
  EXPECT_EQ(runVarnel(convertArgs(rules / "empty.ntx") + " --shard 1/2", scratch).status, 0);
  r = runVarnel("report merge " + q(dst.path()) + " --remove-shards", scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("2 processed of 2, errors: 0, warnings: 0, messages: 2"), std::string::npos)
      << r.out;
  EXPECT_FALSE(std::filesystem::exists(dst / "VarnelReport_shard-1-of-2.json"));
}

}  // namespace
