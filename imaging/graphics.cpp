// Bitmaps, the cairo drawing surface, and BMP and TIFF files.
#include "imaging/graphics.h"

#include <cairo.h>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "imaging/detail/reason.h"
#include "imaging/status.h"
#include "transaction/file_io.h"

namespace varnel::imaging {
namespace {

using detail::fail;
using detail::kLibraryMessageSize;

// Largest bitmap or surface side accepted (cairo's own limit).
constexpr int kMaxSide = 32767;

constexpr Encoder kEncoders[] = {{"image/bmp"}, {"image/tiff"}};

std::size_t stride4(std::uint64_t bits) { return static_cast<std::size_t>((bits + 31) / 32 * 4); }

std::string toUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Calls `row(y, rgb)` for each row, top first, with 3 bytes (R, G, B) per pixel.
using RowSource = std::function<void(int y, std::uint8_t* rgb)>;

void put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// Writes a BMP: BITMAPFILEHEADER, BITMAPINFOHEADER, palette, bottom-up rows padded to 4 bytes.
// `row(y, out)` fills one stored row (`rowBytes` bytes, padding included) for top-first row y.
// "cannot <what> <path>: <system message of `error`>".
std::string fileReason(const char* what, const std::string& path, int error) {
  return std::string("cannot ") + what + " " + path + ": " +
         std::error_code(error, std::generic_category()).message();
}

// Keeps the system's error number of a failed create, write or close for the caller (the first
// one seen: what fails after it is a consequence).
void keepError(int* err, int error) noexcept {
  if (err != nullptr && *err == 0) *err = error;
}

int writeBmp(const std::string& path, int width, int height, int bpp,
             const std::vector<Rgb>& palette, int dpi,
             const std::function<void(int, std::uint8_t*)>& row, std::string* why, int* err) {
  const std::size_t rowBytes = stride4(static_cast<std::uint64_t>(width) * bpp);
  const std::uint64_t imageSize = static_cast<std::uint64_t>(rowBytes) * height;
  const std::uint32_t paletteBytes = static_cast<std::uint32_t>(palette.size() * 4);
  const std::uint32_t offset = 14 + 40 + paletteBytes;
  if (imageSize + offset > 0xFFFFFFFFu) return fail(why, kSaveFailed, "image too large for BMP");
  const int ppm = dpiToPixelsPerMetre(dpi);
  std::vector<std::uint8_t> head;
  head.reserve(offset);
  head.push_back('B');
  head.push_back('M');
  put32(head, static_cast<std::uint32_t>(offset + imageSize));
  put32(head, 0);
  put32(head, offset);
  put32(head, 40);
  put32(head, static_cast<std::uint32_t>(width));
  put32(head, static_cast<std::uint32_t>(height));  // positive: bottom row first
  put16(head, 1);
  put16(head, static_cast<std::uint32_t>(bpp));
  put32(head, 0);  // no compression
  put32(head, static_cast<std::uint32_t>(imageSize));
  put32(head, static_cast<std::uint32_t>(ppm));
  put32(head, static_cast<std::uint32_t>(ppm));
  put32(head, static_cast<std::uint32_t>(palette.size()));
  put32(head, 0);
  for (const Rgb& c : palette) {
    head.push_back(c.b);
    head.push_back(c.g);
    head.push_back(c.r);
    head.push_back(0);
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    const int error = errno;
    keepError(err, error);
    return fail(why, kWriteFailed, fileReason("create", path, error));
  }
  // The error number is taken where the write or close fails, before anything else can change it.
  int error = 0;
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
  if (!ok) error = errno;
  std::vector<std::uint8_t> buf(rowBytes, 0);
  for (int y = height - 1; ok && y >= 0; --y) {
    row(y, buf.data());
    ok = std::fwrite(buf.data(), 1, rowBytes, f) == rowBytes;
    if (!ok) error = errno;
  }
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    keepError(err, error);
    (void)std::remove(path.c_str());
    return fail(why, kWriteFailed, fileReason("write", path, error));
  }
  return kOk;
}

int quietTiffHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Keeps libtiff's first error message in the buffer `user` points to, for the caller's reason;
// nothing is printed.
int keepTiffError(TIFF*, void* user, const char* /*module*/, const char* fmt, va_list ap) {
  auto* text = static_cast<char*>(user);
  if (text != nullptr && fmt != nullptr && text[0] == '\0') {
    (void)std::vsnprintf(text, kLibraryMessageSize, fmt, ap);  // a cut message is enough
  }
  return 1;
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
struct TiffOptionsFree {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// The file libtiff writes through: our descriptor, and the first system error seen on it, taken
// where the call failed (libtiff itself reports only that something did).
//
// libtiff writes a wide image a strip of one row at a time, each after a seek to the end: a
// tenprint card would cost some 7,000 writes and as many seeks. Writes are gathered here instead
// and go to the file in large pieces; seeks only move the position libtiff sees.
class TiffFile {
 public:
  explicit TiffFile(int fd) : fd_(fd) {}
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;
  ~TiffFile() { (void)close(); }

  [[nodiscard]] int error() const { return error_; }

  tmsize_t read(void* out, tmsize_t n) {
    if (!flush()) return -1;
    const ssize_t got = ::pread(fd_, out, static_cast<std::size_t>(n), static_cast<off_t>(pos_));
    if (got < 0) return fail();
    pos_ += static_cast<toff_t>(got);
    return got;
  }

  tmsize_t write(const void* data, tmsize_t n) {
    const auto size = static_cast<std::size_t>(n);
    if (pending_.empty() || pos_ != pendingAt_ + pending_.size()) {
      if (!flush()) return -1;
      pendingAt_ = pos_;
    }
    if (pending_.size() + size > kGather) {
      if (!flush()) return -1;
      pendingAt_ = pos_;
      if (size > kGather) {  // too large to gather: straight to the file
        if (!writeAt(static_cast<const char*>(data), size, pos_)) return -1;
        pos_ += size;
        return n;
      }
    }
    try {
      const auto* bytes = static_cast<const char*>(data);
      pending_.insert(pending_.end(), bytes, bytes + size);
    } catch (...) {
      if (error_ == 0) error_ = ENOMEM;
      return -1;
    }
    pos_ += size;
    return n;
  }

  toff_t seek(toff_t offset, int whence) {
    toff_t base = 0;
    if (whence == SEEK_CUR) base = pos_;
    if (whence == SEEK_END) base = size();
    const auto to = static_cast<std::int64_t>(base) + static_cast<std::int64_t>(offset);
    if (to < 0) {
      if (error_ == 0) error_ = EINVAL;
      return static_cast<toff_t>(-1);
    }
    pos_ = static_cast<toff_t>(to);
    return pos_;
  }

  [[nodiscard]] toff_t size() const {
    return pending_.empty() ? end_ : std::max(end_, pendingAt_ + pending_.size());
  }

  // Writes what is gathered and closes the descriptor; a full disk may show only here.
  int close() {
    if (fd_ < 0) return 0;
    const bool flushed = flush();
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && error_ == 0) error_ = errno;
    return flushed && rc == 0 ? 0 : -1;
  }

 private:
  static constexpr std::size_t kGather = std::size_t{1} << 18;

  tmsize_t fail() {
    if (error_ == 0) error_ = errno;
    return -1;
  }

  bool writeAt(const char* data, std::size_t n, toff_t at) {
    while (n > 0) {
      const ssize_t put = ::pwrite(fd_, data, n, static_cast<off_t>(at));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        if (error_ == 0) error_ = put < 0 ? errno : EIO;
        return false;
      }
      data += put;
      n -= static_cast<std::size_t>(put);
      at += static_cast<toff_t>(put);
      end_ = std::max(end_, at);
    }
    return true;
  }

  bool flush() {
    if (pending_.empty()) return error_ == 0;
    const bool ok = writeAt(pending_.data(), pending_.size(), pendingAt_);
    pending_.clear();
    return ok;
  }

  int fd_;
  int error_ = 0;
  std::vector<char> pending_;  // bytes that belong at pendingAt_
  toff_t pendingAt_ = 0;
  toff_t pos_ = 0;  // where libtiff reads or writes next
  toff_t end_ = 0;  // how far the file on disk reaches
};

TiffFile* tiffFile(thandle_t h) { return static_cast<TiffFile*>(h); }

tmsize_t tiffRead(thandle_t h, void* buf, tmsize_t n) { return tiffFile(h)->read(buf, n); }
tmsize_t tiffWrite(thandle_t h, void* buf, tmsize_t n) { return tiffFile(h)->write(buf, n); }
toff_t tiffSeek(thandle_t h, toff_t offset, int whence) {
  return tiffFile(h)->seek(offset, whence);
}
int tiffClose(thandle_t h) { return tiffFile(h)->close(); }
toff_t tiffSize(thandle_t h) { return tiffFile(h)->size(); }

int tiffMap(thandle_t, void**, toff_t*) { return 0; }
void tiffUnmap(thandle_t, void*, toff_t) {}

// Writes a 24-bit RGB TIFF with LZW compression and the resolution in dots per inch.
int writeTiff(const std::string& path, int width, int height, int dpi, const RowSource& row,
              std::string* why, int* err) {
  char message[kLibraryMessageSize] = {};  // libtiff's first error
  std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> opts(TIFFOpenOptionsAlloc());
  if (!opts) return fail(why, kSaveFailed, "libtiff could not start");
  // libtiff must not print: warnings are dropped, the first error is kept for the reason.
  TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), keepTiffError, message);
  TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), quietTiffHandler, nullptr);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    keepError(err, error);
    return fail(why, kWriteFailed, fileReason("create", path, error));
  }
  TiffFile file(fd);
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpenExt(path.c_str(), "w", &file, tiffRead,
                                                          tiffWrite, tiffSeek, tiffClose, tiffSize,
                                                          tiffMap, tiffUnmap, opts.get()));
  if (!tif) {
    (void)tiffClose(&file);
    (void)std::remove(path.c_str());
    keepError(err, file.error());
    return fail(why, kWriteFailed, detail::libraryReason("libtiff", message));
  }
  TIFF* t = tif.get();
  bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width)) &&
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height)) &&
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) &&
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3) &&
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
            TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
            TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0)) &&
            TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(dpi)) &&
            TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(dpi)) &&
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(width) * 3);
  for (int y = 0; ok && y < height; ++y) {
    row(y, buf.data());
    ok = TIFFWriteScanline(t, buf.data(), static_cast<std::uint32_t>(y), 0) == 1;
  }
  if (ok) ok = TIFFWriteDirectory(t) == 1;
  tif.reset();  // closes the file: a full disk may show only here
  if (!ok || file.error() != 0) {
    (void)std::remove(path.c_str());
    keepError(err, file.error());
    // A refusal of the system is a failed write; anything else is libtiff's.
    if (file.error() != 0) {
      return fail(why, kWriteFailed, fileReason("write", path, file.error()));
    }
    return fail(why, kSaveFailed, detail::libraryReason("libtiff", message));
  }
  return kOk;
}

