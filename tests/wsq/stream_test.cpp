// Structure of the streams the encoder writes, and the decoder's answers to damaged streams.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "imaging/wsq/status.h"
#include "imaging/wsq/wsq.h"
#include "tests/wsq/wsq_test_util.h"

namespace varnel::wsq {
namespace {

std::vector<std::uint8_t> encodeRidges(int w, int h, float rate = 2.25F) {
  std::vector<std::uint8_t> s;
  EXPECT_EQ(wsqEncode(rate, test::ridgeImage(w, h), w, h, s), kOk);
  return s;
}

int decodeStatus(const std::vector<std::uint8_t>& s) {
  std::vector<std::uint8_t> px;
  int w = 0;
  int h = 0;
  int d = 0;
  int ppi = 0;
  int lossy = 0;
  return wsqDecode(s, px, w, h, d, ppi, lossy);
}

// A comment segment (marker, length, text) inserted at `at`.
std::vector<std::uint8_t> withComment(std::vector<std::uint8_t> s, std::size_t at,
                                      const std::string& text) {
  const std::size_t len = text.size() + 2;
  std::vector<std::uint8_t> seg = {0xFF, 0xA8, static_cast<std::uint8_t>(len >> 8),
                                   static_cast<std::uint8_t>(len)};
  seg.insert(seg.end(), text.begin(), text.end());
  s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), seg.begin(), seg.end());
  return s;
}

TEST(WsqStreamLayout, SegmentsInFixedOrderWithTwoTablesAndThreeBlocks) {
  const auto s = encodeRidges(300, 280);
  ASSERT_GE(s.size(), 10U);
  const std::vector<std::uint8_t> head = {0xFF, 0xA0, 0xFF, 0xA4, 0x00, 0x3A, 0x09, 0x07};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), s.begin()));
  EXPECT_EQ(s[s.size() - 2], 0xFF);
  EXPECT_EQ(s[s.size() - 1], 0xA1);
  const auto segs = test::segments(s);
  std::vector<int> markers;
  std::vector<int> blockIds;
  for (const auto& g : segs) {
    markers.push_back(g.marker);
    if (g.marker == 0xFFA3) blockIds.push_back(s[g.offset + 4]);
  }
  const std::vector<int> expected = {0xFFA0, 0xFFA4, 0xFFA5, 0xFFA2, 0xFFA6,
                                     0xFFA3, 0xFFA6, 0xFFA3, 0xFFA3, 0xFFA1};
  EXPECT_EQ(markers, expected);
  EXPECT_EQ(blockIds, (std::vector<int>{0, 1, 1}));
  // Huffman table ids 0 then 1.
  EXPECT_EQ(s[segs[4].offset + 4], 0);
  EXPECT_EQ(s[segs[6].offset + 4], 1);
}

TEST(WsqStreamLayout, TableRedefinedInItsSlotServesTheBlocksAfterIt) {
  // The second table moved into slot 0, which the first block used before: the later blocks
  // must be read with the new codes.
  const auto s = encodeRidges(300, 280);
  const auto segs = test::segments(s);
  ASSERT_EQ(segs.size(), 10U);
  auto t = s;
  t[segs[6].offset + 4] = 0;
  t[segs[7].offset + 4] = 0;
  t[segs[8].offset + 4] = 0;
  std::vector<std::uint8_t> want;
  std::vector<std::uint8_t> got;
  int w = 0;
  int h = 0;
  int d = 0;
  int ppi = 0;
  int lossy = 0;
  ASSERT_EQ(wsqDecode(s, want, w, h, d, ppi, lossy), kOk);
  ASSERT_EQ(wsqDecode(t, got, w, h, d, ppi, lossy), kOk);
  EXPECT_EQ(got, want);
}

