#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "imaging/wsq/detail/codec.h"
#include "imaging/wsq/detail/cpu.h"
#include "imaging/wsq/detail/entropy.h"
#include "imaging/wsq/detail/symbol_scan.h"
#include "imaging/wsq/detail/workspace.h"
#include "imaging/wsq/status.h"
#include "imaging/wsq/wsq.h"

namespace varnel::wsq {
namespace {

using detail::ByteWriter;
using detail::kSubbands;
using detail::Region;

constexpr int kLinuxImplementationNumber = 10032;
constexpr double kCeil16 = 65535.0;
constexpr double kCeil32 = 4294967295.0;

int putScaled16(ByteWriter& w, double v, int tooLarge) noexcept {
  int s = 0;
  std::uint32_t n = 0;
  if (!detail::scaleValue(v, kCeil16, s, n)) return tooLarge;
  if (int rc = w.u8(s); rc < 0) return rc;
  return w.u16(static_cast<int>(n));
}

int putTap(ByteWriter& w, float tap, int tooLarge) noexcept {
  int s = 0;
  std::uint32_t n = 0;
  const double mag = std::fabs(static_cast<double>(tap));
  if (!detail::scaleValue(mag, kCeil32, s, n)) return tooLarge;
  if (int rc = w.u8(tap < 0.0F ? 1 : 0); rc < 0) return rc;
  if (int rc = w.u8(s); rc < 0) return rc;
  return w.u32(n);
}

int writeTransformTable(ByteWriter& w, const detail::FilterBank& f) noexcept {
  const int nl = static_cast<int>(f.low.size());
  const int nh = static_cast<int>(f.high.size());
  const int entries = (nl - nl / 2) + (nh - nh / 2);
  if (int rc = w.u16(detail::kDtt); rc < 0) return rc;
  if (int rc = w.u16(4 + 6 * entries); rc < 0) return rc;
  if (int rc = w.u8(nl); rc < 0) return rc;
  if (int rc = w.u8(nh); rc < 0) return rc;
  for (int i = nl / 2; i < nl; ++i) {
    if (int rc = putTap(w, f.low[static_cast<std::size_t>(i)], kLowTapTooLarge); rc < 0) return rc;
  }
  for (int i = nh / 2; i < nh; ++i) {
    if (int rc = putTap(w, f.high[static_cast<std::size_t>(i)], kHighTapTooLarge); rc < 0)
      return rc;
  }
  return kOk;
}

int writeQuantTable(ByteWriter& w, const std::array<float, kSubbands>& q,
                    const std::array<float, kSubbands>& z) noexcept {
  if (int rc = w.u16(detail::kDqt); rc < 0) return rc;
  if (int rc = w.u16(389); rc < 0) return rc;
  // Bin centre 0.44 as scale 2, value 44.
  if (int rc = w.u8(2); rc < 0) return rc;
  if (int rc = w.u16(44); rc < 0) return rc;
  for (std::size_t k = 0; k < kSubbands; ++k) {
    if (int rc = putScaled16(w, q[k], kQTooLarge); rc < 0) return rc;
    if (int rc = putScaled16(w, z[k], kZTooLarge); rc < 0) return rc;
  }
  return kOk;
}

int writeFrame(ByteWriter& w, int width, int height, float mShift, float rScale) noexcept {
  if (int rc = w.u16(detail::kSof); rc < 0) return rc;
  if (int rc = w.u16(17); rc < 0) return rc;
  if (int rc = w.u8(0); rc < 0) return rc;
  if (int rc = w.u8(255); rc < 0) return rc;
  if (int rc = w.u16(height); rc < 0) return rc;
  if (int rc = w.u16(width); rc < 0) return rc;
  if (int rc = putScaled16(w, mShift, kOutputFullValue); rc < 0) return rc;
  if (int rc = putScaled16(w, rScale, kOutputFullValue); rc < 0) return rc;
  if (int rc = w.u8(2); rc < 0) return rc;
  return w.u16(hostImplementationNumber());
}

int writeHuffmanTable(ByteWriter& w, int id, const detail::HuffmanTable& table) noexcept {
  if (int rc = w.u16(detail::kDht); rc < 0) return rc;
  if (int rc = w.u16(19 + table.count); rc < 0) return rc;
  if (int rc = w.u8(id); rc < 0) return rc;
  for (auto b : table.bits) {
    if (int rc = w.u8(b); rc < 0) return rc;
  }
  return w.block(
      std::span<const std::uint8_t>(table.values.data(), static_cast<std::size_t>(table.count)));
}

int writeBlockHeader(ByteWriter& w, int id) noexcept {
  if (int rc = w.u16(detail::kSob); rc < 0) return rc;
  if (int rc = w.u16(3); rc < 0) return rc;
  return w.u8(id);
}

// Entropy-coded data: codes most significant bit first, 0xFF followed by a stuffed 0x00, the
// last byte filled with 1-bits. Bytes go straight into the writer's buffer.
class BitWriter {
 public:
  explicit BitWriter(ByteWriter& w) noexcept
      : w_(w), start_(w.data() + w.size()), p_(start_), end_(w.data() + w.capacity()) {}
  // n at most 56; `bits` has no bits above the lowest n.
  void put(std::uint64_t bits, int n) noexcept {
    // The register holds count_ (< 8 between calls) pending bits at its top. The steps from one
    // call to the next are kept few: each depends on the last.
    const int total = count_ + n;
    acc_ |= bits << (64 - total);
    const int used = total & ~7;  // bits in complete bytes
    // The complete bytes go out without a branch on how many there are: all eight register
    // bytes are stored and the position moves by the complete ones. A 0xFF among them (it needs
    // a stuffed zero) or a buffer near its end takes the byte loop, which finds a full buffer
    // exactly where it would be.
    const std::uint64_t inv = ~acc_;
    const std::uint64_t ff = (inv - 0x0101010101010101ULL) & ~inv & 0x8080808080808080ULL;
    const std::uint64_t head = ~(~std::uint64_t{0} >> used);
    if ((ff & head) == 0 && end_ - p_ >= 16) {
      const std::uint64_t big = __builtin_bswap64(acc_);
      std::memcpy(p_, &big, sizeof big);
      p_ += used >> 3;
      acc_ <<= used;
      count_ = total & 7;
      return;
    }
    count_ = total;
    drain();
  }
  int finish() noexcept {
    if (count_ % 8 != 0) {
      const int fill = 8 - count_ % 8;
      acc_ |= ((std::uint64_t{1} << fill) - 1U) << (64 - count_ - fill);
      count_ += fill;
    }
    drain();
    w_.grow(static_cast<std::size_t>(p_ - start_));
    return status_;
  }

