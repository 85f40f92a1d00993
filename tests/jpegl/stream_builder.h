#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/files.h"

namespace varnel::jpegl::testing {

/// One component of a stream to encode: its plane (already the size the decoder derives from the
/// frame and the sampling factors) and how its scan is coded.
struct PlaneSpec {
  int id = 1;
  int h = 1;
  int v = 1;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> samples;
  int predictor = 1;
  int pointTransform = 0;
  int table = 0;
  /// When not empty, these differences are coded in place of those computed from `samples`.
  std::vector<int> differences;
};

/// Options of the test encoder; the defaults give a valid JFIF-wrapped process-14 stream.
struct StreamOptions {
  int width = 0;  ///< frame X; 0 means the first plane's width
  int height = 0;
  int precision = 8;
  bool app0 = true;
  int densityUnits = 1;
  int xDensity = 500;
  int yDensity = 500;
  int tableClass = 0;        ///< high nibble of the DHT class/id byte
  bool interleaved = false;  ///< one scan naming every component (its data are not valid)
  bool eoi = true;
  std::vector<std::uint8_t> beforeFrame;  ///< raw bytes written just before SOF3
};

/// Writes a lossless JPEG (SOF3) stream with one non-interleaved scan per plane, in plane order.
/// Differences are coded with one fixed table covering categories 0-16.
std::vector<std::uint8_t> encodeLossless(const std::vector<PlaneSpec>& planes,
                                         const StreamOptions& options = {});

/// A deterministic grey test picture with gradients, edges and noise.
std::vector<std::uint8_t> testPicture(int width, int height, unsigned seed);

/// Samples of a plane after the point transform (as decoded: (s >> al) << al).
std::vector<std::uint8_t> pointTransformed(const std::vector<std::uint8_t>& samples, int al);

/// Whole file bytes (none when it cannot be read).
inline std::vector<std::uint8_t> readFile(const std::string& path) {
  return varnel::test::readFileBytes(path);
}

/// Writes a whole file; false on failure.
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

/// Wraps 8-bit pixels (1 or 3 samples per pixel, interleaved) into a minimal uncompressed DICOM
/// file (explicit VR little endian) that the DICOM toolkit's compressor accepts.
std::vector<std::uint8_t> minimalDicom(const std::vector<std::uint8_t>& pixels, int width,
                                       int height, int samplesPerPixel);

/// Extracts the JPEG stream from the encapsulated pixel data of a DICOM file (the fragments after
/// the offset table, concatenated). Empty when there is none.
std::vector<std::uint8_t> extractEncapsulated(const std::vector<std::uint8_t>& dicom);

/// Inserts a JFIF APP0 segment (units 0) after SOI when the stream does not already have one.
std::vector<std::uint8_t> withJfifHeader(const std::vector<std::uint8_t>& stream);

/// Parses a binary PGM (P5) or PPM (P6) with maxval 255; false when it is not one.
bool parsePnm(const std::vector<std::uint8_t>& bytes, char& kind, int& width, int& height,
              std::vector<std::uint8_t>& pixels);

}  // namespace varnel::jpegl::testing
