// The varnel command line: convert a folder, check a rule file, dump a transaction.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/console_ui.h"
#include "cli/dump.h"
#include "cli/jpegl_command.h"
#include "cli/report_command.h"
#include "cli/validate_command.h"
#include "cli/wsq_command.h"
#include "imaging/wsq/wsq.h"
#include "rules/rule_set.h"
#include "rules/run.h"
#include "rules/shard.h"
#include "rules/status.h"
#include "transaction/nist_file.h"

namespace {

using varnel::rules::ConvertStatus;

// Exit statuses of `varnel convert`.
constexpr int kExitClean = 0;
constexpr int kExitFileErrors = 1;
constexpr int kExitInvalidInput = 2;
constexpr int kExitCancelled = 3;  // also: stopped by SIGINT or SIGTERM
constexpr int kExitReportFailed = 4;

std::string versionText() {
  std::string text = "varnel " + std::string(varnel::rules::kProgramVersion) + "\n";
  text += varnel::transaction::versionBanner();
  text += varnel::wsq::wsqBanner();
  return text;
}

struct ConvertOptions {
  std::string source;
  std::string dest;
  std::string rules;
  std::vector<std::string> params;
  bool quiet = false;
  bool openReport = false;
  bool json = false;
  bool dryRun = false;
  bool noClobber = false;
  std::string shard;      // "K/N", checked when parsed
  int jobs = 0;           // 0: one per core
  std::string filesFrom;  // list of files to convert, "-" for stdin; "" for the whole folder
};

// The lines of the list of files to convert, from a file or "-" (stdin). False after saying why
// it cannot be read.
bool readFileList(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) {
      std::cerr << "varnel: list of files '" << path << "' cannot be read: " << std::strerror(errno)
                << "\n";
      return false;
    }
    in = &file;
  }
  for (std::string line; std::getline(*in, line);) lines.push_back(std::move(line));
  if (in->bad()) {
    std::cerr << "varnel: list of files '" << path << "' cannot be read\n";
    return false;
  }
  return true;
}

// A folder or file the command line names that is not there, said as what it is meant to be:
// "varnel: source folder '/x/y' does not exist". Returns false after saying so.
bool present(const std::string& path, const char* what) {
  std::error_code ec;
  if (path.empty() || std::filesystem::exists(path, ec)) return true;
  std::cerr << "varnel: " << what << " '" << path << "' does not exist\n";
  return false;
}

const char* rowKindName(varnel::rules::RowKind kind) {
  switch (kind) {
    case varnel::rules::RowKind::kError:
      return "error";
    case varnel::rules::RowKind::kWarning:
      return "warning";
    case varnel::rules::RowKind::kInfo:
      break;
  }
  return "message";
}

