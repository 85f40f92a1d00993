#pragma once

// Writing the run's outputs into the destination folder so that nothing already there can
// redirect them: every file is written as an anonymous file of the destination folder, or,
// where the file system has none, under a fresh temporary name (created exclusively, never
// through a link), and only when complete given its final name: linked where the name is free,
// else renamed over it, which replaces a link or a file of that name itself, never what a link
// points to. Folders on the way must be real folders, not links.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::rules {

namespace detail {

/// A set of names kept compactly: their bytes one after the other in blocks that are never
/// moved, and an open-addressing table of 4-byte positions, about the name's length plus 7 bytes
/// each, so that a run over a million files does not hold a million tree nodes. Names never
/// contain a NUL and are shorter than a block.
class NameSet {
 public:
  [[nodiscard]] bool contains(std::string_view name) const noexcept;
  /// Adds `name` (nothing when it is there already). Throws std::bad_alloc when memory or the
  /// 4-byte positions run out.
  void insert(std::string_view name);
  /// Adds every name of `other`.
  void insertAll(const NameSet& other);

 private:
  static constexpr std::size_t kBlock = std::size_t{64} * 1024;
  // The slot for `name`: the one holding it, or the empty one where it would go.
  [[nodiscard]] std::size_t find(std::string_view name, std::size_t hash) const noexcept;
  [[nodiscard]] std::string_view at(std::uint32_t slot) const noexcept;
  void grow();

  std::vector<std::unique_ptr<char[]>> blocks_;  // names, each followed by a NUL
  std::size_t used_ = kBlock;                    // bytes used of the last block
  std::vector<std::uint32_t> slots_;             // block * kBlock + offset + 1; 0 for an empty slot
  std::size_t count_ = 0;
};

}  // namespace detail

/// Fills an open, empty output file (the descriptor stays the caller's). Returns 0 or a negative
/// status; when a write failed `err` receives the system's error number (0 when the failure is
/// not the system's).
using FillFile = std::function<int(int fd, int& err)>;

/// Writes an output file by name (a fresh empty file, which the writer opens itself). Returns 0 or
/// a negative status; when the system refused a create, write or close, `err` receives its error
/// number, taken where the call failed (0 when the failure is not the system's).
using WriteFile = std::function<int(const std::string& path, int& err)>;

/// The names one run has written or reserved in its destination, and the source folder, which
/// the run never writes into. A second output under a name already taken is refused.
///
/// A run that converts several files at once gives each file its own view (attach): the view
/// sees the names the run has committed, keeps the file's own names, remembers which names it
/// found free, and writes outputs that get their names only at commitTo. A few files per worker
/// are in flight, and a bounded number of anonymous outputs hold a descriptor until then. Files
/// are committed in listing order; a view whose assumptions no longer hold (stillValid) is
/// discarded and its file converted again, so that every name decision comes out as in a run
/// of one file after the other. The run's own registry is safe to read from many threads while
/// one thread commits.
class RunOutputs {
 public:
  RunOutputs() = default;
  RunOutputs(const RunOutputs&) = delete;
  RunOutputs& operator=(const RunOutputs&) = delete;
  /// Drops the outputs of a view that was neither committed nor discarded.
  ~RunOutputs();

  /// Remembers the source folder (by device and inode, so that any spelling of it matches).
  /// Returns false when it cannot be looked up.
  bool setSourceFolder(const std::string& folder) noexcept;
  /// Remembers the destination folder (ending with "/"): names inside it are kept without it,
  /// so that the registry does not grow by the folder's length for every file. Whether it is
  /// the source folder is looked up now, once for all outputs written straight into it.
  void setDestinationFolder(const std::string& folder);
  /// True when this run already wrote or reserved `path`.
  [[nodiscard]] bool taken(const std::string& path) const;
  /// Marks `path` as written by this run.
  void claim(const std::string& path);
  /// True when the folder that holds `path` is the source folder.
  [[nodiscard]] bool inSourceFolder(const std::string& path) const noexcept;

