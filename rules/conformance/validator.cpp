#include "rules/conformance/validator.h"

#include <algorithm>
#include <bitset>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "imaging/image_header.h"
#include "imaging/wsq/wsq.h"
#include "rules/status.h"
#include "transaction/field_table.h"
#include "transaction/status.h"
#include "transaction/tree.h"

namespace varnel::rules::conformance {
namespace {

using transaction::Field;
using transaction::Record;
using transaction::Transaction;

constexpr std::size_t kMaxQuoted = 40;
// 1.002 of the 2011 edition ("0500"); lower values are earlier editions.
constexpr unsigned kFirst2011Version = 500;

// "14.013": the record type, a full stop and the field number in at least 3 digits, written
// to `buf` (32 bytes); returns the length.
std::size_t fieldName(char* buf, int type, int field) noexcept {
  char* p = std::to_chars(buf, buf + 12, type).ptr;
  *p++ = '.';
  if (field >= 0 && field < 100) *p++ = '0';
  if (field >= 0 && field < 10) *p++ = '0';
  p = std::to_chars(p, buf + 32, field).ptr;
  return static_cast<std::size_t>(p - buf);
}

std::string fieldName(int type, int field) {
  char buf[32];
  return std::string(buf, fieldName(buf, type, field));
}

// The message of a finding while it is built: pieces are copied into a buffer kept for the
// whole check, without the checks of growing a string at every piece.
class MessageText {
 public:
  void clear() noexcept { size_ = 0; }
  void append(const char* s, std::size_t n) {
    if (buf_.size() - size_ < n) grow(n);
    std::memcpy(buf_.data() + size_, s, n);
    size_ += n;
  }
  MessageText& operator+=(std::string_view s) {
    append(s.data(), s.size());
    return *this;
  }
  MessageText& operator+=(char c) {
    if (size_ == buf_.size()) grow(1);
    buf_[size_++] = c;
    return *this;
  }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] std::string_view view() const noexcept { return {buf_.data(), size_}; }

