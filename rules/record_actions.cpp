// Record-level actions: deleting records, image hashes, Type 4/14 conversions, the CJIS profile
// and the fix of image dimensions.
#include "rules/detail/record_actions.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "rules/engine.h"
#include "transaction/sha256.h"
#include "transaction/tree.h"

namespace varnel::rules {

using transaction::NistFile;

namespace {

constexpr int kFirstType = 3;
constexpr int kLastType = 99;
constexpr char kRs = '\x1E';
// Length of one MNU piece.
constexpr std::size_t kMnuPiece = 12;

const transaction::Record* recordOf(const NistFile& file, int type, int index) {
  const int pos = file.findRecord(type, index);
  if (pos < 0 || file.transaction() == nullptr) return nullptr;
  return &file.transaction()->records[static_cast<std::size_t>(pos)];
}

std::string fieldAddress(int type, int field) {
  char buf[32];
  (void)std::snprintf(buf, sizeof buf, "%d.%03d", type, field);
  return buf;
}

// Finger position of the Type-7 record that "Convert To CJIS" makes from a Type-15 record, or
// 0 when the palm position is not carried over.
int cjisFingerPosition(long long palm) {
  switch (palm) {
    case 22:
    case 24:
      return static_cast<int>(palm);
    case 25:
      return 21;
    case 27:
      return 23;
    default:
      return 0;
  }
}

// "%T.F" reference text: type and field, both decimal, nothing else.
bool parseReference(std::string_view ref, int& type, int& field) {
  const std::size_t dot = ref.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 >= ref.size()) return false;
  int parts[2] = {0, 0};
  const std::string_view texts[2] = {ref.substr(0, dot), ref.substr(dot + 1)};
  for (int k = 0; k < 2; ++k) {
    if (texts[k].size() > 4) return false;
    for (char c : texts[k]) {
      if (c < '0' || c > '9') return false;
      parts[k] = parts[k] * 10 + (c - '0');
    }
  }
  type = parts[0];
  field = parts[1];
  return true;
}

}  // namespace

bool cjisMnuValue(const NistFile& file, std::string_view parameter, std::string& out) {
  parameter = parameter.substr(0, kMaxMnuParameter);
  std::string text;
  std::size_t pos = 0;
  while (pos < parameter.size() && text.size() <= kMaxExpansion) {
    const std::size_t open = parameter.find('%', pos);
    if (open == std::string_view::npos) {
      text.append(parameter.substr(pos));
      break;
    }
    text.append(parameter.substr(pos, open - pos));
    const std::size_t close = parameter.find('%', open + 1);
    if (close == std::string_view::npos) break;  // unpaired: the rest is dropped
    int type = 0, field = 0;
    std::string_view value;
    if (parseReference(parameter.substr(open + 1, close - open - 1), type, field) &&
        file.getFieldText(type, field, value) == 0) {
      text.append(value);
    }
    pos = close + 1;
  }
  if (text.size() > kMaxMnuText) return false;
  std::string value;
  for (std::size_t at = 0; at < text.size(); at += kMnuPiece) {
    if (at > 0) value += kRs;
    value += "I1~";
    value.append(text, at, kMnuPiece);
  }
  out = std::move(value);
  return true;
}

