#pragma once

// Builds traditional-encoding transactions byte by byte, independently of the transaction
// library: the one builder of the sample generator, the tests, the benchmarks and the fuzzers.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnel::samples {

/// Separators of the traditional encoding.
inline constexpr char kFsChar = '\x1C';
inline constexpr char kGsChar = '\x1D';
inline constexpr char kRsChar = '\x1E';
inline constexpr char kUsChar = '\x1F';

/// A transaction under construction: a Type-1 record (CNT and LEN computed) and further records.
/// The Type-1 record is the sample header (date, agencies, TCN, resolutions; see type1Field)
/// unless type1() asks for the minimal one. Records added by the typed helpers (type2, type4,
/// type9, type10, type14, record) get IDCs numbered from 1; records added as they are (tagged,
/// binary, raw) carry whatever IDC their bytes hold and are listed in CNT by their position
/// counted from 0.
class TxBuilder {
 public:
  /// Tagged fields in the order written: number and raw value text (may hold RS and US).
  using Fields = std::vector<std::pair<int, std::string>>;

  TxBuilder() {
    type1_ = {{2, "0400"},      {4, "TEST"},    {5, "20240101"}, {7, "DAI000000"},
              {8, "ORI000000"}, {9, "TCN0001"}, {11, "19.69"},   {12, "19.69"}};
  }

  /// Sets (or with an empty value removes) a Type-1 field other than LEN and CNT.
  TxBuilder& type1Field(int number, std::string value) {
    if (value.empty()) {
      type1_.erase(number);
    } else {
      type1_[number] = std::move(value);
    }
    return *this;
  }

  /// Uses the minimal Type-1 record: 1.002 "0400", CNT, 1.004 "TST", then `extra` as given.
  TxBuilder& type1(Fields extra = {}) {
    minimalType1_ = true;
    type1Extra_ = std::move(extra);
    return *this;
  }

  /// Appends a tagged record of `type` with LEN, IDC (next number) and the given fields in field
  /// order. Values may hold RS and US. Field 999 (image data) is written raw.
  TxBuilder& record(int type, std::map<int, std::string> fields) {
    const int idc = nextIdc_++;
    char idcText[16];
    (void)std::snprintf(idcText, sizeof idcText, "%02d", idc);
    fields[2] = idcText;
    fields.erase(1);
    records_.push_back(
        Rec{type, idcText, taggedRecord(type, Fields(fields.begin(), fields.end()))});
    return *this;
  }

  /// Appends a tagged record of `type` with LEN and exactly the given fields, in their order.
  TxBuilder& tagged(int type, const Fields& fields) {
    records_.push_back(Rec{type, "", taggedRecord(type, fields)});
    return *this;
  }

  /// Appends a binary record in the standard 18-byte layout (Type 8: 12-byte) around `data`.
  TxBuilder& binary(int type, int idc, const std::string& data, int hll = 0, int vll = 0) {
    std::string r;
    const int header = type == 8 ? 12 : 18;
    appendBigEndian(r, static_cast<std::uint32_t>(data.size() + header), 4);
    r.push_back(static_cast<char>(idc));
    if (type == 8) {
      r.push_back('\x01');  // SIG
      r.push_back('\x00');  // SRT
      r.push_back('\x01');  // ISR
    } else {
      r.push_back('\x01');  // IMP
      r += std::string("\x01\xFF\xFF\xFF\xFF\xFF", 6);
      r.push_back('\x01');  // ISR
    }
    appendBigEndian(r, static_cast<std::uint32_t>(hll), 2);
    appendBigEndian(r, static_cast<std::uint32_t>(vll), 2);
    if (type != 8) r.push_back('\x00');  // GCA
    r += data;
    records_.push_back(Rec{type, "", std::move(r)});
    return *this;
  }

  /// Appends raw record bytes with a CNT entry of `type` (for malformed records).
  TxBuilder& raw(int type, std::string bytes) {
    records_.push_back(Rec{type, "", std::move(bytes)});
    return *this;
  }

  /// Appends a Type-2 record with `extra` fields numbered 3.. holding short texts, plus `fields`.
  TxBuilder& type2(int extra = 0, std::map<int, std::string> fields = {}) {
    for (int i = 0; i < extra; ++i) {
      fields.emplace(3 + i, "VALUE" + std::to_string(i));
    }
    return record(2, std::move(fields));
  }

  /// Appends a binary Type-4 record (8-bit grey, 500 ppi) with finger position `fgp`.
  TxBuilder& type4(int fgp, int width, int height, const std::string& data, int gca = 0) {
    const int idc = nextIdc_++;
    std::string r;
    const std::uint32_t len = static_cast<std::uint32_t>(18 + data.size());
    r.push_back(static_cast<char>(len >> 24));
    r.push_back(static_cast<char>(len >> 16));
    r.push_back(static_cast<char>(len >> 8));
    r.push_back(static_cast<char>(len));
    r.push_back(static_cast<char>(idc));
    r.push_back(static_cast<char>(1));  // IMP: live-scan rolled
    r.push_back(static_cast<char>(fgp));
    for (int i = 0; i < 5; ++i) r.push_back(static_cast<char>(255));
    r.push_back(static_cast<char>(0));  // ISR: scanning resolution
    r.push_back(static_cast<char>(width >> 8));
    r.push_back(static_cast<char>(width));
    r.push_back(static_cast<char>(height >> 8));
    r.push_back(static_cast<char>(height));
    r.push_back(static_cast<char>(gca));
    r += data;
    char idcText[16];
    (void)std::snprintf(idcText, sizeof idcText, "%02d", idc);
    records_.push_back(Rec{4, idcText, std::move(r)});
    return *this;
  }

