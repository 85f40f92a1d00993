#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel::cli {

/// Reads an 8-bit binary greyscale PGM (P5, maxval 1..255; values are scaled to 0..255).
/// Returns true with width x height bytes in `pixels`, or false with a message in `error`.
bool readPgm(const std::string& path, std::vector<std::uint8_t>& pixels, int& width, int& height,
             std::string& error);

/// Writes width x height grey bytes as a binary PGM (P5, maxval 255). Returns true, or false with
/// a message in `error`.
bool writePgm(const std::string& path, const std::vector<std::uint8_t>& pixels, int width,
              int height, std::string& error);

/// Reads a whole file. Returns true, or false with a message in `error`.
bool readFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

/// Writes a whole file. Returns true, or false with a message in `error`.
bool writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    std::string& error);

}  // namespace varnel::cli
