#pragma once

#include <array>
#include <cstdint>

namespace varnel::wsq::detail {

inline constexpr int kMaxCodeLength = 16;
inline constexpr int kFastBits = 11;

/// A Huffman table as carried in the stream: counts of codes per length and the symbols in
/// code order.
struct HuffmanTable {
  std::array<std::uint8_t, kMaxCodeLength> bits{};  // bits[l - 1] codes of length l
  std::array<std::uint8_t, 256> values{};
  int count = 0;  // number of symbols in `values`
};

/// Builds the table for the given symbol frequencies (JPEG Annex K): one extra reserved symbol
/// keeps every code from being all 1-bits, code lengths are limited to 16 bits.
void buildHuffmanTable(const std::array<std::uint32_t, 256>& freq, HuffmanTable& table) noexcept;

/// Encoder side: code and length per symbol (length 0 for symbols without a code).
struct HuffmanEncoder {
  std::array<std::uint16_t, 256> code{};
  std::array<std::uint8_t, 256> size{};
};

/// Canonical codes of a table. Returns false when the counts overflow their code lengths.
bool makeEncoder(const HuffmanTable& table, HuffmanEncoder& enc) noexcept;

/// Decoder side: a lookup on the next kFastBits bits plus the canonical ranges per length.
struct HuffmanDecoder {
  // Entry for the next kFastBits bits: code length in bits 0-7 (0 = a longer code), symbol in
  // bits 8-15, and in bits 16-23 the number of coefficients a zero run (1-100) or a small value
  // (107-254) covers; 0 for symbols with extra bits and invalid ones.
  std::array<std::uint32_t, 1U << kFastBits> fast{};
  std::array<std::int32_t, kMaxCodeLength + 1> maxCode{};  // -1 when no code of that length
  std::array<std::int32_t, kMaxCodeLength + 1> valOffset{};
  HuffmanTable table;
  bool defined = false;
};

/// Prepares a decoder. Returns false when the counts overflow their code lengths.
bool makeDecoder(const HuffmanTable& table, HuffmanDecoder& dec) noexcept;

}  // namespace varnel::wsq::detail
