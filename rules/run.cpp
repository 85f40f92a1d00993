#include "rules/run.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "rules/detail/file_listing.h"
#include "rules/detail/ordered_pipeline.h"
#include "rules/detail/output_files.h"
#include "rules/detail/text.h"
#include "rules/engine.h"
#include "rules/shard.h"
#include "rules/status.h"
#include "transaction/file_io.h"
#include "transaction/status.h"
#include "transaction/traditional.h"
#include "xml/status.h"
#include "xml/xml_codec.h"

namespace varnel::rules {
namespace {

namespace fs = std::filesystem;
using transaction::NistFile;

constexpr std::string_view kPatterns[] = {".nst", ".eft",  ".lffs", ".nist", ".an2", ".xnst",
                                          ".xml", ".an2k", ".ebts", ".efts", ".int"};

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

// True when the file is saved in the XML encoding.
bool savesXml(const NistFile& file, const FileState& st) noexcept {
  return st.saveFormat == SaveFormat::kXml ||
         (st.saveFormat == SaveFormat::kSameAsInput && file.isXml());
}

// Writes the converted transaction under a temporary name next to its final place and renames
// it there, so that a failed or interrupted save never leaves a partial output file and a link
// already at the final name is replaced, not followed. Returns 0 or the failure, with the
// system's error number in `err` when the system refused a write (0 otherwise).
int saveAtomically(const NistFile& file, const FileState& st, const std::string& path,
                   RunOutputs* outputs, int& err) noexcept {
  err = 0;
  try {
    const bool xml = savesXml(file, st);
    if (!xml && file.transaction() == nullptr) return transaction::kNoTransaction;
    // Streamed from the tree through the writer's block buffer into the temporary file, which
    // is removed if the transaction cannot be written.
    const auto fill = [&](int fd, int& e) {
      const int w = xml ? file.saveXml(fd, e) : file.saveTraditional(fd, e);
      return w > 0 ? kWriteFailed : w;
    };
    return outputs != nullptr ? outputs->fill(path, fill, err)
                              : detail::fillThroughTemporary(path, fill, err);
  } catch (...) {
    err = ENOMEM;
    return kOutOfMemory;
  }
}

// The row of a save that failed: the message, and after it the system's reason when the system
// refused a write.
std::string saveFailure(int err) {
  std::string text = "An error occurred saving the NIST file";
  if (err != 0) text += ": " + detail::systemReason(err);
  return text;
}

// Image-heavy files allocate megabytes each. By default the allocator maps such blocks afresh
// and hands them back when they are freed, so every file faults in and zero-fills its memory
// again (most of the time of a run without rules). Blocks up to 64 MB come from the heap instead,
// and up to 256 MB freed there is kept for the next files.
void keepFreedMemoryForNextFiles() noexcept {
  static std::once_flag once;
  try {
    std::call_once(once, [] {
      (void)::mallopt(M_MMAP_THRESHOLD, 64 << 20);
      (void)::mallopt(M_TRIM_THRESHOLD, 256 << 20);
    });
  } catch (...) {
    // Only slower without it.
  }
}

// The whole content of a rule file; false with the system's error number when it cannot be
// read. Only regular files are read, so that a FIFO named as the rule file cannot block the run.
bool readRuleText(const std::string& path, std::string& text, int& err) {
  err = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    errno = EINVAL;
    ok = false;
  }
  if (ok) ok = transaction::readToEnd(fd, text);
  if (!ok) err = errno;
  ::close(fd);
  return ok;
}

// Why a rule file cannot be used for a run: it cannot be read, or names an action this program
// does not have. Empty when it can be used; `text` then holds its content.
std::string ruleFileProblem(const std::string& path, std::string& text) {
  int err = 0;
  if (!readRuleText(path, text, err)) {
    return "Rule file cannot be read: '" + path +
           "': " + (err == EINVAL ? std::string("not a regular file") : detail::systemReason(err));
  }
  std::size_t line = 0;
  std::string action;
  if (findUnknownAction(text, line, action) == 1) {
    return "Unknown action \"" + action + "\" on line " + std::to_string(line) +
           " of the rule file '" + path + "'";
  }
  return {};
}

// An exclusive lock on the destination folder for the duration of a run, so that two runs
// cannot write into one folder at once (their reports and results.csv would replace each
// other). The lock goes with the descriptor, also when the process dies.
class DestinationLock {
 public:
  DestinationLock() = default;
  DestinationLock(const DestinationLock&) = delete;
  DestinationLock& operator=(const DestinationLock&) = delete;
  ~DestinationLock() {
    if (fd_ >= 0) ::close(fd_);
  }