 private:
  void grow(std::size_t n) { buf_.resize(std::max(buf_.size() * 2, size_ + n)); }
  std::vector<char> buf_ = std::vector<char>(256);
  std::size_t size_ = 0;
};

// A value as shown in a message, appended to `out` (a std::string or a MessageText): quoted,
// cut to kMaxQuoted characters, control bytes written as \xNN. Runs of plain characters are
// copied at once.
template <class Text>
void appendQuoted(Text& out, std::string_view v) {
  out += '\'';
  const std::string_view shown = v.substr(0, kMaxQuoted);
  std::size_t run = 0;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto c = static_cast<unsigned char>(shown[i]);
    if (c >= 0x20 && c != 0x7F) continue;
    out += shown.substr(run, i - run);
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char esc[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    out += std::string_view(esc, 4);
    run = i + 1;
  }
  out += shown.substr(run);
  if (v.size() > kMaxQuoted) out += std::string_view("...");
  out += '\'';
}

std::string quoted(std::string_view v) {
  std::string out;
  out.reserve(v.size() < kMaxQuoted ? v.size() + 2 : kMaxQuoted + 5);
  appendQuoted(out, v);
  return out;
}

bool digitsOnly(std::string_view s) noexcept {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool numberOf(std::string_view s, long long& out) noexcept {
  if (!digitsOnly(s) || s.size() > 18) return false;
  out = 0;
  for (char c : s) out = out * 10 + (c - '0');
  return true;
}

std::string_view itemText(const Field& f, std::size_t sub, std::size_t item) noexcept {
  if (sub >= f.subfields.size()) return {};
  const auto& s = f.subfields[sub];
  if (item >= s.items.size()) return {};
  return s.items[item].value;
}

std::string_view firstText(const Record& r, int field) noexcept {
  const Field* f = transaction::findField(r, field);
  return f ? itemText(*f, 0, 0) : std::string_view{};
}

// Characters of a value: UTF-8 code points for "U" fields, bytes otherwise.
int lengthOf(std::string_view v, bool utf8) noexcept {
  if (!utf8) return static_cast<int>(v.size());
  int n = 0;
  for (unsigned char c : v) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

// Whether every character is of the type; `bad` receives the first that is not.
bool charsOk(std::string_view v, const FieldRule& r, unsigned char& bad) noexcept {
  if (!r.charsChecked) return true;
  for (unsigned char c : v) {
    if (!r.allowed[c]) {
      bad = c;
      return false;
    }
  }
  return true;
}

std::string typeWords(const FieldRule& r) {
  const std::string& t = r.dataType;
  const bool extra = !r.specialChars.empty() && r.specialChars != "ALL";
  if (t == "N" && !extra) return "digits";
  if (t == "A" && !extra) return "letters";
  if (t == "AN" && !extra) return "letters and digits";
  if (t == "H") return "hexadecimal digits";
  if (t == "U") return "text without control characters";
  std::string words;
  if (t.find('A') != std::string::npos) words = "letters";
  if (t.find('N') != std::string::npos) words += words.empty() ? "digits" : ", digits";
  std::string special = r.specialChars;
  if (special.size() >= 2 && special.front() == '[' && special.back() == ']') {
    special = special.substr(1, special.size() - 2);
  }
  if (special.empty() || special == "ALL") {
    words += words.empty() ? "printable characters" : " and printable characters";
  } else {
    words += (words.empty() ? "" : " and ") + ("'" + special + "'");
  }
  return words;
}

bool numericValue(std::string_view v, double& out) noexcept {
  if (v.empty() || v.size() > 30) return false;
  if (v.size() <= 15) {
    // Plain digits, by far the most common, without the general parser.
    long long n = 0;
    bool digits = true;
    for (char c : v) {
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      n = n * 10 + (c - '0');
    }
    if (digits) {
      out = static_cast<double>(n);
      return true;
    }
  }
  if (v.front() == '+') v.remove_prefix(1);
  const char* end = v.data() + v.size();
  auto [p, ec] = std::from_chars(v.data(), end, out);
  return ec == std::errc() && p == end;
}

bool patternOk(std::string_view v, const FieldRule& r) {
  if (!r.fixedPattern.empty()) {
    if (v.size() != r.fixedPattern.size()) return false;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (!r.fixedPattern[i][static_cast<unsigned char>(v[i])]) return false;
    }
    return true;
  }
  if (r.matcher) return r.matcher->matches(v);
  if (!r.compiled) return true;
  try {
    return std::regex_match(v.begin(), v.end(), *r.compiled);
  } catch (const std::regex_error&) {
    return true;  // too complex to decide: no finding rather than a wrong one
  }
}

bool inSpan(double n, const ValueSpan& s) noexcept {
  return (s.lowOpen ? n > s.low : n >= s.low) && (s.highOpen ? n < s.high : n <= s.high);
}

// A value of an optional minus and 1 to 15 digits as a whole number.
bool wholeNumber(std::string_view v, long long& out) noexcept {
  const bool negative = !v.empty() && v.front() == '-';
  if (negative) v.remove_prefix(1);
  if (v.empty() || v.size() > 15) return false;
  long long n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  out = negative ? -n : n;
  return true;
}

bool valueOk(std::string_view v, const FieldRule& r) {
  long long whole = 0;
  if (r.wholeSpansOnly && wholeNumber(v, whole)) {
    for (const auto& [low, high] : r.wholeSpans) {
      if (whole >= low && whole <= high) return true;
    }
    return false;
  }
  if (!r.values.empty()) {
    double n = 0;
    const bool numeric = numericValue(v, n);
    bool anyOneSided = false;
    bool oneSidedOk = true;
    for (const ValueSpan& s : r.values) {
      if (s.oneSided) {
        anyOneSided = true;
        oneSidedOk = oneSidedOk && numeric && inSpan(n, s);
      } else if (s.numeric ? (numeric && inSpan(n, s)) : v == s.text) {
        return true;
      }
    }
    return anyOneSided && oneSidedOk;
  }
  if (r.codeTables.empty() || r.anyCode) return true;
  for (const CodeSet* t : r.codeSets) {
    if (t->has(v)) return true;
  }
  long long n = 0;
  if (!numberOf(v, n)) return false;
  for (const CodeSet* t : r.codeSets) {
    if (t->numbers.count(n) != 0) return true;
  }
  return false;
}

// Which check of a value fails first, in the order the findings are given.
enum class Fault : std::uint8_t { kNone, kLength, kCharset, kValue, kPattern };

// What a recorded finding that waits for its texts is about: a Fault of a value, or one of
// these.
enum class NoteKind : std::uint8_t {
  kLength = 1,
  kCharset,
  kValue,
  kPattern,
  kNotListed,  // the findings of a field past the ones listed, counted in `subfield`
  kFieldOrder  // a field after a higher number, given in `subfield`; the tag is the value
};

// Presence findings keep their severity whatever the edition of the transaction.
enum class Check : std::uint8_t { kPresence, kOther };

// The first check `v` fails; kNone for a value that needs no closer look. Decides as the
// separate checks of checkValue do, from the rule's packed form.
// True when the rule's only code table holds `v` (a value it lacks may still pass valueOk, as
// the number of a numeric code).
inline bool inCodeTable(std::string_view v, const ValueTest& t) {
  if (t.values != ValueTest::kOneCodeTable) return false;
  if (v.size() == 1) {
    // One-byte codes, the most common, without a call.
    const auto c = static_cast<unsigned char>(v[0]);
    return ((t.codes->oneByteCodes[c >> 6] >> (c & 63)) & 1U) != 0;
  }
  return t.codes->has(v);
}

// What faultOf gives for a value of 1 to 15 bytes against a digitRange rule: length,
// characters and range in one pass.
inline Fault digitRangeFault(std::string_view v, const ValueTest& t) noexcept {
  const auto size = static_cast<std::int64_t>(v.size());
  if (size < t.minLength || size > t.maxLength) return Fault::kLength;
  long long n = 0;
  for (unsigned char c : v) {
    const unsigned d = c - static_cast<unsigned>('0');
    if (d > 9) return Fault::kCharset;
    n = n * 10 + d;
  }
  return n < t.low || n > t.high ? Fault::kValue : Fault::kNone;
}

inline Fault faultOf(std::string_view v, const ValueTest& t, const FieldRule& r) {
  const int len = lengthOf(v, t.utf8);
  if (len < t.minLength || len > t.maxLength) return Fault::kLength;
  if (t.digitsOnly && !v.empty()) {
    // Digits only: one pass checks the characters and reads the number.
    std::uint64_t n = 0;
    for (unsigned char c : v) {
      const unsigned d = c - static_cast<unsigned>('0');
      if (d > 9) return Fault::kCharset;
      n = n * 10 + d;
    }
    if (t.values == ValueTest::kWholeRange && v.size() <= 15) {
      const auto whole = static_cast<long long>(n);
      if (whole < t.low || whole > t.high) return Fault::kValue;
    } else if (t.values != ValueTest::kAnyValue && !inCodeTable(v, t) && !valueOk(v, r)) {
      return Fault::kValue;
    }
  } else {
    if (t.chars) {
      for (unsigned char c : v) {
        if (((t.allowed[c >> 6] >> (c & 63)) & 1U) == 0) return Fault::kCharset;
      }
    }
    if (t.values != ValueTest::kAnyValue) {
      long long whole = 0;
      if (t.values == ValueTest::kWholeRange && wholeNumber(v, whole)) {
        if (whole < t.low || whole > t.high) return Fault::kValue;
      } else if (!inCodeTable(v, t) && !valueOk(v, r)) {
        return Fault::kValue;
      }
    }
  }
  if (!t.pattern) return Fault::kNone;
  if (r.fixedPattern.empty()) return patternOk(v, r) ? Fault::kNone : Fault::kPattern;
  if (v.size() != r.fixedPattern.size()) return Fault::kPattern;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (!r.fixedPattern[i][static_cast<unsigned char>(v[i])]) return Fault::kPattern;
  }
  return Fault::kNone;
}

// "record N (Type-T, IDC x)", the IDC part only when there is one.
void appendRecordLabel(std::string& s, int position, int type, std::string_view idc) {
  s += "record ";
  s += std::to_string(position);
  s += " (Type-";
  s += std::to_string(type);
  if (!idc.empty()) {
    s += ", IDC ";
    s += idc;
  }
  s += ')';
}

struct RecordInfo {
  const Record* rec = nullptr;
  int position = 0;
  std::string idc;
  mutable std::string label;  // "record N (Type-T, IDC x)", made for the first finding
};

}  // namespace

namespace detail {

class Checker {
 public:
  Checker(const transaction::NistFile& file, const Profile& profile, FindingList& out)
      : tx_(*file.transaction()), profile_(profile), out_(out) {
    // The version as 1.002 now says, which edits may have changed since the load.
    long long v = 0;
    version_ = !tx_.records.empty() && numberOf(firstText(tx_.records[0], 2), v)
                   ? static_cast<unsigned>(v)
                   : tx_.version;
    for (const Record& r : tx_.records) {
      if (r.type >= 0 && r.type < static_cast<int>(typeCounts_.size())) {
        ++typeCounts_[static_cast<std::size_t>(r.type)];
      }
    }
  }

  // Checks the transaction of `file`; a failure takes back the findings added so far.
  static int check(const transaction::NistFile& file, const Profile& profile, FindingList& out) {
    const std::size_t notes = out.notes_.size();
    const std::size_t made = out.made_.size();
    const std::size_t texts = out.texts_.size();
    try {
      Checker(file, profile, out).run();
      return 0;
    } catch (const std::bad_alloc&) {
      out.notes_.resize(notes);
      out.made_.resize(made);
      out.texts_.resize(texts);
      return kOutOfMemory;
    }
  }

