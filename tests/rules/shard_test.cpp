#include "rules/shard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "rules/run.h"
#include "rules/status.h"
#include "samples/tx_builder.h"
#include "tests/common/quiet_ui.h"
#include "tests/rules/helpers.h"

namespace varnel::rules {
namespace {

namespace fs = std::filesystem;
using samples::TxBuilder;
using test::QuietUi;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// The rows of a report and its overview counts, without the times.
std::string rowsOf(const std::string& html) {
  const std::size_t start = html.find("Message</th></tr>");
  return start == std::string::npos ? std::string() : html.substr(start);
}
std::string countsOf(const std::string& html) {
  const std::size_t start = html.find("<div style=\"float: left; \">");
  const std::size_t time = html.find("Time taken:");
  const std::size_t errors = html.find("<br/>Errors:");
  if (start == std::string::npos || time == std::string::npos || errors == std::string::npos) {
    return {};
  }
  return html.substr(start, time - start) +
         html.substr(errors, html.find("</div>", errors) - errors);
}

// Every file under a folder with a digest of its content, but the run's reports and shard files.
std::vector<std::string> outputsOf(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name.starts_with("VarnelReport") || name.starts_with("results")) {
      continue;
    }
    const std::size_t digest = std::hash<std::string>{}(readFile(e.path().string()));
    out.push_back(fs::relative(e.path(), folder).string() + " " + std::to_string(digest));
  }
  std::sort(out.begin(), out.end());
  return out;
}

class ShardRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 7; ++i) {
      TxBuilder b;
      b.type1Field(9, "T" + std::to_string(i));
      b.type2(2, {{18, "NAME" + std::to_string(i)}});
      if (i % 3 != 1) b.type14(2, 8, 8, TxBuilder::greyImage(8, 8));
      // A name with quotes and brackets must travel through the shard record intact.
      const std::string name = i == 5 ? "f5\"files\":[].nst" : "f" + std::to_string(i) + ".nst";
      writeFile(src / name, b.bytes());
    }
    writeFile(src / "f3x.an2", "not a transaction");
  }

  RunStatus run(const std::string& dest, Shard shard, RunSummary& summary) {
    RunOptions options;
    options.shard = shard;
    return runConversion(src.path() + "/", dest + "/", rules, 8, ui, summary, options);
  }

  void useRules(const std::string& text) { writeFile(rules, text); }

  TempDir src, one, many, ruleDir;
  std::string rules = ruleDir / "r.ntx";
  QuietUi ui;
};

TEST(ShardSelection, TakesEveryNthNameOfTheSortedListing) {
  Shard s;
  for (const char* bad :
       {"", "1", "0/3", "4/3", "1/0", "-1/3", "1/3x", "a/b", "1/ 3", "1/100001"}) {
    EXPECT_FALSE(parseShard(bad, s)) << bad;
  }
  ASSERT_TRUE(parseShard("2/3", s));
  EXPECT_EQ(s.index, 2);
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(shardSuffix(s), "_shard-2-of-3");
  std::vector<std::string> names{"a", "b", "c", "d", "e", "f", "g"};
  selectShard(s, names);
  EXPECT_EQ(names, (std::vector<std::string>{"b", "e"}));
  EXPECT_EQ(shardFileCount(s, 7), 2);
  EXPECT_EQ(shardFileCount(Shard{3, 3}, 2), 0);
  EXPECT_EQ(shardFileCount(Shard{1, 3}, 1), 1);
  EXPECT_EQ(shardFileCount(Shard{}, 5), 5);
}

TEST_F(ShardRunTest, MergedShardsEqualOneRun) {
  useRules(
      "Output to CSV|Name|%2.018%|||\n"
      "Export All Biometrics|img\\%FILENAME%_%RECORD_EXPORT_COUNT%||||\n"
      "Change Filename|%FILENAME%_out||||\n");
  RunSummary whole;
  ASSERT_EQ(run(one.path(), Shard{}, whole), RunStatus::kCompleted);
  for (int k = 1; k <= 3; ++k) {
    RunSummary part;
    ASSERT_EQ(run(many.path(), Shard{k, 3}, part), RunStatus::kCompleted) << k;
    EXPECT_EQ(part.counts.total, shardFileCount(Shard{k, 3}, 8));
    EXPECT_TRUE(part.reportPath.ends_with("_shard-" + std::to_string(k) + "-of-3.html"));
  }
  EXPECT_TRUE(fs::exists(many / "results_shard-2-of-3.csv"));
  // Export numbers restart at each file, so the shards name exports as one run does.
  EXPECT_EQ(outputsOf(many.path()), outputsOf(one.path()));

  MergeResult merged;
  ASSERT_EQ(mergeShardReports(many.path(), false, merged), kOk) << merged.message;
  EXPECT_EQ(merged.shards, 3);
  EXPECT_TRUE(merged.sharedOutputs.empty());
  const std::string single = readFile(whole.reportPath);
  const std::string joined = readFile(merged.reportPath);
  EXPECT_EQ(rowsOf(joined), rowsOf(single));
  EXPECT_EQ(countsOf(joined), countsOf(single));
  EXPECT_NE(countsOf(joined).find("8 processed of 8"), std::string::npos);
  EXPECT_EQ(joined.size(), single.size() - countsOf(single).size() + countsOf(joined).size());
  EXPECT_EQ(readFile(many / "results.csv"), readFile(one / "results.csv"));
  EXPECT_EQ(merged.filesWithErrors, whole.filesWithErrors);
  EXPECT_TRUE(fs::exists(many / "VarnelReport_shard-1-of-3.json"));

  ASSERT_EQ(mergeShardReports(many.path(), true, merged), kOk) << merged.message;
  for (const auto& e : fs::directory_iterator(many.path())) {
    EXPECT_EQ(e.path().filename().string().find("shard"), std::string::npos) << e.path();
  }
}

