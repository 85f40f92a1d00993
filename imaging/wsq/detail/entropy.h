#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace varnel::wsq::detail {

/// Walks quantized coefficients as entropy-coder symbols, calling
/// sink(symbol, extra bits, extra bit count): 1-100 zero runs, 105/106 longer runs with an 8/16-bit
/// length, 107-254 small values, 101-104 larger magnitudes with 8/16 bits. A zero run is emitted
/// as soon as it reaches 65535, so no run is ever longer.
template <typename Sink>
void forEachSymbol(const std::int16_t* c, std::size_t n, Sink&& sink) {
  std::uint32_t run = 0;
  auto flushRun = [&] {
    if (run == 0) return;
    if (run <= 100) {
      sink(static_cast<int>(run), 0U, 0);
    } else if (run <= 255) {
      sink(105, run, 8);
    } else {
      sink(106, run, 16);
    }
    run = 0;
  };
  for (std::size_t i = 0; i < n; ++i) {
    const int v = c[i];
    if (v == 0) {
      // Zeros dominate the finer subbands: step over sixteen, then four at a time while the run
      // has room.
      std::uint64_t four[4] = {};
      while (i + 16 < n && run + 17 < 65535) {
        std::memcpy(four, c + i + 1, sizeof four);
        if ((four[0] | four[1] | four[2] | four[3]) != 0) break;
        run += 16;
        i += 16;
      }
      while (i + 4 < n && run + 5 < 65535) {
        std::memcpy(four, c + i + 1, sizeof four[0]);
        if (four[0] != 0) break;
        run += 4;
        i += 4;
      }
      if (++run == 65535) flushRun();
      continue;
    }
    flushRun();
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
  flushRun();
}

}  // namespace varnel::wsq::detail
