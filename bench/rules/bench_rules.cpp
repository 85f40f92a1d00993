// Speed of the rule engine: placeholder expansion, and the whole work on one ~50 KB file (load,
// ten field rules, save) as the batch run does it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "rules/engine.h"
#include "rules/run.h"
#include "samples/tx_builder.h"
#include "transaction/traditional.h"

namespace {

using varnel::samples::TxBuilder;

std::string sampleBytes() {
  TxBuilder b;
  b.type2(20, {{18, "DOE,JOHN"},
               {33, std::string("A\x1E"
                                "B\x1E"
                                "C")}});
  b.type9(2, 12);
  b.type14(2, 220, 220, TxBuilder::greyImage(220, 220));
  return b.bytes();
}

varnel::rules::RuleSet tenRules() {
  varnel::rules::RuleSet set;
  (void)varnel::rules::parseRuleText(
      "Add Field|2.050|%FILENAME%|||\n"
      "Add Field If Missing|2.051|X|||\n"
      "Copy Field|2.018|2.052|||\n"
      "Replace Strings|2.052|,|;|\n"
      "String Left|2.052|5|||\n"
      "Remove Invalid Characters|2.005|AEIOU|||\n"
      "Add Field|14.020|%FGP%-%IMP%|||\n"
      "Delete Field|2.006|||||\n"
      "Move Field|2.007|2.053|||\n"
      "Output to CSV|TCN|%TCN%|||\n",
      set);
  return set;
}

void BM_ExpandTemplate(benchmark::State& state) {
  std::unique_ptr<varnel::transaction::Transaction> tx;
  (void)varnel::transaction::readTraditionalBytes(sampleBytes(), tx);
  varnel::transaction::NistFile file;
  file.adopt(std::move(tx));
  varnel::rules::FileState fs;
  fs.baseName = "sample";
  varnel::rules::RunInputs run;
  const varnel::rules::ExpandInputs in{file, fs, run};
  for (auto _ : state) {
    benchmark::DoNotOptimize(varnel::rules::expandPlaceholders(
        "%FILENAME%_%TCN%_%2.018%_%2.033[;]%_%14.013%_%IMP%", {14, 0}, in));
  }
}
BENCHMARK(BM_ExpandTemplate);

void BM_ConvertOneFile(benchmark::State& state, bool withRules) {
  char tmpl[] = "/tmp/varnel-bench-XXXXXX";
  const std::string root = ::mkdtemp(tmpl);
  std::filesystem::create_directories(root + "/src");
  std::filesystem::create_directories(root + "/dst");
  {
    std::ofstream f(root + "/src/one.nst", std::ios::binary);
    const std::string bytes = sampleBytes();
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  varnel::rules::RunInputs in;
  in.sourceFolder = root + "/src/";
  in.destFolder = root + "/dst/";
  if (withRules) in.rules = tenRules();
  varnel::transaction::NistFile file;
  for (auto _ : state) {
    benchmark::DoNotOptimize(varnel::rules::convertFile(in, "one.nst", true, file));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(
                                                   in.sourceFolder + "one.nst")));
  std::filesystem::remove_all(root);
}
BENCHMARK_CAPTURE(BM_ConvertOneFile, no_rules, false);
BENCHMARK_CAPTURE(BM_ConvertOneFile, ten_field_rules, true);

}  // namespace
