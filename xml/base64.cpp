#include "xml/base64.h"

#include <array>
#include <memory>

#include "xml/detail/base64_run.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNEL_BASE64_SSSE3 1
#endif

namespace varnel::xml {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Characters per line of encoded text and the bytes they carry.
constexpr std::size_t kLineChars = 76;
constexpr std::size_t kLineBytes = kLineChars / 4 * 3;

// Two output characters for every 12-bit value, so one lookup encodes half a group.
struct PairTable {
  std::array<char, std::size_t{2} * 4096> chars{};
  constexpr PairTable() {
    for (int v = 0; v < 4096; ++v) {
      chars[std::size_t{2} * static_cast<std::size_t>(v)] = kAlphabet[v >> 6];
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
  const char* hi = &kPairs.chars[std::size_t{2} * (v >> 12)];
  const char* lo = &kPairs.chars[std::size_t{2} * (v & 0xFFF)];
  out[0] = hi[0];
  out[1] = hi[1];
  out[2] = lo[0];
  out[3] = lo[1];
  return out + 4;
}

#if VARNEL_BASE64_SSSE3
// Takes `b` where `mask` is set, else `a` (SSE2 has no byte blend).
__attribute__((target("ssse3"))) inline __m128i blendBytes(__m128i a, __m128i b, __m128i mask) {
  return _mm_or_si128(_mm_andnot_si128(mask, a), _mm_and_si128(mask, b));
}

// Character classes by nibble: a character is of the alphabet exactly when the entries for its
// low and high nibble share no bit; the offset to its sextet is then chosen by its high nibble
// ("/" apart). Bytes of 0x80 and above fall in high-nibble classes no low nibble matches.
#define VARNEL_B64_LUT_LO \
  0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A
#define VARNEL_B64_LUT_HI \
  0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10
#define VARNEL_B64_LUT_ROLL 0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0

// Decodes sixteen alphabet characters into twelve bytes (sixteen are stored; the caller leaves
// room). Returns false, storing nothing, when any of the sixteen is not of the alphabet.
__attribute__((target("ssse3"))) bool decodeBlock16(const unsigned char* in, std::uint8_t* out) {
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i slash = _mm_set1_epi8(0x2F);
  const __m128i highNibbles = _mm_and_si128(_mm_srli_epi32(c, 4), slash);
  const __m128i lo = _mm_shuffle_epi8(_mm_setr_epi8(VARNEL_B64_LUT_LO), _mm_and_si128(c, slash));
  const __m128i hi = _mm_shuffle_epi8(_mm_setr_epi8(VARNEL_B64_LUT_HI), highNibbles);
  const __m128i clash = _mm_cmpeq_epi8(_mm_and_si128(lo, hi), _mm_setzero_si128());
  if (_mm_movemask_epi8(clash) != 0xFFFF) return false;
  const __m128i roll = _mm_shuffle_epi8(_mm_setr_epi8(VARNEL_B64_LUT_ROLL),
                                        _mm_add_epi8(_mm_cmpeq_epi8(c, slash), highNibbles));
  const __m128i sextets = _mm_add_epi8(c, roll);
  // Pairs of sextets into 12-bit values, pairs of those into 24-bit values, then the three bytes
  // of every 32-bit lane in big-endian order.
  const __m128i pairs = _mm_maddubs_epi16(sextets, _mm_set1_epi32(0x01400140));
  const __m128i quads = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
  const __m128i packed = _mm_shuffle_epi8(
      quads, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
  return true;
}

// The same for thirty-two characters into twenty-four bytes (twenty-eight are stored).
__attribute__((target("avx2"))) bool decodeBlock32(const unsigned char* in, std::uint8_t* out) {
  const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  const __m256i slash = _mm256_set1_epi8(0x2F);
  const __m256i highNibbles = _mm256_and_si256(_mm256_srli_epi32(c, 4), slash);
  const __m256i lo = _mm256_shuffle_epi8(_mm256_setr_epi8(VARNEL_B64_LUT_LO, VARNEL_B64_LUT_LO),
                                         _mm256_and_si256(c, slash));
  const __m256i hi =
      _mm256_shuffle_epi8(_mm256_setr_epi8(VARNEL_B64_LUT_HI, VARNEL_B64_LUT_HI), highNibbles);
  if (!_mm256_testz_si256(lo, hi)) return false;
  const __m256i roll =
      _mm256_shuffle_epi8(_mm256_setr_epi8(VARNEL_B64_LUT_ROLL, VARNEL_B64_LUT_ROLL),
                          _mm256_add_epi8(_mm256_cmpeq_epi8(c, slash), highNibbles));
  const __m256i sextets = _mm256_add_epi8(c, roll);
  const __m256i pairs = _mm256_maddubs_epi16(sextets, _mm256_set1_epi32(0x01400140));
  const __m256i quads = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
  const __m256i packed = _mm256_shuffle_epi8(
      quads, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5,
                              4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(packed, 1));
  return true;
}

#undef VARNEL_B64_LUT_LO
#undef VARNEL_B64_LUT_HI
#undef VARNEL_B64_LUT_ROLL

bool detectAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
const bool kHaveAvx2 = detectAvx2();

bool detectSsse3() {
  // Called during static initialisation, before the CPU model is known unless asked for.
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}
const bool kHaveSsse3 = detectSsse3();

// Encodes twelve bytes into sixteen characters. Reads sixteen bytes: the caller makes sure they
// are there.
__attribute__((target("ssse3"))) void encodeBlock12(const std::uint8_t* in, char* out) {
  const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  // Each group of three bytes a b c becomes the lane b a c b.
  const __m128i lanes =
      _mm_shuffle_epi8(raw, _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
  // Move the four sextets of each lane into its four bytes.
  const __m128i hi =
      _mm_mulhi_epu16(_mm_and_si128(lanes, _mm_set1_epi32(0x0FC0FC00)), _mm_set1_epi32(0x04000040));
  const __m128i lo =
      _mm_mullo_epi16(_mm_and_si128(lanes, _mm_set1_epi32(0x003F03F0)), _mm_set1_epi32(0x01000010));
  const __m128i idx = _mm_or_si128(hi, lo);
  // Sextet to character: A-Z, a-z, 0-9, "+", "/" by range.
  const __m128i ge26 = _mm_cmpgt_epi8(idx, _mm_set1_epi8(25));
  const __m128i ge52 = _mm_cmpgt_epi8(idx, _mm_set1_epi8(51));
  const __m128i is62 = _mm_cmpeq_epi8(idx, _mm_set1_epi8(62));
  const __m128i is63 = _mm_cmpeq_epi8(idx, _mm_set1_epi8(63));
  __m128i shift = _mm_set1_epi8('A');
  shift = blendBytes(shift, _mm_set1_epi8('a' - 26), ge26);
  shift = blendBytes(shift, _mm_set1_epi8('0' - 52), ge52);
  shift = blendBytes(shift, _mm_set1_epi8('+' - 62), is62);
  shift = blendBytes(shift, _mm_set1_epi8('/' - 63), is63);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi8(idx, shift));
}
#endif

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
    std::size_t g = 0;
#if VARNEL_BASE64_SSSE3
    // Four blocks of twelve bytes; the sixteen-byte loads stay inside the input while at least
    // four bytes follow the block.
    if (kHaveSsse3) {
      for (; g + 4 <= 16 && 3 * g + 16 <= left; g += 4) {
        encodeBlock12(p + 3 * g, o);
        o += 16;
      }
    }
#endif
    for (; g < kLineBytes / 3; ++g) o = encodeGroup(p + 3 * g, o);
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

namespace detail {

Base64Run decodeBase64Run(std::string_view text, std::uint8_t* out) noexcept {
  const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* p = begin;
  const unsigned char* end = p + text.size();
  std::uint8_t* o = out;
  std::uint32_t acc = 0;
  int held = 0;  // sextets in acc
  bool ok = true;
  for (;;) {
    // Fast paths at a group boundary: sixteen alphabet characters at a time, then four at a time
    // for at most four groups (to step over a line end) before sixteen are tried again.
    if (held == 0) {
#if VARNEL_BASE64_SSSE3
      if (kHaveSsse3) {
        // Whole 76-character lines (the layout this library and MIME write) as blocks of 32 or
        // 16, the last overlapping the one before by four characters, then the line end.
        for (;;) {
          const std::ptrdiff_t lineEnd = end - p >= 78 && p[76] == '\r' && p[77] == '\n' ? 78
                                         : end - p >= 77 && p[76] == '\n'                ? 77
                                                                                         : 0;
          if (lineEnd == 0) break;
          const bool lineOk = kHaveAvx2 ? decodeBlock32(p, o) && decodeBlock32(p + 32, o + 24) &&
                                              decodeBlock16(p + 60, o + 45)
                                        : decodeBlock16(p, o) && decodeBlock16(p + 16, o + 12) &&
                                              decodeBlock16(p + 32, o + 24) &&
                                              decodeBlock16(p + 48, o + 36) &&
                                              decodeBlock16(p + 60, o + 45);
          if (!lineOk) break;
          p += lineEnd;
          o += 57;
        }
        while (end - p >= 16 && decodeBlock16(p, o)) {
          p += 16;
          o += 12;
        }
      }
#endif
      int groups = 0;
      for (; groups < 4 && end - p >= 4; ++groups) {
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
      if (groups == 4) continue;
    }
    if (p == end) break;
    const std::uint8_t v = kDecode.value[*p++];
    if (v == kSpace) {
      // A line end is usually CR LF: skip the whole run before trying the fast paths again.
      while (p != end && kDecode.value[*p] == kSpace) ++p;
      continue;
    }
    if (v == kPad || v == kInvalid) {
      ok = v == kPad;
      --p;
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
  const int pending = held;
  // A partial group of two or three sextets carries one or two bytes.
  if (held == 2) {
    *o++ = static_cast<std::uint8_t>(acc >> 4);
  } else if (held == 3) {
    *o++ = static_cast<std::uint8_t>(acc >> 10);
    *o++ = static_cast<std::uint8_t>(acc >> 2);
  }
  return {static_cast<std::size_t>(o - out), static_cast<std::size_t>(p - begin), ok, pending};
}

}  // namespace detail

bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
  // Only growth is zero-filled: a buffer reused for images of similar size costs no clearing.
  if (const std::size_t room = text.size() / 4 * 3 + 16; out.size() < room) out.resize(room);
  const detail::Base64Run run = detail::decodeBase64Run(text, out.data());
  out.resize(run.written);
  return run.ok;
}

}  // namespace varnel::xml

namespace varnel::xml {

bool decodeBase64(std::string_view text, std::string& out) {
  // Decodes piece by piece through a small buffer that stays in the cache, so that the bytes are
  // written once into a string sized up front, with no clearing and no second copy of the whole.
  // Pieces end at a line end, where a group ends in every usual layout; a piece that ends inside
  // a group (unusual spacing) sends the rest through a single decode.
  constexpr std::size_t kPieceChars = 16384;
  constexpr std::size_t kLookBack = 256;
  out.clear();
  out.reserve(text.size() / 4 * 3 + 3);
  auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kPieceChars / 4 * 3 + 16);
  std::size_t pos = 0;
  for (;;) {
    std::size_t len = text.size() - pos;
    const bool last = len <= kPieceChars;
    if (!last) {
      len = kPieceChars;
      const std::string_view tail = text.substr(pos + kPieceChars - kLookBack, kLookBack);
      if (const std::size_t nl = tail.rfind('\n'); nl != std::string_view::npos) {
        len = kPieceChars - kLookBack + nl + 1;
      }
    }
    const detail::Base64Run run = detail::decodeBase64Run(text.substr(pos, len), buffer.get());
    if (!last && run.ok && run.stop == len && run.pending != 0) {
      std::vector<std::uint8_t> rest;
      const bool ok = decodeBase64(text.substr(pos), rest);
      out.append(reinterpret_cast<const char*>(rest.data()), rest.size());
      return ok;
    }
    out.append(reinterpret_cast<const char*>(buffer.get()), run.written);
    if (last || !run.ok || run.stop != len) return run.ok;
    pos += len;
  }
}

bool decodeBase64Strict(std::string_view text, std::string& out) {
  if (!decodeBase64(text, out)) return false;
  const std::size_t pad = text.find('=');
  if (pad == std::string_view::npos) return true;
  int pads = 0;
  for (const char ch : text.substr(pad)) {
    if (ch == '=') {
      ++pads;
    } else if (ch != ' ' && ch != '\t' && ch != '\r' && ch != '\n') {
      return false;
    }
  }
  // Two "=" follow a group that carried one byte, one "=" a group that carried two.
  const std::size_t rest = out.size() % 3;
  return (rest == 1 && pads == 2) || (rest == 2 && pads == 1);
}

}  // namespace varnel::xml