 private:
  void drain() noexcept {
    while (count_ >= 8) {
      const auto b = static_cast<std::uint8_t>(acc_ >> 56);
      acc_ <<= 8;
      count_ -= 8;
      if (end_ - p_ < 2) {
        // Full: stop writing; the status reports it.
        status_ = kOutputFullValue;
        acc_ = 0;
        count_ = 0;
        return;
      }
      *p_++ = b;
      if (b == 0xFF) *p_++ = 0x00;
    }
  }
  ByteWriter& w_;
  std::uint8_t* start_;
  std::uint8_t* p_;
  std::uint8_t* end_;
  std::uint64_t acc_ = 0;
  int count_ = 0;
  int status_ = kOk;
};

// Code and extra-bit count of every symbol, merged so that a symbol and its extra bits are one
// lookup and one write.
struct SymbolCodes {
  std::array<std::uint32_t, 256> code{};  // the code shifted left past the extra bits
  std::array<std::uint8_t, 256> size{};   // code length plus extra bits
};

SymbolCodes symbolCodes(const detail::HuffmanEncoder& enc) noexcept {
  SymbolCodes t;
  for (std::size_t sym = 0; sym < 256; ++sym) {
    t.code[sym] = std::uint32_t{enc.code[sym]} << detail::kExtraBits[sym];
    t.size[sym] = static_cast<std::uint8_t>(enc.size[sym] + detail::kExtraBits[sym]);
  }
  return t;
}

int encodeBlock(ByteWriter& w, const SymbolCodes& codes, const std::uint32_t* symbols,
                std::size_t n) noexcept {
  BitWriter bw(w);
  // A code and its extra bits go out together: at most 16 + 16 bits. The writer's register is
  // one chain of dependent steps per write, so four symbols are joined into one write when
  // together they fit its 56 bits, which they nearly always do; else two, else one.
  auto code = [&](std::uint32_t sym) -> std::uint64_t {
    return codes.code[sym & 0xFFU] | (sym >> 8);
  };
  auto size = [&](std::uint32_t sym) -> int { return codes.size[sym & 0xFFU]; };
  auto pair = [&](std::uint32_t a, std::uint32_t b) {
    const int sizeA = size(a);
    const int sizeB = size(b);
    if (sizeA + sizeB <= 56) {
      bw.put((code(a) << sizeB) | code(b), sizeA + sizeB);
    } else {
      bw.put(code(a), sizeA);
      bw.put(code(b), sizeB);
    }
  };
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const std::uint32_t a = symbols[i];
    const std::uint32_t b = symbols[i + 1];
    const std::uint32_t c = symbols[i + 2];
    const std::uint32_t d = symbols[i + 3];
    const int sizeB = size(b);
    const int sizeC = size(c);
    const int sizeD = size(d);
    const int total = size(a) + sizeB + sizeC + sizeD;
    if (total <= 56) {
      bw.put((((((code(a) << sizeB) | code(b)) << sizeC) | code(c)) << sizeD) | code(d), total);
    } else {
      pair(a, b);
      pair(c, d);
    }
  }
  for (; i < n; ++i) bw.put(code(symbols[i]), size(symbols[i]));
  return bw.finish();
}

// The part of a subband its variance is measured over: a centred crop or the whole area.
Region varianceArea(const Region& r, bool crop) noexcept {
  if (!crop) return r;
  return Region{r.x + r.w / 8, r.y + 9 * r.h / 32, 3 * r.w / 4, 7 * r.h / 16};
}

// Variances of N areas of one size, side by side. Each area's sums are the same float additions
// in the same order as when it is measured alone, so the results are too; kept apart, the N
// chains of dependent additions overlap instead of waiting for each other.
template <int N>
void areaVariances(const float* img, int width, const Region* area, float* out) noexcept {
  const int w = area[0].w;
  const int h = area[0].h;
  const long long n = static_cast<long long>(w) * h;
  if (n < 2) {
    for (int i = 0; i < N; ++i) out[i] = 0.0F;
    return;
  }
  std::array<float, N> sum{};
  std::array<float, N> ssq{};
  for (int y = 0; y < h; ++y) {
    std::array<const float*, N> p{};
    for (int i = 0; i < N; ++i) {
      p[static_cast<std::size_t>(i)] =
          img + static_cast<std::ptrdiff_t>(area[i].y + y) * width + area[i].x;
    }
    for (int x = 0; x < w; ++x) {
      for (std::size_t i = 0; i < N; ++i) {
        const float v = p[i][x];
        sum[i] += v;
        ssq[i] += v * v;
      }
    }
  }
  const auto fn = static_cast<float>(n);
  for (std::size_t i = 0; i < N; ++i) {
    out[i] = (ssq[i] - (sum[i] * sum[i]) / fn) / (fn - 1.0F);
  }
}

// Variances of subbands [from, to), up to four neighbours with equal measured areas at a time.
void subbandVariances(const float* img, int width, const detail::Trees& trees, int from, int to,
                      bool crop, float* var) noexcept {
  for (int k = from; k < to;) {
    std::array<Region, 4> area{};
    area[0] = varianceArea(trees.subband[static_cast<std::size_t>(k)], crop);
    int m = 1;
    for (; m < 4 && k + m < to; ++m) {
      const Region next = varianceArea(trees.subband[static_cast<std::size_t>(k + m)], crop);
      if (next.w != area[0].w || next.h != area[0].h) break;
      area[static_cast<std::size_t>(m)] = next;
    }
    if (m == 4) {
      areaVariances<4>(img, width, area.data(), var + k);
    } else if (m >= 2) {
      m = 2;
      areaVariances<2>(img, width, area.data(), var + k);
    } else {
      areaVariances<1>(img, width, area.data(), var + k);
    }
    k += m;
  }
}

// Sum, darkest and brightest level of the pixels, in runs short enough for 32-bit partial sums.
void levelStats(const std::uint8_t* px, std::size_t n, std::uint64_t& sum, std::uint8_t& lo,
                std::uint8_t& hi) noexcept {
  constexpr std::size_t kRun = 1U << 16;
  for (std::size_t start = 0; start < n; start += kRun) {
    const std::size_t end = n - start < kRun ? n : start + kRun;
    std::uint32_t part = 0;
    std::uint8_t l = lo;
    std::uint8_t h = hi;
    for (std::size_t i = start; i < end; ++i) {
      const std::uint8_t v = px[i];
      part += v;
      l = v < l ? v : l;
      h = v > h ? v : h;
    }
    sum += part;
    lo = l;
    hi = h;
  }
}

// Quantizes n coefficients with bin width qk and half zero-bin hz. Quantized values are 16-bit;
// the rare larger ones saturate instead of wrapping. A value between -hz and hz (or NaN) gives 0.
void quantizeRowSse(const float* p, int n, float qk, float hz, std::int16_t* out) noexcept {
  int x = 0;
#if defined(__SSE2__)
  // Eight at a time, both sides computed and one kept: the same operations as the loop below
  // (minps and maxps choose exactly as its comparisons do, NaN included).
  const __m128 hzv = _mm_set1_ps(hz);
  const __m128 nhz = _mm_set1_ps(-hz);
  const __m128 q = _mm_set1_ps(qk);
  const __m128 top = _mm_set1_ps(32766.0F);
  const __m128 bottom = _mm_set1_ps(-32766.0F);
  const __m128i one = _mm_set1_epi32(1);
  auto four = [&](const float* src) {
    const __m128 c = _mm_loadu_ps(src);
    const __m128 up = _mm_cmpgt_ps(c, hzv);
    const __m128 down = _mm_cmplt_ps(c, nhz);
    const __m128 t =
        _mm_or_ps(_mm_and_ps(up, _mm_sub_ps(c, hzv)), _mm_andnot_ps(up, _mm_add_ps(c, hzv)));
    const __m128 d = _mm_div_ps(t, q);
    const __m128 bounded =
        _mm_or_ps(_mm_and_ps(up, _mm_min_ps(d, top)), _mm_andnot_ps(up, _mm_max_ps(d, bottom)));
    const __m128i v = _mm_cvttps_epi32(bounded);
    return _mm_or_si128(_mm_and_si128(_mm_castps_si128(up), _mm_add_epi32(v, one)),
                        _mm_and_si128(_mm_castps_si128(down), _mm_sub_epi32(v, one)));
  };
  for (; x + 8 <= n; x += 8) {
    const __m128i packed = _mm_packs_epi32(four(p + x), four(p + x + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), packed);
  }
#endif
  for (; x < n; ++x) {
    const float c = p[x];
    const float up = (c - hz) / qk;
    const float down = (c + hz) / qk;
    const int v = c > hz    ? static_cast<int>(up < 32766.0F ? up : 32766.0F) + 1
                  : c < -hz ? static_cast<int>(down > -32766.0F ? down : -32766.0F) - 1
                            : 0;
    out[x] = static_cast<std::int16_t>(v);
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same operations eight lanes wide on processors with AVX2, so the results are identical.
__attribute__((target("avx2"))) inline __m256i quantizeEight(const float* src, __m256 hzv,
                                                             __m256 nhz, __m256 q, __m256 top,
                                                             __m256 bottom) noexcept {
  const __m256i one = _mm256_set1_epi32(1);
  const __m256 c = _mm256_loadu_ps(src);
  const __m256 up = _mm256_cmp_ps(c, hzv, _CMP_GT_OS);
  const __m256 down = _mm256_cmp_ps(c, nhz, _CMP_LT_OS);
  const __m256 t = _mm256_blendv_ps(_mm256_add_ps(c, hzv), _mm256_sub_ps(c, hzv), up);
  const __m256 d = _mm256_div_ps(t, q);
  const __m256 bounded = _mm256_blendv_ps(_mm256_max_ps(d, bottom), _mm256_min_ps(d, top), up);
  const __m256i v = _mm256_cvttps_epi32(bounded);
  return _mm256_or_si256(_mm256_and_si256(_mm256_castps_si256(up), _mm256_add_epi32(v, one)),
                         _mm256_and_si256(_mm256_castps_si256(down), _mm256_sub_epi32(v, one)));
}

__attribute__((target("avx2"))) void quantizeRowAvx2(const float* p, int n, float qk, float hz,
                                                     std::int16_t* out) noexcept {
  const __m256 hzv = _mm256_set1_ps(hz);
  const __m256 nhz = _mm256_set1_ps(-hz);
  const __m256 q = _mm256_set1_ps(qk);
  const __m256 top = _mm256_set1_ps(32766.0F);
  const __m256 bottom = _mm256_set1_ps(-32766.0F);
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m256i a = quantizeEight(p + x, hzv, nhz, q, top, bottom);
    const __m256i b = quantizeEight(p + x + 8, hzv, nhz, q, top, bottom);
    // packs works per 128-bit half: put the four quarters back in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), packed);
  }
  quantizeRowSse(p + x, n - x, qk, hz, out + x);
}

// levelStats() 32 pixels at a time: sums of absolute differences from zero add the bytes into
// 64-bit lanes, byte minimum and maximum keep the extremes.
__attribute__((target("avx2"))) void levelStatsAvx2(const std::uint8_t* px, std::size_t n,
                                                    std::uint64_t& sum, std::uint8_t& lo,
                                                    std::uint8_t& hi) noexcept {
  const __m256i zero = _mm256_setzero_si256();
  __m256i total = zero;
  __m256i darkest = _mm256_set1_epi8(static_cast<char>(lo));
  __m256i brightest = _mm256_set1_epi8(static_cast<char>(hi));
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px + i));
    total = _mm256_add_epi64(total, _mm256_sad_epu8(v, zero));
    darkest = _mm256_min_epu8(darkest, v);
    brightest = _mm256_max_epu8(brightest, v);
  }
  std::array<std::uint64_t, 4> sums{};
  std::array<std::uint8_t, 32> mins{};
  std::array<std::uint8_t, 32> maxs{};
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums.data()), total);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(mins.data()), darkest);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(maxs.data()), brightest);
  for (auto v : sums) sum += v;
  for (auto v : mins) lo = v < lo ? v : lo;
  for (auto v : maxs) hi = v > hi ? v : hi;
  levelStats(px + i, n - i, sum, lo, hi);
}

