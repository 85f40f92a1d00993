#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "imaging/jpegl/jpegl.h"
#include "imaging/jpegl/status.h"
#include "tests/jpegl/stream_builder.h"

namespace varnel::jpegl {
namespace {

using testing::encodeLossless;
using testing::PlaneSpec;
using testing::pointTransformed;
using testing::StreamOptions;
using testing::testPicture;

PlaneSpec grey(int width, int height, int predictor, int al = 0, unsigned seed = 1) {
  PlaneSpec p;
  p.width = width;
  p.height = height;
  p.samples = testPicture(width, height, seed);
  p.predictor = predictor;
  p.pointTransform = al;
  return p;
}

std::vector<std::uint8_t> segment(std::uint8_t marker, std::vector<std::uint8_t> body) {
  std::vector<std::uint8_t> s;
  s.reserve(body.size() + 4);
  s.push_back(0xFF);
  s.push_back(marker);
  s.push_back(static_cast<std::uint8_t>((body.size() + 2) >> 8));
  s.push_back(static_cast<std::uint8_t>(body.size() + 2));
  s.insert(s.end(), body.begin(), body.end());
  return s;
}

// Offset of the first byte of `marker` (FF xx) at or after `from`.
std::size_t findMarker(const std::vector<std::uint8_t>& s, std::uint8_t marker,
                       std::size_t from = 2) {
  for (std::size_t i = from; i + 1 < s.size(); ++i) {
    if (s[i] == 0xFF && s[i + 1] == marker) return i;
  }
  return s.size();
}

int decode(const std::vector<std::uint8_t>& s) {
  JpeglDecoded img;
  return jpeglDecode(s, img);
}

class PredictorRoundTrip : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(PredictorRoundTrip, DecodesExactlyWhatWasEncoded) {
  const auto [predictor, al] = GetParam();
  const PlaneSpec p = grey(37, 23, predictor, al, static_cast<unsigned>(predictor));
  const auto stream = encodeLossless({p});
  JpeglDecoded img;
  ASSERT_EQ(jpeglDecode(stream, img), kOk);
  ASSERT_EQ(img.components.size(), 1u);
  const JpeglComponent& c = img.components[0];
  EXPECT_EQ(img.width, 37);
  EXPECT_EQ(img.height, 23);
  EXPECT_EQ(img.precision, 8);
  EXPECT_EQ(c.predictor, predictor);
  EXPECT_EQ(c.pointTransform, al);
  EXPECT_EQ(c.plane, pointTransformed(p.samples, al));
}

INSTANTIATE_TEST_SUITE_P(AllPredictors, PredictorRoundTrip,
                         ::testing::Combine(::testing::Range(1, 8), ::testing::Values(0, 3)));

TEST(Prediction, FirstSampleIsHalfTheRangeOfTheTransformedPrecision) {
  // A single difference of 0 reveals the prediction itself.
  PlaneSpec p;
  p.width = 1;
  p.height = 1;
  p.differences = {0};
  JpeglDecoded img;
  ASSERT_EQ(jpeglDecode(encodeLossless({p}), img), kOk);
  EXPECT_EQ(img.components[0].plane[0], 128);

  p.pointTransform = 2;  // 2^(8-2-1) = 32, shifted back by 2
  ASSERT_EQ(jpeglDecode(encodeLossless({p}), img), kOk);
  EXPECT_EQ(img.components[0].plane[0], 128);

  StreamOptions six;
  six.precision = 6;
  p.pointTransform = 0;
  ASSERT_EQ(jpeglDecode(encodeLossless({p}, six), img), kOk);
  EXPECT_EQ(img.components[0].plane[0], 32);
}

TEST(Prediction, Predictors5And6HalveTheGradientWithArithmeticShift) {
  // Samples: (0,0)=1 (Rc), (1,0)=2 (Rb), (0,1)=10 (Ra); the last difference is 0.
  struct Case {
    int predictor;
    std::vector<int> diffs;
    int expected;
  };
  const Case cases[] = {
      {5, {1 - 128, 1, 9, 0}, 10},      // 10 + ((2 - 1) >> 1)
      {6, {1 - 128, 1, 9, 0}, 6},       // 2 + ((10 - 1) >> 1)
      {5, {2 - 128, -1, 8, 0}, 9},      // Rc=2, Rb=1, Ra=10: 10 + ((1 - 2) >> 1) = 9
      {6, {10 - 128, -9, -8, 0}, 253},  // Rc=10, Rb=1, Ra=2: 1 + ((2 - 10) >> 1) = -3
      {4, {1 - 128, 1, 9, 0}, 11},      // 10 + 2 - 1
      {7, {1 - 128, 1, 9, 0}, 6},       // (10 + 2) >> 1
      {3, {1 - 128, 1, 9, 0}, 1},
  };
  for (const Case& c : cases) {
    PlaneSpec p;
    p.width = 2;
    p.height = 2;
    p.predictor = c.predictor;
    p.differences = c.diffs;
    JpeglDecoded img;
    ASSERT_EQ(jpeglDecode(encodeLossless({p}), img), kOk) << "predictor " << c.predictor;
    EXPECT_EQ(img.components[0].plane[3], c.expected) << "predictor " << c.predictor;
  }
}

TEST(Components, ThreeScansYieldThreePlanesInComponentOrder) {
  std::vector<PlaneSpec> planes = {grey(40, 30, 2, 0, 11), grey(40, 30, 5, 1, 12),
                                   grey(40, 30, 7, 0, 13)};
  planes[0].id = 'R';
  planes[1].id = 'G';
  planes[2].id = 'B';
  planes[2].table = 1;
  JpeglDecoded img;
  ASSERT_EQ(jpeglDecode(encodeLossless(planes), img), kOk);
  ASSERT_EQ(img.components.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(img.components[i].id, planes[i].id);
    EXPECT_EQ(img.components[i].plane,
              pointTransformed(planes[i].samples, planes[i].pointTransform))
        << "component " << i;
  }
  EXPECT_EQ(img.components[2].tableId, 1);

  std::vector<std::uint8_t> pixels;
  int w = 0, h = 0, depth = 0, ppi = 0;
  ASSERT_EQ(jpeglImage(img, pixels, w, h, depth, ppi), kOk);
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 30);
  EXPECT_EQ(depth, 24);
  EXPECT_EQ(ppi, 500);
  ASSERT_EQ(pixels.size(), 3u * 40 * 30);
  EXPECT_TRUE(std::equal(img.components[1].plane.begin(), img.components[1].plane.end(),
                         pixels.begin() + 40 * 30));
}

TEST(Components, ScansMayComeInAnyOrderAndPlanesFollowTheFrame) {
  std::vector<PlaneSpec> planes = {grey(9, 8, 1, 0, 1), grey(9, 8, 3, 0, 2)};
  planes[0].id = 1;
  planes[1].id = 2;
  // Encode with the scans swapped but the frame listing component 1 first.
  auto stream = encodeLossless({planes[1], planes[0]});
  const std::size_t sof = findMarker(stream, 0xC3);
  std::swap(stream[sof + 10], stream[sof + 13]);  // component ids in the frame header
  JpeglDecoded img;
  ASSERT_EQ(jpeglDecode(stream, img), kOk);
  EXPECT_EQ(img.components[0].id, 1);
  EXPECT_EQ(img.components[0].plane, planes[0].samples);
  EXPECT_EQ(img.components[1].plane, planes[1].samples);
}

TEST(Components, SubsampledPlaneSizesRoundUp) {
  // Sampling as in the T.83 O1/O2 streams: 1x1, 1x2, 3x1, 1x4 in a 31x17 frame (Hmax 3, Vmax 4).
  const int hv[4][2] = {{1, 1}, {1, 2}, {3, 1}, {1, 4}};
  std::vector<PlaneSpec> planes;
  for (int i = 0; i < 4; ++i) {
    const int w = (31 * hv[i][0] + 2) / 3;
    const int h = (17 * hv[i][1] + 3) / 4;
    PlaneSpec p = grey(w, h, i + 1, 0, static_cast<unsigned>(i));
    p.id = i + 1;
    p.h = hv[i][0];
    p.v = hv[i][1];
    planes.push_back(p);
  }
  StreamOptions o;
  o.width = 31;
  o.height = 17;
  JpeglDecoded img;
  ASSERT_EQ(jpeglDecode(encodeLossless(planes, o), img), kOk);
  ASSERT_EQ(img.components.size(), 4u);
  const int expected[4][2] = {{11, 5}, {11, 9}, {31, 5}, {11, 17}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(img.components[i].width, expected[i][0]) << i;
    EXPECT_EQ(img.components[i].height, expected[i][1]) << i;
    EXPECT_EQ(img.components[i].plane, planes[i].samples) << i;
  }
  std::vector<std::uint8_t> pixels;
  int w = 0, h = 0, depth = 0, ppi = 0;
  ASSERT_EQ(jpeglImage(img, pixels, w, h, depth, ppi), kOk);
  EXPECT_EQ(depth, 32);
  EXPECT_EQ(pixels.size(), 55u + 99 + 155 + 187);
}

TEST(JfifHeader, DensityGivesPixelsPerInch) {
  const PlaneSpec p = grey(4, 4, 1);
  struct Case {
    int units, density, status, ppi;
  };
  const Case cases[] = {{0, 72, kOk, -1},
                        {1, 500, kOk, 500},
                        {2, 197, kOk, 500},
                        {2, 1, kOk, 3},
                        {3, 500, kBadJfifHeader, 0}};
  for (const Case& c : cases) {
    StreamOptions o;
    o.densityUnits = c.units;
    o.xDensity = c.density;
    JpeglDecoded img;
    ASSERT_EQ(jpeglDecode(encodeLossless({p}, o), img), c.status) << "units " << c.units;
    if (c.status == kOk) {
      EXPECT_EQ(img.ppi, c.ppi) << "units " << c.units;
    }
  }
}

TEST(JfifHeader, OtherApp0ApplicationsHaveNoResolution) {
  auto stream = encodeLossless({grey(4, 4, 1)});
  stream[6] = 'X';  // "JFXX"-like identifier
  JpeglDecoded img;
  ASSERT_EQ(jpeglDecode(stream, img), kOk);
  EXPECT_EQ(img.ppi, -1);
}

TEST(StreamStructure, RequiresSoiThenApp0) {
  const auto good = encodeLossless({grey(4, 4, 1)});
  EXPECT_EQ(decode({}), kReadPastEnd);
  EXPECT_EQ(decode({0xFF}), kReadPastEnd);
  auto noSoi = good;
  noSoi[1] = 0xD9;
  EXPECT_EQ(decode(noSoi), kNoSoi);

  StreamOptions noApp0;
  noApp0.app0 = false;
  EXPECT_EQ(decode(encodeLossless({grey(4, 4, 1)}, noApp0)), kNoApp0);  // DHT first
  auto comFirst = good;
  const auto com = segment(0xFE, {'h', 'i'});
  comFirst.insert(comFirst.begin() + 2, com.begin(), com.end());
  EXPECT_EQ(decode(comFirst), kNoApp0);
  // A short APP0 cannot hold the JFIF fields.
  std::vector<std::uint8_t> shortApp0 = {0xFF, 0xD8};
  const auto app0 = segment(0xE0, {'J', 'F', 'I', 'F', 0, 1});
  shortApp0.insert(shortApp0.end(), app0.begin(), app0.end());
  shortApp0.insert(shortApp0.end(), good.begin() + 20, good.end());
  EXPECT_EQ(decode(shortApp0), kBadJfifHeader);
}

TEST(StreamStructure, SegmentsCutShortAreBlockReadsPastTheEnd) {
  const auto good = encodeLossless({grey(4, 4, 1)});
  for (std::uint8_t marker : {0xE0, 0xC4, 0xC3, 0xDA}) {
    const std::size_t at = findMarker(good, marker);
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(at + 6));
    EXPECT_EQ(decode(cut), kBlockPastEnd) << std::hex << int{marker};
    const std::vector<std::uint8_t> noLength(good.begin(),
                                             good.begin() + static_cast<long>(at + 3));
    EXPECT_EQ(decode(noLength), kReadPastEnd) << std::hex << int{marker};
  }
}

