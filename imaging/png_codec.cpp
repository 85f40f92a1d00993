// PNG encoding and decoding in memory through libpng.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "imaging/detail/codecs.h"
#include "imaging/detail/reason.h"
#include "imaging/status.h"

namespace varnel::imaging {
namespace {

using detail::fail;
using detail::kLibraryMessageSize;

// Largest decoded image accepted, in bytes.
constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{1} << 28;

struct ReadSource {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;
};

struct WriteSink {
  std::vector<std::uint8_t>* out = nullptr;
  bool outOfMemory = false;
};

// libpng must never print: its message is kept in the handles' buffer (the error pointer) for
// the caller's reason, then the error comes back to our setjmp.
void pngErrorFn(png_structp png, png_const_charp message) {
  auto* text = static_cast<char*>(png_get_error_ptr(png));
  if (text != nullptr && message != nullptr) {
    (void)std::snprintf(text, kLibraryMessageSize, "%s", message);  // a cut message is enough
  }
  png_longjmp(png, 1);
}
void pngWarningFn(png_structp /*png*/, png_const_charp /*message*/) {}

void pngReadFn(png_structp png, png_bytep out, std::size_t n) {
  auto* src = static_cast<ReadSource*>(png_get_io_ptr(png));
  if (n > src->size - src->pos) png_error(png, "Read Error");
  std::memcpy(out, src->data + src->pos, n);
  src->pos += n;
}

void pngWriteFn(png_structp png, png_bytep bytes, std::size_t n) {
  auto* sink = static_cast<WriteSink*>(png_get_io_ptr(png));
  bool failed = false;
  try {
    sink->out->insert(sink->out->end(), bytes, bytes + n);
  } catch (...) {
    failed = true;
  }
  if (failed) {
    sink->outOfMemory = true;
    png_error(png, "Write Error");
  }
}

void pngFlushFn(png_structp /*png*/) {}

struct ReadHandles {
  png_structp png = nullptr;
  png_infop info = nullptr;
  char message[kLibraryMessageSize] = {};  // libpng's last error message
  ReadHandles() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, message, pngErrorFn, pngWarningFn);
    if (png) info = png_create_info_struct(png);
  }
  ~ReadHandles() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
  ReadHandles(const ReadHandles&) = delete;
  ReadHandles& operator=(const ReadHandles&) = delete;
};

struct WriteHandles {
  png_structp png = nullptr;
  png_infop info = nullptr;
  char message[kLibraryMessageSize] = {};  // libpng's last error message
  WriteHandles() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, message, pngErrorFn, pngWarningFn);
    if (png) info = png_create_info_struct(png);
  }
  ~WriteHandles() { png_destroy_write_struct(&png, info ? &info : nullptr); }
  WriteHandles(const WriteHandles&) = delete;
  WriteHandles& operator=(const WriteHandles&) = delete;
};

struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  int channels = 0;
  std::size_t rowBytes = 0;
  png_colorp palette = nullptr;
  int paletteSize = 0;
};

// Reads the header. Holds no object with a destructor: libpng leaves by longjmp.
int readPngHeader(png_structp png, png_infop info, ReadSource* src, PngHeader* h) {
  // This frame holds no object with a destructor, so the jump back skips no clean-up.
  // NOLINTNEXTLINE(cert-err52-cpp): libpng reports errors by longjmp
  if (setjmp(png_jmpbuf(png))) return kUndecodable;
  png_set_read_fn(png, src, pngReadFn);
  png_read_info(png, info);
  png_get_IHDR(png, info, &h->width, &h->height, &h->bitDepth, &h->colourType, nullptr, nullptr,
               nullptr);
  h->channels = png_get_channels(png, info);
  if (h->bitDepth == 8 || h->bitDepth == 1) {
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
  }
  h->rowBytes = png_get_rowbytes(png, info);
  if (h->colourType == PNG_COLOR_TYPE_PALETTE) {
    png_get_PLTE(png, info, &h->palette, &h->paletteSize);
  }
  return kOk;
}

// Reads every row into the prepared row pointers. No object with a destructor, as above.
int readPngRows(png_structp png, png_infop info, png_bytepp rows) {
  // This frame holds no object with a destructor, so the jump back skips no clean-up.
  // NOLINTNEXTLINE(cert-err52-cpp): libpng reports errors by longjmp
  if (setjmp(png_jmpbuf(png))) return kUndecodable;
  png_read_image(png, rows);
  png_read_end(png, info);
  return kOk;
}