  /// Writes `path` as replaceThroughTemporary does. In a view the temporary file is kept and
  /// renamed to `path` by commitTo. Returns 0, the status of `write`, or kWriteFailed; `err` is
  /// the error number `write` gives, or that of creating, closing or renaming the file.
  [[nodiscard]] int write(const std::string& path, const WriteFile& write, int& err) noexcept;

  /// The same as write, with the output filled through its open descriptor (an anonymous file
  /// where the file system has them); `err` is the error number `fill` gives, or that of
  /// creating, closing, linking or renaming the file.
  [[nodiscard]] int fill(const std::string& path, const FillFile& fill, int& err) noexcept;

  /// Makes this a view of `run` for one file (see the class comment); `run` must outlive it.
  void attach(const RunOutputs& run) noexcept;
  /// True when every name this view found free is still free in the run.
  [[nodiscard]] bool stillValid() const;
  /// Gives the view's outputs their names, in the order written, and adds its names to the
  /// run. Returns 0, or kWriteFailed (errno in `err`) when a rename failed.
  [[nodiscard]] int commitTo(RunOutputs& run, int& err) noexcept;
  /// Drops the view's outputs; nothing of it reaches the run.
  void discard() noexcept;

 private:
  // An output waiting for its commit: an open anonymous file (fd), or a named temporary.
  struct Pending {
    std::string tmp;
    std::string path;
    int fd = -1;
  };
  [[nodiscard]] bool hasName(const std::string& path) const;
  [[nodiscard]] bool isSourceFolder(const std::string& folder) const noexcept;
  void compareDestination() noexcept;
  // How `path` is kept in names_: a mark byte, then the path inside the destination folder, or
  // another mark and the whole path for one outside it.
  [[nodiscard]] std::string key(const std::string& path) const;
  // Keeps the output `make` writes for `path` until commit.
  [[nodiscard]] int keepTemporary(const std::string& path,
                                  const std::function<int(Pending& p, int& err)>& make,
                                  int& err) noexcept;

  // Guards names_. Workers only read the run's names (shared), so that they never wait for one
  // another; the committing thread alone adds to them (exclusive).
  mutable std::shared_mutex mutex_;
  detail::NameSet names_;
  std::string destFolder_;
  const RunOutputs* run_ = nullptr;
  mutable std::vector<std::string> foundFree_;
  std::vector<Pending> pending_;
  bool haveSource_ = false;
  bool destIsSource_ = false;
  dev_t sourceDev_ = 0;
  ino_t sourceIno_ = 0;
};

