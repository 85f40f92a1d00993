#pragma once

#include <vector>

#include "imaging/wsq/detail/tree.h"

namespace varnel::wsq::detail {

/// Analysis filters as full symmetric tap arrays (odd lengths, centre tap in the middle).
struct FilterBank {
  std::vector<float> low;
  std::vector<float> high;
};

/// The standard 9-tap low-pass and 7-tap high-pass analysis filters.
const FilterBank& standardFilters() noexcept;

/// Decomposes the width x height image in place through the 20 tree nodes in order. `scratch`
/// must hold width x height floats.
void decompose(float* image, int width, const Trees& trees, const FilterBank& f,
               float* scratch) noexcept;

/// Reverses decompose(): the tree nodes in reverse order, columns then rows.
void reconstruct(float* image, int width, const Trees& trees, const FilterBank& f,
                 float* scratch) noexcept;

}  // namespace varnel::wsq::detail
