// Classification of record images (by content and by field), image information and decoding of
// every supported record image to raw pixels.
#include <cstring>
#include <new>
#include <string>

#include "imaging/detail/codecs.h"
#include "imaging/detail/reason.h"
#include "imaging/detail/record_access.h"
#include "imaging/image_layer.h"
#include "imaging/jpegl/jpegl.h"
#include "imaging/status.h"
#include "imaging/wsq/wsq.h"

namespace varnel::imaging {

using detail::fail;
using detail::fieldBytes;
using detail::fieldText;
using transaction::Record;

namespace {

using Bytes = std::span<const std::uint8_t>;

// WSQ streams shorter than this are refused before decoding.
constexpr std::size_t kMinWsqBytes = 100;

// Raw size rule of classification: 8-bit, 24-bit, or 1-bit with byte-padded rows.
int rawDepthByLength(std::uint64_t w, std::uint64_t h, std::uint64_t length) {
  if (length == w * h) return 8;
  if (length == w * h * 3) return 24;
  if (length == (w + 7) / 8 * h) return 1;
  return 0;
}

// Uncompressed data that starts with the 95-byte "IIR" header.
bool hasIirHeader(Bytes d) {
  return d.size() >= 19 && d[0] == '_' && d[16] == 'I' && d[17] == 'I' && d[18] == 'R';
}

int classifyData(const Record& rec, Bytes d) {
  switch (sniffStream(d)) {
    case StreamKind::kWsq:
      return 1;
    case StreamKind::kPng:
      return 6;
    case StreamKind::kJ2kCodestream:
    case StreamKind::kJp2File: {
      int w = 0, h = 0, depth = 0;
      bool reversible = false;
      if (jp2ReadHeader(d, w, h, depth, reversible) < 0) return kUnrecognisedData;
      return reversible ? 5 : 4;
    }
    case StreamKind::kJpeg: {
      int marker = 0, w = 0, h = 0, comps = 0;
      if (jpegFindFrame(d, marker, w, h, comps) < 0) return kUnrecognisedData;
      return marker == 0xC3 ? 3 : 2;
    }
    case StreamKind::kBmp:
      return kUnrecognisedData;
    case StreamKind::kUnknown:
      break;
  }
  const auto w = static_cast<std::uint64_t>(std::max(0LL, detail::fieldNumberOr0(rec, 6)));
  const auto h = static_cast<std::uint64_t>(std::max(0LL, detail::fieldNumberOr0(rec, 7)));
  if (w > 0xFFFFFFFFu || h > 0xFFFFFFFFu) return kUnrecognisedData;
  if (d.size() == w * h || rawDepthByLength(w, h, d.size()) != 0) return 0;
  return kUnrecognisedData;
}

int lookupData(const transaction::NistFile& file, int type, int index, const Record*& rec,
               Bytes& data) {
  if (int rc = detail::lookupImageRecord(file, type, index, rec); rc < 0) return rc;
  const auto bytes = fieldBytes(*rec, detail::dataFieldNumber(*rec));
  if (!bytes) return kNoImageData;
  data = *bytes;
  return kOk;
}

bool jpegPrefix(Bytes d, std::initializer_list<std::uint8_t> allowed) {
  if (d.size() < 4 || d[0] != 0xFF || d[1] != 0xD8 || d[2] != 0xFF) return false;
  for (std::uint8_t a : allowed) {
    if (d[3] == a) return true;
  }
  return false;
}

// Uncompressed data: BMP container or raw pixels sized by fields 6 and 7.
int decodeUncompressed(const Record& rec, Bytes d, RawImage& out, bool& packedOneBit,
                       std::string* why) {
  const auto wText = fieldText(rec, 6);
  if (!wText) return fail(why, kNoWidth, "no width field (6) for the raw image");
  const auto hText = fieldText(rec, 7);
  if (!hText) return fail(why, kNoHeight, "no height field (7) for the raw image");
  if (sniffStream(d) == StreamKind::kBmp) {
    return bmpDecodeContainer(d, out, why) < 0 ? kUndecodable : kOk;
  }
  if (hasIirHeader(d)) return fail(why, kUndecodable, "raw data behind an IIR header");
  const long long w = transaction::parseLeadingInt(*wText);
  const long long h = transaction::parseLeadingInt(*hText);
  if (w < 1 || h < 1 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) {
    return fail(why, kUndecodable, "raw image width or height outside 1 to 2147483647");
  }
  const auto uw = static_cast<std::uint64_t>(w);
  const auto uh = static_cast<std::uint64_t>(h);
  int depth = 0;
  packedOneBit = false;
  if (d.size() == uw * uh) {
    depth = 8;
  } else if (d.size() == uw * uh * 3) {
    depth = 24;
  } else if (d.size() == (uw + 7) / 8 * uh) {
    depth = 1;  // rows padded to whole bytes, as binary image records store them
  } else if (d.size() == (uw * uh + 7) / 8) {
    depth = 1;  // bits run on from row to row
    packedOneBit = true;
  } else {
    return fail(why, kUndecodable,
                std::to_string(d.size()) + " bytes are not " + std::to_string(w) + "x" +
                    std::to_string(h) + " raw pixels of 1, 8 or 24 bits");
  }
  out.width = static_cast<int>(w);
  out.height = static_cast<int>(h);
  out.depth = depth;
  out.pixels.assign(d.begin(), d.end());
  return kOk;
}

int decodeWsq(Bytes d, RawImage& out, std::string* why) {
  if (d.size() < kMinWsqBytes) return fail(why, kUndecodable, "WSQ data shorter than 100 bytes");
  std::vector<std::uint8_t> px;
  int w = 0, h = 0, depth = 0, ppi = -1, lossy = 0;
  if (int rc = wsq::wsqDecode(d, px, w, h, depth, ppi, lossy); rc < 0) {
    return fail(why, kUndecodable, std::string("WSQ: ") + wsq::wsqStatusText(rc));
  }
  if (w < 1 || h < 1 || px.size() < static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
    return fail(why, kUndecodable, "WSQ: fewer pixels than the frame size");
  }
  out.pixels = std::move(px);
  out.width = w;
  out.height = h;
  out.depth = 8;
  out.ppi = ppi;
  return kOk;
}

int decodeJpegLossless(Bytes d, RawImage& out, std::string* why) {
  if (!jpegPrefix(d, {0xE0, 0xE1, 0xEE})) {
    return fail(why, kUndecodable, "lossless JPEG without a JFIF, EXIF or Adobe segment");
  }
  jpegl::JpeglDecoded dec;
  if (int rc = jpegl::jpeglDecode(d, dec); rc < 0) {
    return fail(why, kUndecodable, std::string("lossless JPEG: ") + jpegl::jpeglStatusText(rc));
  }
  std::vector<std::uint8_t> planes;
  int w = 0, h = 0, depth = 0, ppi = -1;
  if (int rc = jpegl::jpeglImage(dec, planes, w, h, depth, ppi); rc < 0) {
    return fail(why, kUndecodable, std::string("lossless JPEG: ") + jpegl::jpeglStatusText(rc));
  }
  if (w < 1 || h < 1 || (depth != 8 && depth != 24)) {
    return fail(why, kUndecodable, "lossless JPEG neither grey nor RGB");
  }
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  const std::size_t comps = static_cast<std::size_t>(depth) / 8;
  if (planes.size() != n * comps) {
    return fail(why, kUndecodable, "lossless JPEG components of different sizes");
  }
  out.width = w;
  out.height = h;
  out.depth = depth;
  out.ppi = ppi;
  if (comps == 1) {
    out.pixels = std::move(planes);
    return kOk;
  }
  // Three planes (red, green, blue) interleaved pixel by pixel.
  out.pixels.resize(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    out.pixels[i * 3] = planes[i];
    out.pixels[i * 3 + 1] = planes[n + i];
    out.pixels[i * 3 + 2] = planes[2 * n + i];
  }
  return kOk;
}

// Brings decoded pixels (tight rows, RGB) into the RawImage layout.
int repack(RawImage& img, bool forBitmap, bool packedOneBit, RawImage& out, std::string* why) {
  const std::size_t w = static_cast<std::size_t>(img.width);
  const std::size_t h = static_cast<std::size_t>(img.height);
  RawImage r;
  r.width = img.width;
  r.height = img.height;
  r.ppi = img.ppi;
  if (img.depth == 1) {
    r.depth = 1;
    const std::size_t outRow = rawRowBytes(img.width, 1, forBitmap);
    const std::size_t inRow = (w + 7) / 8;
    r.pixels.assign(outRow * h, 0);
    if (!packedOneBit) {
      if (img.pixels.size() < inRow * h) return fail(why, kUndecodable, "too few pixels");
      for (std::size_t y = 0; y < h; ++y) {
        std::memcpy(r.pixels.data() + y * outRow, img.pixels.data() + y * inRow, inRow);
      }
    } else {
      if (img.pixels.size() * 8 < w * h) return fail(why, kUndecodable, "too few pixels");
      for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
          const std::size_t bit = y * w + x;
          if ((img.pixels[bit / 8] >> (7 - bit % 8)) & 1) {
            r.pixels[y * outRow + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
          }
        }
      }
    }
    out = std::move(r);
    return kOk;
  }
  std::size_t inPx = 0;
  switch (img.depth) {
    case 8:
      inPx = 1;
      break;
    case 24:
      inPx = 3;
      break;
    case 32:
      inPx = 4;
      break;
    default:
      return fail(why, kUndecodable, "decoded depth not 1, 8, 24 or 32 bits");
  }
  const std::size_t outPx = inPx == 1 ? 1 : 3;
  r.depth = static_cast<int>(outPx * 8);
  if (img.pixels.size() < w * h * inPx) return fail(why, kUndecodable, "too few pixels");
  const std::size_t outRow = rawRowBytes(img.width, r.depth, forBitmap);
  if (inPx == outPx && !forBitmap) {
    img.pixels.resize(w * h * inPx);
    r.pixels = std::move(img.pixels);
    out = std::move(r);
    return kOk;
  }
  r.pixels.assign(outRow * h, 0);
  for (std::size_t y = 0; y < h; ++y) {
    const std::uint8_t* s = img.pixels.data() + y * w * inPx;
    std::uint8_t* o = r.pixels.data() + y * outRow;
    if (outPx == 1) {
      std::memcpy(o, s, w);
      continue;
    }
    for (std::size_t x = 0; x < w; ++x, s += inPx, o += 3) {
      if (forBitmap) {
        o[0] = s[2];
        o[1] = s[1];
        o[2] = s[0];
      } else {
        o[0] = s[0];
        o[1] = s[1];
        o[2] = s[2];
      }
    }
  }
  out = std::move(r);
  return kOk;
}

// Why classifyData found no format in `d`, in the same order of tests.
std::string unrecognisedReason(const Record& rec, Bytes d) {
  switch (sniffStream(d)) {
    case StreamKind::kJ2kCodestream:
    case StreamKind::kJp2File:
      return "JPEG 2000 header unreadable";
    case StreamKind::kJpeg:
      return "no JPEG frame header";
    case StreamKind::kBmp:
      return "a BMP file";
    default:
      break;
  }
  return "not " + detail::decimal(detail::fieldNumberOr0(rec, 6)) + "x" +
         detail::decimal(detail::fieldNumberOr0(rec, 7)) + " raw pixels of 1, 8 or 24 bits";
}

}  // namespace

