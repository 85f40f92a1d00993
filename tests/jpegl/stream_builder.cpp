#include "tests/jpegl/stream_builder.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

namespace varnel::jpegl::testing {
namespace {

// Code lengths per length 1-16 and the categories they code (0-16).
constexpr std::uint8_t kBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0};
constexpr int kSymbols = 17;

struct Code {
  unsigned code = 0;
  int length = 0;
};

std::vector<Code> canonicalCodes() {
  std::vector<Code> codes(kSymbols);
  unsigned code = 0;
  int k = 0;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < kBits[len - 1]; ++i) codes[k++] = {code++, len};
    code <<= 1;
  }
  return codes;
}

class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
  void put(unsigned value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      acc_ = (acc_ << 1) | ((value >> i) & 1u);
      if (++count_ == 8) emit();
    }
  }
  void flush() {
    while (count_ != 0) put(1, 1);  // pad the last byte with 1-bits
  }

 private:
  void emit() {
    out_.push_back(static_cast<std::uint8_t>(acc_));
    if (acc_ == 0xFF) out_.push_back(0);
    acc_ = 0;
    count_ = 0;
  }
  std::vector<std::uint8_t>& out_;
  unsigned acc_ = 0;
  int count_ = 0;
};

void put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

int predict(int predictor, int ra, int rb, int rc) {
  switch (predictor) {
    case 1:
      return ra;
    case 2:
      return rb;
    case 3:
      return rc;
    case 4:
      return ra + rb - rc;
    case 5:
      return ra + ((rb - rc) >> 1);
    case 6:
      return rb + ((ra - rc) >> 1);
    default:
      return (ra + rb) >> 1;
  }
}

void encodePlane(const PlaneSpec& p, int precision, std::vector<std::uint8_t>& out) {
  const auto codes = canonicalCodes();
  BitWriter bits(out);
  std::vector<int> s(p.samples.size() > 0 ? p.samples.size() : p.differences.size());
  for (std::size_t i = 0; i < p.samples.size(); ++i) s[i] = p.samples[i] >> p.pointTransform;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const int at = y * p.width + x;
      int pred = 0;
      if (x == 0 && y == 0) {
        pred = 1 << (precision - p.pointTransform - 1);
      } else if (y == 0) {
        pred = s[at - 1];
      } else if (x == 0) {
        pred = s[at - p.width];
      } else {
        pred = predict(p.predictor, s[at - 1], s[at - p.width], s[at - p.width - 1]);
      }
      int diff =
          p.differences.empty() ? s[at] - pred : p.differences.at(static_cast<std::size_t>(at));
      // Differences are taken modulo 2^16 and read as signed 16-bit values.
      diff = static_cast<std::int16_t>(static_cast<std::uint16_t>(diff));
      const int magnitude = diff < 0 ? -diff : diff;
      int category = 0;
      while ((magnitude >> category) != 0) ++category;
      bits.put(codes[category].code, codes[category].length);
      if (category > 0 && category < 16) {
        const unsigned raw =
            diff < 0 ? static_cast<unsigned>(diff - 1) : static_cast<unsigned>(diff);
        bits.put(raw & ((1u << category) - 1), category);
      }
    }
  }
  bits.flush();
}

}  // namespace

