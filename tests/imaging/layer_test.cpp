// Image operations on records: classification, information, decoding, recompression,
// compression by resolution, resolution, export.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "imaging/detail/codecs.h"
#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "imaging/wsq/wsq.h"
#include "tests/imaging/support.h"

namespace varnel::imaging {
namespace {

using test::asPixels;
using test::asString;
using test::fieldText;
using test::imageBytes;
using test::Pixels;
using test::testPicture;
using test::Type14;
using transaction::NistFile;

Type14 raw14(int w, int h, int channels = 1, unsigned seed = 1) {
  Type14 r;
  r.width = std::to_string(w);
  r.height = std::to_string(h);
  r.data = asString(testPicture(w, h, channels, seed));
  return r;
}

std::string jp2Of(const Pixels& px, int w, int h, int depth) {
  std::vector<std::uint8_t> out;
  EXPECT_EQ(jp2LosslessEncode(px, w, h, depth, out), kOk);
  return std::string(out.begin(), out.end());
}

std::string wsqOf(const Pixels& px, int w, int h) {
  std::vector<std::uint8_t> out;
  EXPECT_EQ(wsq::wsqEncode(2.25f, px, w, h, out), 0);
  return std::string(out.begin(), out.end());
}

std::string pngOf(const Pixels& px, int w, int h, int depth) {
  RawImage img;
  img.width = w;
  img.height = h;
  img.depth = depth;
  img.pixels = px;
  std::vector<std::uint8_t> out;
  EXPECT_EQ(pngEncode(img, out), kOk);
  return std::string(out.begin(), out.end());
}

TEST(RecordLookup, StatusesForMissingThings) {
  NistFile empty;
  int w = 7, h = 7, d = 7;
  EXPECT_EQ(detectImageFormat(empty, 14, 0), kNoTransaction);
  NistFile f;
  test::loadTagged(f, {raw14(4, 4)});
  EXPECT_EQ(detectImageFormat(f, 2, 0), kNotImageType);
  EXPECT_EQ(detectImageFormat(f, 9, 0), kNotImageType);
  EXPECT_EQ(detectImageFormat(f, 14, -1), kNegativeIndex);
  EXPECT_EQ(detectImageFormat(f, 14, 1), kNotFound);
  EXPECT_EQ(getImageInfo(f, 14, 1, w, h, d), kNotFound);
  EXPECT_EQ(w + h + d, 0);
  ASSERT_EQ(f.deleteFieldAt(14, 999, 0), 0);
  EXPECT_EQ(detectImageFormat(f, 14, 0), kNoImageData);
  RawImage img;
  EXPECT_EQ(decodeRecordImage(f, 14, 0, false, img), kUndecodable);
}

TEST(Classification, ByContentForEveryFormat) {
  const Pixels grey = testPicture(16, 16, 1);
  std::vector<Type14> recs(6);
  for (int i = 0; i < 6; ++i) {
    recs[i] = raw14(16, 16);
    recs[i].idc = i;
  }
  recs[1].data = wsqOf(testPicture(64, 64, 1), 64, 64);
  recs[2].data = jp2Of(grey, 16, 16, 8);
  recs[3].data = pngOf(grey, 16, 16, 8);
  recs[4].data = asString(testPicture(16, 16, 3));  // raw 24-bit
  recs[5].data = std::string(2 * 16, '\x55');       // raw 1-bit, rows of 2 bytes
  NistFile f;
  test::loadTagged(f, recs);
  const int expected[] = {0, 1, 5, 6, 0, 0};
  const int depths[] = {8, 8, 8, 8, 24, 1};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(detectImageFormat(f, 14, i), expected[i]) << "record " << i;
    int w = 0, h = 0, d = 0;
    ASSERT_EQ(getImageInfo(f, 14, i, w, h, d), kOk) << "record " << i;
    EXPECT_EQ(w, i == 1 ? 64 : 16) << "record " << i;
    EXPECT_EQ(d, depths[i]) << "record " << i;
  }
}

TEST(Classification, RawLengthThatFitsNoDepthIsUndecodable) {
  Type14 r = raw14(10, 10);
  r.data.pop_back();
  NistFile f;
  test::loadTagged(f, {r});
  EXPECT_EQ(detectImageFormat(f, 14, 0), kUndecodable);
  int w = 1, h = 1, d = 1;
  EXPECT_EQ(getImageInfo(f, 14, 0, w, h, d), kUndecodable);
  EXPECT_EQ(w + h + d, 0);
  RawImage img;
  EXPECT_EQ(decodeRecordImage(f, 14, 0, false, img), kUndecodable);
}

TEST(Classification, ByFieldFollowsTheTextExactly) {
  std::vector<Type14> recs;
  const char* texts[] = {"NONE", "WSQ", "WSQ20", "JP2", "JP2L", "PNG", "JPEGB", "GRAY", "none"};
  const int codes[] = {0, 1, 1, 4, 5, 6, kUndecodable, kBadCompression, kBadCompression};
  for (int i = 0; i < 9; ++i) {
    Type14 r = raw14(4, 4);
    r.idc = i;
    r.compression = texts[i];
    recs.push_back(r);
  }
  recs[6].data = std::string("\xFF\xD8\xFF\xDB", 4) + std::string(12, 0);  // no JFIF marker
  NistFile f;
  test::loadTagged(f, recs);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(compressionFromField(f, 14, i), codes[i]) << texts[i];
  ASSERT_EQ(f.deleteFieldAt(14, 6, 0), 0);
  EXPECT_EQ(compressionFromField(f, 14, 0), kNoWidth);
  ASSERT_EQ(f.deleteFieldAt(14, 7, 1), 0);
  EXPECT_EQ(compressionFromField(f, 14, 1), kNoHeight);
  ASSERT_EQ(f.deleteFieldAt(14, 11, 2), 0);
  EXPECT_EQ(compressionFromField(f, 14, 2), kBadCompression);
}

TEST(Decoding, RawDepthsAndBitmapLayout) {
  std::vector<Type14> recs = {raw14(5, 3), raw14(5, 3, 3), raw14(5, 3)};
  recs[1].idc = 1;
  recs[2].idc = 2;
  recs[2].data = std::string("\xF8\x00\x00", 3);  // 1-bit: first row black
  NistFile f;
  test::loadTagged(f, recs);
  RawImage img;
  ASSERT_EQ(decodeRecordImage(f, 14, 0, false, img), kOk);
  EXPECT_EQ(img.depth, 8);
  EXPECT_EQ(img.pixels, asPixels(recs[0].data));
  ASSERT_EQ(decodeRecordImage(f, 14, 0, true, img), kOk);
  ASSERT_EQ(img.pixels.size(), 6u * 3);  // rows padded to even length
  EXPECT_EQ(img.pixels[6], static_cast<std::uint8_t>(recs[0].data[5]));

  ASSERT_EQ(decodeRecordImage(f, 14, 1, false, img), kOk);
  EXPECT_EQ(img.depth, 24);
  EXPECT_EQ(img.pixels, asPixels(recs[1].data));
  ASSERT_EQ(decodeRecordImage(f, 14, 1, true, img), kOk);
  ASSERT_EQ(img.pixels.size(), 16u * 3);
  EXPECT_EQ(img.pixels[0], static_cast<std::uint8_t>(recs[1].data[2]));  // blue first
  EXPECT_EQ(img.pixels[2], static_cast<std::uint8_t>(recs[1].data[0]));

  ASSERT_EQ(decodeRecordImage(f, 14, 2, false, img), kOk);
  EXPECT_EQ(img.depth, 1);
  EXPECT_EQ(img.pixels, (Pixels{0xF8, 0, 0, 0, 0, 0}));
}

TEST(Decoding, OneBitRowsPaddedToBytesAsType6StoresThem) {
  // 10 pixels wide: rows of 2 bytes in the record (20 bytes), not 13 bytes of running bits.
  Type14 r = raw14(10, 10);
  r.data = std::string(20, '\0');
  r.data[2] = '\x40';  // second row, second pixel
  NistFile f;
  test::loadTagged(f, {r});
  RawImage img;
  ASSERT_EQ(decodeRecordImage(f, 14, 0, false, img), kOk);
  EXPECT_EQ(img.depth, 1);
  EXPECT_EQ(img.pixels[2], 0x40);
}

TEST(Decoding, IirHeaderIsRefusedAndDataKept) {
  Type14 r = raw14(8, 8);
  r.data = std::string(16, '_') + "IIR" + std::string(76, 'x') + std::string(64, '\x10');
  r.data[0] = '_';
  NistFile f;
  test::loadTagged(f, {r});
  RawImage img;
  EXPECT_EQ(decodeRecordImage(f, 14, 0, false, img), kUndecodable);
  EXPECT_EQ(imageBytes(f, 14, 0), r.data);
}

TEST(Decoding, BmpContainerIsUncompressedAndFailuresBecomeUndecodable) {
  // 2x1 8-bit BMP, row padded to 4.
  std::string bmp =
      std::string("BM") + std::string(8, '\0') + std::string("\x36\x00\x00\x00", 4) +
      std::string("\x28\x00\x00\x00\x02\x00\x00\x00\x01\x00\x00\x00\x01\x00\x08\x00", 16) +
      std::string(24, '\0') + std::string("\x11\x22\x00\x00", 4);
  Type14 r = raw14(2, 1);
  r.data = bmp;
  Type14 bad = r;
  bad.idc = 1;
  bad.data = bmp + "x";  // size mismatch
  NistFile f;
  test::loadTagged(f, {r, bad});
  EXPECT_EQ(detectImageFormat(f, 14, 0), kUndecodable);
  int w = 0, h = 0, d = 0;
  ASSERT_EQ(getImageInfo(f, 14, 0, w, h, d), kOk);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(d, 8);
  RawImage img;
  ASSERT_EQ(decodeRecordImage(f, 14, 0, false, img), kOk);
  EXPECT_EQ(img.pixels, (Pixels{0x11, 0x22}));
  EXPECT_EQ(decodeRecordImage(f, 14, 1, false, img), kUndecodable);
}

TEST(Decoding, ShortWsqAndMislabelledOrCorruptStreamsFailWithoutChange) {
  std::vector<Type14> recs(4);
  for (int i = 0; i < 4; ++i) {
    recs[i] = raw14(64, 64);
    recs[i].idc = i;
  }
  const std::string wsq = wsqOf(testPicture(64, 64, 1), 64, 64);
  recs[0].data = wsq.substr(0, 99);
  recs[0].compression = "WSQ20";
  recs[1].compression = "WSQ20";  // mislabelled: the data is JPEG 2000
  recs[1].data = jp2Of(testPicture(64, 64, 1), 64, 64, 8);
  recs[2].data = wsq;
  recs[2].data[wsq.size() / 2] ^= 0x5A;
  recs[2].data.resize(wsq.size() * 2 / 3);  // truncated in the middle of the data
  recs[3].data = recs[1].data.substr(0, 200);
  NistFile f;
  test::loadTagged(f, recs);
  RawImage img;
  EXPECT_EQ(decodeRecordImage(f, 14, 0, false, img), kUndecodable);
  // The field says WSQ, but the data decides.
  ASSERT_EQ(decodeRecordImage(f, 14, 1, false, img), kOk);
  EXPECT_EQ(img.pixels, testPicture(64, 64, 1));
  EXPECT_EQ(decodeRecordImage(f, 14, 2, false, img), kUndecodable);
  EXPECT_EQ(decodeRecordImage(f, 14, 3, false, img), kUndecodable);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(recompressRecordImage(f, 14, i, 6) < 0, i != 1) << i;
  }
  EXPECT_EQ(imageBytes(f, 14, 0), recs[0].data);
  EXPECT_EQ(imageBytes(f, 14, 2), recs[2].data);
  EXPECT_EQ(fieldText(f, 14, 11, 2), "NONE");
}

