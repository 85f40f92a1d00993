// Bitmaps, the drawing surface, and BMP and TIFF files read back by libtiff and ImageMagick.
#include "imaging/graphics.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>

#include "imaging/status.h"
#include "tests/imaging/support.h"

namespace varnel::imaging {
namespace {

std::uint32_t le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8) |
         (static_cast<std::uint8_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 3])) << 24);
}

TEST(BitmapFiles, BmpLayoutForEachDepth) {
  struct Case {
    int bpp;
    std::size_t paletteEntries;
    std::size_t rowBytes;  // for width 5
  };
  for (const Case& c : {Case{1, 2, 4}, Case{8, 256, 8}, Case{24, 0, 16}}) {
    const int w = 5, h = 3;
    const std::size_t src = (static_cast<std::size_t>(w) * c.bpp + 7) / 8;
    std::vector<std::uint8_t> px(src * h, 0);
    px[0] = c.bpp == 1 ? 0x80 : 0x11;  // top-left pixel
    Bitmap bmp;
    ASSERT_EQ(Bitmap::create(w, h, c.bpp, {}, px, src, bmp), kOk);
    const std::string path = test::tempPath(".bmp");
    ASSERT_EQ(saveBitmap(bmp, findEncoder("image/bmp"), 96, path), kOk);
    const std::string b = test::readFile(path);
    const std::size_t offset = 54 + c.paletteEntries * 4;
    ASSERT_EQ(b.size(), offset + c.rowBytes * h) << c.bpp;
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(le32(b, 2), b.size());
    EXPECT_EQ(le32(b, 10), offset);
    EXPECT_EQ(le32(b, 14), 40u);
    EXPECT_EQ(le32(b, 18), 5u);
    EXPECT_EQ(le32(b, 22), 3u);  // positive: bottom-up
    EXPECT_EQ(static_cast<std::uint8_t>(b[28]), c.bpp);
    EXPECT_EQ(le32(b, 38), 3780u);  // 96 dpi in pixels per metre
    EXPECT_EQ(le32(b, 46), c.paletteEntries);
    // The top row is stored last.
    EXPECT_EQ(static_cast<std::uint8_t>(b[offset + c.rowBytes * 2]), px[0]) << c.bpp;
    if (c.bpp == 1) {  // white, black
      EXPECT_EQ(le32(b, 54), 0x00FFFFFFu);
      EXPECT_EQ(le32(b, 58), 0u);
    }
    ASSERT_TRUE(test::haveTool("identify"))
        << "ImageMagick identify is needed (scripts/install-deps)";
    int status = 0;
    const std::string out = test::runCommand(
        "identify -format '%w %h %[fx:round(resolution.x*2.54)]' " + path + " 2>&1", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "5 3 96") << c.bpp;
    std::remove(path.c_str());
  }
}

TEST(BitmapFiles, TiffIsRgbLzwWithResolutionInInches) {
  Surface s;
  ASSERT_EQ(Surface::create(300, 200, dpiToPixelsPerMetre(600), s), kOk);
  s.drawLine(0, 100, 300, 100, 10, Rgb{50, 50, 200});
  const std::string path = test::tempPath(".tif");
  ASSERT_EQ(saveSurface(s, 0, 0, 300, 200, findEncoder("image/tiff"), 600, path), kOk);
  TIFF* t = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(t, nullptr);
  std::uint32_t w = 0, h = 0;
  std::uint16_t spp = 0, bps = 0, unit = 0, comp = 0, photo = 0;
  float xr = 0, yr = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetField(t, TIFFTAG_COMPRESSION, &comp);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
  TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
  TIFFGetField(t, TIFFTAG_XRESOLUTION, &xr);
  TIFFGetField(t, TIFFTAG_YRESOLUTION, &yr);
  std::vector<std::uint8_t> row(TIFFScanlineSize(t));
  for (std::uint32_t y = 0; y <= 100; ++y) ASSERT_EQ(TIFFReadScanline(t, row.data(), y, 0), 1);
  TIFFClose(t);
  EXPECT_EQ(w, 300u);
  EXPECT_EQ(h, 200u);
  EXPECT_EQ(spp, 3);
  EXPECT_EQ(bps, 8);
  EXPECT_EQ(comp, COMPRESSION_LZW);
  EXPECT_EQ(photo, PHOTOMETRIC_RGB);
  EXPECT_EQ(unit, RESUNIT_INCH);
  EXPECT_FLOAT_EQ(xr, 600.f);
  EXPECT_FLOAT_EQ(yr, 600.f);
  EXPECT_EQ(row[150 * 3], 50);
  EXPECT_EQ(row[150 * 3 + 2], 200);
  ASSERT_TRUE(test::haveTool("identify"))
      << "ImageMagick identify is needed (scripts/install-deps)";
  int status = 0;
  const std::string out =
      test::runCommand("identify -format '%w %h %z %[channels] %x %U' " + path + " 2>&1", status);
  EXPECT_EQ(out, "300 200 8 srgb 600 PixelsPerInch");
  std::remove(path.c_str());
}

