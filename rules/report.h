#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "rules/action_context.h"

namespace varnel::rules {

/// Size of the space reserved for the overview right after the report template.
inline constexpr std::size_t kOverviewAreaSize = 512;

/// The counts and times of a run shown in the report's overview.
struct RunCounts {
  int processed = 0;
  int total = 0;
  int errors = 0;
  int warnings = 0;
  int messages = 0;
  long long elapsedMs = 0;
  bool stopped = false;  ///< the run was stopped before the end of the folder
};

/// The report template with its 19-character time slot filled by `time19` (cut or padded with
/// spaces to 19 characters). Its length does not depend on the time.
[[nodiscard]] std::string reportTemplate(std::string_view time19);
/// The messages header written after the overview area.
[[nodiscard]] std::string_view messagesHeader() noexcept;
/// The overview block (at most kOverviewAreaSize bytes). A stopped run says so after its count.
[[nodiscard]] std::string formatOverview(const RunCounts& counts);
/// One message row; file rows show `displayName`. Name and text are escaped for HTML.
[[nodiscard]] std::string formatRow(const ReportRow& row, std::string_view displayName);
/// Escapes &, <, >, " and ' for HTML text and attribute values.
[[nodiscard]] std::string escapeHtml(std::string_view text);
/// The closing text after the last row.
[[nodiscard]] std::string_view reportTail() noexcept;
/// A 16x16 PNG icon as a data URI: 0 tick, 1 information, 2 warning, 3 error.
[[nodiscard]] std::string iconDataUri(int icon);

/// The report file of one run: template, overview area, messages header, rows, and the
/// overview written back into its area when the run ends.
class ReportFile {
 public:
  /// Creates the report at `path` and writes everything up to the messages header. Whatever was
  /// at `path` (a file, a link) is replaced, never written through. Returns 0, or kWriteFailed
  /// when the file cannot be created or written (see error()).
  [[nodiscard]] int create(const std::string& path, std::string_view time19) noexcept;
  /// Appends a row. Returns 0 or kWriteFailed.
  int append(const ReportRow& row, std::string_view displayName) noexcept;
  /// Hands the rows appended so far to the system, so that a run killed later leaves them.
  /// Returns 0 or kWriteFailed (also when an earlier row failed).
  int flush() noexcept;
  /// Writes the overview into its area, the closing text at the end, and closes the file.
  /// Returns 0 or kWriteFailed.
  [[nodiscard]] int finish(const RunCounts& counts) noexcept;
  /// True once a write of the report failed (rows are then missing from it).
  [[nodiscard]] bool failed() const noexcept { return failed_; }
  /// The system's error number of the first failed write (0 when none failed or it is unknown).
  [[nodiscard]] int error() const noexcept { return error_; }
  /// Bytes of the rows appended so far.
  [[nodiscard]] std::uint64_t rowBytes() const noexcept { return rowBytes_; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const noexcept { (void)std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  long templateLength_ = 0;
  bool failed_ = false;
  int error_ = 0;
  std::uint64_t rowBytes_ = 0;

  void fail() noexcept;
};

}  // namespace varnel::rules
