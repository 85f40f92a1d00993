// Feeds arbitrary bytes to the lossless JPEG decoder and, when it succeeds, to the plane joiner.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/jpegl/jpegl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnel::jpegl::JpeglDecoded image;
  if (varnel::jpegl::jpeglDecode(std::span<const std::uint8_t>(data, size), image) == 0) {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    int depth = 0;
    int ppi = 0;
    (void)varnel::jpegl::jpeglImage(image, pixels, width, height, depth, ppi);
  }
  return 0;
}
