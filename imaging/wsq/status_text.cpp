// Short English texts for the codec's statuses, for messages and failure reasons.
#include "imaging/wsq/status.h"
#include "imaging/wsq/wsq.h"

namespace varnel::wsq {

const char* wsqStatusText(int status) noexcept {
  switch (status) {
    case kOk:
      return "success";
    case kCommentWithoutName:  // also kNoPpi
      return "NIST_COM comment without a name or without PPI";
    case kInvalidArgument:
      return "invalid image size or bit rate";
    case kFloatImageAlloc:
    case kOutputAlloc:
    case kHuffmanScratchAlloc:
    case kDecomposeAlloc:
    case kReconstructAlloc:
      return "out of memory";
    case kBlockSizeMismatch:
      return "internal error: block sizes do not add up";
    case kOutputFullValue:
    case kOutputFullBlock:
      return "compressed data larger than the image (image too small?)";
    case kInputEndValue:
    case kInputEndBlock:
      return "stream truncated";
    case kMarkerInData:
      return "marker inside entropy-coded data";
    case kTooManyCoefficients:
      return "too many coefficients or undefined Huffman table";
    case kInvalidSymbol:
      return "invalid Huffman symbol";
    case kLowTapTooLarge:
    case kHighTapTooLarge:
      return "filter tap too large";
    case kQTooLarge:
    case kZTooLarge:
      return "quantizer bin too large (bit rate too low?)";
    case kNoSoi:
      return "not a WSQ stream (no SOI marker)";
    case kUnexpectedMarkerBeforeFrame:
      return "unexpected marker before the frame header";
    case kUnexpectedMarkerBeforeBlock:  // also kQuantizedAlloc
      return "unexpected marker before a block";
    case kNotAMarker:  // also kPixelSumOverflow, kUnquantizeAlloc
      return "marker expected";
    case kUnknownMarker:
      return "unknown marker or no quantization table";
    case kNoLowPassFilter:
      return "missing or unsupported low-pass filter";
    case kNoHighPassFilter:
      return "missing or unsupported high-pass filter";
    case kHuffmanIndex:  // also kBadHuffmanTable
      return "invalid Huffman code or table";
    default:
      return "WSQ error";
  }
}

}  // namespace varnel::wsq
