#include "transaction/nist_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <new>
#include <utility>

#include "transaction/base64.h"
#include "transaction/file_io.h"
#include "transaction/traditional.h"

namespace varnel::transaction {

namespace {

constexpr std::string_view kBanner = "tavrix version 2.4.0.0 - April 13, 2024\n";

bool isProtected(int type, int field) noexcept {
  return (type == 1 && (field == 1 || field == 3)) || (type == 2 && (field == 1 || field == 2));
}

// The version (1.002) and a record's IDC (x.002 of Types 3 to 99) are read back as one value.
bool isSingleValueField(int type, int field) noexcept {
  return field == 2 && (type == 1 || type >= 3);
}

bool isSeparator(char c) noexcept {
  const auto b = static_cast<std::uint8_t>(c);
  return b == kFs || b == kGs || b == kRs || b == kUs;
}

bool splitsIntoParts(std::string_view text) noexcept {
  return text.find_first_of("\x1E\x1F") != std::string_view::npos;
}

// Checks a text an edit gives a field. FS and GS can never be stored inside a value; RS and US
// only where `split` lets them build subfields and items.
int checkValue(std::string_view text, bool split) noexcept {
  if (text.size() > kMaxFieldText) return kValueTooLong;
  for (char c : text) {
    if (!isSeparator(c)) continue;
    const auto b = static_cast<std::uint8_t>(c);
    if (!split || b == kFs || b == kGs) return kSeparatorInValue;
  }
  return kOk;
}

std::string fmt02(long long v) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "%02lld", v);
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string fmtD(long long v) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "%lld", v);
  return std::string(buf, static_cast<std::size_t>(n));
}

bool readWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

bool featureBlockRange(int block, int& first, int& last) noexcept {
  static constexpr int kRanges[kFeatureBlockCount][2] = {{31, 55},   {13, 30},   {151, 175},
                                                         {126, 150}, {5, 12},    {71, 99},
                                                         {56, 70},   {100, 125}, {300, 399}};
  if (block < 0 || block >= kFeatureBlockCount) return false;
  first = kRanges[block][0];
  last = kRanges[block][1];
  return true;
}

std::string_view versionBanner() noexcept { return kBanner; }

NistFile::NistFile(const XmlCodec* xml) noexcept : xml_(xml) {}

int XmlCodec::writeTo(int /*fd*/, const NistFile& /*file*/, int& err) const noexcept {
  err = 0;
  return kIsXml;
}
NistFile::~NistFile() = default;
NistFile::NistFile(NistFile&&) noexcept = default;
NistFile& NistFile::operator=(NistFile&&) noexcept = default;

void NistFile::clear() noexcept { tx_.reset(); }

void NistFile::createEmpty() noexcept {
  try {
    tx_ = std::make_unique<Transaction>();
  } catch (...) {
    tx_.reset();
  }
}

int NistFile::createDefault() noexcept {
  createEmpty();
  if (!tx_) return kAllocFailed;
  const int rc = buildDefaultType1();
  if (rc < 0) tx_.reset();
  return rc;
}

void NistFile::adopt(std::unique_ptr<Transaction> tx) noexcept { tx_ = std::move(tx); }

bool NistFile::isXml() const noexcept { return tx_ && tx_->loadedFromXml; }

void NistFile::addWarning(std::string_view text) const noexcept {
  try {
    warnings_.emplace_back(text);
  } catch (...) {
    // A warning that cannot be kept is dropped; the load or save itself goes on.
  }
}

// ---------------------------------------------------------------- loading and saving

int NistFile::load(const std::string& path, ReadDetail* detail) noexcept {
  if (path.empty()) {
    if (detail != nullptr) *detail = {kMissingArgument, "no file was named"};
    return kMissingArgument;
  }
  tx_.reset();
  warnings_.clear();
  std::unique_ptr<Transaction> tx;
  const int rc = readTraditional(path, tx, detail);
  if (rc != kOk && rc != kIsXml) return rc;
  if (rc == kIsXml) {
    if (xml_ == nullptr) return kIsXml;
    if (detail != nullptr) *detail = {kAllocFailed, "memory ran out"};
    createEmpty();
    if (!tx_) return kAllocFailed;
    if (int brc = buildDefaultType1(); brc < 0) {
      tx_.reset();
      if (detail != nullptr) detail->code = brc;
      return brc;
    }
    if (detail != nullptr) *detail = {};
    tx_->loadedFromXml = true;
    const int xrc = xml_->read(path, *this);
    if (xrc != kOk) {
      tx_.reset();
      if (detail != nullptr) *detail = {xrc, "the XML document cannot be read"};
      return xrc;
    }
    if (!tx_) return kNoTransaction;
    tx_->loadedFromXml = true;
  } else {
    tx_ = std::move(tx);
    tx_->loadedFromXml = false;
  }
  rewriteLeadingZeroLengths();
  return kOk;
}

