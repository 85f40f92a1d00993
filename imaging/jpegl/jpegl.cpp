#include "imaging/jpegl/jpegl.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <utility>

#include "imaging/jpegl/status.h"

namespace varnel::jpegl {
namespace {

std::atomic<int> gDebugLevel{0};

constexpr std::uint16_t kSoi = 0xFFD8;
constexpr std::uint16_t kEoi = 0xFFD9;
constexpr std::uint16_t kApp0 = 0xFFE0;
constexpr std::uint16_t kSof3 = 0xFFC3;
constexpr std::uint16_t kDht = 0xFFC4;
constexpr std::uint16_t kSos = 0xFFDA;
constexpr std::uint16_t kCom = 0xFFFE;

constexpr int kMaxTables = 4;
constexpr int kMaxComponents = 4;
constexpr int kMinPredictor = 1;
constexpr int kMaxPredictor = 7;
// Planes hold bytes, so wider samples cannot be kept without loss.
constexpr int kMinPrecision = 2;
constexpr int kMaxPrecision = 8;
// No plane may claim more samples than this, whatever the stream length.
constexpr std::uint64_t kMaxPlaneSamples = std::uint64_t{1} << 30;
// Codes up to this length are resolved by one table lookup.
constexpr int kLookupBits = 9;

std::atomic<JpeglDiagnosticSink> gSink{nullptr};

// Formats one diagnostic and hands it to the caller's sink; nothing happens without a sink or
// below the level the caller set.
void deliver(JpeglMessage kind, const char* format, va_list args) {
  const JpeglDiagnosticSink sink = gSink.load(std::memory_order_relaxed);
  if (sink == nullptr) return;
  char text[512];
  const int n = std::vsnprintf(text, sizeof text, format, args);
  if (n < 0) return;
  const std::size_t len =
      static_cast<std::size_t>(n) < sizeof text ? static_cast<std::size_t>(n) : sizeof text - 1;
  sink(kind, std::string_view(text, len));
}

// Progress of the readers, delivered from `level` up.
void trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style on purpose; the format attribute checks callers
void trace(int level, const char* format, ...) {
  if (gDebugLevel.load(std::memory_order_relaxed) < level) return;
  va_list args;
  va_start(args, format);
  deliver(JpeglMessage::kTrace, format, args);
  va_end(args);
}

// The "ERROR : " diagnostics, delivered from level 1 up.
void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style on purpose; the format attribute checks callers
void error(const char* format, ...) {
  if (gDebugLevel.load(std::memory_order_relaxed) < 1) return;
  va_list args;
  va_start(args, format);
  deliver(JpeglMessage::kError, format, args);
  va_end(args);
}

// Bounds-checked reader over the whole stream.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  int u8(unsigned& out) {
    if (pos_ >= bytes_.size()) return kReadPastEnd;
    out = bytes_[pos_++];
    return kOk;
  }
  int u16(unsigned& out) {
    if (bytes_.size() - pos_ < 2) return kReadPastEnd;
    out = (unsigned{bytes_[pos_]} << 8) | bytes_[pos_ + 1];
    pos_ += 2;
    return kOk;
  }
  int block(std::size_t n, std::span<const std::uint8_t>& out) {
    if (n > bytes_.size() - pos_) return kBlockPastEnd;
    out = bytes_.subspan(pos_, n);
    pos_ += n;
    return kOk;
  }
  // Reads a marker, skipping the FF fill bytes that may precede it. A byte other than FF where a
  // marker is due, or FF 00, gives marker value 0, which no caller accepts.
  int marker(unsigned& out) {
    unsigned b = 0;
    if (int rc = u8(b); rc < 0) return rc;
    if (b != 0xFF) {
      out = 0;
      return kOk;
    }
    do {
      if (int rc = u8(b); rc < 0) return rc;
    } while (b == 0xFF);
    out = b == 0 ? 0 : (0xFF00 | b);
    return kOk;
  }
  // Reads a segment's length field and returns its body (length - 2 bytes).
  int segment(std::span<const std::uint8_t>& body) {
    unsigned length = 0;
    if (int rc = u16(length); rc < 0) return rc;
    if (length < 2) return kBlockPastEnd;
    return block(length - 2, body);
  }

