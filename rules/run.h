#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rules/action_context.h"
#include "rules/report.h"
#include "rules/shard.h"
#include "rules/ui_services.h"
#include "transaction/nist_file.h"

namespace varnel::rules {

/// True when `name` matches one of "*.nst", "*.eft", "*.lffs", "*.nist", "*.an2", "*.xnst",
/// "*.xml", "*.an2k", "*.ebts", "*.efts", "*.int" (case-insensitive).
[[nodiscard]] bool isTransactionFileName(std::string_view name) noexcept;

/// Lists the entries of `folder` (not recursive) whose names match a transaction pattern, in
/// byte order of the names, so that every machine takes them in the same order. Folders (and
/// links to folders) are skipped; other entries that are not regular files (FIFOs, devices,
/// sockets, dangling links) are listed, and the run gives each a warning row. Returns false when
/// the folder cannot be listed (`names` then empty).
[[nodiscard]] bool listTransactionFiles(const std::string& folder,
                                        std::vector<std::string>& names) noexcept;

/// The entries of a list of files to convert (one line each: a name relative to `folder`, which
/// ends with "/", or an absolute path inside it; blank lines and a trailing CR are ignored) as
/// the names a listing of the folder would give, sorted in byte order without repeats. An entry
/// that does not name an entry of the folder itself is kept as written; the run gives it an
/// error row. Returns false when memory runs out (`names` then empty).
[[nodiscard]] bool resolveListedFiles(const std::string& folder,
                                      const std::vector<std::string>& entries,
                                      std::vector<std::string>& names) noexcept;

/// Result of the Convert command's checks.
struct InputCheck {
  bool ok = false;
  std::string message;         ///< the message to show when not ok
  bool listingFailed = false;  ///< the folder could not be listed: "Failed" is shown first
  int count = 0;               ///< transaction files found
};

/// The Convert command's checks of the entered texts, in their order. Without `listSource` the
/// source folder is not listed (the files come from a list): no count, and no check that it
/// holds transaction files.
[[nodiscard]] InputCheck checkRunInputs(const std::string& source, const std::string& dest,
                                        const std::string& ruleFile,
                                        bool listSource = true) noexcept;

/// Appends "/" unless the text already ends with one.
[[nodiscard]] std::string withTrailingSlash(std::string folder);

/// True when the two paths name the same folder, however spelt (compared by device and inode).
[[nodiscard]] bool sameFolder(const std::string& a, const std::string& b) noexcept;

/// The work on one file: load, rules, save, and its rows. Depends only on the file, the run's
/// read-only inputs and whether saving is still enabled; `file` is the shared handle (its
/// previous content is replaced).
[[nodiscard]] FileOutcome convertFile(const RunInputs& in, const std::string& listedName,
                                      bool saveEnabled, transaction::NistFile& file) noexcept;

/// Fills the per-file state from a listed name (extension split, display name).
void startFileState(const std::string& listedName, FileState& state);

/// Path (under in.destFolder) the converted file is written to, or kPathOutsideDestination when
/// the base name and extension would lead outside the destination folder.
[[nodiscard]] int outputPath(const RunInputs& in, const FileState& state, std::string& out);

/// How a run is carried out.
struct RunOptions {
  bool dryRun = false;     ///< run the rules, write nothing (no report, CSV, output or folder)
  bool noClobber = false;  ///< outputs that already exist are not replaced (error row)
  /// Only this shard of the listing; the report, results file and shard record carry its name.
  Shard shard;
  /// Threads converting files at once. Whatever the number, outputs, report rows, results.csv
  /// and numbering come out as with 1; a stop request finishes the files already taken.
  int jobs = 1;
  /// When set, the run takes these entries (see resolveListedFiles) instead of listing the
  /// source folder.
  std::optional<std::vector<std::string>> filesFrom;
  /// RunSummary::files gets one entry per file. Without it the memory of a run does not grow
  /// with the number of files.
  bool keepFileResults = true;
};

/// How a run ended.
enum class RunStatus {
  kCompleted,     ///< the report is complete (files may have failed)
  kCancelled,     ///< a prompt was cancelled; nothing was written
  kReportFailed,  ///< the report could not be created (nothing converted) or written (the run
                  ///< stopped at the first failed write)
  kRefused,       ///< the run did not start: unreadable rule file, unknown action, destination
                  ///< that is the source or is in use by another run; nothing was written
  kStopped,       ///< stopped on request between files; the report and results.csv are complete
                  ///< for the files done
};

/// What became of one file of a run, as its report rows tell it.
struct FileResult {
  std::string name;                  ///< the name the report shows
  std::string output;                ///< path written, relative to the destination folder, or ""
  std::vector<std::string> exports;  ///< exports written, relative to the destination folder
  std::vector<ReportRow> rows;       ///< the file's report rows, in order
  bool hadErrorRow = false;
};

/// What a run leaves for its caller.
struct RunSummary {
  RunCounts counts;
  int filesWithErrors = 0;  ///< files that got at least one error row
  std::string reportPath;
  std::vector<FileResult> files;  ///< one per file taken, in the order of the run (when kept)
};

/// Why a transaction file did not load, from the status NistFile::load returned ("" when the
/// status says nothing more than that it failed).
[[nodiscard]] std::string_view loadFailureReason(int status) noexcept;

/// Why the file at `path` did not load with `status`: for a file whose structure could not be
/// read, where its record lengths go wrong (missing, or past the end of the file, with the byte
/// offsets), else loadFailureReason. "" when nothing more is known.
[[nodiscard]] std::string loadFailureDetail(const std::string& path, int status) noexcept;

/// A whole run over the source folder. Folders end with "/". `total` is the count found by the
/// checks (display only). For the whole run the destination folder is locked (flock) against
/// other runs; a run that finds it locked is refused with a message. Shards of one folder
/// share that lock and each locks its own shard record, so a second run of the same shard is
/// refused. Every problem that stops
/// or refuses the run is shown with ui.showMessage.
[[nodiscard]] RunStatus runConversion(const std::string& sourceFolder,
                                      const std::string& destFolder, const std::string& ruleFile,
                                      int total, UiServices& ui, RunSummary& summary,
                                      const RunOptions& options = {}) noexcept;

/// How the Convert command ended.
enum class ConvertStatus { kInvalidInput, kCancelled, kReportFailed, kCompleted, kStopped };

/// The Convert command: checks the entered texts (showing the first failure), remembers them,
/// runs, and offers to open the report.
[[nodiscard]] ConvertStatus convertCommand(const std::string& source, const std::string& dest,
                                           const std::string& ruleFile, UiServices& ui,
                                           RunSummary& summary,
                                           const RunOptions& options = {}) noexcept;

}  // namespace varnel::rules