std::vector<Rgb> greyRamp() {
  std::vector<Rgb> p(256);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    p[static_cast<std::size_t>(i)] = {v, v, v};
  }
  return p;
}

}  // namespace

int dpiToPixelsPerMetre(int dpi) noexcept { return static_cast<int>(std::lround(dpi / 0.0254)); }

void releaseGraphicsCaches() noexcept {
  cairo_debug_reset_static_data();
  FcFini();
}

std::u16string widenLatin1(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}

// ---------------------------------------------------------------- Bitmap

std::span<const std::uint8_t> Bitmap::row(int y) const noexcept {
  if (y < 0 || y >= height_) return {};
  return std::span<const std::uint8_t>(bits_).subspan(static_cast<std::size_t>(y) * stride_,
                                                      stride_);
}

std::span<std::uint8_t> Bitmap::row(int y) noexcept {
  if (y < 0 || y >= height_) return {};
  return std::span<std::uint8_t>(bits_).subspan(static_cast<std::size_t>(y) * stride_, stride_);
}

int Bitmap::pixel(int x, int y, Rgb& out) const noexcept {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kOutsideBitmap;
  const std::uint8_t* r = bits_.data() + static_cast<std::size_t>(y) * stride_;
  const auto ux = static_cast<std::size_t>(x);
  switch (bpp_) {
    case 24:
      out = {r[ux * 3 + 2], r[ux * 3 + 1], r[ux * 3]};
      return kOk;
    case 8:
      out = palette_[r[ux]];
      return kOk;
    default:
      out = palette_[(r[ux / 8] >> (7 - ux % 8)) & 1];
      return kOk;
  }
}

