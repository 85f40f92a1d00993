#include "rules/detail/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>

#include "rules/status.h"
#include "transaction/file_io.h"

namespace varnel::rules {

namespace detail {

std::string_view NameSet::at(std::uint32_t slot) const noexcept {
  const std::size_t position = slot - 1;
  return std::string_view(blocks_[position / kBlock].get() + position % kBlock);
}

std::size_t NameSet::find(std::string_view name, std::size_t hash) const noexcept {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    if (slots_[i] == 0 || at(slots_[i]) == name) return i;
  }
}

bool NameSet::contains(std::string_view name) const noexcept {
  if (count_ == 0) return false;
  return slots_[find(name, std::hash<std::string_view>{}(name))] != 0;
}

void NameSet::grow() {
  std::vector<std::uint32_t> old(slots_.empty() ? 64 : slots_.size() * 2, 0);
  old.swap(slots_);
  for (const std::uint32_t slot : old) {
    if (slot != 0) slots_[find(at(slot), std::hash<std::string_view>{}(at(slot)))] = slot;
  }
}

void NameSet::insert(std::string_view name) {
  if (name.size() >= kBlock) throw std::bad_alloc();
  // At most three quarters full, so that a search soon ends at an empty slot.
  if ((count_ + 1) * 4 > slots_.size() * 3) grow();
  const std::size_t i = find(name, std::hash<std::string_view>{}(name));
  if (slots_[i] != 0) return;
  if (kBlock - used_ < name.size() + 1) {
    if (blocks_.size() >= (std::size_t{0xFFFFFFFF} / kBlock)) throw std::bad_alloc();
    blocks_.reserve(blocks_.size() + 1);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
    used_ = 0;
  }
  char* to = blocks_.back().get() + used_;
  std::memcpy(to, name.data(), name.size());
  to[name.size()] = '\0';
  slots_[i] = static_cast<std::uint32_t>((blocks_.size() - 1) * kBlock + used_ + 1);
  used_ += name.size() + 1;
  ++count_;
}

void NameSet::insertAll(const NameSet& other) {
  for (const std::uint32_t slot : other.slots_) {
    if (slot != 0) insert(other.at(slot));
  }
}

}  // namespace detail

RunOutputs::~RunOutputs() { discard(); }

bool RunOutputs::setSourceFolder(const std::string& folder) noexcept {
  struct stat st {};
  haveSource_ = ::stat(folder.c_str(), &st) == 0;
  sourceDev_ = st.st_dev;
  sourceIno_ = st.st_ino;
  compareDestination();
  return haveSource_;
}

void RunOutputs::setDestinationFolder(const std::string& folder) {
  destFolder_ = folder;
  compareDestination();
}

bool RunOutputs::isSourceFolder(const std::string& folder) const noexcept {
  struct stat st {};
  if (!haveSource_ || ::stat(folder.c_str(), &st) != 0) return false;
  return st.st_dev == sourceDev_ && st.st_ino == sourceIno_;
}

void RunOutputs::compareDestination() noexcept {
  destIsSource_ = !destFolder_.empty() && isSourceFolder(destFolder_);
}

std::string RunOutputs::key(const std::string& path) const {
  // A view keeps its names as the run does.
  const std::string& dest = run_ != nullptr ? run_->destFolder_ : destFolder_;
  const bool inside = !dest.empty() && path.compare(0, dest.size(), dest) == 0;
  std::string k(1, inside ? '\x01' : '\x02');
  k.append(path, inside ? dest.size() : 0);
  return k;
}

bool RunOutputs::hasName(const std::string& path) const {
  const std::string k = key(path);
  const std::shared_lock<std::shared_mutex> lock(mutex_);
  return names_.contains(k);
}

bool RunOutputs::taken(const std::string& path) const {
  if (hasName(path)) return true;
  if (run_ == nullptr) return false;
  if (run_->hasName(path)) return true;
  foundFree_.push_back(path);
  return false;
}

void RunOutputs::claim(const std::string& path) {
  const std::string k = key(path);
  const std::unique_lock<std::shared_mutex> lock(mutex_);
  names_.insert(k);
}

namespace {
// Anonymous outputs waiting for their commit hold a descriptor each: beyond this many across
// the run, further ones are written under named temporaries, which hold none.
constexpr int kMostHeldDescriptors = 128;
std::atomic<int> heldDescriptors{0};
}  // namespace