  // False only when another run holds the lock. A folder that cannot be opened is left to fail
  // where the run first writes into it. Shards of one folder share the lock (each also locks
  // its own record), so they run side by side but never beside a whole-folder run.
  bool acquire(const std::string& folder, bool shared = false) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return true;
    while (::flock(fd_, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      return errno != EWOULDBLOCK;
    }
    return true;
  }

 private:
  int fd_ = -1;
};

// A value may not break its row: line ends become spaces (tabs were removed by the action).
std::string csvCell(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  return out;
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
  (void)std::snprintf(
      buf, sizeof buf,
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
// line (the headings of the first file that had any) and one value line per file, each handed
// to the system as soon as its file is done.
class CsvWriter {
 public:
  explicit CsvWriter(std::string path) : path_(std::move(path)) {}

  // Bytes of the header and of the value line the last take() wrote.
  std::uint64_t headerBytes = 0;
  std::uint64_t lineBytes = 0;
  [[nodiscard]] bool opened() const noexcept { return file_ != nullptr; }

  // Writes the lines of one file. False (with `err`) when results.csv could not be created or
  // written; the lines of that file are then lost and the next file tries again.
  bool take(const std::vector<CsvCell>& cells, int& err) {
    err = 0;
    headerBytes = 0;
    lineBytes = 0;
    if (cells.empty()) return true;
    for (const auto& cell : cells) {
      if (!headerWritten_) {
        detail::appendLimited(header_, csvCell(cell.heading), kMaxCsvLine);
        detail::appendLimited(header_, "\t", kMaxCsvLine);
      }
      detail::appendLimited(values_, csvCell(cell.value), kMaxCsvLine);
      detail::appendLimited(values_, "\t", kMaxCsvLine);
    }
    bool ok = open(err);
    if (ok && !headerWritten_) {
      ok = writeLine(header_, headerBytes);
      headerWritten_ = ok;
    }
    ok = ok && writeLine(values_, lineBytes);
    ok = ok && std::fflush(file_.get()) == 0;
    if (!ok && err == 0) err = errno;
    header_.clear();
    values_.clear();
    return ok;
  }

 private:
  struct Closer {
    void operator()(std::FILE* f) const noexcept { (void)std::fclose(f); }
  };

  bool open(int& err) {
    if (file_) return true;
    errno = 0;
    const int fd = detail::createReplacing(path_);
    if (fd >= 0) {
      file_.reset(::fdopen(fd, "wb"));
      if (!file_) ::close(fd);
    }
    if (!file_) err = errno;
    return file_ != nullptr;
  }

  // The trailing tab becomes the line end, CR LF; a line cut at the limit ends in one too.
  bool writeLine(std::string& line, std::uint64_t& bytes) {
    if (line.empty()) return true;
    if (line.back() == '\t') {
      line.pop_back();
    } else if (line.size() >= kMaxCsvLine) {
      line.resize(kMaxCsvLine - 1);
    }
    line += "\r\n";
    const bool ok = std::fwrite(line.data(), 1, line.size(), file_.get()) == line.size();
    bytes = line.size();
    line.clear();
    return ok;
  }

  std::string path_;
  std::unique_ptr<std::FILE, Closer> file_;
  bool headerWritten_ = false;
  std::string header_;
  std::string values_;
};

// The run-wide state: counters, report and results.csv take each file's outcome in listing
// order, so the per-file work could run anywhere as long as outcomes arrive in that order.
class RunState {
 public:
  RunState(ReportFile& report, std::string csvPath) : report_(report), csv_(std::move(csvPath)) {}

  bool dryRun = false;             ///< rows are counted, not written; results.csv is not written
  ShardRecorder* shard = nullptr;  ///< the shard's record, when the run is a shard
  [[nodiscard]] bool wroteCsv() const noexcept { return csv_.opened(); }
  bool keepFileResults = true;  ///< summary.files gets one entry per file
  void take(const FileOutcome& o, RunSummary& summary) {
    const std::uint64_t reportBefore = report_.rowBytes();
    ++summary.counts.processed;
    FileResult result{o.displayName, o.output, o.exports, o.rows, o.hadErrorRow};
    for (const auto& row : o.rows) addRow(row, o.displayName, summary);
    int err = 0;
    if (o.rulesRan && !dryRun && !csv_.take(o.csv, err)) {
      result.rows.push_back(
          ReportRow{RowKind::kError, RowCounter::kErrors, true,
                    "results.csv could not be written: " + detail::systemReason(err)});
      addRow(result.rows.back(), o.displayName, summary);
      if (!o.hadErrorRow) ++summary.filesWithErrors;
      result.hadErrorRow = true;
      if (shard != nullptr) shard->csvFailed();
    }
    if (shard != nullptr) {
      const bool csv = o.rulesRan && !dryRun;
      shard->addFile(o.displayName, report_.rowBytes() - reportBefore, csv ? csv_.headerBytes : 0,
                     csv ? csv_.lineBytes : 0, o.output, o.exports);
    }
    if (o.hadErrorRow) ++summary.filesWithErrors;
    if (keepFileResults) summary.files.push_back(std::move(result));
    if (o.disabledSave) saveEnabled = false;
  }

  void addRow(const ReportRow& row, std::string_view displayName, RunSummary& summary) {
    if (!dryRun) (void)report_.append(row, displayName);
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

  bool saveEnabled = true;

 private:
  ReportFile& report_;
  CsvWriter csv_;
};

// A file converted on a worker, with what its conversion took for granted.
struct Converted {
  FileOutcome outcome;
  std::unique_ptr<RunOutputs> outputs;  // its names and its outputs waiting to be renamed
  bool assumedSaveEnabled = true;
};

// What one worker thread keeps from file to file.
struct Worker {
  explicit Worker(const RunInputs& run) : in(run), file(run.xml) {}
  RunInputs in;
  NistFile file;
};

// Converts the listed files on `jobs` threads and commits them in listing order. A file is
// converted against the names committed so far and the run's save state when it starts; when
// its commit comes and an earlier file has since taken a name it found free, or "Disable Save"
// ran in an earlier file, its outputs are dropped and it is converted again on this thread, so
// that the run comes out as one converting the files one after the other.
template <typename Commit, typename Stop>
void convertInParallel(const RunInputs& in, detail::FileListing& names, int jobs,
                       RunOutputs& outputs, RunState& state, NistFile& file, Commit& commit,
                       Stop stop) {
  // A few files per worker keep every worker busy while the commit catches up.
  constexpr std::size_t kFilesPerWorker = 3;
  const auto count =
      static_cast<std::size_t>(jobs) < names.size() ? static_cast<std::size_t>(jobs) : names.size();
  std::vector<std::unique_ptr<Worker>> workers;
  for (std::size_t i = 0; i < count; ++i) workers.push_back(std::make_unique<Worker>(in));
  std::atomic<bool> saveEnabled{state.saveEnabled};
  (void)detail::runOrdered<Converted>(
      names.size(), workers, count * kFilesPerWorker,
      [&](std::unique_ptr<Worker>& worker, std::size_t i) noexcept {
        Worker& w = *worker;
        Converted c;
        try {
          c.outputs = std::make_unique<RunOutputs>();
          c.outputs->attach(outputs);
          c.assumedSaveEnabled = saveEnabled.load();
          w.in.outputs = c.outputs.get();
          c.outcome = convertFile(w.in, std::string(names[i]), c.assumedSaveEnabled, w.file);
        } catch (...) {
          // Converted again at its commit.
          c.outputs.reset();
        }
        w.in.outputs = nullptr;
        return c;
      },
      [&](std::size_t i, Converted c) {
        int err = 0;
        const bool holds = c.outputs != nullptr && c.assumedSaveEnabled == state.saveEnabled &&
                           c.outputs->stillValid() && c.outputs->commitTo(outputs, err) == kOk;
        if (!holds) {
          if (c.outputs != nullptr) c.outputs->discard();
          c.outcome = convertFile(in, std::string(names[i]), state.saveEnabled, file);
        }
        const bool goOn = commit(c.outcome);
        // Workers only read names past this one.
        names.release(i + 1);
        saveEnabled.store(state.saveEnabled);
        return goOn;
      },
      stop);
}

// The folder's transaction files (see listTransactionFiles). False when the folder cannot be
// listed. Throws std::bad_alloc.
bool listFolder(const std::string& folder, detail::FileListing& names) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return false;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    std::error_code typeEc;
    // Folders (and links to them) are not transactions. Other entries that are not regular
    // files are listed: the run reports each of them instead of reading it.
    if (it->is_directory(typeEc)) continue;
    const std::string& path = it->path().native();
    const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
    if (isTransactionFileName(name)) names.add(name);
  }
  names.finish(false);
  return true;
}

// The listed entries as the run takes them (see resolveListedFiles). Throws std::bad_alloc.
bool resolveEntries(const std::string& folder, const std::vector<std::string>& entries,
                    detail::FileListing& names) {
  std::error_code ec;
  fs::path base = fs::absolute(fs::path(folder), ec).lexically_normal();
  if (!base.has_filename()) base = base.parent_path();
  for (std::string entry : entries) {
    if (!entry.empty() && entry.back() == '\r') entry.pop_back();
    if (entry.find_first_not_of(" \t") == std::string::npos) continue;
    const fs::path listed = fs::path(entry).lexically_normal();
    const fs::path full = listed.is_absolute() ? listed : (base / listed).lexically_normal();
    const std::string name = full.filename().string();
    // The folder the entry names, however spelt: the source folder itself, or elsewhere.
    const fs::path parent = full.parent_path();
    const bool inFolder = !name.empty() && name != "." && name != ".." &&
                          (parent == base || sameFolder(parent.string(), folder));
    names.add(inFolder ? name : entry);
  }
  names.finish(true);
  return true;
}

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
    detail::FileListing listing;
    if (!listFolder(folder, listing)) return false;
    names.reserve(listing.size());
    for (std::size_t i = 0; i < listing.size(); ++i) names.emplace_back(listing[i]);
    return true;
  } catch (...) {
    names.clear();
    return false;
  }
}