  void run() {
    const auto& recs = tx_.records;
    std::map<std::pair<int, std::string>, int> idcs;  // (type, IDC) -> first position
    for (std::size_t i = 0; i < recs.size(); ++i) {
      RecordInfo info;
      info.rec = &recs[i];
      info.position = static_cast<int>(i);
      if (recs[i].type != 1) info.idc = std::string(firstText(recs[i], 2));
      checkRecordStructure(info, idcs);
      checkFields(info);
      if (recs[i].type == 9) checkMinutiae(info);
      checkImage(info);
    }
    if (recs.empty() || recs[0].type != 1) {
      add(Severity::kError, "structure", nullptr, 0, "", "a Type-1 record first", "",
          "the transaction does not start with a Type-1 record");
    } else {
      checkCnt();
    }
    for (int type = 1; type <= 99; ++type) {
      const RecordRule* found = profile_.record(type);
      if (!found) continue;
      const RecordRule& rule = *found;
      const int n = countOfType(type);
      if (rule.minCount >= 0 && n < rule.minCount) {
        add(Severity::kError, "presence", nullptr, 0, "",
            "at least " + std::to_string(rule.minCount), std::to_string(n),
            "the transaction has " + std::to_string(n) + " Type-" + std::to_string(type) +
                " record(s), at least " + std::to_string(rule.minCount) + " required");
      }
      if (rule.maxCount >= 0 && n > rule.maxCount) {
        add(Severity::kError, "presence", nullptr, 0, "",
            "at most " + std::to_string(rule.maxCount), std::to_string(n),
            "the transaction has " + std::to_string(n) + " Type-" + std::to_string(type) +
                " record(s), at most " + std::to_string(rule.maxCount) + " allowed");
      }
    }
  }

 private:
  static const std::string& recordLabel(const RecordInfo& info) {
    if (info.label.empty()) {
      std::string& s = info.label;
      s.reserve(32 + info.idc.size());
      appendRecordLabel(s, info.position, info.rec->type, info.idc);
    }
    return info.label;
  }

  // A new finding made at once, in its place among the others.
  Finding& made() {
    out_.made_.emplace_back();
    try {
      FindingList::Note& n = out_.notes_.emplace_back();
      n.made = static_cast<int>(out_.made_.size() - 1);
      n.severity = Severity::kError;
    } catch (...) {
      out_.made_.pop_back();
      throw;
    }
    return out_.made_.back();
  }

  // Starts a finding about a record. Its message is built in text_, which holds
  // "T.FFF MNEMONIC: " (with a field) or "record N (Type-T, IDC x): " (without) ready for the
  // body, and is copied to the finding by close(): a copy of the finished text takes no more
  // memory than it needs.
  Finding& open(Severity sev, std::string_view check, const RecordInfo& info, int field,
                std::string_view mnemonic) {
    Finding& f = made();
    out_.notes_.back().severity = sev;
    f.severity = sev;
    f.check = check;
    f.recordType = info.rec->type;
    f.recordPosition = info.position;
    f.idc = info.idc;
    f.field = field;
    f.mnemonic = mnemonic;
    MessageText& m = text_;
    m.clear();
    if (field > 0) {
      char buf[32];
      m.append(buf, fieldName(buf, info.rec->type, field));
      if (!mnemonic.empty()) {
        m += ' ';
        m += mnemonic;
      }
      if (info.position > 0 && countOfType(info.rec->type) > 1) {
        m.append(" in ", 4);
        m += recordLabel(info);
      }
    } else {
      m += recordLabel(info);
    }
    m.append(": ", 2);
    return f;
  }

  void close(Finding& f) { f.message = text_.view(); }

  // Adds a finding. With a record and a field, the message starts "T.FFF MNEMONIC: "; with a
  // record only, "record N (Type-T, IDC x): ".
  void add(Severity sev, std::string_view check, const RecordInfo* info, int field,
           std::string_view mnemonic, std::string expected, std::string found,
           std::string_view body) {
    if (info) {
      Finding& f = open(sev, check, *info, field, mnemonic);
      text_ += body;
      close(f);
      f.expected = std::move(expected);
      f.found = std::move(found);
      return;
    }
    Finding& f = made();
    out_.notes_.back().severity = sev;
    f.severity = sev;
    f.check = check;
    f.message = body;
    f.field = field;
    f.mnemonic = mnemonic;
    f.expected = std::move(expected);
    f.found = std::move(found);
  }

  int countOfType(int type) {
    if (type >= 0 && type < static_cast<int>(typeCounts_.size())) {
      return typeCounts_[static_cast<std::size_t>(type)];
    }
    int n = 0;
    for (const Record& r : tx_.records) n += r.type == type;
    return n;
  }

