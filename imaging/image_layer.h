#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/graphics.h"
#include "imaging/image.h"
#include "transaction/nist_file.h"

namespace varnel::imaging {

// Image operations on the transaction held by a NistFile. Records are addressed by type and
// occurrence (0-based among the records of that type). A failed operation leaves the record as
// it was. Every status is named in imaging/status.h. The overloads that take a `reason` store
// there, on failure, a short English text of what went wrong (the codec library's message, or
// the check that refused the image) for the caller to show after its own message; `reason` is
// untouched on success.

/// Compression code judged from the image data itself (0 raw, 1 WSQ, 2 JPEGB, 3 JPEGL, 4 JP2,
/// 5 JP2L, 6 PNG). Types 3-8, the tagged image types and Type 11 are accepted (kNotImageType
/// otherwise); kNoTransaction; kNegativeIndex; kNotFound when there is no such record;
/// kNoImageData without a data field; kUnrecognisedData when the data match nothing (a BMP
/// container included).
[[nodiscard]] int detectImageFormat(const transaction::NistFile& file, int type,
                                    int index) noexcept;

/// Width, height and depth from the image's own header, or for raw data from fields 6 and 7 and
/// the data length. Same lookup statuses as detectImageFormat; on failure all three are 0.
[[nodiscard]] int getImageInfo(const transaction::NistFile& file, int type, int index, int& width,
                               int& height, int& depth) noexcept;

/// Code named by the record's compression field. kNoWidth / kNoHeight when field 6 / 7 is
/// missing, kNoCompressionField, kBadCompression when it names no known code, kNoDataField,
/// kUnrecognisedData when JPEG data lack their JFIF/EXIF/Adobe marker; lookup statuses as
/// detectImageFormat.
[[nodiscard]] int compressionFromField(const transaction::NistFile& file, int type,
                                       int index) noexcept;

/// Decodes the record image into `out` (see RawImage). `forBitmap` gives blue-green-red order and
/// even row padding. Returns kOk; kNoDataField; kUndecodable; kBadCompression for an unknown
/// code; kNoWidth / kNoHeight for raw data without field 6 / 7; lookup statuses as
/// detectImageFormat. The record is never altered, and `out` is untouched on failure.
[[nodiscard]] int decodeRecordImage(const transaction::NistFile& file, int type, int index,
                                    bool forBitmap, RawImage& out) noexcept;
/// decodeRecordImage, with the reason of a failure in `reason`.
[[nodiscard]] int decodeRecordImage(const transaction::NistFile& file, int type, int index,
                                    bool forBitmap, RawImage& out, std::string& reason) noexcept;

/// Recompresses one record image to `target` (0 raw, 1 WSQ at 2.25 bpp, 5 lossless JPEG 2000,
/// 6 PNG) and updates the compression field (name for tagged records, digit for Types 3-7).
/// Colour images bound for WSQ are turned to grey first. Returns kOk; kAlreadyTarget;
/// kOneBitImage; kBadTarget; a decode status; kEncodeFailed or kAllocFailed from the encoder;
/// kStoreFailed when the new bytes cannot replace the old.
[[nodiscard]] int recompressRecordImage(transaction::NistFile& file, int type, int index,
                                        int target) noexcept;
/// recompressRecordImage, with the reason of a failure in `reason`.
[[nodiscard]] int recompressRecordImage(transaction::NistFile& file, int type, int index,
                                        int target, std::string& reason) noexcept;

/// Compresses every raw image of `type` by the resolution table (Type 14 at 500 ppi to WSQ when
/// `toWsq`, Types 13/14/15/19 at 500/1000/2000/4000 ppi to lossless JPEG 2000 otherwise) and sets
/// field 11. Returns the number of records compressed (0 or more); records that cannot be
/// compressed are left as they were.
[[nodiscard]] int compressRecordsOfType(transaction::NistFile& file, int type, float bitrate,
                                        bool toWsq) noexcept;

/// Scanning resolution of the record in pixels per inch (500 when unknown; 96 for unknown
/// scale units of a tagged record).
[[nodiscard]] int recordResolutionPpi(const transaction::NistFile& file, int type,
                                      int index) noexcept;

/// A bitmap of the record image, owned by the caller. Returns kOk; kNoFieldOne; kUndecodable
/// when no bitmap can hold the image; a decode status otherwise (`out` untouched on failure).
[[nodiscard]] int recordImageToBitmap(const transaction::NistFile& file, int type, int index,
                                      Bitmap& out) noexcept;
/// recordImageToBitmap, with the reason of a failure in `reason`.
[[nodiscard]] int recordImageToBitmap(const transaction::NistFile& file, int type, int index,
                                      Bitmap& out, std::string& reason) noexcept;

/// Export formats of exportRecordImage.
inline constexpr int kExportBmp = 1;
inline constexpr int kExportPng = 2;
inline constexpr int kExportTiff = 3;

/// Writes the record image to `path` as BMP (96 dpi), PNG or TIFF (the record's resolution).
/// Returns kOk; kNoTransaction; kNoPath; kNotImageType; kNegativeIndex; kBadExportFormat;
/// kWriteFailed when the file cannot be written; kNoEncoder or kSaveFailed; a decode status or
/// (PNG) an encode status otherwise.
[[nodiscard]] int exportRecordImage(const transaction::NistFile& file, int type, int index,
                                    const std::string& path, int format) noexcept;
/// exportRecordImage, with the reason of a failure in `reason`.
[[nodiscard]] int exportRecordImage(const transaction::NistFile& file, int type, int index,
                                    const std::string& path, int format,
                                    std::string& reason) noexcept;
/// exportRecordImage, with the reason of a failure in `reason` and, when the system refused to
/// create, write or close the file (kWriteFailed), its error number in `err` (0 otherwise),
/// taken where the call failed.
[[nodiscard]] int exportRecordImage(const transaction::NistFile& file, int type, int index,
                                    const std::string& path, int format, std::string& reason,
                                    int& err) noexcept;

/// Appends a Type-7 record holding `image` (BMP decoded to 8-bit raw, WSQ or PNG kept as they
/// are) with the given finger position and impression type. Returns kOk; kNoTransaction;
/// kBadFormat for another format; kBadDepth when not 8 bits deep; kAddBuildFailed when the
/// record cannot be built; kAddInsertFailed when insertion failed.
[[nodiscard]] int addImageRecord(transaction::NistFile& file, std::span<const std::uint8_t> image,
                                 int fingerPosition, int impressionType) noexcept;

/// Replaces every Type-4 and Type-6 record that qualifies by a Type-14 (Type-13 for latent
/// impressions) record at the same place with the same IDC. Returns kOk, kNoTransaction, or the
/// first negative status of a record build (imaging/status.h, kT4...), which ends the walk with the
/// records converted so far kept.
[[nodiscard]] int convertType4ToType14(transaction::NistFile& file) noexcept;

/// A header value of a Type-13/14 record that does not fit its binary Type-4/6 field, so the
/// record was left as it was: the record (type, occurrence among its type), the tagged field,
/// its text and the width of the binary field in bytes.
struct UnfitValue {
  int type = 0;
  int occurrence = 0;
  int field = 0;
  std::string text;
  int width = 0;
};

/// Replaces every Type-13 and Type-14 record that qualifies (WSQ or raw, 19.49 to 19.89 pixels
/// per millimetre, 1 or 8 bits) by a binary Type-4 or Type-6 record at the same place. A record
/// whose IDC, impression, finger positions or size do not fit the binary fields stays as it is
/// and is listed in `unfit` (when given). Returns kOk, kNoTransaction, or the first negative
/// status of a record build (kT14...).
[[nodiscard]] int convertType14ToType4(transaction::NistFile& file,
                                       std::vector<UnfitValue>* unfit = nullptr) noexcept;

/// One line describing the record image for a dump: format, size, depth and data length, for
/// example "WSQ20 804x752 8-bit, 28414 bytes", or the status and reason it cannot be read, for
/// example "undecodable image data (-303), 120 bytes: not 10x10 raw pixels of 1, 8 or 24
/// bits". Empty when the record carries no image data.
[[nodiscard]] std::string describeRecordImage(const transaction::NistFile& file, int type,
                                              int index) noexcept;

}  // namespace varnel::imaging
