#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel::test {

/// An 8-bit grey image read from a PNG file.
struct Grey {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

/// Reads a PNG as 8-bit grey with libpng; empty pixels when the file cannot be read.
Grey readPng(const std::string& path);

}  // namespace varnel::test
