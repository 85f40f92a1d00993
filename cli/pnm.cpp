#include "cli/pnm.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace varnel::cli {
namespace {

// Skips blanks and '#' comments between header fields.
void skipSpace(const std::vector<std::uint8_t>& b, std::size_t& i) {
  for (;;) {
    while (i < b.size() && (b[i] == ' ' || b[i] == '\t' || b[i] == '\n' || b[i] == '\r')) ++i;
    if (i < b.size() && b[i] == '#') {
      while (i < b.size() && b[i] != '\n') ++i;
      continue;
    }
    return;
  }
}

bool readNumber(const std::vector<std::uint8_t>& b, std::size_t& i, long& v) {
  skipSpace(b, i);
  if (i >= b.size() || b[i] < '0' || b[i] > '9') return false;
  v = 0;
  while (i < b.size() && b[i] >= '0' && b[i] <= '9') {
    v = v * 10 + (b[i++] - '0');
    if (v > 1000000) return false;
  }
  return true;
}

}  // namespace

bool readFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

bool readPgm(const std::string& path, std::vector<std::uint8_t>& pixels, int& width, int& height,
             std::string& error) {
  std::vector<std::uint8_t> b;
  if (!readFileBytes(path, b, error)) return false;
  if (b.size() < 2 || b[0] != 'P' || b[1] != '5') {
    error = path + " is not a binary greyscale PGM (P5)";
    return false;
  }
  std::size_t i = 2;
  long w = 0;
  long h = 0;
  long maxval = 0;
  if (!readNumber(b, i, w) || !readNumber(b, i, h) || !readNumber(b, i, maxval)) {
    error = path + ": malformed PGM header";
    return false;
  }
  if (w < 1 || h < 1 || w > 65535 || h > 65535) {
    error = path + ": image size must be 1..65535 in each direction";
    return false;
  }
  if (maxval < 1 || maxval > 255) {
    error = path + ": only 8-bit PGM (maxval 1..255) is supported";
    return false;
  }
  if (i >= b.size()) {
    error = path + ": pixel data missing";
    return false;
  }
  ++i;  // the single whitespace byte after maxval
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (b.size() - i < n) {
    error = path + ": pixel data truncated";
    return false;
  }
  pixels.assign(b.begin() + static_cast<std::ptrdiff_t>(i),
                b.begin() + static_cast<std::ptrdiff_t>(i + n));
  if (maxval != 255) {
    for (auto& p : pixels) {
      const long v = p > maxval ? maxval : p;
      p = static_cast<std::uint8_t>((v * 255 + maxval / 2) / maxval);
    }
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

bool writePgm(const std::string& path, const std::vector<std::uint8_t>& pixels, int width,
              int height, std::string& error) {
  const std::string header =
      "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  std::vector<std::uint8_t> bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), pixels.begin(), pixels.end());
  return writeFileBytes(path, bytes, error);
}

}  // namespace varnel::cli