namespace detail {

/// Makes sure every folder between `destFolder` (ending with "/") and the file `path` inside it
/// is a real folder, creating missing ones when `create` is set. Returns kOk;
/// kPathOutsideDestination when `path` is not inside `destFolder`; kNotARealFolder when one of
/// them is a link; kWriteFailed (errno set) when one cannot be created or is something other
/// than a folder (ENOTDIR).
[[nodiscard]] int prepareOutputFolders(const std::string& destFolder, const std::string& path,
                                       bool create) noexcept;

/// The descriptor value of a file that could not be opened.
inline constexpr int kNoDescriptor = -1;

/// Creates an empty temporary file in the folder of `path` (exclusively, not through a link) and
/// returns its descriptor, or kNoDescriptor with errno set. `tmp` receives its name.
[[nodiscard]] int createTemporaryBeside(const std::string& path, std::string& tmp) noexcept;

/// Creates an anonymous file (it has no name until linked) in the folder of `path`, open for
/// reading and writing, and returns its descriptor; kNoDescriptor with errno set when it cannot,
/// EOPNOTSUPP, EISDIR or EINVAL meaning that the system or file system makes none (after one
/// such answer, none is tried again).
[[nodiscard]] int createAnonymousBeside(const std::string& path) noexcept;

/// Returned by fillAnonymousBeside when no anonymous file can be made there: the output is to
/// be written under a named temporary instead.
inline constexpr int kAnonymousUnavailable = 1;

/// Creates an anonymous file beside `path` and has `fill` write it. Returns 0 with the open
/// descriptor in `fd` (the caller names it with nameAnonymous and closes it), the status of
/// `fill`, kWriteFailed, or kAnonymousUnavailable; on every failure `fd` is kNoDescriptor and
/// `err` holds the system's error number when there is one.
[[nodiscard]] int fillAnonymousBeside(const std::string& path, const FillFile& fill, int& fd,
                                      int& err) noexcept;

/// Gives the finished anonymous file `fd` the name `path`: linked when the name is free, else
/// linked under a temporary name and renamed over whatever is there (a file or a link, replaced
/// itself). Where the system will not link it, its content is copied into a named temporary.
/// Returns 0, or kWriteFailed with the error number in `err`; the descriptor stays open.
[[nodiscard]] int nameAnonymous(int fd, const std::string& path, int& err) noexcept;

/// Closes the descriptor of the output just named `path` by nameAnonymous, whose status is
/// `rc`; when the close reports a failed write, the output is removed again. Returns `rc`, or
/// kWriteFailed with the error number in `err`.
[[nodiscard]] int closeNamed(int fd, const std::string& path, int rc, int& err) noexcept;

/// For tests: when `refuse` is set, outputs are written as if the file system made no anonymous
/// files; when cleared, anonymous files are tried again.
void refuseAnonymousFiles(bool refuse) noexcept;

/// Creates a temporary file beside `path` and has `write` fill it (by name). Returns the status of
/// `write` with the temporary's name in `tmp`, or kWriteFailed when none can be created or
/// closed; on a failure the temporary is removed and `err` holds the error number `write` gave,
/// or that of creating or closing the file.
[[nodiscard]] int writeTemporaryBeside(const std::string& path, const WriteFile& write,
                                       std::string& tmp, int& err) noexcept;

/// Creates a temporary file beside `path` and has `fill` write it through its descriptor, which
/// is closed after. Returns 0 with the temporary's name in `tmp`, the status of `fill`, or
/// kWriteFailed when the file cannot be created or closed; on a failure the temporary is removed
/// and `err` holds the system's error number when there is one.
[[nodiscard]] int fillTemporaryBeside(const std::string& path, const FillFile& fill,
                                      std::string& tmp, int& err) noexcept;

/// replaceThroughTemporary with the file filled through its descriptor: an anonymous file
/// (fillAnonymousBeside, nameAnonymous), or a named temporary where there are none.
[[nodiscard]] int fillThroughTemporary(const std::string& path, const FillFile& fill,
                                       int& err) noexcept;

/// Creates `path` anew and returns a descriptor open for writing, or kNoDescriptor with errno
/// set. Whatever was at `path` (a file, a link) is replaced by the new empty file, not written
/// through.
[[nodiscard]] int createReplacing(const std::string& path) noexcept;

/// Writes a file through a temporary one: `write` fills the file named by its argument (a fresh
/// empty file beside `path`) and returns 0 or a negative status; on success the temporary file
/// is renamed to `path`. On failure no trace is left and `path` is untouched. Returns 0, the
/// status of `write`, or kWriteFailed; `err` receives the system's error number when known (0
/// otherwise).
[[nodiscard]] int replaceThroughTemporary(const std::string& path, const WriteFile& write,
                                          int& err) noexcept;

/// Writes `bytes` to the file `path` (which must exist); returns 0 or kWriteFailed (errno set).
[[nodiscard]] int writeBytesTo(const std::string& path, std::string_view bytes) noexcept;

/// The system's text for an error number, for report rows and messages.
[[nodiscard]] std::string systemReason(int err);

}  // namespace detail
}  // namespace varnel::rules
