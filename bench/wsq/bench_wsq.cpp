// WSQ encode/decode throughput on real fingerprint images, beside lossless JPEG 2000 (OpenJPEG)
// of the same pixels, and the floor under both: the forward and inverse 9/7 filter bank alone on
// the same image, which every encode and decode must run once.
#include <benchmark/benchmark.h>
#include <openjpeg.h>
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/wsq/detail/transform.h"
#include "imaging/wsq/detail/tree.h"
#include "imaging/wsq/wsq.h"
#include "tests/common/grey_png.h"

namespace {

using varnel::test::Grey;
using varnel::test::readPng;

// 800x750: NIST cmp00008. 1600x1500: NIST sample_01 from the corpus, else cmp00008 doubled.
const Grey& image(int which) {
  static const Grey small = readPng(std::string(VARNEL_WSQ_DATA_DIR) + "/input/cmp00008.png");
  static const Grey large = [] {
    Grey g = readPng(std::string(VARNEL_CORPUS) + "/nist-wsq-reference/input/sample_01.png");
    if (g.width == 1600 && g.height == 1500) return g;
    g.width = small.width * 2;
    g.height = small.height * 2;
    g.pixels.resize(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height));
    for (int y = 0; y < g.height; ++y) {
      for (int x = 0; x < g.width; ++x) {
        g.pixels[static_cast<std::size_t>(y * g.width + x)] =
            small.pixels[static_cast<std::size_t>((y / 2) * small.width + x / 2)];
      }
    }
    return g;
  }();
  return which == 0 ? small : large;
}

void setCounters(benchmark::State& state, const Grey& g, std::size_t bytes) {
  const double pixels = static_cast<double>(g.width) * g.height;
  state.counters["MPix/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  if (bytes > 0) state.counters["bpp"] = static_cast<double>(bytes) * 8.0 / pixels;
}

void BM_WsqEncode(benchmark::State& state) {
  const Grey& g = image(static_cast<int>(state.range(0)));
  const float rate = static_cast<float>(state.range(1)) / 100.0F;
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    if (varnel::wsq::wsqEncode(rate, g.pixels, g.width, g.height, out) != 0) {
      state.SkipWithError("encode failed");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  setCounters(state, g, out.size());
}

void BM_WsqDecode(benchmark::State& state) {
  const Grey& g = image(static_cast<int>(state.range(0)));
  const float rate = static_cast<float>(state.range(1)) / 100.0F;
  std::vector<std::uint8_t> stream;
  if (varnel::wsq::wsqEncode(rate, g.pixels, g.width, g.height, stream) != 0) {
    state.SkipWithError("encode failed");
    return;
  }
  std::vector<std::uint8_t> px;
  int w = 0;
  int h = 0;
  int d = 0;
  int ppi = 0;
  int lossy = 0;
  for (auto _ : state) {
    if (varnel::wsq::wsqDecode(stream, px, w, h, d, ppi, lossy) != 0) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(px.data());
  }
  setCounters(state, g, stream.size());
}

// The image as the encoder hands it to the filter bank: grey levels around the mean (the
// encoder's scaling changes no timing).
std::vector<float> floatImage(const Grey& g) {
  double sum = 0.0;
  for (auto v : g.pixels) sum += v;
  const auto mean = static_cast<float>(sum / static_cast<double>(g.pixels.size()));
  std::vector<float> f(g.pixels.size());
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = (static_cast<float>(g.pixels[i]) - mean);
  return f;
}

// Forward transform alone: restoring the input between iterations is not timed.
void BM_WsqFloorForward(benchmark::State& state) {
  const Grey& g = image(static_cast<int>(state.range(0)));
  const std::vector<float> input = floatImage(g);
  std::vector<float> work(input.size());
  std::vector<float> scratch(input.size());
  varnel::wsq::detail::Trees trees;
  varnel::wsq::detail::buildTrees(g.width, g.height, trees);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data(), input.data(), input.size() * sizeof(float));
    state.ResumeTiming();
    if (varnel::wsq::detail::decompose(work.data(), g.width, trees,
                                       varnel::wsq::detail::standardFilters(),
                                       scratch.data()) != 0) {
      state.SkipWithError("decompose failed");
      return;
    }
    benchmark::DoNotOptimize(work.data());
  }
  setCounters(state, g, 0);
}

// Inverse transform alone, from the coefficients of the forward one.
void BM_WsqFloorInverse(benchmark::State& state) {
  const Grey& g = image(static_cast<int>(state.range(0)));
  std::vector<float> coef = floatImage(g);
  std::vector<float> work(coef.size());
  std::vector<float> scratch(coef.size());
  varnel::wsq::detail::Trees trees;
  varnel::wsq::detail::buildTrees(g.width, g.height, trees);
  const auto& bank = varnel::wsq::detail::standardFilters();
  if (varnel::wsq::detail::decompose(coef.data(), g.width, trees, bank, scratch.data()) != 0) {
    state.SkipWithError("decompose failed");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data(), coef.data(), coef.size() * sizeof(float));
    state.ResumeTiming();
    if (varnel::wsq::detail::reconstruct(work.data(), g.width, trees, bank, scratch.data()) != 0) {
      state.SkipWithError("reconstruct failed");
      return;
    }
    benchmark::DoNotOptimize(work.data());
  }
  setCounters(state, g, 0);
}

// In-memory OpenJPEG streams.
struct MemStream {
  std::vector<std::uint8_t> data;
  std::size_t pos = 0;
};