TEST(Decoding, FailureReasonCarriesTheCodecsMessage) {
  std::vector<Type14> recs(3);
  for (int i = 0; i < 3; ++i) {
    recs[i] = raw14(16, 12);
    recs[i].idc = i;
  }
  recs[0].data = pngOf(testPicture(16, 12, 1), 16, 12, 8);
  recs[0].data[29] = static_cast<char>(recs[0].data[29] ^ 0x55);  // header checksum broken
  const std::string jp2 = jp2Of(testPicture(64, 64, 1), 64, 64, 8);
  recs[1].data = jp2.substr(0, jp2.size() * 2 / 3);  // header whole, tiles cut short
  recs[2].data = wsqOf(testPicture(64, 64, 1), 64, 64);
  recs[2].data.resize(recs[2].data.size() / 2);
  recs[1].width = recs[1].height = "64";
  NistFile f;
  test::loadTagged(f, recs);
  RawImage img;
  std::string reason;
  EXPECT_EQ(decodeRecordImage(f, 14, 0, false, img, reason), kUndecodable);
  EXPECT_EQ(reason, "libpng: IHDR: CRC error");
  reason.clear();
  EXPECT_EQ(decodeRecordImage(f, 14, 1, false, img, reason), kUndecodable);
  EXPECT_EQ(reason.rfind("OpenJPEG: ", 0), 0u) << reason;
  EXPECT_GT(reason.size(), 10u) << "OpenJPEG's message is missing";
  reason.clear();
  EXPECT_EQ(decodeRecordImage(f, 14, 2, false, img, reason), kUndecodable);
  EXPECT_EQ(reason, "WSQ: stream truncated");
  // The same failures through recompression and export.
  reason.clear();
  EXPECT_EQ(recompressRecordImage(f, 14, 0, 5, reason), kUndecodable);
  EXPECT_EQ(reason, "libpng: IHDR: CRC error");
  reason.clear();
  EXPECT_EQ(exportRecordImage(f, 14, 0, test::tempPath(".bmp"), kExportBmp, reason), kUndecodable);
  EXPECT_EQ(reason, "libpng: IHDR: CRC error");
}

