#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "imaging/tenprint_card.h"
#include "tests/exports/support.h"

namespace varnel::test {
namespace {

using imaging::Rgb;
using transaction::NistFile;

constexpr Rgb kInk{50, 50, 200};
using imaging::kBlack;
using imaging::kWhite;

int mm(double v) { return static_cast<int>(v * imaging::kCardPixelsPerMm); }

// A decoded TIFF card.
struct Tiff {
  std::uint32_t width = 0, height = 0;
  std::uint16_t samples = 0, bits = 0, unit = 0;
  float xres = 0, yres = 0;
  std::vector<std::uint8_t> rgb;

  Rgb at(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
  // Pixels of the rectangle for which `pred` holds.
  template <typename Pred>
  int count(int x0, int y0, int x1, int y1, Pred pred) const {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) n += pred(at(x, y)) ? 1 : 0;
    }
    return n;
  }
};

bool readTiff(const std::string& path, Tiff& out) {
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
  if (!tif) return false;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &out.width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &out.height);
  TIFFGetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &out.samples);
  TIFFGetField(tif.get(), TIFFTAG_BITSPERSAMPLE, &out.bits);
  TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &out.xres);
  TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &out.yres);
  TIFFGetField(tif.get(), TIFFTAG_RESOLUTIONUNIT, &out.unit);
  if (out.samples != 3 || out.bits != 8) return true;
  out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
  for (std::uint32_t y = 0; y < out.height; ++y) {
    if (TIFFReadScanline(tif.get(), out.rgb.data() + static_cast<std::size_t>(y) * out.width * 3,
                         y) < 0) {
      return false;
    }
  }
  return true;
}

// A fingerprint stand-in: white margin of `margin` pixels around a block of `grey`.
std::string finger(int w, int h, int margin, char grey) {
  std::string p(static_cast<std::size_t>(w) * h, '\xFF');
  for (int y = margin; y < h - margin; ++y) {
    for (int x = margin; x < w - margin; ++x) p[static_cast<std::size_t>(y) * w + x] = grey;
  }
  return p;
}

TxBuilder::Fields type2Text() {
  return {{2, "00"},        {9, "YOURNO1"},    {14, "FBI123"},   {15, "SID42"},
          {17, "MISC9"},    {18, "DOE, JOHN"}, {20, "GB"},       {21, "GB"},
          {22, "19700101"}, {24, "M"},         {25, "W"},        {27, "510"},
          {29, "180"},      {31, "BLU"},       {32, "BRO"},      {37, "APPLICANT"},
          {38, "20240413"}, {39, "ACME LTD"},  {40, "ENGINEER"}, {41, "1 HIGH ST"}};
}

std::string renderTo(NistFile& f, const std::string& name) {
  const std::string path = freshFolder("card") + name;
  imaging::Surface surface;
  EXPECT_EQ(imaging::Surface::create(imaging::kCardWidthPx, imaging::kCardHeightPx,
                                     imaging::kCardPixelsPerMetre, surface),
            0);
  EXPECT_EQ(imaging::renderTenprintCard(f, surface, path), 0);
  return path;
}

bool isInk(Rgb c) { return c == kInk; }
bool isBlack(Rgb c) { return c.r < 60 && c.g < 60 && c.b < 60; }
bool notWhite(Rgb c) { return !(c == kWhite); }

