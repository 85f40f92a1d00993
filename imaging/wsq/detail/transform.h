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

}  // namespace varnel::wsq::detail