int NistFile::buildDefaultType1() noexcept {
  static constexpr std::pair<int, std::string_view> kDefaults[] = {
      {2, "0201"},   {3, "1"},   {5, "20081120"}, {8, "Brennic"},   {11, "19.69"},
      {12, "19.69"}, {4, "MAP"}, {7, "Brennic"},  {9, "1234567890"}};
  try {
    Record* rec = nullptr;
    if (int rc = createRecordForSet(1, rec); rc < 0) return rc;
    for (const auto& [field, text] : kDefaults) {
      if (int rc = setFieldOnRecord(*rec, 1, field, text); rc < 0) return rc;
    }
    Field* cnt = findField(*rec, 3);
    if (cnt == nullptr) return kNotFound;
    appendItem({tx_.get(), rec, cnt, &cnt->subfields[0]}, makeTextItem("0"));
    for (Record& r : tx_->records) (void)updateRecordLength(*tx_, r);
    return kOk;
  } catch (...) {
    return kAllocFailed;
  }
}

void NistFile::rewriteLeadingZeroLengths() noexcept {
  for (Record& rec : tx_->records) {
    if (!rec.hasFs) continue;
    Field* len = findField(rec, 1);
    if (len == nullptr || len->subfields.size() != 1 || len->subfields[0].items.size() != 1)
      continue;
    Item& item = len->subfields[0].items[0];
    if (item.value.size() < 2 || item.value[0] != '0') continue;
    std::size_t zeros = 0;
    while (zeros + 1 < item.value.size() && item.value[zeros] == '0') ++zeros;
    setItemText({tx_.get(), &rec, len, &len->subfields[0]}, item, item.value.substr(zeros));
    // The size shrank; bring the (now shorter) text in line, which may drop one more digit.
    (void)updateRecordLength(*tx_, rec);
  }
}

int NistFile::saveTraditional(const std::string& path) const noexcept {
  if (!tx_) return kNoTransaction;
  if (path.empty()) return kMissingArgument;
  warnings_.clear();
  return writeTraditional(path, *tx_);
}

int NistFile::saveXml(const std::string& path) const noexcept {
  if (!tx_) return kNoTransaction;
  if (path.empty()) return kMissingArgument;
  if (xml_ == nullptr) return kIsXml;
  warnings_.clear();
  return xml_->write(path, *this);
}

int NistFile::saveTraditional(int fd, int& err) const noexcept {
  err = 0;
  if (!tx_) return kNoTransaction;
  warnings_.clear();
  return writeTraditional(fd, *tx_, err);
}

int NistFile::saveXml(int fd, int& err) const noexcept {
  err = 0;
  if (!tx_) return kNoTransaction;
  if (xml_ == nullptr) return kIsXml;
  warnings_.clear();
  return xml_->writeTo(fd, *this, err);
}

// ---------------------------------------------------------------- queries

int NistFile::countRecords(int type) const noexcept {
  if (!tx_) return 0;
  int n = 0;
  for (const Record& r : tx_->records) n += r.type == type ? 1 : 0;
  return n;
}

int NistFile::recordTypeAt(int position) const noexcept {
  if (!tx_) return kNoTransaction;
  if (position < 0 || static_cast<std::size_t>(position) >= tx_->records.size())
    return kRecordNotFound;
  return tx_->records[static_cast<std::size_t>(position)].type;
}

int NistFile::findRecord(int type, int occurrence) const noexcept {
  if (!tx_) return kNoTransaction;
  if (occurrence < 0) return kRecordNotFound;
  int seen = 0;
  for (std::size_t i = 0; i < tx_->records.size(); ++i) {
    if (tx_->records[i].type != type) continue;
    if (seen++ == occurrence) return static_cast<int>(i);
  }
  return kRecordNotFound;
}

Record* NistFile::recordAt(int type, int occurrence) noexcept {
  const int pos = findRecord(type, occurrence);
  return pos < 0 ? nullptr : &tx_->records[static_cast<std::size_t>(pos)];
}

