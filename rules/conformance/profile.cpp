#include "rules/conformance/profile.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <unordered_map>

#include "transaction/field_table.h"

namespace varnel::rules::conformance {
namespace {

using transaction::FieldDefinition;

int key(int type, int field) noexcept { return type * 10000 + field; }

std::string_view trim(std::string_view s) noexcept {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

bool toInt(std::string_view s, long long& out) noexcept {
  s = trim(s);
  if (s.empty()) return false;
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, out);
  return ec == std::errc() && p == end;
}

// Removes ASCII and typographic double quotes around a token of a value range.
std::string unquote(std::string_view s) {
  s = trim(s);
  static constexpr std::string_view kOpen = "\xE2\x80\x9C";
  static constexpr std::string_view kClose = "\xE2\x80\x9D";
  for (int pass = 0; pass < 2; ++pass) {
    if (s.substr(0, 1) == "\"") s.remove_prefix(1);
    if (s.substr(0, 3) == kOpen || s.substr(0, 3) == kClose) s.remove_prefix(3);
    if (!s.empty() && s.back() == '"') s.remove_suffix(1);
    if (s.size() >= 3 && (s.substr(s.size() - 3) == kClose || s.substr(s.size() - 3) == kOpen)) {
      s.remove_suffix(3);
    }
  }
  return std::string(s);
}

bool toDouble(std::string_view s, double& out) noexcept {
  s = trim(s);
  if (s.empty()) return false;
  if (s.front() == '+') s.remove_prefix(1);
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, out);
  return ec == std::errc() && p == end;
}

// One token of a value range: "1..14", "1..", "..9", ">=1", "<60", "-180", "JP2".
bool parseSpan(const std::string& token, ValueSpan& span) {
  span = ValueSpan{};
  span.written = token;
  const std::string_view t = token;
  const std::size_t dots = t.find("..");
  if (dots != std::string_view::npos) {
    const std::string_view lo = trim(t.substr(0, dots));
    const std::string_view hi = trim(t.substr(dots + 2));
    span.numeric = true;
    span.low = -1e300;
    span.high = 1e300;
    if (!lo.empty() && !toDouble(lo, span.low)) return false;
    if (!hi.empty() && !toDouble(hi, span.high)) return false;
    span.oneSided = lo.empty() || hi.empty();
    return true;
  }
  if (t[0] == '<' || t[0] == '>') {
    const bool inclusive = t.size() > 1 && t[1] == '=';
    double v = 0;
    if (!toDouble(t.substr(inclusive ? 2 : 1), v)) return false;
    span.numeric = span.oneSided = true;
    span.low = t[0] == '>' ? v : -1e300;
    span.high = t[0] == '<' ? v : 1e300;
    span.lowOpen = t[0] == '>' && !inclusive;
    span.highOpen = t[0] == '<' && !inclusive;
    return true;
  }
  double v = 0;
  if (t.find_first_not_of("0123456789") == std::string_view::npos && toDouble(t, v)) {
    span.numeric = true;
    span.low = span.high = v;
    return true;
  }
  span.text = token;
  return true;
}

// Parses "{1..14}", "{0..4,128..999}", "{\"JP2\",\"WSQ20\"}", "{>1}", "1,5,9"; false when a
// token makes no sense.
bool parseRange(std::string_view text, std::vector<ValueSpan>& out) {
  text = trim(text);
  if (!text.empty() && text.front() == '{') text.remove_prefix(1);
  if (!text.empty() && text.back() == '}') text.remove_suffix(1);
  std::vector<ValueSpan> spans;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string token = unquote(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    if (token.empty()) continue;
    ValueSpan span;
    if (!parseSpan(token, span)) return false;
    spans.push_back(std::move(span));
  }
  out = std::move(spans);
  return true;
}

void splitTables(std::string_view text, std::vector<std::string>& out) {
  out.clear();
  while (!text.empty()) {
    const std::size_t semi = text.find(';');
    const std::string_view part = trim(text.substr(0, semi));
    if (!part.empty() && part != "none") out.emplace_back(part);
    text = semi == std::string_view::npos ? std::string_view{} : text.substr(semi + 1);
  }
}

bool compile(FieldRule& rule) {
  rule.compiled.reset();
  rule.matcher.reset();
  if (rule.pattern.empty()) return true;
  // The automaton accepts only patterns std::regex accepts too, and decides alike, at a
  // fraction of the cost; the rest still go to std::regex.
  rule.matcher = Pattern::compile(rule.pattern);
  if (rule.matcher) return true;
  try {
    rule.compiled = std::make_shared<const std::regex>(
        rule.pattern, std::regex::ECMAScript | std::regex::optimize);
  } catch (const std::regex_error&) {
    return false;
  }
  return true;
}

void fromDefinition(const FieldDefinition& d, FieldRule& r) {
  r.mnemonic = std::string(d.mnemonic);
  r.presence = d.condition.empty() ? 'O' : d.condition.front();
  r.dataType = std::string(d.dataType);
  r.specialChars = std::string(d.specialChars);
  const auto limit = [](int v) { return v == transaction::kUnbounded ? kNoLimit : v; };
  r.minLength = d.minLength;
  r.maxLength = limit(d.maxLength);
  r.minOccur = d.minOccur;
  r.maxOccur = limit(d.maxOccur);
  splitTables(d.codeTable, r.codeTables);
  if (!parseRange(d.valueRange, r.values)) r.values.clear();
  r.pattern = std::string(d.regex);
  if (!compile(r)) r.pattern.clear();
  r.traditionalOnly = d.encodings == "T" || d.encodings == "t";
}

// Reads "\\d{4}-\\d{2}" or "\\d{14}[A-HJ-NP-RT-Z]" as one character set per character; false
// for anything with alternatives, groups or repeats of variable length.
bool fixedPattern(std::string_view p, std::vector<std::array<bool, 256>>& out) {
  out.clear();
  std::size_t i = 0;
  while (i < p.size()) {
    std::array<bool, 256> set{};
    const char c = p[i];
    if (c == '\\' && i + 1 < p.size()) {
      const char e = p[i + 1];
      if (e == 'd') {
        for (int d = '0'; d <= '9'; ++d) set[static_cast<std::size_t>(d)] = true;
      } else if (std::string_view(".-/:,_ ").find(e) != std::string_view::npos) {
        set[static_cast<unsigned char>(e)] = true;
      } else {
        return false;
      }
      i += 2;
    } else if (c == '[') {
      const std::size_t end = p.find(']', i);
      if (end == std::string_view::npos || p[i + 1] == '^') return false;
      for (std::size_t j = i + 1; j < end; ++j) {
        if (j + 2 < end && p[j + 1] == '-') {
          for (int x = static_cast<unsigned char>(p[j]); x <= static_cast<unsigned char>(p[j + 2]);
               ++x) {
            set[static_cast<std::size_t>(x)] = true;
          }
          j += 2;
        } else if (p[j] == '\\') {
          return false;
        } else {
          set[static_cast<unsigned char>(p[j])] = true;
        }
      }
      i = end + 1;
    } else if (std::string_view("()|*+?{}^$.").find(c) != std::string_view::npos) {
      return false;
    } else {
      set[static_cast<unsigned char>(c)] = true;
      ++i;
    }
    int repeat = 1;
    if (i < p.size() && p[i] == '{') {
      const std::size_t close = p.find('}', i);
      long long n = 0;
      if (close == std::string_view::npos || !toInt(p.substr(i + 1, close - i - 1), n) || n < 0 ||
          n > 1000) {
        return false;
      }
      repeat = static_cast<int>(n);
      i = close + 1;
    }
    if (i < p.size() && std::string_view("*+?").find(p[i]) != std::string_view::npos) return false;
    out.insert(out.end(), static_cast<std::size_t>(repeat), set);
  }
  return true;
}

// Code tables by name, built once from the table.
const std::unordered_map<std::string_view, CodeSet>& codeSets() {
  static const auto kTables = [] {
    std::unordered_map<std::string_view, CodeSet> t;
    for (const auto& c : transaction::codeDefinitions()) {
      std::string_view code = c.code;
      while (!code.empty() && code.front() == ' ') code.remove_prefix(1);
      CodeSet& table = t[c.table];
      if (table.codes.insert(code).second) {
        table.list.push_back(code);
        if (code.size() <= CodeSet::kShortCode) table.shortCodes.push_back(CodeSet::pack(code));
        if (code.size() == 1) {
          const auto b = static_cast<unsigned char>(code[0]);
          table.oneByteCodes[b >> 6] |= std::uint64_t{1} << (b & 63);
        }
      }
      if (!code.empty() && code.size() <= 18 &&
          code.find_first_not_of("0123456789") == std::string_view::npos) {
        long long n = 0;
        for (char d : code) n = n * 10 + (d - '0');
        table.numbers.insert(n);
      }
    }
    return t;
  }();
  return kTables;
}

// The table's common patterns in words; others as written.
std::string patternWords(const std::string& p) {
  if (p == "\\d{2}\\.\\d{2}") return "NN.NN";
  if (p == "\\d{14}Z") return "YYYYMMDDhhmmssZ";
  if (p == "\\d{8}") return "YYYYMMDD";
  return p;
}

// The texts a rule's value and length findings show, and its whole-number intervals.
void prepareTexts(FieldRule& r) {
  std::string values;
  if (!r.values.empty()) {
    for (const ValueSpan& s : r.values) values += (values.empty() ? "" : ",") + s.written;
    r.valuesText = "one of " + values;
  } else {
    for (const std::string& t : r.codeTables) values += (values.empty() ? "" : " or ") + t;
    r.valuesText = "a code of table " + values;
  }
  r.lengthText = r.minLength == r.maxLength
                     ? std::to_string(r.minLength) + " characters"
                     : (r.maxLength >= kNoLimit ? "at least " + std::to_string(r.minLength)
                                                : std::to_string(std::max(r.minLength, 0)) +
                                                      " to " + std::to_string(r.maxLength)) +
                           " characters";
  r.patternText = patternWords(r.pattern);
  if (!r.pattern.empty()) r.lengthText += " " + r.patternText;
  // Whole bounds up to 15 digits are exact as doubles, so comparing whole numbers decides as
  // comparing the doubles the general path parses.
  constexpr double kWholeLimit = 1e15;
  r.wholeSpans.clear();
  r.wholeSpansOnly = !r.values.empty();
  for (const ValueSpan& s : r.values) {
    if (!s.numeric || s.oneSided || s.lowOpen || s.highOpen || !(std::fabs(s.low) < kWholeLimit) ||
        !(std::fabs(s.high) < kWholeLimit) || s.low != std::trunc(s.low) ||
        s.high != std::trunc(s.high)) {
      r.wholeSpansOnly = false;
      r.wholeSpans.clear();
      return;
    }
    r.wholeSpans.emplace_back(static_cast<long long>(s.low), static_cast<long long>(s.high));
  }
}

// Packs the value checks of a rule for the check loop, and lists the items it checks.
void packTest(FieldRule& r) {
  ValueTest& t = r.test;
  t = ValueTest{};
  for (int c = 0; c < 256; ++c) {
    if (r.allowed[static_cast<std::size_t>(c)]) {
      t.allowed[static_cast<std::size_t>(c >> 6)] |= std::uint64_t{1} << (c & 63);
    }
  }
  t.chars = r.charsChecked;
  constexpr std::array<std::uint64_t, 4> kDigits{0x03FF000000000000ULL, 0, 0, 0};  // '0'..'9'
  t.digitsOnly = r.charsChecked && t.allowed == kDigits;
  t.utf8 = r.utf8;
  // Lengths beyond INT32_MAX cannot occur in a transaction, so the clamp changes nothing.
  constexpr int kMax = INT32_MAX;
  if (r.minLength >= 0) t.minLength = std::min(r.minLength, kMax);
  if (r.maxLength >= 0) t.maxLength = std::min(r.maxLength, kMax);
  if (r.wholeSpansOnly && r.wholeSpans.size() == 1) {
    t.values = ValueTest::kWholeRange;
    t.low = r.wholeSpans[0].first;
    t.high = r.wholeSpans[0].second;
  } else if (r.values.empty() && !r.anyCode && r.codeSets.size() == 1) {
    // Code tables live as long as the program, so the packed copy may point at one.
    t.values = ValueTest::kOneCodeTable;
    t.codes = r.codeSets.front();
  } else if (!r.values.empty() || !r.codeTables.empty()) {
    t.values = ValueTest::kValueRules;
  }
  t.pattern = !r.fixedPattern.empty() || r.matcher || r.compiled;
  t.digitRange = t.digitsOnly && !t.utf8 && !t.pattern &&
                 (t.values == ValueTest::kWholeRange || t.values == ValueTest::kAnyValue);
  if (t.digitRange && t.values == ValueTest::kAnyValue) {
    t.low = std::numeric_limits<long long>::min();
    t.high = std::numeric_limits<long long>::max();
  }
  r.checkedItems.clear();
  const std::size_t defined =
      std::min(static_cast<std::size_t>(std::max(r.itemCount, 0)), r.items.size());
  for (std::size_t i = 0; i < defined && i < 256; ++i) {
    const FieldRule& item = r.items[i];
    if (!item.defined || item.ignored) continue;
    r.checkedItems.push_back(ItemSlot{item.test, static_cast<std::uint8_t>(i), item.presence == 'M',
                                      item.traditionalOnly});
  }
}

// Fills the table of the characters a rule's type and special characters allow.
void allowChars(FieldRule& r) {
  const std::string& t = r.dataType;
  const bool all = r.specialChars == "ALL";
  for (int c = 0; c < 256; ++c) {
    const bool printable = c >= 0x20 && c < 0x7F;
    const bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool digit = c >= '0' && c <= '9';
    bool ok = false;
    if (t == "U") {
      ok = c >= 0x20 || c == '\t' || c == '\n' || c == '\r';
    } else if (t == "H") {
      ok = digit || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    } else {
      const bool named =
          r.specialChars.find(static_cast<char>(c)) != std::string::npos && c != '[' && c != ']';
      const bool special =
          t.find('S') != std::string::npos && (all || r.specialChars.empty() || named);
      ok = (t.find('A') != std::string::npos && alpha) ||
           (t.find('N') != std::string::npos && digit) ||
           (special && printable && !alpha && !digit) ||
           // Special characters named without an S type still count ("AN" with "[-]").
           (!all && printable && named);
    }
    r.allowed[static_cast<std::size_t>(c)] = ok;
  }
}

// The characters a rule's type and special characters allow, as a table, its code tables and
// the texts and packed checks made from them.
void prepareRule(FieldRule& r) {
  prepareTexts(r);
  r.codeSets.clear();
  r.anyCode = false;
  for (const std::string& name : r.codeTables) {
    const auto it = codeSets().find(name);
    if (it == codeSets().end()) {
      r.anyCode = true;
      break;
    }
    r.codeSets.push_back(&it->second);
  }
  if (r.pattern.empty() || !fixedPattern(r.pattern, r.fixedPattern)) r.fixedPattern.clear();
  r.allowed.fill(true);
  const std::string& t = r.dataType;
  r.utf8 = t == "U";
  r.charsChecked = !(t.empty() || t == "B" || t == "Base64" || t == "Y");
  if (r.charsChecked) allowChars(r);
  packTest(r);
}

bool traditional(const FieldDefinition& d) noexcept {
  return d.encodings.find_first_of("Tt") != std::string_view::npos;
}

}  // namespace