TEST(WsqStreamLayout, FrameHeaderCarriesLevelsSizeAndImplementationNumber) {
  const auto s = encodeRidges(301, 257);
  const auto segs = test::segments(s);
  ASSERT_GE(segs.size(), 4U);
  const std::size_t f = segs[3].offset;
  ASSERT_EQ(segs[3].marker, 0xFFA2);
  EXPECT_EQ((s[f + 2] << 8) | s[f + 3], 17);
  EXPECT_EQ(s[f + 4], 0);    // black
  EXPECT_EQ(s[f + 5], 255);  // white
  EXPECT_EQ((s[f + 6] << 8) | s[f + 7], 257);
  EXPECT_EQ((s[f + 8] << 8) | s[f + 9], 301);
  EXPECT_EQ(s[f + 16], 2);  // encoder
  EXPECT_EQ((s[f + 17] << 8) | s[f + 18], 10032);
  EXPECT_EQ(hostImplementationNumber(), 10032);
}

TEST(WsqStreamLayout, TablesMatchTheReferenceEncoderByteForByte) {
  // The transform table of the NIST reference streams; the quantization table writes the bin
  // centre as 2/44 where the reference wrote 5/44000 (both 0.44).
  const auto ref = test::readFile(test::dataDir() + "/225/cmp00001.wsq");
  const auto s = encodeRidges(200, 200);
  ASSERT_GE(ref.size(), 68U);
  EXPECT_TRUE(std::equal(ref.begin() + 2, ref.begin() + 2 + 60, s.begin() + 2));
  const auto segs = test::segments(s);
  const std::size_t q = segs[2].offset;
  EXPECT_EQ((s[q + 2] << 8) | s[q + 3], 389);
  EXPECT_EQ(s[q + 4], 2);
  EXPECT_EQ((s[q + 5] << 8) | s[q + 6], 44);
  // Subbands 60-63 are never coded: all four bytes pairs zero.
  for (std::size_t k = 60; k < 64; ++k) {
    for (std::size_t b = 0; b < 6; ++b) EXPECT_EQ(s[q + 7 + k * 6 + b], 0) << k;
  }
}

TEST(WsqStreamLayout, OwnStreamDecodesWithoutResolution) {
  const auto img = test::ridgeImage(320, 240);
  std::vector<std::uint8_t> s;
  ASSERT_EQ(wsqEncode(2.25F, img, 320, 240, s), kOk);
  std::vector<std::uint8_t> px;
  int w = 0;
  int h = 0;
  int d = 0;
  int ppi = 0;
  int lossy = 0;
  ASSERT_EQ(wsqDecode(s, px, w, h, d, ppi, lossy), kOk);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(d, 8);
  EXPECT_EQ(ppi, -1);
  EXPECT_EQ(lossy, 1);
  int rp = 0;
  EXPECT_EQ(wsqReadPpi(s, rp), kOk);
  EXPECT_EQ(rp, -1);
}

TEST(WsqResolution, NistCommentSuppliesPpi) {
  const auto s = encodeRidges(128, 128);
  const auto c = withComment(s, 2, "NIST_COM 3\nPIX_WIDTH 128\nPPI 500\n");
  int ppi = 0;
  EXPECT_EQ(wsqReadPpi(c, ppi), kOk);
  EXPECT_EQ(ppi, 500);
  std::vector<std::uint8_t> px;
  int w = 0;
  int h = 0;
  int d = 0;
  int lossy = 0;
  EXPECT_EQ(wsqDecode(c, px, w, h, d, ppi, lossy), kOk);
  EXPECT_EQ(ppi, 500);
  // Tabs, blanks and a NUL end; a repeated name keeps the last value.
  EXPECT_EQ(wsqReadPpi(withComment(s, 2, "NIST_COM\t2\n\tPPI \t 250\nPPI 1000junk\n"), ppi), kOk);
  EXPECT_EQ(ppi, 1000);
  EXPECT_EQ(wsqReadPpi(withComment(s, 2, std::string("NIST_COM 1\nPPI 600", 18) + '\0' + "X"), ppi),
            kOk);
  EXPECT_EQ(ppi, 600);
}