  void checkRecordStructure(const RecordInfo& info,
                            std::map<std::pair<int, std::string>, int>& idcs) {
    const Record& r = *info.rec;
    if (r.type == 1 && info.position != 0) {
      add(Severity::kError, "structure", &info, 0, "", "one Type-1 record, first", "another",
          "a second Type-1 record");
    }
    if (profile_.deprecated(r.type, version_)) {
      add(Severity::kError, "structure", &info, 0, "", "a current record type",
          "Type-" + std::to_string(r.type),
          "Type-" + std::to_string(r.type) + " records are deprecated in version " +
              std::string(firstText(tx_.records[0], 2)));
    }
    // LEN: the declared length against the bytes the record holds. XML has no LEN to check.
    if (!tx_.loadedFromXml) {
      const Field* len = transaction::findField(r, 1);
      if (!len) {
        add(Severity::kError, "structure", &info, 1, "LEN", "a LEN field", "none",
            "missing; every record starts with its length");
      } else {
        long long declared = 0;
        const std::string_view text = itemText(*len, 0, 0);
        const bool numeric = numberOf(text, declared);
        if (!numeric) {
          add(Severity::kError, "structure", &info, 1, "LEN", "a decimal length", quoted(text),
              "expected a decimal length, found " + quoted(text));
        } else if (r.declaredLength >= 0 && declared != r.byteTotal) {
          add(Severity::kError, "structure", &info, 1, "LEN", std::to_string(r.byteTotal),
              std::to_string(declared),
              "says " + std::to_string(declared) + " bytes, the record holds " +
                  std::to_string(r.byteTotal));
        }
      }
    }
    if (r.type != 1) {
      const Field* idc = transaction::findField(r, 2);
      long long n = 0;
      if (!idc) {
        add(Severity::kError, "structure", &info, 2, "IDC", "an IDC", "none", "missing");
      } else if (!numberOf(info.idc, n)) {
        add(Severity::kError, "structure", &info, 2, "IDC", "a decimal IDC", quoted(info.idc),
            "expected a decimal number, found " + quoted(info.idc));
      } else {
        auto key = std::make_pair(r.type, std::to_string(n));
        auto [it, fresh] = idcs.emplace(key, info.position);
        if (!fresh) {
          // Records of one type share an IDC only when they hold one sample in several forms.
          add(Severity::kWarning, "structure", &info, 2, "IDC",
              "an IDC unique among Type-" + std::to_string(r.type) + " records", info.idc,
              "IDC " + info.idc + " is also used by record " + std::to_string(it->second) +
                  " of the same type");
        }
      }
    }
    // The image of a fingerprint or palm record may be left out only for an amputated or
    // unprintable position, which the AMP field (x.018) then states.
    if ((r.type == 14 || r.type == 15 || r.type == 16) && !transaction::findField(r, 999) &&
        (r.type == 16 || !transaction::findField(r, 18))) {
      add(Severity::kError, "presence", &info, 0, "", fieldName(r.type, 999), "none",
          "has no " + fieldName(r.type, 999) +
              (r.type == 16 ? std::string() : " and no " + fieldName(r.type, 18) + " AMP"));
    }
    if (!r.hasFs) return;  // binary records: fields are numbered in file order
    int last = 0;
    int shortTags = 0;
    std::string firstShort;
    // Field numbers met so far: the usual ones in a bit set, others (up to 9 digits) aside.
    std::bitset<1000> seenLow;
    std::set<int> seenHigh;
    const auto seen = [&](int n) {
      return n >= 0 && n < 1000 ? seenLow.test(static_cast<std::size_t>(n))
                                : seenHigh.count(n) != 0;
    };
    const int dataField = transaction::imageDataFieldNumber(r);
    for (std::size_t i = 0; i < r.fields.size(); ++i) {
      const Field& f = r.fields[i];
      if (f.recordType != r.type) {
        add(Severity::kError, "structure", &info, f.fieldNumber, "",
            "a tag of record type " + std::to_string(r.type), quoted(f.tag),
            "tagged " + quoted(f.tag) + " in a Type-" + std::to_string(r.type) + " record");
      } else if (f.fieldNumber == last || seen(f.fieldNumber)) {
        add(Severity::kError, "structure", &info, f.fieldNumber, "", "one field of each number",
            quoted(f.tag), "appears twice");
      } else if (f.fieldNumber < last) {
        // Readers find fields by number; only LEN and IDC have fixed places.
        recordNote(info, f, f.tag, NoteKind::kFieldOrder, Severity::kWarning).subfield = last;
      }
      if (f.fieldNumber >= 0 && f.fieldNumber < 1000) {
        seenLow.set(static_cast<std::size_t>(f.fieldNumber));
      } else {
        seenHigh.insert(f.fieldNumber);
      }
      if (f.recordType == r.type) last = std::max(last, f.fieldNumber);
      const std::size_t dot = f.tag.find('.');
      if (dot != std::string::npos && f.tag.size() >= dot + 2 && f.tag.size() - dot - 2 < 3) {
        if (shortTags++ == 0) firstShort = f.tag;
      }
      // A subfield separator with nothing after it leaves an empty last subfield behind.
      // (An empty last item is how an optional item is left out, and is fine.)
      if (f.fieldNumber != dataField && f.subfields.size() > 1) {
        const auto& lastSub = f.subfields[f.subfields.size() - 1];
        if (lastSub.items.size() == 1 && lastSub.items[0].value.empty()) {
          add(Severity::kWarning, "structure", &info, f.fieldNumber, "", "no separator at the end",
              "RS", "a subfield separator with nothing after it");
        }
      }
      if (i == 0 && f.fieldNumber != 1) {
        add(Severity::kError, "structure", &info, f.fieldNumber, "", "LEN first", quoted(f.tag),
            "the record does not start with its LEN field");
      }
      if (dataField == 999 && f.fieldNumber == 999 && i + 1 != r.fields.size()) {
        add(Severity::kError, "structure", &info, 999, "DATA", "the last field", "not last",
            "the image data field is not the last field of the record");
      }
    }
    if (shortTags > 0) {
      add(Severity::kWarning, "structure", &info, 0, "", "3-digit field numbers in tags",
          quoted(firstShort),
          std::to_string(shortTags) + " tag(s) with fewer than 3 digits of field number, such as " +
              quoted(firstShort));
    }
  }

  void checkCnt() {
    const Record& t1 = tx_.records[0];
    const RecordInfo info{&t1, 0, {}, {}};
    const Field* cnt = transaction::findField(t1, 3);
    if (!cnt) return;  // reported as a missing mandatory field
    const std::size_t records = tx_.records.size();
    long long n = 0;
    const std::string_view first = itemText(*cnt, 0, 0);
    const std::string_view count = itemText(*cnt, 0, 1);
    if (first != "1") {
      add(Severity::kError, "structure", &info, 3, "CNT", "'1'", quoted(first),
          "first subfield: expected record type '1', found " + quoted(first));
    }
    if (!numberOf(count, n) || static_cast<std::size_t>(n) + 1 != records) {
      add(Severity::kError, "structure", &info, 3, "CNT", std::to_string(records - 1),
          quoted(count),
          "counts " + quoted(count) + " records after the Type-1 record, the transaction holds " +
              std::to_string(records - 1));
    }
    const std::size_t entries = cnt->subfields.size();
    if (entries != records) {
      add(Severity::kError, "structure", &info, 3, "CNT", std::to_string(records) + " subfields",
          std::to_string(entries),
          std::to_string(entries) + " subfields for " + std::to_string(records) + " records");
    }
    int reported = 0;
    for (std::size_t i = 1; i < std::min(entries, records); ++i) {
      const Record& r = tx_.records[i];
      long long type = 0;
      long long idc = 0;
      long long recIdc = 0;
      const std::string_view typeText = itemText(*cnt, i, 0);
      const std::string_view idcText = itemText(*cnt, i, 1);
      const std::string_view recIdcText = firstText(r, 2);
      std::string problem;
      if (!numberOf(typeText, type) || type != r.type) {
        problem = "names type " + quoted(typeText) + " for record " + std::to_string(i) +
                  ", a Type-" + std::to_string(r.type) + " record";
      } else if (numberOf(recIdcText, recIdc) && (!numberOf(idcText, idc) || idc != recIdc)) {
        problem = "names IDC " + quoted(idcText) + " for record " + std::to_string(i) +
                  ", whose 2.002 IDC is " + quoted(recIdcText);
        problem.replace(problem.find("2.002"), 5, fieldName(r.type, 2));
      }
      if (!problem.empty() && reported++ < kMaxFindingsPerField) {
        add(Severity::kError, "structure", &info, 3, "CNT", "", "", problem);
      }
    }
  }

  // The rule of field `number` in a record of `type`, when it is to be checked.
  const FieldRule* ruleOf(int type, int number) const noexcept {
    const FieldRule* r = profile_.field(type, number);
    return r && !r->ignored ? r : nullptr;
  }

