#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "imaging/wsq/detail/codec.h"
#include "imaging/wsq/detail/cpu.h"
#include "imaging/wsq/detail/name_value.h"
#include "imaging/wsq/detail/workspace.h"
#include "imaging/wsq/status.h"
#include "imaging/wsq/wsq.h"

namespace varnel::wsq {
namespace {

using detail::ByteReader;

// Largest image the decoder allocates for: far beyond any fingerprint or palm scan, small enough
// that a forged frame header cannot demand gigabytes.
constexpr std::size_t kMaxPixels = std::size_t{1} << 28;

// Bit reader over the entropy-coded data of one block with its stuffed zero bytes already
// removed. The register holds available() bits at its top; below them may sit the leading bits
// of the next unread byte, which the next refill writes over with the same bits.
class BitReader {
 public:
  BitReader(const std::uint8_t* p, const std::uint8_t* end) noexcept : p_(p), end_(end) {}

  /// Whether eight more bytes of data follow, so refillFast() reads only data.
  [[nodiscard]] bool roomForFast() const noexcept { return end_ - p_ >= 8; }
  /// Tops the register up to at least 56 bits without a branch; needs roomForFast().
  void refillFast() noexcept {
    std::uint64_t word = 0;
    std::memcpy(&word, p_, sizeof word);
    buf_ |= __builtin_bswap64(word) >> n_;
    p_ += (63 - n_) >> 3;
    n_ |= 56;
  }
  void refill() noexcept {
    while (n_ <= 56 && p_ < end_) {
      buf_ |= std::uint64_t{*p_++} << (56 - n_);
      n_ += 8;
    }
  }
  /// The next bits, available() of them valid, most significant first.
  [[nodiscard]] std::uint64_t bits() const noexcept { return buf_; }
  [[nodiscard]] std::uint32_t peek16() const noexcept {
    return static_cast<std::uint32_t>(buf_ >> 48);
  }
  [[nodiscard]] int available() const noexcept { return n_; }
  void consume(int bits) noexcept {
    buf_ <<= bits;
    n_ -= bits;
  }
  // Reads `bits` (8 or 16) bits; false when the data end first.
  bool take(int bits, std::uint32_t& v) noexcept {
    if (n_ < bits) refill();
    if (n_ < bits) return false;
    v = static_cast<std::uint32_t>(buf_ >> (64 - bits));
    consume(bits);
    return true;
  }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
  std::uint64_t buf_ = 0;
  int n_ = 0;
};

// Copies the entropy-coded data of a block, which runs up to the first 0xFF not followed by a
// stuffed zero, to `out` without its stuffed zeros. Returns where the data end in `s`; `size` is
// the number of bytes written. `out` needs room for s.size() - from bytes.
std::size_t destuffBlock(std::span<const std::uint8_t> s, std::size_t from, std::uint8_t* out,
                         std::size_t& size) noexcept {
  const std::size_t n = s.size();
  std::size_t i = from;
  std::size_t o = 0;
  std::size_t end = n;
  while (i < n) {
    const void* hit = std::memchr(s.data() + i, 0xFF, n - i);
    const std::size_t j =
        hit == nullptr ? n
                       : static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - s.data());
    std::memcpy(out + o, s.data() + i, j - i);
    o += j - i;
    if (j == n) break;
    if (j + 1 >= n || s[j + 1] != 0x00) {
      end = j;
      break;
    }
    out[o++] = 0xFF;
    i = j + 2;
  }
  size = o;
  return end;
}

inline std::int16_t clamp16(std::int32_t v) noexcept {
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -32767, 32767));
}

// Bits looked at for a group of short codes.
constexpr int kGroupBits = 11;

// How far the groups decoded from one refill may write past the coefficient limit before the
// limit is checked: three groups of at most 255 coefficients.
constexpr std::size_t kGroupOverrun = 3 * 255;

// Entries for the next kGroupBits bits when they begin with up to three short codes of zero runs
// or small values, all inside those bits: total code length in bits 0-7 (0: take the general
// path), the coefficients the three symbols cover in bits 8-15, 16-23 and 24-31, the values
// they leave as signed bytes in bits 32-39, 40-47 and 48-55 (0 for a run), and the coefficients
// all of them cover in bits 56-63. A missing symbol covers 0 and leaves 0.
using GroupTable = std::array<std::uint64_t, std::size_t{1} << kGroupBits>;