// The run as one JSON document: how it ended, the totals, the outputs, one entry per file.
void printRunJson(const char* ended, bool dryRun, const varnel::rules::RunSummary& summary) {
  const auto& c = summary.counts;
  nlohmann::json files = nlohmann::json::array();
  nlohmann::json outputs = nlohmann::json::array();
  for (const auto& f : summary.files) {
    nlohmann::json messages = nlohmann::json::array();
    bool warned = false;
    for (const auto& row : f.rows) {
      warned = warned || row.kind == varnel::rules::RowKind::kWarning;
      messages.push_back({{"kind", rowKindName(row.kind)}, {"text", row.text}});
    }
    const char* outcome = f.hadErrorRow ? "error" : (warned ? "warning" : "ok");
    nlohmann::json entry{{"name", f.name}, {"outcome", outcome}, {"messages", messages}};
    entry["output"] = f.output.empty() ? nlohmann::json(nullptr) : nlohmann::json(f.output);
    entry["exports"] = f.exports;
    if (!f.output.empty()) outputs.push_back(f.output);
    for (const auto& e : f.exports) outputs.push_back(e);
    files.push_back(std::move(entry));
  }
  const nlohmann::json doc{
      {"status", ended},
      {"dry_run", dryRun},
      {"report",
       summary.reportPath.empty() ? nlohmann::json(nullptr) : nlohmann::json(summary.reportPath)},
      {"totals",
       {{"files", c.total},
        {"processed", c.processed},
        {"errors", c.errors},
        {"warnings", c.warnings},
        {"messages", c.messages},
        {"files_with_errors", summary.filesWithErrors},
        {"seconds", static_cast<double>(c.elapsedMs) / 1000.0}}},
      {"outputs", outputs},
      {"files", files}};
  std::cout << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

// What a dry run would write: one line per file, "NAME -> OUTPUT, EXPORT...", or its errors.
void printDryRun(const varnel::rules::RunSummary& summary) {
  int converted = 0;
  for (const auto& f : summary.files) {
    std::cout << f.name;
    if (!f.output.empty() || !f.exports.empty()) {
      std::cout << " ->";
      const char* sep = " ";
      if (!f.output.empty()) {
        std::cout << sep << f.output;
        sep = ", ";
        ++converted;
      }
      for (const auto& e : f.exports) {
        std::cout << sep << e;
        sep = ", ";
      }
    }
    std::cout << "\n";
    for (const auto& row : f.rows) {
      if (row.kind != varnel::rules::RowKind::kInfo) {
        std::cout << "  " << rowKindName(row.kind) << ": " << row.text << "\n";
      }
    }
  }
  std::cout << "Dry run: " << converted << " of " << summary.counts.total
            << " files would be converted; nothing was written\n";
}

int runConvert(const ConvertOptions& o) {
  std::map<std::string, std::string> answers;
  for (const auto& p : o.params) {
    const std::size_t eq = p.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::cerr << "varnel convert: --param takes NAME=VALUE, not \"" << p << "\"\n";
      return kExitInvalidInput;
    }
    answers.emplace(p.substr(0, eq), p.substr(eq + 1));
  }
  if (!present(o.source, "source folder") || !present(o.dest, "destination folder") ||
      !present(o.rules, "rule file")) {
    return kExitInvalidInput;
  }
  varnel::rules::RunOptions options;
  if (!o.filesFrom.empty()) {
    options.filesFrom.emplace();
    if (!readFileList(o.filesFrom, *options.filesFrom)) return kExitInvalidInput;
  }
  varnel::cli::catchStopSignals();
  varnel::cli::ConsoleUi ui(std::move(answers), o.quiet, o.openReport);
  varnel::rules::RunSummary summary;
  options.dryRun = o.dryRun;
  options.noClobber = o.noClobber;
  if (!o.shard.empty()) (void)varnel::rules::parseShard(o.shard, options.shard);
  options.keepFileResults = o.json || o.dryRun;  // only these list the files
  options.jobs =
      o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
  const ConvertStatus status =
      varnel::rules::convertCommand(o.source, o.dest, o.rules, ui, summary, options);
  ui.finishProgress();
  if (status == ConvertStatus::kCompleted || status == ConvertStatus::kStopped) {
    for (const std::string& name : ui.unaskedParameters()) {
      std::cerr << "varnel convert: warning: no prompt asks for --param " << name << "\n";
    }
  }
  int code = kExitClean;
  const char* ended = "completed";
  switch (status) {
    case ConvertStatus::kInvalidInput:
      code = kExitInvalidInput;
      ended = "refused";
      break;
    case ConvertStatus::kCancelled:
      // With nobody to ask, a prompt without its --param is a usage error.
      code = ui.missingParameter().empty() ? kExitCancelled : kExitInvalidInput;
      ended = "cancelled";
      break;
    case ConvertStatus::kStopped:
      std::cerr << "varnel convert: stopped after " << summary.counts.processed << " of "
                << summary.counts.total << " files; report: " << summary.reportPath << "\n";
      code = kExitCancelled;
      ended = "stopped";
      break;
    case ConvertStatus::kReportFailed:
      code = kExitReportFailed;
      ended = "report failed";
      break;
    case ConvertStatus::kCompleted:
      code = summary.filesWithErrors > 0 ? kExitFileErrors : kExitClean;
      break;
  }
  if (o.json) {
    printRunJson(ended, o.dryRun, summary);
  } else if (o.dryRun && status == ConvertStatus::kCompleted) {
    printDryRun(summary);
  } else if (status == ConvertStatus::kCompleted && !o.dryRun) {
    const auto& c = summary.counts;
    std::cout << "Report: " << summary.reportPath << "\n"
              << c.processed << " processed of " << c.total << ", errors: " << c.errors
              << ", warnings: " << c.warnings << ", messages: " << c.messages << "\n";
  }
  return code;
}