int detectImageFormat(const transaction::NistFile& file, int type, int index) noexcept {
  const Record* rec = nullptr;
  Bytes data;
  if (int rc = lookupData(file, type, index, rec, data); rc < 0) return rc;
  try {
    return classifyData(*rec, data);
  } catch (...) {
    return kUnrecognisedData;
  }
}

int getImageInfo(const transaction::NistFile& file, int type, int index, int& width, int& height,
                 int& depth) noexcept {
  width = 0;
  height = 0;
  depth = 0;
  const Record* rec = nullptr;
  Bytes d;
  if (int rc = lookupData(file, type, index, rec, d); rc < 0) return rc;
  int w = 0, h = 0, bits = 0;
  int rc = kUndecodable;
  try {
    switch (sniffStream(d)) {
      case StreamKind::kWsq:
        rc = wsqReadFrame(d, w, h);
        bits = 8;
        break;
      case StreamKind::kPng:
        rc = pngReadHeader(d, w, h, bits);
        break;
      case StreamKind::kJ2kCodestream:
      case StreamKind::kJp2File: {
        bool reversible = false;
        rc = jp2ReadHeader(d, w, h, bits, reversible);
        break;
      }
      case StreamKind::kJpeg: {
        int marker = 0, comps = 0;
        rc = jpegFindFrame(d, marker, w, h, comps);
        bits = 8 * comps;
        break;
      }
      case StreamKind::kBmp:
        rc = bmpReadHeader(d, w, h, bits);
        break;
      case StreamKind::kUnknown: {
        const long long fw = detail::fieldNumberOr0(*rec, 6);
        const long long fh = detail::fieldNumberOr0(*rec, 7);
        if (fw < 0 || fh < 0 || fw > 0x7FFFFFFF || fh > 0x7FFFFFFF) break;
        bits = rawDepthByLength(static_cast<std::uint64_t>(fw), static_cast<std::uint64_t>(fh),
                                d.size());
        if (bits == 0) break;
        w = static_cast<int>(fw);
        h = static_cast<int>(fh);
        rc = kOk;
        break;
      }
    }
  } catch (...) {
    rc = kUndecodable;
  }
  if (rc < 0) return rc;
  width = w;
  height = h;
  depth = bits;
  return kOk;
}

