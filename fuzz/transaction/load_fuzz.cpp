// Loads arbitrary bytes as a transaction file; when they load, writes them back, reads the result
// again and applies a few edits, so the reader, writer and editing code all see fuzzed trees.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "transaction/nist_file.h"
#include "transaction/traditional.h"

namespace {
std::string scratchPath() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/varnel_fuzz_load_" +
         std::to_string(getpid());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel::transaction;
  static const std::string path = scratchPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  if (size > 0) (void)std::fwrite(data, 1, size, f);
  (void)std::fclose(f);
  // The file goes when the input is done, so that no run leaves it behind.
  struct Remover {
    const std::string& path;
    ~Remover() { (void)std::remove(path.c_str()); }
  } const remover{path};

  NistFile nf;
  if (nf.load(path) != kOk) return 0;
  std::string bytes;
  if (writeTraditionalBytes(*nf.transaction(), bytes) != kOk) return 0;
  std::unique_ptr<Transaction> again;
  if (readTraditionalBytes(bytes, again) != kOk) std::abort();  // what we write must read back
  (void)nf.setFieldAt(2, 18,
                      "A\x1F"
                      "B\x1E"
                      "C",
                      0);
  (void)nf.setItem(2, 18, 0, 1, 1, "D");
  (void)nf.deleteRecord(nf.recordTypeAt(nf.countRecords(2) > 0 ? 2 : 1), 0);
  (void)nf.deleteFieldAt(1, 8, 0);
  (void)nf.deleteFeatureBlock(4, 0);
  (void)nf.appendTaggedRecord(14);
  if (writeTraditionalBytes(*nf.transaction(), bytes) == kOk) {
    if (readTraditionalBytes(bytes, again) != kOk) std::abort();
  }
  return 0;
}
