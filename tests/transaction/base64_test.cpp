#include "transaction/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>

namespace varnel::transaction {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view s) { return {s.begin(), s.end()}; }

TEST(Base64Encode, LaysOutLinesOf76WithCrLfAndAFinalLf) {
  std::string out;
  encodeBase64({}, out);
  EXPECT_EQ(out, "\n");
  encodeBase64(bytesOf("M"), out);
  EXPECT_EQ(out, "TQ==\n");
  encodeBase64(bytesOf("Ma"), out);
  EXPECT_EQ(out, "TWE=\n");
  encodeBase64(bytesOf("Man"), out);
  EXPECT_EQ(out, "TWFu\n");

  const std::vector<std::uint8_t> line(57, 0xFF);
  encodeBase64(line, out);
  EXPECT_EQ(out, std::string(76, '/') + "\r\n\n");

  std::vector<std::uint8_t> more(58, 0);
  encodeBase64(more, out);
  EXPECT_EQ(out, std::string(76, 'A') + "\r\nAA==\n");
  EXPECT_EQ(out.size(), encodedBase64Size(58));
}

// Plain textbook base64 with the same line layout, to hold the fast encoder against.
std::string referenceEncode(const std::vector<std::uint8_t>& in) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string chars;
  for (std::size_t i = 0; i < in.size(); i += 3) {
    const std::uint32_t v = (std::uint32_t{in[i]} << 16) |
                            (i + 1 < in.size() ? std::uint32_t{in[i + 1]} << 8 : 0) |
                            (i + 2 < in.size() ? in[i + 2] : 0);
    chars += kAlphabet[(v >> 18) & 63];
    chars += kAlphabet[(v >> 12) & 63];
    chars += i + 1 < in.size() ? kAlphabet[(v >> 6) & 63] : '=';
    chars += i + 2 < in.size() ? kAlphabet[v & 63] : '=';
  }
  std::string out;
  for (std::size_t i = 0; i < chars.size(); i += 76) {
    out += chars.substr(i, 76);
    if (i + 76 <= chars.size()) out += "\r\n";
  }
  return out + "\n";
}

TEST(Base64Encode, MatchesTextbookEncodingForEverySize) {
  std::mt19937 rng(11);
  for (std::size_t n : {0,  1,  2,  3,  11, 12,  13,  15,  16,   17,   48,   56,
                        57, 58, 60, 63, 64, 113, 114, 115, 1000, 4096, 65537}) {
    std::vector<std::uint8_t> in(n);
    for (auto& b : in) b = static_cast<std::uint8_t>(rng());
    std::string out;
    encodeBase64(in, out);
    EXPECT_TRUE(out == referenceEncode(in)) << n;
  }
}

TEST(Base64Decode, RoundTripsEverySizeThroughTheLineLayout) {
  std::mt19937 rng(7);
  for (std::size_t n = 0; n < 400; ++n) {
    std::vector<std::uint8_t> in(n);
    for (auto& b : in) b = static_cast<std::uint8_t>(rng());
    std::string text;
    encodeBase64(in, text);
    ASSERT_EQ(text.size(), encodedBase64Size(n)) << n;
    std::vector<std::uint8_t> back;
    EXPECT_TRUE(decodeBase64(text, back)) << n;
    EXPECT_EQ(back, in) << n;
  }
}

TEST(Base64Decode, LinesEndingInLfOnlyOrBrokenLateDecodeAlike) {
  std::mt19937 rng(5);
  std::vector<std::uint8_t> in(57 * 5 + 7);
  for (auto& b : in) b = static_cast<std::uint8_t>(rng());
  std::string crlf;
  encodeBase64(in, crlf);
  std::string lf;
  for (char c : crlf) {
    if (c != '\r') lf.push_back(c);
  }
  std::vector<std::uint8_t> out;
  EXPECT_TRUE(decodeBase64(lf, out));
  EXPECT_EQ(out, in);
  // A stray character in the last four characters of the second line: everything before it is
  // kept, nothing after.
  std::string broken = crlf;
  broken[78 + 73] = '*';
  EXPECT_FALSE(decodeBase64(broken, out));
  ASSERT_EQ(out.size(), 57u + 54u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));
}

TEST(Base64Decode, SkipsWhitespaceAnywhereAndStopsAtPadding) {
  std::vector<std::uint8_t> out;
  EXPECT_TRUE(decodeBase64(" T W\r\nF\tu ", out));
  EXPECT_EQ(out, bytesOf("Man"));
  EXPECT_TRUE(decodeBase64("TQ==TWFu", out));
  EXPECT_EQ(out, bytesOf("M"));
  // Unpadded tails still give their whole bytes; a lone sextet gives none.
  EXPECT_TRUE(decodeBase64("TWE", out));
  EXPECT_EQ(out, bytesOf("Ma"));
  EXPECT_TRUE(decodeBase64("TWFuT", out));
  EXPECT_EQ(out, bytesOf("Man"));
}

