#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace varnel::imaging {

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

// Statuses are named in imaging/status.h. Where `why` is given, a failure also stores its
// reason there: the codec library's own message (libpng, libjpeg, OpenJPEG) or the check that
// refused the data; `why` is untouched on success.

/// Recognises the stream by its signature, in the order WSQ, PNG, JPEG 2000, JPEG, BMP.
[[nodiscard]] StreamKind sniffStream(std::span<const std::uint8_t> data) noexcept;

/// Encodes 1-, 8- or 24-bit pixels (RawImage layout, RGB order, not for a bitmap) as PNG: grey or
/// RGB at bit depth 8; 1-bit as a two-entry palette (white, black). Returns kOk with the stream
/// in `out`; kEncodeFailed when the image is inconsistent or libpng fails; kAllocFailed when
/// memory runs out.
[[nodiscard]] int pngEncode(const RawImage& image, std::vector<std::uint8_t>& out,
                            std::string* why = nullptr) noexcept;

/// Width, height and depth (bit depth x channels) from a PNG header. kOk or kUndecodable.
[[nodiscard]] int pngReadHeader(std::span<const std::uint8_t> data, int& width, int& height,
                                int& depth) noexcept;

/// Decodes PNG at bit depth 1 or 8 into a tightly packed RawImage (1, 8 or 24 bit; alpha of
/// RGBA is dropped; grey with alpha and other bit depths are refused). Palette images become
/// grey (or RGB when the palette holds colours); a 1-bit image keeps 1 = black. kOk or
/// kUndecodable.
[[nodiscard]] int pngDecode(std::span<const std::uint8_t> data, RawImage& out,
                            std::string* why = nullptr) noexcept;

/// Lossless JPEG 2000 (reversible 5/3 wavelet, one layer) as a JP2 file. `pixels` are tightly
/// packed grey (depth 8) or interleaved RGB (depth 24). Returns kOk with the file in `out`;
/// kEncodeFailed for bad arguments or an OpenJPEG failure; kAllocFailed when the result cannot
/// be allocated.
[[nodiscard]] int jp2LosslessEncode(std::span<const std::uint8_t> pixels, int width, int height,
                                    int depth, std::vector<std::uint8_t>& out,
                                    std::string* why = nullptr) noexcept;

/// Header of a JPEG 2000 codestream or JP2 file: width and height of the first component
/// reduced by its resolution factor, depth 8 (one component) or 24 (three), and whether the
/// default coding style uses the reversible wavelet. kOk or kUndecodable.
[[nodiscard]] int jp2ReadHeader(std::span<const std::uint8_t> data, int& width, int& height,
                                int& depth, bool& reversible) noexcept;

/// Decodes a JPEG 2000 codestream or JP2 file with one or three components into 8- or 24-bit
/// pixels (low 8 bits of each sample). kOk or kUndecodable.
[[nodiscard]] int jp2Decode(std::span<const std::uint8_t> data, RawImage& out,
                            std::string* why = nullptr) noexcept;

/// Decodes baseline or progressive JPEG with libjpeg into grey or RGB, with the JFIF density as
/// `ppi` (-1 when the unit is 0). kOk, or kUndecodable for any decoder error or an illegal
/// density unit.
[[nodiscard]] int jpegDecode(std::span<const std::uint8_t> data, RawImage& out,
                             std::string* why = nullptr) noexcept;

/// Walks the JPEG marker segments from offset 2 to the first SOF0, SOF2 or SOF3 frame header.
/// Returns kOk with the frame's marker (0xC0, 0xC2, 0xC3), width, height and component count,
/// or kUnrecognisedData when there is none.
[[nodiscard]] int jpegFindFrame(std::span<const std::uint8_t> data, int& marker, int& width,
                                int& height, int& components) noexcept;

/// Height and width from the first WSQ frame header (other segments skipped by their length).
/// kOk or kUndecodable.
[[nodiscard]] int wsqReadFrame(std::span<const std::uint8_t> data, int& width,
                               int& height) noexcept;

/// Width, height (absolute) and bit count from a BMP header. kOk or kUndecodable.
[[nodiscard]] int bmpReadHeader(std::span<const std::uint8_t> data, int& width, int& height,
                                int& bitCount) noexcept;

/// Decodes a BMP file held in a record: 8-bit (values taken as grey, the palette is not
/// applied), 24- or 32-bit (to 24-bit RGB), uncompressed or 8-bit run-length; rows top first.
/// Returns kOk; kBmpUnsupported for another bit count or compression; kBmpSizeMismatch when an
/// uncompressed pixel array does not end exactly at the end of the data; kUndecodable for a
/// truncated or malformed file; kAllocFailed when memory runs out.
[[nodiscard]] int bmpDecodeContainer(std::span<const std::uint8_t> data, RawImage& out,
                                     std::string* why = nullptr) noexcept;

}  // namespace varnel::imaging
