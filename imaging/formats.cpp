// Signature sniffing, WSQ and BMP header reading, the BMP container decoder, and the names of
// the compression codes.
#include <cstring>
#include <new>
#include <string>

#include "imaging/detail/codecs.h"
#include "imaging/detail/reason.h"
#include "imaging/image.h"
#include "imaging/status.h"

namespace varnel::imaging {
namespace {

using detail::fail;

// Largest decoded BMP accepted, in bytes.
constexpr std::uint64_t kMaxBmpBytes = std::uint64_t{1} << 28;

bool startsWith(std::span<const std::uint8_t> data, std::initializer_list<std::uint8_t> sig) {
  if (data.size() < sig.size()) return false;
  return std::equal(sig.begin(), sig.end(), data.begin());
}

std::uint32_t le16(std::span<const std::uint8_t> d, std::size_t at) {
  return std::uint32_t{d[at]} | (std::uint32_t{d[at + 1]} << 8);
}
std::uint32_t le32(std::span<const std::uint8_t> d, std::size_t at) {
  return le16(d, at) | (le16(d, at + 2) << 16);
}

struct BmpHeader {
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative: rows stored top first
  int bitCount = 0;
  std::uint32_t compression = 0;
  std::uint32_t pixelOffset = 0;
};

int parseBmpHeader(std::span<const std::uint8_t> d, BmpHeader& h) {
  if (d.size() < 26 || d[0] != 'B' || d[1] != 'M') return kUndecodable;
  h.pixelOffset = le32(d, 10);
  const std::uint32_t headerSize = le32(d, 14);
  if (headerSize == 12) {
    h.width = le16(d, 18);
    h.height = static_cast<std::int16_t>(le16(d, 20));
    h.bitCount = static_cast<int>(le16(d, 24));
    h.compression = 0;
  } else {
    if (d.size() < 34) return kUndecodable;
    h.width = static_cast<std::int32_t>(le32(d, 18));
    h.height = static_cast<std::int32_t>(le32(d, 22));
    h.bitCount = static_cast<int>(le16(d, 28));
    h.compression = le32(d, 30);
  }
  if (h.width < 1 || h.height == 0 || h.height == INT32_MIN) return kUndecodable;
  return kOk;
}

}  // namespace

std::string_view compressionName(int code) noexcept {
  switch (code) {
    case 0:
      return "NONE";
    case 1:
      return "WSQ20";
    case 2:
      return "JPEGB";
    case 3:
      return "JPEGL";
    case 4:
      return "JP2";
    case 5:
      return "JP2L";
    case 6:
      return "PNG";
    default:
      return {};
  }
}

int imageFormatFromName(std::string_view name) noexcept {
  if (name == "WSQ") return 1;
  if (name == "JP2 Lossless") return 5;
  if (name == "PNG") return 6;
  return 0;
}

std::size_t rawRowBytes(int width, int depth, bool forBitmap) noexcept {
  if (width < 0) return 0;
  const auto w = static_cast<std::size_t>(width);
  std::size_t n = 0;
  switch (depth) {
    case 1:
      return ((w + 7) / 8 + 1) & ~std::size_t{1};
    case 8:
      n = w;
      break;
    case 24:
      n = w * 3;
      break;
    default:
      return 0;
  }
  return forBitmap ? (n + 1) & ~std::size_t{1} : n;
}

StreamKind sniffStream(std::span<const std::uint8_t> data) noexcept {
  if (startsWith(data, {0xFF, 0xA0})) return StreamKind::kWsq;
  if (startsWith(data, {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A})) return StreamKind::kPng;
  if (startsWith(data, {0xFF, 0x4F, 0xFF, 0x51})) return StreamKind::kJ2kCodestream;
  if (startsWith(data, {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A,
                        0x00, 0x00, 0x00, 0x14, 0x66, 0x74, 0x79, 0x70, 0x6A, 0x70, 0x32})) {
    return StreamKind::kJp2File;
  }
  if (startsWith(data, {0xFF, 0xD8, 0xFF})) return StreamKind::kJpeg;
  if (startsWith(data, {'B', 'M'})) return StreamKind::kBmp;
  return StreamKind::kUnknown;
}

int wsqReadFrame(std::span<const std::uint8_t> data, int& width, int& height) noexcept {
  if (!startsWith(data, {0xFF, 0xA0})) return kUndecodable;
  std::size_t pos = 2;
  while (data.size() - pos >= 4) {
    if (data[pos] != 0xFF) return kUndecodable;
    const std::uint8_t m = data[pos + 1];
    const std::size_t len = (std::size_t{data[pos + 2]} << 8) | data[pos + 3];
    if (m == 0xA2) {
      // Frame header: length, black, white, lines (height), samples per line (width).
      if (len < 6 || data.size() - pos < 2 + 6 + 2) return kUndecodable;
      const int h = (data[pos + 6] << 8) | data[pos + 7];
      const int w = (data[pos + 8] << 8) | data[pos + 9];
      if (w < 1 || h < 1) return kUndecodable;
      width = w;
      height = h;
      return kOk;
    }
    if (m == 0xA1 || m == 0xA3) return kUndecodable;  // end of image or a block before any frame
    if (len < 2 || len + 2 > data.size() - pos) return kUndecodable;
    pos += 2 + len;
  }
  return kUndecodable;
}

int bmpReadHeader(std::span<const std::uint8_t> data, int& width, int& height,
                  int& bitCount) noexcept {
  BmpHeader h;
  if (int rc = parseBmpHeader(data, h); rc < 0) return rc;
  const std::int64_t absH = h.height < 0 ? -h.height : h.height;
  if (h.width > 0x7FFFFFFF || absH > 0x7FFFFFFF) return kUndecodable;
  width = static_cast<int>(h.width);
  height = static_cast<int>(absH);
  bitCount = h.bitCount;
  return kOk;
}

int bmpDecodeContainer(std::span<const std::uint8_t> data, RawImage& out,
                       std::string* why) noexcept {
  BmpHeader h;
  if (int rc = parseBmpHeader(data, h); rc < 0) return fail(why, rc, "BMP header unreadable");
  if (h.bitCount != 8 && h.bitCount != 24 && h.bitCount != 32) {
    return fail(why, kBmpUnsupported, "BMP bit count not 8, 24 or 32");
  }
  if (h.compression != 0 && !(h.compression == 1 && h.bitCount == 8)) {
    return fail(why, kBmpUnsupported, "BMP compression not supported");
  }
  const bool topFirst = h.height < 0;
  const std::uint64_t w = static_cast<std::uint64_t>(h.width);
  const std::uint64_t rows = static_cast<std::uint64_t>(topFirst ? -h.height : h.height);
  const std::uint64_t inPx = static_cast<std::uint64_t>(h.bitCount) / 8;
  const std::uint64_t outPx = h.bitCount == 8 ? 1 : 3;
  if (w * rows * outPx > kMaxBmpBytes) return fail(why, kUndecodable, "BMP image too large");
  if (h.pixelOffset > data.size()) return fail(why, kUndecodable, "BMP pixels past the end");
  try {
    RawImage img;
    img.width = static_cast<int>(w);
    img.height = static_cast<int>(rows);
    img.depth = h.bitCount == 8 ? 8 : 24;
    img.pixels.assign(w * rows * outPx, 0);
    if (h.compression == 1) {
      // 8-bit run-length: rows are written from the bottom up; each row ends at an escape.
      std::size_t pos = h.pixelOffset;
      bool endOfBitmap = false;
      for (std::uint64_t r = 0; r < rows && !endOfBitmap; ++r) {
        const std::uint64_t y = topFirst ? r : rows - 1 - r;
        std::uint8_t* line = img.pixels.data() + y * w;
        std::uint64_t x = 0;
        for (;;) {
          if (data.size() - pos < 2)
            return fail(why, kUndecodable, "BMP run-length data cut short");
          const std::uint8_t n = data[pos];
          const std::uint8_t v = data[pos + 1];
          pos += 2;
          if (n > 0) {
            for (int i = 0; i < n && x < w; ++i) line[x++] = v;
            continue;
          }
          if (v == 0) break;  // end of line
          if (v == 1) {       // end of bitmap
            endOfBitmap = true;
            break;
          }
          if (v == 2) {  // delta: skip its two bytes
            if (data.size() - pos < 2)
              return fail(why, kUndecodable, "BMP run-length data cut short");
            pos += 2;
            continue;
          }
          // Literal run of v bytes, padded to an even count.
          const std::size_t take = v + (v & 1u);
          if (data.size() - pos < take)
            return fail(why, kUndecodable, "BMP run-length data cut short");
          for (int i = 0; i < v && x < w; ++i) line[x++] = data[pos + static_cast<std::size_t>(i)];
          pos += take;
        }
      }
    } else {
      const std::uint64_t rowBytes = (w * inPx + 3) & ~std::uint64_t{3};
      if (h.pixelOffset + rowBytes * rows != data.size()) {
        return fail(why, kBmpSizeMismatch, "BMP pixel array does not end with the data");
      }
      for (std::uint64_t r = 0; r < rows; ++r) {
        const std::uint64_t y = topFirst ? r : rows - 1 - r;
        const std::uint8_t* src = data.data() + h.pixelOffset + r * rowBytes;
        std::uint8_t* dst = img.pixels.data() + y * w * outPx;
        if (inPx == 1) {
          std::memcpy(dst, src, w);
        } else {
          for (std::uint64_t x = 0; x < w; ++x, src += inPx, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
          }
        }
      }
    }
    out = std::move(img);
    return kOk;
  } catch (...) {
    return fail(why, kAllocFailed, "out of memory decoding BMP");
  }
}

}  // namespace varnel::imaging
