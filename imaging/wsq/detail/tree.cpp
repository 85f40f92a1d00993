#include "imaging/wsq/detail/tree.h"

namespace varnel::wsq::detail {
namespace {

enum Quarter { kTopLeft = 0, kTopRight = 1, kBottomLeft = 2, kBottomRight = 3 };

Region quarter(const WaveletNode& n, int q) noexcept {
  int fx = 0;
  int sx = 0;
  int fy = 0;
  int sy = 0;
  splitLengths(n.r.w, n.invX, fx, sx);
  splitLengths(n.r.h, n.invY, fy, sy);
  const bool right = (q == kTopRight || q == kBottomRight);
  const bool bottom = (q == kBottomLeft || q == kBottomRight);
  return Region{n.r.x + (right ? fx : 0), n.r.y + (bottom ? fy : 0), right ? sx : fx,
                bottom ? sy : fy};
}

// A quarter becomes a node of its own; quarters on the high side of a split carry inverted
// order in that direction.
WaveletNode child(const WaveletNode& parent, int q) noexcept {
  WaveletNode n;
  n.r = quarter(parent, q);
  n.invX = (q == kTopRight || q == kBottomRight);
  n.invY = (q == kBottomLeft || q == kBottomRight);
  return n;
}

// Sixteen subbands of a node split twice: quarter by quarter, each in reading order.
void sixteen(const WaveletNode& n, std::array<Region, kSubbands>& sub, int start) noexcept {
  for (int q = 0; q < 4; ++q) {
    const WaveletNode c = child(n, q);
    for (int s = 0; s < 4; ++s) sub[static_cast<std::size_t>(start + q * 4 + s)] = quarter(c, s);
  }
}

}  // namespace

void buildTrees(int width, int height, Trees& t) noexcept {
  auto& w = t.wavelet;
  w[0] = WaveletNode{Region{0, 0, width, height}, false, false};
  w[1] = child(w[0], kTopLeft);
  w[2] = child(w[0], kTopRight);
  w[3] = child(w[0], kBottomLeft);
  w[4] = child(w[1], kTopRight);
  w[5] = child(w[1], kBottomLeft);
  for (int q = 0; q < 4; ++q) {
    w[static_cast<std::size_t>(6 + q)] = child(w[4], q);
    w[static_cast<std::size_t>(10 + q)] = child(w[5], q);
  }
  w[14] = child(w[1], kTopLeft);
  for (int q = 0; q < 4; ++q) w[static_cast<std::size_t>(15 + q)] = child(w[14], q);
  w[19] = child(w[15], kTopLeft);

  auto& s = t.subband;
  sixteen(w[0], s, 48);  // 48..50 are refined below; 51 is the last quarter of node 1
  sixteen(w[5], s, 35);
  sixteen(w[4], s, 19);
  sixteen(w[14], s, 3);  // its first subband is node 19, refined below
  for (int q = 0; q < 4; ++q) s[static_cast<std::size_t>(q)] = quarter(w[19], q);
}

}  // namespace varnel::wsq::detail
