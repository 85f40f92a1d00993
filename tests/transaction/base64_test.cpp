#include "transaction/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace varnel::transaction;

TEST(Base64, KnownVectorsBothWays) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, coded] : cases) {
    std::string enc;
    encodeBase64({reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()}, enc);
    EXPECT_EQ(enc, coded);
    std::vector<std::uint8_t> dec;
    EXPECT_TRUE(decodeBase64(coded, dec));
    EXPECT_EQ(std::string(dec.begin(), dec.end()), plain);
  }
}

TEST(Base64, SkipsLineBreaksAndFlagsStrayCharacters) {
  std::vector<std::uint8_t> dec;
  EXPECT_TRUE(decodeBase64("Zm9v\r\nYmFy\n", dec));
  EXPECT_EQ(std::string(dec.begin(), dec.end()), "foobar");
  EXPECT_FALSE(decodeBase64("Zm9v*YmFy", dec));
  EXPECT_EQ(std::string(dec.begin(), dec.end()), "foobar");
}

TEST(Base64, AllByteValuesRoundTrip) {
  std::vector<std::uint8_t> all(256 * 3 + 1);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i * 7);
  std::string enc;
  encodeBase64(all, enc);
  std::vector<std::uint8_t> dec;
  ASSERT_TRUE(decodeBase64(enc, dec));
  EXPECT_EQ(dec, all);
}
