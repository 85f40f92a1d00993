// Validation against the base profile next to loading the same file, for corpus transactions
// of different kinds: many image records, many text fields, the XML encoding.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "rules/conformance/validator.h"
#include "transaction/nist_file.h"
#include "xml/xml_codec.h"

namespace {

using varnel::rules::conformance::Profile;

const char* const kFiles[] = {
    "nist-reference/type-14-tpcard-nqm.an2",                                      // 14 WSQ images
    "nist-biocts/AN2013/Traditional_Encoding/pass/pass-all-supported-types.an2",  // many types
    "libbiomeval/type9-efs.an2k",                                                 // minutiae text
    "nist-reference/type-15-palms.an2",                                           // JPEG 2000 palm
    "interpol/Sample-MPS-INT-ITransaction.xml",                                   // XML encoding
    "nist-reference/type-4-tpcard.an2",                              // binary WSQ records, conforms
    "nist-biocts/AN2011/Traditional_Encoding/pass/pass-type-1.an2",  // Type-1 only, conforms
};
constexpr int kFileCount = static_cast<int>(sizeof kFiles / sizeof kFiles[0]);

std::string path(int i) { return std::string(VARNEL_CORPUS_DIR) + "/" + kFiles[i]; }

const varnel::xml::XmlCodecImpl kXml;

void BM_Load(benchmark::State& state) {
  varnel::transaction::NistFile file(&kXml);
  const std::string p = path(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (file.load(p) != 0) state.SkipWithError("load failed");
  }
  state.SetLabel(kFiles[state.range(0)]);
}

// The check itself: findings are recorded, their texts are not made.
void BM_Validate(benchmark::State& state) {
  varnel::transaction::NistFile file(&kXml);
  if (file.load(path(static_cast<int>(state.range(0)))) != 0) {
    state.SkipWithError("load failed");
    return;
  }
  const Profile& base = Profile::base();  // built once, outside the timing
  varnel::rules::conformance::FindingList findings;
  for (auto _ : state) {
    findings.clear();
    if (varnel::rules::conformance::validateTransaction(file, base, findings) != 0) {
      state.SkipWithError("validation failed");
    }
    benchmark::DoNotOptimize(findings.size());
  }
  state.counters["findings"] = static_cast<double>(findings.size());
  state.SetLabel(kFiles[state.range(0)]);
}

// The check with every finding's texts made, as a listing or report needs them.
void BM_ValidateWithTexts(benchmark::State& state) {
  varnel::transaction::NistFile file(&kXml);
  if (file.load(path(static_cast<int>(state.range(0)))) != 0) {
    state.SkipWithError("load failed");
    return;
  }
  const Profile& base = Profile::base();
  std::vector<varnel::rules::conformance::Finding> findings;
  for (auto _ : state) {
    findings.clear();
    if (varnel::rules::conformance::validateTransaction(file, base, findings) != 0) {
      state.SkipWithError("validation failed");
    }
    benchmark::DoNotOptimize(findings.data());
  }
  state.counters["findings"] = static_cast<double>(findings.size());
  state.SetLabel(kFiles[state.range(0)]);
}

void BM_BuildBaseProfile(benchmark::State& state) {
  for (auto _ : state) {
    Profile p;
    std::string error;
    benchmark::DoNotOptimize(varnel::rules::conformance::loadProfile("base", p, error));
  }
}

BENCHMARK(BM_Load)->DenseRange(0, kFileCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Validate)->DenseRange(0, kFileCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ValidateWithTexts)->DenseRange(0, kFileCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildBaseProfile)->Unit(benchmark::kMicrosecond);

}  // namespace
