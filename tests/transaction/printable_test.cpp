#include "transaction/printable.h"

#include <gtest/gtest.h>

#include <string>

using varnel::transaction::printableText;

TEST(PrintableText, EscapesSeparatorsBackslashAndHighBytesAndMarksACut) {
  const std::string text = std::string("A\x1E") + "b\\c" + std::string("\xE9\x00", 2) + "z";
  EXPECT_EQ(printableText(text), "A\\x1Eb\\x5Cc\\xE9\\x00z");
  EXPECT_EQ(printableText(text, 3), "A\\x1Eb...");
  EXPECT_EQ(printableText("abc", 3), "abc");
}