TEST(BitmapFiles, MissingEncoderAndUnwritablePath) {
  EXPECT_EQ(findEncoder("image/png"), nullptr);
  Bitmap bmp;
  ASSERT_EQ(Bitmap::create(2, 2, 24, {}, {}, 0, bmp), kOk);
  EXPECT_EQ(saveBitmap(bmp, nullptr, 96, "/tmp/x.bmp"), kNoEncoder);
  EXPECT_EQ(saveBitmap(bmp, findEncoder("image/bmp"), 96, "/nonexistent/x.bmp"), kWriteFailed);
  EXPECT_EQ(saveBitmap(bmp, findEncoder("image/tiff"), 96, "/nonexistent/x.tif"), kWriteFailed);
  EXPECT_EQ(Bitmap::create(0, 2, 24, {}, {}, 0, bmp), kBadBitmapSize);
  EXPECT_EQ(Bitmap::create(4, 4, 8, {}, std::vector<std::uint8_t>(15), 4, bmp), kBadBitmapSize);
}

TEST(DrawingSurface, TextLinesFillsAndStretching) {
  Surface s;
  ASSERT_EQ(Surface::create(400, 200, 23616, s), kOk);
  EXPECT_EQ(s.pixelsPerMetre(), 23616);
  Rgb c;
  ASSERT_EQ(s.getPixel(0, 0, c), kOk);
  EXPECT_EQ(c, kWhite);
  EXPECT_EQ(s.getPixel(400, 0, c), kOutsideBitmap);

  s.drawLine(10, 10, 390, 10, 10, Rgb{50, 50, 200});
  ASSERT_EQ(s.getPixel(200, 10, c), kOk);
  EXPECT_EQ(c, (Rgb{50, 50, 200}));
  ASSERT_EQ(s.getPixel(200, 20, c), kOk);
  EXPECT_EQ(c, kWhite);

  // Text: black glyphs inside a cell whose top is the given point.
  TextStyle style;
  style.face = "Courier New";
  style.heightPx = 40;
  s.drawText(u"MMMM", 20, 50, style);
  int dark = 0, above = 0;
  for (int y = 40; y < 100; ++y) {
    for (int x = 20; x < 200; ++x) {
      ASSERT_EQ(s.getPixel(x, y, c), kOk);
      if (c.r < 100) (y < 50 ? above : dark)++;
    }
  }
  EXPECT_GT(dark, 100);
  EXPECT_EQ(above, 0);
  // Centred text straddles its point.
  style.align = TextAlign::kCentre;
  s.drawText(u"WWWW", 300, 120, style);
  int left = 0, right = 0;
  for (int y = 120; y < 160; ++y) {
    for (int x = 230; x < 370; ++x) {
      ASSERT_EQ(s.getPixel(x, y, c), kOk);
      if (c.r < 100) (x < 300 ? left : right)++;
    }
  }
  EXPECT_GT(left, 50);
  EXPECT_GT(right, 50);

  s.fillRect(Rect{0, 0, 400, 200});
  ASSERT_EQ(s.getPixel(30, 60, c), kOk);
  EXPECT_EQ(c, kWhite);

  // A 2x2 grey bitmap stretched to 100x100.
  const std::vector<std::uint8_t> px = {0, 255, 255, 0};
  Bitmap bmp;
  ASSERT_EQ(Bitmap::create(2, 2, 8, {}, px, 2, bmp), kOk);
  s.stretchBitmap(bmp, Rect{0, 0, 2, 2}, Rect{100, 50, 100, 100});
  ASSERT_EQ(s.getPixel(120, 70, c), kOk);
  EXPECT_EQ(c, kBlack);
  ASSERT_EQ(s.getPixel(180, 70, c), kOk);
  EXPECT_EQ(c, kWhite);
  ASSERT_EQ(s.getPixel(180, 130, c), kOk);
  EXPECT_EQ(c, kBlack);
  ASSERT_EQ(s.getPixel(99, 70, c), kOk);
  EXPECT_EQ(c, kWhite);

  Bitmap copy;
  ASSERT_EQ(s.copyToBitmap(100, 50, 100, 100, copy), kOk);
  EXPECT_EQ(copy.bitsPerPixel(), 24);
  ASSERT_EQ(copy.pixel(10, 10, c), kOk);
  EXPECT_EQ(c, kBlack);
  EXPECT_EQ(copy.pixelsPerMetreX(), 23616);
  EXPECT_EQ(s.copyToBitmap(350, 0, 100, 10, copy), kOutsideBitmap);
}

TEST(DrawingSurface, Latin1TextWidens) {
  EXPECT_EQ(widenLatin1("A\xE9"), std::u16string(u"A\u00E9"));
}

// Font caches are released at the end, so the leak checker of sanitizer builds sees a clean exit.
class GraphicsCaches : public ::testing::Environment {
 public:
  void TearDown() override { releaseGraphicsCaches(); }
};
const auto* const kCaches = ::testing::AddGlobalTestEnvironment(new GraphicsCaches);

}  // namespace
}  // namespace varnel::imaging
