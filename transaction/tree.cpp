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

namespace {

using detail::carryTotals;
// Every total on the path grows by `d`.
void carry(const TreePath& at, std::int32_t d) noexcept { carryTotals(at, d); }

// Gives a member its separator (or takes it away), keeping its own total; returns the change.
std::int32_t toggleSeparator(bool& has, std::int32_t& total, bool on) noexcept {
  if (has == on) return 0;
  has = on;
  const std::int32_t d = on ? 1 : -1;
  total += d;
  return d;
}
std::int32_t setSeparator(Item& n, bool on) noexcept {
  return toggleSeparator(n.hasUs, n.byteCount, on);
}
std::int32_t setSeparator(Subfield& n, bool on) noexcept {
  return toggleSeparator(n.hasRs, n.byteTotal, on);
}
std::int32_t setSeparator(Field& n, bool on) noexcept {
  return toggleSeparator(n.hasGs, n.byteTotal, on);
}

std::int32_t bytesOf(const Item& n) noexcept { return n.byteCount; }
std::int32_t bytesOf(const Subfield& n) noexcept { return n.byteTotal; }
std::int32_t bytesOf(const Field& n) noexcept { return n.byteTotal; }

// The one insertion for every level: members but the last carry their separator (when the list
// separates at all), and the growth goes up the path.
template <class List, class Member>
std::int32_t insertMember(const TreePath& at, List& list, std::size_t index, Member member,
                          bool separated) {
  if (index > list.size()) index = list.size();
  // The member's own separator is part of its bytes; the previous member's new one is extra.
  std::int32_t growth = 0;
  if (index == list.size()) {
    setSeparator(member, false);
    if (!list.empty() && separated) growth += setSeparator(list.back(), true);
  } else {
    setSeparator(member, separated);
  }
  growth += bytesOf(member);
  if (index == list.size()) {
    list.push_back(std::move(member));
  } else {
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), std::move(member));
  }
  carry(at, growth);
  return growth;
}

template <class List>
std::int32_t removeMember(const TreePath& at, List& list, std::size_t index) {
  if (index >= list.size()) return 0;
  std::int32_t growth = -bytesOf(list[index]);
  const bool wasLast = index + 1 == list.size();
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
  if (wasLast && !list.empty()) growth += setSeparator(list.back(), false);
  carry(at, growth);
  return growth;
}

}  // namespace

Field makeBinaryField(int type, int field, std::string_view text, int width) {
  Field f;
  f.recordType = type;
  f.fieldNumber = field;
  Subfield& sf = appendEmptySubfield({nullptr, nullptr, &f, nullptr});
  Item item;
  item.value.assign(text);
  item.byteCount = width;
  appendItem({nullptr, nullptr, &f, &sf}, std::move(item));
  return f;
}

Field makeBinaryField(int type, int field, std::span<const std::string> texts, int width) {
  Field f;
  f.recordType = type;
  f.fieldNumber = field;
  Subfield& sf = appendEmptySubfield({nullptr, nullptr, &f, nullptr});
  // Binary values are not separated: each item counts its width only.
  sf.items.reserve(texts.size());
  for (const std::string& text : texts) {
    Item item;
    item.value = text;
    item.byteCount = width;
    sf.items.push_back(std::move(item));
    carry({nullptr, nullptr, &f, &sf}, width);
  }
  return f;
}

int makeDataField(int type, int field, std::string bytes, bool tagged, Field& out) {
  Field f;
  if (tagged) {
    if (int rc = formatTag(type, field, f.tag); rc < 0) return rc;
    f.byteTotal = static_cast<std::int32_t>(f.tag.size());
  }
  f.recordType = type;
  f.fieldNumber = field;
  Subfield& sf = appendEmptySubfield({nullptr, nullptr, &f, nullptr});
  appendItem({nullptr, nullptr, &f, &sf}, makeDataItem(std::move(bytes)));
  out = std::move(f);
  return kOk;
}

