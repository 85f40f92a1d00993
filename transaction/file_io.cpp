#include "transaction/file_io.h"

#include <unistd.h>

#include <cerrno>
#include <new>

namespace varnel::transaction {

std::size_t readFileAt(int fd, std::uint64_t offset, char* dst, std::size_t n) noexcept {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd, dst + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool readToEnd(int fd, std::string& out) noexcept {
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    try {
      out.append(buf, static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      return false;
    }
  }
}

bool writeAll(int fd, const char* data, std::size_t n) noexcept {
  while (n > 0) {
    const ssize_t put = ::write(fd, data, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    data += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace varnel::transaction