  void checkFields(const RecordInfo& info) {
    const Record& r = *info.rec;
    if (!profile_.coversType(r.type)) return;
    const bool binary = !r.hasFs;
    // Presence: every mandatory field of the type.
    for (const int number : profile_.mandatoryFields(r.type)) {
      if (tx_.loadedFromXml && (number == 1 || (r.type == 1 && number == 3))) continue;
      if (transaction::findField(r, number) == nullptr) {
        add(Severity::kError, "presence", &info, number, profile_.field(r.type, number)->mnemonic,
            "present", "missing", "missing; the field is mandatory");
      }
    }
    const int dataField = transaction::imageDataFieldNumber(r);
    // Fields mostly come in ascending order, as the rules do: a cursor walks the rules of the
    // type along with them, and a field out of order is looked up.
    const auto& rules = profile_.fields();
    const bool usualType = r.type >= 0 && r.type < 100;
    const int typeKey = usualType ? r.type * 10000 : 0;  // the profile's key: type * 10000 + field
    auto cursor = usualType ? rules.lower_bound(typeKey) : rules.end();
    for (const Field& f : r.fields) {
      if (f.recordType != r.type) continue;
      const FieldRule* rule = nullptr;
      if (usualType && f.fieldNumber >= 0 && f.fieldNumber < 10000 && cursor != rules.end() &&
          cursor->first <= typeKey + f.fieldNumber) {
        const int k = typeKey + f.fieldNumber;
        while (cursor != rules.end() && cursor->first < k) ++cursor;
        if (cursor != rules.end() && cursor->first == k && !cursor->second.ignored) {
          rule = &cursor->second;
        }
      } else {
        rule = ruleOf(r.type, f.fieldNumber);
      }
      if (!rule) continue;
      fieldFindings_ = 0;
      hiddenWorst_ = Severity::kWarning;
      if (f.fieldNumber == dataField && dataField != 0) {
        const auto bytes = itemText(f, 0, 0);
        if (bytes.empty() && rule->minLength > 0) {
          add(Severity::kError, "length", &info, f.fieldNumber, rule->mnemonic, "image data",
              "0 bytes", "holds no image data");
        }
        continue;
      }
      if (tx_.loadedFromXml && rule->traditionalOnly) continue;
      if (binary) {
        checkBinaryField(info, f, *rule);
      } else {
        checkTaggedField(info, f, *rule);
      }
      if (fieldFindings_ > kMaxFindingsPerField) {
        FindingList::Note& n = recordNote(info, f, {}, NoteKind::kNotListed, hiddenWorst_);
        n.field = rule;
        n.subfield = fieldFindings_ - kMaxFindingsPerField;
      }
    }
  }

  void occurrences(const RecordInfo& info, const Field& f, const FieldRule& rule, int n,
                   std::string_view unit) {
    if (rule.maxOccur >= 0 && n > rule.maxOccur) {
      add(Severity::kError, "occurrence", &info, f.fieldNumber, rule.mnemonic,
          "at most " + std::to_string(rule.maxOccur), std::to_string(n),
          std::to_string(n) + " " + std::string(unit) + ", at most " +
              std::to_string(rule.maxOccur) + " allowed");
    } else if (rule.minOccur > 0 && n < rule.minOccur) {
      add(Severity::kError, "occurrence", &info, f.fieldNumber, rule.mnemonic,
          "at least " + std::to_string(rule.minOccur), std::to_string(n),
          std::to_string(n) + " " + std::string(unit) + ", at least " +
              std::to_string(rule.minOccur) + " required");
    }
  }

  void checkBinaryField(const RecordInfo& info, const Field& f, const FieldRule& rule) {
    const int n = f.subfields.empty() ? 0 : static_cast<int>(f.subfields[0].items.size());
    occurrences(info, f, rule, n, "values");
    if (f.subfields.empty()) return;
    for (const auto& item : f.subfields[0].items) {
      // Binary values are numbers; their length is the width they take in the record.
      if (rule.minLength >= 0 && rule.maxLength >= 0 &&
          (item.byteCount < rule.minLength || item.byteCount > rule.maxLength)) {
        note(info, f, rule, "length", widthWords(rule), std::to_string(item.byteCount),
             "a " + std::to_string(item.byteCount) + "-byte value, expected " + widthWords(rule));
      }
      if (!item.value.empty() && !valueOk(item.value, rule)) {
        note(info, f, rule, "value", rule.valuesText, item.value,
             "expected " + rule.valuesText + ", found " + item.value,
             rule.severity < 0 ? profile_.valueSeverity() : static_cast<Severity>(rule.severity));
      }
    }
  }

  static std::string widthWords(const FieldRule& r) {
    return r.minLength == r.maxLength
               ? std::to_string(r.minLength) + " bytes"
               : std::to_string(r.minLength) + " to " + std::to_string(r.maxLength) + " bytes";
  }

  // Where in a field a value stands; its texts are built only for a finding.
  struct Place {
    int subfield = 0;      // 0-based
    bool several = false;  // the field has more than one subfield
    const FieldRule* item = nullptr;
    // "item X", the name of an item without a mnemonic of its own.
    char anonymous[6] = {'i', 't', 'e', 'm', ' ', 0};
    void setItem(const FieldRule* rule, char letter) noexcept {
      item = rule;
      anonymous[5] = letter;
    }
    [[nodiscard]] std::string where() const {
      return several ? "subfield " + std::to_string(subfield + 1) + ": " : std::string();
    }
    // Borrowed from the rule or from this place.
    [[nodiscard]] std::string_view name(const FieldRule& field) const {
      if (!item) return field.mnemonic;
      return item->mnemonic.empty() ? std::string_view(anonymous, sizeof anonymous)
                                    : std::string_view(item->mnemonic);
    }
    // "subfield 2: FIC " for an item, "subfield 2: " for a plain field.
    [[nodiscard]] std::string lead(const FieldRule& field) const {
      return item ? where() + std::string(name(field)) + " " : where();
    }
  };

  void checkTaggedField(const RecordInfo& info, const Field& f, const FieldRule& rule) {
    const int subs = static_cast<int>(f.subfields.size());
    if ((rule.maxOccur >= 0 && subs > rule.maxOccur) ||
        (rule.minOccur > 0 && subs < rule.minOccur)) {
      occurrences(info, f, rule, subs, subs == 1 ? "subfield" : "subfields");
    }
    Place at;
    at.several = subs > 1;
    const bool fromXml = tx_.loadedFromXml;
    for (int s = 0; s < subs; ++s) {
      const auto& sub = f.subfields[static_cast<std::size_t>(s)];
      const int items = static_cast<int>(sub.items.size());
      at.subfield = s;
      at.item = nullptr;
      if (rule.itemCount == 0) {
        if (items > 1 && admit(info, f, Check::kOther, Severity::kError)) {
          add(Severity::kError, "structure", &info, f.fieldNumber, rule.mnemonic, "1 item",
              std::to_string(items),
              at.where() + std::to_string(items) + " items, the field has one");
        }
        if (items == 0) continue;
        if (const Fault fault = faultOf(sub.items[0].value, rule.test, rule);
            fault != Fault::kNone) {
          checkValue(info, f, rule, rule, at, sub.items[0].value, fault);
        }
        continue;
      }
      if (items > rule.itemCount && !rule.repeatingItems &&
          admit(info, f, Check::kOther, Severity::kError)) {
        add(Severity::kError, "structure", &info, f.fieldNumber, rule.mnemonic,
            std::to_string(rule.itemCount) + " items", std::to_string(items),
            at.where() + std::to_string(items) + " items, at most " +
                std::to_string(rule.itemCount) + " defined");
      }
      const transaction::Item* values = sub.items.data();
      for (const ItemSlot& slot : rule.checkedItems) {
        if (fromXml && slot.traditionalOnly) continue;
        const int i = slot.index;
        const FieldRule& ir = rule.items[slot.index];
        if (i >= items) {
          if (slot.mandatory && admit(info, f, Check::kPresence, Severity::kError)) {
            at.setItem(&ir, static_cast<char>('A' + i));
            const std::string name(at.name(rule));
            add(Severity::kError, "presence", &info, f.fieldNumber, rule.mnemonic, "present",
                "missing", at.where() + "item " + name + " is missing; it is mandatory");
          }
          continue;
        }
        const std::string_view v = values[i].value;
        if (v.empty() && !slot.mandatory) continue;
        const bool quick = slot.test.digitRange && !v.empty() && v.size() <= 15;
        if (const Fault fault = quick ? digitRangeFault(v, slot.test) : faultOf(v, slot.test, ir);
            fault != Fault::kNone) {
          at.setItem(&ir, static_cast<char>('A' + i));
          checkValue(info, f, rule, ir, at, v, fault);
        }
      }
    }
  }

