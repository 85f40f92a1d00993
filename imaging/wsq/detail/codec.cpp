#include "imaging/wsq/detail/codec.h"

#include <cmath>

namespace varnel::wsq::detail {

int readMarker(ByteReader& in, int& marker) noexcept {
  int m = 0;
  if (int rc = in.u16(m); rc < 0) return rc;
  if (m < 0xFF00) return kNotAMarker;
  if (m < kSoi || m > kCom) return kUnknownMarker;
  marker = m;
  return kOk;
}

float unscale(std::uint32_t n, int scale) noexcept {
  auto v = static_cast<float>(n);
  for (int i = 0; i < scale; ++i) v = static_cast<float>(v / 10.0);
  return v;
}

bool scaleValue(double v, double ceiling, int& scale, std::uint32_t& n) noexcept {
  if (!(v > 0.0)) {
    scale = 0;
    n = 0;
    return true;
  }
  if (v >= ceiling) return false;
  int s = 0;
  double p = v;
  while (p < ceiling && s < 255) {
    p *= 10.0;
    ++s;
  }
  scale = s - 1;
  n = static_cast<std::uint32_t>(std::floor(p / 10.0 + 0.5));
  return true;
}

namespace {

// A segment's length field counts itself; the content must lie inside the stream.
int segmentBody(ByteReader& in, std::span<const std::uint8_t>& body) noexcept {
  int len = 0;
  if (int rc = in.u16(len); rc < 0) return rc;
  if (len < 2) return kInputEndBlock;
  return in.block(static_cast<std::size_t>(len - 2), body);
}

int readFilterHalf(ByteReader& r, int taps, std::vector<float>& full, bool antisymmetric) {
  const int stored = taps - taps / 2;
  std::vector<float> half(static_cast<std::size_t>(stored));
  for (int i = 0; i < stored; ++i) {
    int sign = 0;
    int scale = 0;
    std::uint32_t n = 0;
    if (int rc = r.u8(sign); rc < 0) return rc;
    if (int rc = r.u8(scale); rc < 0) return rc;
    if (int rc = r.u32(n); rc < 0) return rc;
    float v = unscale(n, scale);
    half[static_cast<std::size_t>(i)] = sign != 0 ? -v : v;
  }
  full.assign(static_cast<std::size_t>(taps), 0.0F);
  const int c = taps / 2;
  for (int i = 0; i < stored; ++i) {
    const float v = half[static_cast<std::size_t>(i)];
    full[static_cast<std::size_t>(c) + static_cast<std::size_t>(i)] = v;
    if (taps % 2 == 1) {
      full[static_cast<std::size_t>(c - i)] = v;
    } else {
      full[static_cast<std::size_t>(c - 1 - i)] = antisymmetric ? -v : v;
    }
  }
  return kOk;
}

}  // namespace

int readTableSegment(ByteReader& in, int marker, StreamTables& t) noexcept {
  std::span<const std::uint8_t> body;
  if (int rc = segmentBody(in, body); rc < 0) return rc;
  ByteReader r(body);
  try {
    switch (marker) {
      case kDtt: {
        int nl = 0;
        int nh = 0;
        if (int rc = r.u8(nl); rc < 0) return rc;
        if (int rc = r.u8(nh); rc < 0) return rc;
        t.haveLow = false;
        t.haveHigh = false;
        if (nl > 0) {
          if (int rc = readFilterHalf(r, nl, t.filters.low, false); rc < 0) return rc;
          t.haveLow = true;
        }
        if (nh > 0) {
          if (int rc = readFilterHalf(r, nh, t.filters.high, true); rc < 0) return rc;
          t.haveHigh = true;
        }
        return kOk;
      }
      case kDqt: {
        int s = 0;
        int v = 0;
        Quantization q;
        if (int rc = r.u8(s); rc < 0) return rc;
        if (int rc = r.u16(v); rc < 0) return rc;
        q.binCenter = unscale(static_cast<std::uint32_t>(v), s);
        for (int k = 0; k < kSubbands; ++k) {
          int qs = 0;
          int qv = 0;
          int zs = 0;
          int zv = 0;
          if (int rc = r.u8(qs); rc < 0) return rc;
          if (int rc = r.u16(qv); rc < 0) return rc;
          if (int rc = r.u8(zs); rc < 0) return rc;
          if (int rc = r.u16(zv); rc < 0) return rc;
          q.q[static_cast<std::size_t>(k)] = unscale(static_cast<std::uint32_t>(qv), qs);
          q.z[static_cast<std::size_t>(k)] = unscale(static_cast<std::uint32_t>(zv), zs);
        }
        q.defined = true;
        t.quant = q;
        return kOk;
      }
      case kDht: {
        ++t.huffmanSegments;
        // One segment may carry several tables.
        while (r.pos() < body.size()) {
          int id = 0;
          if (int rc = r.u8(id); rc < 0) return rc;
          HuffmanTable table;
          int total = 0;
          for (int l = 0; l < kMaxCodeLength; ++l) {
            int b = 0;
            if (int rc = r.u8(b); rc < 0) return rc;
            table.bits[static_cast<std::size_t>(l)] = static_cast<std::uint8_t>(b);
            total += b;
          }
          if (total > 256) return kBadHuffmanTable;
          std::span<const std::uint8_t> vals;
          if (int rc = r.block(static_cast<std::size_t>(total), vals); rc < 0) return rc;
          for (int i = 0; i < total; ++i)
            table.values[static_cast<std::size_t>(i)] = vals[static_cast<std::size_t>(i)];
          table.count = total;
          if (id < 0 || id >= kHuffmanSlots) return kUndefinedHuffmanTable;
          if (!makeDecoder(table, t.huffman[static_cast<std::size_t>(id)])) return kBadHuffmanTable;
        }
        return kOk;
      }
      default:  // comments are read and dropped here
        return kOk;
    }
  } catch (const std::bad_alloc&) {
    return kOutputAlloc;
  }
}

int readFrame(ByteReader& in, Frame& f) noexcept {
  std::span<const std::uint8_t> body;
  if (int rc = segmentBody(in, body); rc < 0) return rc;
  ByteReader r(body);
  int ms = 0;
  int mv = 0;
  int rs = 0;
  int rv = 0;
  Frame g;
  if (int rc = r.u8(g.black); rc < 0) return rc;
  if (int rc = r.u8(g.white); rc < 0) return rc;
  if (int rc = r.u16(g.height); rc < 0) return rc;
  if (int rc = r.u16(g.width); rc < 0) return rc;
  if (int rc = r.u8(ms); rc < 0) return rc;
  if (int rc = r.u16(mv); rc < 0) return rc;
  if (int rc = r.u8(rs); rc < 0) return rc;
  if (int rc = r.u16(rv); rc < 0) return rc;
  if (int rc = r.u8(g.encoder); rc < 0) return rc;
  if (int rc = r.u16(g.software); rc < 0) return rc;
  g.mShift = unscale(static_cast<std::uint32_t>(mv), ms);
  g.rScale = unscale(static_cast<std::uint32_t>(rv), rs);
  f = g;
  return kOk;
}

std::size_t codedCount(const Trees& t, const Quantization& q) noexcept {
  std::size_t n = 0;
  for (int k = 0; k < kCodedSubbands; ++k) {
    if (q.q[static_cast<std::size_t>(k)] != 0.0F) {
      const Region& r = t.subband[static_cast<std::size_t>(k)];
      n += static_cast<std::size_t>(r.w) * static_cast<std::size_t>(r.h);
    }
  }
  return n;
}

}  // namespace varnel::wsq::detail