// Marks an entry with no short code at its start.
constexpr std::uint64_t kNoGroup = 0;

// The group entries of one Huffman table, made again only when a block uses another table.
class Groups {
 public:
  void use(const detail::HuffmanDecoder& h) noexcept {
    if (valid_ && source_.count == h.table.count && source_.bits == h.table.bits &&
        source_.values == h.table.values) {
      return;
    }
    build(h);
    source_ = h.table;
    valid_ = true;
  }
  /// The entry for the kGroupBits bits `idx`; its length is 0 when no short code starts there.
  std::uint64_t operator[](std::uint64_t idx) const noexcept { return table_[idx]; }

 private:
  struct Code {
    std::uint32_t bits;
    std::uint32_t len;
    std::uint32_t step;
    std::uint8_t value;
  };

  // Each chain of up to three short codes that fits in kGroupBits bits fills the entries that
  // begin with it, longer chains after the shorter ones they extend: every entry ends up with
  // the codes read one after another from its bits, as the general path would read them.
  void build(const detail::HuffmanDecoder& h) noexcept {
    static_assert(kGroupBits == detail::kFastBits);
    codes_ = 0;
    for (std::uint32_t idx = 0; idx < table_.size();) {
      const std::uint32_t e = h.fast[idx];
      const std::uint32_t len = e & 0xFFU;
      if (len == 0) {
        ++idx;
        continue;
      }
      const std::uint32_t sym = (e >> 8) & 0xFFU;
      const std::uint32_t step = (e >> 16) & 0xFFU;
      if (step != 0 && codes_ < short_.size()) {
        const int value = sym >= 107 ? static_cast<int>(sym) - 180 : 0;
        short_[codes_++] =
            Code{idx >> (kGroupBits - len), len, step, static_cast<std::uint8_t>(value)};
      }
      idx += 1U << (kGroupBits - len);
    }
    table_.fill(kNoGroup);
    extend(0, 0, 0, 0, 0);
  }

  void extend(std::uint32_t prefix, std::uint32_t len, std::uint32_t total, std::uint64_t entry,
              int k) noexcept {
    for (std::size_t c = 0; c < codes_; ++c) {
      const Code& code = short_[c];
      if (len + code.len > kGroupBits) break;  // the codes come shortest first
      if (total + code.step > 255) continue;
      const std::uint32_t p = (prefix << code.len) | code.bits;
      const std::uint32_t l = len + code.len;
      const std::uint32_t t = total + code.step;
      const std::uint64_t e = entry | (std::uint64_t{code.step} << (8 + 8 * k)) |
                              (std::uint64_t{code.value} << (32 + 8 * k));
      const std::uint32_t first = p << (kGroupBits - l);
      std::fill_n(table_.begin() + first, std::size_t{1} << (kGroupBits - l),
                  e | l | (std::uint64_t{t} << 56));
      if (k < 2) extend(p, l, t, e, k + 1);
    }
  }

  GroupTable table_;
  // The zero runs and small values with codes of at most kGroupBits bits, in code order, which
  // puts shorter codes first.
  std::array<Code, 256> short_;
  std::size_t codes_ = 0;
  detail::HuffmanTable source_;
  bool valid_ = false;
};

// What decoding one symbol outside the group table came to.
enum class Step { kNext, kBlockEnd };

