#pragma once

// Writing the run's outputs into the destination folder so that nothing already there can
// redirect them: every file is written under a fresh temporary name (created exclusively, never
// through a link) and renamed over its final name, which replaces a link or a file of that name
// itself, never what a link points to. Folders on the way must be real folders, not links.

#include <sys/types.h>

#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace varnel::rules {

/// The names one run has written or reserved in its destination, and the source folder, which
/// the run never writes into. A second output under a name already taken is refused.
class RunOutputs {
 public:
  /// Remembers the source folder (by device and inode, so that any spelling of it matches).
  /// Returns false when it cannot be looked up.
  bool setSourceFolder(const std::string& folder) noexcept;
  /// True when this run already wrote or reserved `path`.
  [[nodiscard]] bool taken(const std::string& path) const;
  /// Marks `path` as written by this run.
  void claim(const std::string& path);
  /// True when the folder that holds `path` is the source folder.
  [[nodiscard]] bool inSourceFolder(const std::string& path) const noexcept;

 private:
  std::set<std::string> names_;
  bool haveSource_ = false;
  dev_t sourceDev_ = 0;
  ino_t sourceIno_ = 0;
};

namespace detail {

/// Makes sure every folder between `destFolder` (ending with "/") and the file `path` inside it
/// is a real folder, creating missing ones when `create` is set. Returns kOk;
/// kPathOutsideDestination when `path` is not inside `destFolder`; kNotARealFolder when one of
/// them is a link or not a folder; kWriteFailed (errno set) when one cannot be created.
[[nodiscard]] int prepareOutputFolders(const std::string& destFolder, const std::string& path,
                                       bool create) noexcept;

/// The descriptor value of a file that could not be opened.
inline constexpr int kNoDescriptor = -1;

/// Creates an empty temporary file in the folder of `path` (exclusively, not through a link) and
/// returns its descriptor, or kNoDescriptor with errno set. `tmp` receives its name.
[[nodiscard]] int createTemporaryBeside(const std::string& path, std::string& tmp) noexcept;

/// Creates `path` anew and returns a descriptor open for writing, or kNoDescriptor with errno
/// set. Whatever was at `path` (a file, a link) is replaced by the new empty file, not written
/// through.
[[nodiscard]] int createReplacing(const std::string& path) noexcept;

/// Writes a file through a temporary one: `write` fills the file named by its argument (a fresh
/// empty file beside `path`) and returns 0 or a negative status; on success the temporary file
/// is renamed to `path`. On failure no trace is left and `path` is untouched. Returns 0, the
/// status of `write`, or kWriteFailed; `err` receives the system's error number when known (0
/// otherwise).
[[nodiscard]] int replaceThroughTemporary(const std::string& path,
                                          const std::function<int(const std::string&)>& write,
                                          int& err) noexcept;

/// Writes `bytes` to the file `path` (which must exist); returns 0 or kWriteFailed (errno set).
[[nodiscard]] int writeBytesTo(const std::string& path, std::string_view bytes) noexcept;

/// The system's text for an error number, for report rows and messages.
[[nodiscard]] std::string systemReason(int err);

}  // namespace detail
}  // namespace varnel::rules