// Builds profiles: the table's rows first, then profile text line by line.
class ProfileBuilder {
 public:
  // The rule of item `letter` of a field, created undefined when new.
  static FieldRule& itemSlot(FieldRule& parent, char letter) {
    const std::size_t i = static_cast<std::size_t>(letter - 'A');
    if (parent.items.size() <= i) parent.items.resize(i + 1);
    parent.itemCount = std::max(parent.itemCount, static_cast<int>(i) + 1);
    return parent.items[i];
  }

  // Fills the character tables the checks use, after the rules have changed.
  static void prepare(Profile& p) {
    p.mandatory_.clear();
    for (auto& [k, r] : p.fields_) {
      if (r.presence == 'M' && !r.ignored) p.mandatory_[k / 10000].push_back(k % 10000);
      for (FieldRule& item : r.items) prepareRule(item);
      prepareRule(r);  // after its items: it copies their packed checks
    }
  }

  static void fromTable(Profile& p) {
    for (const FieldDefinition& d : transaction::fieldDefinitions()) {
      if (!traditional(d) || d.recordType <= 0) continue;
      if (d.field == 0) continue;  // a span of fields left to the user: nothing to check
      const int k = key(d.recordType, d.field);
      if (d.item.empty() || d.item == "SET") {
        if (p.fields_.count(k) != 0) continue;  // later rows are alternatives of the first
        FieldRule r;
        fromDefinition(d, r);
        r.defined = true;
        p.fields_.emplace(k, std::move(r));
      } else if (d.item.size() == 1 && d.item[0] >= 'A' && d.item[0] <= 'Z') {
        auto parent = p.fields_.find(k);
        if (parent == p.fields_.end()) continue;  // an item of a field the table lacks
        FieldRule& slot = itemSlot(parent->second, d.item[0]);
        if (slot.defined) continue;
        fromDefinition(d, slot);
        slot.defined = true;
        if (slot.maxOccur > 1) parent->second.repeatingItems = true;
      }
    }
  }

