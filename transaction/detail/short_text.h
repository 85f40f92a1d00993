#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel::transaction::detail {

/// Texts up to this length fit a string's inside buffer; most tags and items of a text record are
/// this short.
inline constexpr std::size_t kShortText = 15;

/// Copies `text` into a new string, as copyTextPlain does. A short text with at least
/// kShortText + 1 bytes readable from its start (before `readableEnd`) is copied as a fixed
/// kShortText bytes and then cut to length: a fixed-length copy is inlined by the compiler, one of
/// variable length is a library call.
[[nodiscard]] inline std::string copyShortText(std::string_view text, const char* readableEnd) {
  const bool fixed = text.size() <= kShortText &&
                     readableEnd - text.data() > static_cast<std::ptrdiff_t>(kShortText);
  // One named result, built in place from either copy, so that it is never moved (a move of a
  // short string is itself a copy of variable length).
  std::string out = fixed ? std::string(text.data(), kShortText) : std::string(text);
  if (fixed) out.resize(text.size());
  return out;
}

/// The plain copy copyShortText must equal.
[[nodiscard]] inline std::string copyTextPlain(std::string_view text) { return std::string(text); }

}  // namespace varnel::transaction::detail