// Grey levels to samples around the mean: (v - mShift) / rScale, eight at a time.
__attribute__((target("avx2"))) void toSamplesAvx2(const std::uint8_t* px, std::size_t n,
                                                   float mShift, float rScale,
                                                   float* out) noexcept {
  const __m256 shift = _mm256_set1_ps(mShift);
  const __m256 scale = _mm256_set1_ps(rScale);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(px + i));
    const __m256 v = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
    _mm256_storeu_ps(out + i, _mm256_div_ps(_mm256_sub_ps(v, shift), scale));
  }
  for (; i < n; ++i) out[i] = (static_cast<float>(px[i]) - mShift) / rScale;
}

#endif

void quantizeRow(const float* p, int n, float qk, float hz, std::int16_t* out) noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  if (detail::haveAvx2()) {
    quantizeRowAvx2(p, n, qk, hz, out);
    return;
  }
#endif
  quantizeRowSse(p, n, qk, hz, out);
}

// Pixels to samples around the mean, scaled: (v - mShift) / rScale.
void toSamples(const std::uint8_t* px, std::size_t n, float mShift, float rScale,
               float* out) noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  if (detail::haveAvx2()) {
    toSamplesAvx2(px, n, mShift, rScale, out);
    return;
  }
#endif
  // The same division for every pixel of a grey level, done once per level.
  std::array<float, 256> level{};
  for (std::size_t v = 0; v < level.size(); ++v) {
    level[v] = (static_cast<float>(v) - mShift) / rScale;
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = level[px[i]];
}

}  // namespace