TEST(Recompression, RoundTripsThroughPngAndJp2LAreExact) {
  for (int channels : {1, 3}) {
    for (int target : {6, 5}) {
      NistFile f;
      test::loadTagged(f, {raw14(33, 21, channels, 4)});
      const std::string original = imageBytes(f, 14, 0);
      ASSERT_EQ(recompressRecordImage(f, 14, 0, target), kOk) << target;
      EXPECT_EQ(fieldText(f, 14, 11), compressionName(target));
      EXPECT_EQ(detectImageFormat(f, 14, 0), target);
      ASSERT_EQ(recompressRecordImage(f, 14, 0, 0), kOk);
      EXPECT_EQ(fieldText(f, 14, 11), "NONE");
      EXPECT_EQ(imageBytes(f, 14, 0), original) << "channels " << channels << " via " << target;
      EXPECT_EQ(fieldText(f, 14, 6), "33");
      EXPECT_EQ(fieldText(f, 14, 7), "21");
    }
  }
}

TEST(Recompression, WsqWithinToleranceAndColourBecomesGrey) {
  // A real fingerprint (NIST reference original, 589x605).
  RawImage print;
  ASSERT_EQ(pngDecode(asPixels(test::readFile(VARNEL_TEST_DATA "/wsq/input/cmp00001.png")), print),
            kOk);
  Type14 grey = raw14(print.width, print.height);
  grey.data = asString(print.pixels);
  Type14 colour = raw14(160, 140, 3, 2);
  colour.idc = 1;
  NistFile f;
  test::loadTagged(f, {grey, colour});
  const Pixels original = asPixels(imageBytes(f, 14, 0));
  ASSERT_EQ(recompressRecordImage(f, 14, 0, 1), kOk);
  EXPECT_EQ(fieldText(f, 14, 11), "WSQ20");
  EXPECT_EQ(static_cast<unsigned char>(imageBytes(f, 14, 0)[1]), 0xA0);
  EXPECT_EQ(recompressRecordImage(f, 14, 0, 1), kAlreadyTarget);
  ASSERT_EQ(recompressRecordImage(f, 14, 0, 0), kOk);
  const Pixels back = asPixels(imageBytes(f, 14, 0));
  ASSERT_EQ(back.size(), original.size());
  double sum = 0;
  for (std::size_t i = 0; i < back.size(); ++i) sum += std::abs(double(back[i]) - original[i]);
  EXPECT_LT(sum / back.size(), 6.0) << "WSQ at 2.25 bpp strays too far";

  ASSERT_EQ(recompressRecordImage(f, 14, 1, 1), kOk);
  RawImage img;
  ASSERT_EQ(decodeRecordImage(f, 14, 1, false, img), kOk);
  EXPECT_EQ(img.depth, 8);
}

