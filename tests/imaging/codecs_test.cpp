// In-memory codecs: PNG, lossless JPEG 2000, BMP containers, stream sniffing and headers.
#include "imaging/detail/codecs.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>

#include "imaging/status.h"
#include "tests/imaging/support.h"

namespace varnel::imaging {
namespace {

using test::Pixels;
using test::testPicture;

RawImage makeImage(int w, int h, int depth, const Pixels& px) {
  RawImage r;
  r.width = w;
  r.height = h;
  r.depth = depth;
  r.pixels = px;
  return r;
}

// Decodes with libpng's simplified API, independent of pngDecode.
Pixels libpngSimpleDecode(const std::vector<std::uint8_t>& png, bool colour) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
  image.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  Pixels out(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return {};
  return out;
}

TEST(PngCodec, RoundTripsEightAndTwentyFourBitsExactly) {
  for (int depth : {8, 24}) {
    const Pixels px = testPicture(37, 23, depth / 8, 3);
    std::vector<std::uint8_t> png;
    ASSERT_EQ(pngEncode(makeImage(37, 23, depth, px), png), kOk) << depth;
    RawImage back;
    ASSERT_EQ(pngDecode(png, back), kOk) << depth;
    EXPECT_EQ(back.width, 37);
    EXPECT_EQ(back.height, 23);
    EXPECT_EQ(back.depth, depth);
    EXPECT_EQ(back.pixels, px) << depth;
    EXPECT_EQ(libpngSimpleDecode(png, depth == 24), px) << "libpng reads other pixels";
    int w = 0, h = 0, d = 0;
    ASSERT_EQ(pngReadHeader(png, w, h, d), kOk);
    EXPECT_EQ(d, depth);
  }
}

TEST(PngCodec, OneBitUsesEvenPaddedRowsAndBlackForOne) {
  // 10 pixels wide: 2 bytes of bits, already even.  13 wide: also 2 bytes; 17 wide: 3 -> 4.
  const int w = 17, h = 3;
  const std::size_t row = rawRowBytes(w, 1, false);
  ASSERT_EQ(row, 4u);
  Pixels px(row * h, 0);
  px[0] = 0x80;            // (0,0) black
  px[row + 2] = 0x80;      // (16,1) black
  px[2 * row + 3] = 0xFF;  // padding only: must not leak
  std::vector<std::uint8_t> png;
  ASSERT_EQ(pngEncode(makeImage(w, h, 1, px), png), kOk);
  const Pixels grey = libpngSimpleDecode(png, false);
  ASSERT_EQ(grey.size(), static_cast<std::size_t>(w * h));
  EXPECT_EQ(grey[0], 0);
  EXPECT_EQ(grey[1], 255);
  EXPECT_EQ(grey[w + 16], 0);
  EXPECT_EQ(grey[2 * w + 16], 255);
  RawImage back;
  ASSERT_EQ(pngDecode(png, back), kOk);
  EXPECT_EQ(back.depth, 1);
  EXPECT_EQ(back.pixels[0], 0x80);
  EXPECT_EQ(back.pixels[3 + 2], 0x80);  // decoder rows are tight: 3 bytes
}

std::vector<std::uint8_t> encodeWithLibpng(int colourType, int bitDepth, int w, int h,
                                           const Pixels& rows) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = colourType == PNG_COLOR_TYPE_RGBA
                     ? PNG_FORMAT_RGBA
                     : (colourType == PNG_COLOR_TYPE_GA ? PNG_FORMAT_GA : PNG_FORMAT_GRAY);
  if (bitDepth == 16) image.format |= PNG_FORMAT_FLAG_LINEAR;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, rows.data(), 0, nullptr);
  std::vector<std::uint8_t> out(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, rows.data(), 0, nullptr));
  out.resize(size);
  return out;
}

TEST(PngCodec, AlphaIsDroppedButGreyWithAlphaAndSixteenBitsAreRefused) {
  Pixels rgba = testPicture(5, 4, 4, 9);
  const auto png = encodeWithLibpng(PNG_COLOR_TYPE_RGBA, 8, 5, 4, rgba);
  RawImage img;
  ASSERT_EQ(pngDecode(png, img), kOk);
  EXPECT_EQ(img.depth, 24);
  ASSERT_EQ(img.pixels.size(), 5u * 4 * 3);
  EXPECT_EQ(img.pixels[3], rgba[4]);  // second pixel's red follows the first pixel's blue

  const auto ga = encodeWithLibpng(PNG_COLOR_TYPE_GA, 8, 5, 4, testPicture(5, 4, 2));
  RawImage untouched;
  untouched.width = 99;
  EXPECT_EQ(pngDecode(ga, untouched), kUndecodable);
  EXPECT_EQ(untouched.width, 99);

  const auto sixteen = encodeWithLibpng(PNG_COLOR_TYPE_GRAY, 16, 5, 4, testPicture(5, 4, 2));
  EXPECT_EQ(pngDecode(sixteen, untouched), kUndecodable);
}

