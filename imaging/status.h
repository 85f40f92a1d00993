#pragma once

namespace varnel::imaging {

/// Status values of the image layer. 0 is success; every failure is negative and leaves the
/// record and every output as they were.
inline constexpr int kOk = 0;
/// No transaction is loaded.
inline constexpr int kNoTransaction = -1;
/// The record has no image data field (classification).
inline constexpr int kNoImageData = -2;
/// A BMP container whose size does not add up, or a file that cannot be written.
inline constexpr int kSizeOrWriteError = -6;
/// No image encoder for the requested file type, or saving failed.
inline constexpr int kEncoderFailed = -10;
/// The result buffer could not be allocated.
inline constexpr int kAllocFailed = -12;
/// BMP bit count or compression not supported.
inline constexpr int kBmpUnsupported = -101;
/// Export format not 1-3; addImageRecord: image format not BMP, WSQ or PNG.
inline constexpr int kBadFormat = -102;
/// A 1-bit image cannot be recompressed; addImageRecord: depth other than 8 bits.
inline constexpr int kBadDepth = -103;
/// The record has no field 1 (bitmap), or the record is missing (library lookups).
inline constexpr int kNoRecord = -104;
/// No output path was given.
inline constexpr int kNoPath = -106;
/// The record does not exist.
inline constexpr int kNotFound = -300;
/// A negative record index.
inline constexpr int kNegativeIndex = -302;
/// Image data missing, unrecognised or not decodable; encoder failure.
inline constexpr int kUndecodable = -303;
/// Compression field missing or not in the table; a code outside the table while decoding.
inline constexpr int kBadCompression = -304;
/// Field 6 (width) missing.
inline constexpr int kNoWidth = -305;
/// Field 7 (height) missing.
inline constexpr int kNoHeight = -306;
/// The record type carries no image.
inline constexpr int kNotImageType = -307;
/// The image already has the target compression.
inline constexpr int kAlreadyTarget = -311;

/// addImageRecord: the Type-7 record could not be inserted.
inline constexpr int kAddInsertFailed = -21;
/// addImageRecord: the Type-7 record could not be built.
inline constexpr int kAddBuildFailed = -22;

/// Record conversion (Type 4/6 to Type 14/13 and back): which source was missing or wrong.
/// Type 4 to 14: 1.012 (NTR) missing.
inline constexpr int kT4NoResolution = -4;
/// Type 4 to 14: field 3 (IMP) missing.
inline constexpr int kT4NoImpression = -5;
/// Type 4 to 14: IMP above 7.
inline constexpr int kT4BadImpression = -6;
/// Type 4 to 14: field 2 (IDC) missing.
inline constexpr int kT4NoIdc = -7;
/// Type 4 to 14: 1.008 (ORI) missing.
inline constexpr int kT4NoOri = -8;
/// Type 4 to 14: 1.005 (DAT) missing.
inline constexpr int kT4NoDate = -9;
/// Type 4 to 14: field 6 (HLL) missing.
inline constexpr int kT4NoWidth = -10;
/// Type 4 to 14: field 7 (VLL) missing.
inline constexpr int kT4NoHeight = -11;
/// Type 4 to 14: field 4 (FGP) missing.
inline constexpr int kT4NoFingers = -12;
/// Type 4 to 14: field 9 (image data) missing.
inline constexpr int kT4NoData = -13;
/// Type 4 to 14: a tag of the new record could not be formatted.
inline constexpr int kT4TagTooLong = -12;

/// Type 14 to 4: field 11 (CGA) or field 8 (SLC) missing.
inline constexpr int kT14NoCompressionOrUnits = -4;
/// Type 14 to 4: field 9 (THPS) missing.
inline constexpr int kT14NoHorizontalScale = -2;
/// Type 14 to 4: field 10 (TVPS) missing.
inline constexpr int kT14NoVerticalScale = -3;
/// Type 14 to 4: SLC other than 0, 1 or 2, or field 12 (BPX) missing.
inline constexpr int kT14BadUnitsOrNoDepth = -5;
/// Type 14 to 4: field 1 (LEN) missing.
inline constexpr int kT14NoLength = -6;
/// Type 14 to 4: field 2 (IDC) missing.
inline constexpr int kT14NoIdc = -7;
/// Type 14 to 4: field 3 (IMP) missing.
inline constexpr int kT14NoImpression = -8;
/// Type 14 to 4: field 13 (FGP) missing.
inline constexpr int kT14NoFingers = -9;
/// Type 14 to 4: field 6 (HLL) missing.
inline constexpr int kT14NoWidth = -10;
/// Type 14 to 4: field 7 (VLL) missing.
inline constexpr int kT14NoHeight = -11;
/// Type 14 to 4: field 999 (image data) missing.
inline constexpr int kT14NoData = -12;

}  // namespace varnel::imaging
