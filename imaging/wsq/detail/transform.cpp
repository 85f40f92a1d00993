#include "imaging/wsq/detail/transform.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

#include "imaging/wsq/detail/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/wsq/status.h"

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

// Four floats in one register; the arithmetic on them is lane by lane, so each output is summed
// exactly as the scalar loop would sum it.
using Lanes = float __attribute__((vector_size(16)));

inline Lanes load4(const float* p) noexcept {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store4(float* p, Lanes v) noexcept { std::memcpy(p, &v, sizeof v); }

// out[k] = sum over t of w[t] * src[t][k], summed in t order from zero. Outputs are produced
// sixteen at a time so the partial sums stay in registers.
void weightedSumSse(float* out, int n, const float* const* src, const float* w, int taps) noexcept {
  int k = 0;
  for (; k + 16 <= n; k += 16) {
    Lanes a0 = {};
    Lanes a1 = {};
    Lanes a2 = {};
    Lanes a3 = {};
    for (int t = 0; t < taps; ++t) {
      const float wt = w[t];
      const float* p = src[t] + k;
      a0 += wt * load4(p);
      a1 += wt * load4(p + 4);
      a2 += wt * load4(p + 8);
      a3 += wt * load4(p + 12);
    }
    store4(out + k, a0);
    store4(out + k + 4, a1);
    store4(out + k + 8, a2);
    store4(out + k + 12, a3);
  }
  for (; k + 4 <= n; k += 4) {
    Lanes a = {};
    for (int t = 0; t < taps; ++t) a += w[t] * load4(src[t] + k);
    store4(out + k, a);
  }
  for (; k < n; ++k) {
    float acc = 0.0F;
    for (int t = 0; t < taps; ++t) acc += w[t] * src[t][k];
    out[k] = acc;
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same sums eight lanes wide on processors with AVX2. Multiply and add stay separate
// instructions (the target has no fused multiply-add), so every output is rounded exactly as
// above and the two versions give identical results.
using Lanes8 = float __attribute__((vector_size(32)));

__attribute__((target("avx2"))) void weightedSumAvx2(float* out, int n, const float* const* src,
                                                     const float* w, int taps) noexcept {
  int k = 0;
  for (; k + 32 <= n; k += 32) {
    Lanes8 a0 = {};
    Lanes8 a1 = {};
    Lanes8 a2 = {};
    Lanes8 a3 = {};
    for (int t = 0; t < taps; ++t) {
      const float wt = w[t];
      const float* p = src[t] + k;
      Lanes8 v0;
      Lanes8 v1;
      Lanes8 v2;
      Lanes8 v3;
      std::memcpy(&v0, p, sizeof v0);
      std::memcpy(&v1, p + 8, sizeof v1);
      std::memcpy(&v2, p + 16, sizeof v2);
      std::memcpy(&v3, p + 24, sizeof v3);
      a0 += wt * v0;
      a1 += wt * v1;
      a2 += wt * v2;
      a3 += wt * v3;
    }
    std::memcpy(out + k, &a0, sizeof a0);
    std::memcpy(out + k + 8, &a1, sizeof a1);
    std::memcpy(out + k + 16, &a2, sizeof a2);
    std::memcpy(out + k + 24, &a3, sizeof a3);
  }
  for (; k + 8 <= n; k += 8) {
    Lanes8 a = {};
    for (int t = 0; t < taps; ++t) {
      Lanes8 v;
      std::memcpy(&v, src[t] + k, sizeof v);
      a += w[t] * v;
    }
    std::memcpy(out + k, &a, sizeof a);
  }
  for (; k < n; ++k) {
    float acc = 0.0F;
    for (int t = 0; t < taps; ++t) acc += w[t] * src[t][k];
    out[k] = acc;
  }
}
#endif

using WeightedSum = void (*)(float*, int, const float* const*, const float*, int) noexcept;

// The widest version the processor runs, chosen once.
WeightedSum pickWeightedSum() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  if (haveAvx2()) return weightedSumAvx2;
#endif
  return weightedSumSse;
}

void weightedSum(float* out, int n, const float* const* src, const float* w, int taps) noexcept {
  static const WeightedSum kImpl = pickWeightedSum();
  kImpl(out, n, src, w, taps);
}

// Tap lists for weightedSum; filters have at most kMaxTaps taps, a synthesis output at most
// two filters' worth.
struct Terms {
  // Not cleared: one list is made for every row and column pass, and only the first n entries
  // are ever read.
  std::array<const float*, 2 * kMaxTaps> src;
  std::array<float, 2 * kMaxTaps> w;
  int n = 0;
  void add(const float* p, float weight) noexcept {
    src[static_cast<std::size_t>(n)] = p;
    w[static_cast<std::size_t>(n)] = weight;
    ++n;
  }
};

// Margin of mirrored samples kept on each side of a line; filters up to 2 * kMargin - 1 taps.
constexpr int kMargin = 40;

// Analysis of one row of n samples into `out`: the row is mirrored into `ext` and split into its
// even and odd samples (`split`), then each tap is applied across all outputs, so every output
// is summed in tap order as a plain convolution would. `ext` and `split` hold n + 2 * kMargin
// floats each.
void analyseRow(const float* in, int n, float* out, bool inv, const FilterBank& f, float* ext,
                float* split) noexcept {
  const int nl = (n + 1) / 2;
  const int nh = n / 2;
  const int a = static_cast<int>(f.low.size()) / 2;
  const int b = static_cast<int>(f.high.size()) / 2;
  // Only the samples the filters reach beyond either end need mirroring.
  const int m = (a > b ? a : b) + 1;
  for (int i = -m; i < 0; ++i) ext[i + kMargin] = in[fold(i, n)];
  std::memcpy(ext + kMargin, in, static_cast<std::size_t>(n) * sizeof(float));
  for (int i = n; i < n + m; ++i) ext[i + kMargin] = in[fold(i, n)];
  const int half = (n + 2 * kMargin + 1) / 2;
  float* evens = split;
  float* odds = split + half;
  int q = (kMargin - m) / 2;
  const int qEnd = (n + kMargin + m + 1) / 2;
#if defined(__SSE2__)
  // Four pairs at a time while the eight samples lie inside `ext`'s n + 2 * kMargin + 1.
  for (; q < qEnd && 2 * q + 8 <= n + 2 * kMargin + 1; q += 4) {
    const __m128 lo4 = _mm_loadu_ps(ext + 2 * q);
    const __m128 hi4 = _mm_loadu_ps(ext + 2 * q + 4);
    _mm_storeu_ps(evens + q, _mm_shuffle_ps(lo4, hi4, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(odds + q, _mm_shuffle_ps(lo4, hi4, _MM_SHUFFLE(3, 1, 3, 1)));
  }
#endif
  for (; q < qEnd; ++q) {
    evens[q] = ext[2 * q];
    odds[q] = ext[2 * q + 1];
  }
  // Sample ext[s + 2k] for k = 0, 1, ... is evens[s / 2 + k] or odds[(s - 1) / 2 + k].
  auto strided = [&](int s) { return (s & 1) == 0 ? evens + s / 2 : odds + (s - 1) / 2; };
  float* lo = out + (inv ? nh : 0);
  float* hi = out + (inv ? 0 : nl);
  Terms low;
  for (int j = 0; j <= 2 * a; ++j)
    low.add(strided(kMargin - a + j), f.low[static_cast<std::size_t>(j)]);
  weightedSum(lo, nl, low.src.data(), low.w.data(), low.n);
  Terms high;
  for (int j = 0; j <= 2 * b; ++j) {
    high.add(strided(kMargin + 1 - b + j), f.high[static_cast<std::size_t>(j)]);
  }
  weightedSum(hi, nh, high.src.data(), high.w.data(), high.n);
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
    Terms t;
    for (int j = -half; j <= half; ++j) {
      t.add(rowIn(fold(c + j, n)), h[static_cast<std::size_t>(j + half)]);
    }
    weightedSum(dst, r.w, t.src.data(), t.w.data(), t.n);
  };
  for (int k = 0; k < nl; ++k) emit(rowOut(loStart + k), 2 * k, f.low, a);
  for (int k = 0; k < nh; ++k) emit(rowOut(hiStart + k), 2 * k + 1, f.high, b);
}

// Synthesis of one row: x[m] = sum over taps t of g[t] * u[m - t], where u is the upsampled,
// mirrored half that owns position m - t (even positions: low half, odd: high half). Low terms
// come first, each group in tap order. `buf` holds 2 * (n + 4 * kMargin) floats.
void synthesiseRow(const float* in, int n, float* out, bool inv, const Synthesis& s,
                   float* buf) noexcept {
  const int nl = (n + 1) / 2;
  const int nh = n / 2;
  const float* lo = in + (inv ? nh : 0);
  const float* hi = in + (inv ? 0 : nl);
  const int gl = static_cast<int>(s.low.size()) / 2;
  const int gh = static_cast<int>(s.high.size()) / 2;
  constexpr int kHalf = kMargin / 2;
  // Mirrored halves: loE[k] is the sample at position 2k, hiE[k] the one at 2k + 1.
  float* loE = buf + kHalf;
  float* hiE = buf + nl + 2 * kHalf + kHalf;
  float* even = buf + nl + nh + 4 * kHalf;
  float* odd = even + nl;
  const int m = (gl > gh ? gl : gh) / 2 + 2;
  for (int k = -m; k < 0; ++k) loE[k] = lo[fold(2 * k, n) >> 1];
  std::memcpy(loE, lo, static_cast<std::size_t>(nl) * sizeof(float));
  for (int k = nl; k < nl + m; ++k) loE[k] = lo[fold(2 * k, n) >> 1];
  for (int k = -m; k < nh + m; ++k) {
    if (k == 0 && nh > 0) {
      std::memcpy(hiE, hi, static_cast<std::size_t>(nh) * sizeof(float));
      k = nh - 1;
      continue;
    }
    hiE[k] = nh > 0 ? hi[fold(2 * k + 1, n) >> 1] : 0.0F;
  }
  // Even outputs: low taps of even t, high taps of odd t; odd outputs the other way round.
  Terms e;
  for (int t = -gl; t <= gl; ++t) {
    if ((t & 1) == 0) e.add(loE - t / 2, s.low[static_cast<std::size_t>(t + gl)]);
  }
  for (int t = -gh; t <= gh; ++t) {
    if ((t & 1) != 0) e.add(hiE - (t + 1) / 2, s.high[static_cast<std::size_t>(t + gh)]);
  }
  weightedSum(even, nl, e.src.data(), e.w.data(), e.n);
  Terms o;
  for (int t = -gl; t <= gl; ++t) {
    if ((t & 1) != 0) o.add(loE - (t - 1) / 2, s.low[static_cast<std::size_t>(t + gl)]);
  }
  for (int t = -gh; t <= gh; ++t) {
    if ((t & 1) == 0) o.add(hiE - t / 2, s.high[static_cast<std::size_t>(t + gh)]);
  }
  weightedSum(odd, nh, o.src.data(), o.w.data(), o.n);
  int i = 0;
#if defined(__SSE2__)
  for (; i + 4 <= nh; i += 4) {
    const __m128 e4 = _mm_loadu_ps(even + i);
    const __m128 o4 = _mm_loadu_ps(odd + i);
    _mm_storeu_ps(out + 2 * i, _mm_unpacklo_ps(e4, o4));
    _mm_storeu_ps(out + 2 * i + 4, _mm_unpackhi_ps(e4, o4));
  }
#endif
  for (; i < nh; ++i) {
    out[2 * i] = even[i];
    out[2 * i + 1] = odd[i];
  }
  if (nl > nh) out[2 * nh] = even[nh];
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
    Terms t;
    for (int k = -gl; k <= gl; ++k) {
      const int p = m - k;
      if ((p & 1) != 0) continue;
      t.add(rowIn(loStart + (fold(p, n) >> 1)), s.low[static_cast<std::size_t>(k + gl)]);
    }
    for (int k = -gh; k <= gh && nh > 0; ++k) {
      const int p = m - k;
      if ((p & 1) == 0) continue;
      t.add(rowIn(hiStart + (fold(p, n) >> 1)), s.high[static_cast<std::size_t>(k + gh)]);
    }
    weightedSum(dst, r.w, t.src.data(), t.w.data(), t.n);
  }
}

// Filters of even length (a symmetric low-pass, an antisymmetric high-pass) work on a
// half-sample mirrored signal: both halves are taken at the odd positions of the filtered
// signal, where the low-pass output is mirrored about the ends and the high-pass output is
// mirrored with a change of sign. Tap j of a filter of length 2a sits at offset j - a.
struct EvenSynthesis {
  std::vector<float> low;  // applied to the upsampled low half; tap i at offset i + lowFirst
  std::vector<float> high;
  int lowFirst = 0;
  int highFirst = 0;
};

// Laurent product of two tap lists given as (first offset, taps).
std::vector<double> polyMul(const std::vector<double>& x, const std::vector<double>& y) {
  std::vector<double> r(x.size() + y.size() - 1, 0.0);
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t j = 0; j < y.size(); ++j) r[i + j] += x[i] * y[j];
  }
  return r;
}