TEST(Recompression, ColourRecordsThatBecomeWsqSayTheyAreGrey) {
  Type14 colour = raw14(64, 64, 3);
  colour.bpx = "24";
  Type14 other = colour;
  other.idc = 1;
  other.scale = "1000";  // not compressed by the resolution table
  NistFile f;
  test::loadTagged(f, {colour, other});
  EXPECT_EQ(compressRecordsOfType(f, 14, 0.75f, true), 1);
  EXPECT_EQ(fieldText(f, 14, 11), "WSQ20");
  EXPECT_EQ(fieldText(f, 14, 12), "8");
  EXPECT_EQ(fieldText(f, 14, 12, 1), "24");
  ASSERT_EQ(recompressRecordImage(f, 14, 1, 1), kOk);
  EXPECT_EQ(fieldText(f, 14, 12, 1), "8");
}

TEST(Recompression, BinaryRecordsGetTheDigitAndOneBitIsRefused) {
  NistFile f;
  const Pixels px = testPicture(40, 30, 1);
  test::loadType4(f, asString(px), 40, 30, 0);
  ASSERT_EQ(recompressRecordImage(f, 4, 0, 5), kOk);
  EXPECT_EQ(fieldText(f, 4, 8), "5");
  EXPECT_EQ(recompressRecordImage(f, 4, 0, 5), kAlreadyTarget);
  ASSERT_EQ(recompressRecordImage(f, 4, 0, 0), kOk);
  EXPECT_EQ(asPixels(imageBytes(f, 4, 0)), px);
  EXPECT_EQ(fieldText(f, 4, 8), "0");
  EXPECT_EQ(recompressRecordImage(f, 4, 0, 3), kBadTarget);

  NistFile bits;
  test::loadTagged(bits, {raw14(16, 4)});
  ASSERT_EQ(bits.replaceImageData(14, 0, Pixels(8, 0xAA)), 0);  // appended 999 after delete
  ASSERT_EQ(bits.deleteFieldAt(14, 999, 0), 0);
  ASSERT_EQ(bits.replaceImageData(14, 0, Pixels(8, 0xAA)), 0);
  EXPECT_EQ(recompressRecordImage(bits, 14, 0, 6), kOneBitImage);
  EXPECT_EQ(imageBytes(bits, 14, 0), std::string(8, '\xAA'));
}

