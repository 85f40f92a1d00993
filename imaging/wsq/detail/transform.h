#pragma once

#include <vector>

#include "imaging/wsq/detail/tree.h"

namespace varnel::wsq::detail {

/// Longest filter the transform handles.
inline constexpr std::size_t kMaxTaps = 79;

/// Analysis filters as full symmetric tap arrays (odd lengths up to 79, centre tap in the
/// middle).
struct FilterBank {
  std::vector<float> low;
  std::vector<float> high;
};

/// The standard 9-tap low-pass and 7-tap high-pass analysis filters.
const FilterBank& standardFilters() noexcept;

/// Decomposes the width x height image in place through the 20 tree nodes in order. `scratch`
/// must hold width x height floats. Returns kOk or kDecomposeAlloc.
[[nodiscard]] int decompose(float* image, int width, const Trees& trees, const FilterBank& f,
                            float* scratch) noexcept;

/// Reverses decompose(): the tree nodes in reverse order, columns then rows. Returns kOk or
/// kReconstructAlloc.
[[nodiscard]] int reconstruct(float* image, int width, const Trees& trees, const FilterBank& f,
                              float* scratch) noexcept;

/// Takes the rows of the image as reconstruct() finishes them: row y of `width` samples. Returns
/// false to stop.
using RowSink = bool (*)(void* context, int y, const float* row, int width) noexcept;

/// reconstruct(), handing the finished rows to `sink` in order instead of writing them back, so
/// they can be used while still in the cache. The image is left partly reconstructed. Returns
/// kOk, also when the sink stopped it (the sink knows why), or kReconstructAlloc before any row
/// is handed over.
[[nodiscard]] int reconstructRows(float* image, int width, const Trees& trees, const FilterBank& f,
                                  float* scratch, RowSink sink, void* context) noexcept;

}  // namespace varnel::wsq::detail
