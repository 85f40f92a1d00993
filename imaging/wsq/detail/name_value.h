#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::wsq::detail {

/// Names and values of a "NIST_COM" comment; names are unique (a repeated name replaces the
/// earlier value).
class NameValueList {
 public:
  NameValueList() { entries_.reserve(100); }
  void set(std::string name, std::string value);
  [[nodiscard]] const std::string* find(std::string_view name) const noexcept;
  [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

/// Parses comment text as lines of a name, blanks, and a value up to the newline. The text ends
/// at its length or at a NUL byte. Returns kOk, or kBadComment for a line without a name.
/// Throws std::bad_alloc.
[[nodiscard]] int parseNameValues(std::span<const std::uint8_t> text, NameValueList& out);

/// The C atoi rule: leading blanks, an optional sign, then digits up to the first non-digit;
/// 0 when there are none. Saturates instead of overflowing.
[[nodiscard]] int atoiRule(std::string_view s) noexcept;

}  // namespace varnel::wsq::detail