int hostImplementationNumber() noexcept {
  static std::atomic<int> cached{0};
  int v = cached.load(std::memory_order_relaxed);
  if (v == 0) {
    // Only Windows hosts have numbers of their own; every other host uses the last one.
    v = kLinuxImplementationNumber;
    cached.store(v, std::memory_order_relaxed);
  }
  return v;
}

std::string_view wsqVersion() noexcept { return "2.4.0.0"; }
std::string_view wsqBanner() noexcept { return "wsq version 2.4.0.0 - April 13, 2024"; }

int wsqComputeQuantization(float bitrate, const std::array<float, 64>& variance,
                           std::array<float, 64>& q, std::array<float, 64>& z) noexcept {
  static constexpr std::array<float, 8> kHighWeights = {1.32F, 1.08F, 1.42F, 1.08F,
                                                        1.32F, 1.42F, 1.08F, 1.08F};
  std::array<float, 64> qp{};
  std::array<float, 64> sigma{};
  std::array<bool, 64> inK{};
  std::array<bool, 64> inK0{};
  for (int k = 0; k < detail::kCodedSubbands; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const float var = variance[i];
    if (var < 1.01F) continue;
    const float a = k < 52 ? 1.0F : kHighWeights[i - 52];
    qp[i] = k < 4 ? 1.0F : static_cast<float>(10.0 / (a * std::log(static_cast<double>(var))));
    sigma[i] = static_cast<float>(std::sqrt(static_cast<double>(var)));
    inK[i] = true;
    inK0[i] = true;
  }
  float qv = 0.0F;
  for (;;) {
    float s = 0.0F;
    float p = 1.0F;
    for (int k = 0; k < detail::kCodedSubbands; ++k) {
      const auto i = static_cast<std::size_t>(k);
      if (!inK[i]) continue;
      const float m = k < 4 ? 1.0F / 1024.0F : (k < 51 ? 1.0F / 256.0F : 1.0F / 16.0F);
      s += m;
      p *= static_cast<float>(
          std::pow(static_cast<double>(sigma[i] / qp[i]), static_cast<double>(m)));
    }
    if (s <= 0.0F) break;
    qv = static_cast<float>((std::pow(2.0, static_cast<double>(bitrate / s - 1.0F)) / 2.5) /
                            std::pow(static_cast<double>(p), static_cast<double>(1.0F / s)));
    bool removed = false;
    for (int k = 0; k < detail::kCodedSubbands; ++k) {
      const auto i = static_cast<std::size_t>(k);
      if (inK[i] && qp[i] / qv >= 5.0F * sigma[i]) {
        inK[i] = false;
        removed = true;
      }
    }
    if (!removed) break;
  }
  q.fill(0.0F);
  z.fill(0.0F);
  for (std::size_t i = 0; i < static_cast<std::size_t>(detail::kCodedSubbands); ++i) {
    if (inK0[i] && qv > 0.0F) {
      q[i] = qp[i] / qv;
      z[i] = 1.2F * q[i];
    }
  }
  return kOk;
}