const Record* NistFile::recordAt(int type, int occurrence) const noexcept {
  const int pos = findRecord(type, occurrence);
  return pos < 0 ? nullptr : &tx_->records[static_cast<std::size_t>(pos)];
}

int NistFile::getFieldText(int type, int field, std::string_view& out,
                           int occurrence) const noexcept {
  out = {};
  if (!tx_) return kNoTransaction;
  const Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) return kNotFound;
  const Field* f = findField(*rec, field);
  if (f == nullptr || f->subfields.empty() || f->subfields[0].items.empty()) return kNotFound;
  out = f->subfields[0].items[0].value;
  return kOk;
}

int NistFile::getFieldByteCount(int type, int field, int occurrence) const noexcept {
  if (!tx_) return kNoTransaction;
  const Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) return kNotFound;
  const Field* f = findField(*rec, field);
  if (f == nullptr || f->subfields.empty() || f->subfields[0].items.empty()) return kNotFound;
  return f->subfields[0].items[0].byteCount;
}

int NistFile::getSubfieldCount(int type, int field, int occurrence) const noexcept {
  if (!tx_) return kNoTransaction;
  const Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) return kNotFound;
  const Field* f = findField(*rec, field);
  if (f == nullptr) return kNotFound;
  return static_cast<int>(f->subfields.size());
}

int NistFile::getItemCount(int type, int field, int occurrence, int subfield) const noexcept {
  if (!tx_) return kNoTransaction;
  if (subfield < 0) return kBadArgument;
  const Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) return kNotFound;
  const Field* f = findField(*rec, field);
  if (f == nullptr || static_cast<std::size_t>(subfield) >= f->subfields.size()) return kNotFound;
  return static_cast<int>(f->subfields[static_cast<std::size_t>(subfield)].items.size());
}

int NistFile::getItemText(int type, int field, int occurrence, int subfield, int item,
                          std::string_view& out) const noexcept {
  out = {};
  if (!tx_) return kNoTransaction;
  if (subfield < 0 || item < 0 || occurrence < 0) return kBadArgument;
  const Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) return kNotFound;
  const Field* f = findField(*rec, field);
  if (f == nullptr || static_cast<std::size_t>(subfield) >= f->subfields.size()) return kNotFound;
  const Subfield& sf = f->subfields[static_cast<std::size_t>(subfield)];
  if (static_cast<std::size_t>(item) >= sf.items.size()) return kNotFound;
  out = sf.items[static_cast<std::size_t>(item)].value;
  return kOk;
}

int NistFile::getFieldFullText(int type, int field, int occurrence,
                               std::string& out) const noexcept {
  out.clear();
  if (!tx_) return kNoTransaction;
  const Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) return kNotFound;
  const Field* f = findField(*rec, field);
  if (f == nullptr) return kNotFound;
  try {
    for (std::size_t s = 0; s < f->subfields.size(); ++s) {
      if (s > 0) out.push_back(static_cast<char>(kRs));
      const Subfield& sf = f->subfields[s];
      for (std::size_t i = 0; i < sf.items.size(); ++i) {
        if (i > 0) out.push_back(static_cast<char>(kUs));
        out.append(sf.items[i].value);
      }
    }
  } catch (...) {
    return kAllocFailed;
  }
  return kOk;
}

// ---------------------------------------------------------------- record creation and CNT

int NistFile::createRecordForSet(int type, Record*& out) noexcept {
  out = nullptr;
  if (!isTaggedType(type)) return kNotTaggedType;
  try {
    Record rec = makeTaggedRecord(type);
    Field f;
    if (int rc = makeTextField(type, 1, "00", f); rc < 0) return rc;
    appendField(rec, std::move(f));
    if (type == 1) {
      // The Type-1 record heads the Transaction and has no CNT entry of its own.
      std::int32_t g = 0;
      (void)updateRecordLength(rec, g);
      transaction::insertRecord(*tx_, 0, std::move(rec));
      out = &tx_->records.front();
      return kOk;
    }
    if (int rc = makeTextField(type, 2, "00", f); rc < 0) return rc;
    appendField(rec, std::move(f));
    std::int32_t g = 0;
    (void)updateRecordLength(rec, g);
    const int pos = static_cast<int>(tx_->records.size());
    if (int rc = insertRecord(pos, std::move(rec), true); rc < 0) return rc;
    out = &tx_->records[static_cast<std::size_t>(pos)];
    return kOk;
  } catch (...) {
    return kAllocFailed;
  }
}

