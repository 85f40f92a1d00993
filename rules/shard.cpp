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

// Writes all of `data` at `offset`, retrying short writes.
bool writeAt(int fd, const char* data, std::size_t size, off_t& offset) noexcept {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
    offset += static_cast<off_t>(n);
  }
  return true;
}

// An unnamed file for the per-file part of a record: beside the record where the file system
// allows it, else in the temporary folder.
std::FILE* openSpill(const std::string& destFolder) noexcept {
  const int fd = ::open(destFolder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) {
    if (std::FILE* f = ::fdopen(fd, "w+")) return f;
    ::close(fd);
  }
  return std::tmpfile();
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
  if (spill_ != nullptr) (void)std::fclose(spill_);
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
    spill_ = openSpill(destFolder);
    if (spill_ == nullptr) return kWriteFailed;
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
                            const std::string& output,
                            const std::vector<std::string>& exports) noexcept {
  if (spill_ == nullptr || spillErr_ != 0) return;
  try {
    nlohmann::json outputs = nlohmann::json::array();
    if (!output.empty()) outputs.push_back(output);
    for (const auto& e : exports) outputs.push_back(e);
    const nlohmann::json entry{reportBytes, csvHeaderBytes, csvLineBytes, std::move(outputs), name};
    std::string text = files_ == 0 ? std::string() : std::string(1, ',');
    text += entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), spill_) != text.size())
      spillErr_ = errno != 0 ? errno : EIO;
    ++files_;
  } catch (...) {
    spillErr_ = ENOMEM;
  }
}

int ShardRecorder::finish(const std::string& reportName, const std::string& csvName,
                          std::string_view time19, std::string_view nameTime,
                          const RunCounts& counts, int filesWithErrors, long long startedMs,
                          long long finishedMs, int& err) noexcept {
  err = EBADF;
  if (fd_ < 0 || spill_ == nullptr) return kWriteFailed;
  if (spillErr_ != 0) {
    err = spillErr_;
    return kWriteFailed;
  }
  const auto failed = [&err] {
    err = errno != 0 ? errno : EIO;
    return kWriteFailed;
  };
  try {
    errno = 0;
    if (std::fflush(spill_) != 0 || std::fseek(spill_, 0, SEEK_SET) != 0) return failed();
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
        {"files", nlohmann::json::array()}};
    const std::string text =
        doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    // The kept elements go between the brackets of the empty array. A quote inside a string
    // value is escaped, so the key can only match where it is a key.
    const std::string_view key = "\"files\":[";
    const std::size_t at = text.find(key);
    if (at == std::string::npos) {
      err = EINVAL;
      return kWriteFailed;
    }
    const std::size_t split = at + key.size();
    off_t offset = 0;
    if (!writeAt(fd_, text.data(), split, offset)) return failed();
    char buf[1 << 16];
    for (;;) {
      const std::size_t n = std::fread(buf, 1, sizeof buf, spill_);
      if (n > 0 && !writeAt(fd_, buf, n, offset)) return failed();
      if (n < sizeof buf) break;
    }
    if (std::ferror(spill_) != 0) return failed();
    if (!writeAt(fd_, text.data() + split, text.size() - split, offset)) return failed();
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) return failed();
    err = 0;
    return kOk;
  } catch (...) {
    err = ENOMEM;
    return kWriteFailed;
  }
}

}  // namespace varnel::rules
