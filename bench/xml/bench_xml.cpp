// Speed of the XML encoding on an image-heavy transaction (Type-1, Type-2 and fourteen Type-14
// records of about 600 KB image data each), next to the traditional encoding of the same
// transaction, and of the base64 codec on its own.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "transaction/base64.h"
#include "transaction/nist_file.h"
#include "xml/xml_codec.h"

namespace {

using varnel::transaction::NistFile;

constexpr std::size_t kImageBytes = std::size_t{600} * 1024;
constexpr int kImageRecords = 14;

std::vector<std::uint8_t> randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

std::string benchPath(const char* name);

// Starts from the Type-1 record that load prepares for an XML file (LEN, VER, CNT and the rest).
void buildTransaction(NistFile& f) {
  static const varnel::xml::XmlCodecImpl codec;
  const std::string seedPath = benchPath("seed.xml");
  if (FILE* out = std::fopen(seedPath.c_str(), "wb")) {
    (void)std::fputs("<itl:NISTBiometricInformationExchangePackage/>", out);
    (void)std::fclose(out);
  }
  f.setXmlCodec(&codec);
  (void)f.load(seedPath);
  (void)f.setField(1, 2, "0501");
  (void)f.setField(1, 4, "CAR");
  (void)f.setField(1, 5, "20240413");
  (void)f.setField(1, 7, "DEST");
  (void)f.setField(1, 8, "ORIG");
  (void)f.setField(1, 9, "TCN-1");
  (void)f.setField(1, 11, "19.69");
  (void)f.setField(1, 12, "19.69");
  (void)f.setField(2, 3, "descriptive text");
  for (int i = 0; i < kImageRecords; ++i) {
    const std::string idc = std::to_string(i + 1);
    const std::string_view idcView = idc;
    (void)f.appendTaggedRecord(14, &idcView);
    (void)f.setFieldAt(14, 3, "0", i);
    (void)f.setFieldAt(14, 6, "804", i);
    (void)f.setFieldAt(14, 7, "752", i);
    (void)f.setFieldAt(14, 11, "WSQ20", i);
    (void)f.setFieldAt(14, 13, std::to_string(i % 10 + 1), i);
    (void)f.replaceImageData(14, i, randomBytes(kImageBytes, static_cast<unsigned>(i)));
  }
}

std::filesystem::path benchDir() {
  return std::filesystem::temp_directory_path() /
         ("varnel_bench_xml_" + std::to_string(::getpid()));
}

// Removes the benchmark's files when the program ends.
struct BenchDirCleaner {
  ~BenchDirCleaner() {
    std::error_code ec;
    std::filesystem::remove_all(benchDir(), ec);
  }
} const kCleaner;

std::string benchPath(const char* name) {
  const auto dir = benchDir();
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

std::int64_t imageBytes() { return static_cast<std::int64_t>(kImageBytes) * kImageRecords; }

void BM_Base64Encode(benchmark::State& state) {
  const auto data = randomBytes(8 << 20, 1);
  std::string out;
  for (auto _ : state) {
    varnel::transaction::encodeBase64(data, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond);

void BM_Base64Decode(benchmark::State& state) {
  const auto data = randomBytes(8 << 20, 2);
  std::string text;
  varnel::transaction::encodeBase64(data, text);
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    varnel::transaction::decodeBase64(text, out);
    benchmark::DoNotOptimize(out.data());
  }
  // Measured as decoded bytes, the same unit as the encoder.
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond);

void BM_SaveTraditional(benchmark::State& state) {
  NistFile f;
  buildTransaction(f);
  const std::string path = benchPath("save.nist");
  for (auto _ : state) {
    if (f.saveTraditional(path) != 0) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(state.iterations() * imageBytes());
}
BENCHMARK(BM_SaveTraditional)->Unit(benchmark::kMillisecond);

void BM_SaveXml(benchmark::State& state) {
  varnel::xml::XmlCodecImpl codec;
  NistFile f(&codec);
  buildTransaction(f);
  const std::string path = benchPath("save.xml");
  for (auto _ : state) {
    if (f.saveXml(path) != 0) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(state.iterations() * imageBytes());
}
BENCHMARK(BM_SaveXml)->Unit(benchmark::kMillisecond);

void BM_LoadTraditional(benchmark::State& state) {
  NistFile f;
  buildTransaction(f);
  const std::string path = benchPath("load.nist");
  if (f.saveTraditional(path) != 0) state.SkipWithError("save failed");
  NistFile in;
  for (auto _ : state) {
    if (in.load(path) != 0) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(state.iterations() * imageBytes());
}
BENCHMARK(BM_LoadTraditional)->Unit(benchmark::kMillisecond);

void BM_LoadXml(benchmark::State& state) {
  varnel::xml::XmlCodecImpl codec;
  NistFile f(&codec);
  buildTransaction(f);
  const std::string path = benchPath("load.xml");
  if (f.saveXml(path) != 0) state.SkipWithError("save failed");
  NistFile in(&codec);
  for (auto _ : state) {
    if (in.load(path) != 0 || in.countRecords(14) != kImageRecords) {
      state.SkipWithError("load failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * imageBytes());
}
BENCHMARK(BM_LoadXml)->Unit(benchmark::kMillisecond);

}  // namespace
