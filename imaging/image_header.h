#pragma once

#include <cstdint>
#include <span>

namespace varnel::imaging {

// Recognising an image stream and reading the size from its header, without decoding it.

/// Kind of image stream recognised from its first bytes.
enum class StreamKind {
  kUnknown,
  kWsq,            ///< FF A0
  kPng,            ///< PNG signature
  kJ2kCodestream,  ///< FF 4F FF 51
  kJp2File,        ///< JP2 signature box followed by a "jp2 " file-type box
  kJpeg,           ///< FF D8 FF
  kBmp,            ///< "BM"
};

/// Recognises the stream by its signature, in the order WSQ, PNG, JPEG 2000, JPEG, BMP.
[[nodiscard]] StreamKind sniffStream(std::span<const std::uint8_t> data) noexcept;

/// Width, height and depth (bit depth x channels) from a PNG header. 0 or -303.
[[nodiscard]] int pngReadHeader(std::span<const std::uint8_t> data, int& width, int& height,
                                int& depth) noexcept;

/// Header of a JPEG 2000 codestream or JP2 file: width and height of the first component
/// reduced by its resolution factor, depth 8 (one component) or 24 (three), and whether the
/// default coding style uses the reversible wavelet. 0 or -303.
[[nodiscard]] int jp2ReadHeader(std::span<const std::uint8_t> data, int& width, int& height,
                                int& depth, bool& reversible) noexcept;

/// Walks the JPEG marker segments from offset 2 to the first SOF0, SOF2 or SOF3 frame header.
/// Returns 0 with the frame's marker (0xC0, 0xC2, 0xC3), width, height and component count, or
/// -303 when there is none.
[[nodiscard]] int jpegFindFrame(std::span<const std::uint8_t> data, int& marker, int& width,
                                int& height, int& components) noexcept;

/// Height and width from the first WSQ frame header (other segments skipped by their length).
/// 0 or -303.
[[nodiscard]] int wsqReadFrame(std::span<const std::uint8_t> data, int& width,
                               int& height) noexcept;

/// Width, height (absolute) and bit count from a BMP header. 0 or -303.
[[nodiscard]] int bmpReadHeader(std::span<const std::uint8_t> data, int& width, int& height,
                                int& bitCount) noexcept;

}  // namespace varnel::imaging
