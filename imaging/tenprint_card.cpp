// The tenprint card: a traditional fingerprint card drawn from a transaction at 600 dpi.
// Positions are millimetres from the top-left corner of the card.
#include "imaging/tenprint_card.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <initializer_list>
#include <new>
#include <string>

#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "transaction/tree.h"

namespace varnel::imaging {
namespace {

using transaction::NistFile;

constexpr Rgb kInk{50, 50, 200};
constexpr Rgb kFooterGrey{128, 128, 128};
constexpr double kLineWidthPx = 10;
// A 500 ppi fingerprint drawn at its true size on the 600 dpi card.
constexpr double kFingerScale = 1.2;
// Margin scans look at most this many rows or columns from each edge.
constexpr int kMarginScan = 120;
// A pixel whose red value is below this is part of the print.
constexpr int kDarkBelow = 250;

constexpr int kRolledImpressions[] = {1, 21, 23, 25, 27, 3};
constexpr int kPlainImpressions[] = {0, 20, 22, 24, 26, 8, 2};

// Drawing state: the surface, its unprintable offsets and the current text alignment.
struct Card {
  const NistFile& file;
  Surface& surface;
  double offsetXmm = 0;
  double offsetYmm = 0;
  TextAlign align = TextAlign::kLeft;
  std::vector<CardRecord>* undecodable = nullptr;

  // Decodes a record image for the card, noting a record whose image cannot be decoded.
  bool bitmap(int type, int index, Bitmap& out) {
    std::string reason;
    if (recordImageToBitmap(file, type, index, out, reason) == kOk) return true;
    CardRecord r{type, index, std::move(reason)};
    if (undecodable != nullptr &&
        std::find(undecodable->begin(), undecodable->end(), r) == undecodable->end()) {
      undecodable->push_back(r);
    }
    return false;
  }

  [[nodiscard]] double px(double mm, bool horizontal) const {
    return (mm - (horizontal ? offsetXmm : offsetYmm)) * kCardPixelsPerMm;
  }

  void line(double x1, double y1, double x2, double y2) {
    surface.drawLine(px(x1, true), px(y1, false), px(x2, true), px(y2, false), kLineWidthPx, kInk);
  }

