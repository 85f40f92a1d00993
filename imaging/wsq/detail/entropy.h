#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel::wsq::detail {

/// Bit i set when c[i] is not zero, for the n <= 64 coefficients from c.
inline std::uint64_t nonZeroMask(const std::int16_t* c, std::size_t n) noexcept {
  std::uint64_t mask = 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  // Sixteen coefficients at a time: compared with zero, narrowed to bytes, one bit each.
  if (n == 64) {
    const __m128i zero = _mm_setzero_si128();
    std::uint64_t zeros = 0;
    for (; i < 64; i += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i + 8));
      const __m128i z = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
      zeros |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(z))} << i;
    }
    return ~zeros;
  }
#endif
  for (; i < n; ++i) mask |= std::uint64_t{c[i] != 0} << i;
  return mask;
}

/// Extra bits after each symbol: 8 after 101, 102 and 105, 16 after 103, 104 and 106.
inline constexpr std::array<std::uint8_t, 256> kExtraBits = [] {
  std::array<std::uint8_t, 256> t{};
  t[101] = t[102] = t[105] = 8;
  t[103] = t[104] = t[106] = 16;
  return t;
}();

// Adds the counts of the k symbols (low bytes of out) to freq, in four tables: the same symbol
// often follows itself, and one table would make each count wait for the one before.
inline void countSymbols(const std::uint32_t* out, std::size_t k,
                         std::array<std::uint32_t, 256>& freq) noexcept {
  std::array<std::array<std::uint32_t, 256>, 4> part{};
  std::size_t j = 0;
  for (; j + 4 <= k; j += 4) {
    ++part[0][out[j] & 0xFFU];
    ++part[1][out[j + 1] & 0xFFU];
    ++part[2][out[j + 2] & 0xFFU];
    ++part[3][out[j + 3] & 0xFFU];
  }
  for (; j < k; ++j) ++part[0][out[j] & 0xFFU];
  for (std::size_t v = 0; v < 256; ++v)
    freq[v] += part[0][v] + part[1][v] + part[2][v] + part[3][v];
}

/// The entropy-coder symbols of n quantized coefficients, in order, packed into `out` as
/// symbol | extra bits << 8, their counts added to `freq`; returns how many. `out` needs room for
/// n. Symbols: 1-100 zero runs, 105/106 longer runs with an 8/16-bit length, 107-254 small values,
/// 101-104 larger magnitudes with 8/16 bits. A zero run is emitted as soon as it reaches 65535,
/// so no run is ever longer.
inline std::size_t collectSymbols(const std::int16_t* c, std::size_t n, std::uint32_t* out,
                                  std::array<std::uint32_t, 256>& freq) noexcept {
  std::size_t k = 0;
  auto emit = [&](std::uint32_t sym, std::uint32_t extra) { out[k++] = sym | (extra << 8); };
  auto zeroRun = [&](std::size_t run) {
    for (; run >= 65535; run -= 65535) emit(106, 65535U);
    if (run == 0) return;
    const auto r = static_cast<std::uint32_t>(run);
    if (r <= 100) {
      emit(r, 0U);
    } else if (r <= 255) {
      emit(105, r);
    } else {
      emit(106, r);
    }
  };
  // The coefficients are scanned 64 at a time for the non-zero ones, so the cost follows the
  // number of symbols, not of coefficients.
  std::size_t next = 0;  // first coefficient not yet emitted
  for (std::size_t base = 0; base < n; base += 64) {
    std::uint64_t mask = nonZeroMask(c + base, n - base < 64 ? n - base : 64);
    while (mask != 0) {
      const std::size_t i = base + static_cast<std::size_t>(__builtin_ctzll(mask));
      mask &= mask - 1;
      const std::size_t run = i - next;
      if (run <= 100) {
        // Whether a short run precedes the value is unpredictable, so it is written either way:
        // "symbol 0" for no run is overwritten by the value. Every symbol covers at least one
        // coefficient, so out[k] is inside the n entries.
        out[k] = static_cast<std::uint32_t>(run);
        k += run != 0 ? 1 : 0;
      } else {
        zeroRun(run);
      }
      next = i + 1;
      const int v = c[i];
      if (v >= -73 && v <= 74) {
        emit(static_cast<std::uint32_t>(v + 180), 0U);
      } else if (v > 0) {
        emit(v <= 255 ? 101U : 103U, static_cast<std::uint32_t>(v));
      } else {
        const auto m = static_cast<std::uint32_t>(-v);
        emit(m <= 255 ? 102U : 104U, m);
      }
    }
  }
  zeroRun(n - next);
  countSymbols(out, k, freq);
  return k;
}

}  // namespace varnel::wsq::detail
