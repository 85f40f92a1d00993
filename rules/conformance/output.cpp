#include "rules/conformance/output.h"

#include "rules/conformance/validator.h"
#include "rules/report.h"

namespace varnel::rules::conformance {
namespace {

std::string plural(int n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string countsLine(const FileFindings& f) {
  if (f.loadStatus != 0) {
    return "cannot be read as a transaction (status " + std::to_string(f.loadStatus) + ")";
  }
  const int e = countFindings(f.findings, Severity::kError);
  const int w = countFindings(f.findings, Severity::kWarning);
  if (e == 0 && w == 0) return "conforms";
  return plural(e, "error") + ", " + plural(w, "warning");
}

}  // namespace

bool FileFindings::hasErrors() const noexcept {
  return loadStatus != 0 || countFindings(findings, Severity::kError) > 0;
}

std::vector<const Finding*> errorsFirst(const std::vector<Finding>& findings) {
  std::vector<const Finding*> out;
  out.reserve(findings.size());
  for (const Severity s : {Severity::kError, Severity::kWarning}) {
    for (const Finding& f : findings) {
      if (f.severity == s) out.push_back(&f);
    }
  }
  return out;
}

std::string formatText(const std::vector<FileFindings>& files) {
  std::string out;
  int withErrors = 0;
  for (const FileFindings& f : files) {
    withErrors += f.hasErrors();
    out += f.path + ": " + countsLine(f) + "\n";
    for (const Finding* x : errorsFirst(f.findings)) {
      out += x->severity == Severity::kError ? "  error    " : "  warning  ";
      out += x->message + "\n";
    }
  }
  out += plural(static_cast<int>(files.size()), "file") + ", " + std::to_string(withErrors) +
         " with errors\n";
  return out;
}

std::string formatHtml(const std::vector<FileFindings>& files, const std::string& time19,
                       const std::string& profileName) {
  std::string out = reportTemplate(time19);
  // The conversion report's page, titled for what this one reports.
  for (std::size_t at = out.find("Conversion Report"); at != std::string::npos;
       at = out.find("Conversion Report", at)) {
    out.replace(at, 10, "Validation");
  }
  int errors = 0;
  int warnings = 0;
  int withErrors = 0;
  for (const FileFindings& f : files) {
    errors += f.loadStatus != 0 ? 1 : countFindings(f.findings, Severity::kError);
    warnings += countFindings(f.findings, Severity::kWarning);
    withErrors += f.hasErrors();
  }
  out += "<div id=\"content\"><h2>Overview</h2><div>" +
         plural(static_cast<int>(files.size()), "file") + " validated against the profile " +
         escapeHtml(profileName) + "<br/>Files with errors: " + std::to_string(withErrors) +
         "<br/>Errors: " + std::to_string(errors) + "<br/>Warnings: " + std::to_string(warnings) +
         "<br/></div>";
  out += messagesHeader();
  for (const FileFindings& f : files) {
    ReportRow head;
    head.kind =
        f.hasErrors() ? RowKind::kError : (f.findings.empty() ? RowKind::kInfo : RowKind::kWarning);
    head.text = countsLine(f);
    out += formatRow(head, f.path);
    for (const Finding* x : errorsFirst(f.findings)) {
      ReportRow row;
      row.kind = x->severity == Severity::kError ? RowKind::kError : RowKind::kWarning;
      row.text = x->message;
      out += formatRow(row, f.path);
    }
  }
  out += reportTail();
  return out;
}

}  // namespace varnel::rules::conformance
