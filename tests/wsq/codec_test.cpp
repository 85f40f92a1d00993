// Building blocks of the codec and whole-image round trips.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "imaging/wsq/detail/entropy.h"
#include "imaging/wsq/detail/huffman.h"
#include "imaging/wsq/detail/name_value.h"
#include "imaging/wsq/detail/symbol_scan.h"
#include "imaging/wsq/detail/transform.h"
#include "imaging/wsq/detail/tree.h"
#include "imaging/wsq/status.h"
#include "imaging/wsq/wsq.h"
#include "tests/wsq/wsq_test_util.h"

namespace varnel::wsq {
namespace {

struct Sym {
  int sym;
  std::uint32_t extra;
  int bits;
  bool operator==(const Sym&) const = default;
};

std::vector<Sym> symbols(const std::vector<std::int16_t>& c) {
  std::vector<std::uint32_t> packed(c.size());
  std::array<std::uint32_t, 256> freq{};
  packed.resize(detail::collectSymbols(c.data(), c.size(), packed.data(), freq));
  // The sixteen-lane scan (where the processor has it) must give the same symbols and counts.
  std::vector<std::uint32_t> wide(c.size() + detail::kSymbolSlack);
  std::array<std::uint32_t, 256> wideFreq{};
  wide.resize(detail::collectSymbolsWide(c.data(), c.size(), wide.data(), wideFreq));
  EXPECT_EQ(wide, packed);
  EXPECT_EQ(wideFreq, freq);
  std::vector<Sym> out;
  for (std::uint32_t p : packed) {
    const auto sym = static_cast<int>(p & 0xFFU);
    out.push_back({sym, p >> 8, detail::kExtraBits[static_cast<std::size_t>(sym)]});
    --freq[static_cast<std::size_t>(sym)];
  }
  EXPECT_EQ(freq, (std::array<std::uint32_t, 256>{})) << "counts differ from the symbols";
  return out;
}

TEST(WsqEntropySymbols, ZeroRunsSplitAt65535) {
  std::vector<std::int16_t> c(70000, 0);
  c.push_back(5);
  EXPECT_EQ(symbols(c), (std::vector<Sym>{{106, 65535, 16}, {106, 4465, 16}, {185, 0, 0}}));
  // Exactly 65535 zeros then a value, and exactly 65536.
  std::vector<std::int16_t> d(65535, 0);
  d.push_back(1);
  EXPECT_EQ(symbols(d), (std::vector<Sym>{{106, 65535, 16}, {181, 0, 0}}));
  std::vector<std::int16_t> e(65536, 0);
  EXPECT_EQ(symbols(e), (std::vector<Sym>{{106, 65535, 16}, {1, 0, 0}}));
}

TEST(WsqEntropySymbols, RunAndValueClassBoundaries) {
  auto run = [](int n) {
    return symbols(std::vector<std::int16_t>(static_cast<std::size_t>(n), 0));
  };
  EXPECT_EQ(run(100), (std::vector<Sym>{{100, 0, 0}}));
  EXPECT_EQ(run(101), (std::vector<Sym>{{105, 101, 8}}));
  EXPECT_EQ(run(255), (std::vector<Sym>{{105, 255, 8}}));
  EXPECT_EQ(run(256), (std::vector<Sym>{{106, 256, 16}}));
  EXPECT_EQ(symbols({74, -73, 75, -74, 255, -255, 256, -256, 32767}),
            (std::vector<Sym>{{254, 0, 0},
                              {107, 0, 0},
                              {101, 75, 8},
                              {102, 74, 8},
                              {101, 255, 8},
                              {102, 255, 8},
                              {103, 256, 16},
                              {104, 256, 16},
                              {103, 32767, 16}}));
}

TEST(WsqEntropySymbols, SparseCoefficientsAcrossScanChunks) {
  // Values at and around the 64-coefficient chunk edges, runs of every short length, a run
  // crossing several chunks, and lengths that end mid-chunk; compared with a plain walk.
  std::mt19937 rng(11);
  for (std::size_t n : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65},
                        std::size_t{200}, std::size_t{1000}}) {
    for (int density : {2, 10, 150}) {
      std::vector<std::int16_t> c(n, 0);
      for (auto& v : c) {
        if (rng() % static_cast<unsigned>(density) == 0)
          v = static_cast<std::int16_t>(static_cast<int>(rng() % 601) - 300);
      }
      std::vector<Sym> expected;
      std::size_t run = 0;
      auto flush = [&] {
        if (run == 0) return;
        if (run <= 100) {
          expected.push_back({static_cast<int>(run), 0, 0});
        } else {
          expected.push_back(run <= 255 ? Sym{105, static_cast<std::uint32_t>(run), 8}
                                        : Sym{106, static_cast<std::uint32_t>(run), 16});
        }
        run = 0;
      };
      for (std::int16_t v : c) {
        if (v == 0) {
          ++run;
          continue;
        }
        flush();
        const auto m = static_cast<std::uint32_t>(v < 0 ? -v : v);
        if (v >= -73 && v <= 74) {
          expected.push_back({v + 180, 0, 0});
        } else {
          expected.push_back({(m <= 255 ? 101 : 103) + (v < 0 ? 1 : 0), m, m <= 255 ? 8 : 16});
        }
      }
      flush();
      EXPECT_EQ(symbols(c), expected) << "n " << n << " density " << density;
    }
  }
}

