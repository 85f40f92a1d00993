#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "rules/action_context.h"

namespace varnel::rules::detail {

/// Appends `text` to `out`, keeping `out` at most `limit` bytes.
inline void appendLimited(std::string& out, std::string_view text,
                          std::size_t limit = kMaxExpansion) {
  if (out.size() >= limit) return;
  const std::size_t room = limit - out.size();
  out.append(text.substr(0, room));
}

/// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
inline std::string truncateUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t n = limit;
  // Step back over continuation bytes so that a multi-byte character is not cut in half.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return std::string(text.substr(0, n));
}

}  // namespace varnel::rules::detail