int Bitmap::create(int width, int height, int bitsPerPixel, std::span<const Rgb> palette,
                   std::span<const std::uint8_t> pixels, std::size_t srcRowBytes,
                   Bitmap& out) noexcept {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return kBadBitmapSize;
  if (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24) return kBadBitmapSize;
  const std::size_t stride = stride4(static_cast<std::uint64_t>(width) * bitsPerPixel);
  const std::size_t needRow = (static_cast<std::size_t>(width) * bitsPerPixel + 7) / 8;
  if (!pixels.empty() &&
      (srcRowBytes < needRow || pixels.size() / srcRowBytes < static_cast<std::size_t>(height))) {
    return kBadBitmapSize;
  }
  const std::size_t paletteSize = bitsPerPixel == 1 ? 2 : (bitsPerPixel == 8 ? 256 : 0);
  if (!palette.empty() && palette.size() != paletteSize) return kBadBitmapSize;
  try {
    Bitmap b;
    b.width_ = width;
    b.height_ = height;
    b.bpp_ = bitsPerPixel;
    b.stride_ = stride;
    if (!palette.empty()) {
      b.palette_.assign(palette.begin(), palette.end());
    } else if (bitsPerPixel == 8) {
      b.palette_ = greyRamp();
    } else if (bitsPerPixel == 1) {
      b.palette_ = {kWhite, kBlack};
    }
    if (pixels.empty()) {
      // White: 0xFF bytes are white for 24 and 8 bits (grey ramp); 1 bit: index 0 is white.
      b.bits_.assign(stride * static_cast<std::size_t>(height), bitsPerPixel == 1 ? 0 : 0xFF);
    } else {
      b.bits_.assign(stride * static_cast<std::size_t>(height), 0);
      for (int y = 0; y < height; ++y) {
        std::memcpy(b.bits_.data() + static_cast<std::size_t>(y) * stride,
                    pixels.data() + static_cast<std::size_t>(y) * srcRowBytes, needRow);
      }
    }
    out = std::move(b);
    return kOk;
  } catch (...) {
    return kAllocFailed;
  }
}

