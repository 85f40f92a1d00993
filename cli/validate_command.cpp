// `varnel validate`: conformance findings of transaction files, as text, JSON or HTML.
#include "cli/validate_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>

#include "rules/conformance/output.h"
#include "rules/conformance/validator.h"
#include "rules/run.h"
#include "transaction/nist_file.h"
#include "xml/xml_codec.h"

namespace varnel::cli {
namespace {

namespace fs = std::filesystem;
using rules::conformance::FileFindings;
using rules::conformance::Finding;
using rules::conformance::Profile;

// The files to validate: named files as given, folders' transaction files sorted by name.
bool collect(const std::vector<std::string>& paths, std::vector<std::string>& files,
             std::ostream& err) {
  for (const std::string& p : paths) {
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      std::vector<std::string> names;
      if (!rules::listTransactionFiles(p, names)) {
        err << "varnel validate: cannot list " << p << "\n";
        return false;
      }
      std::sort(names.begin(), names.end());
      for (const std::string& n : names) files.push_back((fs::path(p) / n).string());
    } else if (fs::exists(p, ec)) {
      files.push_back(p);
    } else {
      err << "varnel validate: no such file or folder: " << p << "\n";
      return false;
    }
  }
  return true;
}

nlohmann::json toJson(const std::vector<FileFindings>& results, const std::string& profile) {
  nlohmann::json files = nlohmann::json::array();
  int withErrors = 0;
  for (const FileFindings& f : results) {
    nlohmann::json findings = nlohmann::json::array();
    for (const Finding* x : rules::conformance::errorsFirst(f.findings)) {
      findings.push_back({{"severity", rules::conformance::severityName(x->severity)},
                          {"check", x->check},
                          {"recordType", x->recordType},
                          {"recordPosition", x->recordPosition},
                          {"idc", x->idc},
                          {"field", x->field},
                          {"mnemonic", x->mnemonic},
                          {"expected", x->expected},
                          {"found", x->found},
                          {"message", x->message}});
    }
    withErrors += f.hasErrors();
    files.push_back({{"path", f.path},
                     {"loaded", f.loadStatus == 0},
                     {"status", f.loadStatus},
                     {"errors", rules::conformance::countFindings(
                                    f.findings, rules::conformance::Severity::kError)},
                     {"warnings", rules::conformance::countFindings(
                                      f.findings, rules::conformance::Severity::kWarning)},
                     {"findings", std::move(findings)}});
  }
  return {{"profile", profile},
          {"files", std::move(files)},
          {"filesWithErrors", withErrors},
          {"fileCount", results.size()}};
}

std::string localTime19() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) == 0) return "";
  return buf;
}

}  // namespace

int runValidate(const ValidateOptions& options, std::ostream& out, std::ostream& err) {
  if (options.paths.empty()) {
    err << "varnel validate: name at least one file or folder\n";
    return 2;
  }
  Profile profile;
  std::string error;
  if (rules::conformance::loadProfile(options.profile, profile, error) < 0) {
    err << "varnel validate: " << error << "\n";
    return 2;
  }
  std::vector<std::string> files;
  if (!collect(options.paths, files, err)) return 2;
  static const xml::XmlCodecImpl kXml;
  transaction::NistFile file(&kXml);
  std::vector<FileFindings> results;
  results.reserve(files.size());
  for (const std::string& path : files) {
    FileFindings r;
    r.path = path;
    r.loadStatus = file.load(path);
    if (r.loadStatus == 0 &&
        rules::conformance::validateTransaction(file, profile, r.findings) < 0) {
      err << "varnel validate: out of memory\n";
      return 2;
    }
    results.push_back(std::move(r));
  }
  if (options.json) {
    out << toJson(results, profile.name())
               .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
        << "\n";
  } else {
    out << rules::conformance::formatText(results);
  }
  if (!options.html.empty()) {
    std::ofstream html(options.html, std::ios::binary);
    html << rules::conformance::formatHtml(results, localTime19(), profile.name());
    if (!html) {
      err << "varnel validate: cannot write " << options.html << "\n";
      return 2;
    }
  }
  const bool errors = std::any_of(results.begin(), results.end(),
                                  [](const FileFindings& f) { return f.hasErrors(); });
  return errors ? 1 : 0;
}

void addValidateCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ValidateOptions>();
  auto* cmd = app.add_subcommand(
      "validate", "Check transaction files against the standard or a receiver's profile");
  // Checked by runValidate, so that a missing path is a usage error with status 2.
  cmd->add_option("PATH", options->paths, "Transaction files or folders");
  cmd->add_flag("--json", options->json, "List the findings as JSON");
  cmd->add_option("--profile", options->profile,
                  "\"base\" (the standard) or a profile file that tightens it");
  cmd->add_option("--html", options->html, "Also write an HTML report to this file");
  cmd->callback([options, &exitCode] { exitCode = runValidate(*options, std::cout, std::cerr); });
}

}  // namespace varnel::cli