  std::size_t pos() const { return pos_; }
  void seek(std::size_t pos) { pos_ = pos < bytes_.size() ? pos : bytes_.size(); }
  std::size_t remaining() const { return bytes_.size() - pos_; }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// Reader over a segment body that has already been taken whole from the stream.
class SegmentReader {
 public:
  explicit SegmentReader(std::span<const std::uint8_t> body) : body_(body) {}
  bool u8(unsigned& out) {
    if (pos_ >= body_.size()) return false;
    out = body_[pos_++];
    return true;
  }
  bool u16(unsigned& out) {
    unsigned hi = 0;
    unsigned lo = 0;
    if (!u8(hi) || !u8(lo)) return false;
    out = (hi << 8) | lo;
    return true;
  }
  std::size_t remaining() const { return body_.size() - pos_; }

 private:
  std::span<const std::uint8_t> body_;
  std::size_t pos_ = 0;
};

struct HuffmanTable {
  bool defined = false;
  std::array<std::uint8_t, 17> bits{};  // bits[l]: number of codes of length l (1-16)
  std::array<std::uint8_t, 256> values{};
  std::array<int, 18> maxCode{};  // -1 when there is no code of that length
  std::array<int, 17> minCode{};
  std::array<int, 17> valPtr{};
  // For every 9-bit prefix: (code length << 8) | value, or 0 when the code is longer.
  std::array<std::uint16_t, 1u << kLookupBits> lookup{};
};

// Derives the canonical codes (code sizes, codes, MAXCODE, MINCODE, VALPTR) and the lookup table.
// Fails when the counts claim more codes of some length than the code space holds.
bool buildTable(HuffmanTable& t) {
  t.lookup.fill(0);
  int code = 0;
  int k = 0;
  for (int len = 1; len <= 16; ++len) {
    const int count = t.bits[len];
    if (count == 0) {
      t.maxCode[len] = -1;
    } else {
      t.valPtr[len] = k;
      t.minCode[len] = code;
      for (int i = 0; i < count; ++i, ++k, ++code) {
        if (code >= (1 << len)) return false;
        if (len <= kLookupBits) {
          const int shift = kLookupBits - len;
          const auto entry = static_cast<std::uint16_t>((len << 8) | t.values[k]);
          for (int fill = 0; fill < (1 << shift); ++fill) t.lookup[(code << shift) | fill] = entry;
        }
      }
      t.maxCode[len] = code - 1;
    }
    code <<= 1;
  }
  t.maxCode[17] = 0x7FFFFFFF;
  return true;
}

// DHT: one or more tables, each a class/id byte, 16 counts and the values. The class nibble is
// not checked: lossless streams use DC-style tables, and some writers mark them as class 1.
int readHuffmanTables(ByteReader& in, std::array<HuffmanTable, kMaxTables>& tables) {
  std::span<const std::uint8_t> body;
  if (int rc = in.segment(body); rc < 0) return rc;
  trace(2, "Lh = %zu\n", body.size() + 2);
  SegmentReader seg(body);
  while (seg.remaining() > 0) {
    unsigned classId = 0;
    seg.u8(classId);
    const unsigned id = classId & 0x0F;
    trace(2, "Tc = %u\nTh = %u\n", classId >> 4, id);
    if (id >= kMaxTables) {
      error("ERROR : read_huffman_table : table id %u not in range [0..%d]\n", id, kMaxTables - 1);
      return kBadHuffmanTable;
    }
    HuffmanTable table;
    unsigned total = 0;
    for (int len = 1; len <= 16; ++len) {
      unsigned count = 0;
      if (!seg.u8(count)) return kBadHuffmanTable;
      table.bits[len] = static_cast<std::uint8_t>(count);
      total += count;
    }
    if (total > table.values.size() || total > seg.remaining()) {
      error("ERROR : read_huffman_table : %u values in table %u\n", total, id);
      return kBadHuffmanTable;
    }
    for (unsigned i = 0; i < total; ++i) {
      unsigned v = 0;
      seg.u8(v);
      table.values[i] = static_cast<std::uint8_t>(v);
    }
    if (!buildTable(table)) {
      error("ERROR : read_huffman_table : code lengths of table %u overflow\n", id);
      return kBadHuffmanTable;
    }
    table.defined = true;
    tables[id] = table;
  }
  return kOk;
}

// APP0 read as a JFIF header; its density gives the resolution in pixels per inch.
int readJfifHeader(ByteReader& in, int& ppi) {
  trace(1, "Start reading JFIF header.\n");
  std::span<const std::uint8_t> body;
  if (int rc = in.segment(body); rc < 0) return rc;
  SegmentReader seg(body);
  unsigned ident[5] = {};
  unsigned version = 0;
  unsigned units = 0;
  unsigned xDensity = 0;
  unsigned yDensity = 0;
  unsigned xThumb = 0;
  unsigned yThumb = 0;
  for (unsigned& c : ident) seg.u8(c);
  if (!seg.u16(version) || !seg.u8(units) || !seg.u16(xDensity) || !seg.u16(yDensity) ||
      !seg.u8(xThumb) || !seg.u8(yThumb)) {
    error("ERROR : read_jfif_header : segment of %zu bytes too short\n", body.size() + 2);
    return kBadJfifHeader;
  }
  trace(2, "Lp = %zu\nversion = %u.%02u\nunits = %u\nXdensity = %u\nYdensity = %u\n",
        body.size() + 2, version >> 8, version & 0xFF, units, xDensity, yDensity);
  const bool isJfif =
      ident[0] == 'J' && ident[1] == 'F' && ident[2] == 'I' && ident[3] == 'F' && ident[4] == 0;
  if (!isJfif) {
    // Another APP0 application: its bytes say nothing about the resolution.
    ppi = -1;
    return kOk;
  }
  switch (units) {
    case 0:
      ppi = -1;
      return kOk;
    case 1:
      ppi = static_cast<int>(xDensity);
      return kOk;
    case 2:
      ppi = static_cast<int>(std::lround(xDensity * 2.54));
      return kOk;
    default:
      error("ERROR : read_jfif_header : density units %u not in range [0..2]\n", units);
      return kBadJfifHeader;
  }
}

int readFrameHeader(ByteReader& in, JpeglDecoded& img) {
  trace(1, "Start reading frame header.\n");
  std::span<const std::uint8_t> body;
  if (int rc = in.segment(body); rc < 0) return rc;
  SegmentReader seg(body);
  unsigned p = 0;
  unsigned y = 0;
  unsigned x = 0;
  unsigned nf = 0;
  if (!seg.u8(p) || !seg.u16(y) || !seg.u16(x) || !seg.u8(nf)) return kBadFrameHeader;
  trace(2, "Lf = %zu\nP = %u\nY = %u\nX = %u\nNf = %u\n", body.size() + 2, p, y, x, nf);
  if (nf < 1 || nf > kMaxComponents || seg.remaining() != std::size_t{3} * nf) {
    error("ERROR : read_frame_header : Nf = %u with Lf = %zu\n", nf, body.size() + 2);
    return kBadFrameHeader;
  }
  if (x == 0 || y == 0) {
    error("ERROR : read_frame_header : image size %ux%u\n", x, y);
    return kBadFrameHeader;
  }
  if (p < kMinPrecision || p > kMaxPrecision) {
    error("ERROR : read_frame_header : precision %u not in range [%d..%d]\n", p, kMinPrecision,
          kMaxPrecision);
    return kUnsupportedPrecision;
  }
  try {
    img.components.resize(nf);
  } catch (const std::bad_alloc&) {
    error("ERROR : setup_IMG_DAT_decode : calloc : img_dat\n");
    return kSetupAllocFailed;
  }
  int hMax = 1;
  int vMax = 1;
  for (unsigned i = 0; i < nf; ++i) {
    unsigned id = 0;
    unsigned sampling = 0;
    unsigned tq = 0;
    seg.u8(id);
    seg.u8(sampling);
    seg.u8(tq);
    JpeglComponent& c = img.components[i];
    c.id = static_cast<int>(id);
    c.h = static_cast<int>(sampling >> 4);
    c.v = static_cast<int>(sampling & 0x0F);
    trace(2, "C%u = %u\nH%u = %d\nV%u = %d\nTq%u = %u\n", i, id, i, c.h, i, c.v, i, tq);
    if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4) {
      error("ERROR : read_frame_header : sampling factors %dx%d\n", c.h, c.v);
      return kBadFrameHeader;
    }
    for (unsigned j = 0; j < i; ++j) {
      if (img.components[j].id == c.id) {
        error("ERROR : read_frame_header : component id %d repeated\n", c.id);
        return kBadFrameHeader;
      }
    }
    hMax = std::max(hMax, c.h);
    vMax = std::max(vMax, c.v);
  }
  img.width = static_cast<int>(x);
  img.height = static_cast<int>(y);
  img.precision = static_cast<int>(p);
  for (JpeglComponent& c : img.components) {
    c.width = static_cast<int>((static_cast<long>(x) * c.h + hMax - 1) / hMax);
    c.height = static_cast<int>((static_cast<long>(y) * c.v + vMax - 1) / vMax);
  }
  return kOk;
}

