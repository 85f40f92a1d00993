// Decodes arbitrary bytes as a WSQ stream; the header reader must agree with the decoder.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "imaging/wsq/wsq.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> s(data, size);
  // Frame headers may declare up to 65535 x 65535 pixels; decoding those is correct but far too
  // slow for fuzzing, so inputs declaring more than 65536 pixels are skipped.
  varnel::wsq::WsqInfo head;
  if (varnel::wsq::wsqReadInfo(s, head) == 0 &&
      static_cast<long long>(head.width) * head.height > (1LL << 16)) {
    return 0;
  }
  std::vector<std::uint8_t> pixels;
  int w = 0;
  int h = 0;
  int depth = 0;
  int ppi = 0;
  int lossy = 0;
  const int rc = varnel::wsq::wsqDecode(s, pixels, w, h, depth, ppi, lossy);
  if (rc == 0) {
    if (pixels.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) std::abort();
    varnel::wsq::WsqInfo info;
    if (varnel::wsq::wsqReadInfo(s, info) != 0 || info.width != w || info.height != h) std::abort();
  }
  return 0;
}
