#include "imaging/wsq/detail/name_value.h"

#include <climits>

#include "imaging/wsq/status.h"

namespace varnel::wsq::detail {

void NameValueList::set(std::string name, std::string value) {
  for (auto& e : entries_) {
    if (e.first == name) {
      e.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(std::move(name), std::move(value));
}

const std::string* NameValueList::find(std::string_view name) const noexcept {
  for (const auto& e : entries_) {
    if (e.first == name) return &e.second;
  }
  return nullptr;
}

int parseNameValues(std::span<const std::uint8_t> text, NameValueList& out) {
  std::size_t n = 0;
  while (n < text.size() && text[n] != 0) ++n;
  std::size_t i = 0;
  while (i < n) {
    const std::size_t nameStart = i;
    while (i < n && text[i] != ' ' && text[i] != '\t' && text[i] != '\n') ++i;
    if (i == nameStart) return kCommentWithoutName;
    std::string name(reinterpret_cast<const char*>(text.data()) + nameStart, i - nameStart);
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t valueStart = i;
    while (i < n && text[i] != '\n') ++i;
    std::string value(reinterpret_cast<const char*>(text.data()) + valueStart, i - valueStart);
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
    out.set(std::move(name), std::move(value));
  }
  return kOk;
}

int atoiRule(std::string_view s) noexcept {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  long long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    v = v * 10 + (s[i++] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (neg) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return static_cast<int>(v);
}

}  // namespace varnel::wsq::detail
