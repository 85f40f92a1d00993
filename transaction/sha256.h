#pragma once

#include <string>
#include <string_view>

namespace varnel::transaction {

/// The SHA-256 digest (FIPS 180-4) of `bytes` as 64 upper-case hex digits. Returns true, or false
/// when the digest cannot be computed (`hex` untouched).
[[nodiscard]] bool sha256Hex(std::string_view bytes, std::string& hex) noexcept;

}  // namespace varnel::transaction
