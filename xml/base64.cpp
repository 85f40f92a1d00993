#include "xml/base64.h"

#include <array>

namespace varnel::xml {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Characters per line of encoded text and the bytes they carry.
constexpr std::size_t kLineChars = 76;
constexpr std::size_t kLineBytes = kLineChars / 4 * 3;

// Two output characters for every 12-bit value, so one lookup encodes half a group.
struct PairTable {
  std::array<char, 2 * 4096> chars{};
  constexpr PairTable() {
    for (int v = 0; v < 4096; ++v) {
      chars[2 * v] = kAlphabet[v >> 6];
      chars[2 * v + 1] = kAlphabet[v & 63];
    }
  }
};
constexpr PairTable kPairs;

constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kSpace = 0xFE;
constexpr std::uint8_t kPad = 0xFD;

struct DecodeTable {
  std::array<std::uint8_t, 256> value{};
  constexpr DecodeTable() {
    for (auto& v : value) v = kInvalid;
    for (int i = 0; i < 64; ++i)
      value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    value['\r'] = kSpace;
    value['\n'] = kSpace;
    value['\t'] = kSpace;
    value[' '] = kSpace;
    value['='] = kPad;
  }
};
constexpr DecodeTable kDecode;

inline char* encodeGroup(const std::uint8_t* in, char* out) {
  const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
  const char* hi = &kPairs.chars[2 * (v >> 12)];
  const char* lo = &kPairs.chars[2 * (v & 0xFFF)];
  out[0] = hi[0];
  out[1] = hi[1];
  out[2] = lo[0];
  out[3] = lo[1];
  return out + 4;
}

}  // namespace

std::size_t encodedBase64Size(std::size_t byteCount) noexcept {
  const std::size_t chars = (byteCount + 2) / 3 * 4;
  const std::size_t breaks = chars / kLineChars;
  return chars + 2 * breaks + 1;
}

void encodeBase64(std::span<const std::uint8_t> bytes, std::string& out) {
  out.resize(encodedBase64Size(bytes.size()));
  char* o = out.data();
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  // Whole lines first: 19 groups then CR LF (a full last line gets its CR LF too).
  while (left >= kLineBytes) {
    for (std::size_t g = 0; g < kLineBytes / 3; ++g) o = encodeGroup(p + 3 * g, o);
    p += kLineBytes;
    left -= kLineBytes;
    *o++ = '\r';
    *o++ = '\n';
  }
  while (left >= 3) {
    o = encodeGroup(p, o);
    p += 3;
    left -= 3;
  }
  if (left > 0) {
    const std::uint8_t tail[3] = {p[0], left > 1 ? p[1] : std::uint8_t{0}, 0};
    encodeGroup(tail, o);
    if (left == 1) o[2] = '=';
    o[3] = '=';
    o += 4;
  }
  // A last line of 19 groups, padded or not, also ends with CR LF.
  if (const std::size_t tailChars = (bytes.size() % kLineBytes + 2) / 3 * 4;
      bytes.size() % kLineBytes != 0 && tailChars == kLineChars) {
    *o++ = '\r';
    *o++ = '\n';
  }
  *o++ = '\n';
  out.resize(static_cast<std::size_t>(o - out.data()));
}

bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
  out.assign(text.size() / 4 * 3 + 3, 0);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  std::uint8_t* o = out.data();
  std::uint32_t acc = 0;
  int held = 0;  // sextets in acc
  bool ok = true;
  for (;;) {
    // Fast path: four alphabet characters in a row at a group boundary.
    if (held == 0) {
      while (end - p >= 4) {
        const std::uint32_t a = kDecode.value[p[0]], b = kDecode.value[p[1]],
                            c = kDecode.value[p[2]], d = kDecode.value[p[3]];
        if ((a | b | c | d) >= 64) break;
        const std::uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
        o[0] = static_cast<std::uint8_t>(v >> 16);
        o[1] = static_cast<std::uint8_t>(v >> 8);
        o[2] = static_cast<std::uint8_t>(v);
        o += 3;
        p += 4;
      }
    }
    if (p == end) break;
    const std::uint8_t v = kDecode.value[*p++];
    if (v == kSpace) continue;
    if (v == kPad) break;
    if (v == kInvalid) {
      ok = false;
      break;
    }
    acc = (acc << 6) | v;
    if (++held == 4) {
      o[0] = static_cast<std::uint8_t>(acc >> 16);
      o[1] = static_cast<std::uint8_t>(acc >> 8);
      o[2] = static_cast<std::uint8_t>(acc);
      o += 3;
      acc = 0;
      held = 0;
    }
  }
  // A partial group of two or three sextets carries one or two bytes.
  if (held == 2) {
    *o++ = static_cast<std::uint8_t>(acc >> 4);
  } else if (held == 3) {
    *o++ = static_cast<std::uint8_t>(acc >> 10);
    *o++ = static_cast<std::uint8_t>(acc >> 2);
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return ok;
}

}  // namespace varnel::xml