std::vector<std::uint8_t> encodeLossless(const std::vector<PlaneSpec>& planes,
                                         const StreamOptions& o) {
  std::vector<std::uint8_t> out;
  out.reserve(1024);
  put16(out, 0xFFD8);
  if (o.app0) {
    const std::uint8_t app0[] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 2};
    out.insert(out.end(), std::begin(app0), std::end(app0));
    out.push_back(static_cast<std::uint8_t>(o.densityUnits));
    put16(out, static_cast<unsigned>(o.xDensity));
    put16(out, static_cast<unsigned>(o.yDensity));
    out.push_back(0);
    out.push_back(0);
  }
  // One DHT segment holding the same table under ids 0 and 1.
  put16(out, 0xFFC4);
  put16(out, 2 + 2 * (17 + kSymbols));
  for (int id = 0; id < 2; ++id) {
    out.push_back(static_cast<std::uint8_t>((o.tableClass << 4) | id));
    out.insert(out.end(), std::begin(kBits), std::end(kBits));
    for (int v = 0; v < kSymbols; ++v) out.push_back(static_cast<std::uint8_t>(v));
  }
  out.insert(out.end(), o.beforeFrame.begin(), o.beforeFrame.end());
  const int nf = static_cast<int>(planes.size());
  put16(out, 0xFFC3);
  put16(out, static_cast<unsigned>(8 + 3 * nf));
  out.push_back(static_cast<std::uint8_t>(o.precision));
  put16(out, static_cast<unsigned>(o.height ? o.height : planes.at(0).height));
  put16(out, static_cast<unsigned>(o.width ? o.width : planes.at(0).width));
  out.push_back(static_cast<std::uint8_t>(nf));
  for (const PlaneSpec& p : planes) {
    out.push_back(static_cast<std::uint8_t>(p.id));
    out.push_back(static_cast<std::uint8_t>((p.h << 4) | p.v));
    out.push_back(0);
  }
  if (o.interleaved) {
    put16(out, 0xFFDA);
    put16(out, static_cast<unsigned>(6 + 2 * nf));
    out.push_back(static_cast<std::uint8_t>(nf));
    for (const PlaneSpec& p : planes) {
      out.push_back(static_cast<std::uint8_t>(p.id));
      out.push_back(static_cast<std::uint8_t>(p.table << 4));
    }
    out.push_back(static_cast<std::uint8_t>(planes.at(0).predictor));
    out.push_back(0);
    out.push_back(0);
    for (int i = 0; i < 64; ++i) out.push_back(0x55);
  } else {
    for (const PlaneSpec& p : planes) {
      put16(out, 0xFFDA);
      put16(out, 8);
      out.push_back(1);
      out.push_back(static_cast<std::uint8_t>(p.id));
      out.push_back(static_cast<std::uint8_t>(p.table << 4));
      out.push_back(static_cast<std::uint8_t>(p.predictor));
      out.push_back(0);
      out.push_back(static_cast<std::uint8_t>(p.pointTransform));
      encodePlane(p, o.precision, out);
    }
  }
  if (o.eoi) put16(out, 0xFFD9);
  return out;
}

std::vector<std::uint8_t> testPicture(int width, int height, unsigned seed) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(width) * height);
  unsigned state = seed * 2654435761u + 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1103515245u + 12345u;
      int v = (x * 255) / (width > 1 ? width - 1 : 1) / 2 + (y * 97) / (height ? height : 1);
      if (((x / 7) + (y / 5)) % 4 == 0) v = 255 - v;  // hard edges
      v += static_cast<int>((state >> 16) % 17) - 8;  // noise
      if (x % 23 == 0) v = 0;                         // extremes
      if (y % 19 == 0) v = 255;
      px[static_cast<std::size_t>(y) * width + x] =
          static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
  return px;
}