int RunOutputs::keepTemporary(const std::string& path,
                              const std::function<int(Pending& p, int& err)>& make,
                              int& err) noexcept {
  err = 0;
  try {
    pending_.reserve(pending_.size() + 1);
    Pending p;
    p.path = path;
    if (const int rc = make(p, err); rc < 0) return rc;
    pending_.push_back(std::move(p));
    return kOk;
  } catch (...) {
    err = ENOMEM;
    return kOutOfMemory;
  }
}

int RunOutputs::write(const std::string& path, const WriteFile& write, int& err) noexcept {
  if (run_ == nullptr) return detail::replaceThroughTemporary(path, write, err);
  return keepTemporary(
      path, [&](Pending& p, int& e) { return detail::writeTemporaryBeside(path, write, p.tmp, e); },
      err);
}

int RunOutputs::fill(const std::string& path, const FillFile& fill, int& err) noexcept {
  if (run_ == nullptr) return detail::fillThroughTemporary(path, fill, err);
  return keepTemporary(
      path,
      [&](Pending& p, int& e) {
        if (heldDescriptors.fetch_add(1) < kMostHeldDescriptors) {
          const int rc = detail::fillAnonymousBeside(path, fill, p.fd, e);
          if (p.fd >= 0) return rc;
          heldDescriptors.fetch_sub(1);
          if (rc != detail::kAnonymousUnavailable) return rc;
        } else {
          heldDescriptors.fetch_sub(1);
        }
        return detail::fillTemporaryBeside(path, fill, p.tmp, e);
      },
      err);
}

void RunOutputs::attach(const RunOutputs& run) noexcept {
  run_ = &run;
  haveSource_ = run.haveSource_;
  sourceDev_ = run.sourceDev_;
  sourceIno_ = run.sourceIno_;
}

bool RunOutputs::stillValid() const {
  if (run_ == nullptr) return true;
  return std::none_of(foundFree_.begin(), foundFree_.end(),
                      [&](const std::string& p) { return run_->hasName(p); });
}

int RunOutputs::commitTo(RunOutputs& run, int& err) noexcept {
  err = 0;
  try {
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      Pending& p = pending_[i];
      int rc = kOk;
      if (p.fd >= 0) {
        rc = detail::closeNamed(p.fd, p.path, detail::nameAnonymous(p.fd, p.path, err), err);
        p.fd = detail::kNoDescriptor;
        heldDescriptors.fetch_sub(1);
      } else if (std::rename(p.tmp.c_str(), p.path.c_str()) != 0) {
        err = errno;
        rc = kWriteFailed;
      }
      if (rc != kOk) {
        // The failed output's temporary goes with those not yet committed; an anonymous one
        // has already gone with its descriptor.
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i));
        discard();
        return rc;
      }
    }
    pending_.clear();
    const std::unique_lock<std::shared_mutex> lock(run.mutex_);
    run.names_.insertAll(names_);
    return kOk;
  } catch (...) {
    discard();
    err = ENOMEM;
    return kOutOfMemory;
  }
}

void RunOutputs::discard() noexcept {
  for (const Pending& p : pending_) {
    if (p.fd >= 0) {
      ::close(p.fd);
      heldDescriptors.fetch_sub(1);
    } else if (!p.tmp.empty()) {
      ::unlink(p.tmp.c_str());
    }
  }
  pending_.clear();
}

bool RunOutputs::inSourceFolder(const std::string& path) const noexcept {
  if (!haveSource_) return false;
  try {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    // The destination folder itself was compared once, when it was set, rather than for every
    // output written into it.
    const RunOutputs& owner = run_ != nullptr ? *run_ : *this;
    if (!owner.destFolder_.empty() && folder == owner.destFolder_) return owner.destIsSource_;
    return isSourceFolder(folder);
  } catch (...) {
    return false;
  }
}

namespace detail {

int prepareOutputFolders(const std::string& destFolder, const std::string& path,
                         bool create) noexcept {
  try {
    if (path.compare(0, destFolder.size(), destFolder) != 0) return kPathOutsideDestination;
    for (std::size_t slash = path.find('/', destFolder.size()); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      const std::string folder = path.substr(0, slash);
      struct stat st {};
      if (::lstat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT || !create) return kWriteFailed;
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return kWriteFailed;
        if (::lstat(folder.c_str(), &st) != 0) return kWriteFailed;
      }
      // A link here could lead anywhere: only real folders are written into.
      if (S_ISLNK(st.st_mode)) return kNotARealFolder;
      if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return kWriteFailed;
      }
    }
    return kOk;
  } catch (...) {
    return kOutOfMemory;
  }
}

