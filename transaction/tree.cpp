#include "transaction/tree.h"

#include <charconv>
#include <cstdio>

#include "transaction/status.h"

namespace varnel::transaction {

bool isTaggedType(int type) noexcept {
  return type == 1 || type == 2 || (type >= 9 && type <= 22) || type == 98 || type == 99;
}

bool isBinaryType(int type) noexcept { return type >= 3 && type <= 8; }

bool isTaggedImageType(int type) noexcept {
  return type == 10 || (type >= 13 && type <= 17) || (type >= 19 && type <= 22) || type == 99;
}

bool isImageType(int type) noexcept { return isBinaryType(type) || isTaggedImageType(type); }

bool isImageDataField(int type, int field) noexcept {
  return (type >= 3 && type <= 7 && field == 9) || (type == 8 && field == 8) ||
         (isTaggedImageType(type) && field == 999);
}

int imageDataFieldNumber(const Record& record) noexcept {
  if (record.type == 7 && findField(record, 10) != nullptr) return 10;
  if (record.type >= 3 && record.type <= 7) return 9;
  if (record.type == 8) return 8;
  if (isTaggedImageType(record.type)) return 999;
  return 0;
}

int formatTag(int type, int field, std::string& out) {
  char buf[48];
  const int n = std::snprintf(buf, sizeof buf, "%d.%03d:", type, field);
  if (n < 0 || static_cast<std::size_t>(n) > kMaxTagLength) return kTagTooLong;
  out.assign(buf, static_cast<std::size_t>(n));
  return kOk;
}

Record makeTaggedRecord(int type) {
  Record r;
  r.type = type;
  r.hasFs = true;
  r.byteTotal = 1;
  return r;
}

Record makeBinaryRecord(int type) {
  Record r;
  r.type = type;
  return r;
}

Field makeBinaryField(int type, int field, std::string_view text, int width) {
  Field f;
  f.recordType = type;
  f.fieldNumber = field;
  Subfield sf;
  Item item;
  item.value.assign(text);
  item.byteCount = width;
  appendItem(sf, std::move(item));
  appendSubfield(f, std::move(sf));
  return f;
}

Item makeTextItem(std::string_view text) {
  Item item;
  item.value.assign(text);
  item.byteCount = item.charCount();
  return item;
}

int makeTextField(int type, int field, std::string_view text, Field& out) {
  Field f;
  if (int rc = formatTag(type, field, f.tag); rc < 0) return rc;
  f.recordType = type;
  f.fieldNumber = field;
  Subfield sf;
  appendItem(sf, makeTextItem(text));
  f.byteTotal = static_cast<std::int32_t>(f.tag.size());
  appendSubfield(f, std::move(sf));
  out = std::move(f);
  return kOk;
}

std::int32_t appendItem(Subfield& subfield, Item item) {
  std::int32_t growth = item.byteCount;
  if (!subfield.items.empty()) {
    Item& prev = subfield.items.back();
    if (!prev.hasUs) {
      prev.hasUs = true;
      prev.byteCount += 1;
      growth += 1;
    }
  }
  item.hasUs = false;
  subfield.items.push_back(std::move(item));
  subfield.byteTotal += growth;
  return growth;
}

std::int32_t appendSubfield(Field& field, Subfield subfield) {
  if (subfield.hasRs) {
    subfield.hasRs = false;
    subfield.byteTotal -= 1;
  }
  std::int32_t growth = subfield.byteTotal;
  if (!field.subfields.empty()) {
    Subfield& prev = field.subfields.back();
    if (!prev.hasRs) {
      prev.hasRs = true;
      prev.byteTotal += 1;
      growth += 1;
    }
  }
  field.subfields.push_back(std::move(subfield));
  field.byteTotal += growth;
  return growth;
}

namespace {
// Gives a field its GS (or takes it away), keeping its total right; returns the change.
std::int32_t setGs(Field& f, bool on) {
  if (f.hasGs == on) return 0;
  f.hasGs = on;
  const std::int32_t d = on ? 1 : -1;
  f.byteTotal += d;
  return d;
}
}  // namespace

std::int32_t appendField(Record& record, Field field) {
  // Only tagged records (those ending with an FS) separate their fields with GS.
  std::int32_t growth = 0;
  setGs(field, false);
  growth += field.byteTotal;
  if (!record.fields.empty() && record.hasFs) growth += setGs(record.fields.back(), true);
  record.fields.push_back(std::move(field));
  record.byteTotal += growth;
  return growth;
}

int insertFieldOrdered(Record& record, Field field, std::int32_t& growth) {
  growth = 0;
  std::size_t pos = record.fields.size();
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    if (record.fields[i].fieldNumber == field.fieldNumber) return kFieldExists;
    if (record.fields[i].fieldNumber > field.fieldNumber) {
      pos = i;
      break;
    }
  }
  // Image data runs to the end of its record when read back, so nothing may follow it: a field
  // numbered above it goes in front of it.
  if (pos == record.fields.size() && record.hasFs && !record.fields.empty() &&
      isImageDataField(record.type, record.fields.back().fieldNumber)) {
    pos = record.fields.size() - 1;
  }
  if (pos == record.fields.size()) {
    growth = appendField(record, std::move(field));
    return kOk;
  }
  // Not the last field: in a tagged record it is followed by a GS.
  setGs(field, record.hasFs);
  growth = field.byteTotal;
  record.fields.insert(record.fields.begin() + static_cast<std::ptrdiff_t>(pos), std::move(field));
  record.byteTotal += growth;
  return kOk;
}