int runRulesCheck(const std::string& path) {
  varnel::rules::RuleSet set;
  if (varnel::rules::readRuleFile(path, set) != varnel::rules::kRuleFileDone) {
    std::cerr << "varnel rules check: cannot read \"" << path << "\"\n";
    return 2;
  }
  int refused = 0;
  for (std::size_t i = 0; i < set.rules.size(); ++i) {
    const auto& rule = set.rules[i];
    const auto check = varnel::rules::validateRule(rule);
    std::cout << "Rule " << i + 1 << " \"" << rule.action << "\": ";
    const std::string warning = varnel::rules::structuralEditWarning(rule);
    if (check.accepted && !warning.empty()) {
      std::cout << "ok, warning: " << warning << "\n";
    } else if (check.accepted) {
      std::cout << "ok\n";
    } else {
      ++refused;
      std::cout << "refused" << (check.message.empty() ? "" : ": " + check.message) << "\n";
    }
  }
  std::cout << set.rules.size() << " rule(s), " << refused << " refused\n";
  return refused > 0 ? 1 : 0;
}

// Edit distance between two short words (insertions, deletions, substitutions).
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The subcommand nearest to a mistyped word, or "" when none is close.
std::string nearestCommand(const CLI::App& app, const std::string& word) {
  std::string best;
  std::size_t bestDistance = 3;  // more than two edits away is not a typo
  for (const CLI::App* sub : app.get_subcommands({})) {
    const std::string& name = sub->get_name();
    std::size_t d = editDistance(word, name);
    if (name.rfind(word, 0) == 0 && !word.empty()) d = 0;  // an unfinished name
    if (d < bestDistance) {
      bestDistance = d;
      best = name;
    }
  }
  return best;
}

// The deepest subcommand the command line selected, for its usage.
const CLI::App* selectedCommand(const CLI::App& app) {
  for (const CLI::App* sub : app.get_subcommands()) return selectedCommand(*sub);
  return &app;
}

// A usage error: the message, then the usage of the command it concerns, on stderr.
int usageError(const CLI::App& usage, const std::string& message) {
  std::cerr << "varnel: " << message << "\n\n" << usage.help();
  return kExitInvalidInput;
}

constexpr const char* kConvertExitStatuses =
    "Exit status:\n"
    "  0  the run completed and no file had an error row\n"
    "  1  the run completed; some files had error rows (see the report)\n"
    "  2  usage error, or inputs refused before anything was written\n"
    "  3  a prompt was cancelled, or the run was stopped by SIGINT or SIGTERM\n"
    "  4  the report could not be created or written\n";

}  // namespace