// ---------------------------------------------------------------- Surface

struct Surface::Impl {
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  int width = 0;
  int height = 0;
  int ppm = 0;
  ~Impl() {
    if (cr) cairo_destroy(cr);
    if (surface) cairo_surface_destroy(surface);
  }
  // Pixel (x, y) as 0x00RRGGBB.
  [[nodiscard]] std::uint32_t at(int x, int y) const {
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    std::uint32_t v = 0;
    std::memcpy(&v,
                data + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride) +
                    static_cast<std::size_t>(x) * 4,
                4);
    return v;
  }
};

Surface::Surface() noexcept = default;
Surface::~Surface() = default;
Surface::Surface(Surface&&) noexcept = default;
Surface& Surface::operator=(Surface&&) noexcept = default;

int Surface::create(int width, int height, int pixelsPerMetre, Surface& out) noexcept {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return kBadBitmapSize;
  try {
    auto impl = std::make_unique<Impl>();
    impl->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(impl->surface) != CAIRO_STATUS_SUCCESS) return kAllocFailed;
    impl->cr = cairo_create(impl->surface);
    if (cairo_status(impl->cr) != CAIRO_STATUS_SUCCESS) return kAllocFailed;
    impl->width = width;
    impl->height = height;
    impl->ppm = pixelsPerMetre;
    cairo_set_source_rgb(impl->cr, 1, 1, 1);
    cairo_paint(impl->cr);
    out.impl_ = std::move(impl);
    return kOk;
  } catch (...) {
    return kAllocFailed;
  }
}

bool Surface::valid() const noexcept { return impl_ != nullptr; }
int Surface::width() const noexcept { return impl_ ? impl_->width : 0; }
int Surface::height() const noexcept { return impl_ ? impl_->height : 0; }
int Surface::pixelsPerMetre() const noexcept { return impl_ ? impl_->ppm : 0; }