TEST(CompressRecords, ResolutionTableDecides) {
  // 0: 500 ppi; 1: 1000 ppi; 2: units 2 scale 197 (= 500); 3: units 2 scale 394 (= 1000);
  // 4: 600 ppi; 5: already WSQ though field 11 says NONE; 6: unknown units count as 500.
  std::vector<Type14> recs;
  for (int i = 0; i < 7; ++i) {
    Type14 r = raw14(64, 48, 1, static_cast<unsigned>(i));
    r.idc = i;
    recs.push_back(r);
  }
  recs[1].scale = "1000";
  recs[2].units = "2";
  recs[2].scale = "197";
  recs[3].units = "2";
  recs[3].scale = "394";
  recs[4].scale = "600";
  recs[5].data = wsqOf(testPicture(64, 48, 1), 64, 48);
  recs[6].units = "0";
  NistFile f;
  test::loadTagged(f, recs);
  const std::string wsqBefore = imageBytes(f, 14, 5);
  EXPECT_EQ(compressRecordsOfType(f, 14, 2.25f, true), 3);
  const char* afterWsq[] = {"WSQ20", "NONE", "WSQ20", "NONE", "NONE", "NONE", "WSQ20"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(fieldText(f, 14, 11, i), afterWsq[i]) << i;
  EXPECT_EQ(static_cast<unsigned char>(imageBytes(f, 14, 0)[1]), 0xA0);
  EXPECT_EQ(compressRecordsOfType(f, 14, 0, false), 2);
  const char* afterJp2[] = {"WSQ20", "JP2L", "WSQ20", "JP2L", "NONE", "NONE", "WSQ20"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(fieldText(f, 14, 11, i), afterJp2[i]) << i;
  EXPECT_EQ(imageBytes(f, 14, 5), wsqBefore);
  RawImage img;
  ASSERT_EQ(decodeRecordImage(f, 14, 1, false, img), kOk);
  EXPECT_EQ(img.pixels, testPicture(64, 48, 1, 1));
  // Other fields stay as they were.
  EXPECT_EQ(fieldText(f, 14, 12, 1), "8");
  EXPECT_EQ(fieldText(f, 14, 9, 1), "1000");
}

TEST(CompressRecords, Type13NeverGoesToWsqAndColourKeepsItsComponents) {
  Type14 latent = raw14(40, 40);
  latent.type = 13;
  Type14 colour = raw14(40, 40, 3);
  colour.type = 15;
  colour.idc = 1;
  NistFile f;
  test::loadTagged(f, {latent, colour});
  EXPECT_EQ(compressRecordsOfType(f, 13, 2.25f, true), 0);
  EXPECT_EQ(fieldText(f, 13, 11), "NONE");
  EXPECT_EQ(compressRecordsOfType(f, 13, 0, false), 1);
  EXPECT_EQ(compressRecordsOfType(f, 15, 0, false), 1);
  RawImage img;
  ASSERT_EQ(decodeRecordImage(f, 15, 0, false, img), kOk);
  EXPECT_EQ(img.depth, 24);
  EXPECT_EQ(img.pixels, asPixels(colour.data));
  EXPECT_EQ(compressRecordsOfType(f, 10, 0, false), 0);
}

TEST(Resolution, BinaryFromType1AndTaggedFromScale) {
  NistFile f;
  test::loadType4(f, std::string(16, 'x'), 4, 4, 0);
  EXPECT_EQ(recordResolutionPpi(f, 4, 0), 500);  // 19.69 * 25.4 = 500.1
  ASSERT_EQ(f.setField(1, 11, "0"), 0);
  EXPECT_EQ(recordResolutionPpi(f, 4, 0), 500);
  ASSERT_EQ(f.setField(1, 11, "39.37"), 0);
  EXPECT_EQ(recordResolutionPpi(f, 4, 0), 1000);

  std::vector<Type14> recs(4);
  for (int i = 0; i < 4; ++i) {
    recs[i] = raw14(4, 4);
    recs[i].idc = i;
  }
  recs[0].scale = "1000";
  recs[1].units = "2";
  recs[1].scale = "197";
  recs[2].units = "0";
  recs[3].scale = "abc";
  NistFile t;
  test::loadTagged(t, recs);
  EXPECT_EQ(recordResolutionPpi(t, 14, 0), 1000);
  EXPECT_EQ(recordResolutionPpi(t, 14, 1), 500);
  EXPECT_EQ(recordResolutionPpi(t, 14, 2), 96);
  EXPECT_EQ(recordResolutionPpi(t, 14, 3), 500);
}

// Reads a TIFF with libtiff: width, height, samples, bits, resolution.
struct TiffFacts {
  std::uint32_t width = 0, height = 0;
  std::uint16_t samples = 0, bits = 0, unit = 0, compression = 0;
  float xres = 0, yres = 0;
  std::vector<std::uint8_t> firstRow;
};

bool readTiff(const std::string& path, TiffFacts& t) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return false;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.height);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
  TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &t.unit);
  TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xres);
  TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yres);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
  t.firstRow.resize(TIFFScanlineSize(tif));
  const bool ok = TIFFReadScanline(tif, t.firstRow.data(), 0, 0) == 1;
  TIFFClose(tif);
  return ok;
}

