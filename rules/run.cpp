#include "rules/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "rules/detail/text.h"
#include "rules/engine.h"
#include "rules/status.h"
#include "transaction/traditional.h"

#ifdef VARNEL_HAVE_XML
#include "xml/xml_codec.h"
#endif

namespace varnel::rules {
namespace {

namespace fs = std::filesystem;
using transaction::NistFile;

constexpr std::string_view kPatterns[] = {".nst", ".eft", ".lffs", ".nist", ".an2", ".xnst"};

char lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool endsWithNoCase(std::string_view text, std::string_view suffix) noexcept {
  if (text.size() < suffix.size()) return false;
  const std::string_view tail = text.substr(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (lower(tail[i]) != suffix[i]) return false;
  }
  return true;
}

std::string localTime(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[64];
  const std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

// Creates a temporary file beside `path` (same folder, so the rename cannot cross file
// systems). The name is derived from the final name and the process id; the mode honours the
// umask like any new file.
int createTemporary(const std::string& path, std::string& tmp) {
  const std::size_t slash = path.rfind('/') + 1;
  tmp = path.substr(0, slash) + "." + path.substr(slash) + ".varnel-" + std::to_string(::getpid()) +
        ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    // Left over by an earlier process that had our id and was interrupted.
    ::unlink(tmp.c_str());
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  return fd;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes the converted transaction next to its final place and renames it there, so that a
// failed or interrupted save never leaves a partial output file.
bool savesXml(const NistFile& file, const FileState& st) noexcept {
  return st.saveFormat == SaveFormat::kXml ||
         (st.saveFormat == SaveFormat::kSameAsInput && file.isXml());
}

int saveAtomically(const NistFile& file, const FileState& st, const std::string& path) noexcept {
  try {
    const bool xml = savesXml(file, st);
    std::string bytes;
    int rc = kOk;
    if (!xml) {
      // Serialised before anything is created, so a transaction that cannot be written leaves
      // no file at all.
      if (file.transaction() == nullptr) return transaction::kNoTransaction;
      rc = transaction::writeTraditionalBytes(*file.transaction(), bytes);
      if (rc != 0) return rc < 0 ? rc : kWriteFailed;
    }
    std::string tmp;
    const int fd = createTemporary(path, tmp);
    if (fd < 0) return kWriteFailed;
    if (xml) {
      ::close(fd);
      rc = file.saveXml(tmp);
    } else {
      const bool written = writeAll(fd, bytes);
      const bool closed = ::close(fd) == 0;
      rc = written && closed ? kOk : kWriteFailed;
    }
    if (rc == 0 && std::rename(tmp.c_str(), path.c_str()) != 0) rc = kWriteFailed;
    if (rc != 0) {
      ::unlink(tmp.c_str());
      return rc < 0 ? rc : kWriteFailed;
    }
    return kOk;
  } catch (...) {
    return kOutOfMemory;
  }
}

ReportRow fileRow(RowKind kind, RowCounter counter, std::string text);

// A binary header value the traditional encoding cannot store (an IDC "A1" or "300" read from
// XML into a 1-byte field) is an error of its record, rather than a number written wrapped or
// a save that fails without saying why.
void reportUnfitValue(const NistFile& file, FileOutcome& out) {
  int position = 0;
  int field = 0;
  int width = 0;
  std::string text;
  if (file.findUnfitBinaryValue(position, field, text, width) != 1) return;
  const int type = file.recordTypeAt(position);
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "Record %d (Type %d): field %d.%03d value \"%s\" does not fit its %d-byte binary "
                "field",
                position + 1, type, type, field, text.substr(0, 40).c_str(), width);
  out.rows.push_back(fileRow(RowKind::kError, RowCounter::kErrors, buf));
  out.hadErrorRow = true;
  out.refusedEdit = true;
}

ReportRow fileRow(RowKind kind, RowCounter counter, std::string text) {
  return ReportRow{kind, counter, true, std::move(text)};
}

// The columns of results.csv: opened at the first "Output to CSV" value of the run; one header
// line (the headings of the first file that had any) and one value line per file.
class CsvWriter {
 public:
  explicit CsvWriter(std::string destFolder) : dest_(std::move(destFolder)) {}

  void take(const std::vector<CsvCell>& cells) {
    for (const auto& cell : cells) {
      if (!open()) continue;
      if (!headerWritten_) {
        detail::appendLimited(header_, cell.heading, kMaxCsvLine);
        detail::appendLimited(header_, "\t", kMaxCsvLine);
      }
      detail::appendLimited(values_, cell.value, kMaxCsvLine);
      detail::appendLimited(values_, "\t", kMaxCsvLine);
    }
    if (!file_) return;
    if (!headerWritten_) {
      writeLine(header_);
      headerWritten_ = true;
    }
    writeLine(values_);
  }

 private:
  struct Closer {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
  };

  bool open() {
    if (!file_) file_.reset(std::fopen((dest_ + "results.csv").c_str(), "wb"));
    return file_ != nullptr;
  }

  // The trailing tab becomes the line's carriage return; a line cut at the limit ends in one too.
  void writeLine(std::string& line) {
    if (line.empty()) return;
    if (line.back() == '\t') {
      line.back() = '\r';
    } else if (line.size() >= kMaxCsvLine) {
      line.resize(kMaxCsvLine - 1);
      line.push_back('\r');
    } else {
      line.push_back('\r');
    }
    (void)std::fwrite(line.data(), 1, line.size(), file_.get());
    line.clear();
  }

  std::string dest_;
  std::unique_ptr<std::FILE, Closer> file_;
  bool headerWritten_ = false;
  std::string header_;
  std::string values_;
};

// The run-wide state: counters, report and results.csv take each file's outcome in listing
// order, so the per-file work could run anywhere as long as outcomes arrive in that order.
class RunState {
 public:
  RunState(ReportFile& report, std::string destFolder)
      : report_(report), csv_(std::move(destFolder)) {}

  void take(const FileOutcome& o, RunSummary& summary) {
    ++summary.counts.processed;
    if (o.rulesRan) csv_.take(o.csv);
    for (const auto& row : o.rows) {
      (void)report_.append(row, o.displayName);
      switch (row.counter) {
        case RowCounter::kErrors:
          ++summary.counts.errors;
          break;
        case RowCounter::kWarnings:
          ++summary.counts.warnings;
          break;
        case RowCounter::kMessages:
          ++summary.counts.messages;
          break;
        case RowCounter::kNone:
          break;
      }
    }
    if (o.hadErrorRow) ++summary.filesWithErrors;
    if (o.disabledSave) saveEnabled = false;
  }

  bool saveEnabled = true;

 private:
  ReportFile& report_;
  CsvWriter csv_;
};

}  // namespace

bool isTransactionFileName(std::string_view name) noexcept {
  for (std::string_view p : kPatterns) {
    if (endsWithNoCase(name, p)) return true;
  }
  return false;
}

bool listTransactionFiles(const std::string& folder, std::vector<std::string>& names) noexcept {
  names.clear();
  try {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return false;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
      if (ec) break;
      std::error_code typeEc;
      // Only regular files (or links to them): a FIFO or device would block or never end.
      if (!it->is_regular_file(typeEc)) continue;
      std::string name = it->path().filename().string();
      if (isTransactionFileName(name)) names.push_back(std::move(name));
    }
    return true;
  } catch (...) {
    names.clear();
    return false;
  }
}

InputCheck checkRunInputs(const std::string& source, const std::string& dest,
                          const std::string& ruleFile) noexcept {
  InputCheck c;
  try {
    std::error_code ec;
    if (source.empty()) {
      c.message = "You must enter a source folder";
    } else if (dest.empty()) {
      c.message = "You must enter a destination folder";
    } else if (!fs::is_directory(source, ec)) {
      c.message = "Source NIST Path does not exist";
    } else if (ruleFile.empty() || !fs::exists(ruleFile, ec) || fs::is_directory(ruleFile, ec)) {
      c.message = "Rule file does not exist";
    } else if (!fs::is_directory(dest, ec)) {
      c.message = "Destination NIST Path does not exist";
    } else if (source == dest) {
      c.message = "Source and Destination paths cannot be the same";
    } else {
      std::vector<std::string> names;
      c.listingFailed = !listTransactionFiles(withTrailingSlash(source), names);
      c.count = static_cast<int>(names.size());
      if (c.count == 0) {
        c.message = "No Files in this folder to convert";
      } else {
        c.ok = true;
      }
    }
  } catch (...) {
    c.ok = false;
    c.message = "Failed";
  }
  return c;
}

std::string withTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

void startFileState(const std::string& listedName, FileState& st) {
  st = FileState{};
  st.listedName = listedName;
  st.baseName = listedName;
  const std::size_t dot = listedName.rfind('.');
  if (dot != std::string::npos) {
    st.inputExtension = listedName.substr(dot + 1);
    st.outputExtension = st.inputExtension;
    st.baseName = listedName.substr(0, dot);
  }
  st.displayName = st.baseName + "." + st.inputExtension;
}

int outputPath(const RunInputs& in, const FileState& st, std::string& out) {
  std::string rel = st.baseName + "." + st.outputExtension;
  // A "\" written in a rule is a directory separator too.
  for (char& c : rel) {
    if (c == '\\') c = '/';
  }
  if (rel.front() == '/') return kPathOutsideDestination;
  std::size_t pos = 0;
  while (pos <= rel.size()) {
    std::size_t slash = rel.find('/', pos);
    if (slash == std::string::npos) slash = rel.size();
    if (rel.compare(pos, slash - pos, "..") == 0) return kPathOutsideDestination;
    pos = slash + 1;
  }
  if (rel.back() == '/') return kPathOutsideDestination;
  out = in.destFolder + rel;
  return kOk;
}

FileOutcome convertFile(const RunInputs& in, const std::string& listedName, bool saveEnabled,
                        NistFile& file) noexcept {
  FileOutcome out;
  try {
    FileState st;
    startFileState(listedName, st);
    st.saveEnabled = saveEnabled;
    out.displayName = st.displayName;
    if (file.load(in.sourceFolder + listedName) != 0) {
      out.rows.push_back(fileRow(RowKind::kError, RowCounter::kErrors, "Invalid NIST File"));
      out.hadErrorRow = true;
      return out;
    }
    ActionContext ctx(file, st, in, out);
    for (const auto& rule : in.rules.rules) applyRule(rule, ctx);
    out.rulesRan = true;
    if (st.saveEnabled && !out.refusedEdit && !savesXml(file, st)) reportUnfitValue(file, out);
    if (out.refusedEdit) {
      // A rule could not make its edit: the file would not be what the rules ask for, so none
      // is written rather than one that looks converted.
      out.rows.push_back(fileRow(RowKind::kError, RowCounter::kNone,
                                 "NIST File not saved: a rule could not be applied"));
      return out;
    }
    if (!st.saveEnabled) {
      out.rows.push_back(
          fileRow(RowKind::kInfo, RowCounter::kMessages, "NIST File successfully processed"));
      return out;
    }
    std::string path;
    int rc = outputPath(in, st, path);
    if (rc == kOk) rc = saveAtomically(file, st, path);
    if (rc != kOk) {
      out.rows.push_back(
          fileRow(RowKind::kError, RowCounter::kNone, "An error occurred saving the NIST file"));
      out.hadErrorRow = true;
    } else {
      out.rows.push_back(
          fileRow(RowKind::kInfo, RowCounter::kMessages, "NIST File successfully converted"));
    }
  } catch (...) {
    out.rows.push_back(
        fileRow(RowKind::kError, RowCounter::kNone, "An error occurred saving the NIST file"));
    out.hadErrorRow = true;
  }
  return out;
}

RunStatus runConversion(const std::string& sourceFolder, const std::string& destFolder,
                        const std::string& ruleFile, int total, UiServices& ui,
                        RunSummary& summary) noexcept {
  try {
    summary = RunSummary{};
    summary.counts.total = total;
    RunInputs in;
    in.sourceFolder = sourceFolder;
    in.destFolder = destFolder;
#ifdef VARNEL_HAVE_XML
    static const xml::XmlCodecImpl kXmlCodec;
    in.xml = &kXmlCodec;
#endif
    // A rule file that cannot be read gives no rules: every file is loaded and saved.
    (void)readRuleFile(ruleFile, in.rules);

    for (const auto& rule : in.rules.rules) {
      if (rule.action != "Prompt for Parameter") continue;
      std::string answer = ui.promptText(rule.parameter(2), rule.parameter(1));
      if (answer == kPromptCancelled) {
        (void)ui.showMessage("Conversion was cancelled", kCaption, UiServices::Buttons::kOk,
                             UiServices::Icon::kExclamation);
        return RunStatus::kCancelled;
      }
      answer = detail::truncateUtf8(answer, kMaxPromptAnswer);
      in.answers.push_back(PromptAnswer{rule.parameter(1), rule.parameter(2), std::move(answer)});
    }

    std::vector<std::string> names;
    const bool listed = listTransactionFiles(sourceFolder, names);

    summary.reportPath = destFolder + "VarnelReport" + localTime("_%Y-%m-%d_%H-%M-%S") + ".html";
    ReportFile report;
    if (report.create(summary.reportPath, localTime("%Y-%m-%d %H:%M:%S")) != kOk) {
      (void)ui.showMessage("The report file could not be created: " + summary.reportPath, kCaption,
                           UiServices::Buttons::kOk, UiServices::Icon::kError);
      return RunStatus::kReportFailed;
    }
    const auto start = std::chrono::steady_clock::now();
    if (!listed) {
      (void)ui.showMessage("Failed", kCaption, UiServices::Buttons::kOk, UiServices::Icon::kError);
    }
    NistFile file(in.xml);
    RunState state(report, destFolder);
    char status[64];
    for (const auto& name : names) {
      const FileOutcome outcome = convertFile(in, name, state.saveEnabled, file);
      state.take(outcome, summary);
      ui.setProgressPosition(summary.counts.processed);
      const int n = std::snprintf(status, sizeof status, "%d processed of %d",
                                  summary.counts.processed, total);
      ui.setStatusText(n > 0 ? std::string_view(status) : std::string_view());
    }
    const auto end = std::chrono::steady_clock::now();
    summary.counts.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
    (void)report.finish(summary.counts);
    return RunStatus::kCompleted;
  } catch (...) {
    return RunStatus::kReportFailed;
  }
}

ConvertStatus convertCommand(const std::string& source, const std::string& dest,
                             const std::string& ruleFile, UiServices& ui,
                             RunSummary& summary) noexcept {
  const InputCheck check = checkRunInputs(source, dest, ruleFile);
  if (!check.ok) {
    if (check.listingFailed) {
      (void)ui.showMessage("Failed", "", UiServices::Buttons::kOk, UiServices::Icon::kNone);
    }
    (void)ui.showMessage(check.message, kCaption, UiServices::Buttons::kOk,
                         UiServices::Icon::kNone);
    return ConvertStatus::kInvalidInput;
  }
  ui.setStatusText("");
  ui.setProgressRange(0, check.count);
  ui.setProgressPosition(0);
  ui.rememberPaths(source, dest, ruleFile);
  try {
    const RunStatus rs = runConversion(withTrailingSlash(source), withTrailingSlash(dest), ruleFile,
                                       check.count, ui, summary);
    if (rs == RunStatus::kCancelled) return ConvertStatus::kCancelled;
    if (rs == RunStatus::kReportFailed) return ConvertStatus::kReportFailed;
  } catch (...) {
    return ConvertStatus::kReportFailed;
  }
  const auto answer =
      ui.showMessage("Conversion complete, would you like to see the report?", kCaption,
                     UiServices::Buttons::kYesNo, UiServices::Icon::kQuestion);
  if (answer == UiServices::Answer::kYes) ui.openWithDefaultApplication(summary.reportPath);
  return ConvertStatus::kCompleted;
}

}  // namespace varnel::rules