struct WriteJob {
  const RawImage* image = nullptr;
  std::size_t srcRowBytes = 0;
  WriteSink* sink = nullptr;
};

// Writes the whole stream. No object with a destructor, as above.
int writePng(png_structp png, png_infop info, const WriteJob* job) {
  // This frame holds no object with a destructor, so the jump back skips no clean-up.
  // NOLINTNEXTLINE(cert-err52-cpp): libpng reports errors by longjmp
  if (setjmp(png_jmpbuf(png))) return kEncodeFailed;
  png_set_write_fn(png, job->sink, pngWriteFn, pngFlushFn);
  const RawImage& img = *job->image;
  int colourType = PNG_COLOR_TYPE_GRAY;
  int bitDepth = 8;
  if (img.depth == 24) colourType = PNG_COLOR_TYPE_RGB;
  if (img.depth == 1) {
    colourType = PNG_COLOR_TYPE_PALETTE;
    bitDepth = 1;
  }
  png_set_IHDR(png, info, static_cast<png_uint_32>(img.width), static_cast<png_uint_32>(img.height),
               bitDepth, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color palette[2] = {{255, 255, 255}, {0, 0, 0}};
  if (img.depth == 1) png_set_PLTE(png, info, palette, 2);
  png_write_info(png, info);
  for (int y = 0; y < img.height; ++y) {
    png_write_row(png, img.pixels.data() + static_cast<std::size_t>(y) * job->srcRowBytes);
  }
  png_write_end(png, info);
  return kOk;
}

int luminance(const png_color& c) { return (299 * c.red + 587 * c.green + 114 * c.blue) / 1000; }

}  // namespace

int pngReadHeader(std::span<const std::uint8_t> data, int& width, int& height,
                  int& depth) noexcept {
  // Signature (8), IHDR length and type (8), width, height, bit depth, colour type.
  static constexpr std::uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (data.size() < 26 || std::memcmp(data.data(), kSig, 8) != 0 ||
      std::memcmp(data.data() + 12, "IHDR", 4) != 0) {
    return kUndecodable;
  }
  auto be32 = [&](std::size_t at) {
    return (std::uint32_t{data[at]} << 24) | (std::uint32_t{data[at + 1]} << 16) |
           (std::uint32_t{data[at + 2]} << 8) | std::uint32_t{data[at + 3]};
  };
  const std::uint32_t w = be32(16);
  const std::uint32_t h = be32(20);
  const int bitDepth = data[24];
  int channels = 0;
  switch (data[25]) {
    case 0:
      channels = 1;
      break;
    case 2:
      channels = 3;
      break;
    case 3:
      channels = 1;
      break;
    case 4:
      channels = 2;
      break;
    case 6:
      channels = 4;
      break;
    default:
      return kUndecodable;
  }
  if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return kUndecodable;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  depth = bitDepth * channels;
  return kOk;
}

