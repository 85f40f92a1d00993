#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace varnel::imaging {

/// Compression of a record image. Tagged records store the name, binary records the digit.
enum class ImageCompression : int {
  kNone = 0,   ///< "NONE": raw pixels (or a BMP container)
  kWsq = 1,    ///< "WSQ20"
  kJpegB = 2,  ///< "JPEGB": baseline or progressive JPEG
  kJpegL = 3,  ///< "JPEGL": lossless JPEG
  kJp2 = 4,    ///< "JP2": JPEG 2000, irreversible wavelet
  kJp2L = 5,   ///< "JP2L": JPEG 2000, reversible 5/3 wavelet
  kPng = 6,    ///< "PNG"
};

/// Name written to field 11 of tagged image records for `code` (0-6); empty for other codes.
[[nodiscard]] std::string_view compressionName(int code) noexcept;

/// Code of a rule parameter's format name: "WSQ" 1, "JP2 Lossless" 5, "PNG" 6, anything else 0.
[[nodiscard]] int imageFormatFromName(std::string_view name) noexcept;

/// Decoded pixels owned by the caller. Rows run top to bottom. Depth 8: one grey byte per pixel.
/// Depth 24: red, green, blue (blue, green, red when decoded for a bitmap). Depth 1: packed, most
/// significant bit first, 1 = black. Rows are tightly packed, except that rows decoded for a
/// bitmap are padded to an even number of bytes, and 1-bit rows are always ceil(width / 8) bytes
/// padded to an even number of bytes (see rowBytes).
struct RawImage {
  std::vector<std::uint8_t> pixels;
  int width = 0;
  int height = 0;
  int depth = 0;  ///< 1, 8 or 24
  /// Resolution found in the image stream itself (JFIF density, WSQ comment); -1 when none.
  int ppi = -1;
};

/// Bytes per row of a RawImage of the given width and depth (1, 8 or 24); `forBitmap` pads
/// 8- and 24-bit rows to an even number of bytes. 0 for an unknown depth or a negative width.
[[nodiscard]] std::size_t rawRowBytes(int width, int depth, bool forBitmap) noexcept;

}  // namespace varnel::imaging