// Decodes one symbol by the general path: longer codes, runs and values with extra bits.
// Returns a status below zero, or through `step` whether the block goes on. With `kFull` the
// register holds at least 32 bits of data, enough for any code with its extra bits.
template <bool kFull>
int generalSymbol(BitReader& br, const detail::HuffmanDecoder& h, bool truncated,
                  std::int16_t* coef, std::size_t limit, std::size_t& i, Step& step) noexcept {
  step = Step::kNext;
  const std::uint32_t e = h.fast[br.bits() >> (64 - detail::kFastBits)];
  int len = static_cast<int>(e & 0xFFU);
  int sym = static_cast<int>((e >> 8) & 0xFFU);
  if (len == 0) {
    const std::uint32_t look = br.peek16();
    for (int l = detail::kFastBits + 1; l <= detail::kMaxCodeLength; ++l) {
      const auto code = static_cast<std::int32_t>(look >> (16 - l));
      if (code <= h.maxCode[static_cast<std::size_t>(l)]) {
        const std::int32_t idx = h.valOffset[static_cast<std::size_t>(l)] + code;
        if (idx < 0 || idx > 255 || idx >= h.table.count) return kHuffmanIndex;
        sym = h.table.values[static_cast<std::size_t>(idx)];
        len = l;
        break;
      }
    }
    if (len == 0) {
      if (!kFull && br.available() < detail::kMaxCodeLength) {
        if (truncated) return kInputEndValue;
        step = Step::kBlockEnd;  // fill bits before the marker
        return kOk;
      }
      return kHuffmanIndex;
    }
  }
  if (!kFull && len > br.available()) {
    if (truncated) return kInputEndValue;
    step = Step::kBlockEnd;  // the marker cut the code: the block is over
    return kOk;
  }
  br.consume(len);
  if (sym >= 1 && sym <= 100) {
    if (static_cast<std::size_t>(sym) > limit - i) return kTooManyCoefficients;
    i += static_cast<std::size_t>(sym);
    return kOk;
  }
  if (sym >= 107 && sym <= 254) {
    if (i >= limit) return kTooManyCoefficients;
    coef[i++] = static_cast<std::int16_t>(sym - 180);
    return kOk;
  }
  std::uint32_t v = 0;
  switch (sym) {
    case 101:
    case 102:
    case 105:
      if (!br.take(8, v)) return truncated ? kInputEndValue : kMarkerInData;
      break;
    case 103:
    case 104:
    case 106:
      if (!br.take(16, v)) return truncated ? kInputEndValue : kMarkerInData;
      break;
    default:
      return kInvalidSymbol;
  }
  if (sym == 105 || sym == 106) {
    if (v > limit - i) return kTooManyCoefficients;
    i += v;
  } else {
    if (i >= limit) return kTooManyCoefficients;
    const auto m = static_cast<std::int32_t>(v);
    coef[i++] = clamp16((sym == 101 || sym == 103) ? m : -m);
  }
  return kOk;
}

// The low byte of `v` as a two's-complement value (the group table keeps small coefficients so).
inline std::int16_t signedByte(std::uint64_t v) noexcept {
  return static_cast<std::int16_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << 24) >>
                                   24);
}

// Stores the up to three small coefficients of group entry `g` at `at`, each after the zeros
// its run skips (a missing one stores 0 where the next starts); returns how many coefficients
// the group covers.
inline std::size_t storeGroup(std::uint64_t g, std::int16_t* at) noexcept {
  const std::size_t s1 = (g >> 8) & 0xFFU;
  const std::size_t s2 = (g >> 16) & 0xFFU;
  at[0] = signedByte(g >> 32);
  at[s1] = signedByte(g >> 40);
  at[s1 + s2] = signedByte(g >> 48);
  return static_cast<std::size_t>(g >> 56);
}

// Coefficients of a block go into a buffer cleared beforehand (with room for one more), so a
// zero run only moves the position. `data` holds the block's `size` bytes without stuffing, read
// only inside them. Up to three short codes are decoded by one table lookup; while
// eight bytes of data remain the register is topped up without a branch and every code finds
// its bits, and only the last bytes take the checked path.
int decodeBlock(const std::uint8_t* data, std::size_t size, bool truncated,
                const detail::HuffmanDecoder& h, Groups& groups, std::int16_t* coef,
                std::size_t limit, std::size_t& count) noexcept {
  BitReader br(data, data + size);
  std::size_t i = count;
  Step step = Step::kNext;
  // One refill gives at least 56 bits: enough for three groups of at most kGroupBits bits, and
  // before the third still 34, enough for any code with its extra bits. The groups of one refill
  // are checked against the limit together: they may pass it by kGroupOverrun, which the buffer
  // has room for, before the stream is refused.
  static_assert(56 - 2 * kGroupBits >= 32);
  while (br.roomForFast()) {
    br.refillFast();
    for (int k = 0; k < 3; ++k) {
      const std::uint64_t g = groups[br.bits() >> (64 - kGroupBits)];
      if ((g & 0xFFU) == 0) {
        if (i > limit) return kTooManyCoefficients;
        if (int rc = generalSymbol<true>(br, h, truncated, coef, limit, i, step); rc < 0) return rc;
        break;
      }
      // Zero runs (value 0) and small values take the same stores and steps; a missing symbol
      // stores 0 where the next one starts.
      i += storeGroup(g, coef + i);
      // The length is below 64, so the shift takes it without masking.
      br.consume(static_cast<int>(g & 63U));
    }
    if (i > limit) return kTooManyCoefficients;
  }
  for (;;) {
    if (br.available() < 32) {
      br.refill();
      if (br.available() == 0) {
        // Without a marker after the data the stream was cut: running short of bits is then a
        // truncation, not the end of the block.
        if (truncated) return kInputEndValue;
        break;
      }
    }
    const std::uint64_t g = groups[br.bits() >> (64 - kGroupBits)];
    const auto len = static_cast<int>(g & 0xFFU);
    if (len != 0 && len <= br.available()) {
      if ((g >> 56) > limit - i) return kTooManyCoefficients;
      i += storeGroup(g, coef + i);
      br.consume(len);
      continue;
    }
    if (int rc = generalSymbol<false>(br, h, truncated, coef, limit, i, step); rc < 0) return rc;
    if (step == Step::kBlockEnd) break;
  }
  count = i;
  return kOk;
}