int wsqEncode(float bitrate, std::span<const std::uint8_t> pixels, int width, int height,
              std::vector<std::uint8_t>& stream) noexcept {
  (void)hostImplementationNumber();
  if (width < 1 || width > 65535 || height < 1 || height > 65535) return kInvalidArgument;
  const std::size_t area = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (pixels.size() < area || !std::isfinite(bitrate) || !(bitrate > 0.0F)) return kInvalidArgument;
  try {
    // Pixels to floats around the mean, scaled so the extremes land near +-128.
    std::uint64_t sum = 0;
    std::uint8_t lo = 255;
    std::uint8_t hi = 0;
#if defined(__x86_64__) && defined(__GNUC__)
    if (detail::haveAvx2()) {
      levelStatsAvx2(pixels.data(), area, sum, lo, hi);
    } else {
      levelStats(pixels.data(), area, sum, lo, hi);
    }
#else
    levelStats(pixels.data(), area, sum, lo, hi);
#endif
    const float mShift = static_cast<float>(static_cast<double>(sum) / static_cast<double>(area));
    float rScale =
        std::fmax(mShift - static_cast<float>(lo), static_cast<float>(hi) - mShift) / 128.0F;
    if (rScale == 0.0F) rScale = 1.0F;  // a uniform image: nothing to scale

    // The thread's buffers from its last image; each is written in full before it is read.
    detail::WorkspaceLease ws;
    float* image = ws->image.get(area);
    if (image == nullptr) return kFloatImageAlloc;
    toSamples(pixels.data(), area, mShift, rScale, image);

    detail::Trees trees;
    detail::buildTrees(width, height, trees);
    {
      float* scratch = ws->scratch.get(area);
      if (scratch == nullptr) return kDecomposeAlloc;
      if (int rc = detail::decompose(image, width, trees, detail::standardFilters(), scratch);
          rc < 0) {
        return rc;
      }
    }

    // Variances: a centred crop of the four lowest subbands decides whether the others are
    // measured over their crop too or over their whole area.
    std::array<float, 64> var{};
    subbandVariances(image, width, trees, 0, 4, true, var.data());
    float lowSum = 0.0F;
    for (std::size_t k = 0; k < 4; ++k) lowSum += var[k];
    const bool crop = lowSum >= 20000.0F;
    subbandVariances(image, width, trees, crop ? 4 : 0, detail::kCodedSubbands, crop, var.data());
    std::array<float, 64> q{};
    std::array<float, 64> z{};
    (void)wsqComputeQuantization(bitrate, var, q, z);

    // Quantize subband by subband, row by row.
    std::int16_t* coef = ws->coef.get(area);
    if (coef == nullptr) return kQuantizedAlloc;
    std::size_t n = 0;
    std::array<std::size_t, 3> blockSize{};
    for (int k = 0; k < detail::kCodedSubbands; ++k) {
      const auto i = static_cast<std::size_t>(k);
      if (q[i] == 0.0F) continue;
      const Region& r = trees.subband[i];
      const std::size_t start = n;
      for (int y = 0; y < r.h; ++y) {
        const float* p =
            image + static_cast<std::size_t>(r.y + y) * static_cast<std::size_t>(width) + r.x;
        quantizeRow(p, r.w, q[i], z[i] / 2.0F, coef + n);
        n += static_cast<std::size_t>(r.w);
      }
      blockSize[k < 19 ? 0 : (k < 52 ? 1 : 2)] += n - start;
    }
    if (blockSize[0] + blockSize[1] + blockSize[2] != n) return kBlockSizeMismatch;

    // The stream must come out smaller than the image.
    std::uint8_t* bytes = ws->bytes.get(area);
    std::uint32_t* symbols = ws->symbols.get(n + detail::kSymbolSlack);
    if (bytes == nullptr || symbols == nullptr) return kOutputAlloc;
    ByteWriter w(bytes, area);
    if (int rc = w.u16(detail::kSoi); rc < 0) return rc;
    if (int rc = writeTransformTable(w, detail::standardFilters()); rc < 0) return rc;
    if (int rc = writeQuantTable(w, q, z); rc < 0) return rc;
    if (int rc = writeFrame(w, width, height, mShift, rScale); rc < 0) return rc;

    const std::int16_t* b1 = coef;
    const std::int16_t* b2 = b1 + blockSize[0];
    const std::int16_t* b3 = b2 + blockSize[1];
    std::array<std::uint32_t, 256> freq{};
    const std::size_t s1 = detail::collectSymbolsWide(b1, blockSize[0], symbols, freq);
    detail::HuffmanTable table;
    detail::HuffmanEncoder enc;
    detail::buildHuffmanTable(freq, table);
    if (!detail::makeEncoder(table, enc)) return kBadHuffmanTable;
    if (int rc = writeHuffmanTable(w, 0, table); rc < 0) return rc;
    if (int rc = writeBlockHeader(w, 0); rc < 0) return rc;
    if (int rc = encodeBlock(w, symbolCodes(enc), symbols, s1); rc < 0) return rc;

    freq.fill(0);
    const std::size_t s2 = detail::collectSymbolsWide(b2, blockSize[1], symbols, freq);
    const std::size_t s3 = detail::collectSymbolsWide(b3, blockSize[2], symbols + s2, freq);
    detail::buildHuffmanTable(freq, table);
    if (!detail::makeEncoder(table, enc)) return kBadHuffmanTable;
    if (int rc = writeHuffmanTable(w, 1, table); rc < 0) return rc;
    if (int rc = writeBlockHeader(w, 1); rc < 0) return rc;
    const SymbolCodes codes = symbolCodes(enc);
    if (int rc = encodeBlock(w, codes, symbols, s2); rc < 0) return rc;
    if (int rc = writeBlockHeader(w, 1); rc < 0) return rc;
    if (int rc = encodeBlock(w, codes, symbols + s2, s3); rc < 0) return rc;
    if (int rc = w.u16(detail::kEoi); rc < 0) return rc;
    stream.assign(bytes, bytes + w.size());
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutputAlloc;
  }
}

}  // namespace varnel::wsq