  // Reports the fault `fault` of one value against `rule` (the field's own, or one of its
  // items').
  // Kept small: most faults of a field with many are past the ones listed and only counted.
  void checkValue(const RecordInfo& info, const Field& f, const FieldRule& field,
                  const FieldRule& rule, const Place& at, std::string_view v, Fault fault) {
    unsigned char bad = 0;
    const Severity sev = adjust(info, f, Check::kOther, severityOf(rule, v, fault, bad));
    if (!admit(info, f, Check::kOther, sev)) return;
    noteValue(info, f, field, rule, at, v, fault, sev, bad);
  }

  // The severity of a fault of `v` against `rule`; for a character fault, `bad` receives the
  // first character not allowed.
  [[nodiscard]] Severity severityOf(const FieldRule& rule, std::string_view v, Fault fault,
                                    unsigned char& bad) const noexcept {
    const Severity form =
        rule.severity < 0 ? Severity::kError : static_cast<Severity>(rule.severity);
    const Severity content =
        rule.severity < 0 ? profile_.valueSeverity() : static_cast<Severity>(rule.severity);
    if (fault == Fault::kLength) return form;
    if (fault != Fault::kCharset) return content;
    (void)charsOk(v, rule, bad);
    return bad < 0x20 && rule.dataType == "U" ? Severity::kWarning : form;
  }

  // Records the finding of a fault that is listed.
  void noteValue(const RecordInfo& info, const Field& f, const FieldRule& field,
                 const FieldRule& rule, const Place& at, std::string_view v, Fault fault,
                 Severity sev, unsigned char bad) {
    FindingList::Note& n = recordNote(info, f, v, static_cast<NoteKind>(fault), sev);
    n.field = &field;
    n.rule = &rule;
    n.item = at.item;
    n.subfield = at.subfield;
    n.bad = bad;
    n.letter = at.anonymous[5];
    n.several = at.several;
  }

  // Records a finding whose texts wait until asked for: only what they are made from is kept,
  // here the finding's place and the shown part of `v`; the caller fills in the rest.
  FindingList::Note& recordNote(const RecordInfo& info, const Field& f, std::string_view v,
                                NoteKind kind, Severity sev) {
    const std::string_view shown = v.substr(0, kMaxQuoted);
    const std::size_t at0 = out_.texts_.size();
    out_.texts_ += shown;
    out_.texts_ += info.idc;
    FindingList::Note& n = out_.notes_.emplace_back();
    n.recordType = info.rec->type;
    n.recordPosition = info.position;
    n.fieldNumber = f.fieldNumber;
    n.textAt = at0;
    n.valueSize = static_cast<std::uint16_t>(shown.size());
    n.idcSize = info.idc.size();
    n.severity = sev;
    n.kind = static_cast<std::uint8_t>(kind);
    n.inRecord = info.position > 0 && countOfType(info.rec->type) > 1;
    n.longer = v.size() > kMaxQuoted;
    return n;
  }

  // The table describes the 2011 edition; what older transactions write differently in a
  // field's content is worth a warning, not an error. The version field itself is exempt.
  [[nodiscard]] Severity adjust(const RecordInfo& info, const Field& f, Check check,
                                Severity sev) const noexcept {
    if (version_ < kFirst2011Version && check != Check::kPresence &&
        !(info.rec->type == 1 && f.fieldNumber == 2)) {
      return Severity::kWarning;
    }
    return sev;
  }

  // Counts a finding of the current field; false when it is past the ones listed.
  bool admit(const RecordInfo& info, const Field& f, Check check, Severity sev) {
    sev = adjust(info, f, check, sev);
    if (++fieldFindings_ <= kMaxFindingsPerField) return true;
    if (sev == Severity::kError) hiddenWorst_ = Severity::kError;
    return false;
  }

  // A length or value finding about a binary field's value.
  void note(const RecordInfo& info, const Field& f, const FieldRule& rule, std::string_view check,
            std::string expected, std::string found, std::string_view body,
            Severity sev = Severity::kError) {
    sev = adjust(info, f, Check::kOther, sev);
    if (!admit(info, f, Check::kOther, sev)) return;
    add(sev, check, &info, f.fieldNumber, rule.mnemonic, std::move(expected), std::move(found),
        body);
  }

  // The minutiae count of a Type-9 record against the minutiae it lists: MIN (9.010) against
  // MRC (9.012), and the FBI IAFIS block's NMN (9.020... 9.023).
  void checkMinutiae(const RecordInfo& info) {
    const Record& r = *info.rec;
    static constexpr struct {
      int countField;
      const char* countName;
      int listField;
      const char* listName;
    } kPairs[] = {{10, "MIN", 12, "MRC"}};
    for (const auto& p : kPairs) {
      const Field* count = transaction::findField(r, p.countField);
      const Field* list = transaction::findField(r, p.listField);
      long long n = 0;
      if (!count || !numberOf(itemText(*count, 0, 0), n)) continue;
      const long long listed = list ? static_cast<long long>(list->subfields.size()) : 0;
      if (n != listed) {
        add(Severity::kError, "minutiae", &info, p.countField, p.countName, std::to_string(listed),
            std::to_string(n),
            "counts " + std::to_string(n) + " minutiae, " + fieldName(9, p.listField) + " " +
                p.listName + " lists " + std::to_string(listed));
      }
    }
  }

  // What codeOfName and jfifPpi give when the text names no code or the stream has no density.
  static constexpr int kNoCode = -1;
  static constexpr int kNoDensity = -1;

  static int codeOfName(std::string_view t) noexcept {
    if (t == "0" || t == "NONE") return 0;
    if (t == "1" || t == "WSQ20" || t == "WSQ") return 1;
    if (t == "2" || t == "JPEGB") return 2;
    if (t == "3" || t == "JPEGL") return 3;
    if (t == "4" || t == "JP2") return 4;
    if (t == "5" || t == "JP2L") return 5;
    if (t == "6" || t == "PNG") return 6;
    return kNoCode;
  }