// A coefficient buffer for the image and one more, all zero, with kGroupOverrun more that only
// a stream with too many coefficients writes.
std::int16_t* clearedCoefficients(detail::Workspace& ws, std::size_t area) noexcept {
  std::int16_t* coef = ws.coef.get(area + 1 + kGroupOverrun);
  if (coef != nullptr) std::fill_n(coef, area + 1, std::int16_t{0});
  return coef;
}

// Bin centres of n quantized values of one subband row.
void dequantizeRowSse(const std::int16_t* in, int n, float qk, float c, float halfZ,
                      float* out) noexcept {
  int x = 0;
#if defined(__SSE2__)
  // Eight at a time, both sides computed and one kept: the same operations as the loop below.
  const __m128 q = _mm_set1_ps(qk);
  const __m128 cv = _mm_set1_ps(c);
  const __m128 hz = _mm_set1_ps(halfZ);
  const __m128 zero = _mm_setzero_ps();
  auto four = [&](__m128i v) {
    const __m128 f = _mm_cvtepi32_ps(v);
    const __m128 up = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(f, cv), q), hz);
    const __m128 down = _mm_sub_ps(_mm_mul_ps(_mm_add_ps(f, cv), q), hz);
    return _mm_or_ps(_mm_and_ps(_mm_cmpgt_ps(f, zero), up),
                     _mm_and_ps(_mm_cmplt_ps(f, zero), down));
  };
  for (; x + 8 <= n; x += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
    // Sign-extend the eight 16-bit values to 32 bits.
    _mm_storeu_ps(out + x, four(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16)));
    _mm_storeu_ps(out + x + 4, four(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16)));
  }
#endif
  for (; x < n; ++x) {
    const int v = in[x];
    if (v > 0) {
      out[x] = (static_cast<float>(v) - c) * qk + halfZ;
    } else if (v < 0) {
      out[x] = (static_cast<float>(v) + c) * qk - halfZ;
    } else {
      out[x] = 0.0F;
    }
  }
}

// Samples back to grey levels, rounded and clamped; written so that a NaN from a forged stream
// also lands on 0.
void toGreySse(const float* image, std::size_t n, float rs, float ms, std::uint8_t* out) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Sixteen at a time with the same operations; minps picks 255 for a NaN as the comparison
  // below does, and the mask of v > 0 then clears it.
  const __m128 scale = _mm_set1_ps(rs);
  const __m128 shift = _mm_set1_ps(ms);
  const __m128 half = _mm_set1_ps(0.5F);
  const __m128 white = _mm_set1_ps(255.0F);
  const __m128 zero = _mm_setzero_ps();
  auto four = [&](const float* src) {
    const __m128 v = _mm_add_ps(_mm_add_ps(_mm_mul_ps(scale, _mm_loadu_ps(src)), shift), half);
    return _mm_cvttps_epi32(_mm_and_ps(_mm_cmpgt_ps(v, zero), _mm_min_ps(v, white)));
  };
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_packs_epi32(four(image + i), four(image + i + 4));
    const __m128i b = _mm_packs_epi32(four(image + i + 8), four(image + i + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
  }
#endif
  for (; i < n; ++i) {
    float v = rs * image[i] + ms + 0.5F;
    v = v > 0.0F ? (v < 255.0F ? v : 255.0F) : 0.0F;
    out[i] = static_cast<std::uint8_t>(v);
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The two conversions eight lanes wide on processors with AVX2, with the same operations and so
// the same results.
__attribute__((target("avx2"))) void dequantizeRowAvx2(const std::int16_t* in, int n, float qk,
                                                       float c, float halfZ, float* out) noexcept {
  const __m256 q = _mm256_set1_ps(qk);
  const __m256 cv = _mm256_set1_ps(c);
  const __m256 hz = _mm256_set1_ps(halfZ);
  const __m256 zero = _mm256_setzero_ps();
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
    const __m256 f = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(v));
    const __m256 up = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(f, cv), q), hz);
    const __m256 down = _mm256_sub_ps(_mm256_mul_ps(_mm256_add_ps(f, cv), q), hz);
    _mm256_storeu_ps(out + x,
                     _mm256_or_ps(_mm256_and_ps(_mm256_cmp_ps(f, zero, _CMP_GT_OS), up),
                                  _mm256_and_ps(_mm256_cmp_ps(f, zero, _CMP_LT_OS), down)));
  }
  dequantizeRowSse(in + x, n - x, qk, c, halfZ, out + x);
}