TEST(StreamStructure, OnlyTablesAndCommentsPrecedeTheFrame) {
  const PlaneSpec p = grey(6, 5, 4);
  StreamOptions o;
  o.beforeFrame = segment(0xFE, {'N', 'I', 'S', 'T', '_', 'C', 'O', 'M'});
  EXPECT_EQ(decode(encodeLossless({p}, o)), kOk);
  o.beforeFrame = segment(0xDD, {0, 4});  // DRI
  EXPECT_EQ(decode(encodeLossless({p}, o)), kBadMarkerBeforeFrame);
  o.beforeFrame = segment(0xE1, {'E', 'x', 'i', 'f', 0, 0});
  EXPECT_EQ(decode(encodeLossless({p}, o)), kBadMarkerBeforeFrame);
  o.beforeFrame = segment(0xC0, {8, 0, 5, 0, 6, 1, 1, 0x11, 0});  // baseline frame
  EXPECT_EQ(decode(encodeLossless({p}, o)), kBadMarkerBeforeFrame);
  o.beforeFrame = {0x12, 0x34};  // no marker where one is due
  EXPECT_EQ(decode(encodeLossless({p}, o)), kBadMarkerBeforeFrame);
  o.beforeFrame = {0xFF, 0xFF, 0xFF};  // fill bytes before SOF3
  EXPECT_EQ(decode(encodeLossless({p}, o)), kOk);
}

