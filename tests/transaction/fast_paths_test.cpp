// Each speed trick of the library against the plain version beside it: same results for every
// length and position around the trick's thresholds.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

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