// Entropy-coded data of one scan, read MSB first with FF 00 unstuffed. When the data end or a
// marker is met, zero bits are supplied so that lookups can peek ahead, but taking any of them
// fails: with kMarkerInData after a marker, with kReadPastEnd at the end of the stream.
class BitReader {
 public:
  BitReader(std::span<const std::uint8_t> bytes, std::size_t pos) : bytes_(bytes), pos_(pos) {}

  int decode(const HuffmanTable& t, int& value) {
    if (bits_ < 32) fill();
    const std::uint16_t entry = t.lookup[acc_ >> (64 - kLookupBits)];
    if (entry != 0) {
      const int len = entry >> 8;
      if (len > bits_ - padding_) return shortage();
      take(len);
      value = entry & 0xFF;
      return kOk;
    }
    for (int len = kLookupBits + 1; len <= 16; ++len) {
      const auto code = static_cast<int>(acc_ >> (64 - len));
      if (t.maxCode[len] >= 0 && code <= t.maxCode[len] && code >= t.minCode[len]) {
        if (len > bits_ - padding_) return shortage();
        take(len);
        value = t.values[t.valPtr[len] + code - t.minCode[len]];
        return kOk;
      }
    }
    if (16 > bits_ - padding_) return shortage();
    return kBadCode;
  }

