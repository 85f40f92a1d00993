// One tenprint card per iteration: ten rolled and four plain WSQ fingerprints decoded, drawn on
// the 600 dpi card with the descriptive text, and the card written as TIFF.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "imaging/tenprint_card.h"
#include "tests/common/tx_builder.h"
#include "transaction/nist_file.h"
#include "transaction/traditional.h"

namespace {

using varnel::test::TxBuilder;

TxBuilder::Fields finger(int idc, int imp, int fgp, const std::string& wsq) {
  char idcText[8];
  (void)std::snprintf(idcText, sizeof idcText, "%02d", idc);
  return {{2, idcText}, {3, std::to_string(imp)},
          {4, "SRC"},   {5, "20240413"},
          {6, "320"},   {7, "480"},
          {8, "1"},     {9, "500"},
          {10, "500"},  {11, "WSQ20"},
          {12, "8"},    {13, std::to_string(fgp)},
          {999, wsq}};
}

bool loadCardTransaction(varnel::transaction::NistFile& file) {
  const std::string wsq = varnel::test::readFile(std::string(VARNEL_TEST_DATA) +
                                                 "/exports/Fingerprint_LeftPointer.wsq");
  if (wsq.empty()) return false;
  TxBuilder b;
  b.type1({{5, "20240413"}, {8, "WVMEDS001"}, {9, "TCN0001"}});
  b.tagged(2, {{2, "00"}, {18, "DOE, JOHN"}, {22, "19700101"}, {24, "M"}, {37, "APPLICANT"}});
  int idc = 1;
  for (int n = 1; n <= 10; ++n) b.tagged(14, finger(idc++, 1, n, wsq));
  for (int n : {11, 12, 13, 14}) b.tagged(14, finger(idc++, 0, n, wsq));
  std::unique_ptr<varnel::transaction::Transaction> tx;
  if (varnel::transaction::readTraditionalBytes(b.bytes(), tx) != 0) return false;
  file.adopt(std::move(tx));
  return true;
}

void BM_TenprintCard(benchmark::State& state) {
  varnel::transaction::NistFile file;
  if (!loadCardTransaction(file)) {
    state.SkipWithError("test data missing");
    return;
  }
  const char* tmp = std::getenv("TMPDIR");
  const std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/varnel_bench_card.tif";
  for (auto _ : state) {
    varnel::imaging::Surface surface;
    if (varnel::imaging::Surface::create(varnel::imaging::kCardWidthPx,
                                         varnel::imaging::kCardHeightPx,
                                         varnel::imaging::kCardPixelsPerMetre, surface) != 0 ||
        varnel::imaging::renderTenprintCard(file, surface, path) != 0) {
      state.SkipWithError("card not written");
      break;
    }
  }
  (void)std::remove(path.c_str());
}
BENCHMARK(BM_TenprintCard)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