  // Applies one line; false with `error` set when it is malformed.
  static bool line(Profile& p, std::string_view text, std::string& error) {
    const std::size_t hash = text.find('#');
    if (hash != std::string_view::npos && (hash == 0 || text[hash - 1] == ' ')) {
      text = text.substr(0, hash);
    }
    text = trim(text);
    if (text.empty()) return true;
    const std::size_t sp = text.find(' ');
    const std::string_view head = text.substr(0, sp);
    std::string_view rest =
        sp == std::string_view::npos ? std::string_view{} : trim(text.substr(sp));
    if (head == "profile") {
      if (rest.empty()) return fail(error, "a profile needs a name");
      p.name_ = std::string(rest);
      return true;
    }
    if (head == "record") return recordLine(p, rest, error);
    if (head == "value-severity") {
      if (rest != "error" && rest != "warning")
        return fail(error, "'value-severity' is error or warning");
      p.valueSeverity_ = rest == "error" ? Severity::kError : Severity::kWarning;
      return true;
    }
    return fieldLine(p, head, rest, error);
  }

 private:
  static bool fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
  }

  static bool span(std::string_view text, int& low, int& high) {
    const std::size_t dots = text.find("..");
    long long a = 0;
    long long b = 0;
    if (dots == std::string_view::npos) {
      if (!toInt(text, a)) return false;
      low = high = static_cast<int>(a);
      return true;
    }
    if (!toInt(text.substr(0, dots), a)) return false;
    const std::string_view hi = trim(text.substr(dots + 2));
    if (hi == "*") {
      b = kNoLimit;
    } else if (!toInt(hi, b)) {
      return false;
    }
    if (a < 0 || b < a) return false;
    low = static_cast<int>(a);
    high = static_cast<int>(b);
    return true;
  }

  static bool recordLine(Profile& p, std::string_view rest, std::string& error) {
    const std::size_t sp = rest.find(' ');
    long long type = 0;
    if (!toInt(rest.substr(0, sp), type) || type < 1 || type > 99) {
      return fail(error, "'record' needs a record type from 1 to 99");
    }
    const std::string_view what = sp == std::string_view::npos ? "" : trim(rest.substr(sp));
    const int t = static_cast<int>(type);
    if (what == "required") {
      RecordRule& r = p.records_[t];
      r.minCount = std::max(r.minCount, 1);
      return true;
    }
    if (what == "forbidden") {
      p.records_[t] = {0, 0};
      return true;
    }
    if (what.substr(0, 7) == "occurs ") {
      RecordRule r;
      if (!span(trim(what.substr(7)), r.minCount, r.maxCount)) {
        return fail(error, "'occurs' needs MIN..MAX");
      }
      p.records_[t] = r;
      return true;
    }
    if (what.substr(0, 16) == "deprecated-from ") {
      long long v = 0;
      if (!toInt(what.substr(16), v) || v < 0)
        return fail(error, "'deprecated-from' needs a version");
      p.deprecated_[t] = static_cast<unsigned>(v);
      return true;
    }
    return fail(error, "unknown record rule '" + std::string(what) + "'");
  }

  static bool fieldLine(Profile& p, std::string_view address, std::string_view rest,
                        std::string& error) {
    // T.F or T.F-X (X an item letter).
    std::string_view letter;
    const std::size_t dash = address.find('-');
    if (dash != std::string_view::npos) {
      letter = address.substr(dash + 1);
      address = address.substr(0, dash);
      if (letter.size() != 1 || letter[0] < 'A' || letter[0] > 'Z') {
        return fail(error, "an item is named by one capital letter (1.003-C)");
      }
    }
    const std::size_t dot = address.find('.');
    long long t = 0;
    long long f = 0;
    if (dot != std::string_view::npos && address.substr(dot + 1) == "*" && letter.empty() &&
        toInt(address.substr(0, dot), t) && t >= 1 && t <= 99) {
      // Every field (and item) the profile defines so far for the type.
      const int first = key(static_cast<int>(t), 0);
      const int end = key(static_cast<int>(t) + 1, 0);
      for (auto it = p.fields_.lower_bound(first); it != p.fields_.end() && it->first < end; ++it) {
        if (!fieldWord(it->second, rest, error)) return false;
      }
      for (auto it = p.fields_.lower_bound(first); it != p.fields_.end() && it->first < end; ++it) {
        for (FieldRule& item : it->second.items) {
          if (item.defined && !fieldWord(item, rest, error)) return false;
        }
      }
      return true;
    }
    if (dot == std::string_view::npos || !toInt(address.substr(0, dot), t) ||
        !toInt(address.substr(dot + 1), f) || t < 1 || t > 99 || f < 1 || f > 9999) {
      return fail(error, "unknown keyword or field address '" + std::string(address) + "'");
    }
    const int k = key(static_cast<int>(t), static_cast<int>(f));
    FieldRule* rule = nullptr;
    if (letter.empty()) {
      rule = &p.fields_[k];
    } else {
      rule = &itemSlot(p.fields_[k], letter[0]);
    }
    rule->defined = true;
    // Any rule but "ignore" named for one field means the field is to be checked.
    if (rest.substr(0, 6) != "ignore") rule->ignored = false;
    return fieldWord(*rule, rest, error);
  }

  // Applies "KEYWORD ARGUMENT" to one rule.
  static bool fieldWord(FieldRule& r, std::string_view rest, std::string& error) {
    const std::size_t sp = rest.find(' ');
    const std::string_view word = rest.substr(0, sp);
    const std::string_view arg = sp == std::string_view::npos ? "" : trim(rest.substr(sp));
    if (word == "required") {
      r.presence = 'M';
      if (r.minOccur < 1) r.minOccur = 1;
    } else if (word == "optional") {
      r.presence = 'O';
      r.minOccur = 0;
    } else if (word == "dependent") {
      r.presence = 'D';
      r.minOccur = 0;
    } else if (word == "ignore") {
      r.ignored = true;
    } else if (word == "check") {
      r.ignored = false;
    } else if (word == "mnemonic" && !arg.empty()) {
      r.mnemonic = std::string(arg);
    } else if (word == "type") {
      r.dataType = arg == "any" ? "" : std::string(arg);
    } else if (word == "chars") {
      r.specialChars = std::string(arg);
    } else if (word == "length") {
      if (arg == "any") {
        r.minLength = r.maxLength = -1;
      } else if (!span(arg, r.minLength, r.maxLength)) {
        return fail(error, "'length' needs MIN..MAX (MAX may be *)");
      }
    } else if (word == "occurs") {
      if (!span(arg, r.minOccur, r.maxOccur)) return fail(error, "'occurs' needs MIN..MAX");
    } else if (word == "values") {
      r.codeTables.clear();
      r.values.clear();
      if (arg != "any" && (!parseRange(arg, r.values) || r.values.empty())) {
        return fail(error, "'values' needs a list such as 1..14,16 or A,B or any");
      }
    } else if (word == "codes") {
      r.values.clear();
      splitTables(arg, r.codeTables);
    } else if (word == "pattern") {
      r.pattern = arg == "none" ? "" : std::string(arg);
      if (!compile(r)) return fail(error, "'pattern' is not a valid regular expression");
    } else if (word == "severity") {
      if (arg == "warning") {
        r.severity = 1;
      } else if (arg == "error") {
        r.severity = 0;
      } else {
        return fail(error, "'severity' is error or warning");
      }
    } else {
      return fail(error, "unknown keyword '" + std::string(word) + "'");
    }
    return true;
  }
};

