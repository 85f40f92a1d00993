// Feature set conversion: deletes vendor minutiae blocks of Type-9 records and converts the
// legacy, FBI IAFIS and extended blocks to the INCITS 378 block, in pixels of the image the
// record describes.
#include "rules/feature_actions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "rules/status.h"
#include "transaction/tree.h"

namespace varnel::rules {
namespace {

using transaction::NistFile;

constexpr int kType9 = 9;
constexpr char kUsChar = static_cast<char>(transaction::kUs);
constexpr char kRsChar = static_cast<char>(transaction::kRs);

// Image record types searched by IDC, in the order a later match replaces an earlier one.
constexpr int kImageTypes[] = {4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15};

// Reads one integer the way "%d" (or "%<width>d") does: leading white space is skipped, then an
// optional sign and digits, at most `width` characters (0 = no limit) after the white space.
// Advances `pos` past what was read. False when no digit was found.
bool scanInt(std::string_view text, std::size_t& pos, std::size_t width, int& out) {
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  std::size_t end = width == 0 ? text.size() : std::min(text.size(), pos + width);
  std::size_t p = pos;
  bool negative = false;
  if (p < end && (text[p] == '+' || text[p] == '-')) {
    negative = text[p] == '-';
    ++p;
  }
  const std::size_t digitsStart = p;
  long long v = 0;
  while (p < end && text[p] >= '0' && text[p] <= '9') {
    // Values beyond int saturate; no coordinate of a real file comes near.
    if (v < 1000000000LL) v = v * 10 + (text[p] - '0');
    ++p;
  }
  if (p == digitsStart) return false;
  pos = p;
  out = static_cast<int>(negative ? -v : v);
  return true;
}

bool readInt(std::string_view text, int& out) {
  std::size_t pos = 0;
  return scanInt(text, pos, 0, out);
}

// Reads a float the way "%f" does (leading white space skipped). False when nothing reads.
bool readFloat(std::string_view text, float& out) {
  std::size_t pos = 0;
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  if (pos < text.size() && text[pos] == '+') ++pos;
  float v = 0;
  const auto res = std::from_chars(text.data() + pos, text.data() + text.size(), v);
  if (res.ec != std::errc()) return false;
  out = v;
  return true;
}

// nearest(v): rounded to the nearest integer, halves away from zero.
int nearest(double v) { return static_cast<int>(std::lround(v)); }

// Text of item `item` (1-based) of subfield `sub` (0-based) of field `field` of the
// `occ`-th Type-9 record; false when any level is missing.
bool item9(const NistFile& file, int occ, int field, int sub, int item, std::string_view& out) {
  return file.getItemText(kType9, field, occ, sub, item - 1, out) == transaction::kOk;
}

bool hasField(const NistFile& file, int type, int field, int occ) {
  return file.getSubfieldCount(type, field, occ) >= 0;
}

// Optional integer item: `fallback` when absent or unreadable.
int intItem(const NistFile& file, int occ, int field, int sub, int item, int fallback) {
  std::string_view text;
  int v = 0;
  if (item9(file, occ, field, sub, item, text) && readInt(text, v)) return v;
  return fallback;
}

// Kind letter: `bifurcation` gives 2, `ending` gives 1, anything else 0.
int kindFrom(const NistFile& file, int occ, int field, int sub, int item, char ending) {
  std::string_view text;
  if (!item9(file, occ, field, sub, item, text) || text.empty()) return 0;
  if (text[0] == 'B') return 2;
  if (text[0] == ending) return 1;
  return 0;
}

// "%4d%4d" (or with wider fields) location items. False when x and y cannot both be read.
bool scanLocation(std::string_view text, std::size_t coordWidth, int& x, int& y, int* theta) {
  std::size_t pos = 0;
  if (!scanInt(text, pos, coordWidth, x) || !scanInt(text, pos, coordWidth, y)) return false;
  if (theta != nullptr) {
    int t = 0;
    *theta = scanInt(text, pos, 3, t) ? t : 0;
  }
  return true;
}

int subfieldCount(const NistFile& file, int field, int occ) {
  return std::max(0, file.getSubfieldCount(kType9, field, occ));
}

void parseFbiIafis(const NistFile& file, int occ, int heightHmm, FeatureSet& fs) {
  std::string_view countText;
  if (!item9(file, occ, 15, 0, 1, countText)) return;
  int count = 0;
  (void)readInt(countText, count);
  // The count cannot name more minutiae than 9.023 holds.
  const int available = subfieldCount(file, 23, occ);
  const int n = std::clamp(count, 0, available);
  for (int i = 0; i < n; ++i) {
    std::string_view loc;
    MinutiaPoint m;
    if (!item9(file, occ, 23, i, 2, loc) || !scanLocation(loc, 4, m.x, m.y, &m.theta)) continue;
    m.y = heightHmm - m.y;
    m.kind = kindFrom(file, occ, 23, i, 4, 'A');
    fs.minutiae.push_back(m);
  }
  for (int i = 0; i < static_cast<int>(kMaxCoresOrDeltas); ++i) {
    if (i >= subfieldCount(file, 21, occ)) break;
    std::string_view loc;
    CorePoint c;
    if (!item9(file, occ, 21, i, 1, loc) || !scanLocation(loc, 4, c.x, c.y, nullptr)) continue;
    c.y = heightHmm - c.y;
    c.direction = intItem(file, occ, 21, i, 2, 0);
    c.uncertainty = intItem(file, occ, 21, i, 3, 0);
    fs.cores.push_back(c);
  }
  for (int i = 0; i < static_cast<int>(kMaxCoresOrDeltas); ++i) {
    if (i >= subfieldCount(file, 22, occ)) break;
    std::string_view loc;
    DeltaPoint d;
    if (!item9(file, occ, 22, i, 1, loc) || !scanLocation(loc, 4, d.x, d.y, nullptr)) continue;
    d.y = heightHmm - d.y;
    // An angle of 0 is how these blocks write "none".
    auto angle = [&](int item) {
      const int a = intItem(file, occ, 22, i, item, -1);
      return a == 0 ? -1 : a;
    };
    d.angle1 = angle(2);
    d.angle2 = angle(3);
    d.angle3 = angle(4);
    d.uncertainty = intItem(file, occ, 22, i, 5, 0);
    fs.deltas.push_back(d);
  }
}

void parseExtended(const NistFile& file, int occ, int heightHmm, FeatureSet& fs) {
  const int offX = intItem(file, occ, 300, 0, 3, 0);
  const int offY = intItem(file, occ, 300, 0, 4, 0);
  const int n = subfieldCount(file, 331, occ);
  for (int i = 0; i < n; ++i) {
    std::string_view xs;
    std::string_view ys;
    MinutiaPoint m;
    if (!item9(file, occ, 331, i, 1, xs) || !item9(file, occ, 331, i, 2, ys) || !readInt(xs, m.x) ||
        !readInt(ys, m.y)) {
      continue;
    }
    m.x += offX;
    m.y = heightHmm - m.y - offY;
    m.theta = intItem(file, occ, 331, i, 3, 0);
    m.kind = kindFrom(file, occ, 331, i, 4, 'E');
    fs.minutiae.push_back(m);
  }
  auto location = [&](int field, int sub, int& x, int& y) {
    std::string_view xs;
    std::string_view ys;
    if (!item9(file, occ, field, sub, 1, xs) || !item9(file, occ, field, sub, 2, ys) ||
        !readInt(xs, x) || !readInt(ys, y)) {
      return false;
    }
    x += offX;
    y = heightHmm - y - offY;
    return true;
  };
  for (int i = 0; i < static_cast<int>(kMaxCoresOrDeltas); ++i) {
    if (i >= subfieldCount(file, 320, occ)) break;
    CorePoint c;
    if (!location(320, i, c.x, c.y)) continue;
    c.direction = intItem(file, occ, 320, i, 3, 0);
    c.uncertainty = intItem(file, occ, 320, i, 4, 0);
    fs.cores.push_back(c);
  }
  for (int i = 0; i < static_cast<int>(kMaxCoresOrDeltas); ++i) {
    if (i >= subfieldCount(file, 321, occ)) break;
    DeltaPoint d;
    if (!location(321, i, d.x, d.y)) continue;
    d.angle1 = intItem(file, occ, 321, i, 3, -1);
    d.angle2 = intItem(file, occ, 321, i, 4, -1);
    d.angle3 = intItem(file, occ, 321, i, 5, -1);
    d.uncertainty = intItem(file, occ, 321, i, 7, 0);
    fs.deltas.push_back(d);
  }
}

void parseLegacy(const NistFile& file, int occ, FeatureSet& fs) {
  if (!hasField(file, kType9, 10, occ)) return;
  const int n = subfieldCount(file, 12, occ);
  for (int i = 0; i < n; ++i) {
    std::string_view loc;
    MinutiaPoint m;
    if (!item9(file, occ, 12, i, 2, loc)) continue;
    // Thirteen characters carry five-digit coordinates; the usual eleven carry four.
    if (!scanLocation(loc, loc.size() == 13 ? 5 : 4, m.x, m.y, &m.theta)) continue;
    // The legacy block measures the angle from the other side; keep it within a full turn.
    m.theta = ((m.theta + 180) % 360 + 360) % 360;
    m.kind = kindFrom(file, occ, 12, i, 4, 'A');
    fs.minutiae.push_back(m);
  }
  const int cores = std::min<int>(kMaxCoresOrDeltas, subfieldCount(file, 8, occ));
  for (int i = 0; i < cores; ++i) {
    std::string_view loc;
    CorePoint c;
    if (!item9(file, occ, 8, i, 1, loc) || !scanLocation(loc, 4, c.x, c.y, nullptr)) continue;
    c.direction = -1;
    fs.cores.push_back(c);
  }
  const int deltas = std::min<int>(kMaxCoresOrDeltas, subfieldCount(file, 9, occ));
  for (int i = 0; i < deltas; ++i) {
    std::string_view loc;
    DeltaPoint d;
    if (!item9(file, occ, 9, i, 1, loc) || !scanLocation(loc, 4, d.x, d.y, nullptr)) continue;
    fs.deltas.push_back(d);
  }
}

// Source block: field range and the fields the conversion reads (no warning for those).
struct SourceBlock {
  std::string_view name;
  int first;
  int last;
  std::initializer_list<int> read;
  bool warn;
};

const SourceBlock* sourceBlock(std::string_view from) {
  static const SourceBlock kBlocks[] = {
      {"FBI IAFIS", 13, 30, {15, 21, 22, 23}, true},
      {"Extended", 300, 399, {300, 301, 302, 303, 307, 320, 321, 331}, true},
      {"Legacy", 5, 12, {}, false},
  };
  for (const SourceBlock& b : kBlocks) {
    if (b.name == from) return &b;
  }
  return nullptr;
}

std::string number(int v) {
  char buf[16];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

// Appends one subfield to a field text unless the text would pass the field limit.
bool appendSubfield(std::string& field, const std::string& sub) {
  const std::size_t extra = sub.size() + (field.empty() ? 0 : 1);
  if (field.size() + extra > kMaxFeatureFieldText) return false;
  if (!field.empty()) field += kRsChar;
  field += sub;
  return true;
}

std::string joinItems(std::initializer_list<std::string> items) {
  std::string out;
  for (const std::string& s : items) {
    if (!out.empty()) out += kUsChar;
    out += s;
  }
  return out;
}

// The fields of the INCITS 378 block for a feature set; field number and text, in order.
struct BlockField {
  int field;
  std::string text;
};

std::vector<BlockField> incitsFields(const FeatureGeometry& g, const FeatureSet& fs, int& written) {
  const double p = g.pitch;
  auto px = [&](int x) { return nearest(x / p); };
  auto py = [&](int y) { return g.height - nearest(y / p); };

  std::string minutiae;
  written = 0;
  for (const MinutiaPoint& m : fs.minutiae) {
    char index[16];
    (void)std::snprintf(index, sizeof index, "%03d", written + 1);
    const std::string sub = joinItems(
        {index, number(px(m.x)), number(py(m.y)), number(m.theta / 2), number(m.kind), "0"});
    if (!appendSubfield(minutiae, sub)) break;
    ++written;
  }
  std::string cores;
  for (const CorePoint& c : fs.cores) {
    (void)appendSubfield(cores,
                         joinItems({number(px(c.x)), number(py(c.y)), number(c.direction / 2)}));
  }
  std::string deltas;
  std::string deltaAngles;
  bool anySecondAngle = false;
  for (const DeltaPoint& d : fs.deltas) {
    (void)appendSubfield(deltas,
                         joinItems({number(px(d.x)), number(py(d.y)), number(d.angle1 / 2)}));
    if (d.angle2 == -1) {
      (void)appendSubfield(deltaAngles, joinItems({number(d.angle1 / 2), number(d.angle1 / 2)}));
    } else {
      anySecondAngle = true;
      (void)appendSubfield(deltaAngles, joinItems({number(d.angle2 / 2), number(d.angle3 / 2)}));
    }
  }

  std::vector<BlockField> out;
  out.push_back({4, "U"});
  out.push_back({126, joinItems({"27", "513", "0000"})});
  out.push_back({127, joinItems({"APPF", "0"})});
  out.push_back({128, number(g.width)});
  out.push_back({129, number(g.height)});
  out.push_back({130, "2"});
  out.push_back({131, "197"});
  out.push_back({132, "197"});
  out.push_back({133, "0"});
  out.push_back({134, number(g.fingerPosition)});
  out.push_back({135, "99"});
  // Empty texts mark fields that are not written; an existing field of that number stays.
  out.push_back({136, written > 0 ? number(written) : std::string()});
  out.push_back({137, minutiae});
  out.push_back({139, cores});
  out.push_back({140, deltas});
  out.push_back({141, anySecondAngle ? deltaAngles : std::string()});
  return out;
}

int convertRecord(NistFile& file, int occ, const SourceBlock& block,
                  std::vector<std::string>& warnings, std::vector<FeatureConversion>* done) {
  FeatureGeometry g;
  if (findFeatureGeometry(file, occ, g) != 1) return 0;
  FeatureSet fs;
  if (int rc = parseFeatureBlock(file, occ, block.name, g.heightHmm, fs); rc < 0) return rc;

  int written = 0;
  const std::vector<BlockField> fields = incitsFields(g, fs, written);

  for (int f = block.first; f <= block.last; ++f) {
    if (!hasField(file, kType9, f, occ)) continue;
    const bool read = std::find(block.read.begin(), block.read.end(), f) != block.read.end();
    if (block.warn && !read) {
      char text[96];
      (void)std::snprintf(text, sizeof text,
                          "Field %d.%03d is not yet supported by feature set conversion", kType9,
                          f);
      warnings.emplace_back(text);
    }
    (void)file.deleteFieldAt(kType9, f, occ);
  }
  for (const BlockField& bf : fields) {
    if (!bf.text.empty()) (void)file.setFieldAt(kType9, bf.field, bf.text, occ);
  }
  if (done != nullptr) {
    done->push_back(FeatureConversion{occ, written, static_cast<int>(fs.cores.size()),
                                      static_cast<int>(fs.deltas.size())});
  }
  return 0;
}

}  // namespace

int featureBlockFromName(std::string_view name) noexcept {
  struct Entry {
    std::string_view name;
    int block;
  };
  static constexpr Entry kNames[] = {
      {"FBI IAFIS", 1}, {"Extended", 8}, {"Legacy", 4},   {"Cogent", 0},
      {"NEC", 7},       {"Morpho", 5},   {"Motorola", 6}, {"Identix", 2},
  };
  for (const Entry& e : kNames) {
    if (e.name == name) return e.block;
  }
  return kNoFeatureBlock;
}

int deleteFeatureSet(NistFile& file, std::string_view blockName) noexcept {
  const int block = featureBlockFromName(blockName);
  if (block < 0) return 0;
  const int n = file.countRecords(kType9);
  for (int occ = 0; occ < n; ++occ) (void)file.deleteFeatureBlock(block, occ);
  return n;
}

int findFeatureGeometry(const NistFile& file, int occurrence, FeatureGeometry& out) noexcept {
  std::string_view idcText;
  int idc = 0;
  if (file.getFieldText(kType9, 2, idcText, occurrence) < 0 || !readInt(idcText, idc)) return 0;

  int foundType = 0;
  int foundIndex = -1;
  for (int type : kImageTypes) {
    const int n = file.countRecords(type);
    for (int i = 0; i < n; ++i) {
      std::string_view text;
      int v = 0;
      if (file.getFieldText(type, 2, text, i) >= 0 && readInt(text, v) && v == idc) {
        foundType = type;
        foundIndex = i;
        break;
      }
    }
  }
  if (foundIndex < 0) return 0;

  FeatureGeometry g;
  g.imageType = foundType;
  g.imageIndex = foundIndex;
  std::string_view text;
  if (file.getFieldText(foundType, 6, text, foundIndex) >= 0) (void)readInt(text, g.width);
  if (file.getFieldText(foundType, 7, text, foundIndex) >= 0) (void)readInt(text, g.height);
  // Binary fingerprint records (Types 4 to 6) carry the finger position in field 4.
  const int fgpField = (foundType >= 4 && foundType <= 6) ? 4 : 13;
  if (file.getFieldText(foundType, fgpField, text, foundIndex) >= 0) {
    (void)readInt(text, g.fingerPosition);
  }

  g.ppi = 500;
  if (foundType >= 4 && foundType <= 8) {
    if (file.getFieldText(1, 11, text) >= 0) {
      float ppmm = 19.69f;
      if (!readFloat(text, ppmm)) ppmm = 19.69f;
      if (ppmm != 0.0f) g.ppi = nearest(static_cast<double>(ppmm) * 25.4);
    }
  } else {
    std::string_view scaleText;
    std::string_view unitsText;
    int scale = 0;
    int units = 0;
    if (file.getFieldText(foundType, 9, scaleText, foundIndex) >= 0 &&
        file.getFieldText(foundType, 8, unitsText, foundIndex) >= 0 && readInt(scaleText, scale) &&
        readInt(unitsText, units)) {
      // Pixels per centimetre become pixels per inch; a scale beyond what an int holds is no
      // resolution (read at 500 ppi below) rather than an overflowing conversion.
      const double ppi = units == 2 ? scale * 2.5380710659898478 : scale;
      g.ppi = ppi > 0.0 && ppi < static_cast<double>(INT_MAX) ? static_cast<int>(ppi) : 0;
    }
  }
  // A resolution of zero or below would divide by zero; such a record is read at 500 ppi.
  if (g.ppi <= 0) g.ppi = 500;
  g.pitch = static_cast<float>(500.0 / (g.ppi * 19.69) * 100.0);
  g.heightHmm = nearest(static_cast<double>(g.height) * static_cast<double>(g.pitch));
  out = g;
  return 1;
}

int parseFeatureBlock(const NistFile& file, int occurrence, std::string_view from, int heightHmm,
                      FeatureSet& out) noexcept {
  try {
    FeatureSet fs;
    if (from == "FBI IAFIS") {
      parseFbiIafis(file, occurrence, heightHmm, fs);
    } else if (from == "Extended") {
      parseExtended(file, occurrence, heightHmm, fs);
    } else if (from == "Legacy") {
      parseLegacy(file, occurrence, fs);
    } else {
      out = FeatureSet{};
      return kFeatureFormatUnknown;
    }
    out = std::move(fs);
    return 0;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

int convertFeatureSet(NistFile& file, std::string_view from, std::vector<std::string>& warnings,
                      std::vector<FeatureConversion>* done) noexcept {
  const SourceBlock* block = sourceBlock(from);
  if (block == nullptr) return kFeatureFormatUnknown;
  try {
    for (int occ = 0; occ < file.countRecords(kType9); ++occ) {
      if (int rc = convertRecord(file, occ, *block, warnings, done); rc < 0) return rc;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

namespace detail {

void deleteFeatureSetAction(ActionContext& ctx) { (void)deleteFeatureSet(ctx.file, ctx.params[0]); }

void convertFeatureSetAction(ActionContext& ctx) {
  std::vector<std::string> warnings;
  (void)convertFeatureSet(ctx.file, ctx.params[0], warnings);
  for (std::string& w : warnings) ctx.warn(std::move(w), false);
}

}  // namespace detail

}  // namespace varnel::rules
