#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rules/action_context.h"
#include "rules/rule_set.h"
#include "transaction/nist_file.h"

namespace varnel::rules {

/// A field address read from a parameter: T.F, or T.F:x when `item` is 0 or more.
struct FieldAddress {
  int type = 0;
  int field = 0;
  int item = -1;  ///< item index from the letter after ":" ("a" = 0); -1 for the whole field
  bool hasItem = false;
};

/// Scans T.F or T.F:x from the start of `text` (leading digits with an optional sign, ".",
/// digits, optionally ":" and one character). Text after the address is ignored. False when the
/// text does not start with T.F.
[[nodiscard]] bool scanFieldAddress(std::string_view text, FieldAddress& out) noexcept;

/// The inputs of placeholder expansion besides the template and the record context.
struct ExpandInputs {
  const transaction::NistFile& file;
  const FileState& state;
  const RunInputs& run;
};

/// Expands the placeholders of `tmpl` in the record context. The result holds at most
/// kMaxExpansion bytes; placeholder names are cut to kMaxPlaceholderName bytes.
[[nodiscard]] std::string expandPlaceholders(std::string_view tmpl, RecordContext rc,
                                             const ExpandInputs& in);
/// Same; `foreignSeparator` becomes true when a placeholder other than %RS% and %US% (a prompt
/// answer, a field, a file name) brought an FS, GS, RS or US byte into the result.
[[nodiscard]] std::string expandPlaceholders(std::string_view tmpl, RecordContext rc,
                                             const ExpandInputs& in, bool& foreignSeparator);

/// True when every condition holds in the record context; an empty list is true.
[[nodiscard]] bool evaluateConditions(const std::vector<RuleCondition>& conditions,
                                      RecordContext rc, const ExpandInputs& in);

/// Applies one rule to the loaded transaction. Unknown actions and actions that are not built do
/// nothing. Never throws.
void applyRule(const ConversionRule& rule, ActionContext& ctx) noexcept;

/// The shared step of the Add Field actions: sets field `f` (whole, or item `item` of subfield
/// 0 when item >= 0) of the records of type `t` to the expanded template. Types 1 and 2: first
/// record, no conditions; types 3 and up: every record whose conditions hold.
void setFieldFromRule(ActionContext& ctx, int t, int item, int f, std::string_view tmpl);

/// Removes every byte of `set` from the first item of field `f` of record `index` of type `t`.
/// Returns 0; the library's status when the field cannot be read or written; kTextTooLong
/// (nothing changed) when the text is longer than kMaxRemoveCharactersText.
[[nodiscard]] int removeCharacters(transaction::NistFile& file, int t, int f, int index,
                                   std::string_view set) noexcept;

}  // namespace varnel::rules