TEST(WsqHuffman, CodesAreAtMost16BitsAndNeverAllOnes) {
  // Fibonacci frequencies give the deepest possible tree.
  std::array<std::uint32_t, 256> freq{};
  std::uint32_t a = 1;
  std::uint32_t b = 1;
  for (int s = 1; s <= 30; ++s) {
    freq[static_cast<std::size_t>(s)] = a;
    const std::uint32_t t = a + b;
    a = b;
    b = t;
  }
  for (const bool skewed : {true, false}) {
    if (!skewed) {
      freq.fill(0);
      for (int s = 1; s < 255; ++s) freq[static_cast<std::size_t>(s)] = 1000;
    }
    detail::HuffmanTable table;
    detail::buildHuffmanTable(freq, table);
    detail::HuffmanEncoder enc;
    ASSERT_TRUE(detail::makeEncoder(table, enc));
    int coded = 0;
    for (int s = 0; s < 256; ++s) {
      const int len = enc.size[static_cast<std::size_t>(s)];
      if (freq[static_cast<std::size_t>(s)] == 0) {
        EXPECT_EQ(len, 0) << s;
        continue;
      }
      ++coded;
      ASSERT_GE(len, 1) << s;
      EXPECT_LE(len, 16) << s;
      EXPECT_NE(enc.code[static_cast<std::size_t>(s)], (1U << len) - 1U)
          << "all ones, symbol " << s;
    }
    EXPECT_EQ(coded, table.count);
    // The decoder tables accept what the encoder made.
    detail::HuffmanDecoder dec;
    EXPECT_TRUE(detail::makeDecoder(table, dec));
  }
}

TEST(WsqHuffman, OversubscribedTablesAreRefused) {
  detail::HuffmanTable table;
  table.bits[0] = 3;  // three codes of one bit cannot exist
  table.count = 3;
  detail::HuffmanDecoder dec;
  EXPECT_FALSE(detail::makeDecoder(table, dec));
  detail::HuffmanEncoder enc;
  EXPECT_FALSE(detail::makeEncoder(table, enc));
}

TEST(WsqTrees, SubbandsTileTheImage) {
  for (auto [w, h] : {std::pair{800, 750}, std::pair{545, 622}, std::pair{33, 47}, std::pair{1, 1},
                      std::pair{65535, 3}}) {
    detail::Trees t;
    detail::buildTrees(w, h, t);
    long long area = 0;
    for (const auto& r : t.subband) {
      EXPECT_GE(r.x, 0);
      EXPECT_GE(r.y, 0);
      EXPECT_LE(r.x + r.w, w);
      EXPECT_LE(r.y + r.h, h);
      area += static_cast<long long>(r.w) * r.h;
    }
    EXPECT_EQ(area, static_cast<long long>(w) * h) << w << "x" << h;
  }
}