TEST_F(ShardRunTest, IncompleteOrMixedShardSetsAreRefused) {
  useRules("Output to CSV|Name|%2.018%|||\n");
  MergeResult merged;
  EXPECT_EQ(mergeShardReports(many.path(), false, merged), kShardSetRefused);
  EXPECT_NE(merged.message.find("no shard records"), std::string::npos);

  RunSummary s;
  ASSERT_EQ(run(many.path(), Shard{1, 2}, s), RunStatus::kCompleted);
  EXPECT_EQ(mergeShardReports(many.path(), false, merged), kShardSetRefused);
  EXPECT_NE(merged.message.find("shard 2 of 2 is missing"), std::string::npos) << merged.message;

  writeFile(many / "VarnelReport_shard-2-of-2.json", "");  // a shard still running or killed
  EXPECT_EQ(mergeShardReports(many.path(), false, merged), kShardSetRefused);
  EXPECT_NE(merged.message.find("shard 2 of 2 has not finished"), std::string::npos);

  ASSERT_EQ(run(many.path(), Shard{2, 2}, s), RunStatus::kCompleted);
  ASSERT_EQ(run(many.path(), Shard{1, 3}, s), RunStatus::kCompleted);
  EXPECT_EQ(mergeShardReports(many.path(), false, merged), kShardSetRefused);
  EXPECT_NE(merged.message.find("different sets"), std::string::npos) << merged.message;
  EXPECT_FALSE(fs::exists(many / "results.csv"));

  fs::remove(many / "VarnelReport_shard-1-of-3.json");
  writeFile(src / "f9.nst", "a file more for the next shard");
  ASSERT_EQ(run(many.path(), Shard{2, 2}, s), RunStatus::kCompleted);
  EXPECT_EQ(mergeShardReports(many.path(), false, merged), kShardSetRefused);
  EXPECT_NE(merged.message.find("another listing"), std::string::npos) << merged.message;
}

TEST_F(ShardRunTest, ShardsShareTheDestinationButASecondRunOfOneShardIsRefused) {
  useRules("");
  // Another shard holds the folder's shared lock; this shard's record is held by a twin run.
  const int folder = ::open(many.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(folder, LOCK_SH), 0);
  const std::string record = many / "VarnelReport_shard-1-of-2.json";
  const int twin = ::open(record.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_EQ(::flock(twin, LOCK_EX), 0);
  RunSummary s;
  EXPECT_EQ(run(many.path(), Shard{1, 2}, s), RunStatus::kRefused);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.back().find("Shard 1 of 2 is already running"), std::string::npos);
  EXPECT_EQ(run(many.path(), Shard{2, 2}, s), RunStatus::kCompleted);
  // A whole-folder run does not run beside shards.
  EXPECT_EQ(run(many.path(), Shard{}, s), RunStatus::kRefused);
  ::close(twin);
  ::close(folder);
  EXPECT_EQ(run(many.path(), Shard{1, 2}, s), RunStatus::kCompleted);
}

TEST_F(ShardRunTest, OutputsOfOneNameFromDifferentShardsAreNamedByTheMerge) {
  // A name that does not depend on the file: one run refuses the later files' exports.
  useRules("Export All Biometrics|same_%RECORD_EXPORT_COUNT%||||\n");
  RunSummary s;
  ASSERT_EQ(run(many.path(), Shard{1, 2}, s), RunStatus::kCompleted);
  ASSERT_EQ(run(many.path(), Shard{2, 2}, s), RunStatus::kCompleted);
  MergeResult merged;
  ASSERT_EQ(mergeShardReports(many.path(), false, merged), kOk) << merged.message;
  ASSERT_EQ(merged.sharedOutputs.size(), 1u);
  EXPECT_EQ(merged.sharedOutputs[0], "same_1.BMP: f0.nst, f3.nst");
}

}  // namespace
}  // namespace varnel::rules
