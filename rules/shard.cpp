// Shards: a run over every N-th file of a folder, and the record each shard leaves for the merge.
#include "rules/shard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "rules/status.h"

namespace varnel::rules {
namespace {

bool parseNumber(std::string_view text, int& value) {
  if (text.empty() || text.size() > 6) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

void ListingDigest::add(std::string_view name) noexcept {
  for (unsigned char c : name) hash_ = (hash_ ^ c) * 1099511628211ULL;
  hash_ = (hash_ ^ 0U) * 1099511628211ULL;  // the end of each name counts
}

std::string ListingDigest::text() const {
  char buf[17];
  (void)std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(hash_));
  return buf;
}

bool parseShard(std::string_view text, Shard& out) noexcept {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return false;
  Shard s;
  if (!parseNumber(text.substr(0, slash), s.index) || !parseNumber(text.substr(slash + 1), s.count))
    return false;
  if (s.count < 1 || s.count > kMaxShards || s.index < 1 || s.index > s.count) return false;
  out = s;
  return true;
}

std::string shardSuffix(const Shard& shard) {
  if (!shard.active()) return {};
  return "_shard-" + std::to_string(shard.index) + "-of-" + std::to_string(shard.count);
}

void selectShard(const Shard& shard, std::vector<std::string>& names) {
  if (!shard.active()) return;
  std::size_t kept = 0;
  for (std::size_t i = static_cast<std::size_t>(shard.index - 1); i < names.size();
       i += static_cast<std::size_t>(shard.count)) {
    if (kept != i) names[kept] = std::move(names[i]);
    ++kept;
  }
  names.resize(kept);
}

int shardFileCount(const Shard& shard, int listed) noexcept {
  if (!shard.active()) return listed;
  if (listed < shard.index) return 0;
  return (listed - shard.index) / shard.count + 1;
}

std::string shardRecordName(const Shard& shard) {
  return "VarnelReport" + shardSuffix(shard) + ".json";
}

ShardRecorder::~ShardRecorder() {
  if (fd_ >= 0) ::close(fd_);
}

int ShardRecorder::begin(const std::string& destFolder, const Shard& shard, std::size_t listed,
                         const std::string& digest) noexcept {
  try {
    const std::string path = destFolder + shardRecordName(shard);
    // Not through a link: the record is this run's own file.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ < 0) return kWriteFailed;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) return kShardInUse;
      break;  // a file system without locks: the run goes on unguarded
    }
    // Empty until the run completes, so an interrupted shard is never merged.
    if (::ftruncate(fd_, 0) != 0) return kWriteFailed;
    shard_ = shard;
    listed_ = static_cast<int>(listed);
    listingDigest_ = digest;
    return kOk;
  } catch (...) {
    errno = ENOMEM;
    return kWriteFailed;
  }
}

void ShardRecorder::addFile(const std::string& name, std::uint64_t reportBytes,
                            std::uint64_t csvHeaderBytes, std::uint64_t csvLineBytes,
                            const std::string& output, const std::vector<std::string>& exports) {
  Entry e{name, reportBytes, csvHeaderBytes, csvLineBytes, {}};
  if (!output.empty()) e.outputs.push_back(output);
  e.outputs.insert(e.outputs.end(), exports.begin(), exports.end());
  files_.push_back(std::move(e));
}

int ShardRecorder::finish(const std::string& reportName, const std::string& csvName,
                          std::string_view time19, std::string_view nameTime,
                          const RunCounts& counts, int filesWithErrors, long long startedMs,
                          long long finishedMs) noexcept {
  if (fd_ < 0) return kWriteFailed;
  try {
    nlohmann::json files = nlohmann::json::array();
    for (const auto& f : files_) {
      files.push_back({f.reportBytes, f.csvHeaderBytes, f.csvLineBytes, f.outputs, f.name});
    }
    const nlohmann::json doc{
        {"shard", shard_.index},
        {"of", shard_.count},
        {"listed", listed_},
        {"listing", listingDigest_},
        {"report", reportName},
        {"reportTime", std::string(time19)},
        {"nameTime", std::string(nameTime)},
        {"started", startedMs},
        {"finished", finishedMs},
        {"elapsedMs", counts.elapsedMs},
        {"stopped", counts.stopped},
        {"processed", counts.processed},
        {"total", counts.total},
        {"errors", counts.errors},
        {"warnings", counts.warnings},
        {"messages", counts.messages},
        {"filesWithErrors", filesWithErrors},
        {"csv", csvName.empty() ? nlohmann::json(nullptr) : nlohmann::json(csvName)},
        {"csvComplete", csvComplete_},
        {"files", files}};
    const std::string text =
        doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n =
          ::pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return kWriteFailed;
      done += static_cast<std::size_t>(n);
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? kOk : kWriteFailed;
  } catch (...) {
    return kWriteFailed;
  }
}

}  // namespace varnel::rules
