// Reads arbitrary bytes as a transaction and converts the feature sets of its Type-9 records
// from each source format, then deletes every vendor block, so the block parsers, the image
// search and the INCITS 378 writer all see fuzzed records.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rules/feature_actions.h"
#include "transaction/nist_file.h"
#include "transaction/traditional.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const std::string_view from : {"FBI IAFIS", "Extended", "Legacy"}) {
    std::unique_ptr<transaction::Transaction> tx;
    if (transaction::readTraditionalBytes(bytes, tx) != 0) return 0;
    transaction::NistFile file;
    file.adopt(std::move(tx));
    std::vector<std::string> warnings;
    std::vector<rules::FeatureConversion> done;
    (void)rules::convertFeatureSet(file, from, warnings, &done);
    for (const std::string_view name :
         {"FBI IAFIS", "Extended", "Legacy", "Cogent", "NEC", "Morpho", "Motorola", "Identix"}) {
      (void)rules::deleteFeatureSet(file, name);
    }
  }
  return 0;
}