// Synthesis filters that cancel aliasing and restore the signal: G0(z) = c z^-K H1(-z),
// G1(z) = c z^-K H0(-z), with K and c taken from the filter bank's distortion term. Streams carry
// the high-pass half as the output of the reversed (convolved) high-pass filter, which for an
// antisymmetric filter is the negated correlation; the sign of G1 absorbs that.
EvenSynthesis evenSynthesisOf(const FilterBank& f) {
  const int a = static_cast<int>(f.low.size()) / 2;
  const int b = static_cast<int>(f.high.size()) / 2;
  // Hh(z) = sum h[j] z^j, stored from offset -a (low) / -b (high).
  std::vector<double> h0(f.low.begin(), f.low.end());
  std::vector<double> h1(f.high.begin(), f.high.end());
  auto modulate = [](std::vector<double> v, int first) {
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (((static_cast<int>(i) + first) & 1) != 0) v[i] = -v[i];
    }
    return v;
  };
  const std::vector<double> h0m = modulate(h0, -a);
  const std::vector<double> h1m = modulate(h1, -b);
  std::vector<double> p = polyMul(h1m, h0);
  const std::vector<double> q = polyMul(h0m, h1);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] -= q[i];
  std::size_t best = 0;
  for (std::size_t i = 1; i < p.size(); ++i) {
    if (std::fabs(p[i]) > std::fabs(p[best])) best = i;
  }
  const int k = static_cast<int>(best) - a - b;
  const double c = p[best] != 0.0 ? -2.0 / p[best] : 0.0;
  EvenSynthesis s;
  // g0[K - j] = -c (-1)^j h1[j]; g1[K - j] = -c (-1)^j h0[j] (c carries the sign).
  s.low.resize(h1.size());
  s.lowFirst = k - (b - 1);
  for (int j = -b; j < b; ++j) {
    const double v = -c * h1m[static_cast<std::size_t>(j + b)];
    s.low[static_cast<std::size_t>(k - j - s.lowFirst)] = static_cast<float>(v);
  }
  s.high.resize(h0.size());
  s.highFirst = k - (a - 1);
  for (int j = -a; j < a; ++j) {
    const double v = -c * h0m[static_cast<std::size_t>(j + a)];
    s.high[static_cast<std::size_t>(k - j - s.highFirst)] = static_cast<float>(v);
  }
  return s;
}

