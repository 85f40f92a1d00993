#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/wsq/detail/huffman.h"
#include "imaging/wsq/detail/stream.h"
#include "imaging/wsq/detail/transform.h"
#include "imaging/wsq/detail/tree.h"

namespace varnel::wsq::detail {

inline constexpr int kSoi = 0xFFA0;
inline constexpr int kEoi = 0xFFA1;
inline constexpr int kSof = 0xFFA2;
inline constexpr int kSob = 0xFFA3;
inline constexpr int kDtt = 0xFFA4;
inline constexpr int kDqt = 0xFFA5;
inline constexpr int kDht = 0xFFA6;
inline constexpr int kCom = 0xFFA8;
inline constexpr int kHuffmanSlots = 8;

/// Frame header fields.
struct Frame {
  int black = 0;
  int white = 0;
  int height = 0;
  int width = 0;
  float mShift = 0.0F;
  float rScale = 0.0F;
  int encoder = 0;
  int software = 0;
};

/// Quantization table.
struct Quantization {
  bool defined = false;
  float binCenter = 0.0F;
  std::array<float, kSubbands> q{};
  std::array<float, kSubbands> z{};
};

/// Everything the table segments of a stream define.
struct StreamTables {
  bool haveLow = false;
  bool haveHigh = false;
  FilterBank filters;
  Quantization quant;
  std::array<HuffmanDecoder, kHuffmanSlots> huffman{};
  int huffmanSegments = 0;
  int blockHeaders = 0;
};

/// Reads a marker: below 0xFF00 is kNotAMarker, outside 0xFFA0..0xFFA8 is kUnknownMarker.
[[nodiscard]] int readMarker(ByteReader& in, int& marker) noexcept;

/// Reads one table or comment segment (the marker already consumed) into `t`.
[[nodiscard]] int readTableSegment(ByteReader& in, int marker, StreamTables& t) noexcept;

/// Reads the frame header (marker already consumed).
[[nodiscard]] int readFrame(ByteReader& in, Frame& f) noexcept;

/// Writes v >= 0 as a scale byte and an integer below `ceiling` (n / 10^scale == v).
/// Returns false when v is at or above the ceiling.
bool scaleValue(double v, double ceiling, int& scale, std::uint32_t& n) noexcept;

/// Reads back a scaled value.
float unscale(std::uint32_t n, int scale) noexcept;

/// Number of coefficients carried for the non-zero Q subbands of the trees.
[[nodiscard]] std::size_t codedCount(const Trees& t, const Quantization& q) noexcept;

}  // namespace varnel::wsq::detail