TEST(StreamStructure, OnlyTablesCommentsAndScansFollowTheFrame) {
  const auto good = encodeLossless({grey(6, 5, 4)});
  const std::size_t sos = findMarker(good, 0xDA);
  for (std::uint8_t m : {0xDD, 0xC3, 0xE0}) {
    auto s = good;
    const auto seg = segment(m, {0, 4});
    s.insert(s.begin() + static_cast<long>(sos), seg.begin(), seg.end());
    EXPECT_EQ(decode(s), kBadMarkerBeforeScan) << std::hex << int{m};
  }
  auto s = good;
  const auto com = segment(0xFE, {'x'});
  s.insert(s.begin() + static_cast<long>(sos), com.begin(), com.end());
  EXPECT_EQ(decode(s), kOk);
}

TEST(StreamStructure, EndOfScanAndEoi) {
  const auto good = encodeLossless({grey(6, 5, 4)});
  // Stray bytes between the data and EOI are skipped, fill bytes before it too.
  auto s = good;
  s.insert(s.end() - 2, {0x00, 0x12, 0xFF, 0x00, 0xFF, 0xFF});
  EXPECT_EQ(decode(s), kOk);
  // Without EOI the stream ends where a marker is due.
  StreamOptions noEoi;
  noEoi.eoi = false;
  EXPECT_EQ(decode(encodeLossless({grey(6, 5, 4)}, noEoi)), kReadPastEnd);
}