  // Reads the difference of a category (T.81 RECEIVE and EXTEND; category 16 stands for 32768
  // and has no extra bits).
  int difference(int category, int& diff) {
    if (category == 0) {
      diff = 0;
      return kOk;
    }
    if (category == 16) {
      diff = 32768;
      return kOk;
    }
    if (category > 16) return kBadCode;
    if (category > bits_ - padding_) return shortage();
    const auto raw = static_cast<int>(acc_ >> (64 - category));
    take(category);
    diff = raw < (1 << (category - 1)) ? raw - (1 << category) + 1 : raw;
    return kOk;
  }

  // Byte position from which to look for the marker that ends the scan.
  std::size_t resumePos() const { return markerMet_ ? markerPos_ : pos_; }

 private:
  void fill() {
    while (bits_ <= 56) {
      if (!markerMet_ && !endMet_) {
        if (pos_ >= bytes_.size()) {
          endMet_ = true;
          continue;
        }
        std::uint8_t b = bytes_[pos_];
        if (b == 0xFF) {
          if (bytes_.size() - pos_ < 2) {
            endMet_ = true;
            continue;
          }
          if (bytes_[pos_ + 1] != 0) {
            markerMet_ = true;
            markerPos_ = pos_;
            continue;
          }
          pos_ += 2;
        } else {
          ++pos_;
        }
        acc_ |= std::uint64_t{b} << (56 - bits_);
      } else {
        padding_ += 8;
      }
      bits_ += 8;
    }
  }
  void take(int n) {
    acc_ <<= n;
    bits_ -= n;
  }
  int shortage() const { return markerMet_ ? kMarkerInData : kReadPastEnd; }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_;
  std::uint64_t acc_ = 0;
  int bits_ = 0;     // bits held in acc_, real ones first
  int padding_ = 0;  // trailing bits of acc_ that were supplied after the data stopped
  bool markerMet_ = false;
  bool endMet_ = false;
  std::size_t markerPos_ = 0;
};