int findFieldIndex(const Record& record, int fieldNumber) noexcept {
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    if (record.fields[i].fieldNumber == fieldNumber) return static_cast<int>(i);
  }
  return -1;
}

const Field* findField(const Record& record, int fieldNumber) noexcept {
  const int i = findFieldIndex(record, fieldNumber);
  return i < 0 ? nullptr : &record.fields[static_cast<std::size_t>(i)];
}

Field* findField(Record& record, int fieldNumber) noexcept {
  const int i = findFieldIndex(record, fieldNumber);
  return i < 0 ? nullptr : &record.fields[static_cast<std::size_t>(i)];
}

int updateRecordLength(Record& record, std::int32_t& growth) {
  growth = 0;
  Field* len = findField(record, 1);
  if (len == nullptr) return kOk;
  if (len->subfields.size() != 1 || len->subfields[0].items.size() != 1) return kBadLengthField;
  Subfield& sf = len->subfields[0];
  Item& item = sf.items[0];
  if (!record.hasFs) {
    // Binary record: a fixed 4-byte value.
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, record.byteTotal);
    (void)ec;
    item.value.assign(buf, end);
    return kOk;
  }
  for (int guard = 0; guard < 16; ++guard) {
    std::uint64_t current = 0;
    if (parseUnsigned(item.value, current) &&
        current == static_cast<std::uint64_t>(record.byteTotal))
      break;
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, record.byteTotal);
    (void)ec;
    const auto oldLen = item.charCount();
    item.value.assign(buf, end);
    const std::int32_t d = item.charCount() - oldLen;
    item.byteCount += d;
    sf.byteTotal += d;
    len->byteTotal += d;
    record.byteTotal += d;
    growth += d;
  }
  return kOk;
}

int updateRecordLength(Transaction& tx, Record& record) {
  std::int32_t growth = 0;
  const int rc = updateRecordLength(record, growth);
  tx.byteTotal += growth;
  return rc;
}

std::int64_t computeRecordBytes(const Record& record) noexcept {
  std::int64_t total = 0;
  for (const Field& f : record.fields) {
    std::int64_t ft = static_cast<std::int64_t>(f.tag.size());
    for (const Subfield& s : f.subfields) {
      std::int64_t st = 0;
      for (const Item& it : s.items) st += it.byteCount;
      ft += st + (s.hasRs ? 1 : 0);
    }
    total += ft + (f.hasGs ? 1 : 0);
  }
  return total + (record.hasFs ? 1 : 0);
}

bool fitsBinaryWidth(std::string_view text, int width) noexcept {
  std::uint64_t v = 0;
  if (!parseUnsigned(text, v)) return false;
  switch (width) {
    case 1:
      return v <= 0xFF;
    case 2:
      return v <= 0xFFFF;
    case 4:
      return v <= 0xFFFFFFFFu;
    default:
      return false;
  }
}

bool parseUnsigned(std::string_view text, std::uint64_t& out) noexcept {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  out = v;
  return true;
}

long long parseLeadingInt(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool neg = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    neg = text[i] == '-';
    ++i;
  }
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (v > 100000000000000LL) break;
    v = v * 10 + (text[i] - '0');
  }
  return neg ? -v : v;
}

}  // namespace varnel::transaction