namespace {

Field* cntField(Transaction& tx) {
  if (tx.records.empty() || tx.records[0].type != 1) return nullptr;
  return findField(tx.records[0], 3);
}

long long idcOf(const Subfield& sf) {
  return sf.items.size() >= 2 ? parseLeadingInt(sf.items[1].value) : -1;
}

// Sets item 2 of a CNT subfield, keeping the Type-1 totals right.
void setCntIdc(Transaction& tx, Field& cnt, std::size_t sub, std::string_view text) {
  Subfield& sf = cnt.subfields[sub];
  if (sf.items.size() < 2) return;
  setItemText({&tx, &tx.records[0], &cnt, &sf}, sf.items[1], std::string(text));
}

// Sets the text of item 0 of field 2 of a record (its IDC), keeping totals right.
void setRecordIdc(Transaction& tx, Record& rec, std::string_view text) {
  Field* f = findField(rec, 2);
  if (f == nullptr || f->subfields.empty() || f->subfields[0].items.empty()) return;
  if (!rec.hasFs) {
    // Binary IDC: a fixed-width value, only the text changes.
    setBinaryValue(f->subfields[0].items[0], std::string(text));
    return;
  }
  setItemText({&tx, &rec, f, &f->subfields[0]}, f->subfields[0].items[0], std::string(text));
}

void adjustCntCount(Transaction& tx, Field& cnt, int delta) {
  Subfield& head = cnt.subfields[0];
  if (head.items.size() < 2) return;
  const long long n = parseLeadingInt(head.items[1].value) + delta;
  setItemText({&tx, &tx.records[0], &cnt, &head}, head.items[1], fmtD(n));
}

}  // namespace

int NistFile::insertRecord(int position, Record record, bool assignIdc) noexcept {
  if (!tx_) return kNoTransaction;
  if (record.type == 1) return kInsertType1;
  const int count = static_cast<int>(tx_->records.size());
  const bool headed = count > 0 && tx_->records[0].type == 1;
  if (position < (headed ? 1 : 0) || position > count) return kBadRecordPosition;
  try {
    transaction::insertRecord(*tx_, static_cast<std::size_t>(position), std::move(record));
    Record& rec = tx_->records[static_cast<std::size_t>(position)];
    Field* cnt = cntField(*tx_);
    if (cnt == nullptr || cnt->subfields.empty()) return kOk;

    const auto p = static_cast<std::size_t>(position);
    long long idc = 0;
    if (assignIdc) {
      long long greatest = -1;
      for (std::size_t i = 1; i < p && i < cnt->subfields.size(); ++i)
        greatest = std::max(greatest, idcOf(cnt->subfields[i]));
      idc = greatest + 1;
    } else {
      std::string_view t;
      const Field* f2 = findField(rec, 2);
      if (f2 != nullptr && !f2->subfields.empty() && !f2->subfields[0].items.empty())
        t = f2->subfields[0].items[0].value;
      idc = parseLeadingInt(t);
    }
    Subfield entry;
    char typeText[16];
    const int tn = std::snprintf(typeText, sizeof typeText, "%u", static_cast<unsigned>(rec.type));
    appendItem(entry, makeTextItem(std::string_view(typeText, static_cast<std::size_t>(tn))));
    appendItem(entry, makeTextItem(fmt02(idc)));

    // Link the CNT entry at position p (or behind the last one).
    insertSubfield({tx_.get(), &tx_->records[0], cnt}, p, std::move(entry));
    adjustCntCount(*tx_, *cnt, +1);

    if (assignIdc) {
      Record& inserted = tx_->records[p];
      setRecordIdc(*tx_, inserted, fmt02(idc));
      for (std::size_t i = p + 1; i < cnt->subfields.size(); ++i) {
        const long long other = idcOf(cnt->subfields[i]);
        if (other < idc) continue;
        setCntIdc(*tx_, *cnt, i, fmt02(other + 1));
        if (i < tx_->records.size()) {
          setRecordIdc(*tx_, tx_->records[i], fmt02(other + 1));
          (void)updateRecordLength(*tx_, tx_->records[i]);
        }
      }
      (void)updateRecordLength(*tx_, inserted);
    }
    (void)updateRecordLength(*tx_, tx_->records[0]);
    return kOk;
  } catch (...) {
    return kAllocFailed;
  }
}

