// Recompression of record images, compression of raw records by resolution, record bitmaps and
// image export.
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "imaging/detail/codecs.h"
#include "imaging/detail/record_access.h"
#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "imaging/wsq/wsq.h"

namespace varnel::imaging {

using detail::fieldText;
using transaction::Record;

namespace {

// Bitrate of WSQ recompression through "Convert Image Format".
constexpr float kRecompressWsqBitrate = 2.25f;
// Pixels per inch in one pixel per centimetre (1 / 0.394).
constexpr double kPpcmToPpi = 2.5380710659898478;
// Resolution assumed when none is recorded.
constexpr int kDefaultPpi = 500;

// ITU-R BT.601 luma of interleaved RGB, for encoders that take grey only.
std::vector<std::uint8_t> toGrey(const std::vector<std::uint8_t>& rgb, std::size_t count) {
  std::vector<std::uint8_t> grey(count);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned r = rgb[i * 3], g = rgb[i * 3 + 1], b = rgb[i * 3 + 2];
    grey[i] = static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
  }
  return grey;
}

// Encodes tightly packed 8- or 24-bit pixels to `target`.
int encodeTo(int target, const RawImage& img, float bitrate, std::vector<std::uint8_t>& out) {
  const std::size_t count =
      static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
  switch (target) {
    case 0:
      out = img.pixels;
      return kOk;
    case 1: {
      if (img.depth == 24) {
        const std::vector<std::uint8_t> grey = toGrey(img.pixels, count);
        return wsq::wsqEncode(bitrate, grey, img.width, img.height, out) < 0 ? kUndecodable : kOk;
      }
      return wsq::wsqEncode(bitrate, img.pixels, img.width, img.height, out) < 0 ? kUndecodable
                                                                                 : kOk;
    }
    case 5:
      return jp2LosslessEncode(img.pixels, img.width, img.height, img.depth, out);
    case 6:
      return pngEncode(img, out);
    default:
      return kNegativeIndex;
  }
}

// Replaces the record's image bytes: tagged records lose their field 999 first. If storing the
// new bytes fails, the old ones are put back so the record keeps its image.
int storeImage(transaction::NistFile& file, int type, int index, const Record& rec,
               std::span<const std::uint8_t> bytes) {
  if (transaction::isTaggedType(type)) {
    const auto old = detail::fieldBytes(rec, 999);
    std::vector<std::uint8_t> keep;
    if (old) keep.assign(old->begin(), old->end());
    if (old && file.deleteFieldAt(type, 999, index) < 0) return kUndecodable;
    if (int rc = file.replaceImageData(type, index, bytes); rc < 0) {
      if (old) (void)file.replaceImageData(type, index, keep);
      return rc;
    }
    return kOk;
  }
  return file.replaceImageData(type, index, bytes);
}

// Pixels per inch from a tagged record's scale (field 9) and units (field 8); nullopt when a
// field is missing or unreadable; `otherUnits` for units other than 1 and 2.
std::optional<int> scalePpi(const Record& rec, int otherUnits, bool roundPpcm) {
  const auto units = fieldText(rec, 8);
  const auto scale = fieldText(rec, 9);
  if (!units || !scale) return std::nullopt;
  const auto u = detail::parseInt(*units);
  const auto s = detail::parseInt(*scale);
  if (!u || !s) return std::nullopt;
  if (*u == 2) {
    const double v = *s * kPpcmToPpi;
    return roundPpcm ? static_cast<int>(std::lround(v)) : static_cast<int>(v);
  }
  if (*u == 1) return *s;
  return otherUnits;
}

// WSQ holds 8-bit grey: a record whose colour image became WSQ says so in its depth and colour
// space fields, where its type has them.
void markGrey(transaction::NistFile& file, int type, int index) {
  switch (type) {
    case 10:
      (void)file.setFieldAt(10, 12, "GRAY", index);  // Type 10 has a colour space, no depth
      break;
    case 13:
    case 14:
    case 15:
    case 19:
      (void)file.setFieldAt(type, 12, "8", index);
      break;
    case 17:
    case 20: {
      (void)file.setFieldAt(type, 12, "8", index);
      std::string_view csp;
      if (file.getFieldText(type, 13, csp, index) == 0)
        (void)file.setFieldAt(type, 13, "GRAY", index);
      break;
    }
    default:
      break;
  }
}

int writeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return kSizeOrWriteError;
  const std::size_t n = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
  const bool ok = n == bytes.size();
  if (std::fclose(f) != 0 || !ok) {
    (void)std::remove(path.c_str());
    return kSizeOrWriteError;
  }
  return kOk;
}

}  // namespace