bool resolveListedFiles(const std::string& folder, const std::vector<std::string>& entries,
                        std::vector<std::string>& names) noexcept {
  names.clear();
  try {
    detail::FileListing listing;
    if (!resolveEntries(folder, entries, listing)) return false;
    names.reserve(listing.size());
    for (std::size_t i = 0; i < listing.size(); ++i) names.emplace_back(listing[i]);
    return true;
  } catch (...) {
    names.clear();
    return false;
  }
}

InputCheck checkRunInputs(const std::string& source, const std::string& dest,
                          const std::string& ruleFile, bool listSource) noexcept {
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
    } else if (std::string text, problem = ruleFileProblem(ruleFile, text); !problem.empty()) {
      c.message = std::move(problem);
    } else if (!fs::is_directory(dest, ec)) {
      c.message = "Destination NIST Path does not exist";
    } else if (source == dest || sameFolder(source, dest)) {
      c.message = "Source and Destination paths cannot be the same";
    } else if (!listSource) {
      c.ok = true;
    } else {
      detail::FileListing names;
      c.listingFailed = !listFolder(withTrailingSlash(source), names);
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

bool sameFolder(const std::string& a, const std::string& b) noexcept {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
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

// What the last load or save could not carry as it stood (NistFile::warnings), one row each.
void addCodecWarnings(const NistFile& file, FileOutcome& out) {
  for (const std::string& text : file.warnings()) {
    out.rows.push_back(fileRow(RowKind::kWarning, RowCounter::kWarnings, text));
  }
}

namespace {

// Walks the records of a file that did not load by their lengths alone (a tagged record starts
// "T.001:LEN", a binary one with its length in 4 big-endian bytes) and says where the first
// length leads: missing, or past the end of the file. "" when every length fits.
std::string walkRecordLengths(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "the file cannot be read: " + detail::systemReason(errno);
  in.seekg(0, std::ios::end);
  const long long size = static_cast<long long>(in.tellg());
  if (size <= 0) return "the file is empty";
  long long pos = 0;
  for (int n = 1; pos < size; ++n) {
    char window[40] = {};
    in.clear();
    in.seekg(pos);
    in.read(window, sizeof window);
    const std::string head(window, static_cast<std::size_t>(in.gcount()));
    std::size_t q = 0;
    const auto digits = [&] {
      const std::size_t start = q;
      while (q < head.size() && head[q] >= '0' && head[q] <= '9') ++q;
      return head.substr(start, q - start);
    };
    const std::string type = digits();
    long long len = -1;
    std::string what;
    if (!type.empty() && type.size() <= 3 && q < head.size() && head[q] == '.') {
      ++q;
      const std::string field = digits();
      if (field.empty() || std::stoi(field) != 1 || q >= head.size() || head[q] != ':') {
        return "record " + std::to_string(n) + " (Type-" + type +
               ") does not start with its "
               "length (LEN) field";
      }
      ++q;
      const std::string value = digits();
      if (value.empty() || value.size() > 12) {
        return "the length (LEN) of record " + std::to_string(n) + " (Type-" + type +
               ") is not a number";
      }
      len = std::stoll(value);
      what = " (Type-" + type + ")";
    } else if (n > 1 && head.size() >= 4) {
      len = 0;
      for (int i = 0; i < 4; ++i) len = len * 256 + static_cast<unsigned char>(head[i]);
    } else {
      return n == 1 ? "the file does not start with a Type-1 record" : "";
    }
    if (len <= 0) return "";
    if (pos + len > size) {
      return "the length (LEN) of record " + std::to_string(n) + what + ", " + std::to_string(len) +
             " bytes from byte " + std::to_string(pos) +
             ", runs past the end of the file (truncated at byte " + std::to_string(size) + ")";
    }
    pos += len;
  }
  return "";
}

}  // namespace

std::string loadFailureDetail(const std::string& path, int status) noexcept {
  try {
    if (status == transaction::kReadFailed || status == transaction::kBadLengthField) {
      if (std::string walked = walkRecordLengths(path); !walked.empty()) return walked;
    }
    return std::string(loadFailureReason(status));
  } catch (...) {
    return {};
  }
}

std::string_view loadFailureReason(int status) noexcept {
  switch (status) {
    case transaction::kBadLengthField:
      return "a record's length (LEN) is missing, malformed or runs past the end of the file";
    case transaction::kTagTooLong:
      return "a field tag is too long";
    case transaction::kNotType1:
      return "the first record is not a Type-1 record";
    case transaction::kAllocFailed:
      return "out of memory";
    case transaction::kIsXml:
      return "XML transactions are not supported by this build";
    case xml::kNotWellFormed:
      return "not well-formed XML";
    case xml::kNotPackage:
      return "the XML is not a transaction package";
    case xml::kBadImageData:
      return "the XML holds image data that is not valid base64";
    default:
      return "";
  }
}

FileOutcome convertFile(const RunInputs& in, const std::string& listedName, bool saveEnabled,
                        NistFile& file) noexcept {
  FileOutcome out;
  try {
    FileState st;
    startFileState(listedName, st);
    st.saveEnabled = saveEnabled;
    out.displayName = st.displayName;
    const std::string loadPath = in.sourceFolder + listedName;
    if (in.listedByCaller) {
      // A listed entry that is not a transaction file of the source folder is refused as it
      // was written.
      struct stat entry {};
      const char* problem = nullptr;
      if (listedName.find('/') != std::string::npos ||
          (::lstat(loadPath.c_str(), &entry) != 0 && errno == ENOENT)) {
        problem = "Listed file is not in the source folder";
      } else if (!isTransactionFileName(listedName) || S_ISDIR(entry.st_mode)) {
        problem = "Listed file is not a transaction file";
      }
      if (problem != nullptr) {
        out.displayName = listedName;
        out.rows.push_back(fileRow(RowKind::kError, RowCounter::kErrors, problem));
        out.hadErrorRow = true;
        return out;
      }
    }
    struct stat info {};
    // A FIFO, device or socket would block the run or never end; a dangling link has nothing
    // to read. Each is reported, so that the counts add up to the files listed.
    if (::stat(loadPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      out.rows.push_back(fileRow(RowKind::kWarning, RowCounter::kWarnings, "not a regular file"));
      return out;
    }
    if (const int rc = file.load(loadPath); rc != 0) {
      const std::string reason = loadFailureDetail(loadPath, rc);
      out.rows.push_back(fileRow(
          RowKind::kError, RowCounter::kErrors,
          reason.empty() ? std::string("Invalid NIST File") : "Invalid NIST File: " + reason));
      out.hadErrorRow = true;
      return out;
    }
    addCodecWarnings(file, out);
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
    int err = 0;
    if (rc == kOk) {
      rc = detail::prepareOutputFolders(in.destFolder, path, false);
      if (rc == kWriteFailed) err = errno;
    }
    struct stat existing {};
    if (rc == kOk && in.noClobber && ::lstat(path.c_str(), &existing) == 0) {
      out.rows.push_back(
          fileRow(RowKind::kError, RowCounter::kErrors,
                  "Not saved: " + path.substr(in.destFolder.size()) + " already exists"));
      out.hadErrorRow = true;
      return out;
    }
    if (rc == kOk && in.outputs != nullptr) {
      if (in.outputs->taken(path)) {
        // Another file of this run (or the run's own report or results.csv) has this name.
        out.rows.push_back(fileRow(
            RowKind::kError, RowCounter::kErrors,
            "Not saved: " + path.substr(in.destFolder.size()) + " already written by this run"));
        out.hadErrorRow = true;
        return out;
      }
      if (in.outputs->inSourceFolder(path)) rc = kOutputInSourceFolder;
    }
    if (rc == kOk && !in.dryRun) rc = saveAtomically(file, st, path, in.outputs, err);
    if (rc != kOk) {
      out.rows.push_back(fileRow(RowKind::kError, RowCounter::kErrors, saveFailure(err)));
      out.hadErrorRow = true;
    } else {
      if (in.outputs != nullptr) in.outputs->claim(path);
      out.output = path.substr(in.destFolder.size());
      // The XML writer's warnings; a traditional save leaves the load's, already shown.
      if (savesXml(file, st) && !in.dryRun) addCodecWarnings(file, out);
      out.rows.push_back(
          fileRow(RowKind::kInfo, RowCounter::kMessages, "NIST File successfully converted"));
    }
  } catch (...) {
    out.rows.push_back(
        fileRow(RowKind::kError, RowCounter::kErrors, "An error occurred saving the NIST file"));
    out.hadErrorRow = true;
  }
  return out;
}

RunStatus runConversion(const std::string& sourceFolder, const std::string& destFolder,
                        const std::string& ruleFile, int total, UiServices& ui, RunSummary& summary,
                        const RunOptions& options) noexcept {
  try {
    summary = RunSummary{};
    summary.counts.total = total;
    const auto refuse = [&](const std::string& message) {
      (void)ui.showMessage(message, kCaption, UiServices::Buttons::kOk, UiServices::Icon::kError);
      return RunStatus::kRefused;
    };
    RunInputs in;
    in.sourceFolder = sourceFolder;
    in.destFolder = destFolder;
    static const xml::XmlCodecImpl kXmlCodec;
    in.xml = &kXmlCodec;
    RunOutputs outputs;
    in.outputs = &outputs;
    in.dryRun = options.dryRun;
    in.noClobber = options.noClobber;
    if (sameFolder(sourceFolder, destFolder)) {
      return refuse("Source and Destination paths cannot be the same");
    }
    (void)outputs.setSourceFolder(sourceFolder);
    outputs.setDestinationFolder(destFolder);
    const Shard& shard = options.shard;
    DestinationLock lock;
    if (!lock.acquire(destFolder, shard.active())) {
      return refuse("Another conversion is writing to the destination folder '" + destFolder +
                    "'; run again when it has finished");
    }
    std::string ruleText;
    if (std::string problem = ruleFileProblem(ruleFile, ruleText); !problem.empty()) {
      return refuse(problem);
    }
    if (parseRuleText(ruleText, in.rules) != kRuleFileDone) return refuse("Out of memory");

    for (const auto& rule : in.rules.rules) {
      if (rule.action != "Prompt for Parameter") continue;
      std::string answer = ui.promptText(rule.parameter(2), rule.parameter(1));
      if (answer == kPromptCancelled || ui.stopRequested()) {
        (void)ui.showMessage("Conversion was cancelled", kCaption, UiServices::Buttons::kOk,
                             UiServices::Icon::kExclamation);
        return RunStatus::kCancelled;
      }
      answer = detail::truncateUtf8(answer, kMaxPromptAnswer);
      in.answers.push_back(PromptAnswer{rule.parameter(1), rule.parameter(2), std::move(answer)});
    }

    detail::FileListing names;
    in.listedByCaller = options.filesFrom.has_value();
    const bool listed = in.listedByCaller ? resolveEntries(sourceFolder, *options.filesFrom, names)
                                          : listFolder(sourceFolder, names);
    // A shard names its report and results file after itself and leaves a record for the merge.
    const std::string suffix = shardSuffix(shard);
    ShardRecorder recorder;
    if (shard.active() && !options.dryRun) {
      ListingDigest digest;
      for (std::size_t i = 0; i < names.size(); ++i) digest.add(names[i]);
      const int rc = recorder.begin(destFolder, shard, names.size(), digest.text());
      if (rc == kShardInUse) {
        return refuse("Shard " + std::to_string(shard.index) + " of " +
                      std::to_string(shard.count) +
                      " is already running on the destination folder '" + destFolder + "'");
      }
      if (rc != kOk) {
        (void)ui.showMessage("The shard record could not be created: '" + destFolder +
                                 shardRecordName(shard) + "': " + detail::systemReason(errno),
                             kCaption, UiServices::Buttons::kOk, UiServices::Icon::kError);
        return RunStatus::kReportFailed;
      }
    }
    if (shard.active()) {
      names = names.every(static_cast<std::size_t>(shard.index - 1),
                          static_cast<std::size_t>(shard.count));
    }
    if (shard.active()) summary.counts.total = static_cast<int>(names.size());
    const long long startedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
    const std::string nameTime = localTime("_%Y-%m-%d_%H-%M-%S");
    summary.reportPath = destFolder + "VarnelReport" + nameTime + suffix + ".html";
    // The run's own files are never replaced by an output of the run.
    outputs.claim(summary.reportPath);
    const bool writesCsv =
        std::any_of(in.rules.rules.begin(), in.rules.rules.end(),
                    [](const ConversionRule& r) { return r.action == "Output to CSV"; });
    const std::string csvPath = destFolder + "results" + suffix + ".csv";
    if (writesCsv) outputs.claim(destFolder + "results.csv");
    if (writesCsv) outputs.claim(csvPath);
    ReportFile report;
    if (options.dryRun) summary.reportPath.clear();
    const std::string time19 = localTime("%Y-%m-%d %H:%M:%S");
    if (!options.dryRun && report.create(summary.reportPath, time19) != kOk) {
      (void)ui.showMessage("The report file could not be created: '" + summary.reportPath +
                               "': " + detail::systemReason(report.error()),
                           kCaption, UiServices::Buttons::kOk, UiServices::Icon::kError);
      return RunStatus::kReportFailed;
    }
    const auto start = std::chrono::steady_clock::now();
    if (!listed) {
      (void)ui.showMessage("Failed", kCaption, UiServices::Buttons::kOk, UiServices::Icon::kError);
    }
    keepFreedMemoryForNextFiles();
    NistFile file(in.xml);
    RunState state(report, csvPath);
    state.dryRun = options.dryRun;
    if (shard.active() && !options.dryRun) state.shard = &recorder;
    state.keepFileResults = options.keepFileResults;
    char status[64];
    bool reportFailed = false;
    // Rows are handed to the system in batches, at least every kReportFlushInterval, rather than
    // with a system call per file: a run killed at any moment leaves the rows of all but its
    // last fraction of a second, and one whose report cannot be written stops as soon as a
    // write of it fails.
    constexpr auto kReportFlushInterval = std::chrono::milliseconds(100);
    auto lastFlush = std::chrono::steady_clock::now();
    // The commit step, the one place where a file's outcome becomes part of the run: report
    // rows, results.csv, counters, progress. Files reach it in listing order.
    const auto commit = [&](const FileOutcome& outcome) {
      state.take(outcome, summary);
      ui.setProgressPosition(summary.counts.processed);
      const int n = std::snprintf(status, sizeof status, "%d processed of %d",
                                  summary.counts.processed, total);
      ui.setStatusText(n > 0 ? std::string_view(status) : std::string_view());
      // Converting on without a record of it would leave outputs the report does not show.
      if (options.dryRun) return true;
      const auto now = std::chrono::steady_clock::now();
      const bool due = now - lastFlush >= kReportFlushInterval;
      if (due) lastFlush = now;
      if (report.failed() || (due && report.flush() != kOk)) {
        reportFailed = true;
        return false;
      }
      return true;
    };
    if (options.jobs <= 1 || names.size() <= 1) {
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (ui.stopRequested()) break;
        if (!commit(convertFile(in, std::string(names[i]), state.saveEnabled, file))) break;
        names.release(i + 1);
      }
    } else {
      convertInParallel(in, names, options.jobs, outputs, state, file, commit,
                        [&] { return ui.stopRequested(); });
    }
    summary.counts.stopped = summary.counts.processed < static_cast<int>(names.size());
    if (summary.counts.stopped && !reportFailed && !options.dryRun) {
      char text[96];
      const int n = std::snprintf(text, sizeof text, "Conversion stopped after %d of %d files",
                                  summary.counts.processed, static_cast<int>(names.size()));
      (void)report.append(ReportRow{RowKind::kInfo, RowCounter::kNone, false,
                                    n > 0 ? std::string(text) : std::string()},
                          {});
    }
    const auto end = std::chrono::steady_clock::now();
    summary.counts.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
    if (!options.dryRun && (report.finish(summary.counts) != kOk || reportFailed)) {
      (void)ui.showMessage("The report file could not be written: '" + summary.reportPath +
                               "': " + detail::systemReason(report.error()),
                           kCaption, UiServices::Buttons::kOk, UiServices::Icon::kError);
      return RunStatus::kReportFailed;
    }
    if (state.shard != nullptr) {
      const long long finishedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count();
      const std::string csvName = state.wroteCsv() ? csvPath.substr(destFolder.size()) : "";
      int err = 0;
      if (recorder.finish(summary.reportPath.substr(destFolder.size()), csvName, time19, nameTime,
                          summary.counts, summary.filesWithErrors, startedMs, finishedMs,
                          err) != kOk) {
        (void)ui.showMessage("The shard record could not be written: '" + destFolder +
                                 shardRecordName(shard) + "': " + detail::systemReason(err),
                             kCaption, UiServices::Buttons::kOk, UiServices::Icon::kError);
        return RunStatus::kReportFailed;
      }
    }
    return summary.counts.stopped ? RunStatus::kStopped : RunStatus::kCompleted;
  } catch (...) {
    return RunStatus::kReportFailed;
  }
}

ConvertStatus convertCommand(const std::string& source, const std::string& dest,
                             const std::string& ruleFile, UiServices& ui, RunSummary& summary,
                             const RunOptions& options) noexcept {
  InputCheck check = checkRunInputs(source, dest, ruleFile, !options.filesFrom.has_value());
  if (!check.ok) {
    if (check.listingFailed) {
      (void)ui.showMessage("Failed", "", UiServices::Buttons::kOk, UiServices::Icon::kNone);
    }
    (void)ui.showMessage(check.message, kCaption, UiServices::Buttons::kOk,
                         UiServices::Icon::kNone);
    return ConvertStatus::kInvalidInput;
  }
  if (options.filesFrom) {
    std::size_t count = 0;
    try {
      detail::FileListing names;
      if (resolveEntries(withTrailingSlash(source), *options.filesFrom, names))
        count = names.size();
    } catch (...) {
      count = 0;
    }
    if (count == 0) {
      (void)ui.showMessage("No files listed to convert", kCaption, UiServices::Buttons::kOk,
                           UiServices::Icon::kNone);
      return ConvertStatus::kInvalidInput;
    }
    check.count = static_cast<int>(count);
  }
  ui.setStatusText("");
  check.count = shardFileCount(options.shard, check.count);
  ui.setProgressRange(0, check.count);
  ui.setProgressPosition(0);
  ui.rememberPaths(source, dest, ruleFile);
  try {
    const RunStatus rs = runConversion(withTrailingSlash(source), withTrailingSlash(dest), ruleFile,
                                       check.count, ui, summary, options);
    if (rs == RunStatus::kCancelled) return ConvertStatus::kCancelled;
    if (rs == RunStatus::kReportFailed) return ConvertStatus::kReportFailed;
    if (rs == RunStatus::kRefused) return ConvertStatus::kInvalidInput;
    if (options.dryRun) return ConvertStatus::kCompleted;  // no report to offer
    // The closing question says what happened: a run with failures or a stopped run is not
    // "complete".
    std::string question = "Conversion complete, would you like to see the report?";
    UiServices::Icon icon = UiServices::Icon::kQuestion;
    const std::string done = std::to_string(summary.counts.processed);
    if (rs == RunStatus::kStopped) {
      question = "Conversion stopped after " + done + " of " + std::to_string(check.count) +
                 " files, would you like to see the report?";
      icon = UiServices::Icon::kExclamation;
    } else if (summary.filesWithErrors > 0) {
      question = "Conversion finished: " + std::to_string(summary.filesWithErrors) + " of " + done +
                 (summary.counts.processed == 1 ? " file" : " files") +
                 " had errors, would you like to see the report?";
      icon = UiServices::Icon::kExclamation;
    }
    const auto answer = ui.showMessage(question, kCaption, UiServices::Buttons::kYesNo, icon);
    if (answer == UiServices::Answer::kYes) ui.openWithDefaultApplication(summary.reportPath);
    return rs == RunStatus::kStopped ? ConvertStatus::kStopped : ConvertStatus::kCompleted;
  } catch (...) {
    return ConvertStatus::kReportFailed;
  }
}

}  // namespace varnel::rules