__attribute__((target("avx2"))) inline __m256i greyEight(const float* src, __m256 scale,
                                                         __m256 shift) noexcept {
  const __m256 v = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(scale, _mm256_loadu_ps(src)), shift),
                                 _mm256_set1_ps(0.5F));
  const __m256 kept = _mm256_and_ps(_mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_GT_OS),
                                    _mm256_min_ps(v, _mm256_set1_ps(255.0F)));
  return _mm256_cvttps_epi32(kept);
}

__attribute__((target("avx2"))) void toGreyAvx2(const float* image, std::size_t n, float rs,
                                                float ms, std::uint8_t* out) noexcept {
  const __m256 scale = _mm256_set1_ps(rs);
  const __m256 shift = _mm256_set1_ps(ms);
  // packs and packus work per 128-bit half; the permutation puts the eight groups of four
  // bytes back in order.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i a = _mm256_packs_epi32(greyEight(image + i, scale, shift),
                                         greyEight(image + i + 8, scale, shift));
    const __m256i b = _mm256_packs_epi32(greyEight(image + i + 16, scale, shift),
                                         greyEight(image + i + 24, scale, shift));
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(a, b), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), bytes);
  }
  toGreySse(image + i, n - i, rs, ms, out + i);
}

#endif

void dequantizeRow(const std::int16_t* in, int n, float qk, float c, float halfZ,
                   float* out) noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  if (detail::haveAvx2()) {
    dequantizeRowAvx2(in, n, qk, c, halfZ, out);
    return;
  }
#endif
  dequantizeRowSse(in, n, qk, c, halfZ, out);
}

void toGrey(const float* image, std::size_t n, float rs, float ms, std::uint8_t* out) noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  if (detail::haveAvx2()) {
    toGreyAvx2(image, n, rs, ms, out);
    return;
  }
#endif
  toGreySse(image, n, rs, ms, out);
}

// Receives the finished rows of the transform and writes them as grey levels.
struct GreyRows {
  std::vector<std::uint8_t>* pixels;
  std::size_t area;
  float rScale;
  float mShift;
  bool started = false;
  bool failed = false;

  static bool take(void* context, int y, const float* row, int width) noexcept {
    auto& g = *static_cast<GreyRows*>(context);
    if (!g.started) {
      try {
        g.pixels->resize(g.area);
      } catch (const std::bad_alloc&) {
        g.failed = true;
        return false;
      }
      g.started = true;
    }
    toGrey(row, static_cast<std::size_t>(width), g.rScale, g.mShift,
           g.pixels->data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width));
    return true;
  }
};

struct Parsed {
  detail::StreamTables tables;
  detail::Frame frame;
};

// Reads from SOI through the frame header.
int readHeaders(ByteReader& in, Parsed& p) noexcept {
  int m = 0;
  const auto s = in.bytes();
  if (s.size() < 2 || s[0] != 0xFF || s[1] != 0xA0) return kNoSoi;
  in.seek(2);
  for (;;) {
    if (int rc = detail::readMarker(in, m); rc < 0) return rc;
    if (m == detail::kSof) return detail::readFrame(in, p.frame);
    if (m != detail::kDtt && m != detail::kDqt && m != detail::kDht && m != detail::kCom) {
      return kUnexpectedMarkerBeforeFrame;
    }
    if (int rc = detail::readTableSegment(in, m, p.tables); rc < 0) return rc;
  }
}

}  // namespace