std::vector<std::uint8_t> pointTransformed(const std::vector<std::uint8_t>& samples, int al) {
  std::vector<std::uint8_t> out(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    out[i] = static_cast<std::uint8_t>((samples[i] >> al) << al);
  }
  return out;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

namespace {

void le16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void le32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  le16(out, v & 0xFFFF);
  le16(out, v >> 16);
}

// Explicit VR little endian element; OB values use the long length form.
void element(std::vector<std::uint8_t>& out, unsigned group, unsigned elem, const char* vr,
             std::vector<std::uint8_t> value) {
  const std::string_view v(vr);
  if (value.size() % 2 != 0) value.push_back(v == "UI" ? 0 : ' ');
  le16(out, group);
  le16(out, elem);
  out.push_back(static_cast<std::uint8_t>(vr[0]));
  out.push_back(static_cast<std::uint8_t>(vr[1]));
  if (v == "OB") {
    le16(out, 0);
    le32(out, static_cast<std::uint32_t>(value.size()));
  } else {
    le16(out, static_cast<unsigned>(value.size()));
  }
  out.insert(out.end(), value.begin(), value.end());
}

std::vector<std::uint8_t> text(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> us(unsigned v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
}

std::uint32_t readLe32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

}  // namespace

std::vector<std::uint8_t> minimalDicom(const std::vector<std::uint8_t>& pixels, int width,
                                       int height, int samplesPerPixel) {
  const char* sop = "1.2.840.10008.5.1.4.1.1.7";  // secondary capture
  const char* instance = "1.2.826.0.1.3680043.2.1125.1";
  std::vector<std::uint8_t> meta;
  element(meta, 2, 1, "OB", {0, 1});
  element(meta, 2, 2, "UI", text(sop));
  element(meta, 2, 3, "UI", text(instance));
  element(meta, 2, 0x10, "UI", text("1.2.840.10008.1.2.1"));
  std::vector<std::uint8_t> out(128, 0);
  for (char c : std::string_view("DICM")) out.push_back(static_cast<std::uint8_t>(c));
  element(
      out, 2, 0, "UL",
      {static_cast<std::uint8_t>(meta.size()), static_cast<std::uint8_t>(meta.size() >> 8), 0, 0});
  out.insert(out.end(), meta.begin(), meta.end());
  element(out, 8, 0x16, "UI", text(sop));
  element(out, 8, 0x18, "UI", text(instance));
  element(out, 0x28, 2, "US", us(static_cast<unsigned>(samplesPerPixel)));
  element(out, 0x28, 4, "CS", text(samplesPerPixel == 1 ? "MONOCHROME2" : "RGB"));
  if (samplesPerPixel > 1) element(out, 0x28, 6, "US", us(0));
  element(out, 0x28, 0x10, "US", us(static_cast<unsigned>(height)));
  element(out, 0x28, 0x11, "US", us(static_cast<unsigned>(width)));
  element(out, 0x28, 0x100, "US", us(8));
  element(out, 0x28, 0x101, "US", us(8));
  element(out, 0x28, 0x102, "US", us(7));
  element(out, 0x28, 0x103, "US", us(0));
  element(out, 0x7FE0, 0x10, "OB", pixels);
  return out;
}

std::vector<std::uint8_t> extractEncapsulated(const std::vector<std::uint8_t>& d) {
  // (7FE0,0010) OB with undefined length, then items (FFFE,E000) up to (FFFE,E0DD).
  const std::uint8_t tag[] = {0xE0, 0x7F, 0x10, 0x00, 'O', 'B', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  std::size_t at = d.size();
  for (std::size_t i = 0; i + sizeof tag <= d.size(); ++i) {
    if (std::memcmp(d.data() + i, tag, sizeof tag) == 0) at = i + sizeof tag;
  }
  std::vector<std::uint8_t> out;
  bool first = true;
  while (at + 8 <= d.size()) {
    const unsigned group = d[at] | (d[at + 1] << 8);
    const unsigned elem = d[at + 2] | (d[at + 3] << 8);
    const std::uint32_t len = readLe32(d, at + 4);
    at += 8;
    if (group != 0xFFFE || elem != 0xE000 || len > d.size() - at) break;
    if (!first)
      out.insert(out.end(), d.begin() + static_cast<long>(at),
                 d.begin() + static_cast<long>(at + len));
    first = false;
    at += len;
  }
  return out;
}

std::vector<std::uint8_t> withJfifHeader(const std::vector<std::uint8_t>& s) {
  if (s.size() >= 4 && s[2] == 0xFF && s[3] == 0xE0) return s;
  const std::uint8_t app0[] = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  std::vector<std::uint8_t> out;
  out.reserve(s.size() + sizeof app0);
  out.insert(out.end(), s.begin(), s.begin() + 2);
  out.insert(out.end(), std::begin(app0), std::end(app0));
  out.insert(out.end(), s.begin() + 2, s.end());
  return out;
}

bool parsePnm(const std::vector<std::uint8_t>& bytes, char& kind, int& width, int& height,
              std::vector<std::uint8_t>& pixels) {
  int maxval = 0;
  int consumed = 0;
  const std::string head(
      bytes.begin(), bytes.begin() + static_cast<long>(std::min<std::size_t>(bytes.size(), 64)));
  // The header is the test's own; the count of fields read is checked.
  // NOLINTNEXTLINE(cert-err34-c)
  if (std::sscanf(head.c_str(), "P%c %d %d %d%n", &kind, &width, &height, &maxval, &consumed) !=
      4) {
    return false;
  }
  if (maxval != 255 || (kind != '5' && kind != '6')) return false;
  const std::size_t n = static_cast<std::size_t>(width) * height * (kind == '6' ? 3 : 1);
  const std::size_t start = static_cast<std::size_t>(consumed) + 1;
  if (bytes.size() != start + n) return false;
  pixels.assign(bytes.begin() + static_cast<long>(start), bytes.end());
  return true;
}

}  // namespace varnel::jpegl::testing