TEST(FrameHeader, RefusesWhatPlanesCannotHold) {
  const PlaneSpec p = grey(5, 5, 1);
  StreamOptions o;
  for (int precision : {1, 9, 12, 16}) {
    o.precision = precision;
    EXPECT_EQ(decode(encodeLossless({p}, o)), kUnsupportedPrecision) << precision;
  }
  o.precision = 4;
  PlaneSpec small = p;
  for (auto& v : small.samples) v &= 0x0F;
  JpeglDecoded img;
  ASSERT_EQ(jpeglDecode(encodeLossless({small}, o), img), kOk);
  EXPECT_EQ(img.components[0].plane, small.samples);
}

TEST(FrameHeader, RefusesMalformedHeaders) {
  const auto good = encodeLossless({grey(5, 5, 1)});
  const std::size_t sof = findMarker(good, 0xC3);
  auto patched = [&](std::size_t offset, std::uint8_t value) {
    auto s = good;
    s[sof + offset] = value;
    return decode(s);
  };
  EXPECT_EQ(patched(6, 0), kBadFrameHeader);      // Y = 0
  EXPECT_EQ(patched(8, 0), kBadFrameHeader);      // X = 0
  EXPECT_EQ(patched(11, 0x01), kBadFrameHeader);  // H = 0
  EXPECT_EQ(patched(11, 0x15), kBadFrameHeader);  // V = 5
  EXPECT_EQ(patched(9, 2), kBadFrameHeader);      // Nf disagrees with Lf
  EXPECT_EQ(patched(9, 0), kBadFrameHeader);

  std::vector<PlaneSpec> twins = {grey(5, 5, 1), grey(5, 5, 1)};
  EXPECT_EQ(decode(encodeLossless(twins)), kBadFrameHeader);  // both have id 1
}

TEST(FrameHeader, HugeFrameInSmallStreamFailsWithoutAllocating) {
  PlaneSpec p = grey(2, 2, 1);
  StreamOptions o;
  o.width = 65535;
  o.height = 65535;
  std::vector<PlaneSpec> four(4, p);
  for (int i = 0; i < 4; ++i) four[i].id = i + 1;
  EXPECT_EQ(decode(encodeLossless(four, o)), kReadPastEnd);
}

