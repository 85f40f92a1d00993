// The merge of shard runs: one report and one results.csv, as one run over the folder writes them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "rules/detail/output_files.h"
#include "rules/report.h"
#include "rules/shard.h"
#include "rules/status.h"

namespace varnel::rules {
namespace {

using Json = nlohmann::json;

struct Closer {
  void operator()(std::FILE* f) const noexcept { (void)std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, Closer>;

// One shard as its record tells it.
struct ShardRun {
  Shard shard;
  std::string recordName;
  std::string reportName;
  std::string csvName;
  std::string reportTime;
  std::string nameTime;
  std::string listing;
  int listed = 0;
  long long started = 0;
  long long finished = 0;
  long long elapsedMs = 0;
  RunCounts counts;
  int filesWithErrors = 0;
  struct File {
    std::uint64_t reportBytes = 0;
    std::uint64_t csvHeaderBytes = 0;
    std::uint64_t csvLineBytes = 0;
    std::vector<std::string> outputs;
    std::string name;
  };
  std::vector<File> files;
  FilePtr report;  // positioned at its first row while merging
  FilePtr csv;
};

std::string shardName(const Shard& s) {
  return "shard " + std::to_string(s.index) + " of " + std::to_string(s.count);
}

// The exclusive lock a run takes on its destination folder: no shard may be running.
class FolderLock {
 public:
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool acquire(const std::string& folder) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return true;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      return errno != EWOULDBLOCK;
    }
    return true;
  }

 private:
  int fd_ = -1;
};

// The shard records in the folder, by shard count and index ("VarnelReport_shard-K-of-N.json").
bool findRecords(const std::string& folder, std::map<int, std::map<int, std::string>>& found) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return false;
  const std::string head = "VarnelReport_shard-";
  const std::string tail = ".json";
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name.size() <= head.size() + tail.size() || !name.starts_with(head) ||
        !name.ends_with(tail)) {
      continue;
    }
    std::string middle = name.substr(head.size(), name.size() - head.size() - tail.size());
    const std::size_t of = middle.find("-of-");
    if (of == std::string::npos) continue;
    middle.replace(of, 4, "/");
    Shard s;
    if (!parseShard(middle, s) || shardRecordName(s) != name) continue;
    found[s.count][s.index] = name;
  }
  return true;
}

std::string readWhole(const std::string& path, bool& ok) {
  ok = false;
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return {};
  std::string text;
  char buf[65536];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, n);
  ok = std::ferror(f.get()) == 0;
  return text;
}

// What fileSize returns for a path that is not a regular file.
constexpr long long kNoSize = -1;

// Size of a regular file, or kNoSize.
long long fileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kNoSize;
  return static_cast<long long>(st.st_size);
}

// Reads a shard's record and checks it against the shard it is named after. "" when it can be
// merged, else why not.
std::string loadRecord(const std::string& folder, ShardRun& run) {
  bool ok = false;
  const std::string text = readWhole(folder + run.recordName, ok);
  if (!ok) return "the record of " + shardName(run.shard) + " cannot be read";
  if (text.empty()) {
    return shardName(run.shard) + " has not finished (its record " + run.recordName +
           " is empty); run it again";
  }
  const Json doc = Json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    return "the record " + run.recordName + " of " + shardName(run.shard) + " is not valid JSON";
  }
  try {
    if (doc.at("shard").get<int>() != run.shard.index ||
        doc.at("of").get<int>() != run.shard.count) {
      return "the record " + run.recordName + " names another shard";
    }
    run.listed = doc.at("listed").get<int>();
    run.listing = doc.at("listing").get<std::string>();
    run.reportName = doc.at("report").get<std::string>();
    run.reportTime = doc.at("reportTime").get<std::string>();
    run.nameTime = doc.at("nameTime").get<std::string>();
    run.started = doc.at("started").get<long long>();
    run.finished = doc.at("finished").get<long long>();
    run.elapsedMs = doc.at("elapsedMs").get<long long>();
    run.counts.stopped = doc.at("stopped").get<bool>();
    run.counts.processed = doc.at("processed").get<int>();
    run.counts.total = doc.at("total").get<int>();
    run.counts.errors = doc.at("errors").get<int>();
    run.counts.warnings = doc.at("warnings").get<int>();
    run.counts.messages = doc.at("messages").get<int>();
    run.filesWithErrors = doc.at("filesWithErrors").get<int>();
    if (!doc.at("csv").is_null()) run.csvName = doc.at("csv").get<std::string>();
    const bool csvComplete = doc.at("csvComplete").get<bool>();
    for (const auto& f : doc.at("files")) {
      ShardRun::File file;
      file.reportBytes = f.at(0).get<std::uint64_t>();
      file.csvHeaderBytes = f.at(1).get<std::uint64_t>();
      file.csvLineBytes = f.at(2).get<std::uint64_t>();
      file.outputs = f.at(3).get<std::vector<std::string>>();
      file.name = f.at(4).get<std::string>();
      run.files.push_back(std::move(file));
    }
    // The names it refers to stay inside the folder.
    for (const std::string* name : {&run.reportName, &run.csvName}) {
      if (name->find('/') != std::string::npos || *name == "." || *name == "..") {
        return "the record " + run.recordName + " names a file outside the folder";
      }
    }
    if (run.counts.stopped || run.counts.processed != static_cast<int>(run.files.size()) ||
        run.counts.processed != shardFileCount(run.shard, run.listed)) {
      return shardName(run.shard) + " was stopped before the end of its files; run it again";
    }
    if (!csvComplete) {
      return "results file " + run.csvName + " of " + shardName(run.shard) +
             " misses lines (a write failed); run the shard again";
    }
  } catch (const Json::exception&) {
    return "the record " + run.recordName + " of " + shardName(run.shard) +
           " lacks what the merge needs";
  }
  return {};
}

