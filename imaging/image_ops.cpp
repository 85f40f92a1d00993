// Recompression of record images, compression of raw records by resolution, record bitmaps and
// image export.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "imaging/detail/codecs.h"
#include "imaging/detail/reason.h"
#include "imaging/detail/record_access.h"
#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "imaging/wsq/wsq.h"
#include "transaction/file_io.h"

namespace varnel::imaging {

using detail::fail;
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
int encodeTo(int target, const RawImage& img, float bitrate, std::vector<std::uint8_t>& out,
             std::string* why) {
  const std::size_t count =
      static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
  switch (target) {
    case 0:
      out = img.pixels;
      return kOk;
    case 1: {
      const int rc =
          img.depth == 24
              ? wsq::wsqEncode(bitrate, toGrey(img.pixels, count), img.width, img.height, out)
              : wsq::wsqEncode(bitrate, img.pixels, img.width, img.height, out);
      if (rc < 0) return fail(why, kEncodeFailed, std::string("WSQ: ") + wsq::wsqStatusText(rc));
      return kOk;
    }
    case 5:
      return jp2LosslessEncode(img.pixels, img.width, img.height, img.depth, out, why);
    case 6:
      return pngEncode(img, out, why);
    default:
      return fail(why, kBadTarget, "unknown target format");
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
    if (old && file.deleteFieldAt(type, 999, index) < 0) return kStoreFailed;
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

// "cannot <what> <path>: <system message of `error`>".
std::string fileReason(const char* what, const std::string& path, int error) {
  return std::string("cannot ") + what + " " + path + ": " +
         std::error_code(error, std::generic_category()).message();
}

// Writes `bytes` as the whole file `path`. On failure the file is removed, `why` says what failed
// and `err` (when given) receives the system's error number, taken where the call failed.
int writeFile(const std::string& path, std::span<const std::uint8_t> bytes, std::string* why,
              int* err = nullptr) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    if (err != nullptr) *err = error;
    return fail(why, kWriteFailed, fileReason("create", path, error));
  }
  int error = 0;
  if (!transaction::writeAll(fd, reinterpret_cast<const char*>(bytes.data()), bytes.size())) {
    error = errno;
  }
  // A full disk may show only when the file is closed (network file systems, quotas).
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    (void)std::remove(path.c_str());
    if (err != nullptr) *err = error;
    return fail(why, kWriteFailed, fileReason("write", path, error));
  }
  return kOk;
}

// recordImageToBitmap with the reason of a failure in `why`.
int toBitmap(const transaction::NistFile& file, int type, int index, Bitmap& out,
             std::string* why) {
  const Record* rec = nullptr;
  if (int rc = detail::lookupImageRecord(file, type, index, rec); rc < 0) {
    return fail(why, rc, "no such image record");
  }
  if (transaction::findField(*rec, 1) == nullptr) return fail(why, kNoFieldOne, "no field 1");
  RawImage img;
  std::string reason;
  if (int rc = decodeRecordImage(file, type, index, true, img, reason); rc < 0) {
    return fail(why, rc, reason);
  }
  const std::size_t rowBytes = rawRowBytes(img.width, img.depth, true);
  Bitmap bmp;
  if (Bitmap::create(img.width, img.height, img.depth, {}, img.pixels, rowBytes, bmp) < 0) {
    return fail(why, kUndecodable, "no bitmap of this size and depth");
  }
  out = std::move(bmp);
  return kOk;
}

}  // namespace