int compressionFromField(const transaction::NistFile& file, int type, int index) noexcept {
  const Record* rec = nullptr;
  if (int rc = detail::lookupImageRecord(file, type, index, rec); rc < 0) return rc;
  if (!fieldText(*rec, 6)) return kNoWidth;
  if (!fieldText(*rec, 7)) return kNoHeight;
  const auto text = fieldText(*rec, detail::compressionFieldNumber(*rec));
  if (!text) return kNoCompressionField;
  const auto data = fieldBytes(*rec, detail::dataFieldNumber(*rec));
  if (!data) return kNoDataField;
  const std::string_view t = *text;
  if (t == "0" || t == "NONE") return 0;
  if (t == "3" || t == "JPEGL") {
    return jpegPrefix(*data, {0xE0, 0xE1, 0xEE}) ? 3 : kUnrecognisedData;
  }
  if (t == "2" || t == "JPEGB") {
    return jpegPrefix(*data, {0xE0, 0xE1, 0xEE}) ? 2 : kUnrecognisedData;
  }
  if (t == "4" || t == "JP2") return 4;
  if (t == "5" || t == "JP2L") return 5;
  if (t == "1" || t == "WSQ20" || t == "WSQ") return 1;
  if (t == "6" || t == "PNG") return 6;
  return kBadCompression;
}

