// `varnel report merge`: one report and one results.csv from the shards of a destination folder.
#include "cli/report_command.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

#include "rules/shard.h"
#include "rules/status.h"

namespace varnel::cli {
namespace {

struct MergeOptions {
  std::string dest;
  bool removeShards = false;
};

int runMerge(const MergeOptions& o) {
  rules::MergeResult result;
  const int rc = rules::mergeShardReports(o.dest, o.removeShards, result);
  if (rc == rules::kShardSetRefused) {
    std::cerr << "varnel report merge: " << result.message << "\n";
    return 2;
  }
  if (rc != rules::kOk) {
    std::cerr << "varnel report merge: " << result.message << "\n";
    return 4;
  }
  for (const auto& shared : result.sharedOutputs) {
    std::cerr << "varnel report merge: warning: written by files of different shards, the last "
                 "write kept: "
              << shared << "\n";
  }
  const auto& c = result.counts;
  std::cout << "Report: " << result.reportPath << " (" << result.shards << " shards)\n";
  if (!result.csvPath.empty()) std::cout << "Results: " << result.csvPath << "\n";
  std::cout << c.processed << " processed of " << c.total << ", errors: " << c.errors
            << ", warnings: " << c.warnings << ", messages: " << c.messages << "\n";
  return result.filesWithErrors > 0 || !result.sharedOutputs.empty() ? 1 : 0;
}

}  // namespace

void addReportCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<MergeOptions>();
  auto* report = app.add_subcommand("report", "Work with the reports of runs");
  report->require_subcommand(1);
  auto* merge = report->add_subcommand(
      "merge", "Merge the reports and results files of the shard runs of a destination folder");
  merge->add_option("DEST", options->dest, "Destination folder of the shard runs")->required();
  merge->add_flag("--remove-shards", options->removeShards,
                  "Remove the shards' reports, results files and records once merged");
  merge->footer(
      "Exit status:\n"
      "  0  merged; no file had an error row\n"
      "  1  merged; some files had error rows, or outputs were written by several shards\n"
      "  2  usage error, or the shards do not make one complete set (nothing written)\n"
      "  4  the merged report or results.csv could not be written\n");
  merge->callback([options, &exitCode] { exitCode = runMerge(*options); });
}

}  // namespace varnel::cli
