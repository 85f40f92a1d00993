#include "transaction/detail/byte_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "tests/common/tx_builder.h"
#include "transaction/status.h"
#include "transaction/traditional.h"

using namespace varnel::transaction;
using varnel::test::TxBuilder;

namespace {

bool isSeparator(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x1C && u <= 0x1F;
}

// Random bytes around the separators, with separators placed sparsely or densely.
std::string randomBytes(std::mt19937& rng, std::size_t n, int separatorOdds) {
  std::string s(n, '\0');
  for (char& c : s) {
    const unsigned r = rng();
    c = r % static_cast<unsigned>(separatorOdds) == 0 ? static_cast<char>(0x1C + (r >> 8) % 4)
                                                      : static_cast<char>((r >> 8) & 0xFF);
  }
  return s;
}

}  // namespace

TEST(ByteScan, AgreesWithAPlainLoopAtEveryLengthAndPosition) {
  std::mt19937 rng(11);
  for (int odds : {2, 9, 40, 1000}) {
    for (std::size_t n = 0; n < 70; ++n) {
      for (int trial = 0; trial < 20; ++trial) {
        const std::string s = randomBytes(rng, n, odds);
        const char* b = s.data();
        std::size_t first = 0;
        while (first < n && !isSeparator(s[first])) ++first;
        EXPECT_EQ(detail::findSeparator(b, b + n) - b, static_cast<std::ptrdiff_t>(first));

        for (std::uint8_t sep : {0x1E, 0x1F}) {
          std::size_t count = 0;
          for (char c : s) {
            if (static_cast<std::uint8_t>(c) == sep) {
              ++count;
            } else if (isSeparator(c) && static_cast<std::uint8_t>(c) < sep) {
              break;
            }
          }
          EXPECT_EQ(detail::countSeparatorsBefore(s, sep), count) << int{sep};
        }

        std::size_t gs = 0;
        for (char c : s) gs += c == '\x1D' ? 1 : 0;
        EXPECT_EQ(detail::countByte(s, 0x1D), gs);
      }
    }
  }
  // Bytes with the separators' high bits set are not separators.
  const std::string lookalikes =
      "\x9C\x9D\x9E\x9F\xFC\xFD\x3C\x5E\x0C\x1B\x20\x7F\x1A\x3F\x9F\xDE\x1E";
  EXPECT_EQ(detail::findSeparator(lookalikes.data(), lookalikes.data() + lookalikes.size()) -
                lookalikes.data(),
            16);
  // More than 255 blocks of matches: the lane counters must not wrap.
  EXPECT_EQ(detail::countByte(std::string(300 * 16 + 5, '\x1D'), 0x1D), 300u * 16 + 5);
}

TEST(ByteScan, LargeFileReadThroughTheWindowEqualsTheInMemoryRead) {
  // Larger than the size read whole, so that tags, items and separators fall across window
  // edges; items of many lengths, empty ones included, and image data holding separators.
  std::mt19937 rng(5);
  TxBuilder::Fields text;
  TxBuilder::Fields minutiae;
  std::string longList;
  for (int f = 3; f < 9000; ++f) {
    std::string v;
    const int items = 1 + static_cast<int>(rng() % 5);
    for (int i = 0; i < items; ++i) {
      if (i > 0) v += rng() % 3 == 0 ? '\x1E' : '\x1F';
      v += std::string(rng() % 40, static_cast<char>('A' + rng() % 26));
    }
    text.emplace_back(f, v);
  }
  for (int m = 0; m < 3000; ++m) {
    if (m > 0) longList += '\x1E';
    longList += std::to_string(m) + "\x1F" + std::to_string(rng()) + "\x1F\x1F" + "Q";
  }
  minutiae.emplace_back(12, longList);
  std::string image = randomBytes(rng, 700000, 7);
  const std::string bytes = TxBuilder()
                                .type1()
                                .tagged(2, text)
                                .tagged(9, minutiae)
                                .tagged(14, {{2, "01"}, {999, image}})
                                .tagged(2, {{2, "02"}, {3, std::string(70000, 'L')}})
                                .bytes();
  ASSERT_GT(bytes.size(), 1280u * 1024);

  std::unique_ptr<Transaction> fromMemory;
  ASSERT_EQ(readTraditionalBytes(bytes, fromMemory), kOk);
  const std::string path = varnel::test::tempFile(bytes);
  std::unique_ptr<Transaction> fromFile;
  ASSERT_EQ(readTraditional(path, fromFile), kOk);
  std::string fromFileWritten;
  std::string fromMemoryWritten;
  ASSERT_EQ(writeTraditionalBytes(*fromFile, fromFileWritten), kOk);
  ASSERT_EQ(writeTraditionalBytes(*fromMemory, fromMemoryWritten), kOk);
  EXPECT_TRUE(fromFileWritten == bytes);
  EXPECT_TRUE(fromMemoryWritten == bytes);
  ASSERT_EQ(fromFile->records.size(), fromMemory->records.size());
  for (std::size_t r = 0; r < fromFile->records.size(); ++r) {
    const Record& a = fromFile->records[r];
    const Record& b = fromMemory->records[r];
    ASSERT_EQ(a.fields.size(), b.fields.size());
    EXPECT_EQ(a.byteTotal, b.byteTotal);
    for (std::size_t f = 0; f < a.fields.size(); ++f) {
      ASSERT_EQ(a.fields[f].subfields.size(), b.fields[f].subfields.size());
      EXPECT_EQ(a.fields[f].tag, b.fields[f].tag);
      EXPECT_EQ(a.fields[f].byteTotal, b.fields[f].byteTotal);
      for (std::size_t s = 0; s < a.fields[f].subfields.size(); ++s) {
        const Subfield& x = a.fields[f].subfields[s];
        const Subfield& y = b.fields[f].subfields[s];
        ASSERT_EQ(x.items.size(), y.items.size());
        for (std::size_t i = 0; i < x.items.size(); ++i) {
          EXPECT_EQ(x.items[i].value, y.items[i].value);
          EXPECT_EQ(x.items[i].byteCount, y.items[i].byteCount);
          EXPECT_EQ(x.items[i].hasUs, y.items[i].hasUs);
        }
      }
    }
  }
  std::remove(path.c_str());
}