TEST(WsqResolution, CommentPlacementAndMissingPpi) {
  const auto s = encodeRidges(128, 128);
  int ppi = 0;
  // Without "PPI" the lookup and the whole decode fail.
  const auto noPpi = withComment(s, 2, "NIST_COM 2\nPIX_WIDTH 128\n");
  EXPECT_EQ(wsqReadPpi(noPpi, ppi), kNoPpi);
  EXPECT_EQ(decodeStatus(noPpi), kNoPpi);
  // Other comments are skipped; a comment after the first block header is not looked at.
  EXPECT_EQ(wsqReadPpi(withComment(s, 2, "made by hand\nPPI 300\n"), ppi), kOk);
  EXPECT_EQ(ppi, -1);
  const auto segs = test::segments(s);
  const auto late = withComment(s, segs[7].offset, "NIST_COM 1\nPPI 700\n");
  EXPECT_EQ(wsqReadPpi(late, ppi), kOk);
  EXPECT_EQ(ppi, -1);
  EXPECT_EQ(decodeStatus(late), kOk);
  // A comment before the frame header works too.
  const auto early = withComment(s, segs[3].offset, "NIST_COM 1\nPPI 1000\n");
  EXPECT_EQ(wsqReadPpi(early, ppi), kOk);
  EXPECT_EQ(ppi, 1000);
}

TEST(WsqDamagedStreams, NoSoiIsRejected) {
  auto s = encodeRidges(64, 64);
  EXPECT_EQ(decodeStatus({}), kNoSoi);
  EXPECT_EQ(decodeStatus({0xFF}), kNoSoi);
  s[1] = 0xA1;
  EXPECT_EQ(decodeStatus(s), kNoSoi);
  int ppi = 0;
  EXPECT_EQ(wsqReadPpi(s, ppi), kNoSoi);
  WsqInfo info;
  EXPECT_EQ(wsqReadInfo(s, info), kNoSoi);
}

TEST(WsqDamagedStreams, EveryTruncationFailsInsideAValueOrBlock) {
  const auto s = encodeRidges(96, 80);
  const auto withCom = withComment(s, 2, "NIST_COM 1\nPPI 500\n");
  for (const auto* full : {&s, &withCom}) {
    for (std::size_t n = 2; n < full->size(); ++n) {
      // An exact-size copy, so a read past the end is caught by the address sanitizer.
      std::vector<std::uint8_t> cut(full->begin(), full->begin() + static_cast<std::ptrdiff_t>(n));
      const int rc = decodeStatus(cut);
      EXPECT_TRUE(rc == kInputEndValue || rc == kInputEndBlock) << "length " << n << " rc " << rc;
    }
  }
}

TEST(WsqDamagedStreams, UnexpectedMarkers) {
  const auto s = encodeRidges(64, 64);
  const auto segs = test::segments(s);
  // A block header before the frame header.
  auto a = s;
  const std::vector<std::uint8_t> sob = {0xFF, 0xA3, 0x00, 0x03, 0x00};
  a.insert(a.begin() + 2, sob.begin(), sob.end());
  EXPECT_EQ(decodeStatus(a), kUnexpectedMarkerBeforeFrame);
  // A second frame header before a block.
  auto b = s;
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(segs[4].offset),
           s.begin() + static_cast<std::ptrdiff_t>(segs[3].offset),
           s.begin() + static_cast<std::ptrdiff_t>(segs[4].offset));
  EXPECT_EQ(decodeStatus(b), kUnexpectedMarkerBeforeBlock);
  // A marker outside FFA0-FFA8, and bytes that are no marker at all.
  auto c = s;
  c[segs[1].offset + 1] = 0xD8;
  EXPECT_EQ(decodeStatus(c), kUnknownMarker);
  auto d = s;
  d[segs[1].offset] = 0x12;
  EXPECT_EQ(decodeStatus(d), kNotAMarker);
  // A block naming a table that was never defined.
  auto e = s;
  e[segs[5].offset + 4] = 3;
  EXPECT_EQ(decodeStatus(e), kUndefinedHuffmanTable);
}

