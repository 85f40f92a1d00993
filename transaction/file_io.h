#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnel::transaction {

// The one place that retries interrupted (EINTR) and short reads and writes of a descriptor.

/// Reads up to n bytes at `offset` of an open file into `dst`, going on after interrupted or short
/// reads; returns how many arrived (fewer only at the end of the file or on an error).
std::size_t readFileAt(int fd, std::uint64_t offset, char* dst, std::size_t n) noexcept;

/// Appends everything from the descriptor's position to its end to `out`, going on after
/// interrupted or short reads. Returns false on a read error or when memory runs out (errno says
/// which; `out` then holds what had arrived).
[[nodiscard]] bool readToEnd(int fd, std::string& out) noexcept;

/// Writes all n bytes of `data`, going on after interrupted or short writes. Returns false on an
/// error (errno set; EIO when the file takes no byte more).
[[nodiscard]] bool writeAll(int fd, const char* data, std::size_t n) noexcept;

}  // namespace varnel::transaction