TEST(PngCodec, TruncatedAndCorruptStreamsFailCleanly) {
  std::vector<std::uint8_t> png;
  ASSERT_EQ(pngEncode(makeImage(64, 64, 8, testPicture(64, 64, 1)), png), kOk);
  RawImage img;
  for (std::size_t cut : {std::size_t{8}, std::size_t{30}, png.size() / 2, png.size() - 13}) {
    std::vector<std::uint8_t> part(png.begin(), png.begin() + static_cast<long>(cut));
    EXPECT_EQ(pngDecode(part, img), kUndecodable) << cut;
  }
  std::vector<std::uint8_t> bad = png;
  bad[bad.size() / 2] ^= 0xFF;
  EXPECT_EQ(pngDecode(bad, img), kUndecodable);
  EXPECT_EQ(pngEncode(makeImage(4, 4, 16, Pixels(32)), png), kUndecodable);
  EXPECT_EQ(pngEncode(makeImage(4, 4, 8, Pixels(15)), png), kUndecodable);
}

TEST(Jp2Codec, LosslessRoundTripIsExactForGreyAndColour) {
  for (int depth : {8, 24}) {
    const Pixels px = testPicture(61, 45, depth / 8, 5);
    std::vector<std::uint8_t> jp2;
    ASSERT_EQ(jp2LosslessEncode(px, 61, 45, depth, jp2), kOk);
    EXPECT_EQ(sniffStream(jp2), StreamKind::kJp2File);
    int w = 0, h = 0, d = 0;
    bool reversible = false;
    ASSERT_EQ(jp2ReadHeader(jp2, w, h, d, reversible), kOk);
    EXPECT_TRUE(reversible);
    EXPECT_EQ(d, depth);
    RawImage back;
    ASSERT_EQ(jp2Decode(jp2, back), kOk);
    EXPECT_EQ(back.depth, depth);
    EXPECT_EQ(back.pixels, px) << depth;
  }
}

TEST(Jp2Codec, TinyImagesStillEncode) {
  for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 200}, std::pair{31, 2}}) {
    const Pixels px = testPicture(w, h, 1);
    std::vector<std::uint8_t> jp2;
    ASSERT_EQ(jp2LosslessEncode(px, w, h, 8, jp2), kOk) << w << "x" << h;
    RawImage back;
    ASSERT_EQ(jp2Decode(jp2, back), kOk);
    EXPECT_EQ(back.pixels, px);
  }
}

TEST(Jp2Codec, RefusesBadArgumentsAndBrokenStreams) {
  std::vector<std::uint8_t> out = {1, 2, 3};
  EXPECT_EQ(jp2LosslessEncode(Pixels(10), 4, 4, 8, out), kUndecodable);
  EXPECT_EQ(jp2LosslessEncode(Pixels(16), 4, 4, 16, out), kUndecodable);
  EXPECT_EQ(out.size(), 3u);
  std::vector<std::uint8_t> jp2;
  ASSERT_EQ(jp2LosslessEncode(testPicture(40, 40, 1), 40, 40, 8, jp2), kOk);
  RawImage img;
  for (std::size_t cut : {std::size_t{60}, jp2.size() / 2, jp2.size() - 10}) {
    std::vector<std::uint8_t> part(jp2.begin(), jp2.begin() + static_cast<long>(cut));
    EXPECT_EQ(jp2Decode(part, img), kUndecodable) << cut;
  }
  std::vector<std::uint8_t> notJp2 = {0xFF, 0xD8, 0xFF, 0xE0};
  EXPECT_EQ(jp2Decode(notJp2, img), kUndecodable);
}

