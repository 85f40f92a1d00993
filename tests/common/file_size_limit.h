#pragma once

#include <sys/resource.h>

#include <csignal>

namespace varnel::test {

/// While alive, writes past `bytes` fail with EFBIG (as writes on a full disk fail with ENOSPC)
/// instead of raising SIGXFSZ. `active()` says whether the limit could be set.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    if (::getrlimit(RLIMIT_FSIZE, &before_) != 0) return;
    handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before_;
    limit.rlim_cur = bytes;
    active_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    if (active_) (void)::setrlimit(RLIMIT_FSIZE, &before_);
    (void)std::signal(SIGXFSZ, handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  [[nodiscard]] bool active() const { return active_; }

 private:
  rlimit before_{};
  void (*handler_)(int) = SIG_DFL;
  bool active_ = false;
};

}  // namespace varnel::test