namespace {

// Offers `take` fresh names beside `path`, ".varnel-PID-<tag>N.tmp", until it takes one (returns
// true) or fails for a reason other than the name being there already (returns false, errno
// says why). Names that exist (another process, or one interrupted earlier) are passed over,
// never reused or removed. May throw std::bad_alloc.
template <class Take>
bool takeTemporaryName(const std::string& path, const char* tag, std::string& tmp, Take take) {
  static std::atomic<unsigned> serial{0};
  // The process id is asked once: it is a system call, and a name taken by a process forked
  // since is passed over like any other.
  static const pid_t pid = ::getpid();
  const std::size_t slash = path.rfind('/');
  const std::string stem =
      (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + ".varnel-" +
      std::to_string(pid) + "-" + tag;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmp = stem + std::to_string(serial.fetch_add(1)) + ".tmp";
    if (take(tmp)) return true;
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

}  // namespace

int createTemporaryBeside(const std::string& path, std::string& tmp) noexcept {
  try {
    int fd = kNoDescriptor;
    (void)takeTemporaryName(path, "", tmp, [&](const std::string& name) {
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      return fd >= 0;
    });
    return fd;
  } catch (...) {
    errno = ENOMEM;
    return kNoDescriptor;
  }
}

int createReplacing(const std::string& path) noexcept {
  std::string tmp;
  const int fd = createTemporaryBeside(path, tmp);
  if (fd < 0) return kNoDescriptor;
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    errno = err;
    return kNoDescriptor;
  }
  return fd;
}

namespace {

// Moves a finished temporary file to its final name; on failure the temporary is removed and
// `err` holds the system's reason.
int renameIntoPlace(const std::string& tmp, const std::string& path, int& err) noexcept {
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    err = errno;
    ::unlink(tmp.c_str());
    return kWriteFailed;
  }
  return kOk;
}

// How an anonymous file is given a name: through its descriptor where the system allows it,
// else through its entry under /proc; once neither works, outputs get named temporaries.
enum class LinkWay : int { kEmptyPath, kProc, kNone };
std::atomic<LinkWay> linkWay{LinkWay::kEmptyPath};
std::atomic<bool> anonymousRefused{false};

// Gives the anonymous file `fd` the name `target`, never replacing anything there. Returns 0,
// or -1 with errno set (EEXIST when the name is taken).
int linkAnonymous(int fd, const std::string& target) noexcept {
  if (linkWay.load(std::memory_order_relaxed) == LinkWay::kEmptyPath) {
    if (::linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) return 0;
    // ENOENT also answers a caller the system does not let link by descriptor.
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return -1;
    linkWay.store(LinkWay::kProc, std::memory_order_relaxed);
  }
  if (linkWay.load(std::memory_order_relaxed) == LinkWay::kProc) {
    char proc[48];
    const int n = std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof proc &&
        ::linkat(AT_FDCWD, proc, AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return 0;
    }
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return -1;
    linkWay.store(LinkWay::kNone, std::memory_order_relaxed);
    anonymousRefused.store(true, std::memory_order_relaxed);
  }
  errno = EOPNOTSUPP;
  return -1;
}

// Copies the content of the anonymous file `fd` into a named temporary beside `path`, for a
// system that made the anonymous file but will not name it. Returns kOk with its name in `tmp`.
int copyToTemporary(int fd, const std::string& path, std::string& tmp, int& err) noexcept {
  const int to = createTemporaryBeside(path, tmp);
  if (to < 0) {
    err = errno;
    return kWriteFailed;
  }
  char buf[64 * 1024];
  bool ok = true;
  for (std::uint64_t at = 0;;) {
    const std::size_t n = transaction::readFileAt(fd, at, buf, sizeof buf);
    if (n == 0) break;
    ok = transaction::writeAll(to, buf, n);
    if (!ok) break;
    at += n;
  }
  if (!ok) err = errno;
  if (::close(to) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) ::unlink(tmp.c_str());
  return ok ? kOk : kWriteFailed;
}

}  // namespace

void refuseAnonymousFiles(bool refuse) noexcept {
  anonymousRefused.store(refuse);
  linkWay.store(refuse ? LinkWay::kNone : LinkWay::kEmptyPath);
}

int createAnonymousBeside(const std::string& path) noexcept {
  if (anonymousRefused.load(std::memory_order_relaxed)) {
    errno = EOPNOTSUPP;
    return kNoDescriptor;
  }
  try {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    // Readable too, so that its content can still be copied should naming it fail.
    const int fd = ::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
    // A file system without anonymous files answers one of these; the folder's own faults are
    // met again by the named temporary.
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
      anonymousRefused.store(true, std::memory_order_relaxed);
    }
    return fd;
  } catch (...) {
    errno = ENOMEM;
    return kNoDescriptor;
  }
}