OPJ_SIZE_T memRead(void* buf, OPJ_SIZE_T n, void* user) {
  auto* m = static_cast<MemStream*>(user);
  if (m->pos >= m->data.size()) return static_cast<OPJ_SIZE_T>(-1);
  const std::size_t k = std::min<std::size_t>(n, m->data.size() - m->pos);
  std::memcpy(buf, m->data.data() + m->pos, k);
  m->pos += k;
  return k;
}
OPJ_SIZE_T memWrite(void* buf, OPJ_SIZE_T n, void* user) {
  auto* m = static_cast<MemStream*>(user);
  if (m->pos + n > m->data.size()) m->data.resize(m->pos + n);
  std::memcpy(m->data.data() + m->pos, buf, n);
  m->pos += n;
  return n;
}
OPJ_OFF_T memSkip(OPJ_OFF_T n, void* user) {
  auto* m = static_cast<MemStream*>(user);
  m->pos = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(m->pos) + n);
  return n;
}
OPJ_BOOL memSeek(OPJ_OFF_T n, void* user) {
  static_cast<MemStream*>(user)->pos = static_cast<std::size_t>(n);
  return OPJ_TRUE;
}

opj_stream_t* makeStream(MemStream& m, bool input) {
  opj_stream_t* s = opj_stream_create(1 << 16, input ? OPJ_TRUE : OPJ_FALSE);
  opj_stream_set_user_data(s, &m, nullptr);
  opj_stream_set_user_data_length(s, m.data.size());
  opj_stream_set_read_function(s, memRead);
  opj_stream_set_write_function(s, memWrite);
  opj_stream_set_skip_function(s, memSkip);
  opj_stream_set_seek_function(s, memSeek);
  return s;
}

bool jp2Encode(const Grey& g, std::vector<std::uint8_t>& out) {
  opj_image_cmptparm_t cp{};
  cp.dx = cp.dy = 1;
  cp.w = static_cast<OPJ_UINT32>(g.width);
  cp.h = static_cast<OPJ_UINT32>(g.height);
  cp.prec = 8;
  cp.sgnd = 0;
  opj_image_t* img = opj_image_create(1, &cp, OPJ_CLRSPC_GRAY);
  img->x1 = cp.w;
  img->y1 = cp.h;
  for (std::size_t i = 0; i < g.pixels.size(); ++i) img->comps[0].data[i] = g.pixels[i];
  opj_cparameters_t p;
  opj_set_default_encoder_parameters(&p);
  p.tcp_numlayers = 1;
  p.tcp_rates[0] = 0;  // lossless
  p.irreversible = 0;
  p.cp_disto_alloc = 1;
  opj_codec_t* c = opj_create_compress(OPJ_CODEC_JP2);
  MemStream m;
  bool ok = opj_setup_encoder(c, &p, img) != 0;
  opj_stream_t* s = makeStream(m, false);
  ok = ok && opj_start_compress(c, img, s) && opj_encode(c, s) && opj_end_compress(c, s);
  opj_stream_destroy(s);
  opj_destroy_codec(c);
  opj_image_destroy(img);
  m.data.resize(m.pos);
  out.swap(m.data);
  return ok;
}

bool jp2Decode(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& px) {
  MemStream m;
  m.data = in;
  opj_dparameters_t p;
  opj_set_default_decoder_parameters(&p);
  opj_codec_t* c = opj_create_decompress(OPJ_CODEC_JP2);
  opj_stream_t* s = makeStream(m, true);
  opj_image_t* img = nullptr;
  bool ok = opj_setup_decoder(c, &p) && opj_read_header(s, c, &img) && opj_decode(c, s, img) &&
            opj_end_decompress(c, s);
  if (ok) {
    const std::size_t n = static_cast<std::size_t>(img->comps[0].w) * img->comps[0].h;
    px.resize(n);
    for (std::size_t i = 0; i < n; ++i) px[i] = static_cast<std::uint8_t>(img->comps[0].data[i]);
  }
  if (img != nullptr) opj_image_destroy(img);
  opj_stream_destroy(s);
  opj_destroy_codec(c);
  return ok;
}

void BM_Jp2LosslessEncode(benchmark::State& state) {
  const Grey& g = image(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    if (!jp2Encode(g, out)) {
      state.SkipWithError("OpenJPEG encode failed");
      return;
    }
  }
  setCounters(state, g, out.size());
}

void BM_Jp2LosslessDecode(benchmark::State& state) {
  const Grey& g = image(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> stream;
  if (!jp2Encode(g, stream)) {
    state.SkipWithError("OpenJPEG encode failed");
    return;
  }
  std::vector<std::uint8_t> px;
  for (auto _ : state) {
    if (!jp2Decode(stream, px)) {
      state.SkipWithError("OpenJPEG decode failed");
      return;
    }
  }
  setCounters(state, g, stream.size());
}

// Arguments: image (0: 800x750, 1: 1600x1500), bit rate x 100.
BENCHMARK(BM_WsqEncode)
    ->Args({0, 225})
    ->Args({0, 75})
    ->Args({1, 225})
    ->Args({1, 75})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WsqDecode)
    ->Args({0, 225})
    ->Args({0, 75})
    ->Args({1, 225})
    ->Args({1, 75})
    ->Unit(benchmark::kMillisecond);
// Argument: image (0: 800x750, 1: 1600x1500).
BENCHMARK(BM_WsqFloorForward)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WsqFloorInverse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jp2LosslessEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jp2LosslessDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