int recompressRecordImage(transaction::NistFile& file, int type, int index, int target,
                          std::string& reason) noexcept {
  std::string* why = &reason;
  const Record* rec = nullptr;
  if (int rc = detail::lookupImageRecord(file, type, index, rec); rc < 0) {
    return fail(why, rc, "no such image record");
  }
  if (target != 0 && target != 1 && target != 5 && target != 6) {
    return fail(why, kBadTarget, "unknown target format");
  }
  if (detectImageFormat(file, type, index) == target) {
    return fail(why, kAlreadyTarget, "already in the target format");
  }
  try {
    RawImage img;
    if (int rc = decodeRecordImage(file, type, index, false, img, reason); rc < 0) return rc;
    if (img.depth == 1) return fail(why, kOneBitImage, "1-bit images are not converted");
    std::vector<std::uint8_t> encoded;
    if (int rc = encodeTo(target, img, kRecompressWsqBitrate, encoded, why); rc < 0) return rc;
    int infoW = 0, infoH = 0, infoDepth = 0;
    if (target == 0 && getImageInfo(file, type, index, infoW, infoH, infoDepth) < 0) {
      // The decoded image knows its size even when the header reader does not.
      infoW = img.width;
      infoH = img.height;
    }
    if (int rc = storeImage(file, type, index, *rec, encoded); rc < 0) {
      return fail(why, rc, "the new image could not be stored");
    }
    // `rec` may have moved; look it up again.
    if (detail::lookupImageRecord(file, type, index, rec) < 0) {
      return fail(why, kNotFound, "the record went missing");
    }
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
    return fail(why, kAllocFailed, "out of memory");
  } catch (...) {
    return fail(why, kEncodeFailed, "recompression failed");
  }
}

int recompressRecordImage(transaction::NistFile& file, int type, int index, int target) noexcept {
  std::string reason;
  return recompressRecordImage(file, type, index, target, reason);
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
      if (encodeTo(target, img, bitrate, encoded, nullptr) < 0) continue;
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

int recordImageToBitmap(const transaction::NistFile& file, int type, int index, Bitmap& out,
                        std::string& reason) noexcept {
  try {
    return toBitmap(file, type, index, out, &reason);
  } catch (...) {
    return kAllocFailed;
  }
}

int recordImageToBitmap(const transaction::NistFile& file, int type, int index,
                        Bitmap& out) noexcept {
  try {
    return toBitmap(file, type, index, out, nullptr);
  } catch (...) {
    return kAllocFailed;
  }
}

int exportRecordImage(const transaction::NistFile& file, int type, int index,
                      const std::string& path, int format, std::string& reason, int& err) noexcept {
  err = 0;
  std::string* why = &reason;
  if (file.transaction() == nullptr) return fail(why, kNoTransaction, "no transaction");
  if (path.empty()) return fail(why, kNoPath, "no file name");
  if (!transaction::isImageType(type)) return fail(why, kNotImageType, "no image record type");
  if (index < 0) return fail(why, kNegativeIndex, "negative record index");
  if (format < kExportBmp || format > kExportTiff) {
    return fail(why, kBadExportFormat, "export format not BMP, PNG or TIFF");
  }
  try {
    if (format == kExportPng) {
      RawImage img;
      if (int rc = decodeRecordImage(file, type, index, false, img, reason); rc < 0) return rc;
      std::vector<std::uint8_t> png;
      if (int rc = pngEncode(img, png, why); rc < 0) return rc;
      return writeFile(path, png, why, &err);
    }
    Bitmap bmp;
    if (int rc = toBitmap(file, type, index, bmp, why); rc < 0) return rc;
    const Encoder* enc = findEncoder(format == kExportBmp ? "image/bmp" : "image/tiff");
    if (enc == nullptr) return fail(why, kNoEncoder, "no encoder");
    int dpi = 96;
    if (format == kExportTiff) dpi = recordResolutionPpi(file, type, index);
    return saveBitmap(bmp, enc, dpi, path, why, &err);
  } catch (const std::bad_alloc&) {
    return fail(why, kAllocFailed, "out of memory");
  } catch (...) {
    return fail(why, kSaveFailed, "export failed");
  }
}

int exportRecordImage(const transaction::NistFile& file, int type, int index,
                      const std::string& path, int format, std::string& reason) noexcept {
  int err = 0;
  return exportRecordImage(file, type, index, path, format, reason, err);
}

int exportRecordImage(const transaction::NistFile& file, int type, int index,
                      const std::string& path, int format) noexcept {
  std::string reason;
  int err = 0;
  return exportRecordImage(file, type, index, path, format, reason, err);
}

}  // namespace varnel::imaging
