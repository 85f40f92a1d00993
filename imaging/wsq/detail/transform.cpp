#include "imaging/wsq/detail/transform.h"

#include <cstddef>

namespace varnel::wsq::detail {
namespace {

// Whole-sample symmetric extension: mirror about the first and the last sample.
inline int fold(int i, int n) noexcept {
  if (n == 1) return 0;
  for (;;) {
    if (i < 0) {
      i = -i;
    } else if (i >= n) {
      i = 2 * (n - 1) - i;
    } else {
      return i;
    }
  }
}

// Synthesis filters follow from the analysis pair by alternating signs: the low-pass synthesis
// filter is the modulated high-pass analysis filter and vice versa.
struct Synthesis {
  std::vector<float> low;   // applied to the upsampled low-pass half
  std::vector<float> high;  // applied to the upsampled high-pass half
};

Synthesis synthesisOf(const FilterBank& f) {
  Synthesis s;
  const int b = static_cast<int>(f.high.size()) / 2;
  const int a = static_cast<int>(f.low.size()) / 2;
  s.low.resize(f.high.size());
  s.high.resize(f.low.size());
  for (int t = -b; t <= b; ++t) {
    const float v = f.high[static_cast<std::size_t>(t + b)];
    s.low[static_cast<std::size_t>(t + b)] = ((t & 1) != 0) ? -v : v;
  }
  for (int t = -a; t <= a; ++t) {
    const float v = f.low[static_cast<std::size_t>(t + a)];
    s.high[static_cast<std::size_t>(t + a)] = ((t & 1) != 0) ? -v : v;
  }
  return s;
}

// One output sample of the analysis: sum of taps over the mirrored input centred at c.
inline float tapSum(const float* in, int n, std::ptrdiff_t step, int c, const float* h,
                    int half) noexcept {
  float s = 0.0F;
  if (c - half >= 0 && c + half < n) {
    const float* p = in + (c - half) * step;
    for (int j = 0; j <= 2 * half; ++j) s += h[j] * p[j * step];
  } else {
    for (int j = -half; j <= half; ++j) s += h[j + half] * in[fold(c + j, n) * step];
  }
  return s;
}

// Analysis of one line of n samples (stride `step`) into `out` (stride `ostep`).
void analyseLine(const float* in, std::ptrdiff_t step, int n, float* out, std::ptrdiff_t ostep,
                 bool inv, const FilterBank& f) noexcept {
  const int nl = (n + 1) / 2;
  const int nh = n / 2;
  const int a = static_cast<int>(f.low.size()) / 2;
  const int b = static_cast<int>(f.high.size()) / 2;
  float* lo = out + (inv ? nh : 0) * ostep;
  float* hi = out + (inv ? 0 : nl) * ostep;
  for (int k = 0; k < nl; ++k) lo[k * ostep] = tapSum(in, n, step, 2 * k, f.low.data(), a);
  for (int k = 0; k < nh; ++k) hi[k * ostep] = tapSum(in, n, step, 2 * k + 1, f.high.data(), b);
}

// Columns of a region: each output row is a weighted sum of whole input rows, so the pass reads
// and writes contiguous rows.
void analyseColumns(const float* in, float* out, int stride, const Region& r, bool inv,
                    const FilterBank& f) noexcept {
  const int n = r.h;
  const int nl = (n + 1) / 2;
  const int nh = n / 2;
  const int a = static_cast<int>(f.low.size()) / 2;
  const int b = static_cast<int>(f.high.size()) / 2;
  const int loStart = inv ? nh : 0;
  const int hiStart = inv ? 0 : nl;
  auto rowIn = [&](int y) { return in + static_cast<std::ptrdiff_t>(r.y + y) * stride + r.x; };
  auto rowOut = [&](int y) { return out + static_cast<std::ptrdiff_t>(r.y + y) * stride + r.x; };
  auto emit = [&](float* dst, int c, const std::vector<float>& h, int half) {
    for (int x = 0; x < r.w; ++x) dst[x] = 0.0F;
    for (int j = -half; j <= half; ++j) {
      const float w = h[static_cast<std::size_t>(j + half)];
      const float* src = rowIn(fold(c + j, n));
      for (int x = 0; x < r.w; ++x) dst[x] += w * src[x];
    }
  };
  for (int k = 0; k < nl; ++k) emit(rowOut(loStart + k), 2 * k, f.low, a);
  for (int k = 0; k < nh; ++k) emit(rowOut(hiStart + k), 2 * k + 1, f.high, b);
}

// Synthesis of one line: x[m] = sum over taps t of g[t] * u[m - t], where u is the upsampled,
// mirrored half that owns position m - t (even positions: low half, odd: high half).
void synthesiseLine(const float* in, std::ptrdiff_t step, int n, float* out, std::ptrdiff_t ostep,
                    bool inv, const Synthesis& s) noexcept {
  const int nl = (n + 1) / 2;
  const int nh = n / 2;
  const float* lo = in + (inv ? nh : 0) * step;
  const float* hi = in + (inv ? 0 : nl) * step;
  const int gl = static_cast<int>(s.low.size()) / 2;
  const int gh = static_cast<int>(s.high.size()) / 2;
  for (int m = 0; m < n; ++m) {
    float v = 0.0F;
    for (int t = -gl; t <= gl; ++t) {
      const int p = m - t;
      if ((p & 1) != 0) continue;
      v += s.low[static_cast<std::size_t>(t + gl)] * lo[(fold(p, n) >> 1) * step];
    }
    for (int t = -gh; t <= gh && nh > 0; ++t) {
      const int p = m - t;
      if ((p & 1) == 0) continue;
      v += s.high[static_cast<std::size_t>(t + gh)] * hi[(fold(p, n) >> 1) * step];
    }
    out[m * ostep] = v;
  }
}

void synthesiseColumns(const float* in, float* out, int stride, const Region& r, bool inv,
                       const Synthesis& s) noexcept {
  const int n = r.h;
  const int nl = (n + 1) / 2;
  const int nh = n / 2;
  const int loStart = inv ? nh : 0;
  const int hiStart = inv ? 0 : nl;
  const int gl = static_cast<int>(s.low.size()) / 2;
  const int gh = static_cast<int>(s.high.size()) / 2;
  auto rowIn = [&](int y) { return in + static_cast<std::ptrdiff_t>(r.y + y) * stride + r.x; };
  for (int m = 0; m < n; ++m) {
    float* dst = out + static_cast<std::ptrdiff_t>(r.y + m) * stride + r.x;
    for (int x = 0; x < r.w; ++x) dst[x] = 0.0F;
    for (int t = -gl; t <= gl; ++t) {
      const int p = m - t;
      if ((p & 1) != 0) continue;
      const float w = s.low[static_cast<std::size_t>(t + gl)];
      const float* src = rowIn(loStart + (fold(p, n) >> 1));
      for (int x = 0; x < r.w; ++x) dst[x] += w * src[x];
    }
    for (int t = -gh; t <= gh && nh > 0; ++t) {
      const int p = m - t;
      if ((p & 1) == 0) continue;
      const float w = s.high[static_cast<std::size_t>(t + gh)];
      const float* src = rowIn(hiStart + (fold(p, n) >> 1));
      for (int x = 0; x < r.w; ++x) dst[x] += w * src[x];
    }
  }
}

}  // namespace

const FilterBank& standardFilters() noexcept {
  static const FilterBank kBank{
      {0.0378284566F, -0.023849465F, -0.110624403F, 0.377402842F, 0.852698684F, 0.377402842F,
       -0.110624403F, -0.023849465F, 0.0378284566F},
      {0.0645388812F, -0.0406894162F, -0.418092281F, 0.788485587F, -0.418092281F, -0.0406894162F,
       0.0645388812F}};
  return kBank;
}

void decompose(float* image, int width, const Trees& trees, const FilterBank& f,
               float* scratch) noexcept {
  for (const WaveletNode& node : trees.wavelet) {
    const Region& r = node.r;
    if (r.w <= 0 || r.h <= 0) continue;
    for (int y = 0; y < r.h; ++y) {
      const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(r.y + y) * width + r.x;
      analyseLine(image + off, 1, r.w, scratch + off, 1, node.invX, f);
    }
    analyseColumns(scratch, image, width, r, node.invY, f);
  }
}

void reconstruct(float* image, int width, const Trees& trees, const FilterBank& f,
                 float* scratch) noexcept {
  const Synthesis s = synthesisOf(f);
  for (auto it = trees.wavelet.rbegin(); it != trees.wavelet.rend(); ++it) {
    const Region& r = it->r;
    if (r.w <= 0 || r.h <= 0) continue;
    synthesiseColumns(image, scratch, width, r, it->invY, s);
    for (int y = 0; y < r.h; ++y) {
      const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(r.y + y) * width + r.x;
      synthesiseLine(scratch + off, 1, r.w, image + off, 1, it->invX, s);
    }
  }
}

}  // namespace varnel::wsq::detail