int NistFile::deleteRecordAt(int position) noexcept {
  try {
    const auto p = static_cast<std::size_t>(position);
    long long removedIdc = -1;
    Field* cnt = cntField(*tx_);
    if (cnt != nullptr && p < cnt->subfields.size()) removedIdc = idcOf(cnt->subfields[p]);
    removeRecord(*tx_, p);
    if (p == 0) return kOk;  // the Type-1 record itself (never through the public operations)
    cnt = cntField(*tx_);
    if (cnt == nullptr) return kOk;
    if (p < cnt->subfields.size()) {
      removeSubfield({tx_.get(), &tx_->records[0], cnt}, p);
      adjustCntCount(*tx_, *cnt, -1);
      bool shared = false;
      for (std::size_t i = 1; i < cnt->subfields.size(); ++i)
        shared = shared || idcOf(cnt->subfields[i]) == removedIdc;
      if (!shared && removedIdc >= 0) {
        for (std::size_t i = 1; i < cnt->subfields.size(); ++i) {
          const long long other = idcOf(cnt->subfields[i]);
          if (other <= removedIdc) continue;
          setCntIdc(*tx_, *cnt, i, fmt02(other - 1));
          if (i < tx_->records.size()) {
            setRecordIdc(*tx_, tx_->records[i], fmt02(other - 1));
            (void)updateRecordLength(*tx_, tx_->records[i]);
          }
        }
      }
    }
    (void)updateRecordLength(*tx_, tx_->records[0]);
    return kOk;
  } catch (...) {
    return kDeleteFailed;
  }
}

int NistFile::deleteRecord(int type, int occurrence) noexcept {
  if (!tx_) return kNoTransaction;
  if (type == 1 || type == 2) return kProtected;
  const int pos = findRecord(type, occurrence);
  if (pos < 0) return kNotFound;
  return deleteRecordAt(pos);
}

void NistFile::syncCntIdc(int position) noexcept {
  Field* cnt = cntField(*tx_);
  const auto p = static_cast<std::size_t>(position);
  if (cnt == nullptr || p == 0 || p >= cnt->subfields.size()) return;
  const Field* f2 = findField(tx_->records[p], 2);
  if (f2 == nullptr || f2->subfields.empty() || f2->subfields[0].items.empty()) return;
  try {
    const std::string text = f2->subfields[0].items[0].value;
    setCntIdc(*tx_, *cnt, p, text);
    (void)updateRecordLength(*tx_, tx_->records[0]);
  } catch (...) {
  }
}

// ---------------------------------------------------------------- fields

int NistFile::placeField(Record& rec, Field field) {
  const TreePath at{tx_.get(), &rec};
  if (const int idx = findFieldIndex(rec, field.fieldNumber); idx >= 0) {
    // Replace in place: same position, same separator.
    replaceField(at, static_cast<std::size_t>(idx), std::move(field));
  } else {
    if (int rc = insertFieldOrdered(at, std::move(field)); rc < 0) return rc;
  }
  return updateRecordLength(*tx_, rec) < 0 ? kBadLengthField : kOk;
}

int NistFile::setFieldOnRecord(Record& rec, int type, int field, std::string_view text) noexcept {
  try {
    Field f;
    if (int rc = makeTextField(type, field, text, f); rc < 0) return rc;
    return placeField(rec, std::move(f));
  } catch (...) {
    return kAllocFailed;
  }
}

int NistFile::setSplitField(Record& rec, int type, int field, std::string_view text) noexcept {
  try {
    Field f;
    if (int rc = makeSplitTextField(type, field, text, f); rc < 0) return rc;
    return placeField(rec, std::move(f));
  } catch (...) {
    return kAllocFailed;
  }
}

int NistFile::setField(int type, int field, std::string_view text) noexcept {
  if (!tx_) return kNoTransaction;
  if (isProtected(type, field)) return kProtected;
  if (field < 1 || field > 9999) return kFieldNumberRange;
  if (isBinaryType(type)) return setFieldAt(type, field, text, 0);
  if (field == 1) return kStructuralField;
  // Image data is read back as one item whatever bytes it holds, so it is never split.
  const bool split = !isImageDataField(type, field) && splitsIntoParts(text);
  if (split && isSingleValueField(type, field)) return kStructuralField;
  if (int rc = checkValue(text, true); rc < 0) return rc;
  Record* rec = recordAt(type, 0);
  if (rec == nullptr) {
    if (int rc = createRecordForSet(type, rec); rc < 0) return rc;
  }
  const int pos = static_cast<int>(rec - tx_->records.data());
  // RS and US build subfields and items, as they would when the file is read back.
  const int rc =
      split ? setSplitField(*rec, type, field, text) : setFieldOnRecord(*rec, type, field, text);
  if (rc == kOk && field == 2 && type != 1 && type != 2) syncCntIdc(pos);
  return rc;
}