  static std::string_view nameOfCode(int c) noexcept {
    static constexpr std::string_view kNames[] = {"NONE", "WSQ20", "JPEGB", "JPEGL",
                                                  "JP2",  "JP2L",  "PNG"};
    return c >= 0 && c < 7 ? kNames[c] : std::string_view("unknown");
  }

  // JFIF density of a JPEG stream in pixels per inch, or kNoDensity.
  static int jfifPpi(std::span<const std::uint8_t> d) noexcept {
    if (d.size() < 18 || d[0] != 0xFF || d[1] != 0xD8 || d[2] != 0xFF || d[3] != 0xE0)
      return kNoDensity;
    if (d[6] != 'J' || d[7] != 'F' || d[8] != 'I' || d[9] != 'F' || d[10] != 0) return kNoDensity;
    const int unit = d[13];
    const int x = d[14] << 8 | d[15];
    if (unit == 1) return x;
    if (unit == 2) return static_cast<int>(std::lround(x * 2.54));
    return kNoDensity;
  }

  void checkImage(const RecordInfo& info) {
    const Record& r = *info.rec;
    const int type = r.type;
    const bool tagged = type == 10 || (type >= 13 && type <= 17) || type == 19;
    const bool binaryGrey = type == 3 || type == 4;
    if (!tagged && !binaryGrey) return;
    const int dataNumber = transaction::imageDataFieldNumber(r);
    const Field* data = transaction::findField(r, dataNumber);
    if (!data) return;
    const std::string_view raw = itemText(*data, 0, 0);
    if (raw.empty()) return;
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(raw.data()),
                                              raw.size());
    const int cgaField = tagged ? 11 : 8;
    const std::string_view cgaText = firstText(r, cgaField);
    const int declared = codeOfName(cgaText);
    const std::string_view cgaName = "CGA";
    // What the bytes are, and their own header.
    int actual = 0;
    int width = -1;
    int height = -1;
    int depth = -1;
    int ppi = -1;
    bool reversible = true;
    switch (imaging::sniffStream(bytes)) {
      case imaging::StreamKind::kWsq: {
        actual = 1;
        if (imaging::wsqReadFrame(bytes, width, height) < 0) width = height = -1;
        depth = 8;
        int p = -1;
        if (wsq::wsqReadPpi(bytes, p) == 0) ppi = p;
        break;
      }
      case imaging::StreamKind::kPng:
        actual = 6;
        if (imaging::pngReadHeader(bytes, width, height, depth) < 0) width = height = depth = -1;
        break;
      case imaging::StreamKind::kJpeg: {
        int marker = 0;
        int comps = 0;
        if (imaging::jpegFindFrame(bytes, marker, width, height, comps) == 0) {
          actual = marker == 0xC3 ? 3 : 2;
          depth = comps * 8;
        } else {
          actual = 2;
          width = height = -1;
        }
        ppi = jfifPpi(bytes);
        break;
      }
      case imaging::StreamKind::kJ2kCodestream:
      case imaging::StreamKind::kJp2File:
        actual = 4;
        if (imaging::jp2ReadHeader(bytes, width, height, depth, reversible) < 0) {
          width = height = depth = -1;
        }
        break;
      default:
        actual = 0;
        break;
    }
    if (declared >= 0) {
      const bool jp2Family = (declared == 4 || declared == 5) && actual == 4;
      // JPEGB and JPEGL data differ only by their frame marker, which a JPEG decoder reads
      // anyway: such a mismatch is worth a warning, one across formats is an error.
      const bool jpegFamily = (declared == 2 || declared == 3) && (actual == 2 || actual == 3);
      if (!jp2Family && declared != actual) {
        add(jpegFamily ? Severity::kWarning : Severity::kError, "image", &info, cgaField, cgaName,
            std::string(nameOfCode(actual)), std::string(cgaText),
            "says " + quoted(cgaText) + ", the image data are " +
                (actual == 0 ? std::string("of no known compressed format")
                             : std::string(nameOfCode(actual))));
        return;  // the header checks below would only repeat this
      }
      if (declared == 5 && actual == 4 && !reversible && width >= 0) {
        add(Severity::kWarning, "image", &info, cgaField, cgaName, "a reversible wavelet",
            "irreversible", "says JP2L, the JPEG 2000 data use the irreversible wavelet");
      }
    }
    long long hll = -1;
    long long vll = -1;
    const std::string_view hllText = firstText(r, 6);
    const std::string_view vllText = firstText(r, 7);
    const bool haveSize = numberOf(hllText, hll) && numberOf(vllText, vll);
    if (actual == 0) {
      // Uncompressed: the data length follows from the size and the bit depth.
      long long bpx = 8;
      if (tagged) {
        const std::string_view b = firstText(r, 12);
        if (!b.empty() && !numberOf(b, bpx)) return;
      }
      if (!haveSize || bpx <= 0 || declared != 0) return;
      const long long expected = (hll * bpx + 7) / 8 * vll;
      if (expected != static_cast<long long>(raw.size())) {
        add(Severity::kError, "image", &info, dataNumber, "DATA", std::to_string(expected),
            std::to_string(raw.size()),
            "holds " + std::to_string(raw.size()) + " bytes; " + std::to_string(hll) + " x " +
                std::to_string(vll) + " pixels at " + std::to_string(bpx) + " bits need " +
                std::to_string(expected));
      }
      return;
    }
    if (width > 0 && haveSize && (hll != width || vll != height)) {
      // Decoders take the size from the image itself; the fields only describe it.
      add(Severity::kWarning, "image", &info, hll != width ? 6 : 7, hll != width ? "HLL" : "VLL",
          std::to_string(width) + " x " + std::to_string(height),
          std::to_string(hll) + " x " + std::to_string(vll),
          "says " + std::to_string(hll != width ? hll : vll) + ", the image header says " +
              std::to_string(width) + " x " + std::to_string(height));
    }
    long long bpx = 0;
    if (tagged && depth > 0 && numberOf(firstText(r, 12), bpx) && bpx != depth) {
      add(Severity::kWarning, "image", &info, 12, "BPX", std::to_string(depth), std::to_string(bpx),
          "says " + std::to_string(bpx) + " bits per pixel, the image header says " +
              std::to_string(depth));
    }
    long long slc = 0;
    long long thps = 0;
    long long tvps = 0;
    if (tagged && ppi > 0 && numberOf(firstText(r, 8), slc) && (slc == 1 || slc == 2) &&
        numberOf(firstText(r, 9), thps) && numberOf(firstText(r, 10), tvps)) {
      const long long fieldPpi = slc == 1 ? thps : std::llround(thps * 2.54);
      const long long diff = fieldPpi > ppi ? fieldPpi - ppi : ppi - fieldPpi;
      if (diff > 1 && diff * 100 > ppi) {
        add(Severity::kWarning, "image", &info, 9, "THPS", std::to_string(ppi) + " ppi",
            std::to_string(fieldPpi) + " ppi",
            "gives " + std::to_string(fieldPpi) + " pixels per inch, the image itself says " +
                std::to_string(ppi));
      }
    }
  }