void Surface::drawLine(double x1, double y1, double x2, double y2, double widthPx,
                       Rgb colour) noexcept {
  if (!impl_) return;
  cairo_t* cr = impl_->cr;
  cairo_save(cr);
  cairo_set_source_rgb(cr, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);
  cairo_set_line_width(cr, widthPx);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_move_to(cr, x1, y1);
  cairo_line_to(cr, x2, y2);
  cairo_stroke(cr);
  cairo_restore(cr);
}

void Surface::fillRect(const Rect& rect) noexcept {
  if (!impl_) return;
  cairo_t* cr = impl_->cr;
  cairo_save(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
  cairo_fill(cr);
  cairo_restore(cr);
}

void Surface::drawText(std::u16string_view text, double x, double y,
                       const TextStyle& style) noexcept {
  if (!impl_ || text.empty() || style.heightPx <= 0) return;
  try {
    const std::string utf8 = toUtf8(text);
    cairo_t* cr = impl_->cr;
    cairo_save(cr);
    cairo_select_font_face(cr, style.face.c_str(), CAIRO_FONT_SLANT_NORMAL,
                           style.weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    // The height is the text cell (ascent plus descent), as the card's layout measures it.
    cairo_set_font_size(cr, style.heightPx);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    const double cell = fe.ascent + fe.descent;
    if (cell > 0) {
      cairo_set_font_size(cr, style.heightPx * style.heightPx / cell);
      cairo_font_extents(cr, &fe);
    }
    cairo_text_extents_t te;
    cairo_text_extents(cr, utf8.c_str(), &te);
    const double left = style.align == TextAlign::kCentre ? x - te.x_advance / 2 : x;
    // Opaque white cell behind the glyphs.
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, left, y, te.x_advance, fe.ascent + fe.descent);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, style.colour.r / 255.0, style.colour.g / 255.0,
                         style.colour.b / 255.0);
    cairo_move_to(cr, left, y + fe.ascent);
    cairo_show_text(cr, utf8.c_str());
    cairo_restore(cr);
  } catch (...) {
    // Drawing is best effort: a text that cannot be converted is left out.
  }
}

void Surface::stretchBitmap(const Bitmap& bitmap, const Rect& src, const Rect& dst) noexcept {
  if (!impl_ || bitmap.empty() || src.width <= 0 || src.height <= 0 || dst.width <= 0 ||
      dst.height <= 0) {
    return;
  }
  cairo_surface_t* img =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, bitmap.width(), bitmap.height());
  if (cairo_surface_status(img) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(img);
    return;
  }
  cairo_surface_flush(img);
  unsigned char* data = cairo_image_surface_get_data(img);
  const int stride = cairo_image_surface_get_stride(img);
  for (int y = 0; y < bitmap.height(); ++y) {
    auto* line = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) *
                                                             static_cast<std::size_t>(stride));
    for (int x = 0; x < bitmap.width(); ++x) {
      Rgb c;
      (void)bitmap.pixel(x, y, c);
      line[x] = (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
    }
  }
  cairo_surface_mark_dirty(img);
  cairo_t* cr = impl_->cr;
  cairo_save(cr);
  cairo_rectangle(cr, dst.x, dst.y, dst.width, dst.height);
  cairo_clip(cr);
  cairo_translate(cr, dst.x, dst.y);
  cairo_scale(cr, dst.width / src.width, dst.height / src.height);
  cairo_set_source_surface(cr, img, -src.x, -src.y);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(img);
}

int Surface::getPixel(int x, int y, Rgb& out) const noexcept {
  if (!impl_ || x < 0 || y < 0 || x >= impl_->width || y >= impl_->height) return kOutsideBitmap;
  cairo_surface_flush(impl_->surface);
  const std::uint32_t v = impl_->at(x, y);
  out = {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
         static_cast<std::uint8_t>(v)};
  return kOk;
}