int pngDecode(std::span<const std::uint8_t> data, RawImage& out, std::string* why) noexcept {
  try {
    ReadHandles h;
    if (!h.png || !h.info) return fail(why, kUndecodable, "libpng could not start");
    // Refuse absurd sizes before libpng allocates anything for them.
    png_set_user_limits(h.png, 0x7FFF, 0x7FFF);
    ReadSource src{data.data(), data.size(), 0};
    PngHeader hdr;
    if (int rc = readPngHeader(h.png, h.info, &src, &hdr); rc < 0) {
      return fail(why, rc, detail::libraryReason("libpng", h.message));
    }
    if (hdr.bitDepth != 1 && hdr.bitDepth != 8) {
      return fail(why, kUndecodable,
                  "PNG bit depth " + std::to_string(hdr.bitDepth) + " is not supported");
    }
    const int depth = hdr.bitDepth * hdr.channels;
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32) {
      return fail(why, kUndecodable, "PNG grey with alpha is not supported");
    }
    const std::size_t w = hdr.width;
    const std::size_t hgt = hdr.height;
    if (static_cast<std::uint64_t>(hdr.rowBytes) * hgt > kMaxDecodedBytes) {
      return fail(why, kUndecodable, "PNG image too large");
    }
    std::vector<std::uint8_t> buf(hdr.rowBytes * hgt);
    std::vector<png_bytep> rows(hgt);
    for (std::size_t y = 0; y < hgt; ++y) rows[y] = buf.data() + y * hdr.rowBytes;
    if (int rc = readPngRows(h.png, h.info, rows.data()); rc < 0) {
      return fail(why, rc, detail::libraryReason("libpng", h.message));
    }

    RawImage img;
    img.width = static_cast<int>(w);
    img.height = static_cast<int>(hgt);
    const bool palette = hdr.colourType == PNG_COLOR_TYPE_PALETTE;
    if (depth == 1) {
      // Output convention: 1 = black. Grey PNG has 1 = white; a palette says per index.
      bool oneIsBlack[2] = {false, true};
      if (!palette) {
        oneIsBlack[0] = true;  // index 0 is black
        oneIsBlack[1] = false;
      } else {
        for (int i = 0; i < 2; ++i) {
          oneIsBlack[i] = i < hdr.paletteSize ? luminance(hdr.palette[i]) < 128 : i == 1;
        }
      }
      img.depth = 1;
      const std::size_t rb = (w + 7) / 8;
      img.pixels.resize(rb * hgt);
      for (std::size_t y = 0; y < hgt; ++y) {
        for (std::size_t i = 0; i < rb; ++i) {
          const std::uint8_t v = buf[y * hdr.rowBytes + i];
          std::uint8_t o = 0;
          for (int bit = 0; bit < 8; ++bit) {
            const int idx = (v >> (7 - bit)) & 1;
            if (oneIsBlack[idx]) o |= static_cast<std::uint8_t>(0x80 >> bit);
          }
          img.pixels[y * rb + i] = o;
        }
      }
    } else if (depth == 8 && palette) {
      bool grey = true;
      for (int i = 0; i < hdr.paletteSize; ++i) {
        const png_color& c = hdr.palette[i];
        if (c.red != c.green || c.green != c.blue) grey = false;
      }
      img.depth = grey ? 8 : 24;
      img.pixels.resize(w * hgt * (grey ? 1 : 3));
      std::uint8_t* o = img.pixels.data();
      for (std::size_t y = 0; y < hgt; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
          const int idx = buf[y * hdr.rowBytes + x];
          const png_color c = idx < hdr.paletteSize ? hdr.palette[idx] : png_color{0, 0, 0};
          if (grey) {
            *o++ = c.red;
          } else {
            *o++ = c.red;
            *o++ = c.green;
            *o++ = c.blue;
          }
        }
      }
    } else {
      const std::size_t inPx = static_cast<std::size_t>(depth) / 8;
      const std::size_t outPx = depth == 32 ? 3 : inPx;
      img.depth = static_cast<int>(outPx * 8);
      img.pixels.resize(w * hgt * outPx);
      std::uint8_t* o = img.pixels.data();
      for (std::size_t y = 0; y < hgt; ++y) {
        const std::uint8_t* r = buf.data() + y * hdr.rowBytes;
        for (std::size_t x = 0; x < w; ++x, r += inPx, o += outPx) std::memcpy(o, r, outPx);
      }
    }
    out = std::move(img);
    return kOk;
  } catch (const std::bad_alloc&) {
    return fail(why, kUndecodable, "out of memory decoding PNG");
  } catch (...) {
    return fail(why, kUndecodable, "PNG decoding failed");
  }
}

int pngEncode(const RawImage& image, std::vector<std::uint8_t>& out, std::string* why) noexcept {
  if (image.width < 1 || image.height < 1 ||
      (image.depth != 1 && image.depth != 8 && image.depth != 24)) {
    return fail(why, kEncodeFailed, "no PNG for an empty image or one of this depth");
  }
  const std::size_t rowBytes = rawRowBytes(image.width, image.depth, false);
  if (image.pixels.size() / rowBytes < static_cast<std::size_t>(image.height)) {
    return fail(why, kEncodeFailed, "fewer pixels than the image size");
  }
  try {
    WriteHandles h;
    if (!h.png || !h.info) return fail(why, kEncodeFailed, "libpng could not start");
    std::vector<std::uint8_t> bytes;
    bytes.reserve(image.pixels.size() / 2 + 1024);
    WriteSink sink{&bytes, false};
    WriteJob job{&image, rowBytes, &sink};
    if (int rc = writePng(h.png, h.info, &job); rc < 0) {
      return fail(why, sink.outOfMemory ? kAllocFailed : rc,
                  detail::libraryReason("libpng", h.message));
    }
    out = std::move(bytes);
    return kOk;
  } catch (const std::bad_alloc&) {
    return fail(why, kAllocFailed, "out of memory encoding PNG");
  } catch (...) {
    return fail(why, kEncodeFailed, "PNG encoding failed");
  }
}

}  // namespace varnel::imaging