int NistFile::setFieldAt(int type, int field, std::string_view text, int occurrence) noexcept {
  if (!tx_) return kNoTransaction;
  if (isProtected(type, field)) return kProtected;
  if (field < 1 || field > 9999) return kFieldNumberRange;
  if (occurrence < 0) return kBadArgument;
  if (isBinaryType(type)) {
    Record* rec = recordAt(type, occurrence);
    if (rec == nullptr) return kNoBinaryRecord;
    Field* f = findField(*rec, field);
    if (f == nullptr || f->subfields.empty() || f->subfields[0].items.empty())
      return kNoBinaryField;
    // The image data and the record length are not header values an edit may set.
    if (field == 1 || field == imageDataFieldNumber(*rec)) return kBadArgument;
    std::uint64_t v = 0;
    if (!parseUnsigned(text, v)) return kBadArgument;
    const int needed = v <= 255 ? 1 : (v <= 65535 ? 2 : 0);
    Item& item = f->subfields[0].items[0];
    if (needed == 0 || item.byteCount < needed) return kBadArgument;
    try {
      setBinaryValue(item, std::string(text));
    } catch (...) {
      return kAllocFailed;
    }
    if (field == 2) syncCntIdc(static_cast<int>(rec - tx_->records.data()));
    return kOk;
  }
  if (field == 1) return kStructuralField;
  // Image data is read back as one item whatever bytes it holds, so it is never split.
  const bool split = !isImageDataField(type, field) && splitsIntoParts(text);
  if (split && isSingleValueField(type, field)) return kStructuralField;
  if (int rc = checkValue(text, true); rc < 0) return rc;
  Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) {
    const bool creatable =
        (type == 1 || type == 2 || type == 9) && occurrence == countRecords(type);
    if (!creatable)
      return (type == 1 || type == 2 || type == 9) ? kRecordNotFound : kRecordNotCreatable;
    if (int rc = createRecordForSet(type, rec); rc < 0) return rc;
  }
  const int pos = static_cast<int>(rec - tx_->records.data());
  const int rc =
      split ? setSplitField(*rec, type, field, text) : setFieldOnRecord(*rec, type, field, text);
  if (rc == kOk && field == 2 && type != 1 && type != 2) syncCntIdc(pos);
  return rc;
}

int NistFile::setItem(int type, int field, int occurrence, int subfield, int item,
                      std::string_view text) noexcept {
  if (!tx_) return kNoTransaction;
  if (isProtected(type, field)) return kProtected;
  if (field < 1 || field > 9999) return kFieldNumberRange;
  if (isBinaryType(type)) return kBadArgument;
  if (occurrence < 0 || subfield < 0 || item < 0) return kBadArgument;
  if (field == 1) return kStructuralField;
  if (isSingleValueField(type, field) && (subfield != 0 || item != 0)) return kStructuralField;
  if (int rc = checkValue(text, false); rc < 0) return rc;
  Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) return kNotFound;
  const int pos = static_cast<int>(rec - tx_->records.data());
  try {
    std::string value(text);
    if (isImageDataField(type, field)) {
      // An image data item is loaded from the file the text names.
      if (!readWholeFile(std::string(text), value)) return kImageFileUnreadable;
    }
    Field* f = findField(*rec, field);
    if (f == nullptr) {
      if (subfield != 0 || item != 0) return kNotFound;
      if (int rc = setFieldOnRecord(*rec, type, field, value); rc < 0) return rc;
    } else {
      const auto s = static_cast<std::size_t>(subfield);
      const auto i = static_cast<std::size_t>(item);
      if (s > f->subfields.size()) return kNotFound;
      const TreePath atField{tx_.get(), rec, f};
      if (s == f->subfields.size()) {
        if (item != 0) return kNotFound;
        Subfield sf;
        appendItem(sf, makeDataItem(std::move(value)));
        appendSubfield(atField, std::move(sf));
      } else {
        Subfield& sf = f->subfields[s];
        if (i > sf.items.size()) return kNotFound;
        const TreePath atSubfield{tx_.get(), rec, f, &sf};
        if (i == sf.items.size()) {
          appendItem(atSubfield, makeDataItem(std::move(value)));
        } else {
          setItemText(atSubfield, sf.items[i], std::move(value));
        }
      }
      if (updateRecordLength(*tx_, *rec) < 0) return kBadLengthField;
    }
  } catch (...) {
    return kAllocFailed;
  }
  if (field == 2 && type != 1 && type != 2) syncCntIdc(pos);
  return kOk;
}