TEST(TenprintCard, FullCardHasItsLayoutImagesAndText) {
  TxBuilder b;
  b.type1({{5, "20240413"}, {8, "WVMEDS001"}, {9, "TCN0001"}});
  b.tagged(2, type2Text());
  int idc = 1;
  for (int n = 1; n <= 10; ++n) {
    b.tagged(14, imageFields(idc++, 1, 400, 400, "NONE",
                             finger(400, 400, 50, n == 1 ? '\x80' : '\0'), n));
  }
  // An impression of type 21 is only a fallback: finger 1 has a type-1 image (grey).
  b.tagged(14, imageFields(idc++, 21, 400, 400, "NONE", finger(400, 400, 50, '\0'), 1));
  b.tagged(14, imageFields(idc++, 0, 800, 500, "NONE", finger(800, 500, 40, '\0'), 14));
  b.tagged(14, imageFields(idc++, 0, 800, 500, "NONE", finger(800, 500, 40, '\0'), 13));
  b.tagged(14, imageFields(idc++, 0, 200, 500, "NONE", finger(200, 500, 30, '\0'), 12));
  b.tagged(14, imageFields(idc++, 0, 200, 500, "NONE", finger(200, 500, 30, '\0'), 11));
  TxBuilder::Fields face =
      imageFields(idc++, 0, 400, 533, "JPEGB", testData("exports/imageHeader_test.jpeg"), 0);
  face.insert(face.end() - 1, {20, "F"});
  b.tagged(10, face);
  NistFile f;
  loadBytes(f, b.bytes());
  const std::string path = renderTo(f, "card.tif");

  Tiff t;
  ASSERT_TRUE(readTiff(path, t));
  EXPECT_EQ(t.width, 4795u);
  EXPECT_EQ(t.height, 7015u);
  EXPECT_EQ(t.samples, 3);
  EXPECT_EQ(t.bits, 8);
  EXPECT_FLOAT_EQ(t.xres, 600);
  EXPECT_FLOAT_EQ(t.yres, 600);
  EXPECT_EQ(t.unit, RESUNIT_INCH);
  ASSERT_FALSE(t.rgb.empty());

  // Grid and descriptive lines, 10 pixels wide, in the card's blue.
  EXPECT_EQ(t.at(1000, mm(105)), kInk);            // top of the rolled rows
  EXPECT_EQ(t.at(4700, mm(221)), kInk);            // top of the plain boxes
  EXPECT_EQ(t.at(mm(40.6), mm(130)), kInk);        // between fingers 1 and 2
  EXPECT_EQ(t.at(mm(135), mm(50)), kInk);          // left edge of the photo
  EXPECT_EQ(t.at(mm(83), mm(5)), kInk);            // ORI | State ID
  EXPECT_EQ(t.at(mm(101.6), mm(280)), kInk);       // between the thumbs
  EXPECT_EQ(t.at(mm(20), mm(19)), kInk);           // under ORI
  EXPECT_EQ(t.at(mm(168), mm(101)), kInk);         // Height | Weight
  EXPECT_EQ(t.at(mm(70), mm(100)), kInk);          // Citizenship | FBI No.
  EXPECT_EQ(t.at(mm(40.6) + 8, mm(130)), kWhite);  // the line is no wider than 10 pixels

  // Rolled fingers: the margin is trimmed and the print centred in its box.
  const double rowX[] = {20.3, 60.9, 101.5, 142.1, 182.7};
  for (int n = 1; n <= 10; ++n) {
    const int cx = mm(rowX[(n - 1) % 5]);
    const int cy = mm(n <= 5 ? 135 : 185);
    // Finger 1: the type-1 image (grey) wins over the type-21 one (black).
    const Rgb ink = n == 1 ? Rgb{128, 128, 128} : kBlack;
    EXPECT_EQ(t.at(cx, cy), ink) << "finger " << n;
    // 300 content pixels drawn at 1.2 times: 360 pixels wide, centred.
    EXPECT_EQ(t.at(cx - 175, cy), ink) << n;
    EXPECT_EQ(t.at(cx + 175, cy), ink) << n;
    EXPECT_EQ(t.at(cx - 190, cy), kWhite) << n;
    EXPECT_EQ(t.at(cx + 190, cy), kWhite) << n;
  }
  // Plain boxes: four fingers, both thumbs.
  EXPECT_EQ(t.at(mm(40.55), mm(259.5)), kBlack);
  EXPECT_EQ(t.at(mm(162.65), mm(259.5)), kBlack);
  EXPECT_EQ(t.at(mm(91.35), mm(259.5)), kBlack);
  EXPECT_EQ(t.at(mm(111.85), mm(259.5)), kBlack);
  // The face fills its box's height (85 mm) centred on the box.
  EXPECT_GT(t.count(mm(150), mm(45), mm(190), mm(55), notWhite), 1000);
  EXPECT_EQ(t.at(mm(138), mm(50)), kWhite);  // left of the fitted photo
  // Labels in blue ink, values in black, the footer in grey.
  EXPECT_GT(t.count(mm(5), mm(10), mm(15), mm(13), isInk), 50);         // "ORI"
  EXPECT_GT(t.count(mm(5), mm(13), mm(40), mm(18), isBlack), 200);      // "WVMEDS001"
  EXPECT_GT(t.count(mm(5), mm(31), mm(40), mm(36), isBlack), 200);      // "DOE, JOHN"
  EXPECT_GT(t.count(mm(191), mm(100), mm(203), mm(105), isBlack), 50);  // "BRO"
  EXPECT_GT(t.count(mm(10), mm(109), mm(30), mm(112), isInk), 50);      // "1. R. THUMB"
  EXPECT_GT(t.count(mm(10), mm(208), mm(110), mm(211),
                    [](Rgb c) {
                      return c == Rgb{128, 128, 128};
                    }),
            50);                             // footer
  EXPECT_EQ(t.at(mm(105), mm(65)), kWhite);  // empty part of the descriptive section

  // A reduced rendering for the documentation.
  if (const char* docs = std::getenv("VARNEL_CARD_PNG"); docs != nullptr && haveTool("convert")) {
    int status = 0;
    runCommand("convert '" + path + "' -resize 25% '" + docs + "'", status);
    EXPECT_EQ(status, 0);
  }
}

