// "Compress Records To WSQ" / "Compress Records To JP2L" on fourteen raw 800x750 Type-14
// records, against the bare encoders on the same pixels.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "imaging/detail/codecs.h"
#include "imaging/image_layer.h"
#include "imaging/wsq/wsq.h"
#include "tests/common/tx_builder.h"
#include "transaction/traditional.h"

namespace {

using namespace varnel;

constexpr int kWidth = 800;
constexpr int kHeight = 750;
constexpr int kRecords = 14;

// A real fingerprint (NIST reference original, 589x605) mirrored out to 800x750.
const std::vector<std::uint8_t>& pixels() {
  static const std::vector<std::uint8_t> px = [] {
    std::vector<std::uint8_t> png;
    {
      std::FILE* f = std::fopen(VARNEL_TEST_DATA "/wsq/input/cmp00001.png", "rb");
      if (f != nullptr) {
        std::uint8_t buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) png.insert(png.end(), buf, buf + n);
        (void)std::fclose(f);
      }
    }
    imaging::RawImage src;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(kWidth) * kHeight, 128);
    if (imaging::pngDecode(png, src) != 0 || src.depth != 8) return out;
    auto mirror = [](int v, int n) {
      const int period = 2 * n;
      v %= period;
      return v < n ? v : period - 1 - v;
    };
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        out[static_cast<std::size_t>(y) * kWidth + x] =
            src.pixels[static_cast<std::size_t>(mirror(y, src.height)) * src.width +
                       mirror(x, src.width)];
      }
    }
    return out;
  }();
  return px;
}

const std::string& transactionBytes() {
  static const std::string bytes = [] {
    test::TxBuilder b;
    b.type1();
    const std::string data(pixels().begin(), pixels().end());
    for (int i = 0; i < kRecords; ++i) {
      char idc[16];
      (void)std::snprintf(idc, sizeof idc, "%02d", i);
      b.tagged(14, {{2, idc},
                    {3, "1"},
                    {6, std::to_string(kWidth)},
                    {7, std::to_string(kHeight)},
                    {8, "1"},
                    {9, "500"},
                    {10, "500"},
                    {11, "NONE"},
                    {12, "8"},
                    {13, std::to_string(i % 10 + 1)},
                    {999, data}});
    }
    return b.bytes();
  }();
  return bytes;
}

void compressRecords(benchmark::State& state, bool toWsq) {
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<transaction::Transaction> tx;
    if (transaction::readTraditionalBytes(transactionBytes(), tx) != 0) {
      state.SkipWithError("transaction does not read");
      return;
    }
    transaction::NistFile file;
    file.adopt(std::move(tx));
    state.ResumeTiming();
    const int n = imaging::compressRecordsOfType(file, 14, 2.25f, toWsq);
    if (n != kRecords) state.SkipWithError("not every record was compressed");
    benchmark::DoNotOptimize(n);
  }
}

void BM_CompressRecordsToWsq(benchmark::State& state) { compressRecords(state, true); }
void BM_CompressRecordsToJp2l(benchmark::State& state) { compressRecords(state, false); }

void BM_BareWsqEncode(benchmark::State& state) {
  for (auto _ : state) {
    for (int i = 0; i < kRecords; ++i) {
      std::vector<std::uint8_t> out;
      if (wsq::wsqEncode(2.25f, pixels(), kWidth, kHeight, out) != 0) state.SkipWithError("wsq");
      benchmark::DoNotOptimize(out.data());
    }
  }
}

void BM_BareJp2LosslessEncode(benchmark::State& state) {
  for (auto _ : state) {
    for (int i = 0; i < kRecords; ++i) {
      std::vector<std::uint8_t> out;
      if (imaging::jp2LosslessEncode(pixels(), kWidth, kHeight, 8, out) != 0) {
        state.SkipWithError("jp2");
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
}

BENCHMARK(BM_CompressRecordsToWsq)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BareWsqEncode)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CompressRecordsToJp2l)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BareJp2LosslessEncode)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
