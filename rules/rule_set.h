#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::rules {

/// Number of parameters a rule carries.
inline constexpr std::size_t kParameterCount = 5;

/// How a condition compares the expanded text with its values. Codes outside 0..3 never hold.
enum ConditionOperator : int {
  kEquals = 0,
  kContains = 1,
  kStartsWith = 2,
  kEndsWith = 3,
  kUnknownOperator = -1,
};

/// One condition of a rule: `field` is a template expanded in the record context, `values` a
/// comma-separated list of accepted texts.
struct RuleCondition {
  int op = kUnknownOperator;
  std::string field;
  std::string values;

  bool operator==(const RuleCondition&) const = default;
};

/// One rule: an action name, up to five parameters (an empty text means absent) and conditions.
struct ConversionRule {
  std::string action;
  std::array<std::string, kParameterCount> parameters;
  std::vector<RuleCondition> conditions;

  /// Parameter `n` counted from 1; empty when absent or out of range.
  [[nodiscard]] const std::string& parameter(std::size_t n) const noexcept;

  bool operator==(const ConversionRule&) const = default;
};

/// The ordered rules of a rule file. The list grows as needed; order is order of application.
struct RuleSet {
  std::vector<ConversionRule> rules;

  bool operator==(const RuleSet&) const = default;
};

/// The operator word stored in the file for `op` ("Equals", ...); empty for unknown codes.
[[nodiscard]] std::string_view operatorWord(int op) noexcept;
/// Parses an operator word exactly; kUnknownOperator for anything else.
[[nodiscard]] int parseOperatorWord(std::string_view word) noexcept;

/// Reads a rule file. Returns kRuleFileDone (1) after reading, with `out` replaced by the rules of
/// the file; kRuleFileUnavailable when the file cannot be opened (`out` untouched);
/// kOutOfMemory when the file cannot be held (`out` untouched). Lines are read whole, however
/// long; blank lines and condition lines before the first rule are skipped.
[[nodiscard]] int readRuleFile(const std::string& path, RuleSet& out) noexcept;

/// Parses the text of a rule file, as readRuleFile does after opening it.
[[nodiscard]] int parseRuleText(std::string_view text, RuleSet& out) noexcept;

/// Writes the rule set to `path`, replacing any old file. Returns kRuleFileDone (1), or
/// kRuleFileUnavailable when the file cannot be created or written.
[[nodiscard]] int writeRuleFile(const RuleSet& rules, const std::string& path) noexcept;

/// Looks for a rule whose action name is not one this program carries out (names are exact and
/// case-sensitive). Returns 1 with the 1-based line number and the name of the first such rule in
/// `text` (a rule file's content), or 0 when every action is known.
[[nodiscard]] int findUnknownAction(std::string_view text, std::size_t& line,
                                    std::string& action) noexcept;

/// Serialises the rule set to the text writeRuleFile stores.
[[nodiscard]] std::string formatRuleText(const RuleSet& rules);

/// Outcome of the editor check of one rule: refused rules are not stored. `message` is the text
/// the editor shows in its box captioned "Varnel"; some refusals have no message.
struct RuleCheck {
  bool accepted = true;
  std::string message;
};

/// Editor-side validation of a rule before it is stored.
[[nodiscard]] RuleCheck validateRule(const ConversionRule& rule) noexcept;

/// A warning for a rule that would remove, split or rewrite a field holding a record's structure:
/// LEN (x.001), the version (1.002) or a record's IDC (x.002 of Types 3 to 99). Such edits are
/// refused file by file with an error row when the rule runs. Empty when there is nothing to say.
[[nodiscard]] std::string structuralEditWarning(const ConversionRule& rule) noexcept;

/// The 33 action names the editor offers, sorted alphabetically.
[[nodiscard]] const std::vector<std::string_view>& actionNames() noexcept;

}  // namespace varnel::rules
