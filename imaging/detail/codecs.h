#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "imaging/image_header.h"

namespace varnel::imaging {

/// Encodes 1-, 8- or 24-bit pixels (RawImage layout, RGB order, not for a bitmap) as PNG: grey or
/// RGB at bit depth 8; 1-bit as a two-entry palette (white, black). Returns kOk with the stream
/// in `out`; kEncodeFailed when the image is inconsistent or libpng fails; kAllocFailed when
/// memory runs out.
[[nodiscard]] int pngEncode(const RawImage& image, std::vector<std::uint8_t>& out,
                            std::string* why = nullptr) noexcept;

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

/// Decodes a JPEG 2000 codestream or JP2 file with one or three components into 8- or 24-bit
/// pixels (low 8 bits of each sample). kOk or kUndecodable.
[[nodiscard]] int jp2Decode(std::span<const std::uint8_t> data, RawImage& out,
                            std::string* why = nullptr) noexcept;

/// Decodes baseline or progressive JPEG with libjpeg into grey or RGB, with the JFIF density as
/// `ppi` (-1 when the unit is 0). kOk, or kUndecodable for any decoder error or an illegal
/// density unit.
[[nodiscard]] int jpegDecode(std::span<const std::uint8_t> data, RawImage& out,
                             std::string* why = nullptr) noexcept;

/// Decodes a BMP file held in a record: 8-bit (values taken as grey, the palette is not
/// applied), 24- or 32-bit (to 24-bit RGB), uncompressed or 8-bit run-length; rows top first.
/// Returns kOk; kBmpUnsupported for another bit count or compression; kBmpSizeMismatch when an
/// uncompressed pixel array does not end exactly at the end of the data; kUndecodable for a
/// truncated or malformed file; kAllocFailed when memory runs out.
[[nodiscard]] int bmpDecodeContainer(std::span<const std::uint8_t> data, RawImage& out,
                                     std::string* why = nullptr) noexcept;

}  // namespace varnel::imaging