int nameAnonymous(int fd, const std::string& path, int& err) noexcept {
  err = 0;
  if (linkAnonymous(fd, path) == 0) return kOk;
  try {
    std::string tmp;
    if (errno == EEXIST) {
      // Something has the name: it is replaced as a rename replaces it (a file, a link itself,
      // never what a link points to), through a fresh temporary name.
      if (takeTemporaryName(path, "a", tmp, [&](const std::string& name) {
            return linkAnonymous(fd, name) == 0;
          })) {
        return renameIntoPlace(tmp, path, err);
      }
    }
    if (errno != EOPNOTSUPP) {
      err = errno;
      return kWriteFailed;
    }
    if (const int rc = copyToTemporary(fd, path, tmp, err); rc != kOk) return rc;
    return renameIntoPlace(tmp, path, err);
  } catch (...) {
    err = ENOMEM;
    return kOutOfMemory;
  }
}

int closeNamed(int fd, const std::string& path, int rc, int& err) noexcept {
  // Local file systems report write failures at the write; where one reports it only now, the
  // output just named is taken away again rather than left incomplete.
  if (::close(fd) != 0 && rc == kOk) {
    err = errno;
    ::unlink(path.c_str());
    return kWriteFailed;
  }
  return rc;
}

namespace {

// The errors of a system or file system that does not make anonymous files.
bool anonymousUnavailable(int err) noexcept {
  return err == EOPNOTSUPP || err == EISDIR || err == EINVAL;
}

// Has `fill` write the open file `fd`; returns its status.
int fillOpen(int fd, const FillFile& fill, int& err) noexcept {
  try {
    return fill(fd, err);
  } catch (...) {
    err = ENOMEM;
    return kOutOfMemory;
  }
}

}  // namespace

int fillAnonymousBeside(const std::string& path, const FillFile& fill, int& fd, int& err) noexcept {
  err = 0;
  fd = createAnonymousBeside(path);
  if (fd < 0) {
    err = errno;
    return anonymousUnavailable(err) ? kAnonymousUnavailable : kWriteFailed;
  }
  const int rc = fillOpen(fd, fill, err);
  if (rc < 0) {
    ::close(fd);
    fd = kNoDescriptor;
  }
  return rc;
}

int fillTemporaryBeside(const std::string& path, const FillFile& fill, std::string& tmp,
                        int& err) noexcept {
  err = 0;
  const int fd = createTemporaryBeside(path, tmp);
  if (fd < 0) {
    err = errno;
    return kWriteFailed;
  }
  int rc = fillOpen(fd, fill, err);
  // A full disk may show only when the file is closed (network file systems, quotas).
  if (::close(fd) != 0 && rc >= 0) {
    rc = kWriteFailed;
    err = errno;
  }
  if (rc < 0) ::unlink(tmp.c_str());
  return rc;
}

int writeTemporaryBeside(const std::string& path, const WriteFile& write, std::string& tmp,
                         int& err) noexcept {
  // Writers that take a name open the temporary themselves and say what the system refused.
  return fillTemporaryBeside(
      path, [&](int, int& e) { return write(tmp, e); }, tmp, err);
}

int fillThroughTemporary(const std::string& path, const FillFile& fill, int& err) noexcept {
  int fd = kNoDescriptor;
  const int rc = fillAnonymousBeside(path, fill, fd, err);
  if (fd >= 0) return closeNamed(fd, path, nameAnonymous(fd, path, err), err);
  if (rc != kAnonymousUnavailable) return rc;
  std::string tmp;
  if (const int r = fillTemporaryBeside(path, fill, tmp, err); r < 0) return r;
  return renameIntoPlace(tmp, path, err);
}

int replaceThroughTemporary(const std::string& path, const WriteFile& write, int& err) noexcept {
  std::string tmp;
  if (const int rc = writeTemporaryBeside(path, write, tmp, err); rc < 0) return rc;
  return renameIntoPlace(tmp, path, err);
}

int writeBytesTo(const std::string& path, std::string_view bytes) noexcept {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return kWriteFailed;
  const bool ok = transaction::writeAll(fd, bytes.data(), bytes.size());
  const int err = errno;
  const bool closed = ::close(fd) == 0;
  if (!ok) errno = err;
  return ok && closed ? kOk : kWriteFailed;
}

std::string systemReason(int err) {
  if (err == 0) return "unknown reason";
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not be in `buf`.
  const char* text = strerror_r(err, buf, sizeof buf);
  return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(err);
}

}  // namespace detail
}  // namespace varnel::rules