TEST(TenprintCard, MissingFingersShowTheirCodes) {
  TxBuilder b;
  b.type1({{8, "ORI2"}, {9, "TCN2"}});
  TxBuilder::Fields t2 = {{2, "00"},
                          {84,
                           "07\x1FXX\x1E"
                           "03\x1FUP\x1E"
                           "04\x1FZZ\x1E"
                           "13\x1FXX"}};
  b.tagged(2, t2);
  int idc = 1;
  for (int n : {1, 2, 6, 8, 9, 10}) {
    b.tagged(14, imageFields(idc++, 1, 400, 400, "NONE", finger(400, 400, 50, '\0'), n));
  }
  // Finger 5 is all white: the margin scans take their defaults.
  b.tagged(14, imageFields(idc++, 1, 400, 400, "NONE", std::string(160000, '\xFF'), 5));
  // Left thumb present, right thumb missing: the both-thumbs image is not drawn.
  b.tagged(14, imageFields(idc++, 0, 200, 500, "NONE", finger(200, 500, 30, '\0'), 12));
  b.tagged(14, imageFields(idc++, 0, 400, 500, "NONE", finger(400, 500, 0, '\0'), 15));
  NistFile f;
  loadBytes(f, b.bytes());
  Tiff t;
  ASSERT_TRUE(readTiff(renderTo(f, "missing.tif"), t));
  ASSERT_FALSE(t.rgb.empty());

  // "XX" and "UP" centred in their boxes, 2 mm above the middle.
  auto textIn = [&](double cxMm, double topMm) {
    return t.count(mm(cxMm - 8), mm(topMm), mm(cxMm + 8), mm(topMm + 5), isBlack);
  };
  EXPECT_GT(textIn(60.9, 183), 100);      // finger 7: XX
  EXPECT_GT(textIn(101.5, 133), 100);     // finger 3: UP
  EXPECT_EQ(textIn(142.1, 133), 0);       // finger 4: unknown code, empty box
  EXPECT_GT(textIn(162.65, 257.5), 100);  // right four fingers: XX
  EXPECT_EQ(textIn(40.55, 257.5), 0);     // left four fingers: no code, empty
  EXPECT_EQ(t.count(mm(172), mm(125), mm(193), mm(145), isBlack), 0);  // white finger 5
  EXPECT_EQ(t.at(mm(91.35), mm(259.5)), kBlack);                       // left thumb
  EXPECT_EQ(t.count(mm(104), mm(230), mm(120), mm(290), isBlack), 0);  // no both-thumbs image
  // No Type-2 names: the labels are there, ORI and TCN from Type 1.
  EXPECT_GT(t.count(mm(5), mm(28), mm(15), mm(31), isInk), 30);  // "Name"
  EXPECT_EQ(t.count(mm(5), mm(31), mm(60), mm(36), isBlack), 0);
  EXPECT_GT(t.count(mm(5), mm(13), mm(30), mm(18), isBlack), 100);  // "ORI2"
  EXPECT_GT(t.count(mm(5), mm(22), mm(30), mm(27), isBlack), 100);  // "TCN2"
}

TEST(TenprintCard, RecordsThatCannotBeDecodedAreListedOnce) {
  TxBuilder b;
  b.type1({{8, "ORI4"}});
  TxBuilder::Fields face = imageFields(1, 0, 8, 8, "NONE", "short", 0);  // raw 8 x 8 needs 64
  face.insert(face.end() - 1, {20, "F"});
  b.tagged(10, face);
  b.tagged(14, imageFields(2, 1, 8, 8, "NONE", "abc", 1));                    // rolled right thumb
  b.tagged(14, imageFields(3, 2, 8, 8, "NONE", finger(8, 8, 1, '\x40'), 1));  // decodes
  NistFile f;
  loadBytes(f, b.bytes());
  imaging::Surface surface;
  ASSERT_EQ(imaging::Surface::create(imaging::kCardWidthPx, imaging::kCardHeightPx,
                                     imaging::kCardPixelsPerMetre, surface),
            0);
  std::vector<imaging::CardRecord> undecodable;
  EXPECT_EQ(imaging::renderTenprintCard(f, surface, "", &undecodable), 0);
  EXPECT_EQ(undecodable, (std::vector<imaging::CardRecord>{{10, 0, {}}, {14, 0, {}}}));
  ASSERT_EQ(undecodable.size(), 2u);
  EXPECT_EQ(undecodable[1].reason, "3 bytes are not 8x8 raw pixels of 1, 8 or 24 bits");
}

TEST(TenprintCard, NoOutputPathDrawsWithoutFooterOrFile) {
  TxBuilder b;
  b.type1({{8, "ORI3"}});
  NistFile f;
  loadBytes(f, b.bytes());
  imaging::Surface surface;
  ASSERT_EQ(imaging::Surface::create(imaging::kCardWidthPx, imaging::kCardHeightPx,
                                     imaging::kCardPixelsPerMetre, surface),
            0);
  EXPECT_EQ(imaging::renderTenprintCard(f, surface, ""), 0);
  Rgb c;
  ASSERT_EQ(surface.getPixel(1000, mm(105), c), 0);
  EXPECT_EQ(c, kInk);
  int grey = 0;
  for (int y = mm(208); y < mm(211); ++y) {
    for (int x = mm(10); x < mm(110); ++x) {
      ASSERT_EQ(surface.getPixel(x, y, c), 0);
      grey += c == Rgb{128, 128, 128} ? 1 : 0;
    }
  }
  EXPECT_EQ(grey, 0);
  NistFile empty;
  EXPECT_LT(imaging::renderTenprintCard(empty, surface, "/tmp/never.tif"), 0);
  EXPECT_FALSE(std::filesystem::exists("/tmp/never.tif"));
}

}  // namespace
}  // namespace varnel::test
