#include "transaction/base64.h"

#include <array>

namespace varnel::transaction {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeTable() {
  std::array<std::int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int i = 0; i < 64; ++i)
    t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  t[static_cast<unsigned char>('=')] = -2;
  for (unsigned char c : {' ', '\t', '\r', '\n', '\f', '\v'}) t[c] = -3;
  return t;
}
constexpr auto kTable = makeTable();
}  // namespace

bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
  out.clear();
  out.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t acc = 0;
  int bits = 0;
  bool clean = true;
  for (char ch : text) {
    const std::int8_t v = kTable[static_cast<unsigned char>(ch)];
    if (v >= 0) {
      acc = (acc << 6) | static_cast<std::uint32_t>(v);
      bits += 6;
      if (bits >= 8) {
        bits -= 8;
        out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
      }
    } else if (v == -2) {
      break;
    } else if (v == -1) {
      clean = false;
    }
  }
  return clean;
}

void encodeBase64(std::span<const std::uint8_t> bytes, std::string& out) {
  out.clear();
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  for (; i + 3 <= n; i += 3) {
    const std::uint32_t v =
        (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  if (i < n) {
    std::uint32_t v = std::uint32_t{bytes[i]} << 16;
    if (i + 1 < n) v |= std::uint32_t{bytes[i + 1]} << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
}

}  // namespace varnel::transaction