TEST(StreamSniffing, RecognisesEachSignatureInOrder) {
  EXPECT_EQ(sniffStream(std::vector<std::uint8_t>{0xFF, 0xA0, 0xFF}), StreamKind::kWsq);
  EXPECT_EQ(sniffStream(std::vector<std::uint8_t>{0xFF, 0x4F, 0xFF, 0x51}),
            StreamKind::kJ2kCodestream);
  EXPECT_EQ(sniffStream(std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xDB}), StreamKind::kJpeg);
  EXPECT_EQ(sniffStream(std::vector<std::uint8_t>{'B', 'M', 0}), StreamKind::kBmp);
  EXPECT_EQ(sniffStream(std::vector<std::uint8_t>{0xFF}), StreamKind::kUnknown);
  EXPECT_EQ(sniffStream({}), StreamKind::kUnknown);
  // A JP2 signature box without the "jp2 " file type is not JPEG 2000.
  std::vector<std::uint8_t> sig = {0, 0, 0, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A,
                                   0, 0, 0, 0x14, 0x66, 0x74, 0x79, 0x70, 0x6A, 0x70, 0x78};
  EXPECT_EQ(sniffStream(sig), StreamKind::kUnknown);
}

TEST(WsqFrame, ReadsSizeAfterTablesAndRefusesTruncation) {
  // SOI, a comment segment of length 4, then SOF: length 17, black, white, height 300, width 200.
  std::vector<std::uint8_t> s = {0xFF, 0xA0, 0xFF, 0xA8, 0x00, 0x04, 'h',  'i',  0xFF,
                                 0xA2, 0x00, 0x11, 0x00, 0xFF, 0x01, 0x2C, 0x00, 0xC8};
  int w = 0, h = 0;
  ASSERT_EQ(wsqReadFrame(s, w, h), kOk);
  EXPECT_EQ(w, 200);
  EXPECT_EQ(h, 300);
  s.resize(15);
  EXPECT_EQ(wsqReadFrame(s, w, h), kUndecodable);
  std::vector<std::uint8_t> runaway = {0xFF, 0xA0, 0xFF, 0xA8, 0xFF, 0xFF, 0};
  EXPECT_EQ(wsqReadFrame(runaway, w, h), kUndecodable);
}

TEST(JpegFrame, WalksSegmentsToTheFrameHeader) {
  std::vector<std::uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0,    0,    0xFF, 0xC3,
                                 0x00, 0x0B, 0x08, 0x01, 0x20, 0x00, 0x40, 0x01, 0,    0};
  int marker = 0, w = 0, h = 0, comps = 0;
  ASSERT_EQ(jpegFindFrame(j, marker, w, h, comps), kOk);
  EXPECT_EQ(marker, 0xC3);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 288);
  EXPECT_EQ(comps, 1);
  j[5] = 0x40;  // APP0 length runs past the end
  EXPECT_EQ(jpegFindFrame(j, marker, w, h, comps), kUndecodable);
}

// BMP files as Windows writes them: header, optional palette, rows padded to 4 bytes.
struct BmpBuilder {
  int width = 3;
  int height = 2;  // negative: top row first
  int bitCount = 8;
  int compression = 0;
  std::vector<std::uint8_t> pixelArray;
  int paletteEntries = 0;
  int coreHeader = 0;

  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> b;
    auto p16 = [&](int v) {
      b.push_back(static_cast<std::uint8_t>(v));
      b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto p32 = [&](std::uint32_t v) {
      p16(static_cast<int>(v & 0xFFFF));
      p16(static_cast<int>(v >> 16));
    };
    const int header = coreHeader ? 12 : 40;
    const std::uint32_t offset = 14 + header + paletteEntries * 4;
    b.push_back('B');
    b.push_back('M');
    p32(offset + static_cast<std::uint32_t>(pixelArray.size()));
    p32(0);
    p32(offset);
    p32(static_cast<std::uint32_t>(header));
    if (coreHeader) {
      p16(width);
      p16(height);
      p16(1);
      p16(bitCount);
    } else {
      p32(static_cast<std::uint32_t>(width));
      p32(static_cast<std::uint32_t>(height));
      p16(1);
      p16(bitCount);
      p32(static_cast<std::uint32_t>(compression));
      p32(static_cast<std::uint32_t>(pixelArray.size()));
      p32(3780);
      p32(3780);
      p32(0);
      p32(0);
    }
    for (int i = 0; i < paletteEntries * 4; ++i) b.push_back(0x55);
    b.insert(b.end(), pixelArray.begin(), pixelArray.end());
    return b;
  }
};

TEST(BmpContainer, EightBitRowsComeOutTopFirstWithoutPalette) {
  BmpBuilder b;
  b.paletteEntries = 256;
  b.pixelArray = {1, 2, 3, 0, 4, 5, 6, 0};  // bottom row first
  RawImage img;
  ASSERT_EQ(bmpDecodeContainer(b.bytes(), img), kOk);
  EXPECT_EQ(img.depth, 8);
  EXPECT_EQ(img.pixels, (Pixels{4, 5, 6, 1, 2, 3}));
  b.height = -2;  // top row first
  ASSERT_EQ(bmpDecodeContainer(b.bytes(), img), kOk);
  EXPECT_EQ(img.pixels, (Pixels{1, 2, 3, 4, 5, 6}));
}

