#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace varnel::wsq::detail {

/// Room past the end of n coefficients' worth of symbols that collectSymbolsWide may write into.
inline constexpr std::size_t kSymbolSlack = 32;

/// The symbols of collectSymbols(), the same ones in the same order with the same counts, found
/// sixteen coefficients at a time on processors with AVX-512 (collectSymbols() itself on the
/// others). `out` needs room for n + kSymbolSlack entries.
std::size_t collectSymbolsWide(const std::int16_t* c, std::size_t n, std::uint32_t* out,
                               std::array<std::uint32_t, 256>& freq) noexcept;

}  // namespace varnel::wsq::detail
