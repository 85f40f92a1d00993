#pragma once

namespace varnel::imaging {

/// Status values of the image layer. 0 is success; every failure is negative and leaves the
/// record and every output as they were. Each name is one cause; where the documented numbers
/// of two causes coincide, both names carry the same value, so callers that compare numbers
/// see what they always saw.
inline constexpr int kOk = 0;
/// No transaction is loaded.
inline constexpr int kNoTransaction = -1;
/// The record has no image data field (classification).
inline constexpr int kNoImageData = -2;
/// An uncompressed BMP pixel array does not end exactly at the end of the data.
inline constexpr int kBmpSizeMismatch = -6;
/// A file cannot be created or written.
inline constexpr int kWriteFailed = -6;
/// No image encoder for the requested file type.
inline constexpr int kNoEncoder = -10;
/// Saving an image file failed for a reason other than writing it.
inline constexpr int kSaveFailed = -10;
/// The result buffer could not be allocated.
inline constexpr int kAllocFailed = -12;
/// BMP bit count or compression not supported.
inline constexpr int kBmpUnsupported = -101;
/// Export format other than BMP, PNG or TIFF.
inline constexpr int kBadExportFormat = -102;
/// addImageRecord: the image is not BMP, WSQ or PNG.
inline constexpr int kBadFormat = -102;
/// A 1-bit image cannot be recompressed.
inline constexpr int kOneBitImage = -103;
/// addImageRecord: the image is not 8 bits deep.
inline constexpr int kBadDepth = -103;
/// The record has no field 1, which a bitmap of its image needs.
inline constexpr int kNoFieldOne = -104;
/// No output path was given.
inline constexpr int kNoPath = -106;
/// The record does not exist.
inline constexpr int kNotFound = -300;
/// A negative record index.
inline constexpr int kNegativeIndex = -302;
/// A recompression target other than raw, WSQ, lossless JPEG 2000 or PNG.
inline constexpr int kBadTarget = -302;
/// A bitmap or surface size, bit count, palette or pixel buffer that does not fit together.
inline constexpr int kBadBitmapSize = -302;
/// A pixel or region outside the bitmap or surface.
inline constexpr int kOutsideBitmap = -302;
/// The record has no image data field (decoding, classification by field).
inline constexpr int kNoDataField = -303;
/// The image data match no known format.
inline constexpr int kUnrecognisedData = -303;
/// The image data cannot be decoded.
inline constexpr int kUndecodable = -303;
/// The image could not be encoded.
inline constexpr int kEncodeFailed = -303;
/// The new image bytes could not take the place of the old ones in the record.
inline constexpr int kStoreFailed = -303;
/// The record has no compression field.
inline constexpr int kNoCompressionField = -304;
/// The compression field, or the code the data were classified as, names no known format.
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