// Position p of a signal mirrored about 0 and n (period 2n) folded into [0, n]; `flipped` tells
// whether an odd number of mirrorings brought it there.
inline int foldWhole(int p, int n, bool& flipped) noexcept {
  const int period = 2 * n;
  int r = p % period;
  if (r < 0) r += period;
  flipped = r > n;
  return flipped ? period - r : r;
}

void synthesiseLineEven(const float* in, std::ptrdiff_t step, int n, float* out,
                        std::ptrdiff_t ostep, bool inv, const EvenSynthesis& s) noexcept {
  const int nl = (n + 1) / 2;
  const int nh = n / 2;
  const float* lo = in + (inv ? nh : 0) * step;
  const float* hi = in + (inv ? 0 : nl) * step;
  for (int m = 0; m < n; ++m) {
    float v = 0.0F;
    for (std::size_t i = 0; i < s.low.size(); ++i) {
      const int p = m - (static_cast<int>(i) + s.lowFirst);
      if ((p & 1) == 0) continue;
      bool flipped = false;
      const int q = foldWhole(p, n, flipped);
      v += s.low[i] * lo[((q - 1) >> 1) * step];
    }
    for (std::size_t i = 0; i < s.high.size(); ++i) {
      const int p = m - (static_cast<int>(i) + s.highFirst);
      if ((p & 1) == 0) continue;
      bool flipped = false;
      const int q = foldWhole(p, n, flipped);
      if (q >= n || nh == 0) continue;  // the high-pass output vanishes at the mirror points
      const float d = hi[((q - 1) >> 1) * step];
      v += s.high[i] * (flipped ? -d : d);
    }
    out[m * ostep] = v;
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

int decompose(float* image, int width, const Trees& trees, const FilterBank& f,
              float* scratch) noexcept {
  std::vector<float> ext;
  try {
    ext.resize(2 * (static_cast<std::size_t>(width) + 2 * kMargin + 1));
  } catch (const std::bad_alloc&) {
    return kDecomposeAlloc;
  }
  for (const WaveletNode& node : trees.wavelet) {
    const Region& r = node.r;
    if (r.w <= 0 || r.h <= 0) continue;
    for (int y = 0; y < r.h; ++y) {
      const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(r.y + y) * width + r.x;
      analyseRow(image + off, r.w, scratch + off, node.invX, f, ext.data(),
                 ext.data() + width + 2 * kMargin + 1);
    }
    analyseColumns(scratch, image, width, r, node.invY, f);
  }
  return kOk;
}

int reconstructEven(float* image, int width, const Trees& trees, const FilterBank& f,
                    float* scratch) noexcept {
  EvenSynthesis s;
  try {
    s = evenSynthesisOf(f);
  } catch (const std::bad_alloc&) {
    return kReconstructAlloc;
  }
  // NOLINTNEXTLINE(modernize-loop-convert): the levels are undone from the last to the first
  for (auto it = trees.wavelet.rbegin(); it != trees.wavelet.rend(); ++it) {
    const Region& r = it->r;
    if (r.w <= 0 || r.h <= 0) continue;
    for (int x = 0; x < r.w; ++x) {
      const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(r.y) * width + r.x + x;
      synthesiseLineEven(image + off, width, r.h, scratch + off, width, it->invY, s);
    }
    for (int y = 0; y < r.h; ++y) {
      const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(r.y + y) * width + r.x;
      synthesiseLineEven(scratch + off, 1, r.w, image + off, 1, it->invX, s);
    }
  }
  return kOk;
}

int reconstruct(float* image, int width, const Trees& trees, const FilterBank& f,
                float* scratch) noexcept {
  if (f.low.size() % 2 == 0) return reconstructEven(image, width, trees, f, scratch);
  Synthesis s;
  std::vector<float> buf;
  try {
    s = synthesisOf(f);
    buf.resize(2 * (static_cast<std::size_t>(width) + 4 * kMargin));
  } catch (const std::bad_alloc&) {
    return kReconstructAlloc;
  }
  // NOLINTNEXTLINE(modernize-loop-convert): the levels are undone from the last to the first
  for (auto it = trees.wavelet.rbegin(); it != trees.wavelet.rend(); ++it) {
    const Region& r = it->r;
    if (r.w <= 0 || r.h <= 0) continue;
    synthesiseColumns(image, scratch, width, r, it->invY, s);
    for (int y = 0; y < r.h; ++y) {
      const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(r.y + y) * width + r.x;
      synthesiseRow(scratch + off, r.w, image + off, it->invX, s, buf.data());
    }
  }
  return kOk;
}

int reconstructRows(float* image, int width, const Trees& trees, const FilterBank& f,
                    float* scratch, RowSink sink, void* context) noexcept {
  const Region& whole = trees.wavelet[0].r;
  if (f.low.size() % 2 == 0) {
    if (int rc = reconstructEven(image, width, trees, f, scratch); rc < 0) return rc;
    for (int y = 0; y < whole.h; ++y) {
      if (!sink(context, y, image + static_cast<std::ptrdiff_t>(y) * width, whole.w)) break;
    }
    return kOk;
  }
  Synthesis s;
  std::vector<float> buf;
  try {
    s = synthesisOf(f);
    buf.resize(2 * (static_cast<std::size_t>(width) + 4 * kMargin) +
               static_cast<std::size_t>(width));
  } catch (const std::bad_alloc&) {
    return kReconstructAlloc;
  }
  float* row = buf.data() + 2 * (static_cast<std::size_t>(width) + 4 * kMargin);
  // The first node is the whole image: its rows go to the sink.
  for (auto it = trees.wavelet.rbegin(); it != trees.wavelet.rend(); ++it) {
    const Region& r = it->r;
    if (r.w <= 0 || r.h <= 0) continue;
    const bool last = it + 1 == trees.wavelet.rend();
    synthesiseColumns(image, scratch, width, r, it->invY, s);
    for (int y = 0; y < r.h; ++y) {
      const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(r.y + y) * width + r.x;
      if (!last) {
        synthesiseRow(scratch + off, r.w, image + off, it->invX, s, buf.data());
        continue;
      }
      synthesiseRow(scratch + off, r.w, row, it->invX, s, buf.data());
      if (!sink(context, y, row, r.w)) return kOk;
    }
  }
  return kOk;
}

}  // namespace varnel::wsq::detail