int makeBinaryImageRecord(int type, const BinaryImageValues& v, std::string data, Record& out) {
  constexpr std::size_t kHeader = 18;
  if (data.size() > 0x7FFFFFFFu - kHeader) return kDataTooLong;
  Record r = makeBinaryRecord(type);
  const auto len = static_cast<std::int32_t>(data.size() + kHeader);
  char lenText[16];
  const auto [end, ec] = std::to_chars(lenText, lenText + sizeof lenText, len);
  (void)ec;
  const TreePath at{nullptr, &r};
  appendField(at, makeBinaryField(type, 1, std::string_view(lenText, end), 4));
  appendField(at, makeBinaryField(type, 2, v.idc, 1));
  appendField(at, makeBinaryField(type, 3, v.impression, 1));
  appendField(at, makeBinaryField(type, 4, std::span<const std::string>(v.fingers), 1));
  appendField(at, makeBinaryField(type, 5, v.scanResolution, 1));
  appendField(at, makeBinaryField(type, 6, v.width, 2));
  appendField(at, makeBinaryField(type, 7, v.height, 2));
  appendField(at, makeBinaryField(type, 8, v.compression, 1));
  Field dataField;
  (void)makeDataField(type, 9, std::move(data), false, dataField);
  appendField(at, std::move(dataField));
  r.declaredLength = len;
  out = std::move(r);
  return kOk;
}

Item makeTextItem(std::string_view text) {
  Item item;
  item.value.assign(text);
  item.byteCount = item.charCount();
  return item;
}

Item makeDataItem(std::string bytes) {
  Item item;
  item.value = std::move(bytes);
  item.byteCount = item.charCount();
  return item;
}

int makeTextField(int type, int field, std::string_view text, Field& out) {
  Field f;
  if (int rc = formatTag(type, field, f.tag); rc < 0) return rc;
  f.recordType = type;
  f.fieldNumber = field;
  f.byteTotal = static_cast<std::int32_t>(f.tag.size());
  Subfield& sf = appendEmptySubfield({nullptr, nullptr, &f, nullptr});
  appendItem({nullptr, nullptr, &f, &sf}, makeTextItem(text));
  out = std::move(f);
  return kOk;
}

int makeTextField(int type, int field, std::span<const std::string> subfieldTexts, Field& out) {
  if (subfieldTexts.empty()) return makeTextField(type, field, std::string_view(), out);
  Field f;
  if (int rc = makeTextField(type, field, subfieldTexts.front(), f); rc < 0) return rc;
  for (std::size_t i = 1; i < subfieldTexts.size(); ++i) {
    Subfield& sf = appendEmptySubfield({nullptr, nullptr, &f, nullptr});
    appendItem({nullptr, nullptr, &f, &sf}, makeTextItem(subfieldTexts[i]));
  }
  out = std::move(f);
  return kOk;
}

int makeSplitTextField(int type, int field, std::string_view text, Field& out) {
  Field f;
  if (int rc = formatTag(type, field, f.tag); rc < 0) return rc;
  f.recordType = type;
  f.fieldNumber = field;
  f.byteTotal = static_cast<std::int32_t>(f.tag.size());
  const TreePath atField{nullptr, nullptr, &f};
  Subfield* sf = &appendEmptySubfield(atField);
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const bool end = i == text.size();
    const char c = end ? 0 : text[i];
    if (end || c == static_cast<char>(kUs) || c == static_cast<char>(kRs)) {
      appendItem({nullptr, nullptr, &f, sf}, makeTextItem(text.substr(start, i - start)));
      start = i + 1;
      if (!end && c == static_cast<char>(kRs)) sf = &appendEmptySubfield(atField);
    }
  }
  out = std::move(f);
  return kOk;
}

std::int32_t appendItem(const TreePath& at, Item item) {
  return insertMember(at, at.subfield->items, at.subfield->items.size(), std::move(item), true);
}

std::int32_t appendSubfield(const TreePath& at, Subfield subfield) {
  return insertMember(at, at.field->subfields, at.field->subfields.size(), std::move(subfield),
                      true);
}

Subfield& appendEmptySubfield(const TreePath& at) {
  // Built where it stays: an empty subfield adds only the previous one's RS.
  Field& f = *at.field;
  std::int32_t growth = 0;
  if (!f.subfields.empty()) growth = setSeparator(f.subfields.back(), true);
  Subfield& sf = f.subfields.emplace_back();
  carry(at, growth);
  return sf;
}

