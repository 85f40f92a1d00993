#pragma once

#include <array>

namespace varnel::wsq::detail {

/// A rectangle of the coefficient plane.
struct Region {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};

/// One step of the wavelet decomposition: the region is split along rows and columns into four
/// quarters. When a direction is inverted, the high-pass half is placed first, which keeps the
/// quarters of an already high-passed region in rising frequency order.
struct WaveletNode {
  Region r;
  bool invX = false;
  bool invY = false;
};

inline constexpr int kWaveletNodes = 20;
inline constexpr int kSubbands = 64;
inline constexpr int kCodedSubbands = 60;

/// The decomposition steps (in processing order) and the 64 subband rectangles of an image.
struct Trees {
  std::array<WaveletNode, kWaveletNodes> wavelet{};
  std::array<Region, kSubbands> subband{};
};

/// Builds both trees for a width x height image.
void buildTrees(int width, int height, Trees& t) noexcept;

/// Lengths of the two halves of a split of `len` samples: the low-pass half has (len + 1) / 2,
/// the high-pass half len / 2; an inverted split puts the high-pass half first.
inline void splitLengths(int len, bool inverted, int& first, int& second) noexcept {
  const int low = (len + 1) / 2;
  const int high = len / 2;
  first = inverted ? high : low;
  second = inverted ? low : high;
}

}  // namespace varnel::wsq::detail