int NistFile::deleteFieldFromRecord(int position, int field) noexcept {
  Record& rec = tx_->records[static_cast<std::size_t>(position)];
  const int idx = findFieldIndex(rec, field);
  if (idx < 0) return kNotFound;
  if (!rec.hasFs) return kBinaryFieldsFixed;
  if (rec.fields.size() == 1) return deleteRecordAt(position);
  try {
    removeField({tx_.get(), &rec}, static_cast<std::size_t>(idx));
    (void)updateRecordLength(*tx_, rec);
    return kOk;
  } catch (...) {
    return kAllocFailed;
  }
}

int NistFile::deleteField(int type, int field) noexcept { return deleteFieldAt(type, field, 0); }

int NistFile::deleteFieldAt(int type, int field, int occurrence) noexcept {
  if (!tx_) return kNoTransaction;
  if (isProtected(type, field)) return kProtected;
  if (field < 1 || field > 9999) return kFieldNumberRange;
  if (field == 1 || isSingleValueField(type, field)) return kStructuralField;
  if (type == 1 && (field == 4 || field == 7 || field == 8 || field == 9)) {
    // These Type-1 fields are mandatory: emptied rather than removed.
    Record* rec = recordAt(1, occurrence);
    if (rec == nullptr || findField(*rec, field) == nullptr) return kNotFound;
    return setFieldOnRecord(*rec, 1, field, "");
  }
  const int pos = findRecord(type, occurrence);
  if (pos < 0) return kNotFound;
  return deleteFieldFromRecord(pos, field);
}

int NistFile::deleteFeatureBlock(int block, int occurrence) noexcept {
  if (!tx_) return kNoTransaction;
  int first = 0;
  int last = 0;
  if (!featureBlockRange(block, first, last)) return kBadFeatureBlock;
  const int pos = findRecord(9, occurrence);
  if (pos < 0) return kRecordNotFound;
  for (int f = first; f <= last; ++f) {
    Record& rec = tx_->records[static_cast<std::size_t>(pos)];
    if (findField(rec, f) == nullptr) continue;
    if (int rc = deleteFieldFromRecord(pos, f); rc < 0) return rc;
    if (findRecord(9, occurrence) != pos) break;  // the record went with its last field
  }
  return kOk;
}

int NistFile::appendTaggedRecord(int type, const std::string_view* idc) noexcept {
  if (!tx_) return kNoTransaction;
  if (!isTaggedType(type) || type == 1) return kBadArgument;
  try {
    Record rec = makeTaggedRecord(type);
    Field f;
    if (int rc = makeTextField(type, 1, "0", f); rc < 0) return rc;
    appendField(rec, std::move(f));
    const std::string idcText =
        idc != nullptr ? std::string(*idc) : fmtD(static_cast<long long>(tx_->records.size()) - 1);
    if (int rc = makeTextField(type, 2, idcText, f); rc < 0) return rc;
    appendField(rec, std::move(f));
    std::int32_t g = 0;
    (void)updateRecordLength(rec, g);
    return insertRecord(static_cast<int>(tx_->records.size()), std::move(rec), false);
  } catch (...) {
    return kAllocFailed;
  }
}

int NistFile::appendBinaryImageRecord(int type, const std::string_view* idcText, int idcNumber,
                                      int imp, const std::uint8_t fgp[6], int isr, int hll, int vll,
                                      int gca, std::span<const std::uint8_t> data) noexcept {
  if (!tx_) return kNoTransaction;
  if (!isBinaryType(type) || type == 8) return kBadArgument;
  if (data.size() > 0x7FFFFFFFu - 18u) return kBadArgument;
  try {
    BinaryImageValues values;
    values.idc = idcText != nullptr ? std::string(*idcText) : fmtD(idcNumber);
    values.impression = fmtD(imp);
    for (int i = 0; i < 6; ++i) values.fingers[i] = fmtD(fgp != nullptr ? fgp[i] : 255);
    values.scanResolution = fmtD(isr);
    values.width = fmtD(hll);
    values.height = fmtD(vll);
    values.compression = fmtD(gca);
    Record rec;
    if (int rc = makeBinaryImageRecord(
            type, values, std::string(reinterpret_cast<const char*>(data.data()), data.size()),
            rec);
        rc < 0)
      return rc;
    return insertRecord(static_cast<int>(tx_->records.size()), std::move(rec), false);
  } catch (...) {
    return kAllocFailed;
  }
}

