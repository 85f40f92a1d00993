#pragma once

#include <QDialog>
#include <vector>

#include "rules/rule_set.h"

class QComboBox;
class QLineEdit;

namespace varnel::app {

/// Rows the condition editor always shows.
inline constexpr int kConditionRows = 5;

/// The condition editor ("Conditions") of one rule: rows of source field, operator and values.
/// It shows five rows, or one per condition when a rule read from a file has more, so that no
/// condition is lost by opening it.
class CConditionsDlg : public QDialog {
  Q_OBJECT

 public:
  CConditionsDlg(const std::vector<rules::RuleCondition>& conditions, QWidget* parent = nullptr);

  /// The conditions as the rows stand, top to bottom: a row counts when it has an operator, a
  /// field or values. A row without an operator gets an operator that never holds.
  [[nodiscard]] std::vector<rules::RuleCondition> conditions() const;

  [[nodiscard]] int rowCount() const { return static_cast<int>(fields_.size()); }
  QLineEdit* fieldEdit(int row) const { return fields_[row]; }
  QComboBox* operatorBox(int row) const { return operators_[row]; }
  QLineEdit* valuesEdit(int row) const { return values_[row]; }

  /// Position of an operator code in the operator list (0 is the empty entry).
  [[nodiscard]] static int listIndexOf(int op) noexcept;
  /// Operator code of a position in the operator list.
  [[nodiscard]] static int operatorAt(int index) noexcept;

 private:
  std::vector<QLineEdit*> fields_;
  std::vector<QComboBox*> operators_;
  std::vector<QLineEdit*> values_;
};

}  // namespace varnel::app
