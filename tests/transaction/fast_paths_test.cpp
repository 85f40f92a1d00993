// Each speed trick of the library against the plain version beside it: same results for every
// length and position around the trick's thresholds.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "transaction/detail/short_piece.h"
#include "transaction/detail/short_text.h"

using namespace varnel::transaction::detail;

TEST(FastPaths, ShortTextCopyEqualsPlainCopy) {
  std::string buffer(64, '\0');
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<char>('a' + i % 26);
  const char* end = buffer.data() + buffer.size();
  for (std::size_t start = 0; start < buffer.size(); ++start) {
    for (std::size_t len = 0; start + len <= buffer.size() && len <= kShortText + 2; ++len) {
      const std::string_view text(buffer.data() + start, len);
      // Readable up to the text's end only, exactly one short copy past its start, and far on.
      for (const char* readable : {text.data() + len, text.data() + kShortText + 1, end}) {
        if (readable > end) continue;
        EXPECT_EQ(copyShortText(text, readable), copyTextPlain(text))
            << "start " << start << " length " << len;
      }
    }
  }
}

TEST(FastPaths, ShortPieceStoreEqualsPlainStore) {
  std::string source(kShortPiece, '\0');
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>('A' + i);
  for (std::size_t len = 0; len <= kShortPiece; ++len) {
    for (char sep : {'\0', '\x1F'}) {
      // Both targets start filled alike, so bytes written past the piece show up too.
      std::string fast(2 * kShortPiece + 2, '#');
      std::string plain = fast;
      char* fastEnd = putShortPiece(fast.data(), std::string_view(source).substr(0, len), sep);
      char* plainEnd = putPiecePlain(plain.data(), std::string_view(source).substr(0, len), sep);
      ASSERT_EQ(fastEnd - fast.data(), plainEnd - plain.data()) << "length " << len;
      EXPECT_EQ(fast.substr(0, static_cast<std::size_t>(fastEnd - fast.data())),
                plain.substr(0, static_cast<std::size_t>(plainEnd - plain.data())))
          << "length " << len;
    }
  }
}
