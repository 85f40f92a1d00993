#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rules/detail/ordered_pipeline.h"
#include "rules/detail/output_files.h"
#include "rules/report.h"
#include "rules/run.h"
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

// Every file under `folder` (relative name -> bytes), the report aside: its rows are compared
// on their own, since its header holds the time of the run.
std::map<std::string, std::string> contents(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), folder).string();
    if (rel.starts_with("VarnelReport_")) continue;
    out[rel] = readFile(e.path().string());
  }
  return out;
}

// The report's rows: everything between the table's heading and its end.
std::string reportRows(const std::string& path) {
  const std::string html = readFile(path);
  const std::size_t from = html.find("</th></tr>");
  const std::size_t to = html.rfind("</table>");
  return from == std::string::npos || to == std::string::npos ? std::string()
                                                              : html.substr(from, to - from);
}

struct Run {
  TempDir dest;
  QuietUi ui;
  RunSummary summary;
  RunStatus status = RunStatus::kRefused;
};

std::unique_ptr<Run> run(const std::string& source, const std::string& ruleFile, int jobs,
                         int stopAfter = -1) {
  auto r = std::make_unique<Run>();
  r->ui.stopAfter = stopAfter;
  std::vector<std::string> names;
  EXPECT_TRUE(listTransactionFiles(source + "/", names));
  RunOptions options;
  options.jobs = jobs;
  r->status = runConversion(source + "/", r->dest.path() + "/", ruleFile,
                            static_cast<int>(names.size()), r->ui, r->summary, options);
  return r;
}

void expectSameRun(const std::string& source, const std::string& ruleFile,
                   const std::string& mustShow = {}) {
  const auto one = run(source, ruleFile, 1);
  ASSERT_EQ(one->status, RunStatus::kCompleted);
  EXPECT_NE(reportRows(one->summary.reportPath).find(mustShow), std::string::npos) << mustShow;
  for (int jobs : {2, 5}) {
    const auto many = run(source, ruleFile, jobs);
    ASSERT_EQ(many->status, RunStatus::kCompleted) << jobs;
    EXPECT_EQ(contents(many->dest.path()), contents(one->dest.path())) << jobs;
    EXPECT_EQ(reportRows(many->summary.reportPath), reportRows(one->summary.reportPath)) << jobs;
    EXPECT_EQ(many->summary.counts.errors, one->summary.counts.errors);
    EXPECT_EQ(many->summary.counts.warnings, one->summary.counts.warnings);
    EXPECT_EQ(many->summary.counts.messages, one->summary.counts.messages);
    EXPECT_EQ(many->summary.filesWithErrors, one->summary.filesWithErrors);
    // The progress counts files as they are committed, one by one.
    std::vector<int> expected(static_cast<std::size_t>(one->summary.counts.processed));
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<int>(i) + 1;
    EXPECT_EQ(many->ui.positions, expected);
  }
}

// A folder whose files fight over output names (pairs share a name), export under numbered
// names, write CSV lines and include broken files.
void makeBusyFolder(const std::string& folder, int count) {
  const char* names[] = {"DOE,JOHN", "ROE,JANE", "POE,EDGAR", "LEE,ANN"};
  for (int i = 0; i < count; ++i) {
    char file[32];
    std::snprintf(file, sizeof file, "f%03d.%s", i, i % 3 == 0 ? "nst" : "eft");
    char tcn[16];
    std::snprintf(tcn, sizeof tcn, "T%03d", i);
    TxBuilder b;
    b.type1Field(9, tcn);
    b.type2(2, {{18, names[(i / 2) % 4]}});
    for (int f = 1; f <= 1 + i % 3; ++f) b.type14(f, 48, 40, TxBuilder::greyImage(48, 40, i + f));
    std::string bytes = b.bytes();
    if (i % 11 == 7) bytes.resize(bytes.size() / 2);
    writeFile(folder + "/" + file, bytes);
  }
}

TEST(ParallelRun, OutputsReportAndCsvMatchOneThreadOnAGeneratedFolder) {
  TempDir src;
  makeBusyFolder(src.path(), 40);
  TempDir rules;
  writeFile(rules / "r.ntx",
            "Output to CSV|TCN|%TCN%|||\n"
            "Compress Records To WSQ|2.25||||\n"
            "Condition|%TCN%|Equals|T005,T017\n"
            "Export All Biometrics|img/%2.018%_%RECORD_EXPORT_COUNT%||||\n"
            "Condition|%TCN%|Contains|3\n"
            "Change Filename|%2.018%||||\n"
            "Condition|%TCN%|Contains|2\n");
  expectSameRun(src.path(), rules / "r.ntx", "Not saved: ROE,JANE.eft already written by this run");
}