  const Transaction& tx_;
  const Profile& profile_;
  FindingList& out_;
  // Records of each type 0..99; other types are counted when asked.
  std::array<int, 100> typeCounts_{};
  // The message of the finding being built (see open).
  MessageText text_;
  unsigned version_ = 0;
  int fieldFindings_ = 0;
  Severity hiddenWorst_ = Severity::kWarning;
};

}  // namespace detail

namespace {

constexpr std::string_view kNoteChecks[] = {"",      "length", "charset",  "value",
                                            "value", "value",  "structure"};

}  // namespace

namespace detail {

// Makes the findings of a list with their texts, as the checker would have made them at once.
// The record label is made once for the findings of a record in a row.
class TextMaker {
 public:
  explicit TextMaker(const FindingList& list) : list_(list) {}

  void append(std::vector<Finding>& out) {
    out.reserve(out.size() + list_.notes_.size());
    for (const FindingList::Note& n : list_.notes_) {
      if (n.made >= 0) {
        out.push_back(list_.made_[static_cast<std::size_t>(n.made)]);
      } else {
        make(n, out.emplace_back());
      }
    }
  }

 private:
  void make(const FindingList::Note& n, Finding& f) {
    const auto kind = static_cast<NoteKind>(n.kind);
    const std::string_view texts = list_.texts_;
    const std::string_view value = texts.substr(n.textAt, n.valueSize);
    const std::string_view idc = texts.substr(n.textAt + n.valueSize, n.idcSize);
    // The value's or item's name, as the lead and the mnemonic give it.
    const char anonymous[6] = {'i', 't', 'e', 'm', ' ', n.letter};
    const std::string_view name = kind == NoteKind::kFieldOrder ? std::string_view()
                                  : !n.item                  ? std::string_view(n.field->mnemonic)
                                  : n.item->mnemonic.empty() ? std::string_view(anonymous, 6)
                                                             : std::string_view(n.item->mnemonic);
    f.severity = n.severity;
    f.check = kNoteChecks[n.kind];
    f.recordType = n.recordType;
    f.recordPosition = n.recordPosition;
    f.idc = idc;
    f.field = n.fieldNumber;
    f.mnemonic = name;
    std::string_view found;
    if (kind != NoteKind::kNotListed) {
      f.found.reserve(value.size() + 5);
      appendQuoted(f.found, value);
      if (n.longer) f.found.insert(f.found.size() - 1, "...");
      found = f.found;
    }
    typeText_.clear();
    std::string_view expected;
    switch (kind) {
      case NoteKind::kLength:
        expected = n.rule->lengthText;
        f.expected = expected;
        break;
      case NoteKind::kCharset:
        typeText_ = typeWords(*n.rule);
        expected = typeText_;
        f.expected = expected;
        break;
      case NoteKind::kValue:
        expected = n.rule->valuesText;
        f.expected = expected;
        break;
      case NoteKind::kPattern:
        f.expected = n.rule->patternText;
        typeText_ = "the form ";
        typeText_ += n.rule->pattern;
        expected = typeText_;
        break;
      case NoteKind::kFieldOrder:
        f.expected = "ascending field order";
        break;
      case NoteKind::kNotListed:
        break;
    }
    // The message is written in place into room for its longest form, then cut to size: one
    // allocation, no copies.
    const std::string_view where =
        n.inRecord || n.fieldNumber <= 0 ? label(n, idc) : std::string_view();
    std::string& m = f.message;
    m.resize(96 + 2 * name.size() + where.size() + expected.size() + found.size());
    char* const start = m.data();
    char* p = start;
    const auto put = [&p](std::string_view t) {
      std::memcpy(p, t.data(), t.size());
      p += t.size();
    };
    if (n.fieldNumber > 0) {
      p += fieldName(p, n.recordType, n.fieldNumber);
      if (!name.empty()) {
        *p++ = ' ';
        put(name);
      }
      if (n.inRecord) {
        put(" in ");
        put(where);
      }
    } else {
      put(where);
    }
    put(": ");
    if (kind == NoteKind::kNotListed) {
      p = std::to_chars(p, p + 12, n.subfield).ptr;
      put(" more findings not listed");
    } else if (kind == NoteKind::kFieldOrder) {
      put("comes after ");
      p += fieldName(p, n.recordType, n.subfield);
    } else {
      if (n.several) {
        put("subfield ");
        p = std::to_chars(p, p + 12, n.subfield + 1).ptr;
        put(": ");
      }
      if (n.item) {
        put(name);
        *p++ = ' ';
      }
      put("expected ");
      put(expected);
      put(", found ");
      if (kind == NoteKind::kCharset) {
        const unsigned char bad = n.bad;
        if (bad >= 0x20 && bad < 0x7F) {
          const char shown[3] = {'\'', static_cast<char>(bad), '\''};
          put(std::string_view(shown, 3));
        } else {
          static constexpr char kHex[] = "0123456789ABCDEF";
          const char esc[4] = {'\\', 'x', kHex[bad >> 4], kHex[bad & 15]};
          put(std::string_view(esc, 4));
        }
        put(" in ");
      }
      put(found);
    }
    m.resize(static_cast<std::size_t>(p - start));
  }

  // "record N (Type-T, IDC x)" of the note's record, made again only for another record.
  std::string_view label(const FindingList::Note& n, std::string_view idc) {
    if (n.recordPosition != labelPosition_ || n.recordType != labelType_ || labelIdc_ != idc) {
      label_.clear();
      appendRecordLabel(label_, n.recordPosition, n.recordType, idc);
      labelPosition_ = n.recordPosition;
      labelType_ = n.recordType;
      labelIdc_ = idc;
    }
    return label_;
  }

  const FindingList& list_;
  std::string typeText_;
  std::string label_;
  int labelPosition_ = -1;
  int labelType_ = -1;
  std::string_view labelIdc_;
};

}  // namespace detail

int FindingList::count(Severity s) const noexcept {
  int n = 0;
  for (const Note& x : notes_) n += x.severity == s;
  return n;
}

void FindingList::clear() noexcept {
  notes_.clear();
  made_.clear();
  texts_.clear();
}

int FindingList::appendTo(std::vector<Finding>& out) const noexcept {
  const std::size_t before = out.size();
  try {
    detail::TextMaker(*this).append(out);
    return 0;
  } catch (const std::bad_alloc&) {
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(before), out.end());
    return kOutOfMemory;
  }
}

int validateTransaction(const transaction::NistFile& file, const Profile& profile,
                        FindingList& out) noexcept {
  if (!file.transaction()) return transaction::kNoTransaction;
  return detail::Checker::check(file, profile, out);
}

int validateTransaction(const transaction::NistFile& file, const Profile& profile,
                        std::vector<Finding>& out) noexcept {
  FindingList list;
  if (int rc = validateTransaction(file, profile, list); rc < 0) return rc;
  return list.appendTo(out);
}

int countFindings(const std::vector<Finding>& findings, Severity s) noexcept {
  int n = 0;
  for (const Finding& f : findings) n += f.severity == s;
  return n;
}

}  // namespace varnel::rules::conformance
