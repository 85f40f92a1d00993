#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::imaging {

/// A colour.
struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};

/// Pixels per metre of `dpi` dots per inch, rounded (96 dpi gives 3780).
[[nodiscard]] int dpiToPixelsPerMetre(int dpi) noexcept;

/// A device-independent bitmap owned by its holder: 1, 8 or 24 bits per pixel, rows stored top
/// first, each row padded to a multiple of 4 bytes; 24-bit pixels are blue, green, red; 1- and
/// 8-bit pixels index the palette (1 bit: most significant bit first).
class Bitmap {
 public:
  Bitmap() = default;

  [[nodiscard]] int width() const noexcept { return width_; }
  [[nodiscard]] int height() const noexcept { return height_; }
  [[nodiscard]] int bitsPerPixel() const noexcept { return bpp_; }
  [[nodiscard]] bool empty() const noexcept { return width_ == 0; }
  /// Bytes per stored row (a multiple of 4).
  [[nodiscard]] std::size_t stride() const noexcept { return stride_; }
  /// Row `y` (0 = top), borrowed until the bitmap changes; empty outside the bitmap.
  [[nodiscard]] std::span<const std::uint8_t> row(int y) const noexcept;
  [[nodiscard]] std::span<std::uint8_t> row(int y) noexcept;
  [[nodiscard]] const std::vector<Rgb>& palette() const noexcept { return palette_; }
  /// Resolution in pixels per metre (3780, 96 dpi, unless set).
  [[nodiscard]] int pixelsPerMetreX() const noexcept { return ppmX_; }
  [[nodiscard]] int pixelsPerMetreY() const noexcept { return ppmY_; }
  void setResolution(int ppmX, int ppmY) noexcept {
    ppmX_ = ppmX;
    ppmY_ = ppmY;
  }
  /// Colour of the pixel at (x, y). Returns kOk, or kOutsideBitmap.
  [[nodiscard]] int pixel(int x, int y, Rgb& out) const noexcept;

  /// Makes a bitmap. `bitsPerPixel` 1, 8 or 24; `palette` 2 entries for 1 bit, 256 for 8 bits,
  /// none for 24 bits (the grey ramp and white/black are used when it is empty); `pixels` holds
  /// `height` rows of `srcRowBytes` bytes each, top row first, in the stored pixel format (or
  /// is empty for a white bitmap). Returns kOk; kBadBitmapSize for bad sizes or too few bytes;
  /// kAllocFailed when memory runs out. `out` is untouched on failure.
  [[nodiscard]] static int create(int width, int height, int bitsPerPixel,
                                  std::span<const Rgb> palette,
                                  std::span<const std::uint8_t> pixels, std::size_t srcRowBytes,
                                  Bitmap& out) noexcept;

 private:
  int width_ = 0;
  int height_ = 0;
  int bpp_ = 0;
  std::size_t stride_ = 0;
  int ppmX_ = 3780;
  int ppmY_ = 3780;
  std::vector<Rgb> palette_;
  std::vector<std::uint8_t> bits_;
};

/// Horizontal placement of text relative to its point.
enum class TextAlign { kLeft, kCentre };

/// How text is drawn: face name ("Arial", "Courier New"; fontconfig picks the installed match),
/// cell height in pixels (ascent plus descent), weight (400 normal, 700 bold; 600 and above draw
/// bold), colour and alignment.
struct TextStyle {
  std::string face = "Arial";
  double heightPx = 12;
  int weight = 400;
  Rgb colour = kBlack;
  TextAlign align = TextAlign::kLeft;
};

/// A rectangle in pixels.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct Encoder;