int recompressRecordImage(transaction::NistFile& file, int type, int index, int target) noexcept {
  const Record* rec = nullptr;
  if (int rc = detail::lookupImageRecord(file, type, index, rec); rc < 0) return rc;
  if (target != 0 && target != 1 && target != 5 && target != 6) return kNegativeIndex;
  if (detectImageFormat(file, type, index) == target) return kAlreadyTarget;
  try {
    RawImage img;
    if (int rc = decodeRecordImage(file, type, index, false, img); rc < 0) return rc;
    if (img.depth == 1) return kBadDepth;
    std::vector<std::uint8_t> encoded;
    if (int rc = encodeTo(target, img, kRecompressWsqBitrate, encoded); rc < 0) return rc;
    int infoW = 0, infoH = 0, infoDepth = 0;
    if (target == 0 && getImageInfo(file, type, index, infoW, infoH, infoDepth) < 0) {
      // The decoded image knows its size even when the header reader does not.
      infoW = img.width;
      infoH = img.height;
    }
    if (int rc = storeImage(file, type, index, *rec, encoded); rc < 0) return rc;
    // `rec` may have moved; look it up again.
    if (detail::lookupImageRecord(file, type, index, rec) < 0) return kNotFound;
    if (target == 0) {
      (void)file.setFieldAt(type, 6, detail::decimal(infoW), index);
      (void)file.setFieldAt(type, 7, detail::decimal(infoH), index);
    }
    if (transaction::isTaggedType(type)) {
      (void)file.setFieldAt(type, 11, compressionName(target), index);
      if (target == 1 && img.depth == 24) markGrey(file, type, index);
    } else if (type >= 3 && type <= 7) {
      (void)file.setFieldAt(type, detail::compressionFieldNumber(*rec), detail::decimal(target),
                            index);
    }
    return kOk;
  } catch (const std::bad_alloc&) {
    return kAllocFailed;
  } catch (...) {
    return kUndecodable;
  }
}

int compressRecordsOfType(transaction::NistFile& file, int type, float bitrate,
                          bool toWsq) noexcept {
  const transaction::Transaction* tx = file.transaction();
  if (tx == nullptr) return kNoTransaction;
  int compressed = 0;
  const int count = file.countRecords(type);
  for (int i = 0; i < count; ++i) {
    try {
      if (detectImageFormat(file, type, i) != 0) continue;
      const Record* rec = nullptr;
      if (detail::lookupImageRecord(file, type, i, rec) < 0) continue;
      int w = 0, h = 0, depth = 0;
      if (getImageInfo(file, type, i, w, h, depth) < 0) continue;
      const int ppi = scalePpi(*rec, kDefaultPpi, false).value_or(kDefaultPpi);
      const bool highRes = ppi == 1000 || ppi == 2000 || ppi == 4000;
      int target = -1;
      if (type == 14) {
        if (ppi == 500) target = toWsq ? 1 : 5;
        if (highRes && !toWsq) target = 5;
      } else if (type == 13 || type == 15 || type == 19) {
        if ((ppi == 500 || highRes) && !toWsq) target = 5;
      }
      if (target < 0) continue;
      RawImage img;
      if (decodeRecordImage(file, type, i, false, img) < 0 || img.depth == 1) continue;
      std::vector<std::uint8_t> encoded;
      if (encodeTo(target, img, bitrate, encoded) < 0) continue;
      if (storeImage(file, type, i, *rec, encoded) < 0) continue;
      (void)file.setFieldAt(type, 11, compressionName(target), i);
      if (target == 1 && img.depth == 24) markGrey(file, type, i);
      ++compressed;
    } catch (...) {
      continue;
    }
  }
  return compressed;
}

int recordResolutionPpi(const transaction::NistFile& file, int type, int index) noexcept {
  const Record* rec = nullptr;
  if (detail::lookupImageRecord(file, type, index, rec) < 0) return kDefaultPpi;
  if (type >= 3 && type <= 8) {
    std::string_view nsr;
    if (file.getFieldText(1, 11, nsr) < 0) return kDefaultPpi;
    const auto v = detail::parseReal(nsr);
    if (!v || *v == 0.0 || !std::isfinite(*v)) return kDefaultPpi;
    return static_cast<int>(std::lround(*v * 25.4));
  }
  return scalePpi(*rec, 96, true).value_or(kDefaultPpi);
}

int recordImageToBitmap(const transaction::NistFile& file, int type, int index,
                        Bitmap& out) noexcept {
  const Record* rec = nullptr;
  if (int rc = detail::lookupImageRecord(file, type, index, rec); rc < 0) return rc;
  if (transaction::findField(*rec, 1) == nullptr) return kNoRecord;
  RawImage img;
  if (int rc = decodeRecordImage(file, type, index, true, img); rc < 0) return rc;
  const std::size_t rowBytes = rawRowBytes(img.width, img.depth, true);
  Bitmap bmp;
  if (Bitmap::create(img.width, img.height, img.depth, {}, img.pixels, rowBytes, bmp) < 0) {
    return kUndecodable;
  }
  out = std::move(bmp);
  return kOk;
}

int exportRecordImage(const transaction::NistFile& file, int type, int index,
                      const std::string& path, int format) noexcept {
  if (file.transaction() == nullptr) return kNoTransaction;
  if (path.empty()) return kNoPath;
  if (!transaction::isImageType(type)) return kNotImageType;
  if (index < 0) return kNegativeIndex;
  if (format < kExportBmp || format > kExportTiff) return kBadFormat;
  try {
    if (format == kExportPng) {
      RawImage img;
      if (int rc = decodeRecordImage(file, type, index, false, img); rc < 0) return rc;
      std::vector<std::uint8_t> png;
      if (int rc = pngEncode(img, png); rc < 0) return rc;
      return writeFile(path, png);
    }
    Bitmap bmp;
    if (int rc = recordImageToBitmap(file, type, index, bmp); rc < 0) return rc;
    const Encoder* enc = findEncoder(format == kExportBmp ? "image/bmp" : "image/tiff");
    if (enc == nullptr) return kEncoderFailed;
    int dpi = 96;
    if (format == kExportTiff) dpi = recordResolutionPpi(file, type, index);
    return saveBitmap(bmp, enc, dpi, path);
  } catch (const std::bad_alloc&) {
    return kAllocFailed;
  } catch (...) {
    return kEncoderFailed;
  }
}

}  // namespace varnel::imaging
