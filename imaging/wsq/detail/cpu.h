#pragma once

namespace varnel::wsq::detail {

/// Whether the processor runs AVX2 instructions; asked once. The AVX2 versions of the codec's
/// loops use the same operations in the same order as the SSE2 ones, so either gives the same
/// bytes.
inline bool haveAvx2() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool kHave = __builtin_cpu_supports("avx2") != 0;
  return kHave;
#else
  return false;
#endif
}

}  // namespace varnel::wsq::detail
