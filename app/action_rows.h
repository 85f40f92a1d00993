#pragma once

#include <string_view>
#include <vector>

namespace varnel::app {

/// Number of parameter rows the rule editor shows.
inline constexpr int kParameterRows = 5;

/// One parameter row of an action in the rule editor: its label, whether it is a drop-down list
/// (with its choices, shown sorted) or a free-text edit, and the text an edit starts with.
struct ParameterRow {
  std::string_view label;
  bool list = false;
  std::vector<std::string_view> choices;
  std::string_view initial;
};

/// What the rule editor shows for one action.
struct ActionRows {
  std::string_view action;
  bool conditions = false;  ///< the action uses the rule's conditions
  std::vector<ParameterRow> rows;
};

/// The rows of `action` (exact name), or null for names outside the vocabulary.
[[nodiscard]] const ActionRows* findActionRows(std::string_view action) noexcept;

/// Every action the editor knows, in the order they are added to its list.
[[nodiscard]] const std::vector<ActionRows>& allActionRows() noexcept;

/// Where an action stands in the editor's grouped list, with a one-line description.
struct ActionInfo {
  std::string_view group;  ///< "Fields", "Records", "Images", "Output" or "File"
  std::string_view description;
};

/// The group names in the order the editor lists them.
[[nodiscard]] const std::vector<std::string_view>& actionGroups() noexcept;

/// Group and description of `action`; group "Other" and an empty description for names the
/// editor does not know.
[[nodiscard]] ActionInfo actionInfo(std::string_view action) noexcept;

}  // namespace varnel::app
