// Load + save throughput of the traditional encoding against plain read()/write() of the same
// bytes, for an image-heavy and a text-heavy transaction.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "transaction/nist_file.h"
#include "transaction/traditional.h"

using namespace varnel::transaction;

namespace {

std::string dir() {
  const char* d = std::getenv("TMPDIR");
  return d != nullptr ? d : "/tmp";
}

// Type-1, Type-2 and fourteen Type-14 records of about 600 KB of image data each.
std::string buildImageHeavy() {
  NistFile nf;
  (void)nf.createDefault();
  (void)nf.setField(1, 4, "TEST");
  (void)nf.setField(2, 18, "NAME");
  std::mt19937 rng(7);  // NOLINT(cert-msc32-c,cert-msc51-cpp): the same bytes in every run
  for (int i = 0; i < 14; ++i) {
    (void)nf.appendTaggedRecord(14);
    (void)nf.setFieldAt(14, 6, "800", i);
    (void)nf.setFieldAt(14, 7, "750", i);
    std::vector<std::uint8_t> img(600000);
    for (auto& b : img) b = static_cast<std::uint8_t>(rng());
    (void)nf.replaceImageData(14, i, img);
  }
  std::string path = dir() + "/varnel_bench_image.an2";
  (void)nf.saveTraditional(path);
  return path;
}

// A Type-2 record with 5,000 fields and a Type-9 record with 2,000 minutiae of 4 items.
std::string buildTextHeavy() {
  NistFile nf;
  (void)nf.createDefault();
  for (int f = 3; f < 5003; ++f) (void)nf.setField(2, f, "VALUE" + std::to_string(f));
  std::string minutiae;
  for (int m = 0; m < 2000; ++m) {
    if (m > 0) minutiae += '\x1E';
    minutiae += std::to_string(m) +
                "\x1F"
                "01230456"
                "\x1F"
                "123"
                "\x1F"
                "A";
  }
  (void)nf.setFieldAt(9, 12, minutiae, 0);
  std::string path = dir() + "/varnel_bench_text.an2";
  (void)nf.saveTraditional(path);
  return path;
}

void loadSave(benchmark::State& state, const std::string& path) {
  const std::string out = path + ".out";
  std::int64_t bytes = 0;
  for (auto _ : state) {
    NistFile nf;
    if (nf.load(path) != kOk || nf.saveTraditional(out) != kOk)
      state.SkipWithError("load/save failed");
    bytes += nf.transaction()->byteTotal;
  }
  state.SetBytesProcessed(bytes);
  (void)std::remove(out.c_str());
}

void plainCopy(benchmark::State& state, const std::string& path) {
  const std::string out = path + ".copy";
  std::int64_t bytes = 0;
  for (auto _ : state) {
    const int in = open(path.c_str(), O_RDONLY);
    const off_t size = lseek(in, 0, SEEK_END);
    lseek(in, 0, SEEK_SET);
    std::string buf(static_cast<std::size_t>(size), '\0');
    benchmark::DoNotOptimize(read(in, buf.data(), buf.size()));
    close(in);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    benchmark::DoNotOptimize(write(o, buf.data(), buf.size()));
    close(o);
    bytes += size;
  }
  state.SetBytesProcessed(bytes);
  (void)std::remove(out.c_str());
}

void BM_ImageHeavy_LoadSave(benchmark::State& s) {
  static const auto p = buildImageHeavy();
  loadSave(s, p);
}
void BM_ImageHeavy_PlainReadWrite(benchmark::State& s) {
  static const auto p = buildImageHeavy();
  plainCopy(s, p);
}
void BM_TextHeavy_LoadSave(benchmark::State& s) {
  static const auto p = buildTextHeavy();
  loadSave(s, p);
}
void BM_TextHeavy_PlainReadWrite(benchmark::State& s) {
  static const auto p = buildTextHeavy();
  plainCopy(s, p);
}

// Peak resident memory of one load of the image-heavy file, against the file's size.
void BM_ImageHeavy_LoadPeakMemory(benchmark::State& state) {
  static const auto p = buildImageHeavy();
  for (auto _ : state) {
    NistFile nf;
    benchmark::DoNotOptimize(nf.load(p));
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["maxrss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
    state.counters["file_MB"] = static_cast<double>(nf.transaction()->byteTotal) / 1048576.0;
  }
}

}  // namespace

// Peak memory first, before any other benchmark has grown the heap.
BENCHMARK(BM_ImageHeavy_LoadPeakMemory)->Iterations(1);
BENCHMARK(BM_ImageHeavy_LoadSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageHeavy_PlainReadWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextHeavy_LoadSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextHeavy_PlainReadWrite)->Unit(benchmark::kMillisecond);