TEST(ParallelRun, OutputsReportAndCsvMatchOneThreadOnTheSamples) {
  expectSameRun(VARNEL_SAMPLES_DIR "/transactions", VARNEL_SAMPLES_DIR "/rules/demo.ntx");
}

TEST(ParallelRun, StopCommitsTheFilesInHandInOrderAndLeavesNoTemporaryFile) {
  TempDir src;
  makeBusyFolder(src.path(), 30);
  TempDir rules;
  writeFile(rules / "r.ntx", "Output to CSV|TCN|%TCN%|||\nCompress Records To WSQ|2.25||||\n");
  const auto all = run(src.path(), rules / "r.ntx", 1);
  const auto stopped = run(src.path(), rules / "r.ntx", 3, 2);
  ASSERT_EQ(stopped->status, RunStatus::kStopped);
  const int done = stopped->summary.counts.processed;
  EXPECT_GE(done, 2);
  EXPECT_LT(done, 30);
  // Exactly the first `done` files, as a run of one thread wrote them.
  auto expected = contents(all->dest.path());
  std::string csv = "TCN\r\n";
  for (int i = 0; i < 30; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%03d.%s", i, i % 3 == 0 ? "nst" : "eft");
    if (i >= done) {
      expected.erase(name);
    } else if (i % 11 != 7) {
      csv += "T" + std::string(name + 1, 3) + "\r\n";
    }
  }
  expected["results.csv"] = csv;
  EXPECT_EQ(contents(stopped->dest.path()), expected);
  const std::string rows = reportRows(stopped->summary.reportPath);
  const std::size_t cut = rows.rfind("<tr>", rows.find("Conversion stopped after"));
  ASSERT_NE(cut, std::string::npos);
  EXPECT_EQ(reportRows(all->summary.reportPath).substr(0, cut), rows.substr(0, cut));
}

// A report of a million rows stays usable: rows can be hidden by kind and text and problems put
// first, and loading never rewrites the whole messages table (which takes minutes at that size).
TEST(RunReport, ScriptFiltersRowsByKindAndLeavesTheTableInPlaceAtLoad) {
  const std::string page = reportTemplate("2026-01-01 00:00:00");
  for (const char* kind : {"Error", "Warning", "Info"}) {
    const std::string rule =
        std::string("table.hide") + kind + " tr:has(> td.Icon" + kind + "Encoded)";
    EXPECT_NE(page.find(rule), std::string::npos) << kind;
  }
  EXPECT_NE(page.find("classList.toggle(\"hide\" + k[0]"), std::string::npos);
  EXPECT_NE(page.find("function problemsFirst("), std::string::npos);
  EXPECT_NE(page.find("function filterText("), std::string::npos);
  EXPECT_EQ(page.find("m.innerHTML ="), std::string::npos);
  // The row-hiding functions keep their names and the template still ends with the heading.
  for (const char* fn : {"function showRows(prefix)", "function hideRows(prefix)",
                         "function scrollToRows(prefix)"}) {
    EXPECT_NE(page.find(fn), std::string::npos) << fn;
  }
  EXPECT_TRUE(page.ends_with("2026-01-01 00:00:00</h1>"));
}

TEST(OrderedPipeline, CommitsInOrderAndTakesNoMoreThanTheWindowAhead) {
  std::vector<int> workers(3);
  std::atomic<int> inFlight{0};
  std::atomic<int> most{0};
  std::vector<std::size_t> order;
  const std::size_t n = detail::runOrdered<std::size_t>(
      200, workers, 6,
      [&](int&, std::size_t i) noexcept {
        const int now = ++inFlight;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        // Uneven work, so that results arrive out of order.
        volatile unsigned spin = 0;
        for (unsigned k = 0; k < (i % 7) * 20000; ++k) spin = spin + k;
        return i;
      },
      [&](std::size_t i, std::size_t value) {
        EXPECT_EQ(i, value);
        order.push_back(value);
        --inFlight;
        return true;
      },
      [] { return false; });
  EXPECT_EQ(n, 200u);
  ASSERT_EQ(order.size(), 200u);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_LE(most.load(), 6);
}

TEST(RunOutputNames, ManyNamesAcrossStorageBlocksAreFoundExactly) {
  detail::NameSet set;
  const auto name = [](int i) { return "/dest/out/file_" + std::to_string(i) + ".nst"; };
  for (int i = 0; i < 20000; ++i) set.insert(name(i));
  set.insert(name(7));
  detail::NameSet merged;
  merged.insertAll(set);
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(merged.contains(name(i))) << i;
  EXPECT_FALSE(merged.contains(name(20000)));
  EXPECT_FALSE(merged.contains("/dest/out/file_1.ns"));
  EXPECT_FALSE(detail::NameSet().contains(name(1)));
}