/// A 24-bit drawing surface in memory (for image export and the tenprint card). New surfaces
/// are white. Drawing never fails once the surface exists; coordinates are pixels from the top
/// left and may lie partly outside.
class Surface {
 public:
  Surface() noexcept;
  ~Surface();
  Surface(Surface&&) noexcept;
  Surface& operator=(Surface&&) noexcept;
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  /// Makes a white surface of `width` x `height` pixels at `pixelsPerMetre` in both directions.
  /// Returns kOk; kBadBitmapSize for a size outside 1..32767; kAllocFailed when memory runs out.
  [[nodiscard]] static int create(int width, int height, int pixelsPerMetre, Surface& out) noexcept;

  [[nodiscard]] bool valid() const noexcept;
  [[nodiscard]] int width() const noexcept;
  [[nodiscard]] int height() const noexcept;
  [[nodiscard]] int pixelsPerMetre() const noexcept;
  /// Physical left and top offsets of the printable area: always 0 for an image surface.
  void printableOffset(int& left, int& top) const noexcept {
    left = 0;
    top = 0;
  }

  /// Solid line of `widthPx` pixels between two points.
  void drawLine(double x1, double y1, double x2, double y2, double widthPx, Rgb colour) noexcept;
  /// White fill without border.
  void fillRect(const Rect& rect) noexcept;
  /// Text (UTF-16) with its top at `y`; left-aligned at `x`, or centred on `x`. The text cell is
  /// filled white behind the glyphs.
  void drawText(std::u16string_view text, double x, double y, const TextStyle& style) noexcept;
  /// Copies `src` of the bitmap into `dst` of the surface, scaling without smoothing.
  void stretchBitmap(const Bitmap& bitmap, const Rect& src, const Rect& dst) noexcept;
  /// Colour at (x, y). kOk, or kOutsideBitmap.
  [[nodiscard]] int getPixel(int x, int y, Rgb& out) const noexcept;
  /// Copies a region into a new 24-bit bitmap with the surface's resolution. kOk,
  /// kOutsideBitmap for a region not inside the surface, or kAllocFailed.
  [[nodiscard]] int copyToBitmap(int x, int y, int width, int height, Bitmap& out) const noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  friend int saveSurface(const Surface& surface, int x, int y, int width, int height,
                         const Encoder* encoder, int dpi, const std::string& path, std::string* why,
                         int* err) noexcept;
};

/// An image file encoder found by MIME type.
struct Encoder {
  std::string_view mimeType;
};

/// The encoder for "image/bmp" or "image/tiff"; null for any other type.
[[nodiscard]] const Encoder* findEncoder(std::string_view mimeType) noexcept;

/// Saves a bitmap with `encoder` at `dpi` in both directions. BMP keeps the bitmap's depth and
/// palette; TIFF is written as 24-bit RGB with LZW compression. Returns kOk; kWriteFailed when
/// the file cannot be created or written; kNoEncoder without an encoder; kSaveFailed for any
/// other failure (statuses of imaging/status.h). Where `why` is given, a failure stores its
/// reason there (the system's or libtiff's message). Where `err` is given, it receives the
/// system's error number taken at the create, write or close that failed (0 on success and for
/// failures that are not the system's).
[[nodiscard]] int saveBitmap(const Bitmap& bitmap, const Encoder* encoder, int dpi,
                             const std::string& path, std::string* why = nullptr,
                             int* err = nullptr) noexcept;

/// Saves a region of a surface as a 24-bit image, without copying it whole. Statuses, `why` and
/// `err` as saveBitmap, plus kOutsideBitmap for a region not inside the surface.
[[nodiscard]] int saveSurface(const Surface& surface, int x, int y, int width, int height,
                              const Encoder* encoder, int dpi, const std::string& path,
                              std::string* why = nullptr, int* err = nullptr) noexcept;

/// Releases the process-wide font caches that text drawing fills (cairo's and fontconfig's).
/// Call once at the end of the process, after the last drawing, so that leak checkers see a
/// clean exit; no surface may be used afterwards.
void releaseGraphicsCaches() noexcept;

/// UTF-16 text made from single-byte (ISO 8859-1) text.
[[nodiscard]] std::u16string widenLatin1(std::string_view text);

}  // namespace varnel::imaging