TEST(WsqDamagedStreams, MissingTables) {
  const auto s = encodeRidges(64, 64);
  const auto segs = test::segments(s);
  auto cut = [&](int seg) {
    auto t = s;
    t.erase(
        t.begin() + static_cast<std::ptrdiff_t>(segs[static_cast<std::size_t>(seg)].offset),
        t.begin() + static_cast<std::ptrdiff_t>(segs[static_cast<std::size_t>(seg) + 1].offset));
    return t;
  };
  EXPECT_EQ(decodeStatus(cut(1)), kNoLowPassFilter);        // no transform table
  EXPECT_EQ(decodeStatus(cut(2)), kNoQuantizationTable);    // no quantization table
  EXPECT_EQ(decodeStatus(cut(4)), kUndefinedHuffmanTable);  // no table 0
}

TEST(WsqDamagedStreams, CoefficientCountAndSymbolChecks) {
  const auto s = encodeRidges(96, 96);
  const auto segs = test::segments(s);
  // Subband 10 declared uncoded: its coefficients overflow the image's count.
  auto a = s;
  const std::size_t q = segs[2].offset + 7 + 10 * 6;
  std::fill(a.begin() + static_cast<std::ptrdiff_t>(q),
            a.begin() + static_cast<std::ptrdiff_t>(q + 6), 0);
  EXPECT_EQ(decodeStatus(a), kTooManyCoefficients);
  // Symbol 0 in place of the first symbol of table 0 is no valid symbol.
  auto b = s;
  b[segs[4].offset + 5 + 16] = 0;
  EXPECT_EQ(decodeStatus(b), kInvalidSymbol);
}

TEST(WsqDamagedStreams, CorruptedEntropyDataDecodesWholeOrFailsWithADecoderStatus) {
  const auto s = encodeRidges(120, 100);
  const auto segs = test::segments(s);
  // Every status the decoder documents; the encoder-only ones (arguments, output capacity, run
  // lengths) must never come back from a decode.
  const std::set<int> decoderStatuses = {kCommentWithoutName,
                                         kNoPpi,
                                         kBlockSizeMismatch,
                                         kOutputAlloc,
                                         kHuffmanScratchAlloc,
                                         kInputEndValue,
                                         kInputEndBlock,
                                         kMarkerInData,
                                         kTooManyCoefficients,
                                         kInvalidSymbol,
                                         kLowTapTooLarge,
                                         kHighTapTooLarge,
                                         kQTooLarge,
                                         kZTooLarge,
                                         kNoSoi,
                                         kUnexpectedMarkerBeforeFrame,
                                         kQuantizedAlloc,
                                         kPixelSumOverflow,
                                         kUnknownMarker,
                                         kDecomposeAlloc,
                                         kNoLowPassFilter,
                                         kNoHighPassFilter,
                                         kReconstructAlloc,
                                         kHuffmanIndex};
  std::uint32_t x = 12345;
  for (int round = 0; round < 300; ++round) {
    auto t = s;
    for (int k = 0; k < 4; ++k) {
      x = x * 1103515245U + 12345U;
      const std::size_t at = segs[5].offset + 5 + (x >> 8) % (t.size() - segs[5].offset - 7);
      t[at] = static_cast<std::uint8_t>(x >> 3);
    }
    std::vector<std::uint8_t> px;
    int w = 0;
    int h = 0;
    int d = 0;
    int ppi = 0;
    int lossy = 0;
    const int rc = wsqDecode(t, px, w, h, d, ppi, lossy);
    if (rc == kOk) {
      EXPECT_EQ(w, 120) << "round " << round;
      EXPECT_EQ(h, 100) << "round " << round;
      EXPECT_EQ(px.size(), 120U * 100U) << "round " << round;
    } else {
      EXPECT_EQ(decoderStatuses.count(rc), 1U) << "round " << round << ": status " << rc;
      EXPECT_TRUE(px.empty()) << "round " << round << ": output written on failure";
    }
  }
}

}  // namespace
}  // namespace varnel::wsq
