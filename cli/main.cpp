// The varnel command line: convert a folder, check a rule file, dump a transaction.
#include <CLI/CLI.hpp>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "cli/console_ui.h"
#include "cli/dump.h"
#include "cli/validate_command.h"
#include "rules/rule_set.h"
#include "rules/run.h"
#include "rules/status.h"
#include "transaction/nist_file.h"

#if __has_include("cli/wsq_command.h")
#include "cli/wsq_command.h"
#define VARNEL_CLI_WSQ 1
#endif
#if __has_include("cli/jpegl_command.h")
#include "cli/jpegl_command.h"
#define VARNEL_CLI_JPEGL 1
#endif
#if __has_include("imaging/wsq/wsq.h") && defined(VARNEL_HAVE_WSQ)
#include "imaging/wsq/wsq.h"
#endif

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
#if defined(VARNEL_HAVE_WSQ)
  text += varnel::wsq::wsqBanner();
#endif
  return text;
}

struct ConvertOptions {
  std::string source;
  std::string dest;
  std::string rules;
  std::vector<std::string> params;
  bool quiet = false;
  bool openReport = false;
};

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
  varnel::cli::catchStopSignals();
  varnel::cli::ConsoleUi ui(std::move(answers), o.quiet, o.openReport);
  varnel::rules::RunSummary summary;
  const ConvertStatus status =
      varnel::rules::convertCommand(o.source, o.dest, o.rules, ui, summary);
  ui.finishProgress();
  switch (status) {
    case ConvertStatus::kInvalidInput:
      return kExitInvalidInput;
    case ConvertStatus::kCancelled:
      return kExitCancelled;
    case ConvertStatus::kStopped:
      std::cerr << "varnel convert: stopped after " << summary.counts.processed << " of "
                << summary.counts.total << " files; report: " << summary.reportPath << "\n";
      return kExitCancelled;
    case ConvertStatus::kReportFailed:
      return kExitReportFailed;
    case ConvertStatus::kCompleted:
      break;
  }
  const auto& c = summary.counts;
  std::cout << "Report: " << summary.reportPath << "\n"
            << c.processed << " processed of " << c.total << ", errors: " << c.errors
            << ", warnings: " << c.warnings << ", messages: " << c.messages << "\n";
  return summary.filesWithErrors > 0 ? kExitFileErrors : kExitClean;
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Varnel: batch conversion of ANSI/NIST-ITL transaction files"};
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
#ifdef VARNEL_CLI_WSQ
  varnel::cli::addWsqCommand(app, exitCode);
#endif
#ifdef VARNEL_CLI_JPEGL
  varnel::cli::addJpeglCommand(app, exitCode);
#endif

  CLI11_PARSE(app, argc, argv);
  return exitCode;
}
