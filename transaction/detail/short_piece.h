#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace varnel::transaction::detail {

/// Longest piece putShortPiece stores.
inline constexpr std::size_t kShortPiece = 16;

/// Stores `bytes` (at most kShortPiece of them) at `out` followed by `sep` unless it is 0, and
/// returns the position after them, as putPiecePlain does. `out` must have more than kShortPiece
/// bytes of room. The bytes are moved by fixed-size copies that may overlap (inlined by the
/// compiler, where a copy of variable length is a library call); nothing outside `bytes` is
/// read, though up to kShortPiece + 1 bytes at `out` may be written.
inline char* putShortPiece(char* out, std::string_view bytes, char sep) {
  const std::size_t n = bytes.size();
  const char* src = bytes.data();
  if (n >= 8) {
    std::uint64_t a = 0, b = 0;
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + n - 8, 8);
    std::memcpy(out, &a, 8);
    std::memcpy(out + n - 8, &b, 8);
  } else if (n >= 4) {
    std::uint32_t a = 0, b = 0;
    std::memcpy(&a, src, 4);
    std::memcpy(&b, src + n - 4, 4);
    std::memcpy(out, &a, 4);
    std::memcpy(out + n - 4, &b, 4);
  } else {
    for (std::size_t i = 0; i < n; ++i) out[i] = src[i];
  }
  out += n;
  *out = sep;
  return out + (sep != 0 ? 1 : 0);
}

/// The plain store putShortPiece must equal.
inline char* putPiecePlain(char* out, std::string_view bytes, char sep) {
  if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
  out += bytes.size();
  if (sep != 0) *out++ = sep;
  return out;
}

}  // namespace varnel::transaction::detail