TEST(ScanHeader, RefusesBadScans) {
  const PlaneSpec p = grey(6, 4, 1);
  const auto good = encodeLossless({p});
  const std::size_t sos = findMarker(good, 0xDA);
  auto patched = [&](std::size_t offset, std::uint8_t value) {
    auto s = good;
    s[sos + offset] = value;
    return decode(s);
  };
  EXPECT_EQ(patched(5, 9), kBadScanHeader);      // component id not in the frame
  EXPECT_EQ(patched(6, 0x20), kUndefinedTable);  // table 2
  EXPECT_EQ(patched(6, 0x50), kUndefinedTable);  // table 5
  EXPECT_EQ(patched(7, 0), kBadPredictor);
  EXPECT_EQ(patched(7, 8), kBadPredictor);
  EXPECT_EQ(patched(9, 8), kBadScanHeader);  // Al = P
  EXPECT_EQ(patched(4, 2), kBadScanHeader);  // Ns disagrees with Ls
  EXPECT_EQ(patched(6, 0x10), kOk);          // table 1 is defined
}

TEST(ScanHeader, RefusesInterleavedScans) {
  std::vector<PlaneSpec> planes = {grey(8, 8, 1, 0, 1), grey(8, 8, 1, 0, 2), grey(8, 8, 1, 0, 3)};
  for (int i = 0; i < 3; ++i) planes[i].id = i + 1;
  StreamOptions o;
  o.interleaved = true;
  EXPECT_EQ(decode(encodeLossless(planes, o)), kInterleavedScan);
}

TEST(ScanHeader, EveryComponentNeedsExactlyOneScan) {
  std::vector<PlaneSpec> planes = {grey(8, 8, 1, 0, 1), grey(8, 8, 1, 0, 2)};
  planes[1].id = 2;
  const auto good = encodeLossless(planes);
  const std::size_t secondScan = findMarker(good, 0xDA, findMarker(good, 0xDA) + 2);
  // Drop the second scan: EOI comes with component 2 missing.
  std::vector<std::uint8_t> missing(good.begin(), good.begin() + static_cast<long>(secondScan));
  missing.push_back(0xFF);
  missing.push_back(0xD9);
  EXPECT_EQ(decode(missing), kMissingScan);
  // Repeat the first scan instead of the second.
  auto repeated = good;
  repeated[secondScan + 5] = 1;
  EXPECT_EQ(decode(repeated), kBadScanHeader);
}

TEST(HuffmanTables, ClassNibbleIsIgnoredAndIdsAreChecked) {
  StreamOptions o;
  o.tableClass = 1;  // written as AC tables, as some encoders do
  const PlaneSpec p = grey(7, 7, 6);
  JpeglDecoded img;
  ASSERT_EQ(jpeglDecode(encodeLossless({p}, o), img), kOk);
  EXPECT_EQ(img.components[0].plane, p.samples);

  const auto good = encodeLossless({p});
  const std::size_t dht = findMarker(good, 0xC4);
  auto s = good;
  s[dht + 4] = 4;  // table id 4
  EXPECT_EQ(decode(s), kBadHuffmanTable);
  s = good;
  s[dht + 5] = 3;  // three 1-bit codes
  EXPECT_EQ(decode(s), kBadHuffmanTable);
  s = good;
  s[dht + 20] = 200;  // counts claim more values than the segment holds
  EXPECT_EQ(decode(s), kBadHuffmanTable);
}

TEST(EntropyData, MarkerOrEndInsideDataIsAnError) {
  // 120 samples of about 6 bits: 20 bytes are too few to finish, yet enough not to be refused
  // before decoding starts.
  const auto good = encodeLossless({grey(12, 10, 1)});
  const std::size_t data = findMarker(good, 0xDA) + 10;
  ASSERT_GT(good.size(), data + 60);
  std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(data + 20));
  auto withEoi = cut;
  withEoi.push_back(0xFF);
  withEoi.push_back(0xD9);
  EXPECT_EQ(decode(withEoi), kMarkerInData);
  EXPECT_EQ(decode(cut), kReadPastEnd);
}

