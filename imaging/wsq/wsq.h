#pragma once

#include <array>
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

/// Header fields of a WSQ stream, as `wsqReadInfo` finds them before the first block.
struct WsqInfo {
  int width = 0;
  int height = 0;
  int ppi = -1;  ///< "PPI" of the "NIST_COM" comment, -1 when there is none
  int blackLevel = 0;
  int whiteLevel = 0;
  float mShift = 0.0F;
  float rScale = 0.0F;
  int encoder = 0;
  int software = 0;  ///< software implementation number
  int lowTaps = 0;   ///< low-pass filter length (0 without a transform table)
  int highTaps = 0;  ///< high-pass filter length
  bool hasQuantization = false;
  float binCenter = 0.0F;
  std::array<float, 64> q{};  ///< bin width per subband (0: subband not coded)
  std::array<float, 64> z{};  ///< zero-bin width per subband
};

/// Reads the frame header, the tables before the first block and the resolution. Returns 0, or
/// the status wsqDecode would give for the same header problem (`info` untouched).
[[nodiscard]] int wsqReadInfo(std::span<const std::uint8_t> stream, WsqInfo& info) noexcept;

/// The bin widths Q and zero-bin widths Z the encoder derives from 60 subband variances at
/// `bitrate` (slots 60-63 and subbands with variance below 1.01 get 0). Always returns 0.
[[nodiscard]] int wsqComputeQuantization(float bitrate, const std::array<float, 64>& variance,
                                         std::array<float, 64>& q,
                                         std::array<float, 64>& z) noexcept;

/// A short English text for a status of imaging/wsq/status.h ("stream truncated"); "WSQ error"
/// for a value it does not name.
[[nodiscard]] const char* wsqStatusText(int status) noexcept;

/// "2.4.0.0".
[[nodiscard]] std::string_view wsqVersion() noexcept;
/// "wsq version 2.4.0.0 - April 13, 2024".
[[nodiscard]] std::string_view wsqBanner() noexcept;
/// Software implementation number written into every frame header, computed once per process.
[[nodiscard]] int hostImplementationNumber() noexcept;

}  // namespace varnel::wsq
