#include "imaging/wsq/detail/symbol_scan.h"

#include "imaging/wsq/detail/entropy.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace varnel::wsq::detail {
namespace {

#if defined(__x86_64__) && defined(__GNUC__)

bool haveWide() noexcept {
  static const bool kHave =
      __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
      __builtin_cpu_supports("avx512vl") != 0 && __builtin_cpu_supports("bmi2") != 0 &&
      __builtin_cpu_supports("popcnt") != 0;
  return kHave;
}

// Every lane. The zero-masking forms of the intrinsics are used with it: the plain forms start
// from an undefined register that g++ 12 reports as maybe uninitialized.
constexpr __mmask16 kAll = 0xFFFF;

// The symbols written so far and the zeros not yet written.
struct WideScan {
  std::uint32_t* out;
  std::size_t k = 0;
  std::size_t gap = 0;  // zeros since the last non-zero coefficient

  void zeroRun(std::size_t run) noexcept {
    for (; run >= 65535; run -= 65535) out[k++] = 106U | (65535U << 8);
    if (run == 0) return;
    const auto r = static_cast<std::uint32_t>(run);
    out[k++] = r <= 100 ? r : ((r <= 255 ? 105U : 106U) | (r << 8));
  }
};

#define VARNEL_WIDE_TARGET target("avx512f,avx512bw,avx512vl,bmi,bmi2,popcnt,lzcnt")

// One chunk of len (at most sixteen) coefficients, zero beyond len: the non-zero ones are packed
// to the front with their positions, the zero run before each is the distance to the one
// before, and the run and value symbols are interleaved and packed again, leaving out runs of
// length zero. Only the first run of a chunk can be longer than fifteen; it is completed with
// the zeros carried over and written apart when it needs a long-run symbol.
__attribute__((VARNEL_WIDE_TARGET, always_inline)) inline void wideChunk(WideScan& s, __m256i raw,
                                                                         std::size_t len) noexcept {
  const auto m = static_cast<std::uint32_t>(_mm256_test_epi16_mask(raw, raw));
  if (m == 0) {
    s.gap += len;
    return;
  }
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i v = _mm512_maskz_cvtepi16_epi32(kAll, raw);
  const __m512i vals = _mm512_maskz_compress_epi32(static_cast<__mmask16>(m), v);
  const __m512i pos = _mm512_maskz_compress_epi32(
      static_cast<__mmask16>(m),
      _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  // Lane i: the position of the value before, -1 for the first.
  const __m512i prev = _mm512_maskz_alignr_epi32(kAll, pos, _mm512_set1_epi32(-1), 15);
  __m512i run = _mm512_sub_epi32(_mm512_sub_epi32(pos, prev), one);
  const std::size_t first = s.gap + _tzcnt_u32(m);
  if (first <= 100) {
    run = _mm512_mask_set1_epi32(run, 1, static_cast<int>(first));
  } else {
    s.zeroRun(first);
    run = _mm512_mask_set1_epi32(run, 1, 0);
  }
  // Value symbols: 107-254 for -73..74, else 101/102 (magnitude up to 255) or 103/104 with the
  // magnitude as extra bits.
  const __m512i mag = _mm512_maskz_abs_epi32(kAll, vals);
  const __mmask16 negative = _mm512_cmplt_epi32_mask(vals, _mm512_setzero_si512());
  const __mmask16 wide = _mm512_cmpgt_epi32_mask(mag, _mm512_set1_epi32(255));
  const __m512i positive = _mm512_set1_epi32(101);
  __m512i sym = _mm512_mask_add_epi32(positive, negative, positive, one);
  sym = _mm512_mask_add_epi32(sym, wide, sym, _mm512_set1_epi32(2));
  sym = _mm512_or_si512(sym, _mm512_maskz_slli_epi32(kAll, mag, 8));
  const __mmask16 small = _mm512_cmpge_epi32_mask(vals, _mm512_set1_epi32(-73)) &
                          _mm512_cmple_epi32_mask(vals, _mm512_set1_epi32(74));
  sym = _mm512_mask_add_epi32(sym, small, vals, _mm512_set1_epi32(180));

  const std::uint32_t valid = (1U << _mm_popcnt_u32(m)) - 1U;
  const std::uint32_t runs = _mm512_test_epi32_mask(run, run) & valid;
  const std::uint32_t lowMask = _pdep_u32(runs, 0x5555U) | _pdep_u32(valid, 0xAAAAU);
  const std::uint32_t highMask = _pdep_u32(runs >> 8, 0x5555U) | _pdep_u32(valid >> 8, 0xAAAAU);
  const __m512i low = _mm512_maskz_permutex2var_epi32(
      kAll, run, _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23), sym);
  const __m512i high = _mm512_maskz_permutex2var_epi32(
      kAll, run, _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31),
      sym);
  _mm512_storeu_si512(s.out + s.k,
                      _mm512_maskz_compress_epi32(static_cast<__mmask16>(lowMask), low));
  s.k += static_cast<std::size_t>(_mm_popcnt_u32(lowMask));
  _mm512_storeu_si512(s.out + s.k,
                      _mm512_maskz_compress_epi32(static_cast<__mmask16>(highMask), high));
  s.k += static_cast<std::size_t>(_mm_popcnt_u32(highMask));
  s.gap = len - 1 - (31 - _lzcnt_u32(m));
}

// The symbols of n coefficients, sixteen at a time; each chunk stores two full vectors, so
// `out` needs kSymbolSlack entries past the symbols.
__attribute__((VARNEL_WIDE_TARGET)) std::size_t collectWide(const std::int16_t* c, std::size_t n,
                                                            std::uint32_t* out) noexcept {
  WideScan s{out};
  std::size_t base = 0;
  for (; base + 16 <= n; base += 16) {
    wideChunk(s, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + base)), 16);
  }
  if (base < n) {
    const auto len = static_cast<unsigned>(n - base);
    wideChunk(s, _mm256_maskz_loadu_epi16(static_cast<__mmask16>((1U << len) - 1U), c + base), len);
  }
  s.zeroRun(s.gap);
  return s.k;
}

#undef VARNEL_WIDE_TARGET

#endif

}  // namespace

std::size_t collectSymbolsWide(const std::int16_t* c, std::size_t n, std::uint32_t* out,
                               std::array<std::uint32_t, 256>& freq) noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  if (haveWide()) {
    const std::size_t k = collectWide(c, n, out);
    countSymbols(out, k, freq);
    return k;
  }
#endif
  return collectSymbols(c, n, out, freq);
}

}  // namespace varnel::wsq::detail
