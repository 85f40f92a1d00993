// Fuzz target: record image decoding. The first byte picks the record kind (tagged Type 14 or
// binary Type 4), the next four give the width and height fields, the rest is the image data.
#include <cstdint>
#include <span>
#include <string>

#include "imaging/image_layer.h"
#include "transaction/nist_file.h"

using namespace varnel;

namespace {

void exercise(const transaction::NistFile& file, int type) {
  imaging::RawImage img;
  (void)imaging::decodeRecordImage(file, type, 0, false, img);
  (void)imaging::decodeRecordImage(file, type, 0, true, img);
  int w = 0, h = 0, d = 0;
  (void)imaging::getImageInfo(file, type, 0, w, h, d);
  (void)imaging::detectImageFormat(file, type, 0);
  (void)imaging::compressionFromField(file, type, 0);
  (void)imaging::describeRecordImage(file, type, 0);
  imaging::Bitmap bmp;
  (void)imaging::recordImageToBitmap(file, type, 0, bmp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const bool binary = (data[0] & 1) != 0;
  const int width = (data[1] << 8) | data[2];
  const int height = (data[3] << 8) | data[4];
  const std::span<const std::uint8_t> image(data + 5, size - 5);
  transaction::NistFile file;
  file.createEmpty();
  if (file.setField(1, 2, "0400") < 0) return 0;
  if (binary) {
    const std::uint8_t fgp[6] = {1, 255, 255, 255, 255, 255};
    if (file.appendBinaryImageRecord(4, nullptr, 1, 0, fgp, 0, width, height, 0, image) < 0) {
      return 0;
    }
    exercise(file, 4);
    return 0;
  }
  if (file.appendTaggedRecord(14) < 0) return 0;
  (void)file.setFieldAt(14, 6, std::to_string(width), 0);
  (void)file.setFieldAt(14, 7, std::to_string(height), 0);
  (void)file.setFieldAt(14, 11, "NONE", 0);
  if (file.replaceImageData(14, 0, image) < 0) return 0;
  exercise(file, 14);
  return 0;
}