TEST(Export, BmpPngAndTiffFilesReadBack) {
  NistFile f;
  Type14 r = raw14(50, 20, 1, 8);
  r.scale = "1000";
  test::loadTagged(f, {r});
  const std::string bmp = test::tempPath(".bmp");
  const std::string png = test::tempPath(".png");
  const std::string tif = test::tempPath(".tif");
  ASSERT_EQ(exportRecordImage(f, 14, 0, bmp, kExportBmp), kOk);
  ASSERT_EQ(exportRecordImage(f, 14, 0, png, kExportPng), kOk);
  ASSERT_EQ(exportRecordImage(f, 14, 0, tif, kExportTiff), kOk);

  const std::string b = test::readFile(bmp);
  ASSERT_GE(b.size(), 54u + 1024);
  EXPECT_EQ(b.size(), 54u + 1024 + 52 * 20);  // grey palette, rows padded to 52 bytes
  EXPECT_EQ(static_cast<unsigned char>(b[28]), 8);

  RawImage decoded;
  ASSERT_EQ(pngDecode(asPixels(test::readFile(png)), decoded), kOk);
  EXPECT_EQ(decoded.pixels, asPixels(r.data));

  TiffFacts t;
  ASSERT_TRUE(readTiff(tif, t));
  EXPECT_EQ(t.width, 50u);
  EXPECT_EQ(t.height, 20u);
  EXPECT_EQ(t.samples, 3);
  EXPECT_EQ(t.bits, 8);
  EXPECT_EQ(t.unit, RESUNIT_INCH);
  EXPECT_FLOAT_EQ(t.xres, 1000.f);
  EXPECT_EQ(t.compression, COMPRESSION_LZW);
  EXPECT_EQ(t.firstRow[3], static_cast<std::uint8_t>(r.data[1]));

  ASSERT_TRUE(test::haveTool("identify"))
      << "ImageMagick identify is needed (scripts/install-deps)";
  int status = 0;
  const std::string out =
      test::runCommand("identify -format '%w %h %z %x %U|' " + bmp + " " + tif + " 2>&1", status);
  EXPECT_EQ(status, 0) << out;
  // 96 dpi is stored as 3780 pixels per metre.
  EXPECT_NE(out.find("50 20 8 37.7999"), std::string::npos) << out;
  EXPECT_NE(out.find("50 20 8 1000 PixelsPerInch"), std::string::npos) << out;
  for (const auto& p : {bmp, png, tif}) std::remove(p.c_str());
}