int wsqReadPpi(std::span<const std::uint8_t> stream, int& ppi) noexcept {
  ByteReader in(stream);
  if (stream.size() < 2 || stream[0] != 0xFF || stream[1] != 0xA0) return kNoSoi;
  in.seek(2);
  for (;;) {
    int m = 0;
    if (int rc = detail::readMarker(in, m); rc < 0) return rc;
    if (m == detail::kSob || m == detail::kEoi) {
      ppi = -1;
      return kOk;
    }
    int len = 0;
    if (int rc = in.u16(len); rc < 0) return rc;
    if (len < 2) return kInputEndBlock;
    std::span<const std::uint8_t> body;
    if (int rc = in.block(static_cast<std::size_t>(len - 2), body); rc < 0) return rc;
    if (m != detail::kCom || body.size() < 8 || std::memcmp(body.data(), "NIST_COM", 8) != 0) {
      continue;
    }
    try {
      detail::NameValueList list;
      if (int rc = detail::parseNameValues(body, list); rc < 0) return rc;
      const std::string* v = list.find("PPI");
      if (v == nullptr) return kNoPpi;
      ppi = detail::atoiRule(*v);
      return kOk;
    } catch (const std::bad_alloc&) {
      return kOutputAlloc;
    }
  }
}

int wsqReadInfo(std::span<const std::uint8_t> stream, WsqInfo& info) noexcept {
  ByteReader in(stream);
  Parsed p;
  if (int rc = readHeaders(in, p); rc < 0) return rc;
  int ppi = -1;
  if (int rc = wsqReadPpi(stream, ppi); rc < 0) return rc;
  // Table segments between the frame header and the first block complete the picture.
  for (;;) {
    int m = 0;
    if (int rc = detail::readMarker(in, m); rc < 0) return rc;
    if (m == detail::kSob || m == detail::kEoi) break;
    if (m != detail::kDtt && m != detail::kDqt && m != detail::kDht && m != detail::kCom) {
      return kUnexpectedMarkerBeforeBlock;
    }
    if (int rc = detail::readTableSegment(in, m, p.tables); rc < 0) return rc;
  }
  WsqInfo out;
  out.width = p.frame.width;
  out.height = p.frame.height;
  out.ppi = ppi;
  out.blackLevel = p.frame.black;
  out.whiteLevel = p.frame.white;
  out.mShift = p.frame.mShift;
  out.rScale = p.frame.rScale;
  out.encoder = p.frame.encoder;
  out.software = p.frame.software;
  out.lowTaps = p.tables.haveLow ? static_cast<int>(p.tables.filters.low.size()) : 0;
  out.highTaps = p.tables.haveHigh ? static_cast<int>(p.tables.filters.high.size()) : 0;
  out.hasQuantization = p.tables.quant.defined;
  out.binCenter = p.tables.quant.binCenter;
  for (int k = 0; k < 64; ++k) {
    out.q[static_cast<std::size_t>(k)] = p.tables.quant.q[static_cast<std::size_t>(k)];
    out.z[static_cast<std::size_t>(k)] = p.tables.quant.z[static_cast<std::size_t>(k)];
  }
  info = out;
  return kOk;
}

