#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varnel::transaction::detail {

/// Where a base64 decode ended.
struct Base64Run {
  std::size_t written = 0;  ///< bytes decoded
  std::size_t stop = 0;     ///< index of the "=" or stray character that ended it, or the size
  bool ok = true;   ///< false when a stray character (not alphabet, whitespace, "=") ended it
  int pending = 0;  ///< characters of an unfinished group at the end (its bytes are in `written`)
};

/// Decodes base64 from the start of `text` until its end, the first "=", or the first character
/// that is neither of the alphabet nor whitespace. Writes at most (characters decoded) / 4 * 3 + 16
/// bytes at `out`: bytes past `written` are scratch.
[[nodiscard]] Base64Run decodeBase64Run(std::string_view text, std::uint8_t* out) noexcept;

}  // namespace varnel::transaction::detail