std::string_view severityName(Severity s) noexcept {
  return s == Severity::kError ? "error" : "warning";
}

const Profile& Profile::base() noexcept {
  // Built on first use; the table and the base text are fixed, so this cannot fail but for
  // memory, which a static initialiser cannot report anyway.
  static const Profile kBase = [] {
    Profile p;
    ProfileBuilder::fromTable(p);
    ProfileBuilder::prepare(p);
    std::string error;
    (void)p.apply(baseProfileText(), error);
    p.name_ = "base";
    return p;
  }();
  return kBase;
}

int Profile::apply(std::string_view text, std::string& error) noexcept {
  try {
    Profile copy = *this;
    int lineNo = 0;
    while (!text.empty()) {
      ++lineNo;
      const std::size_t nl = text.find('\n');
      const std::string_view one = text.substr(0, nl);
      text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
      std::string why;
      if (!ProfileBuilder::line(copy, one, why)) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        return kBadProfile;
      }
    }
    ProfileBuilder::prepare(copy);
    *this = std::move(copy);
    return 0;
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return kBadProfile;
  }
}

const FieldRule* Profile::field(int type, int number) const noexcept {
  auto it = fields_.find(key(type, number));
  return it == fields_.end() ? nullptr : &it->second;
}

const FieldRule* Profile::item(int type, int number, std::string_view letter) const noexcept {
  const FieldRule* parent = field(type, number);
  if (!parent || letter.size() != 1 || letter[0] < 'A') return nullptr;
  const std::size_t i = static_cast<std::size_t>(letter[0] - 'A');
  return i < parent->items.size() && parent->items[i].defined ? &parent->items[i] : nullptr;
}