TEST(Export, ArgumentStatusesAndUnwritablePaths) {
  NistFile none;
  EXPECT_EQ(exportRecordImage(none, 14, 0, "/tmp/x.bmp", 1), kNoTransaction);
  NistFile f;
  test::loadTagged(f, {raw14(4, 4)});
  EXPECT_EQ(exportRecordImage(f, 14, 0, "", 1), kNoPath);
  EXPECT_EQ(exportRecordImage(f, 2, 0, "/tmp/x.bmp", 1), kNotImageType);
  EXPECT_EQ(exportRecordImage(f, 14, -1, "/tmp/x.bmp", 1), kNegativeIndex);
  EXPECT_EQ(exportRecordImage(f, 14, 0, "/tmp/x.bmp", 4), kBadExportFormat);
  EXPECT_EQ(exportRecordImage(f, 14, 0, "/nonexistent-dir/x.bmp", 1), kWriteFailed);
  EXPECT_EQ(exportRecordImage(f, 14, 0, "/nonexistent-dir/x.png", 2), kWriteFailed);
  EXPECT_EQ(exportRecordImage(f, 14, 0, "/nonexistent-dir/x.tif", 3), kWriteFailed);
  EXPECT_EQ(exportRecordImage(f, 14, 1, "/tmp/x.bmp", 1), kNotFound);
}

TEST(Describe, OneLinePerImage) {
  Type14 bad = raw14(4, 4);
  bad.idc = 1;
  bad.data = "xyz";
  NistFile f;
  test::loadTagged(f, {raw14(5, 3), bad});
  EXPECT_EQ(describeRecordImage(f, 14, 0), "NONE 5x3 8-bit, 15 bytes");
  EXPECT_EQ(describeRecordImage(f, 14, 1),
            "undecodable image data (-303), 3 bytes: not 4x4 raw pixels of 1, 8 or 24 bits");
  EXPECT_EQ(describeRecordImage(f, 2, 0), "");
}

}  // namespace
}  // namespace varnel::imaging
