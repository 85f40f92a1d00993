#pragma once

namespace varnel::jpegl {

/// Status codes of the lossless JPEG decoder. Several causes share a value: callers above this
/// module only tell success from failure, the names say which check fired.
inline constexpr int kOk = 0;

/// The stream does not begin with SOI (FFD8).
inline constexpr int kNoSoi = -2;
/// The JFIF header names density units other than 0, 1 or 2, or its segment is too short.
inline constexpr int kBadJfifHeader = -2;
/// The frame header is malformed: length, component count 1-4, non-zero size and sampling
/// factors 1-4, unique component ids.
inline constexpr int kBadFrameHeader = -2;
/// The sample precision is not 2 to 8 bits: planes hold bytes, wider samples would be cut.
inline constexpr int kUnsupportedPrecision = -2;
/// The decoded image description could not be allocated.
inline constexpr int kSetupAllocFailed = -2;
/// A Huffman table segment is malformed (table id above 3, more than 256 values, counts that
/// overflow the code space).
inline constexpr int kBadHuffmanTable = -2;
/// A scan header is malformed, names a component not in the frame or one already decoded, or
/// has a point transform not below the precision.
inline constexpr int kBadScanHeader = -2;
/// A scan component's Huffman table has not been defined.
inline constexpr int kUndefinedTable = -2;
/// The scan interleaves several components; only one component per scan is decoded.
inline constexpr int kInterleavedScan = -2;
/// The predictor (selection value) is not 1 to 7.
inline constexpr int kBadPredictor = -2;
/// A marker (FF followed by a non-zero byte) interrupts the entropy-coded data.
inline constexpr int kMarkerInData = -2;
/// The entropy-coded data hold a bit pattern that is no code of the table, or a difference
/// category above 16.
inline constexpr int kBadCode = -2;
/// EOI came before every component of the frame had its scan.
inline constexpr int kMissingScan = -2;
/// `jpeglImage` could not allocate the output, or the image holds a plane that was never decoded.
inline constexpr int kImageFailed = -2;

/// The first segment after SOI is not APP0 (FFE0).
inline constexpr int kNoApp0 = -3;
/// A component plane could not be allocated.
inline constexpr int kPlaneAllocFailed = -3;

/// A marker other than DHT or COM came before the frame header (SOF3).
inline constexpr int kBadMarkerBeforeFrame = -4;

/// A marker other than DHT, SOS, COM or EOI came between scans.
inline constexpr int kBadMarkerBeforeScan = -5;

/// The stream ended inside a byte or 16-bit value, or inside the entropy-coded data (also
/// returned up front when a plane has more samples than the rest of the stream could code).
inline constexpr int kReadPastEnd = -39;
/// The stream ended inside a block of bytes (segment body).
inline constexpr int kBlockPastEnd = -40;

}  // namespace varnel::jpegl