int NistFile::findUnfitBinaryValue(int& position, int& field, std::string& text,
                                   int& width) const noexcept {
  if (!tx_) return 0;
  for (std::size_t r = 0; r < tx_->records.size(); ++r) {
    const Record& rec = tx_->records[r];
    if (rec.hasFs || !isBinaryType(rec.type)) continue;
    const int dataField = imageDataFieldNumber(rec);
    for (const Field& f : rec.fields) {
      if (f.fieldNumber == dataField) continue;
      for (const Subfield& sf : f.subfields) {
        for (const Item& item : sf.items) {
          const bool number = item.byteCount == 1 || item.byteCount == 2 || item.byteCount == 4;
          if (!number || fitsBinaryWidth(item.value, item.byteCount)) continue;
          try {
            text = item.value;
          } catch (...) {
            text.clear();
          }
          position = static_cast<int>(r);
          field = f.fieldNumber;
          width = item.byteCount;
          return 1;
        }
      }
    }
  }
  return 0;
}

// ---------------------------------------------------------------- image data

int NistFile::exportImageData(int type, int occurrence, const std::string& path,
                              int& err) const noexcept {
  err = 0;
  if (!tx_) return kNoTransaction;
  if (!isImageType(type) && type != 11) return kNotImageType;
  if (path.empty()) return kMissingArgument;
  const Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) return kRecordNotFound;
  const int fieldNo = type == 11 ? 999 : imageDataFieldNumber(*rec);
  const Field* f = findField(*rec, fieldNo);
  if (f == nullptr || f->subfields.empty() || f->subfields[0].items.empty()) return kNoImageField;
  try {
    const std::string& bytes = f->subfields[0].items[0].value;
    std::vector<std::uint8_t> decoded;
    const char* data = bytes.data();
    std::size_t size = bytes.size();
    if (type == 11) {
      (void)decodeBase64Lenient(bytes, decoded);
      data = reinterpret_cast<const char*>(decoded.data());
      size = decoded.size();
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      err = errno;
      return kExportWriteFailed;
    }
    if (!writeAll(fd, data, size)) err = errno;
    // A full disk may show only when the file is closed (network file systems, quotas).
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
      (void)std::remove(path.c_str());
      return kExportWriteFailed;
    }
    return kOk;
  } catch (...) {
    return kAllocFailed;
  }
}

int NistFile::exportImageData(int type, int occurrence, const std::string& path) const noexcept {
  int err = 0;
  return exportImageData(type, occurrence, path, err);
}

int NistFile::replaceImageData(int type, int occurrence,
                               std::span<const std::uint8_t> bytes) noexcept {
  if (bytes.size() > 0x7FFFFFF0u) return kBadArgument;
  try {
    return replaceImageData(type, occurrence,
                            std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  } catch (...) {
    return kAllocFailed;
  }
}

int NistFile::replaceImageData(int type, int occurrence, std::string&& value) noexcept {
  if (!tx_) return kNoTransaction;
  if (!isImageType(type)) return kNotImageType;
  if (occurrence < 0) return kBadArgument;
  Record* rec = recordAt(type, occurrence);
  if (rec == nullptr) return kRecordNotFound;
  if (value.size() > 0x7FFFFFF0u) return kBadArgument;
  try {
    if (isBinaryType(type)) {
      Field* f = findField(*rec, imageDataFieldNumber(*rec));
      if (f == nullptr || f->subfields.empty() || f->subfields[0].items.empty())
        return kRecordNotFound;
      setItemText({tx_.get(), rec, f, &f->subfields[0]}, f->subfields[0].items[0],
                  std::move(value));
      (void)updateRecordLength(*tx_, *rec);
      return kOk;
    }
    Field f;
    if (int rc = makeDataField(type, 999, std::move(value), true, f); rc < 0) return rc;
    // Keeps a single image data field: an old one is replaced where it stands; a new one is
    // appended, since image data must end the record.
    if (findField(*rec, 999) != nullptr) return placeField(*rec, std::move(f));
    appendField({tx_.get(), rec}, std::move(f));
    (void)updateRecordLength(*tx_, *rec);
    return kOk;
  } catch (...) {
    return kAllocFailed;
  }
}

}  // namespace varnel::transaction