int predictorFor(int predictor, int ra, int rb, int rc) {
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

template <int Predictor>
int decodeRow(BitReader& bits, const HuffmanTable& table, std::uint8_t* row,
              const std::uint8_t* above, int width) {
  int category = 0;
  int diff = 0;
  // The first sample of a row is predicted from the one above it.
  if (int rc = bits.decode(table, category); rc < 0) return rc;
  if (int rc = bits.difference(category, diff); rc < 0) return rc;
  row[0] = static_cast<std::uint8_t>(above[0] + diff);
  for (int x = 1; x < width; ++x) {
    if (int rc = bits.decode(table, category); rc < 0) return rc;
    if (int rc = bits.difference(category, diff); rc < 0) return rc;
    const int pred = predictorFor(Predictor, row[x - 1], above[x], above[x - 1]);
    row[x] = static_cast<std::uint8_t>(pred + diff);
  }
  return kOk;
}

using RowDecoder = int (*)(BitReader&, const HuffmanTable&, std::uint8_t*, const std::uint8_t*,
                           int);

// Decodes one component plane in row order; samples keep the low 8 bits of prediction plus
// difference and are shifted left by the point transform afterwards.
int decodePlane(BitReader& bits, const HuffmanTable& table, JpeglComponent& c, int precision) {
  std::uint8_t* plane = c.plane.data();
  const int w = c.width;
  int category = 0;
  int diff = 0;
  // First row: the first sample from the precision, the rest from the left neighbour.
  int pred = 1 << (precision - c.pointTransform - 1);
  for (int x = 0; x < w; ++x) {
    if (int rc = bits.decode(table, category); rc < 0) return rc;
    if (int rc = bits.difference(category, diff); rc < 0) return rc;
    plane[x] = static_cast<std::uint8_t>(pred + diff);
    pred = plane[x];
  }
  static constexpr std::array<RowDecoder, 7> kRows = {&decodeRow<1>, &decodeRow<2>, &decodeRow<3>,
                                                      &decodeRow<4>, &decodeRow<5>, &decodeRow<6>,
                                                      &decodeRow<7>};
  const RowDecoder decodeRest = kRows[c.predictor - 1];
  for (int y = 1; y < c.height; ++y) {
    std::uint8_t* row = plane + static_cast<std::size_t>(y) * w;
    if (int rc = decodeRest(bits, table, row, row - w, w); rc < 0) return rc;
  }
  if (c.pointTransform > 0) {
    for (std::uint8_t& s : c.plane) s = static_cast<std::uint8_t>(s << c.pointTransform);
  }
  return kOk;
}

int readScan(ByteReader& in, JpeglDecoded& img, const std::array<HuffmanTable, kMaxTables>& tables,
             std::array<bool, kMaxComponents>& done) {
  trace(1, "Start reading scan header\n");
  std::span<const std::uint8_t> body;
  if (int rc = in.segment(body); rc < 0) return rc;
  SegmentReader seg(body);
  unsigned ns = 0;
  if (!seg.u8(ns)) return kBadScanHeader;
  trace(2, "Ls = %zu\nNs = %u\n", body.size() + 2, ns);
  if (ns < 1 || ns > kMaxComponents || seg.remaining() != 2 * ns + 3) {
    error("ERROR : read_scan_header : Ns = %u with Ls = %zu\n", ns, body.size() + 2);
    return kBadScanHeader;
  }
  std::array<int, kMaxComponents> index{};
  std::array<unsigned, kMaxComponents> tableOf{};
  for (unsigned i = 0; i < ns; ++i) {
    unsigned id = 0;
    unsigned selectors = 0;
    seg.u8(id);
    seg.u8(selectors);
    tableOf[i] = selectors >> 4;
    trace(2, "Cs%u = %u\nTd%u = %u\nTa%u = %u\n", i, id, i, selectors >> 4, i, selectors & 0x0F);
    index[i] = -1;
    for (std::size_t k = 0; k < img.components.size(); ++k) {
      if (img.components[k].id == static_cast<int>(id)) index[i] = static_cast<int>(k);
    }
    if (index[i] < 0 || done[index[i]]) {
      error("ERROR : read_scan_header : component %u not in frame or already decoded\n", id);
      return kBadScanHeader;
    }
  }
  unsigned ss = 0;
  unsigned se = 0;
  unsigned ahal = 0;
  seg.u8(ss);
  seg.u8(se);
  seg.u8(ahal);
  const unsigned al = ahal & 0x0F;
  trace(2, "Ss = %u\nSe = %u\nAh = %u\nAl = %u\n", ss, se, ahal >> 4, al);

  for (unsigned i = 0; i < ns; ++i) {
    if (tableOf[i] >= kMaxTables || !tables[tableOf[i]].defined) {
      error("ERROR : update_IMG_DAT_decode : huffman table %u not defined\n", tableOf[i]);
      return kUndefinedTable;
    }
  }
  if (ns != 1) {
    error("ERROR : update_IMG_DAT_decode : interleaved scans (Ns = %u) not supported\n", ns);
    return kInterleavedScan;
  }
  if (ss < kMinPredictor || ss > kMaxPredictor) {
    error("ERORR : predict : invalid prediction type ");
    error("%u not in range [%d..%d]\n", ss, kMinPredictor, kMaxPredictor);
    return kBadPredictor;
  }
  if (static_cast<int>(al) >= img.precision) {
    error("ERROR : read_scan_header : point transform %u with precision %d\n", al, img.precision);
    return kBadScanHeader;
  }

  JpeglComponent& c = img.components[index[0]];
  c.tableId = static_cast<int>(tableOf[0]);
  c.predictor = static_cast<int>(ss);
  c.pointTransform = static_cast<int>(al);
  // Every sample takes at least one bit, so a plane larger than eight samples per remaining byte
  // cannot be complete; refusing it here keeps a forged size from allocating memory.
  const std::uint64_t samples = static_cast<std::uint64_t>(c.width) * c.height;
  if (samples > kMaxPlaneSamples || samples > std::uint64_t{in.remaining()} * 8) {
    error("ERROR : update_IMG_DAT_decode : %dx%d plane exceeds the stream\n", c.width, c.height);
    return kReadPastEnd;
  }
  try {
    c.plane.assign(samples, 0);
  } catch (const std::bad_alloc&) {
    error("ERROR : update_IMG_DAT_decode : malloc : img_dat->image[%d]\n", index[0]);
    return kPlaneAllocFailed;
  }

  BitReader bits(in.bytes(), in.pos());
  if (int rc = decodePlane(bits, tables[tableOf[0]], c, img.precision); rc < 0) {
    error("ERROR : decode_data : component %d : status %d\n", c.id, rc);
    return rc;
  }
  done[index[0]] = true;

  // Continue at the marker that ends the scan; bytes left in the data before it are skipped.
  std::size_t pos = bits.resumePos();
  const auto bytes = in.bytes();
  while (pos < bytes.size()) {
    if (bytes[pos] == 0xFF && pos + 1 < bytes.size() && bytes[pos + 1] != 0) break;
    pos += bytes[pos] == 0xFF ? 2 : 1;
  }
  in.seek(pos);
  return kOk;
}

int decode(std::span<const std::uint8_t> stream, JpeglDecoded& img) {
  ByteReader in(stream);
  unsigned marker = 0;
  if (int rc = in.u16(marker); rc < 0) return rc;
  if (marker != kSoi) {
    error("ERROR : jpegl_decode_mem : no SOI marker\n");
    return kNoSoi;
  }
  if (int rc = in.u16(marker); rc < 0) return rc;
  if (marker != kApp0) {
    error("ERROR : jpegl_decode_mem : APP0 does not follow SOI\n");
    return kNoApp0;
  }
  if (int rc = readJfifHeader(in, img.ppi); rc < 0) return rc;

  std::array<HuffmanTable, kMaxTables> tables;
  for (;;) {
    if (int rc = in.marker(marker); rc < 0) return rc;
    trace(1, "Read Marker = %u, type %d\n", marker, 1);
    if (marker == kSof3) break;
    if (marker == kDht) {
      if (int rc = readHuffmanTables(in, tables); rc < 0) return rc;
    } else if (marker == kCom) {
      std::span<const std::uint8_t> body;
      if (int rc = in.segment(body); rc < 0) return rc;
    } else {
      error("ERROR : jpegl_decode_mem : marker %04X before the frame header\n", marker);
      return kBadMarkerBeforeFrame;
    }
  }

  if (int rc = readFrameHeader(in, img); rc < 0) return rc;

  std::array<bool, kMaxComponents> done{};
  for (;;) {
    if (int rc = in.marker(marker); rc < 0) return rc;
    trace(1, "Read Marker = %u, type %d\n", marker, 2);
    if (marker == kEoi) break;
    if (marker == kDht) {
      if (int rc = readHuffmanTables(in, tables); rc < 0) return rc;
    } else if (marker == kCom) {
      std::span<const std::uint8_t> body;
      if (int rc = in.segment(body); rc < 0) return rc;
    } else if (marker == kSos) {
      if (int rc = readScan(in, img, tables, done); rc < 0) return rc;
    } else {
      error("ERROR : jpegl_decode_mem : marker %04X between scans\n", marker);
      return kBadMarkerBeforeScan;
    }
  }
  // A component without a scan would come back as an empty plane: refuse rather than lose it.
  for (std::size_t i = 0; i < img.components.size(); ++i) {
    if (!done[i]) {
      error("ERROR : jpegl_decode_mem : no scan for component %d\n", img.components[i].id);
      return kMissingScan;
    }
  }
  return kOk;
}

}  // namespace

