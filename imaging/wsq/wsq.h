#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace varnel::wsq {

/// Compresses an 8-bit grey image (width x height bytes, rows top to bottom, no padding) at
/// `bitrate` bits per pixel. Returns 0 and the new stream in `stream`, or a negative status
/// (`stream` untouched). No comment segment is written, so the stream carries no resolution.
[[nodiscard]] int wsqEncode(float bitrate, std::span<const std::uint8_t> pixels, int width,
                            int height, std::vector<std::uint8_t>& stream) noexcept;

/// Decompresses a WSQ stream. Returns 0 with width x height grey bytes in `pixels`, depth 8, lossy
/// 1, and ppi from the stream's "NIST_COM" comment (-1 when absent); or a negative status.
[[nodiscard]] int wsqDecode(std::span<const std::uint8_t> stream, std::vector<std::uint8_t>& pixels,
                            int& width, int& height, int& depth, int& ppi, int& lossy) noexcept;

/// Reads the "PPI" value of the stream's "NIST_COM" comment: 0 and ppi (-1 when absent), or a
/// negative status.
[[nodiscard]] int wsqReadPpi(std::span<const std::uint8_t> stream, int& ppi) noexcept;

/// "2.4.0.0".
[[nodiscard]] std::string_view wsqVersion() noexcept;
/// "wsq version 2.4.0.0 - April 13, 2024".
[[nodiscard]] std::string_view wsqBanner() noexcept;
/// Software implementation number written into every frame header, computed once per process.
[[nodiscard]] int hostImplementationNumber() noexcept;

}  // namespace varnel::wsq