TEST(WsqTransform, ReconstructionInvertsDecomposition) {
  for (auto [w, h] : {std::pair{37, 29}, std::pair{64, 64}, std::pair{129, 70}, std::pair{5, 9}}) {
    detail::Trees t;
    detail::buildTrees(w, h, t);
    std::vector<float> img(static_cast<std::size_t>(w * h));
    std::mt19937 rng(7);
    for (auto& v : img) v = static_cast<float>(rng() % 256) - 128.0F;
    const auto orig = img;
    std::vector<float> scratch(img.size());
    ASSERT_EQ(detail::decompose(img.data(), w, t, detail::standardFilters(), scratch.data()), kOk);
    ASSERT_EQ(detail::reconstruct(img.data(), w, t, detail::standardFilters(), scratch.data()),
              kOk);
    float worst = 0.0F;
    for (std::size_t i = 0; i < img.size(); ++i)
      worst = std::max(worst, std::fabs(img[i] - orig[i]));
    EXPECT_LT(worst, 1e-3F) << w << "x" << h;
  }
}

struct RoundTrip {
  int rc = -1;
  int worst = 0;
  double meanAbs = 0.0;
  std::size_t bytes = 0;
};

RoundTrip roundTrip(const std::vector<std::uint8_t>& img, int w, int h, float rate) {
  RoundTrip r;
  std::vector<std::uint8_t> s;
  r.rc = wsqEncode(rate, img, w, h, s);
  if (r.rc != 0) return r;
  r.bytes = s.size();
  std::vector<std::uint8_t> px;
  int dw = 0;
  int dh = 0;
  int d = 0;
  int ppi = 0;
  int lossy = 0;
  r.rc = wsqDecode(s, px, dw, dh, d, ppi, lossy);
  if (r.rc != 0) return r;
  EXPECT_EQ(dw, w);
  EXPECT_EQ(dh, h);
  double sum = 0;
  for (std::size_t i = 0; i < img.size(); ++i) {
    const int e = std::abs(img[i] - px[i]);
    r.worst = std::max(r.worst, e);
    sum += e;
  }
  r.meanAbs = sum / static_cast<double>(img.size());
  return r;
}

TEST(WsqRoundTrip, OddAndEvenSizesStayCloseToTheOriginal) {
  for (auto [w, h] :
       {std::pair{300, 280}, std::pair{301, 257}, std::pair{97, 131}, std::pair{640, 64}}) {
    const auto img = test::ridgeImage(w, h, 3);
    const RoundTrip hi = roundTrip(img, w, h, 2.25F);
    ASSERT_EQ(hi.rc, 0) << w << "x" << h;
    EXPECT_LT(hi.meanAbs, 6.0) << w << "x" << h;
    const RoundTrip lo = roundTrip(img, w, h, 0.75F);
    ASSERT_EQ(lo.rc, 0) << w << "x" << h;
    EXPECT_LT(lo.bytes, hi.bytes) << w << "x" << h;
  }
}

TEST(WsqRoundTrip, UniformImageEncodesAndComesBackUniform) {
  for (const int grey : {0, 128, 255}) {
    const std::vector<std::uint8_t> img(200 * 150, static_cast<std::uint8_t>(grey));
    const RoundTrip r = roundTrip(img, 200, 150, 2.25F);
    ASSERT_EQ(r.rc, 0) << grey;
    EXPECT_EQ(r.worst, 0) << grey;
  }
}

