// Looks up the resolution of arbitrary bytes taken as a WSQ stream.
#include <cstdint>
#include <span>

#include "imaging/wsq/wsq.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int ppi = 0;
  (void)varnel::wsq::wsqReadPpi(std::span<const std::uint8_t>(data, size), ppi);
  return 0;
}
