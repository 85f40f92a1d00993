#include "tests/wsq/wsq_test_util.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace varnel::wsq::test {

std::string dataDir() { return std::string(VARNEL_TEST_DATA) + "/wsq"; }
std::string corpusDir() { return VARNEL_CORPUS; }

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

Diff compare(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  Diff d;
  if (a.size() != b.size() || a.empty()) {
    d.worst = 256;
    return d;
  }
  std::size_t exact = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const int e = std::abs(a[i] - b[i]);
    if (e > d.worst) d.worst = e;
    if (e == 0) ++exact;
  }
  d.exactShare = static_cast<double>(exact) / static_cast<double>(a.size());
  return d;
}

std::vector<std::uint8_t> ridgeImage(int width, int height, unsigned seed) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> noise(-12.0, 12.0);
  const double cx = width * 0.5;
  const double cy = height * 0.45;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = x - cx;
      const double dy = (y - cy) * 1.3;
      const double r = std::sqrt(dx * dx + dy * dy);
      const double ridge = std::sin(r * 0.7 + 0.002 * dx * dy / (1.0 + r * 0.01));
      const double fade = std::exp(-r / (0.6 * (width + height)));
      double v = 200.0 - 110.0 * fade * (0.5 + 0.5 * ridge) + noise(rng);
      v = v < 0 ? 0 : (v > 255 ? 255 : v);
      px[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
         static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(v);
    }
  }
  return px;
}

std::vector<Segment> segments(const std::vector<std::uint8_t>& s) {
  std::vector<Segment> out;
  std::size_t i = 0;
  while (i + 1 < s.size()) {
    if (s[i] != 0xFF || s[i + 1] < 0xA0 || s[i + 1] > 0xA8) break;
    const int m = 0xFF00 | s[i + 1];
    out.push_back({m, i});
    if (m == 0xFFA0) {
      i += 2;
      continue;
    }
    if (m == 0xFFA1) break;
    if (i + 3 >= s.size()) break;
    const std::size_t len = (std::size_t{s[i + 2]} << 8) | s[i + 3];
    i += 2 + len;
    if (m == 0xFFA3) {
      // Entropy data runs to the next 0xFF that is not a stuffed 0xFF00.
      while (i + 1 < s.size() && !(s[i] == 0xFF && s[i + 1] != 0x00)) i += (s[i] == 0xFF) ? 2 : 1;
    }
  }
  return out;
}

}  // namespace varnel::wsq::test