int decodeRecordImage(const transaction::NistFile& file, int type, int index, bool forBitmap,
                      RawImage& out, std::string& reason) noexcept {
  std::string* why = &reason;
  const Record* rec = nullptr;
  if (int rc = detail::lookupImageRecord(file, type, index, rec); rc < 0) {
    return fail(why, rc, "no such image record");
  }
  if (rec->type == 7 && transaction::findField(*rec, 10) != nullptr) {
    if (!fieldText(*rec, 7)) return fail(why, kNoWidth, "no width field (7)");
    if (!fieldText(*rec, 8)) return fail(why, kNoHeight, "no height field (8)");
  }
  const auto bytes = fieldBytes(*rec, detail::dataFieldNumber(*rec));
  if (!bytes) return fail(why, kNoDataField, "no image data field");
  const Bytes d = *bytes;
  try {
    int code = classifyData(*rec, d);
    if (code < 0) code = 0;
    RawImage img;
    bool packedOneBit = false;
    int rc = kOk;
    switch (code) {
      case 0:
        rc = decodeUncompressed(*rec, d, img, packedOneBit, why);
        break;
      case 1:
        rc = decodeWsq(d, img, why);
        break;
      case 2:
        rc = jpegPrefix(d, {0xE0, 0xE1, 0xEE, 0xDB, 0xFE})
                 ? jpegDecode(d, img, why)
                 : fail(why, kUndecodable,
                        "JPEG without a JFIF, EXIF, Adobe, table or comment "
                        "segment first");
        if (rc < 0) rc = kUndecodable;
        break;
      case 3:
        rc = decodeJpegLossless(d, img, why);
        break;
      case 4:
      case 5:
        rc = jp2Decode(d, img, why) < 0 ? kUndecodable : kOk;
        break;
      case 6:
        rc = pngDecode(d, img, why) < 0 ? kUndecodable : kOk;
        break;
      default:
        rc = fail(why, kBadCompression, "unknown compression");
        break;
    }
    if (rc < 0) return rc;
    return repack(img, forBitmap, packedOneBit, out, why);
  } catch (const std::bad_alloc&) {
    return fail(why, kUndecodable, "out of memory decoding the image");
  } catch (...) {
    return fail(why, kUndecodable, "decoding failed");
  }
}

int decodeRecordImage(const transaction::NistFile& file, int type, int index, bool forBitmap,
                      RawImage& out) noexcept {
  std::string reason;
  return decodeRecordImage(file, type, index, forBitmap, out, reason);
}

std::string describeRecordImage(const transaction::NistFile& file, int type, int index) noexcept {
  try {
    const Record* rec = nullptr;
    Bytes d;
    if (lookupData(file, type, index, rec, d) < 0) return {};
    const std::string length = detail::decimal(static_cast<long long>(d.size())) + " bytes";
    const int code = classifyData(*rec, d);
    int w = 0, h = 0, depth = 0;
    const int info = getImageInfo(file, type, index, w, h, depth);
    std::string name;
    if (code >= 0) {
      name = std::string(compressionName(code));
    } else if (sniffStream(d) == StreamKind::kBmp) {
      name = "BMP";
    } else {
      return "undecodable image data (" + detail::decimal(code) + "), " + length + ": " +
             unrecognisedReason(*rec, d);
    }
    if (info < 0) return name + " (size unreadable), " + length;
    return name + " " + detail::decimal(w) + "x" + detail::decimal(h) + " " +
           detail::decimal(depth) + "-bit, " + length;
  } catch (...) {
    return {};
  }
}

}  // namespace varnel::imaging