int Surface::copyToBitmap(int x, int y, int width, int height, Bitmap& out) const noexcept {
  if (!impl_ || x < 0 || y < 0 || width < 1 || height < 1 || width > impl_->width - x ||
      height > impl_->height - y) {
    return kOutsideBitmap;
  }
  Bitmap b;
  if (int rc = Bitmap::create(width, height, 24, {}, {}, 0, b); rc < 0) return rc;
  cairo_surface_flush(impl_->surface);
  for (int r = 0; r < height; ++r) {
    std::uint8_t* o = b.row(r).data();
    for (int c = 0; c < width; ++c, o += 3) {
      const std::uint32_t v = impl_->at(x + c, y + r);
      o[0] = static_cast<std::uint8_t>(v);
      o[1] = static_cast<std::uint8_t>(v >> 8);
      o[2] = static_cast<std::uint8_t>(v >> 16);
    }
  }
  b.setResolution(impl_->ppm, impl_->ppm);
  out = std::move(b);
  return kOk;
}

// ---------------------------------------------------------------- Encoders

const Encoder* findEncoder(std::string_view mimeType) noexcept {
  for (const Encoder& e : kEncoders) {
    if (e.mimeType == mimeType) return &e;
  }
  return nullptr;
}

int saveBitmap(const Bitmap& bitmap, const Encoder* encoder, int dpi, const std::string& path,
               std::string* why, int* err) noexcept {
  if (err != nullptr) *err = 0;
  if (encoder == nullptr) return fail(why, kNoEncoder, "no encoder");
  if (bitmap.empty()) return fail(why, kSaveFailed, "empty bitmap");
  if (path.empty()) return fail(why, kWriteFailed, "no file name");
  try {
    if (encoder->mimeType == "image/bmp") {
      const std::size_t rowBytes = bitmap.stride();
      return writeBmp(
          path, bitmap.width(), bitmap.height(), bitmap.bitsPerPixel(), bitmap.palette(), dpi,
          [&](int y, std::uint8_t* out) { std::memcpy(out, bitmap.row(y).data(), rowBytes); }, why,
          err);
    }
    return writeTiff(
        path, bitmap.width(), bitmap.height(), dpi,
        [&](int y, std::uint8_t* rgb) {
          for (int x = 0; x < bitmap.width(); ++x, rgb += 3) {
            Rgb c;
            (void)bitmap.pixel(x, y, c);
            rgb[0] = c.r;
            rgb[1] = c.g;
            rgb[2] = c.b;
          }
        },
        why, err);
  } catch (...) {
    return fail(why, kSaveFailed, "saving failed");
  }
}

int saveSurface(const Surface& surface, int x, int y, int width, int height, const Encoder* encoder,
                int dpi, const std::string& path, std::string* why, int* err) noexcept {
  if (err != nullptr) *err = 0;
  if (!surface.impl_ || x < 0 || y < 0 || width < 1 || height < 1 ||
      width > surface.impl_->width - x || height > surface.impl_->height - y) {
    return fail(why, kOutsideBitmap, "region outside the surface");
  }
  if (encoder == nullptr) return fail(why, kNoEncoder, "no encoder");
  if (path.empty()) return fail(why, kWriteFailed, "no file name");
  const Surface::Impl& s = *surface.impl_;
  cairo_surface_flush(s.surface);
  try {
    if (encoder->mimeType == "image/bmp") {
      return writeBmp(
          path, width, height, 24, {}, dpi,
          [&](int r, std::uint8_t* out) {
            for (int c = 0; c < width; ++c, out += 3) {
              const std::uint32_t v = s.at(x + c, y + r);
              out[0] = static_cast<std::uint8_t>(v);
              out[1] = static_cast<std::uint8_t>(v >> 8);
              out[2] = static_cast<std::uint8_t>(v >> 16);
            }
          },
          why, err);
    }
    return writeTiff(
        path, width, height, dpi,
        [&](int r, std::uint8_t* rgb) {
          for (int c = 0; c < width; ++c, rgb += 3) {
            const std::uint32_t v = s.at(x + c, y + r);
            rgb[0] = static_cast<std::uint8_t>(v >> 16);
            rgb[1] = static_cast<std::uint8_t>(v >> 8);
            rgb[2] = static_cast<std::uint8_t>(v);
          }
        },
        why, err);
  } catch (...) {
    return fail(why, kSaveFailed, "saving failed");
  }
}

}  // namespace varnel::imaging