// Names inside the destination are kept without it: a name inside must still differ from the
// same text outside, and a view must see the run's names.
TEST(RunOutputNames, NamesInsideAndOutsideTheDestinationStayApart) {
  RunOutputs run;
  run.setDestinationFolder("/dest/");
  run.claim("/dest/a.nst");
  run.claim("a.nst2");
  EXPECT_TRUE(run.taken("/dest/a.nst"));
  EXPECT_FALSE(run.taken("a.nst"));
  EXPECT_FALSE(run.taken("/dest/a.nst2"));
  EXPECT_FALSE(run.taken("/other/dest/a.nst"));
  RunOutputs view;
  view.attach(run);
  EXPECT_TRUE(view.taken("/dest/a.nst"));
  view.claim("/dest/b.nst");
  int err = 0;
  ASSERT_EQ(view.commitTo(run, err), 0);
  EXPECT_TRUE(run.taken("/dest/b.nst"));
  EXPECT_FALSE(run.taken("b.nst"));
}

// Names in `folder`, sorted.
std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

FillFile filler(std::string text) {
  return [text = std::move(text)](int fd, int& err) {
    err = 0;
    return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : -6;
  };
}

// Outputs are written as they are where the file system makes no anonymous files, through a
// named temporary that does not outlive the write.
TEST(RunOutputFiles, NamedTemporariesWhereAnonymousFilesAreRefused) {
  struct Refusal {
    Refusal() { detail::refuseAnonymousFiles(true); }
    ~Refusal() { detail::refuseAnonymousFiles(false); }
  } refusal;
  TempDir dir;
  writeFile(dir / "a.nst", "old");
  int err = 0;
  ASSERT_EQ(detail::fillThroughTemporary(dir / "a.nst", filler("new"), err), 0);
  RunOutputs run;
  RunOutputs view;
  view.attach(run);
  ASSERT_EQ(view.fill(dir / "b.nst", filler("b"), err), 0);
  ASSERT_EQ(view.commitTo(run, err), 0);
  EXPECT_EQ(readFile(dir / "a.nst"), "new");
  EXPECT_EQ(readFile(dir / "b.nst"), "b");
  EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"a.nst", "b.nst"}));
}

// A view's outputs get their names only at the commit: an existing file or link of that name is
// replaced itself, and the outputs of a view never committed leave nothing behind.
TEST(RunOutputFiles, ViewOutputsReplaceExistingNamesOnlyWhenCommitted) {
  TempDir dir;
  TempDir outside;
  writeFile(outside / "victim", "keep");
  writeFile(dir / "a.nst", "old");
  fs::create_symlink(outside / "victim", dir / "b.nst");
  RunOutputs run;
  int err = 0;
  {
    RunOutputs view;
    view.attach(run);
    ASSERT_EQ(view.fill(dir / "a.nst", filler("new a"), err), 0);
    ASSERT_EQ(view.fill(dir / "b.nst", filler("new b"), err), 0);
    ASSERT_EQ(view.fill(dir / "c.nst", filler("new c"), err), 0);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"a.nst", "b.nst"}));
    EXPECT_EQ(readFile(dir / "a.nst"), "old");
  }
  RunOutputs view;
  view.attach(run);
  ASSERT_EQ(view.fill(dir / "a.nst", filler("new a"), err), 0);
  ASSERT_EQ(view.fill(dir / "b.nst", filler("new b"), err), 0);
  ASSERT_EQ(view.commitTo(run, err), 0);
  EXPECT_EQ(readFile(dir / "a.nst"), "new a");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "b.nst")));
  EXPECT_EQ(readFile(dir / "b.nst"), "new b");
  EXPECT_EQ(readFile(outside / "victim"), "keep");
  EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"a.nst", "b.nst"}));
}

// Outputs waiting for their commit hold a bounded number of descriptors however many there are.
TEST(RunOutputFiles, WaitingOutputsHoldBoundedDescriptors) {
  const auto openDescriptors = [] {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  };
  TempDir dir;
  RunOutputs run;
  RunOutputs view;
  view.attach(run);
  const auto before = openDescriptors();
  int err = 0;
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(view.fill(dir / std::to_string(1000 + i), filler(std::to_string(i)), err), 0) << i;
  }
  EXPECT_LE(openDescriptors() - before, 128);
  ASSERT_EQ(view.commitTo(run, err), 0);
  EXPECT_EQ(openDescriptors(), before);
  const auto names = entries(dir.path());
  ASSERT_EQ(names.size(), 300u);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(readFile(dir / names[i]), std::to_string(i)) << i;
}

}  // namespace
}  // namespace varnel::rules