TEST(Base64Decode, StrayCharacterEndsDecodingKeepingWhatCameBefore) {
  std::vector<std::uint8_t> out;
  EXPECT_FALSE(decodeBase64("TWFu*TWFu", out));
  EXPECT_EQ(out, bytesOf("Man"));
  EXPECT_FALSE(decodeBase64("\x80\xFF", out));
  EXPECT_TRUE(out.empty());
  // The same inside a long run that the block decoder takes sixteen characters at a time.
  const std::string run = std::string(32, 'A') +
                          "AAAA\xC3"
                          "AAAAAAAAAAA" +
                          std::string(32, 'A');
  EXPECT_FALSE(decodeBase64(run, out));
  EXPECT_EQ(out, std::vector<std::uint8_t>(27, 0));
}

// Decoding into a string goes piece by piece; whatever the layout, it must give exactly what the
// whole-text decoder gives, return value included.
TEST(Base64Decode, IntoAStringAgreesWithTheWholeTextDecoderAcrossPieces) {
  std::mt19937 rng(3);
  std::vector<std::uint8_t> data(40000);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  std::string lines;
  encodeBase64(data, lines);  // 76-character lines with CR LF
  std::string oneLine;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(oneLine),
               [](char c) { return c != '\r' && c != '\n'; });
  // Lines of 69 characters: line ends fall inside groups.
  std::string odd;
  for (std::size_t i = 0; i < oneLine.size(); i += 69) odd += oneLine.substr(i, 69) + "\n";
  // Spaces scattered through the text.
  std::string spaced;
  for (const char c : oneLine) {
    spaced += c;
    if (rng() % 50 == 0) spaced += ' ';
  }
  std::vector<std::string> texts = {lines, oneLine, odd, spaced};
  // Padding and a stray character placed around the first piece boundary.
  for (std::size_t at : {16382u, 16383u, 16384u, 16385u, 16386u, 20000u}) {
    std::string padded = oneLine;
    padded[at] = '=';
    texts.push_back(padded);
    std::string stray = lines;
    stray[at] = '*';
    texts.push_back(stray);
  }
  texts.push_back(oneLine.substr(0, 16384 + 3));  // a last piece of a partial group
  for (std::size_t t = 0; t < texts.size(); ++t) {
    std::vector<std::uint8_t> whole;
    const bool wholeOk = decodeBase64(texts[t], whole);
    std::string pieces = "left over";
    const bool piecesOk = decodeBase64(texts[t], pieces);
    EXPECT_EQ(piecesOk, wholeOk) << t;
    ASSERT_EQ(pieces.size(), whole.size()) << t;
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), pieces.begin(), [](std::uint8_t a, char b) {
      return a == static_cast<std::uint8_t>(b);
    })) << t;
  }
  std::string out;
  EXPECT_TRUE(decodeBase64(lines, out));
  EXPECT_EQ(out.size(), data.size());
}

// A last group of a single character is no valid length: refused, short or past a piece boundary,
// with or without padding after it; two or three characters are a valid unpadded ending.
TEST(Base64Decode, StrictRefusesADanglingCharacter) {
  std::string out;
  EXPECT_FALSE(decodeBase64Strict("TWFuT", out));
  EXPECT_FALSE(decodeBase64Strict("TWFuT\r\n", out));
  EXPECT_FALSE(decodeBase64Strict("TWFuT=", out));
  EXPECT_TRUE(decodeBase64Strict("TWFuTQ", out));
  EXPECT_EQ(out, "ManM");
  EXPECT_TRUE(decodeBase64Strict("TWFuTWE\n", out));
  const std::string longText = std::string(40000, 'A');
  EXPECT_TRUE(decodeBase64Strict(longText, out));
  EXPECT_FALSE(decodeBase64Strict(longText + "B", out));
  EXPECT_FALSE(decodeBase64Strict(std::string(16385, 'A'), out));
}

TEST(Base64, KnownVectorsBothWays) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, coded] : cases) {
    std::string enc;
    encodeBase64({reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()}, enc);
    EXPECT_EQ(enc, coded + "\n");  // the line layout ends with LF
    std::vector<std::uint8_t> dec;
    EXPECT_TRUE(decodeBase64(coded, dec));
    EXPECT_EQ(std::string(dec.begin(), dec.end()), plain);
  }
}

TEST(Base64, LenientDecodeSkipsLineBreaksAndFlagsStrayCharacters) {
  std::vector<std::uint8_t> dec;
  EXPECT_TRUE(decodeBase64Lenient("Zm9v\r\nYmFy\n", dec));
  EXPECT_EQ(std::string(dec.begin(), dec.end()), "foobar");
  EXPECT_FALSE(decodeBase64Lenient("Zm9v*YmFy=*", dec));
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

}  // namespace
}  // namespace varnel::transaction
