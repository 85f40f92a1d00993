#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel::transaction {

/// Reads up to n bytes at `offset` of an open file into `dst`, going on after interrupted or short
/// reads; returns how many arrived (fewer only at the end of the file or on an error).
std::size_t readFileAt(int fd, std::uint64_t offset, char* dst, std::size_t n) noexcept;

}  // namespace varnel::transaction