namespace {

// The program proper; main() adds only a last resort for an exception nothing else caught.
int varnelMain(int argc, char** argv) {
  CLI::App app{"Varnel: batch conversion of ANSI/NIST-ITL transaction files", "varnel"};
  app.set_version_flag("--version", versionText());
  app.require_subcommand(1);
  int exitCode = 0;

  ConvertOptions convert;
  auto* conv = app.add_subcommand("convert", "Convert every transaction file of a folder");
  conv->add_option("--source", convert.source, "Folder of transaction files")->required();
  conv->add_option("--dest", convert.dest, "Folder for the converted files and the report")
      ->required();
  conv->add_option("--rules", convert.rules, "Rule file (.ntx)")->required();
  conv->add_option("--param", convert.params,
                   "Answer to a \"Prompt for Parameter\" rule, NAME=VALUE (repeatable)");
  conv->add_flag("--quiet", convert.quiet, "No progress line");
  conv->add_flag("--open-report", convert.openReport, "Open the report when the run is done");
  conv->add_flag("--json", convert.json,
                 "Print the outcome as one JSON document on stdout: totals, outputs, every file");
  conv->add_flag("--dry-run", convert.dryRun,
                 "Run the rules and list what would be written; write nothing");
  conv->add_flag("--no-clobber", convert.noClobber,
                 "Do not replace outputs that already exist (error row instead)");
  conv->add_option("--shard", convert.shard,
                   "Convert only shard K of N of the name-sorted listing (positions K-1, "
                   "K-1+N, ...); merge the shards with 'varnel report merge'")
      ->type_name("K/N")
      ->check([](const std::string& text) {
        varnel::rules::Shard s;
        return varnel::rules::parseShard(text, s)
                   ? std::string()
                   : "expected K/N with 1 <= K <= N, not \"" + text + "\"";
      });
  conv->add_option("--jobs,-j", convert.jobs,
                   "Files converted at once, on as many threads (default: one per core); the "
                   "outputs and the report are the same whatever the number")
      ->check(CLI::Range(1, 1024));
  conv->add_option("--files-from", convert.filesFrom,
                   "Convert only the files listed in FILE (\"-\": stdin), one per line: names "
                   "in the source folder or absolute paths inside it, taken in name order")
      ->type_name("FILE");
  conv->footer(kConvertExitStatuses);
  conv->callback([&] { exitCode = runConvert(convert); });

  std::string ruleFile;
  auto* rules = app.add_subcommand("rules", "Work with rule files");
  rules->require_subcommand(1);
  auto* check =
      rules->add_subcommand("check", "Check every rule of a rule file as the editor does");
  check->add_option("FILE", ruleFile, "Rule file (.ntx)")->required();
  check->callback([&] { exitCode = runRulesCheck(ruleFile); });

  varnel::cli::addDumpCommand(app, exitCode);
  varnel::cli::addValidateCommand(app, exitCode);
  varnel::cli::addReportCommand(app, exitCode);
  varnel::cli::addWsqCommand(app, exitCode);
  varnel::cli::addJpeglCommand(app, exitCode);

  app.footer("Run 'varnel COMMAND --help' for the options of a command.");

  if (argc < 2) return usageError(app, "a command is required");
  const std::string first = argv[1];
  if (first == "help") {
    // "varnel help" and "varnel help COMMAND" show the usage on stdout.
    const CLI::App* topic = &app;
    if (argc > 2) {
      try {
        topic = app.get_subcommand(argv[2]);
      } catch (const CLI::Error&) {
        return usageError(app, "'" + std::string(argv[2]) + "' is not a varnel command");
      }
    }
    std::cout << topic->help();
    return 0;
  }
  if (first.empty() || first[0] != '-') {
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->get_name() == first;
    if (!known) {
      const std::string near = nearestCommand(app, first);
      return usageError(app, "'" + first + "' is not a varnel command" +
                                 (near.empty() ? "" : "; did you mean " + near + "?"));
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // Unknown options, missing required options, extra arguments: exit 2 with the usage.
    return usageError(*selectedCommand(app), e.what());
  }
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return varnelMain(argc, argv);
  } catch (const std::exception& e) {
    (void)std::fprintf(stderr, "varnel: %s\n", e.what());
  } catch (...) {
    (void)std::fprintf(stderr, "varnel: unexpected failure\n");
  }
  return 1;
}
