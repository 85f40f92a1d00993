#pragma once

#include <string>
#include <vector>

#include "rules/conformance/finding.h"

namespace varnel::rules::conformance {

/// The findings of one file, for listings and reports.
struct FileFindings {
  std::string path;
  /// 0 when the file loaded; the load status otherwise (the file then has no other findings).
  int loadStatus = 0;
  std::vector<Finding> findings;
  [[nodiscard]] bool hasErrors() const noexcept;
};

/// A readable listing: per file a head line with its counts, then one line per finding, errors
/// first, each in record order; a closing line sums the files up.
[[nodiscard]] std::string formatText(const std::vector<FileFindings>& files);

/// The findings as an HTML page in the look of the conversion report: an overview, then per file
/// its rows, errors first, with the error and warning icons. `time19` is the local time shown in
/// the title ("2026-12-09 12:00:00").
[[nodiscard]] std::string formatHtml(const std::vector<FileFindings>& files,
                                     const std::string& time19, const std::string& profileName);

/// Errors first, then warnings, each group in the order found (stable).
[[nodiscard]] std::vector<const Finding*> errorsFirst(const std::vector<Finding>& findings);

}  // namespace varnel::rules::conformance
