#pragma once

#include <string>
#include <string_view>

namespace varnel::imaging::detail {

/// Size of the buffers that keep a codec library's error message (libpng, libjpeg, OpenJPEG,
/// libtiff) until the failing call returns.
inline constexpr std::size_t kLibraryMessageSize = 200;

/// Stores `text` as the reason of a failure when the caller asked for one (`why` not null).
/// Never throws: a reason that cannot be stored is left empty.
inline void setReason(std::string* why, std::string_view text) noexcept {
  if (why == nullptr) return;
  try {
    why->assign(text);
  } catch (...) {
    why->clear();
  }
}

/// Stores the reason as setReason does and returns `status`, for `return fail(...)`.
[[nodiscard]] inline int fail(std::string* why, int status, std::string_view text) noexcept {
  setReason(why, text);
  return status;
}

/// `prefix` followed by a library's message, or `prefix` alone when the message is empty.
inline std::string libraryReason(std::string_view prefix, const char* message) {
  std::string out(prefix);
  if (message != nullptr && *message != '\0') {
    out += ": ";
    out += message;
  }
  return out;
}

}  // namespace varnel::imaging::detail