namespace detail {

void deleteAllRecords(ActionContext& ctx) {
  for (int t = kFirstType; t <= kLastType; ++t) {
    for (int i = ctx.file.countRecords(t) - 1; i >= 0; --i) (void)ctx.file.deleteRecord(t, i);
  }
}

void deleteRecordsOfType(ActionContext& ctx) {
  const long long t = transaction::parseLeadingInt(ctx.params[0]);
  if (t < 1 || t > kLastType) return;
  const int type = static_cast<int>(t);
  for (int i = ctx.file.countRecords(type) - 1; i >= 0; --i) {
    if (ctx.conditionsHold(RecordContext{type, i})) (void)ctx.file.deleteRecord(type, i);
  }
}

void addHash(ActionContext& ctx) {
  for (int t = kFirstType; t <= kLastType; ++t) {
    for (int i = ctx.file.countRecords(t) - 1; i >= 0; --i) {
      if (!ctx.conditionsHold(RecordContext{t, i})) continue;
      const transaction::Record* rec = recordOf(ctx.file, t, i);
      if (rec == nullptr) continue;
      const transaction::Field* data = transaction::findField(*rec, 999);
      if (data == nullptr || data->subfields.empty() || data->subfields[0].items.empty()) continue;
      const std::string& bytes = data->subfields[0].items[0].value;
      std::string hex;
      if (!transaction::sha256Hex(bytes, hex)) continue;
      (void)ctx.file.setFieldAt(t, 996, hex, i);
    }
  }
}

void convertType4To14(ActionContext& ctx) {
  const int rc = imaging::convertType4ToType14(ctx.file);
  if (rc == imaging::kT4NoOri) {
    ctx.warn("Type 4 records could not be converted, a mandatory field " + fieldAddress(1, 8) +
             " (ORI) is missing");
  } else if (rc == imaging::kT4NoDate) {
    ctx.warn("Type 4 records could not be converted, a mandatory field " + fieldAddress(1, 5) +
             " (DAT) is missing");
  }
}

void convertType14To4(ActionContext& ctx) {
  std::vector<imaging::UnfitValue> unfit;
  (void)imaging::convertType14ToType4(ctx.file, &unfit);
  for (const auto& u : unfit) {
    char text[64];
    (void)std::snprintf(text, sizeof text, "Type-%d record %d", u.type, u.occurrence + 1);
    ctx.refuse(std::string(text) + " was not converted to Type 4: field " +
               fieldAddress(u.type, u.field) + " value \"" + u.text.substr(0, 40) +
               "\" does not fit its " + std::to_string(u.width) + "-byte binary field");
  }
}

void convertToCjis(ActionContext& ctx) {
  NistFile& f = ctx.file;
  (void)f.setField(1, 4, "CNA");
  (void)f.setField(1, 7, "IDENT1");
  (void)f.deleteField(1, 13);
  (void)f.setField(2, 73, std::string("UKDEFENCE") + kRs + ' ' + kRs + ' ');
  (void)removeCharacters(f, 1, 9, 0, "-");
  for (int i = f.countRecords(15) - 1; i >= 0; --i) {
    std::string_view fgp;
    const long long palm =
        f.getFieldText(15, 13, fgp, i) == 0 ? transaction::parseLeadingInt(fgp) : 0;
    const int finger = cjisFingerPosition(palm);
    const transaction::Record* rec = recordOf(f, 15, i);
    const transaction::Field* data = rec ? transaction::findField(*rec, 999) : nullptr;
    if (finger != 0 && data != nullptr && !data->subfields.empty() &&
        !data->subfields[0].items.empty()) {
      // A copy: appending a record may move the tree's buffers.
      const std::string& v = data->subfields[0].items[0].value;
      const std::vector<std::uint8_t> image(v.begin(), v.end());
      (void)imaging::addImageRecord(f, image, finger, 10);
    }
    (void)f.deleteRecord(15, i);
  }
}

void setCjisMnu(ActionContext& ctx) {
  std::string value;
  if (!cjisMnuValue(ctx.file, ctx.params[0], value)) return;
  (void)ctx.file.setField(2, 17, value);
}

void autoFix(ActionContext& ctx) {
  if (ctx.params[0] != "Conflicting Image Dimensions") return;
  for (int t = kFirstType; t <= kLastType; ++t) {
    if (t == 7 || t == 9 || t == 11 || t == 12 || t == 18 || t == 21 || t == 22) continue;
    const int dataField = t == 4 ? 9 : (t == 8 ? 8 : 999);
    const int count = ctx.file.countRecords(t);
    for (int i = 0; i < count; ++i) {
      const transaction::Record* rec = recordOf(ctx.file, t, i);
      if (rec == nullptr || transaction::findField(*rec, dataField) == nullptr) continue;
      int w = 0, h = 0, depth = 0;
      if (imaging::getImageInfo(ctx.file, t, i, w, h, depth) < 0) continue;
      std::string_view hll, vll;
      (void)ctx.file.getFieldText(t, 6, hll, i);
      (void)ctx.file.getFieldText(t, 7, vll, i);
      const std::string width = std::to_string(w);
      const std::string height = std::to_string(h);
      if (width != hll || height != vll) {
        (void)ctx.file.setFieldAt(t, 6, width, i);
        (void)ctx.file.setFieldAt(t, 7, height, i);
      }
    }
  }
}

}  // namespace detail
}  // namespace varnel::rules
