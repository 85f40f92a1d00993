// Baseline and progressive JPEG records through libjpeg, with the JFIF density as resolution.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "imaging/detail/codecs.h"
#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "tests/imaging/support.h"

namespace varnel::imaging {
namespace {

// Encodes pixels with libjpeg at quality 100; `unit` and `density` go into the JFIF header.
std::vector<std::uint8_t> makeJpeg(const std::vector<std::uint8_t>& px, int w, int h,
                                   int components, int unit, int density, bool progressive) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  c.density_unit = static_cast<UINT8>(unit);
  c.X_density = static_cast<UINT16>(density);
  c.Y_density = static_cast<UINT16>(density);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(px.data() + c.next_scanline * w * components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<std::uint8_t> out(mem, mem + size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

TEST(JpegDecoding, DensityUnitsGiveTheResolution) {
  const auto px = test::testPicture(16, 16, 1);
  struct Case {
    int unit, density, ppi, rc;
  };
  for (const Case& k : {Case{0, 1, -1, kOk}, Case{1, 300, 300, kOk}, Case{2, 197, 500, kOk},
                        Case{3, 100, 0, kUndecodable}}) {
    RawImage img;
    EXPECT_EQ(jpegDecode(makeJpeg(px, 16, 16, 1, k.unit, k.density, false), img), k.rc) << k.unit;
    if (k.rc == kOk) {
      EXPECT_EQ(img.ppi, k.ppi) << k.unit;
    }
  }
}

TEST(JpegDecoding, FailureReasonIsLibjpegsMessage) {
  auto jpeg = makeJpeg(test::testPicture(16, 16, 1), 16, 16, 1, 1, 500, false);
  std::size_t sof = 2;
  while (sof + 4 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) ++sof;
  ASSERT_LT(sof + 4, jpeg.size());
  jpeg[sof + 4] = 12;  // sample precision
  RawImage img;
  std::string reason;
  EXPECT_EQ(jpegDecode(jpeg, img, &reason), kUndecodable);
  EXPECT_EQ(reason, "libjpeg: Unsupported JPEG data precision 12");
}

TEST(JpegDecoding, BaselineAndProgressiveColourRecords) {
  const auto px = test::testPicture(24, 16, 3);
  std::vector<test::Type14> recs(3);
  for (int i = 0; i < 3; ++i) {
    recs[i].type = 10;
    recs[i].idc = i;
    recs[i].compression = "JPEGB";
  }
  const auto base = makeJpeg(px, 24, 16, 3, 1, 500, false);
  const auto prog = makeJpeg(px, 24, 16, 3, 1, 500, true);
  recs[0].data.assign(base.begin(), base.end());
  recs[1].data.assign(prog.begin(), prog.end());
  // The same stream without its JFIF segment starts FF D8 FF DB: still baseline JPEG.
  std::vector<std::uint8_t> bare = base;
  bare.erase(bare.begin() + 2, bare.begin() + 2 + 2 + ((bare[4] << 8) | bare[5]));
  recs[2].data.assign(bare.begin(), bare.end());
  transaction::NistFile f;
  test::loadTagged(f, recs);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(detectImageFormat(f, 10, i), 2) << i;
    RawImage img;
    ASSERT_EQ(decodeRecordImage(f, 10, i, false, img), kOk) << i;
    EXPECT_EQ(img.depth, 24);
    EXPECT_EQ(img.width, 24);
    ASSERT_EQ(img.pixels.size(), px.size());
    int worst = 0;
    for (std::size_t k = 0; k < px.size(); ++k)
      worst = std::max(worst, std::abs(px[k] - img.pixels[k]));
    EXPECT_LT(worst, 40) << i;
  }
  EXPECT_EQ(compressionFromField(f, 10, 2), kUndecodable);  // no JFIF, EXIF or Adobe marker
  EXPECT_EQ(compressionFromField(f, 10, 0), 2);
}

// What libjpeg decodes whole with a warning is accepted; data whose scans are cut is not.
TEST(JpegDecoding, RecoverableWarningsAreAcceptedAndCutScansRefused) {
  const auto grey = test::testPicture(32, 32, 1);
  const auto colour = test::testPicture(24, 16, 3);
  for (const bool progressive : {false, true}) {
    SCOPED_TRACE(progressive);
    const auto jpeg = makeJpeg(progressive ? colour : grey, progressive ? 24 : 32,
                               progressive ? 16 : 32, progressive ? 3 : 1, 1, 500, progressive);
    RawImage whole;
    ASSERT_EQ(jpegDecode(jpeg, whole), kOk);
    auto noEnd = jpeg;
    ASSERT_EQ(noEnd[noEnd.size() - 1], 0xD9);
    noEnd.resize(noEnd.size() - 2);
    RawImage img;
    ASSERT_EQ(jpegDecode(noEnd, img), kOk);
    EXPECT_EQ(img.pixels, whole.pixels);
    auto jfif201 = jpeg;
    ASSERT_EQ(jfif201[6], 'J');
    jfif201[11] = 2;  // JFIF version 2.01
    jfif201[12] = 1;
    RawImage newer;
    ASSERT_EQ(jpegDecode(jfif201, newer), kOk);
    EXPECT_EQ(newer.pixels, whole.pixels);
    auto padded = jpeg;  // two stray bytes after the 16-byte JFIF segment
    ASSERT_EQ(padded[20], 0xFF);
    padded.insert(padded.begin() + 20, {0x00, 0x00});
    RawImage stray;
    ASSERT_EQ(jpegDecode(padded, stray), kOk);
    EXPECT_EQ(stray.pixels, whole.pixels);
  }
  // A progressive image that lacks its last scan (cut just before it) is refused.
  auto jpeg = makeJpeg(colour, 24, 16, 3, 1, 500, true);
  std::size_t lastScan = jpeg.size() - 2;
  while (lastScan > 0 && !(jpeg[lastScan] == 0xFF && jpeg[lastScan + 1] == 0xDA)) --lastScan;
  ASSERT_GT(lastScan, 0u);
  jpeg.resize(lastScan);
  RawImage img;
  EXPECT_EQ(jpegDecode(jpeg, img), kUndecodable);
}

TEST(JpegDecoding, TruncatedStreamFailsAndLeavesRecord) {
  auto jpeg = makeJpeg(test::testPicture(32, 32, 1), 32, 32, 1, 0, 1, false);
  jpeg.resize(jpeg.size() / 2);
  test::Type14 r;
  r.data.assign(jpeg.begin(), jpeg.end());
  transaction::NistFile f;
  test::loadTagged(f, {r});
  RawImage img;
  EXPECT_EQ(decodeRecordImage(f, 14, 0, false, img), kUndecodable);
  EXPECT_EQ(recompressRecordImage(f, 14, 0, 6), kUndecodable);
  EXPECT_EQ(test::imageBytes(f, 14, 0), r.data);
}

}  // namespace
}  // namespace varnel::imaging
