// Reads arbitrary bytes as a transaction and validates it against the base profile, then reads
// the same bytes as profile text and, when it is accepted, validates against that profile too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rules/conformance/profile.h"
#include "rules/conformance/validator.h"
#include "transaction/nist_file.h"
#include "transaction/traditional.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  transaction::NistFile file;
  std::unique_ptr<transaction::Transaction> tx;
  const bool loaded = transaction::readTraditionalBytes(bytes, tx) == 0;
  if (loaded) file.adopt(std::move(tx));
  std::vector<rules::conformance::Finding> findings;
  const auto& base = rules::conformance::Profile::base();
  if (loaded && rules::conformance::validateTransaction(file, base, findings) != 0) std::abort();
  rules::conformance::Profile profile = base;
  std::string error;
  const int rc = profile.apply(bytes, error);
  if (rc != 0 && error.empty()) std::abort();  // a refused profile always says why
  if (rc == 0 && loaded) {
    findings.clear();
    if (rules::conformance::validateTransaction(file, profile, findings) != 0) std::abort();
  }
  return 0;
}