// Opens a shard's report at its first row after checking that its size matches the record.
std::string openShardFiles(const std::string& folder, ShardRun& run) {
  const std::string prefix = reportTemplate(run.reportTime) + std::string(kOverviewAreaSize, ' ');
  std::uint64_t rows = 0;
  std::uint64_t csvBytes = 0;
  for (const auto& f : run.files) {
    rows += f.reportBytes;
    csvBytes += f.csvHeaderBytes + f.csvLineBytes;
  }
  const std::uint64_t expected =
      prefix.size() + messagesHeader().size() + rows + reportTail().size();
  const std::string reportPath = folder + run.reportName;
  if (fileSize(reportPath) != static_cast<long long>(expected)) {
    return "the report " + run.reportName + " of " + shardName(run.shard) +
           " is missing or does not match its record";
  }
  run.report.reset(std::fopen(reportPath.c_str(), "rb"));
  const long rowsStart = static_cast<long>(prefix.size());
  std::string header(messagesHeader().size(), '\0');
  if (!run.report || std::fseek(run.report.get(), rowsStart, SEEK_SET) != 0 ||
      std::fread(header.data(), 1, header.size(), run.report.get()) != header.size() ||
      header != messagesHeader()) {
    return "the report " + run.reportName + " of " + shardName(run.shard) + " cannot be read";
  }
  if (run.csvName.empty()) {
    if (csvBytes != 0) return "the record of " + shardName(run.shard) + " names no results file";
    return {};
  }
  const std::string csvPath = folder + run.csvName;
  if (fileSize(csvPath) != static_cast<long long>(csvBytes)) {
    return "the results file " + run.csvName + " of " + shardName(run.shard) +
           " is missing or does not match its record";
  }
  run.csv.reset(std::fopen(csvPath.c_str(), "rb"));
  if (!run.csv) return "the results file " + run.csvName + " cannot be read";
  return {};
}

// Copies n bytes from one stream to another; false on a short read or a failed write.
bool copyBytes(std::FILE* from, std::FILE* to, std::uint64_t n) {
  char buf[65536];
  while (n > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof buf));
    if (std::fread(buf, 1, want, from) != want) return false;
    if (to != nullptr && std::fwrite(buf, 1, want, to) != want) return false;
    n -= want;
  }
  return true;
}

// The listing position i is file i / N of shard i % N + 1.
template <typename Fn>
bool inListingOrder(std::vector<ShardRun>& runs, int listed, Fn&& each) {
  const std::size_t n = runs.size();
  for (int i = 0; i < listed; ++i) {
    ShardRun& run = runs[static_cast<std::size_t>(i) % n];
    if (!each(run, run.files[static_cast<std::size_t>(i) / n])) return false;
  }
  return true;
}

int writeMerged(const std::string& path, const std::function<bool(std::FILE*)>& fill,
                std::string& message) {
  int err = 0;
  const int rc = detail::replaceThroughTemporary(
      path,
      [&](const std::string& tmp, int& e) {
        // The error number is taken where a call failed, before closing can change it.
        FilePtr out(std::fopen(tmp.c_str(), "wb"));
        if (!out || !fill(out.get())) {
          e = errno;
          return kWriteFailed;
        }
        if (std::fclose(out.release()) != 0) {
          e = errno;
          return kWriteFailed;
        }
        return kOk;
      },
      err);
  if (rc != kOk) message = "cannot write '" + path + "': " + detail::systemReason(err);
  return rc;
}