const std::vector<int>& Profile::mandatoryFields(int type) const noexcept {
  static const std::vector<int> kNone;
  auto it = mandatory_.find(type);
  return it == mandatory_.end() ? kNone : it->second;
}

const RecordRule* Profile::record(int type) const noexcept {
  auto it = records_.find(type);
  return it == records_.end() ? nullptr : &it->second;
}

bool Profile::coversType(int type) const noexcept {
  auto it = fields_.lower_bound(key(type, 0));
  return it != fields_.end() && it->first < key(type + 1, 0);
}

bool Profile::deprecated(int type, unsigned version) const noexcept {
  auto it = deprecated_.find(type);
  return it != deprecated_.end() && version != 0xFFFFFFFFu && version >= it->second;
}

int loadProfile(const std::string& nameOrPath, Profile& out, std::string& error) noexcept {
  try {
    Profile p = Profile::base();
    if (nameOrPath == "base" || nameOrPath.empty()) {
      out = std::move(p);
      return 0;
    }
    std::ifstream in(nameOrPath, std::ios::binary);
    if (!in) {
      error = "cannot read profile " + nameOrPath;
      return kProfileNotFound;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (int rc = p.apply(text.str(), error); rc < 0) return rc;
    out = std::move(p);
    return 0;
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return kBadProfile;
  }
}

}  // namespace varnel::rules::conformance
