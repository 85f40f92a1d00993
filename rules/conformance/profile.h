#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "rules/conformance/finding.h"
#include "rules/conformance/pattern.h"

namespace varnel::rules::conformance {

/// One accepted value, or a numeric interval, of a field's value range. One-sided bounds
/// ("<60", ">=1", "1..") of a range all apply together; the other spans are alternatives.
struct ValueSpan {
  bool numeric = false;
  bool oneSided = false;
  double low = 0;         ///< numeric: smallest accepted value
  double high = 0;        ///< numeric: largest accepted value
  bool lowOpen = false;   ///< the low bound itself is refused (">x")
  bool highOpen = false;  ///< the high bound itself is refused ("<x")
  std::string text;       ///< not numeric: the accepted text
  std::string written;    ///< the span as the table or profile wrote it
};

/// The codes of one code table: as written, and the numeric ones by value ("01" and "1" alike).
struct CodeSet {
  std::unordered_set<std::string_view> codes;
  std::unordered_set<long long> numbers;
  /// The codes in table order; small tables are searched here, which is quicker than hashing.
  std::vector<std::string_view> list;
  /// The codes of up to kShortCode bytes of `list`, each packed into a number (see pack).
  std::vector<std::uint64_t> shortCodes;
  static constexpr std::size_t kShortCode = 7;
  /// A text of up to kShortCode bytes as a number that no other such text has.
  [[nodiscard]] static std::uint64_t pack(std::string_view v) noexcept {
    std::uint64_t n = static_cast<std::uint64_t>(v.size()) << 56;
    for (std::size_t i = 0; i < v.size() && i < kShortCode; ++i) {
      n |= static_cast<std::uint64_t>(static_cast<unsigned char>(v[i])) << (8 * i);
    }
    return n;
  }
  /// The codes of one byte, one bit each.
  std::array<std::uint64_t, 4> oneByteCodes{};
  /// True when `codes` holds `v`.
  [[nodiscard]] bool has(std::string_view v) const {
    if (v.size() == 1) {
      const auto c = static_cast<unsigned char>(v[0]);
      return ((oneByteCodes[c >> 6] >> (c & 63)) & 1U) != 0;
    }
    if (list.size() > 16) return codes.count(v) != 0;
    if (v.size() <= kShortCode) {
      const std::uint64_t key = pack(v);
      for (const std::uint64_t c : shortCodes) {
        if (c == key) return true;
      }
      return false;
    }
    for (std::string_view c : list) {
      if (c == v) return true;
    }
    return false;
  }
};

/// The checks every value of a rule meets, packed for the check loop: made from the rule's
/// other members when the profile is built.
struct ValueTest {
  /// Bytes the character type allows, one bit each; consulted when `chars` is set.
  std::array<std::uint64_t, 4> allowed{};
  /// Accepted lengths; an unchecked bound is 0 or INT32_MAX.
  std::int32_t minLength = 0;
  std::int32_t maxLength = INT32_MAX;
  /// With kWholeRange, the whole numbers low..high are the only accepted values; with
  /// digitRange and kAnyValue, low..high holds every number.
  long long low = 0;
  long long high = 0;
  /// With kOneCodeTable, `codes` is the rule's only code table: a value it holds passes
  /// without the general value check.
  enum Values : std::uint8_t {
    kAnyValue,
    kWholeRange,
    kOneCodeTable,
    kValueRules
  } values = kAnyValue;
  const CodeSet* codes = nullptr;
  bool utf8 = false;
  bool chars = false;
  /// The characters checked are the digits 0-9 and nothing else.
  bool digitsOnly = false;
  /// The rule has a pattern of any kind.
  bool pattern = false;
  /// Byte lengths, digits only, one whole range or any value, no pattern: the most common
  /// rule, checked in one pass.
  bool digitRange = false;
};

/// An information item a field's rule checks: its index ("A" = 0), its packed checks (a copy
/// of the item rule's `test`) and what else the loop over a subfield's items needs, kept side
/// by side so that the loop reads one small array.
struct ItemSlot {
  ValueTest test;
  std::uint8_t index = 0;
  bool mandatory = false;
  bool traditionalOnly = false;
};

/// What a profile asks of one field (item "") or of one information item ("A", "B", ...).
/// Lengths and occurrences are -1 when unchecked; kNoLimit for "no upper limit".
struct FieldRule {
  std::string mnemonic;
  /// 'M' mandatory, 'O' optional, 'D' dependent on other fields (not checked).
  char presence = 'O';
  /// Character type: "N", "A", "AN", "ANS", "NS", "AS", "U", "H", "B"; empty for unchecked.
  std::string dataType;
  /// Special characters allowed besides the type's own; "ALL" for every printable character.
  std::string specialChars;
  int minLength = -1;
  int maxLength = -1;
  int minOccur = -1;
  int maxOccur = -1;
  /// Accepted values: any of the spans, or (when there are none) any code of the code tables.
  std::vector<ValueSpan> values;
  std::vector<std::string> codeTables;
  /// The code tables found by name when the profile is built. `anyCode` is set when one of
  /// them is not known: a table we do not have cannot refuse anything.
  std::vector<const CodeSet*> codeSets;
  bool anyCode = false;
  std::string pattern;
  /// The pattern as a small automaton when it is of the common kind, else as a std::regex.
  std::shared_ptr<const Pattern> matcher;
  std::shared_ptr<const std::regex> compiled;
  /// Severity of this rule's value and pattern findings: 0 error, 1 warning, -1 the profile's
  /// default (see Profile::valueSeverity).
  int severity = -1;
  bool ignored = false;
  /// Information items per subfield that the field's definition lists (0 for a plain field).
  int itemCount = 0;
  /// Some item of the field repeats within a subfield: no upper item count.
  bool repeatingItems = false;
  /// The definition is that of the traditional encoding only; the XML encoding writes the
  /// field in a form of its own (dates, names split into elements), so an XML transaction's
  /// values are not held to it.
  bool traditionalOnly = false;
  /// The table or a profile defines the rule (an undefined item slot only keeps its place).
  bool defined = false;
  /// Rules of the information items, "A" first; slots of items nobody defined are undefined.
  std::vector<FieldRule> items;
  /// Which bytes the character type allows, filled when the profile is built.
  std::array<bool, 256> allowed{};
  bool charsChecked = false;
  /// Lengths count UTF-8 characters ("U" fields), not bytes.
  bool utf8 = false;
  /// The pattern as a fixed sequence of character sets, one per character, when it has no
  /// alternatives or variable repeats (most dates and codes); empty otherwise.
  std::vector<std::array<bool, 256>> fixedPattern;
  /// The accepted values are all closed numeric intervals with whole bounds (no one-sided
  /// bounds, no texts), listed here as [low, high]: a whole number is checked against them
  /// without the general number parser.
  bool wholeSpansOnly = false;
  std::vector<std::pair<long long, long long>> wholeSpans;
  /// The value checks packed for the check loop.
  ValueTest test;
  /// The items that are checked, in order: defined, not ignored, within `itemCount`.
  std::vector<ItemSlot> checkedItems;
  /// What the value check expects, in words ("one of 1..180", "a code of table LPM"), the
  /// pattern in words ("NN.NN", or as written) and what the length check expects
  /// ("5 characters NN.NN"); made when the profile is built so that a finding only copies them.
  std::string valuesText;
  std::string patternText;
  std::string lengthText;
};

inline constexpr int kNoLimit = 1 << 30;

/// Record-level requirements of a profile.
struct RecordRule {
  int minCount = -1;
  int maxCount = -1;
};

/// A set of conformance rules: the base standard from the field definition table, tightened
/// or relaxed by profile files. Read-only once built, so one profile can serve many checks.
class Profile {
 public:
  /// The base profile: the field definition table with the adjustments of the shipped base
  /// profile text (see baseProfileText). Built once; the reference stays valid for the
  /// program's life.
  [[nodiscard]] static const Profile& base() noexcept;

