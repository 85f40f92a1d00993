#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel::wsq::detail {

/// Index of the first non-zero coefficient at or after i (n when there is none).
inline std::size_t nextNonZero(const std::int16_t* c, std::size_t i, std::size_t n) noexcept {
  // Runs in the coarse subbands are mostly a single zero.
  if (i < n && c[i] != 0) return i;
#if defined(__SSE2__)
  // Zeros dominate the finer subbands: eight coefficients are compared at once.
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
    const auto zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, zero)));
    if (zeros != 0xFFFFU) return i + static_cast<std::size_t>(__builtin_ctz(~zeros)) / 2;
  }
#else
  for (; i + 4 <= n; i += 4) {
    std::uint64_t four = 0;
    std::memcpy(&four, c + i, sizeof four);
    if (four != 0) break;
  }
#endif
  while (i < n && c[i] == 0) ++i;
  return i;
}

/// Walks quantized coefficients as entropy-coder symbols, calling
/// sink(symbol, extra bits, extra bit count): 1-100 zero runs, 105/106 longer runs with an 8/16-bit
/// length, 107-254 small values, 101-104 larger magnitudes with 8/16 bits. A zero run is emitted
/// as soon as it reaches 65535, so no run is ever longer.
template <typename Sink>
void forEachSymbol(const std::int16_t* c, std::size_t n, Sink&& sink) {
  std::size_t i = 0;
  while (i < n) {
    const int v = c[i];
    if (v == 0) {
      const std::size_t end = nextNonZero(c, i + 1, n);
      std::size_t run = end - i;
      i = end;
      for (; run >= 65535; run -= 65535) sink(106, 65535U, 16);
      if (run == 0) continue;
      const auto r = static_cast<std::uint32_t>(run);
      if (r <= 100) {
        sink(static_cast<int>(r), 0U, 0);
      } else if (r <= 255) {
        sink(105, r, 8);
      } else {
        sink(106, r, 16);
      }
      continue;
    }
    ++i;
    if (v >= -73 && v <= 74) {
      sink(v + 180, 0U, 0);
    } else if (v > 0) {
      if (v <= 255) {
        sink(101, static_cast<std::uint32_t>(v), 8);
      } else {
        sink(103, static_cast<std::uint32_t>(v), 16);
      }
    } else {
      const auto m = static_cast<std::uint32_t>(-v);
      if (m <= 255) {
        sink(102, m, 8);
      } else {
        sink(104, m, 16);
      }
    }
  }
}

}  // namespace varnel::wsq::detail
