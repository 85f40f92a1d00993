#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "rules/report.h"

namespace varnel::rules {

/// The most shards a folder can be split into.
inline constexpr int kMaxShards = 100000;

/// The part of a folder listing one run takes: the files whose position (from 0) in the
/// name-sorted listing is index - 1 modulo count. A count of 0 takes the whole listing.
struct Shard {
  int index = 0;  ///< K, 1..count
  int count = 0;  ///< N; 0: not sharded
  [[nodiscard]] bool active() const noexcept { return count > 0; }
};

/// Reads "K/N" with 1 <= K <= N <= kMaxShards (decimal, nothing else). Returns false, `out`
/// untouched, for any other text.
[[nodiscard]] bool parseShard(std::string_view text, Shard& out) noexcept;

/// "_shard-K-of-N", the part of a shard's file names that names it ("" when not sharded).
[[nodiscard]] std::string shardSuffix(const Shard& shard);

/// The digest a shard record keeps of the whole listing, so that the merge can tell whether
/// every shard saw the same folder; fed the names in listing order.
class ListingDigest {
 public:
  void add(std::string_view name) noexcept;
  [[nodiscard]] std::string text() const;

 private:
  std::uint64_t hash_ = 14695981039346656037ULL;  // FNV-1a, 64 bits
};

/// Keeps the names of `shard` from a name-sorted listing, in their order.
void selectShard(const Shard& shard, std::vector<std::string>& names);

/// How many of `listed` files the shard takes (all of them when not sharded).
[[nodiscard]] int shardFileCount(const Shard& shard, int listed) noexcept;

/// Name of the record a shard run leaves in the destination folder for the merge:
/// "VarnelReport_shard-K-of-N.json".
[[nodiscard]] std::string shardRecordName(const Shard& shard);

/// The record of one shard run: it locks the shard's record file in the destination folder for
/// the run (so a second run of the same shard is refused while other shards run freely), keeps
/// what the merge needs per file, and writes it as JSON when the run is complete. The record
/// stays empty while the run is in progress and when it does not complete. The per-file part is
/// kept in an unnamed temporary file as the run goes, so the recorder's memory does not grow
/// with the number of files.
class ShardRecorder {
 public:
  ShardRecorder() = default;
  ShardRecorder(const ShardRecorder&) = delete;
  ShardRecorder& operator=(const ShardRecorder&) = delete;
  ~ShardRecorder();

  /// Opens and locks the record of `shard` in `destFolder` (ending with "/") and empties it.
  /// `listed` is the number of names in the whole name-sorted listing of the source folder and
  /// `digest` its ListingDigest text. Returns kOk, kShardInUse when another run of the shard
  /// holds it, or kWriteFailed (errno set) when it cannot be created.
  [[nodiscard]] int begin(const std::string& destFolder, const Shard& shard, std::size_t listed,
                          const std::string& digest) noexcept;
  /// Adds one file in run order: the name its rows show, the bytes of its report rows, of the
  /// results.csv header written with it (0 but for the first file with CSV values), of its
  /// results.csv value line, and the outputs it wrote (relative to the destination folder).
  /// A file that cannot be kept makes finish() fail, so the merge never sees a record with a
  /// file missing.
  void addFile(const std::string& name, std::uint64_t reportBytes, std::uint64_t csvHeaderBytes,
               std::uint64_t csvLineBytes, const std::string& output,
               const std::vector<std::string>& exports) noexcept;
  /// Marks results.csv of the shard as missing lines (a write failed).
  void csvFailed() noexcept { csvComplete_ = false; }
  /// Writes the record of a run that ended. `reportName` and `csvName` are names in the
  /// destination folder (`csvName` "" when no results.csv was written); `time19` and `nameTime`
  /// are the report's times; the epoch milliseconds bound the run. Returns kOk, or
  /// kWriteFailed with `err` set to the system error that stopped the record.
  [[nodiscard]] int finish(const std::string& reportName, const std::string& csvName,
                           std::string_view time19, std::string_view nameTime,
                           const RunCounts& counts, int filesWithErrors, long long startedMs,
                           long long finishedMs, int& err) noexcept;

 private:
  int fd_ = -1;
  // The "files" array's elements, comma-separated, as the run adds them.
  std::FILE* spill_ = nullptr;
  int spillErr_ = 0;  // why keeping a file failed; 0 while none has
  std::size_t files_ = 0;
  Shard shard_;
  int listed_ = 0;
  std::string listingDigest_;
  bool csvComplete_ = true;
};

/// What `varnel report merge` made of the shard records of a destination folder.
struct MergeResult {
  std::string reportPath;  ///< the merged report
  std::string csvPath;     ///< the merged results.csv, "" when no shard wrote one
  RunCounts counts;
  int filesWithErrors = 0;
  int shards = 0;
  /// Outputs written by files of more than one shard ("name: a.nst, c.nst"): the last one
  /// written stayed; a single run would have refused all but the first.
  std::vector<std::string> sharedOutputs;
  std::string message;  ///< why the set was refused or what could not be written
};

/// Merges the reports and results.csv files of a complete set of shard runs in `destFolder`
/// into one report (named after the earliest shard's start) and one results.csv, equal to what
/// one run over the whole folder writes: rows and values in listing order, counts summed, the
/// time taken spanning the earliest start to the latest end. With `removeShards` the shards'
/// reports, results files and records are removed once the merge is written. The folder is
/// locked like a run. Returns kOk, kShardSetRefused (no records, mixed shard counts, a missing,
/// unfinished or stopped shard, different listings, files that do not match their record;
/// `out.message` says which), kWriteFailed (`out.message` names the file) or kOutOfMemory.
[[nodiscard]] int mergeShardReports(const std::string& destFolder, bool removeShards,
                                    MergeResult& out) noexcept;

}  // namespace varnel::rules
