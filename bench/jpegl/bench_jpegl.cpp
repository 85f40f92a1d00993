// Decoding speed of lossless JPEG for an 800x750 8-bit fingerprint-sized image.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/jpegl/jpegl.h"
#include "tests/jpegl/stream_builder.h"

namespace {

using varnel::jpegl::testing::encodeLossless;
using varnel::jpegl::testing::PlaneSpec;

constexpr int kWidth = 800;
constexpr int kHeight = 750;

// An 800x750 picture tiled from the NIST iris image (mirrored at the seams), so the
// differences have the statistics of a real capture; noise-based when the file is missing.
std::vector<std::uint8_t> picture() {
  varnel::jpegl::JpeglDecoded iris;
  const auto stream = varnel::jpegl::testing::readFile(
      std::string(VARNEL_JPEGL_DATA_DIR) + "/type-10-14-17-piv-index-iris_type14_idc04.jpg");
  if (varnel::jpegl::jpeglDecode(stream, iris) != 0) {
    return varnel::jpegl::testing::testPicture(kWidth, kHeight, 1);
  }
  const auto& src = iris.components[0];
  std::vector<std::uint8_t> px(static_cast<std::size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    const int ty = (y / src.height) % 2 == 0 ? y % src.height : src.height - 1 - y % src.height;
    for (int x = 0; x < kWidth; ++x) {
      const int tx = (x / src.width) % 2 == 0 ? x % src.width : src.width - 1 - x % src.width;
      px[static_cast<std::size_t>(y) * kWidth + x] =
          src.plane[static_cast<std::size_t>(ty) * src.width + tx];
    }
  }
  return px;
}

void BM_JpeglDecode800x750(benchmark::State& state) {
  PlaneSpec p;
  p.width = kWidth;
  p.height = kHeight;
  p.samples = picture();
  p.predictor = static_cast<int>(state.range(0));
  const auto stream = encodeLossless({p});
  for (auto _ : state) {
    varnel::jpegl::JpeglDecoded img;
    benchmark::DoNotOptimize(varnel::jpegl::jpeglDecode(stream, img));
    benchmark::DoNotOptimize(img.components.data());
  }
  const double pixels = static_cast<double>(kWidth) * kHeight;
  state.counters["MPix/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = static_cast<double>(stream.size());
}
BENCHMARK(BM_JpeglDecode800x750)->Arg(1)->Arg(4)->Arg(6)->Arg(7)->Unit(benchmark::kMillisecond);

}  // namespace
