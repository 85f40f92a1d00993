#pragma once

namespace varnel::wsq {

/// Success.
inline constexpr int kOk = 0;
/// A line of a "NIST_COM" comment without a name.
inline constexpr int kCommentWithoutName = -2;
/// A "NIST_COM" comment without "PPI".
inline constexpr int kNoPpi = -2;
/// Bad arguments: width or height outside 1..65535, fewer pixels than width x height, or a
/// bitrate that is not a positive finite number.
inline constexpr int kInvalidArgument = -3;
/// The float image could not be allocated.
inline constexpr int kFloatImageAlloc = -10;
/// The quantized block sizes do not add up to the quantized coefficient count.
inline constexpr int kBlockSizeMismatch = -11;
/// Output allocation failed (encoder stream, decoder coefficients or pixels).
inline constexpr int kOutputAlloc = -12;
/// The Huffman scratch buffer could not be allocated.
inline constexpr int kHuffmanScratchAlloc = -13;
/// The encoded stream would exceed its capacity (a byte or 16-bit value).
inline constexpr int kOutputFullValue = -32;
/// The encoded stream would exceed its capacity (a block of bytes).
inline constexpr int kOutputFullBlock = -33;
/// The input ended inside a byte or multi-byte value.
inline constexpr int kInputEndValue = -39;
/// The input ended inside a block of bytes.
inline constexpr int kInputEndBlock = -40;
/// A marker was met inside entropy-coded data where more bits were needed.
inline constexpr int kMarkerInData = -41;
/// A zero run above 65535 reached the coder (cannot happen: runs are split at 65535).
inline constexpr int kRunTooLong8 = -47;
inline constexpr int kRunTooLong16 = -48;
inline constexpr int kRunTooLongCount8 = -49;
inline constexpr int kRunTooLongCount16 = -50;
/// More coefficients than the image holds.
inline constexpr int kTooManyCoefficients = -51;
/// A block names an undefined Huffman table, or a table segment names a table id above 7.
inline constexpr int kUndefinedHuffmanTable = -51;
/// A decoded symbol outside 1..254.
inline constexpr int kInvalidSymbol = -52;
/// A low-pass filter tap too large to scale.
inline constexpr int kLowTapTooLarge = -82;
/// A high-pass filter tap too large to scale.
inline constexpr int kHighTapTooLarge = -83;
/// A bin width Q too large to scale.
inline constexpr int kQTooLarge = -86;
/// A zero-bin width Z too large to scale.
inline constexpr int kZTooLarge = -87;
/// The stream does not begin with SOI.
inline constexpr int kNoSoi = -88;
/// An unexpected marker before the frame header.
inline constexpr int kUnexpectedMarkerBeforeFrame = -89;
/// An unexpected marker before a block.
inline constexpr int kUnexpectedMarkerBeforeBlock = -90;
/// The quantized data could not be allocated.
inline constexpr int kQuantizedAlloc = -90;
/// The pixel sum overflowed.
inline constexpr int kPixelSumOverflow = -91;
/// A value read where a marker is due is below 0xFF00.
inline constexpr int kNotAMarker = -91;
/// The unquantized coefficients could not be allocated.
inline constexpr int kUnquantizeAlloc = -91;
/// A marker outside 0xFFA0-0xFFA8.
inline constexpr int kUnknownMarker = -92;
/// No quantization table when unquantizing.
inline constexpr int kNoQuantizationTable = -92;
/// Decomposition scratch allocation failed.
inline constexpr int kDecomposeAlloc = -94;
/// The transform table has no low-pass filter.
inline constexpr int kNoLowPassFilter = -95;
/// The transform table has no high-pass filter.
inline constexpr int kNoHighPassFilter = -96;
/// Reconstruction scratch allocation failed.
inline constexpr int kReconstructAlloc = -97;
/// A Huffman code matched no table entry (index out of range).
inline constexpr int kHuffmanIndex = -303;
/// A Huffman table holds more than 256 values, or code lengths that overflow the code space.
inline constexpr int kBadHuffmanTable = -303;

}  // namespace varnel::wsq