TEST(EntropyData, EveryTruncationFailsCleanly) {
  std::vector<PlaneSpec> planes = {grey(12, 9, 7, 0, 1), grey(12, 9, 4, 2, 2)};
  planes[1].id = 2;
  const auto good = encodeLossless(planes);
  ASSERT_EQ(decode(good), kOk);
  for (std::size_t n = 0; n < good.size(); ++n) {
    const std::vector<std::uint8_t> prefix(good.begin(), good.begin() + static_cast<long>(n));
    const int rc = decode(prefix);
    EXPECT_LT(rc, 0) << "prefix " << n;
  }
}

TEST(EntropyData, CorruptedStreamsReturnAStatus) {
  std::vector<PlaneSpec> planes = {grey(16, 12, 5, 0, 1), grey(16, 12, 2, 1, 2)};
  planes[1].id = 2;
  const auto good = encodeLossless(planes);
  std::mt19937 rng(1234);
  for (int i = 0; i < 3000; ++i) {
    auto s = good;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) s[rng() % s.size()] = static_cast<std::uint8_t>(rng());
    JpeglDecoded img;
    const int rc = jpeglDecode(s, img);
    if (rc != kOk) continue;
    for (const auto& c : img.components) {
      EXPECT_EQ(c.plane.size(), static_cast<std::size_t>(c.width) * c.height);
    }
  }
}

TEST(Image, FailsWithoutPlanesAndLeavesOutputsAlone) {
  JpeglDecoded empty;
  std::vector<std::uint8_t> pixels = {7};
  int w = -5, h = -5, depth = -5, ppi = -5;
  EXPECT_EQ(jpeglImage(empty, pixels, w, h, depth, ppi), kImageFailed);
  JpeglDecoded undecoded;
  undecoded.components.resize(1);
  undecoded.components[0].width = 3;
  undecoded.components[0].height = 3;
  EXPECT_EQ(jpeglImage(undecoded, pixels, w, h, depth, ppi), kImageFailed);
  EXPECT_EQ(pixels, std::vector<std::uint8_t>{7});
  EXPECT_EQ(w, -5);
  EXPECT_EQ(ppi, -5);
}

// What the decoder delivered to the sink, by kind.
std::string gTraced;
std::string gErrors;
void collect(JpeglMessage kind, std::string_view text) noexcept {
  (kind == JpeglMessage::kError ? gErrors : gTraced).append(text);
}

TEST(Diagnostics, NeverPrintedAndDeliveredToTheSinkFromADebugLevel) {
  auto s = encodeLossless({grey(6, 4, 1)});
  s[findMarker(s, 0xDA) + 6] = 0x20;
  ASSERT_EQ(jpeglDebugLevel(), 0);
  jpeglSetDiagnosticSink(&collect);
  gTraced.clear();
  gErrors.clear();
  EXPECT_EQ(decode(s), kUndefinedTable);
  EXPECT_EQ(gTraced + gErrors, "");

  // A debug level without a sink writes nothing to the process's streams.
  jpeglSetDiagnosticSink(nullptr);
  jpeglSetDebugLevel(2);
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(decode(s), kUndefinedTable);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  jpeglSetDiagnosticSink(&collect);
  jpeglSetDebugLevel(1);
  EXPECT_EQ(decode(s), kUndefinedTable);
  EXPECT_NE(gTraced.find("Start reading JFIF header.\n"), std::string::npos);
  EXPECT_NE(gTraced.find("Start reading scan header\n"), std::string::npos);
  EXPECT_EQ(gTraced.find("Lf = "), std::string::npos);
  EXPECT_EQ(gErrors, "ERROR : update_IMG_DAT_decode : huffman table 2 not defined\n");

  s = encodeLossless({grey(6, 4, 1)});
  s[findMarker(s, 0xDA) + 7] = 9;
  jpeglSetDebugLevel(2);
  gTraced.clear();
  gErrors.clear();
  EXPECT_EQ(decode(s), kBadPredictor);
  jpeglSetDebugLevel(0);
  jpeglSetDiagnosticSink(nullptr);
  EXPECT_NE(gTraced.find("Lf = 11\nP = 8\nY = 4\nX = 6\nNf = 1\n"), std::string::npos);
  EXPECT_EQ(gErrors, "ERORR : predict : invalid prediction type 9 not in range [1..7]\n");
}

}  // namespace
}  // namespace varnel::jpegl
