#include "transaction/file_read.h"

#include <unistd.h>

#include <cerrno>

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

}  // namespace varnel::transaction