int merge(const std::string& folderIn, bool removeShards, MergeResult& out) {
  const std::string folder = folderIn.empty() || folderIn.back() == '/' ? folderIn : folderIn + "/";
  const auto refuse = [&](std::string why) {
    out.message = std::move(why);
    return kShardSetRefused;
  };
  FolderLock lock;
  if (!lock.acquire(folder)) {
    return refuse("a conversion is writing to '" + folder + "'; merge when it has finished");
  }
  std::map<int, std::map<int, std::string>> found;
  if (!findRecords(folder, found)) {
    return refuse("cannot list '" + folder + "': " + detail::systemReason(errno));
  }
  if (found.empty())
    return refuse("no shard records (VarnelReport_shard-K-of-N.json) in '" + folder + "'");
  if (found.size() > 1) {
    std::string counts;
    for (const auto& [n, shards] : found)
      counts += (counts.empty() ? "" : ", ") + std::to_string(n);
    return refuse("'" + folder + "' holds shards of different sets (of " + counts +
                  " shards); remove the records of the set that is not wanted");
  }
  const int count = found.begin()->first;
  const auto& records = found.begin()->second;
  std::vector<ShardRun> runs(static_cast<std::size_t>(count));
  for (int k = 1; k <= count; ++k) {
    ShardRun& run = runs[static_cast<std::size_t>(k - 1)];
    run.shard = Shard{k, count};
    const auto it = records.find(k);
    if (it == records.end()) {
      return refuse(shardName(run.shard) + " is missing: no " + shardRecordName(run.shard) +
                    " in '" + folder + "'");
    }
    run.recordName = it->second;
    if (std::string why = loadRecord(folder, run); !why.empty()) return refuse(why);
    if (run.listed != runs[0].listed || run.listing != runs[0].listing) {
      return refuse(shardName(run.shard) + " saw another listing of the source folder than " +
                    shardName(runs[0].shard) + "; run every shard on the same files");
    }
    if (std::string why = openShardFiles(folder, run); !why.empty()) return refuse(why);
  }
  const int listed = runs[0].listed;

  // Counts as one run keeps them; the time taken spans the earliest start to the latest end.
  RunCounts counts;
  counts.total = listed;
  const ShardRun* first = &runs[0];
  long long finished = runs[0].finished;
  long long longest = 0;
  for (const auto& run : runs) {
    counts.processed += run.counts.processed;
    counts.errors += run.counts.errors;
    counts.warnings += run.counts.warnings;
    counts.messages += run.counts.messages;
    out.filesWithErrors += run.filesWithErrors;
    if (run.started < first->started) first = &run;
    finished = std::max(finished, run.finished);
    longest = std::max(longest, run.elapsedMs);
  }
  counts.elapsedMs = std::max(finished - first->started, longest);

  const std::string reportPath = folder + "VarnelReport" + first->nameTime + ".html";
  int rc = writeMerged(
      reportPath,
      [&](std::FILE* f) {
        const std::string overview = formatOverview(counts);
        std::string head = reportTemplate(first->reportTime) + overview;
        head.append(kOverviewAreaSize - overview.size(), ' ');
        head += messagesHeader();
        if (std::fwrite(head.data(), 1, head.size(), f) != head.size()) return false;
        const bool rows = inListingOrder(runs, listed, [&](ShardRun& run, ShardRun::File& file) {
          return copyBytes(run.report.get(), f, file.reportBytes);
        });
        const std::string_view tail = reportTail();
        return rows && std::fwrite(tail.data(), 1, tail.size(), f) == tail.size();
      },
      out.message);
  if (rc != kOk) return rc;
  out.reportPath = reportPath;

  // One header: that of the first file in listing order with values, as one run writes it.
  const bool anyCsv =
      std::any_of(runs.begin(), runs.end(), [](const ShardRun& r) { return r.csv != nullptr; });
  if (anyCsv) {
    const std::string csvPath = folder + "results.csv";
    rc = writeMerged(
        csvPath,
        [&](std::FILE* f) {
          bool headerWritten = false;
          return inListingOrder(runs, listed, [&](ShardRun& run, ShardRun::File& file) {
            if (file.csvHeaderBytes > 0 &&
                !copyBytes(run.csv.get(), headerWritten ? nullptr : f, file.csvHeaderBytes)) {
              return false;
            }
            headerWritten = headerWritten || file.csvHeaderBytes > 0;
            return copyBytes(run.csv.get(), f, file.csvLineBytes);
          });
        },
        out.message);
    if (rc != kOk) return rc;
    out.csvPath = csvPath;
  }

  // Outputs of one name from files of different shards: a single run refuses the later ones.
  std::map<std::string, std::pair<int, std::string>> writers;  // output: shard (0: several), files
  (void)inListingOrder(runs, listed, [&](ShardRun& run, ShardRun::File& file) {
    for (const auto& name : file.outputs) {
      auto& w = writers[name];
      if (w.second.empty()) w.first = run.shard.index;
      if (w.first != run.shard.index) w.first = 0;
      w.second += (w.second.empty() ? "" : ", ") + file.name;
    }
    return true;
  });
  for (const auto& [name, w] : writers) {
    if (w.first == 0) out.sharedOutputs.push_back(name + ": " + w.second);
  }

  out.counts = counts;
  out.shards = count;
  if (removeShards) {
    for (auto& run : runs) {
      run.report.reset();
      run.csv.reset();
      (void)::unlink((folder + run.reportName).c_str());
      if (!run.csvName.empty()) (void)::unlink((folder + run.csvName).c_str());
      (void)::unlink((folder + run.recordName).c_str());
    }
  }
  return kOk;
}

}  // namespace

int mergeShardReports(const std::string& destFolder, bool removeShards, MergeResult& out) noexcept {
  out = MergeResult{};
  try {
    return merge(destFolder, removeShards, out);
  } catch (const std::bad_alloc&) {
    out.message = "out of memory";
    return kOutOfMemory;
  } catch (...) {
    out.message = "the merge failed";
    return kWriteFailed;
  }
}

}  // namespace varnel::rules