int jpeglDecode(std::span<const std::uint8_t> stream, JpeglDecoded& out) noexcept {
  try {
    JpeglDecoded img;
    if (int rc = decode(stream, img); rc < 0) return rc;
    out = std::move(img);
    return kOk;
  } catch (...) {
    // Only allocation can throw here; nothing may cross the library boundary.
    return kSetupAllocFailed;
  }
}

int jpeglImage(const JpeglDecoded& image, std::vector<std::uint8_t>& pixels, int& width,
               int& height, int& depth, int& ppi) noexcept {
  if (image.components.empty()) return kImageFailed;
  std::size_t total = 0;
  for (const JpeglComponent& c : image.components) {
    if (c.width <= 0 || c.height <= 0 ||
        c.plane.size() != static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height)) {
      return kImageFailed;
    }
    total += c.plane.size();
  }
  std::vector<std::uint8_t> data;
  try {
    data.reserve(total);
  } catch (const std::bad_alloc&) {
    error("ERROR : get_IMG_DAT_image : malloc : ndata\n");
    return kImageFailed;
  }
  for (const JpeglComponent& c : image.components) {
    data.insert(data.end(), c.plane.begin(), c.plane.end());
  }
  pixels = std::move(data);
  width = image.width;
  height = image.height;
  depth = 8 * static_cast<int>(image.components.size());
  ppi = image.ppi;
  return kOk;
}

void jpeglSetDebugLevel(int level) noexcept { gDebugLevel.store(level, std::memory_order_relaxed); }

int jpeglDebugLevel() noexcept { return gDebugLevel.load(std::memory_order_relaxed); }

void jpeglSetDiagnosticSink(JpeglDiagnosticSink sink) noexcept {
  gSink.store(sink, std::memory_order_relaxed);
}

const char* jpeglStatusText(int status) noexcept {
  // Several causes share each value (see status.h): the text names them together.
  switch (status) {
    case kOk:
      return "success";
    case kNoApp0:  // also kPlaneAllocFailed
      return "no JFIF APP0 segment right after SOI, or out of memory";
    case kBadMarkerBeforeFrame:
      return "a marker other than tables or comments before the lossless frame header";
    case kBadMarkerBeforeScan:
      return "a marker other than tables, comments or scans after the frame header";
    case kReadPastEnd:
    case kBlockPastEnd:
      return "the stream is truncated";
    default:
      return "invalid or unsupported stream (not lossless, interleaved scan, precision above 8 "
             "bits, or corrupt header or data)";
  }
}

}  // namespace varnel::jpegl