TEST(WsqRoundTrip, ResultsDoNotDependOnTheThreadsEarlierImages) {
  // Working buffers outlive a call: what a larger, noisier image leaves in them must not leak
  // into the next image's stream or pixels. The reference comes from a thread of its own.
  // Smooth waves, where the finest subbands have almost no variance and go uncoded, and a
  // fine ridge pattern in one corner, which gives short zero runs.
  const auto ridges = test::ridgeImage(300, 280, 5);
  std::vector<std::uint8_t> img(300 * 280);
  for (int y = 0; y < 280; ++y) {
    for (int x = 0; x < 300; ++x) {
      const auto i = static_cast<std::size_t>(y * 300 + x);
      img[i] =
          x < 60 && y < 60
              ? ridges[i]
              : static_cast<std::uint8_t>(128.0 + 90.0 * std::sin(x / 9.0) * std::cos(y / 13.0));
    }
  }
  struct Out {
    int rc = -1;
    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> pixels;
  };
  auto decode = [](const std::vector<std::uint8_t>& s, std::vector<std::uint8_t>& px) {
    int w = 0;
    int h = 0;
    int d = 0;
    int ppi = 0;
    int lossy = 0;
    return wsqDecode(s, px, w, h, d, ppi, lossy);
  };
  // A larger image coded at a high rate fills every buffer with other values.
  auto other = [&] {
    std::mt19937 g(3);
    std::vector<std::uint8_t> noise(400 * 400);
    for (auto& v : noise) v = static_cast<std::uint8_t>(g());
    std::vector<std::uint8_t> s;
    std::vector<std::uint8_t> px;
    if (wsqEncode(6.0F, noise, 400, 400, s) == 0) (void)decode(s, px);
  };
  Out fresh;
  std::thread([&] {
    fresh.rc = wsqEncode(0.75F, img, 300, 280, fresh.stream);
    if (fresh.rc == 0) fresh.rc = decode(fresh.stream, fresh.pixels);
  }).join();
  ASSERT_EQ(fresh.rc, 0);
  WsqInfo info;
  ASSERT_EQ(wsqReadInfo(fresh.stream, info), 0);
  EXPECT_EQ(info.q[59], 0.0F);  // the decoder fills subbands without coefficients too
  Out reused;
  std::thread([&] {
    other();
    reused.rc = wsqEncode(0.75F, img, 300, 280, reused.stream);
    other();
    if (reused.rc == 0) reused.rc = decode(fresh.stream, reused.pixels);
  }).join();
  EXPECT_EQ(reused.rc, 0);
  EXPECT_EQ(reused.stream, fresh.stream);
  EXPECT_EQ(reused.pixels, fresh.pixels);
}

TEST(WsqRoundTrip, StreamLargerThanImageIsRefused) {
  // The stream may not exceed width x height bytes; the tables alone need about 500.
  const auto img = test::ridgeImage(16, 16);
  std::vector<std::uint8_t> s = {1, 2, 3};
  const int rc = wsqEncode(2.25F, img, 16, 16, s);
  EXPECT_TRUE(rc == kOutputFullValue || rc == kOutputFullBlock) << rc;
  EXPECT_EQ(s, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(WsqRoundTrip, InvalidArguments) {
  const auto img = test::ridgeImage(64, 64);
  std::vector<std::uint8_t> s;
  EXPECT_EQ(wsqEncode(2.25F, img, 0, 64, s), kInvalidArgument);
  EXPECT_EQ(wsqEncode(2.25F, img, 64, 65536, s), kInvalidArgument);
  EXPECT_EQ(wsqEncode(2.25F, std::span(img).first(100), 64, 64, s), kInvalidArgument);
  EXPECT_EQ(wsqEncode(0.0F, img, 64, 64, s), kInvalidArgument);
  EXPECT_EQ(wsqEncode(std::nanf(""), img, 64, 64, s), kInvalidArgument);
  EXPECT_TRUE(s.empty());
}

TEST(WsqNames, VersionAndBanner) {
  EXPECT_EQ(wsqVersion(), "2.4.0.0");
  EXPECT_EQ(wsqBanner(), "wsq version 2.4.0.0 - April 13, 2024");
}

TEST(WsqNameValues, AtoiRule) {
  EXPECT_EQ(detail::atoiRule("500"), 500);
  EXPECT_EQ(detail::atoiRule("  -12x"), -12);
  EXPECT_EQ(detail::atoiRule("+7"), 7);
  EXPECT_EQ(detail::atoiRule("abc"), 0);
  EXPECT_EQ(detail::atoiRule(""), 0);
  EXPECT_EQ(detail::atoiRule("99999999999"), 2147483647);
  EXPECT_EQ(detail::atoiRule("-99999999999"), -2147483647 - 1);
}

TEST(WsqNameValues, LinesNamesAndValues) {
  const std::string text = "NIST_COM 4\nA\nB  two words\r\n\n\tC\t3\n";
  detail::NameValueList list;
  ASSERT_EQ(detail::parseNameValues(
                std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), list),
            kOk);
  ASSERT_NE(list.find("A"), nullptr);
  EXPECT_EQ(*list.find("A"), "");
  EXPECT_EQ(*list.find("B"), "two words\r");
  EXPECT_EQ(*list.find("C"), "3");
  EXPECT_EQ(*list.find("NIST_COM"), "4");
  const std::string bad = " PPI 500\n";
  detail::NameValueList l2;
  EXPECT_EQ(detail::parseNameValues(
                std::span(reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size()), l2),
            kCommentWithoutName);
}

}  // namespace
}  // namespace varnel::wsq