Field& appendEmptyField(const TreePath& at, std::string_view tag, const char* readableEnd,
                        int recordType, int fieldNumber) {
  // Built where it stays: its tag, and the previous field's GS in a tagged record.
  Record& rec = *at.record;
  std::int32_t growth = 0;
  if (!rec.fields.empty() && rec.hasFs) growth = setSeparator(rec.fields.back(), true);
  Field& f = rec.fields.emplace_back(tag, readableEnd);
  f.recordType = recordType;
  f.fieldNumber = fieldNumber;
  growth += f.byteTotal;
  carry(at, growth);
  return f;
}

std::int32_t appendField(const TreePath& at, Field field) {
  // Only tagged records (those ending with an FS) separate their fields with GS.
  return insertMember(at, at.record->fields, at.record->fields.size(), std::move(field),
                      at.record->hasFs);
}

std::int32_t insertItem(const TreePath& at, std::size_t index, Item item) {
  return insertMember(at, at.subfield->items, index, std::move(item), true);
}

std::int32_t insertSubfield(const TreePath& at, std::size_t index, Subfield subfield) {
  return insertMember(at, at.field->subfields, index, std::move(subfield), true);
}

std::int32_t removeItem(const TreePath& at, std::size_t index) {
  return removeMember(at, at.subfield->items, index);
}

std::int32_t removeSubfield(const TreePath& at, std::size_t index) {
  return removeMember(at, at.field->subfields, index);
}

std::int32_t removeField(const TreePath& at, std::size_t index) {
  return removeMember(at, at.record->fields, index);
}

std::int32_t replaceField(const TreePath& at, std::size_t index, Field field) {
  Field& old = at.record->fields[index];
  setSeparator(field, old.hasGs);
  const std::int32_t d = field.byteTotal - old.byteTotal;
  old = std::move(field);
  carry(at, d);
  return d;
}

std::int32_t setItemText(const TreePath& at, Item& item, std::string text) {
  const std::int32_t d = static_cast<std::int32_t>(text.size()) - item.charCount();
  item.value = std::move(text);
  item.byteCount += d;
  carry(at, d);
  return d;
}

void setBinaryValue(Item& item, std::string text) { item.value = std::move(text); }

void insertRecord(Transaction& tx, std::size_t position, Record record) {
  if (position > tx.records.size()) position = tx.records.size();
  tx.byteTotal += record.byteTotal;
  tx.records.insert(tx.records.begin() + static_cast<std::ptrdiff_t>(position), std::move(record));
}

void appendRecord(Transaction& tx, Record record) {
  tx.byteTotal += record.byteTotal;
  tx.records.push_back(std::move(record));
}

void removeRecord(Transaction& tx, std::size_t position) {
  if (position >= tx.records.size()) return;
  tx.byteTotal -= tx.records[position].byteTotal;
  tx.records.erase(tx.records.begin() + static_cast<std::ptrdiff_t>(position));
}

std::int32_t appendItem(Subfield& subfield, Item item) {
  return appendItem({nullptr, nullptr, nullptr, &subfield}, std::move(item));
}

std::int32_t appendSubfield(Field& field, Subfield subfield) {
  return appendSubfield({nullptr, nullptr, &field, nullptr}, std::move(subfield));
}

std::int32_t appendField(Record& record, Field field) {
  return appendField({nullptr, &record}, std::move(field));
}

int insertFieldOrdered(const TreePath& at, Field field) {
  Record& record = *at.record;
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
  insertMember(at, record.fields, pos, std::move(field), record.hasFs);
  return kOk;
}

int insertFieldOrdered(Record& record, Field field, std::int32_t& growth) {
  const std::int32_t before = record.byteTotal;
  const int rc = insertFieldOrdered({nullptr, &record}, std::move(field));
  growth = record.byteTotal - before;
  return rc;
}

int findFieldIndex(const Record& record, int fieldNumber) noexcept {
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    if (record.fields[i].fieldNumber == fieldNumber) return static_cast<int>(i);
  }
  return kNoFieldIndex;
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
