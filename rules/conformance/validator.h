#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rules/conformance/finding.h"
#include "rules/conformance/profile.h"
#include "transaction/nist_file.h"

namespace varnel::rules::conformance {

/// At most this many findings are listed per field; the rest are summed up in one more.
inline constexpr int kMaxFindingsPerField = 5;

namespace detail {
class Checker;
class TextMaker;
}  // namespace detail

/// The findings of one or more checks as the checker records them. Findings about values
/// (length, characters, code values, patterns), by far the most numerous, keep only what
/// their texts are made from: the rules they failed, borrowed from the profile, and a copy of
/// the value as far as it is shown. Their texts are made when `appendTo` is asked for them, so
/// a caller that only counts findings never pays for texts. The profile checked against must
/// outlive the list until then.
class FindingList {
 public:
  /// Number of findings.
  [[nodiscard]] std::size_t size() const noexcept { return notes_.size(); }
  /// Number of findings of a severity.
  [[nodiscard]] int count(Severity s) const noexcept;
  /// Forgets every finding, keeping the memory for the next check.
  void clear() noexcept;
  /// Appends the findings to `out` with all their texts, in the order found. Returns 0, or
  /// kOutOfMemory with `out` as it was.
  [[nodiscard]] int appendTo(std::vector<Finding>& out) const noexcept;

 private:
  friend class detail::Checker;
  friend class detail::TextMaker;
  // What a finding whose texts wait is made from: a value's fault, a field out of order, or the
  // count of a field's findings not listed. `made` >= 0 instead names a finding made at once.
  struct Note {
    const FieldRule* field = nullptr;  // the field's rule
    const FieldRule* rule = nullptr;   // the rule failed: the field's or an item's
    const FieldRule* item = nullptr;   // the item's rule, when the value is an item
    std::size_t textAt = 0;            // in texts_: the value's shown part, then the record's IDC
    std::size_t idcSize = 0;
    int made = -1;
    int recordType = 0;
    int recordPosition = 0;
    int fieldNumber = 0;
    int subfield = 0;  // 0-based; the field or count given, for the other kinds
    std::uint16_t valueSize = 0;
    Severity severity = Severity::kError;
    std::uint8_t kind = 0;  // what the finding is about
    unsigned char bad = 0;  // the first character not allowed
    char letter = 'A';      // the item's letter
    bool several = false;   // the field has more than one subfield
    bool inRecord = false;  // the lead names the record (several records of the type)
    bool longer = false;    // the value goes on past the shown part
  };
  std::vector<Note> notes_;
  std::vector<Finding> made_;
  std::string texts_;
};

/// Checks the transaction held by `file` against `profile` and appends what it finds to `out`,
/// as validateTransaction below, without making the findings' texts. Returns 0, -1 when no
/// transaction is held, kOutOfMemory (`out` then as it was).
[[nodiscard]] int validateTransaction(const transaction::NistFile& file, const Profile& profile,
                                      FindingList& out) noexcept;

/// Checks the transaction held by `file` against `profile` and appends what it finds to `out`,
/// in record order: structure (LEN, CNT, IDC, record and field order, tags), every field's
/// presence, occurrences, length, characters and values, image consistency (declared
/// compression, size, bit depth and resolution against the image data) and minutiae counts.
/// The transaction is only read. Returns 0, -1 when no transaction is held, kOutOfMemory.
[[nodiscard]] int validateTransaction(const transaction::NistFile& file, const Profile& profile,
                                      std::vector<Finding>& out) noexcept;

/// Number of findings of a severity.
[[nodiscard]] int countFindings(const std::vector<Finding>& findings, Severity s) noexcept;

}  // namespace varnel::rules::conformance
