// The four 16x16 report icons, drawn in code and encoded as PNG data URIs, so the report needs
// no image files beside it.
#include <zlib.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "rules/report.h"

namespace varnel::rules {
namespace {

constexpr int kSize = 16;
constexpr int kSamples = 4;  // per axis: 16 samples per pixel smooth the edges

struct Rgba {
  double r = 0, g = 0, b = 0, a = 0;
};

double distToSegment(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax;
  const double dy = by - ay;
  double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
  t = std::fmax(0.0, std::fmin(1.0, t));
  const double cx = ax + t * dx - px;
  const double cy = ay + t * dy - py;
  return std::sqrt(cx * cx + cy * cy);
}

bool inTriangle(double px, double py) {
  // Apex (8, 0.8), base from (0.6, 15) to (15.4, 15).
  if (py > 15.0 || py < 0.8) return false;
  const double half = (py - 0.8) / (15.0 - 0.8) * 7.4;
  return px >= 8.0 - half && px <= 8.0 + half;
}

// Colour of one sample point of an icon; alpha 0 outside the shape.
Rgba sample(int icon, double x, double y) {
  const double cx = 8.0;
  const double cy = 8.0;
  const double r = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
  const Rgba white{255, 255, 255, 1};
  switch (icon) {
    case 0: {  // tick
      if (r > 7.6) return {};
      if (distToSegment(x, y, 4.2, 8.2, 7.0, 11.0) < 1.2 ||
          distToSegment(x, y, 7.0, 11.0, 11.8, 5.2) < 1.2) {
        return white;
      }
      return {0x33, 0x99, 0x33, 1};
    }
    case 1: {  // information
      if (r > 7.6) return {};
      const double dot = std::sqrt((x - 8) * (x - 8) + (y - 4.6) * (y - 4.6));
      if (dot < 1.3 || (x > 6.9 && x < 9.1 && y > 6.8 && y < 12.4)) return white;
      return {0x13, 0x82, 0xCE, 1};
    }
    case 2: {  // warning
      if (!inTriangle(x, y)) return {};
      if ((x > 7.1 && x < 8.9 && y > 5.0 && y < 10.6) ||
          (x > 7.1 && x < 8.9 && y > 11.8 && y < 13.6)) {
        return {0x1E, 0x1E, 0x1F, 1};
      }
      return {0xF2, 0xC8, 0x11, 1};
    }
    default: {  // error
      if (r > 7.6) return {};
      if (r < 5.0 &&
          (distToSegment(x, y, 5, 5, 11, 11) < 1.1 || distToSegment(x, y, 5, 11, 11, 5) < 1.1)) {
        return white;
      }
      return {0xE5, 0x14, 0x00, 1};
    }
  }
}

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void putChunk(std::vector<std::uint8_t>& out, const char* type,
              const std::vector<std::uint8_t>& data) {
  putU32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(out.size() - start));
  putU32(out, static_cast<std::uint32_t>(crc));
}

std::vector<std::uint8_t> encodePng(int icon) {
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(kSize) * (1 + kSize * 4));
  for (int y = 0; y < kSize; ++y) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < kSize; ++x) {
      Rgba sum;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const Rgba s = sample(icon, x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples);
          sum.r += s.r * s.a;
          sum.g += s.g * s.a;
          sum.b += s.b * s.a;
          sum.a += s.a;
        }
      }
      const double a = sum.a / (kSamples * kSamples);
      const auto channel = [&](double c) {
        return static_cast<std::uint8_t>(sum.a > 0 ? std::lround(c / sum.a) : 0);
      };
      raw.push_back(channel(sum.r));
      raw.push_back(channel(sum.g));
      raw.push_back(channel(sum.b));
      raw.push_back(static_cast<std::uint8_t>(std::lround(a * 255)));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) !=
      Z_OK) {
    return {};
  }
  packed.resize(packedSize);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> ihdr;
  putU32(ihdr, kSize);
  putU32(ihdr, kSize);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, deflate, no filter set, no interlace
  putChunk(png, "IHDR", ihdr);
  putChunk(png, "IDAT", packed);
  putChunk(png, "IEND", {});
  return png;
}

std::string base64(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    const std::uint32_t v = bytes[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

}  // namespace

std::string iconDataUri(int icon) {
  static const std::array<std::string, 4> kUris = [] {
    std::array<std::string, 4> uris;
    for (int i = 0; i < 4; ++i) uris[i] = "data:image/png;base64," + base64(encodePng(i));
    return uris;
  }();
  if (icon < 0 || icon > 3) icon = 3;
  return kUris[icon];
}

}  // namespace varnel::rules
