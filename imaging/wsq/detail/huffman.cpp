#include "imaging/wsq/detail/huffman.h"

#include <algorithm>
#include <cstddef>

namespace varnel::wsq::detail {

void buildHuffmanTable(const std::array<std::uint32_t, 256>& freqIn, HuffmanTable& table) noexcept {
  std::array<std::uint64_t, 257> freq{};
  std::array<int, 257> codeSize{};
  std::array<int, 257> others{};
  for (int i = 0; i < 256; ++i)
    freq[static_cast<std::size_t>(i)] = freqIn[static_cast<std::size_t>(i)];
  freq[256] = 1;  // reserved: no real code ends up all 1-bits
  others.fill(-1);
  // The live trees in a heap whose top is the least frequent one, the higher symbol first among
  // equals: the two taken each round are those a scan for the least frequent would choose.
  struct Tree {
    std::uint64_t freq;
    int sym;
  };
  auto lower = [](const Tree& x, const Tree& y) {
    return x.freq != y.freq ? x.freq > y.freq : x.sym < y.sym;
  };
  std::array<Tree, 257> heap{};
  std::size_t live = 0;
  for (int i = 0; i <= 256; ++i) {
    if (freq[static_cast<std::size_t>(i)] != 0)
      heap[live++] = {freq[static_cast<std::size_t>(i)], i};
  }
  std::make_heap(heap.begin(), heap.begin() + static_cast<std::ptrdiff_t>(live), lower);
  while (live >= 2) {
    std::pop_heap(heap.begin(), heap.begin() + static_cast<std::ptrdiff_t>(live--), lower);
    int c1 = heap[live].sym;
    std::pop_heap(heap.begin(), heap.begin() + static_cast<std::ptrdiff_t>(live--), lower);
    int c2 = heap[live].sym;
    freq[static_cast<std::size_t>(c1)] += freq[static_cast<std::size_t>(c2)];
    freq[static_cast<std::size_t>(c2)] = 0;
    heap[live++] = {freq[static_cast<std::size_t>(c1)], c1};
    std::push_heap(heap.begin(), heap.begin() + static_cast<std::ptrdiff_t>(live), lower);
    ++codeSize[static_cast<std::size_t>(c1)];
    while (others[static_cast<std::size_t>(c1)] >= 0) {
      c1 = others[static_cast<std::size_t>(c1)];
      ++codeSize[static_cast<std::size_t>(c1)];
    }
    others[static_cast<std::size_t>(c1)] = c2;
    ++codeSize[static_cast<std::size_t>(c2)];
    while (others[static_cast<std::size_t>(c2)] >= 0) {
      c2 = others[static_cast<std::size_t>(c2)];
      ++codeSize[static_cast<std::size_t>(c2)];
    }
  }
  std::array<int, 258> bits{};
  for (int i = 0; i <= 256; ++i) {
    const int s = codeSize[static_cast<std::size_t>(i)];
    if (s > 0) ++bits[static_cast<std::size_t>(s)];
  }
  // Limit code lengths to 16 bits (Annex K.3).
  for (int i = 257; i > kMaxCodeLength; --i) {
    while (bits[static_cast<std::size_t>(i)] > 0) {
      int j = i - 2;
      while (bits[static_cast<std::size_t>(j)] == 0) --j;
      bits[static_cast<std::size_t>(i)] -= 2;
      bits[static_cast<std::size_t>(i) - 1] += 1;
      bits[static_cast<std::size_t>(j) + 1] += 2;
      bits[static_cast<std::size_t>(j)] -= 1;
    }
  }
  // Drop the reserved symbol from the longest length.
  int longest = kMaxCodeLength;
  while (longest > 0 && bits[static_cast<std::size_t>(longest)] == 0) --longest;
  if (longest > 0) --bits[static_cast<std::size_t>(longest)];
  table = HuffmanTable{};
  for (int l = 1; l <= kMaxCodeLength; ++l) {
    table.bits[static_cast<std::size_t>(l - 1)] =
        static_cast<std::uint8_t>(bits[static_cast<std::size_t>(l)]);
  }
  // Symbols sorted by their original code length, then by value; the length limiting only moved
  // counts, so this order matches the adjusted counts.
  std::array<int, 258> start{};  // first slot of each length, counted then summed
  for (int s = 0; s < 256; ++s)
    ++start[static_cast<std::size_t>(codeSize[static_cast<std::size_t>(s)]) + 1];
  start[1] = 0;  // symbols without a code (length 0) are left out
  for (std::size_t l = 2; l < start.size(); ++l) start[l] += start[l - 1];
  const int n = start[257];
  for (int s = 0; s < 256; ++s) {
    const int l = codeSize[static_cast<std::size_t>(s)];
    if (l > 0) {
      table.values[static_cast<std::size_t>(start[static_cast<std::size_t>(l)]++)] =
          static_cast<std::uint8_t>(s);
    }
  }
  int total = 0;
  for (auto b : table.bits) total += b;
  table.count = total < n ? total : n;
}

bool makeEncoder(const HuffmanTable& table, HuffmanEncoder& enc) noexcept {
  enc = HuffmanEncoder{};
  std::uint32_t code = 0;
  int k = 0;
  for (int l = 1; l <= kMaxCodeLength; ++l) {
    for (int i = 0; i < table.bits[static_cast<std::size_t>(l - 1)]; ++i) {
      if (k >= table.count || code >= (1U << l)) return false;
      const std::uint8_t sym = table.values[static_cast<std::size_t>(k++)];
      enc.code[sym] = static_cast<std::uint16_t>(code++);
      enc.size[sym] = static_cast<std::uint8_t>(l);
    }
    code <<= 1;
  }
  return true;
}

bool makeDecoder(const HuffmanTable& table, HuffmanDecoder& dec) noexcept {
  dec.fast.fill(0);
  dec.maxCode.fill(-1);
  dec.valOffset.fill(0);
  dec.table = table;
  dec.defined = false;
  std::uint32_t code = 0;
  int k = 0;
  for (int l = 1; l <= kMaxCodeLength; ++l) {
    const int n = table.bits[static_cast<std::size_t>(l - 1)];
    if (n > 0) {
      if (k + n > table.count || code + static_cast<std::uint32_t>(n) > (1U << l)) return false;
      dec.valOffset[static_cast<std::size_t>(l)] = k - static_cast<std::int32_t>(code);
      for (int i = 0; i < n; ++i) {
        if (l <= kFastBits) {
          const std::uint32_t first = (code + static_cast<std::uint32_t>(i)) << (kFastBits - l);
          const std::uint32_t span = 1U << (kFastBits - l);
          const std::uint32_t sym = table.values[static_cast<std::size_t>(k) + i];
          std::uint32_t entry = static_cast<std::uint32_t>(l) | (sym << 8);
          if (sym >= 1 && sym <= 100) {
            entry |= sym << 16;
          } else if (sym >= 107 && sym <= 254) {
            entry |= 1U << 16;
          }
          for (std::uint32_t j = 0; j < span; ++j) dec.fast[first + j] = entry;
        }
      }
      code += static_cast<std::uint32_t>(n);
      k += n;
      dec.maxCode[static_cast<std::size_t>(l)] = static_cast<std::int32_t>(code) - 1;
    }
    code <<= 1;
  }
  dec.defined = true;
  return true;
}

}  // namespace varnel::wsq::detail
