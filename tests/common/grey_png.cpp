#include "tests/common/grey_png.h"

#include <png.h>

#include <utility>

namespace varnel::test {

Grey readPng(const std::string& path) {
  Grey g;
  png_image im{};
  im.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&im, path.c_str()) == 0) return g;
  im.format = PNG_FORMAT_GRAY;
  std::vector<std::uint8_t> px(PNG_IMAGE_SIZE(im));
  if (png_image_finish_read(&im, nullptr, px.data(), 0, nullptr) == 0) {
    png_image_free(&im);
    return g;
  }
  g.width = static_cast<int>(im.width);
  g.height = static_cast<int>(im.height);
  g.pixels = std::move(px);
  return g;
}

}  // namespace varnel::test