  /// Appends a Type-14 record holding an uncompressed 8-bit image.
  TxBuilder& type14(int fgp, int width, int height, std::string data,
                    std::map<int, std::string> fields = {}) {
    fields.emplace(3, "0");
    fields.emplace(4, "SRC00001");
    fields.emplace(5, "20240101");
    fields.emplace(6, std::to_string(width));
    fields.emplace(7, std::to_string(height));
    fields.emplace(8, "1");
    fields.emplace(9, "500");
    fields.emplace(10, "500");
    fields.emplace(11, "NONE");
    fields.emplace(12, "8");
    fields.emplace(13, std::to_string(fgp));
    fields[999] = std::move(data);
    return record(14, std::move(fields));
  }

  /// Appends a Type-9 record with `minutiae` legacy minutiae.
  TxBuilder& type9(int fgp, int minutiae) {
    std::string list;
    for (int i = 0; i < minutiae; ++i) {
      if (i > 0) list.push_back(kRsChar);
      char m[48];
      (void)std::snprintf(m, sizeof m, "%03d%c%04d%04d%03d%c60%cA", i + 1, kUsChar, 100 + i * 7,
                          200 + i * 5, (i * 37) % 360, kUsChar, kUsChar);
      list += m;
    }
    return record(9, {{3, "0"},
                      {4, "S"},
                      {5, "U"},
                      {6, std::to_string(fgp)},
                      {7, "U"},
                      {10, std::to_string(minutiae)},
                      {11, "0"},
                      {12, list}});
  }

  /// Appends a Type-10 face record holding `data` as its image.
  TxBuilder& type10(int width, int height, std::string data) {
    return record(10, {{3, "FACE"},
                       {4, "SRC00001"},
                       {5, "20240101"},
                       {6, std::to_string(width)},
                       {7, std::to_string(height)},
                       {8, "1"},
                       {9, "500"},
                       {10, "500"},
                       {11, "NONE"},
                       {12, "GRAY"},
                       {20, "F"},
                       {999, std::move(data)}});
  }

  /// The whole transaction.
  [[nodiscard]] std::string bytes() const {
    std::string cnt = "1";
    cnt.push_back(kUsChar);
    cnt += std::to_string(records_.size());
    for (std::size_t i = 0; i < records_.size(); ++i) {
      const Rec& r = records_[i];
      cnt.push_back(kRsChar);
      cnt += std::to_string(r.type);
      cnt.push_back(kUsChar);
      if (r.idc.empty()) {
        char position[24];
        (void)std::snprintf(position, sizeof position, "%02zu", i);
        cnt += position;
      } else {
        cnt += r.idc;
      }
    }
    std::string out;
    if (minimalType1_) {
      Fields f1 = {{2, "0400"}, {3, cnt}, {4, "TST"}};
      f1.insert(f1.end(), type1Extra_.begin(), type1Extra_.end());
      out = taggedRecord(1, f1);
    } else {
      std::map<int, std::string> f1 = type1_;
      f1[3] = cnt;
      out = taggedRecord(1, Fields(f1.begin(), f1.end()));
    }
    for (const auto& r : records_) out += r.bytes;
    return out;
  }

  /// Pixels of a synthetic grey image: a pattern with ridge-like stripes.
  [[nodiscard]] static std::string greyImage(int width, int height, int seed = 0) {
    std::string px(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), '\0');
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const int v = ((x * 3 + y * 5 + seed * 11) / 4 % 16 < 8) ? 60 : 200;
        px[static_cast<std::size_t>(y) * width + x] = static_cast<char>(v + (x ^ y ^ seed) % 16);
      }
    }
    return px;
  }

  /// A tagged record's bytes for `type` and its fields (without LEN), with LEN computed; LEN
  /// counts itself, so its digits are settled by repetition.
  [[nodiscard]] static std::string taggedRecord(int type, const Fields& fields) {
    std::string rest;
    for (const auto& [number, value] : fields) {
      rest.push_back(kGsChar);
      rest += tag(type, number);
      rest += value;
    }
    rest.push_back(kFsChar);
    const std::string lenTag = tag(type, 1);
    std::size_t total = lenTag.size() + 1 + rest.size();
    while (true) {
      const std::size_t next = lenTag.size() + std::to_string(total).size() + rest.size();
      if (next == total) break;
      total = next;
    }
    return lenTag + std::to_string(total) + rest;
  }

 private:
  struct Rec {
    int type;
    std::string idc;  // empty: listed by position
    std::string bytes;
  };

  static std::string tag(int type, int field) {
    char t[32];
    (void)std::snprintf(t, sizeof t, "%d.%03d:", type, field);
    return t;
  }

  static void appendBigEndian(std::string& out, std::uint32_t v, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i)));
  }

  std::map<int, std::string> type1_;
  bool minimalType1_ = false;
  Fields type1Extra_;
  std::vector<Rec> records_;
  int nextIdc_ = 1;
};

}  // namespace varnel::samples
