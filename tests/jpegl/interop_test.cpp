// Streams written by other encoders: the DICOM toolkit (committed and, when installed, made at
// test time), NIST reference records and the ITU-T T.83 compliance streams.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/jpegl/jpegl.h"
#include "imaging/jpegl/status.h"
#include "tests/jpegl/stream_builder.h"

namespace varnel::jpegl {
namespace {

namespace fs = std::filesystem;
using testing::extractEncapsulated;
using testing::minimalDicom;
using testing::parsePnm;
using testing::pointTransformed;
using testing::readFile;
using testing::testPicture;
using testing::withJfifHeader;
using testing::writeFile;

const std::string kData = VARNEL_JPEGL_DATA_DIR;
const std::string kCorpus = VARNEL_CORPUS_DIR;

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
  return h;
}

bool haveDcmtk() {
  static const bool present = std::system("command -v dcmcjpeg >/dev/null 2>&1") == 0;
  return present;
}

// Compresses pixels with dcmcjpeg (lossless, selection value sv, point transform pt) and returns
// the JPEG stream of the result; empty when the tool fails.
std::vector<std::uint8_t> dcmtkLossless(const std::vector<std::uint8_t>& pixels, int width,
                                        int height, int samples, int sv, int pt) {
  const fs::path dir = fs::path(::testing::TempDir()) /
                       ("varnel_jpegl_" + std::to_string(::getpid()) + "_" + std::to_string(sv) +
                        "_" + std::to_string(pt) + "_" + std::to_string(samples));
  fs::create_directories(dir);
  const std::string in = (dir / "in.dcm").string();
  const std::string out = (dir / "out.dcm").string();
  if (!writeFile(in, minimalDicom(pixels, width, height, samples))) return {};
  const std::string cmd = "dcmcjpeg +el +sv " + std::to_string(sv) + " +pt " + std::to_string(pt) +
                          " '" + in + "' '" + out + "' >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  auto stream = rc == 0 ? extractEncapsulated(readFile(out)) : std::vector<std::uint8_t>{};
  fs::remove_all(dir);
  return stream;
}

TEST(DcmtkStreams, CommittedStreamsDecodeToTheOriginal) {
  char kind = 0;
  int w = 0, h = 0;
  std::vector<std::uint8_t> original;
  ASSERT_TRUE(parsePnm(readFile(kData + "/iris_crop_96x80.pgm"), kind, w, h, original));
  const std::pair<int, int> streams[] = {{1, 0}, {2, 0}, {3, 0}, {4, 0},
                                         {5, 0}, {6, 0}, {7, 0}, {6, 2}};
  for (const auto& [sv, pt] : streams) {
    const std::string name =
        "iris_crop_sv" + std::to_string(sv) + "_pt" + std::to_string(pt) + ".jpg";
    const auto stream = readFile(kData + "/" + name);
    ASSERT_FALSE(stream.empty()) << name;
    JpeglDecoded img;
    ASSERT_EQ(jpeglDecode(stream, img), kOk) << name;
    ASSERT_EQ(img.components.size(), 1u) << name;
    EXPECT_EQ(img.width, w);
    EXPECT_EQ(img.height, h);
    EXPECT_EQ(img.ppi, -1) << name;  // the inserted JFIF header has units 0
    EXPECT_EQ(img.components[0].predictor, sv) << name;
    EXPECT_EQ(img.components[0].pointTransform, pt) << name;
    EXPECT_EQ(img.components[0].plane, pointTransformed(original, pt)) << name;
  }
}

TEST(DcmtkStreams, FreshStreamsForEverySelectionValueAndPointTransform) {
  ASSERT_TRUE(haveDcmtk()) << "dcmcjpeg (dcmtk) is needed (scripts/install-deps)";
  const int w = 61, h = 47;  // odd sizes
  const auto original = testPicture(w, h, 7);
  for (int pt : {0, 1, 4}) {
    for (int sv = 1; sv <= 7; ++sv) {
      const auto raw = dcmtkLossless(original, w, h, 1, sv, pt);
      ASSERT_FALSE(raw.empty()) << "sv " << sv << " pt " << pt;
      JpeglDecoded img;
      ASSERT_EQ(jpeglDecode(withJfifHeader(raw), img), kOk) << "sv " << sv << " pt " << pt;
      ASSERT_EQ(img.components.size(), 1u);
      EXPECT_EQ(img.components[0].predictor, sv);
      EXPECT_EQ(img.components[0].plane, pointTransformed(original, pt))
          << "sv " << sv << " pt " << pt;
    }
  }
}

TEST(DcmtkStreams, InterleavedColourIsRefused) {
  ASSERT_TRUE(haveDcmtk()) << "dcmcjpeg (dcmtk) is needed (scripts/install-deps)";
  const int w = 20, h = 10;
  std::vector<std::uint8_t> rgb;
  const auto grey = testPicture(w, h, 3);
  for (std::uint8_t v : grey) {
    rgb.push_back(v);
    rgb.push_back(static_cast<std::uint8_t>(255 - v));
    rgb.push_back(static_cast<std::uint8_t>(v / 2));
  }
  const auto raw = dcmtkLossless(rgb, w, h, 3, 1, 0);
  ASSERT_FALSE(raw.empty());
  JpeglDecoded img;
  EXPECT_EQ(jpeglDecode(withJfifHeader(raw), img), kInterleavedScan);
}

struct NistStream {
  const char* file;
  int width;
  int height;
  std::uint64_t hash;  // FNV-1a of the pixels decoded by the DICOM toolkit
};

// Type-14 records of the NIST reference transaction type-10-14-17-piv-index-iris: JFIF, a
// NIST_COM comment, a table marked as class 1, predictor 4. The reference hashes were taken from
// dcmdjpeg's decoding of the same streams (with the table class set to 0, which it requires).
void checkNist(const std::string& path, const NistStream& s) {
  const auto stream = readFile(path);
  ASSERT_FALSE(stream.empty()) << path;
  JpeglDecoded img;
  ASSERT_EQ(jpeglDecode(stream, img), kOk) << path;
  EXPECT_EQ(img.width, s.width);
  EXPECT_EQ(img.height, s.height);
  EXPECT_EQ(img.ppi, 500);
  ASSERT_EQ(img.components.size(), 1u);
  EXPECT_EQ(img.components[0].predictor, 4);
  EXPECT_EQ(fnv1a(img.components[0].plane), s.hash) << path;
  std::vector<std::uint8_t> pixels;
  int w = 0, h = 0, depth = 0, ppi = 0;
  ASSERT_EQ(jpeglImage(img, pixels, w, h, depth, ppi), kOk);
  EXPECT_EQ(depth, 8);
  EXPECT_EQ(ppi, 500);
  EXPECT_EQ(pixels, img.components[0].plane);
}

TEST(NistReference, Type14IrisImagesMatchAnIndependentDecoder) {
  checkNist(kData + "/type-10-14-17-piv-index-iris_type14_idc04.jpg",
            {"idc04", 288, 464, 0xa28b0aa85044155full});
}

TEST(NistReference, CorpusCopyOfTheOtherIrisImage) {
  const std::string path =
      kCorpus + "/derived/jpegl-from-nist-reference/type-10-14-17-piv-index-iris_type14_idc03.jpg";
  ASSERT_TRUE(fs::exists(path)) << path << " absent";
  checkNist(path, {"idc03", 288, 512, 0x0024abe3aaaf21d6ull});
}

// The T.83 lossless compliance streams carry a comment, not APP0, after SOI. With a JFIF header
// added they still fail, for the reasons the decoder documents: O1 has a restart interval (DRI)
// and interleaves its four components; O2 has 16-bit samples.
TEST(T83Compliance, StreamsWithoutJfifHeaderAreRefused) {
  for (const char* name : {"t83_O1.jpg", "t83_O2_head512.jpg"}) {
    const auto stream = readFile(kData + "/" + name);
    ASSERT_FALSE(stream.empty()) << name;
    JpeglDecoded img;
    EXPECT_EQ(jpeglDecode(stream, img), kNoApp0) << name;
  }
  JpeglDecoded img;
  EXPECT_EQ(jpeglDecode(withJfifHeader(readFile(kData + "/t83_O1.jpg")), img),
            kBadMarkerBeforeFrame);
  EXPECT_EQ(jpeglDecode(withJfifHeader(readFile(kData + "/t83_O2_head512.jpg")), img),
            kUnsupportedPrecision);
}

TEST(T83Compliance, O1WithoutRestartIntervalStopsAtTheInterleavedScan) {
  auto stream = readFile(kData + "/t83_O1.jpg");
  ASSERT_GT(stream.size(), 300u);
  // Remove the 6-byte DRI segment at offset 294 (see the stream's parse listing).
  ASSERT_EQ(stream[294], 0xFF);
  ASSERT_EQ(stream[295], 0xDD);
  stream.erase(stream.begin() + 294, stream.begin() + 300);
  JpeglDecoded img;
  EXPECT_EQ(jpeglDecode(withJfifHeader(stream), img), kInterleavedScan);
}

TEST(T83Compliance, FullO2FromTheCorpusIsRefusedForItsPrecision) {
  const std::string path = kCorpus + "/itu-t83-lossless/O2.JPG";
  ASSERT_TRUE(fs::exists(path)) << path << " absent";
  JpeglDecoded img;
  EXPECT_EQ(jpeglDecode(readFile(path), img), kNoApp0);
  EXPECT_EQ(jpeglDecode(withJfifHeader(readFile(path)), img), kUnsupportedPrecision);
}

}  // namespace
}  // namespace varnel::jpegl