  /// Applies profile text on top of this profile. Returns 0, or kBadProfile with `error`
  /// naming the first bad line ("line 4: unknown keyword 'lenght'"); the profile is then
  /// unchanged.
  [[nodiscard]] int apply(std::string_view text, std::string& error) noexcept;

  /// Rule of a field, or null when the profile says nothing about it.
  [[nodiscard]] const FieldRule* field(int type, int number) const noexcept;
  /// Rule of an information item ("A" = first), or null.
  [[nodiscard]] const FieldRule* item(int type, int number, std::string_view letter) const noexcept;
  /// Record-level rule of a type, or null.
  [[nodiscard]] const RecordRule* record(int type) const noexcept;
  /// True when the profile defines any field of the type.
  [[nodiscard]] bool coversType(int type) const noexcept;
  /// The profile's name ("base" unless a profile file names itself).
  [[nodiscard]] const std::string& name() const noexcept { return name_; }
  /// Record types deprecated as of a version: records of these types are errors in
  /// transactions whose 1.002 is at least `deprecatedFrom`.
  [[nodiscard]] bool deprecated(int type, unsigned version) const noexcept;
  /// Severity of value and pattern findings of rules that do not set their own.
  [[nodiscard]] Severity valueSeverity() const noexcept { return valueSeverity_; }
  /// Mandatory fields of a record type that are checked, in ascending order.
  [[nodiscard]] const std::vector<int>& mandatoryFields(int type) const noexcept;
  /// All field rules, keyed by type * 10000 + field.
  [[nodiscard]] const std::map<int, FieldRule>& fields() const noexcept { return fields_; }

 private:
  friend class ProfileBuilder;
  std::string name_ = "base";
  Severity valueSeverity_ = Severity::kError;
  std::map<int, FieldRule> fields_;
  std::map<int, RecordRule> records_;
  std::map<int, std::vector<int>> mandatory_;  // type -> field numbers
  std::map<int, unsigned> deprecated_;         // type -> from version
};

/// The text of the base profile's adjustments to the field definition table.
[[nodiscard]] std::string_view baseProfileText() noexcept;

/// Reads a profile: `nameOrPath` is "base", or a path to a profile file applied on top of the
/// base profile. Returns 0; kProfileNotFound when the file cannot be read; kBadProfile with
/// `error` set for a malformed file.
[[nodiscard]] int loadProfile(const std::string& nameOrPath, Profile& out,
                              std::string& error) noexcept;

/// Status values of profile reading.
inline constexpr int kProfileNotFound = -401;
inline constexpr int kBadProfile = -402;

}  // namespace varnel::rules::conformance