  void text(std::string_view value, double x, double y, TextStyle style) {
    style.align = align;
    surface.drawText(widenLatin1(value), px(x, true), px(y, false), style);
  }
};

TextStyle labelStyle() {
  TextStyle s;
  s.face = "Arial";
  s.heightPx = 3 * kCardPixelsPerMm;
  s.weight = 400;
  s.colour = kInk;
  return s;
}

TextStyle valueStyle() {
  TextStyle s;
  s.face = "Courier New";
  s.heightPx = 5 * kCardPixelsPerMm;
  s.weight = 400;
  s.colour = kBlack;
  return s;
}

TextStyle footerStyle() {
  TextStyle s = valueStyle();
  s.heightPx = 3 * kCardPixelsPerMm;
  s.colour = kFooterGrey;
  return s;
}

struct Entry {
  std::string_view label;
  double x;
  double y;
  int type;
  int field;
};

constexpr Entry kEntries[] = {
    {"ORI", 5, 10, 1, 8},
    {"State ID", 85, 10, 2, 15},
    {"TCN", 5, 19, 1, 9},
    {"Name", 5, 28, 2, 18},
    {"Date of Birth", 5, 37, 2, 22},
    {"Place of Birth", 45, 37, 2, 20},
    {"Date Fingerprinted", 85, 37, 2, 38},
    {"Reason Fingerprinted", 5, 46, 2, 37},
    {"Employer and Address", 5, 60, 2, 39},
    {"Residence of Person Fingerprinted", 5, 70, 2, 41},
    {"Occupation", 5, 80, 2, 40},
    {"Citizenship", 5, 88, 2, 21},
    {"Your No.", 5, 97, 2, 9},
    {"FBI No.", 71, 88, 2, 14},
    {"Miscellaneous No.", 71, 97, 2, 17},
    {"Sex", 137, 97, 2, 24},
    {"Race", 147, 97, 2, 25},
    {"Height", 157, 97, 2, 27},
    {"Weight", 169, 97, 2, 29},
    {"Eyes", 181, 97, 2, 31},
    {"Hair", 191, 97, 2, 32},
};

void drawDescriptive(Card& card) {
  for (const Entry& e : kEntries) {
    card.text(e.label, e.x, e.y, labelStyle());
    std::string_view value;
    if (card.file.getFieldText(e.type, e.field, value) >= 0) {
      card.text(value, e.x, e.y + 3, valueStyle());
    }
  }
  card.line(83, 0, 83, 19);
  for (double y : {19, 28, 37, 46, 60, 70, 80, 88, 97}) card.line(0, y, 135, y);
  card.line(43, 37, 43, 46);
  card.line(83, 37, 83, 46);
  card.line(70, 88, 70, 105);
  for (double x : {146, 156, 168, 180, 190}) card.line(x, 97, x, 105);
  card.line(135, 97, 203.2, 97);
}

// A 24-bit copy of an 8- or 1-bit bitmap (grey repeated in all three colours).
int toRgb(const Bitmap& in, Bitmap& out) {
  if (in.bitsPerPixel() == 24) {
    out = in;
    return kOk;
  }
  Bitmap rgb;
  if (int rc = Bitmap::create(in.width(), in.height(), 24, {}, {}, 0, rgb); rc < 0) return rc;
  for (int y = 0; y < in.height(); ++y) {
    auto row = rgb.row(y);
    for (int x = 0; x < in.width(); ++x) {
      Rgb c;
      (void)in.pixel(x, y, c);
      const auto i = static_cast<std::size_t>(x) * 3;
      row[i] = c.b;
      row[i + 1] = c.g;
      row[i + 2] = c.r;
    }
  }
  rgb.setResolution(in.pixelsPerMetreX(), in.pixelsPerMetreY());
  out = std::move(rgb);
  return kOk;
}

bool dark(const Bitmap& b, int x, int y) {
  const auto row = b.row(y);
  const auto i = static_cast<std::size_t>(x) * 3 + 2;
  return i < row.size() && row[i] < kDarkBelow;
}

bool rowHasInk(const Bitmap& b, int y) {
  for (int x = 0; x < b.width(); x += 2) {
    if (dark(b, x, y)) return true;
  }
  return false;
}

bool columnHasInk(const Bitmap& b, int x, int top, int bottom) {
  for (int y = std::max(top, 0); y <= bottom && y < b.height(); y += 2) {
    if (dark(b, x, y)) return true;
  }
  return false;
}

// The print without its white margin: each edge scan examines at most kMarginScan rows or
// columns and otherwise keeps its default; the column scans look at every second row between
// the top and bottom found first. An image too small to trim is used whole.
Rect contentRect(const Bitmap& b) {
  const int w = b.width();
  const int h = b.height();
  int top = kMarginScan - 1;
  for (int y = 0; y < kMarginScan && y < h; ++y) {
    if (rowHasInk(b, y)) {
      top = y;
      break;
    }
  }
  int bottom = h - kMarginScan;
  for (int y = h - 1; y >= h - kMarginScan && y >= 0; --y) {
    if (rowHasInk(b, y)) {
      bottom = y;
      break;
    }
  }
  int left = kMarginScan - 1;
  for (int x = 0; x < kMarginScan && x < w; ++x) {
    if (columnHasInk(b, x, top, bottom)) {
      left = x;
      break;
    }
  }
  int right = w - kMarginScan;
  for (int x = w - 1; x >= w - kMarginScan && x >= 0; --x) {
    if (columnHasInk(b, x, top, bottom)) {
      right = x;
      break;
    }
  }
  const int cw = right - left + 1;
  const int ch = bottom - top + 1;
  if (cw <= 0 || ch <= 0 || top < 0 || left < 0 || bottom >= h || right >= w) {
    return Rect{0, 0, static_cast<double>(w), static_cast<double>(h)};
  }
  return Rect{static_cast<double>(left), static_cast<double>(top), static_cast<double>(cw),
              static_cast<double>(ch)};
}

void drawFinger(Card& card, const Bitmap& image, double x, double y, double w, double h) {
  Bitmap rgb;
  if (toRgb(image, rgb) < 0) return;
  const Rect src = contentRect(rgb);
  const double dw = src.width * kFingerScale;
  const double dh = src.height * kFingerScale;
  const double cx = card.px(x + w / 2, true);
  const double cy = card.px(y + h / 2, false);
  card.surface.stretchBitmap(rgb, src, Rect{cx - dw / 2, cy - dh / 2, dw, dh});
}

// What fieldNumber gives for a field that is not there.
constexpr int kNoFieldNumber = -1;

// Leading decimal number of a field, or kNoFieldNumber when the field is missing.
int fieldNumber(const NistFile& file, int type, int field, int index) {
  std::string_view text;
  if (file.getFieldText(type, field, text, index) < 0) return kNoFieldNumber;
  return static_cast<int>(transaction::parseLeadingInt(text));
}

// The first record of the impression list (Type 4 before Type 14 for each impression code)
// for the finger position, decoded into `out`.
bool findFinger(Card& card, int position, std::span<const int> impressions, Bitmap& out) {
  const NistFile& file = card.file;
  struct Source {
    int type;
    int fgpField;
  };
  constexpr Source kSources[] = {{4, 4}, {14, 13}};
  for (int imp : impressions) {
    for (const Source& s : kSources) {
      const int n = file.countRecords(s.type);
      for (int i = 0; i < n; ++i) {
        if (fieldNumber(file, s.type, s.fgpField, i) != position ||
            fieldNumber(file, s.type, 3, i) != imp) {
          continue;
        }
        // A record that cannot be decoded does not hide a later one that can.
        if (card.bitmap(s.type, i, out)) return true;
      }
    }
  }
  return false;
}

// "XX" (amputated) or "UP" (unable to print) from 2.084 for a finger without image.
void drawMissingCode(Card& card, int position, double x, double y, double w, double h) {
  char wanted[16];
  (void)std::snprintf(wanted, sizeof wanted, "%02d", position);
  const int n = card.file.getSubfieldCount(2, 84, 0);
  for (int s = 0; s < n; ++s) {
    std::string_view fgp;
    if (card.file.getItemText(2, 84, 0, s, 0, fgp) < 0 || fgp != wanted) continue;
    std::string_view code;
    if (card.file.getItemText(2, 84, 0, s, 1, code) >= 0 && (code == "XX" || code == "UP")) {
      card.text(code, x + w / 2, y + h / 2 - 2, valueStyle());
    }
    return;
  }
}

// Draws the finger of `position` into the box; returns whether an image was found.
bool fingerBox(Card& card, int position, std::span<const int> impressions, double x, double y,
               double w, double h, bool missingCode) {
  Bitmap image;
  if (findFinger(card, position, impressions, image)) {
    drawFinger(card, image, x, y, w, h);
    return true;
  }
  if (missingCode) drawMissingCode(card, position, x, y, w, h);
  return false;
}

void drawPhoto(Card& card) {
  card.surface.fillRect(
      Rect{card.px(135, true), card.px(0, false), 75 * kCardPixelsPerMm, 95 * kCardPixelsPerMm});
  const int n = card.file.countRecords(10);
  for (int i = 0; i < n; ++i) {
    std::string_view pose;
    if (card.file.getFieldText(10, 20, pose, i) < 0 || pose.empty() || pose[0] != 'F') continue;
    Bitmap face;
    if (card.bitmap(10, i, face) && face.width() > 0 && face.height() > 0) {
      constexpr double kBoxX = 141;
      constexpr double kBoxY = 8;
      constexpr double kBoxW = 60;
      constexpr double kBoxH = 85;
      const double scale = std::max(face.height() / kBoxH, face.width() / kBoxW);
      const double dw = face.width() / scale;
      const double dh = face.height() / scale;
      const double x = kBoxX + (kBoxW - dw) / 2;
      const double y = kBoxY + (kBoxH - dh) / 2;
      card.surface.stretchBitmap(
          face, Rect{0, 0, static_cast<double>(face.width()), static_cast<double>(face.height())},
          Rect{card.px(x, true), card.px(y, false), dw * kCardPixelsPerMm, dh * kCardPixelsPerMm});
    }
    return;
  }
}

void drawFingers(Card& card) {
  constexpr double kRowX[] = {0, 40.6, 81.2, 121.8, 162.4};
  for (int n = 1; n <= 10; ++n) {
    const double x = kRowX[(n - 1) % 5];
    const double y = n <= 5 ? 115 : 165;
    (void)fingerBox(card, n, kRolledImpressions, x, y, 40.6, 40, true);
  }
  (void)fingerBox(card, 14, kPlainImpressions, 0, 222, 81.1, 75, true);
  const bool leftThumb = fingerBox(card, 12, kPlainImpressions, 81.1, 222, 20.5, 75, false);
  const bool rightThumb = fingerBox(card, 11, kPlainImpressions, 101.6, 222, 20.5, 75, false);
  if (!leftThumb && !rightThumb) {
    (void)fingerBox(card, 15, kPlainImpressions, 81.1, 222, 41, 75, false);
  }
  (void)fingerBox(card, 13, kPlainImpressions, 122.1, 222, 81.1, 75, true);
}

void drawGrid(Card& card) {
  for (double y : {105, 115, 155, 165, 205, 214, 221}) card.line(0, y, 203.2, y);
  for (double x : {40.6, 81.2, 121.8, 162.4}) card.line(x, 105, x, 205);
  for (double x : {81.1, 101.6, 122.1}) card.line(x, 214, x, 297);
  card.line(135, 0, 135, 105);
}

void drawCaptions(Card& card) {
  constexpr std::string_view kTop[] = {"1. R. THUMB", "2. R. INDEX", "3. R. MIDDLE", "4. R. RING",
                                       "5. R. LITTLE"};
  constexpr std::string_view kBottom[] = {"6. L. THUMB", "7. L. INDEX", "8. L. MIDDLE",
                                          "9. L. RING", "10. L. LITTLE"};
  constexpr double kX[] = {20.3, 60.9, 101.5, 142.1, 182.7};
  for (int i = 0; i < 5; ++i) {
    card.text(kTop[i], kX[i], 109, labelStyle());
    card.text(kBottom[i], kX[i], 159, labelStyle());
  }
  card.text("LEFT FOUR FINGERS TAKEN SIMULTANEOUSLY", 42, 216, labelStyle());
  card.text("RIGHT FOUR FINGERS TAKEN SIMULTANEOUSLY", 161.2, 216, labelStyle());
  card.text("L. THUMB", 91.35, 216, labelStyle());
  card.text("R. THUMB", 111.85, 216, labelStyle());
}

}  // namespace

int renderTenprintCard(const NistFile& file, Surface& surface, const std::string& outputPath,
                       std::vector<CardRecord>* undecodable, int* err) noexcept {
  if (err != nullptr) *err = 0;
  if (file.transaction() == nullptr || !surface.valid()) return kNoTransaction;
  try {
    Card card{file, surface};
    card.undecodable = undecodable;
    int left = 0;
    int top = 0;
    surface.printableOffset(left, top);
    card.offsetXmm = left / kCardPixelsPerMm;
    card.offsetYmm = top / kCardPixelsPerMm;

    drawDescriptive(card);
    drawPhoto(card);
    card.align = TextAlign::kCentre;
    drawFingers(card);
    drawGrid(card);
    drawCaptions(card);

    if (outputPath.empty()) return kOk;
    std::string footer = "Generated with Quillon Ltd - Varnel v";
    footer += kCardProgramVersion;
    card.text(footer, 62, 208, footerStyle());
    const int w = std::min(kCardWidthPx, surface.width());
    const int h = std::min(kCardHeightPx, surface.height());
    return saveSurface(surface, 0, 0, w, h, findEncoder("image/tiff"), kCardDpi, outputPath,
                       nullptr, err);
  } catch (const std::bad_alloc&) {
    return kAllocFailed;
  }
}

}  // namespace varnel::imaging