TEST(BmpContainer, ColourPixelsBecomeRgbAndThirtyTwoBitsLoseTheFourthByte) {
  BmpBuilder b;
  b.width = 1;
  b.height = 1;
  b.bitCount = 24;
  b.pixelArray = {10, 20, 30, 0};  // blue, green, red, pad
  RawImage img;
  ASSERT_EQ(bmpDecodeContainer(b.bytes(), img), kOk);
  EXPECT_EQ(img.depth, 24);
  EXPECT_EQ(img.pixels, (Pixels{30, 20, 10}));
  b.bitCount = 32;
  b.pixelArray = {10, 20, 30, 99};
  ASSERT_EQ(bmpDecodeContainer(b.bytes(), img), kOk);
  EXPECT_EQ(img.pixels, (Pixels{30, 20, 10}));
  b.coreHeader = 1;
  b.bitCount = 24;
  b.pixelArray = {1, 2, 3, 0};
  ASSERT_EQ(bmpDecodeContainer(b.bytes(), img), kOk);
  EXPECT_EQ(img.pixels, (Pixels{3, 2, 1}));
}

TEST(BmpContainer, RunLengthEscapesAreHonoured) {
  BmpBuilder b;
  b.width = 6;
  b.height = 3;
  b.compression = 1;
  b.pixelArray = {3, 7, 0, 3, 1, 2, 3, 0,
                  0, 0,                    // bottom row: run of three 7s, literal 1 2 3 (+pad), EOL
                  0, 2, 5, 5, 2, 9, 0, 0,  // middle: delta (skipped), run of two 9s, EOL
                  0, 1};                   // end of bitmap: top row stays 0
  RawImage img;
  ASSERT_EQ(bmpDecodeContainer(b.bytes(), img), kOk);
  EXPECT_EQ(img.pixels, (Pixels{0, 0, 0, 0, 0, 0, 9, 9, 0, 0, 0, 0, 7, 7, 7, 1, 2, 3}));
  b.pixelArray = {3, 7, 0, 5, 1, 2};  // literal run cut short
  EXPECT_EQ(bmpDecodeContainer(b.bytes(), img), kUndecodable);
  b.pixelArray = {200, 7, 0, 0, 0, 1};  // a run longer than the row is clipped, not overrun
  ASSERT_EQ(bmpDecodeContainer(b.bytes(), img), kOk);
}

TEST(BmpContainer, UnsupportedFormsAndSizeMismatches) {
  BmpBuilder b;
  b.bitCount = 4;
  b.pixelArray = Pixels(8);
  RawImage img;
  EXPECT_EQ(bmpDecodeContainer(b.bytes(), img), kBmpUnsupported);
  b.bitCount = 8;
  b.compression = 2;
  EXPECT_EQ(bmpDecodeContainer(b.bytes(), img), kBmpUnsupported);
  b.compression = 0;
  b.pixelArray = Pixels(9);  // one byte too many
  EXPECT_EQ(bmpDecodeContainer(b.bytes(), img), kBmpSizeMismatch);
  b.pixelArray = Pixels(7);
  EXPECT_EQ(bmpDecodeContainer(b.bytes(), img), kBmpSizeMismatch);
  const auto full = BmpBuilder{}.bytes();
  std::vector<std::uint8_t> cut(full.begin(), full.begin() + 20);
  EXPECT_EQ(bmpDecodeContainer(cut, img), kUndecodable);
}

TEST(CompressionNames, TableAndRuleNames) {
  EXPECT_EQ(compressionName(0), "NONE");
  EXPECT_EQ(compressionName(1), "WSQ20");
  EXPECT_EQ(compressionName(5), "JP2L");
  EXPECT_EQ(compressionName(6), "PNG");
  EXPECT_EQ(compressionName(7), "");
  EXPECT_EQ(imageFormatFromName("WSQ"), 1);
  EXPECT_EQ(imageFormatFromName("JP2 Lossless"), 5);
  EXPECT_EQ(imageFormatFromName("PNG"), 6);
  EXPECT_EQ(imageFormatFromName("NONE"), 0);
  EXPECT_EQ(imageFormatFromName("png"), 0);
  EXPECT_EQ(imageFormatFromName(""), 0);
}

}  // namespace
}  // namespace varnel::imaging
