#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/files.h"
#include "tests/common/grey_png.h"

namespace varnel::wsq::test {

/// Folder of the bundled test data and of the shared corpus (may be absent).
std::string dataDir();
std::string corpusDir();

/// Whole file bytes (none when it cannot be read).
inline std::vector<std::uint8_t> readFile(const std::string& path) {
  return varnel::test::readFileBytes(path);
}
bool fileExists(const std::string& path);

using varnel::test::Grey;
using varnel::test::readPng;

/// Largest absolute difference and share of equal pixels between two images of equal size.
struct Diff {
  int worst = 0;
  double exactShare = 0.0;
};
Diff compare(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

/// A synthetic fingerprint-like image: curved ridges with varying contrast and a light border.
std::vector<std::uint8_t> ridgeImage(int width, int height, unsigned seed = 1);

/// Offsets of every marker segment in a WSQ stream, in order (entropy data skipped).
struct Segment {
  int marker = 0;
  std::size_t offset = 0;
};
std::vector<Segment> segments(const std::vector<std::uint8_t>& s);

}  // namespace varnel::wsq::test