int wsqDecode(std::span<const std::uint8_t> stream, std::vector<std::uint8_t>& pixels, int& width,
              int& height, int& depth, int& ppi, int& lossy) noexcept {
  try {
    ByteReader in(stream);
    Parsed p;
    if (int rc = readHeaders(in, p); rc < 0) return rc;
    int foundPpi = -1;
    if (int rc = wsqReadPpi(stream, foundPpi); rc < 0) return rc;
    const int w = p.frame.width;
    const int h = p.frame.height;
    const std::size_t area = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (area > kMaxPixels) return kOutputAlloc;
    detail::Trees trees;
    detail::buildTrees(w, h, trees);
    // The thread's buffers from its last image: coefficients are taken at the first block, so a
    // stream that fails in its tables costs nothing.
    detail::WorkspaceLease ws;
    std::int16_t* coef = nullptr;
    std::size_t count = 0;
    Groups groups;
    for (;;) {
      int m = 0;
      if (int rc = detail::readMarker(in, m); rc < 0) return rc;
      if (m == detail::kEoi) break;
      if (m == detail::kSob) {
        int len = 0;
        int id = 0;
        if (int rc = in.u16(len); rc < 0) return rc;
        if (len != 3) return kInputEndBlock;
        if (int rc = in.u8(id); rc < 0) return rc;
        if (id >= detail::kHuffmanSlots ||
            !p.tables.huffman[static_cast<std::size_t>(id)].defined) {
          return kUndefinedHuffmanTable;
        }
        const std::size_t limit =
            p.tables.quant.defined ? detail::codedCount(trees, p.tables.quant) : area;
        if (count > limit) return kTooManyCoefficients;
        if (coef == nullptr) {
          coef = clearedCoefficients(*ws, area);
          if (coef == nullptr) return kOutputAlloc;
        }
        std::uint8_t* data = ws->bytes.get(stream.size() - in.pos());
        if (data == nullptr) return kOutputAlloc;
        std::size_t size = 0;
        const std::size_t end = destuffBlock(stream, in.pos(), data, size);
        const detail::HuffmanDecoder& table = p.tables.huffman[static_cast<std::size_t>(id)];
        groups.use(table);
        if (int rc = decodeBlock(data, size, end + 1 >= stream.size(), table, groups, coef, limit,
                                 count);
            rc < 0) {
          return rc;
        }
        in.seek(end);
        continue;
      }
      if (m != detail::kDtt && m != detail::kDqt && m != detail::kDht && m != detail::kCom) {
        return kUnexpectedMarkerBeforeBlock;
      }
      if (int rc = detail::readTableSegment(in, m, p.tables); rc < 0) return rc;
    }
    const detail::Quantization& q = p.tables.quant;
    if (!q.defined) return kNoQuantizationTable;
    float* image = ws->image.get(area);
    if (image == nullptr) return kUnquantizeAlloc;
    // Coefficients the blocks did not reach stay zero.
    if (coef == nullptr) coef = clearedCoefficients(*ws, area);
    if (coef == nullptr) return kUnquantizeAlloc;
    // Coefficients follow the subbands in order, each row by row; Q = 0 subbands carry none and
    // are zero, like the four subbands never coded. The subbands tile the image, so every
    // sample is written.
    std::size_t idx = 0;
    for (int k = 0; k < detail::kSubbands; ++k) {
      const float qk = k < detail::kCodedSubbands ? q.q[static_cast<std::size_t>(k)] : 0.0F;
      const detail::Region& r = trees.subband[static_cast<std::size_t>(k)];
      for (int y = 0; y < r.h; ++y) {
        float* row = image + static_cast<std::size_t>(r.y + y) * static_cast<std::size_t>(w) + r.x;
        if (qk == 0.0F) {
          std::fill_n(row, r.w, 0.0F);
          continue;
        }
        dequantizeRow(coef + idx, r.w, qk, q.binCenter, q.z[static_cast<std::size_t>(k)] / 2.0F,
                      row);
        idx += static_cast<std::size_t>(r.w);
      }
    }
    if (!p.tables.haveLow) return kNoLowPassFilter;
    if (!p.tables.haveHigh) return kNoHighPassFilter;
    // Both filters odd (whole-sample mirroring) or both even (half-sample mirroring).
    const std::size_t nl = p.tables.filters.low.size();
    const std::size_t nh = p.tables.filters.high.size();
    if (nl > detail::kMaxTaps) return kNoLowPassFilter;
    if (nh > detail::kMaxTaps || nl % 2 != nh % 2) return kNoHighPassFilter;
    float* scratch = ws->scratch.get(area);
    if (scratch == nullptr) return kReconstructAlloc;
    // The last rows of the transform become grey levels while still in the cache. The output is
    // sized at the first row, when the transform can no longer fail.
    GreyRows grey{&pixels, area, p.frame.rScale, p.frame.mShift};
    if (int rc = detail::reconstructRows(image, w, trees, p.tables.filters, scratch,
                                         &GreyRows::take, &grey);
        rc < 0) {
      return rc;
    }
    if (grey.failed) return kOutputAlloc;
    if (!grey.started) {
      try {
        pixels.resize(area);
      } catch (const std::bad_alloc&) {
        return kOutputAlloc;
      }
    }
    width = w;
    height = h;
    depth = 8;
    ppi = foundPpi;
    lossy = 1;
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutputAlloc;
  }
}

}  // namespace varnel::wsq
