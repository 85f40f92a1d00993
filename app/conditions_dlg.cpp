#include "app/conditions_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <algorithm>

namespace varnel::app {

int CConditionsDlg::listIndexOf(int op) noexcept {
  switch (op) {
    case rules::kEquals:
      return 1;
    case rules::kStartsWith:
      return 2;
    case rules::kEndsWith:
      return 3;
    case rules::kContains:
      return 4;
    default:
      return 0;
  }
}

int CConditionsDlg::operatorAt(int index) noexcept {
  switch (index) {
    case 1:
      return rules::kEquals;
    case 2:
      return rules::kStartsWith;
    case 3:
      return rules::kEndsWith;
    case 4:
      return rules::kContains;
    default:
      return rules::kUnknownOperator;
  }
}

CConditionsDlg::CConditionsDlg(const std::vector<rules::RuleCondition>& conditions, QWidget* parent)
    : QDialog(parent) {
  setObjectName("conditionsDlg");
  setWindowTitle("Conditions");
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("Source Field", this), 0, 0);
  grid->addWidget(new QLabel("Operator", this), 0, 1);
  grid->addWidget(new QLabel("Values", this), 0, 2);
  const int rows = std::max(kConditionRows, static_cast<int>(conditions.size()));
  for (int i = 0; i < rows; ++i) {
    auto* field = new QLineEdit(this);
    field->setObjectName(QString("conditionField%1").arg(i + 1));
    auto* op = new QComboBox(this);
    op->setObjectName(QString("conditionOperator%1").arg(i + 1));
    op->addItems({"", "Equals", "Starts With", "Ends With", "Contains"});
    auto* values = new QLineEdit(this);
    values->setObjectName(QString("conditionValues%1").arg(i + 1));
    if (i < static_cast<int>(conditions.size())) {
      const rules::RuleCondition& c = conditions[i];
      field->setText(QString::fromStdString(c.field));
      op->setCurrentIndex(listIndexOf(c.op));
      values->setText(QString::fromStdString(c.values));
    }
    grid->addWidget(field, i + 1, 0);
    grid->addWidget(op, i + 1, 1);
    grid->addWidget(values, i + 1, 2);
    fields_.push_back(field);
    operators_.push_back(op);
    values_.push_back(values);
  }
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(2, 2);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
  resize(620, sizeHint().height());
}

std::vector<rules::RuleCondition> CConditionsDlg::conditions() const {
  std::vector<rules::RuleCondition> out;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const int index = operators_[i]->currentIndex();
    const QString field = fields_[i]->text();
    const QString values = values_[i]->text();
    if (index <= 0 && field.isEmpty() && values.isEmpty()) continue;
    out.push_back(
        rules::RuleCondition{operatorAt(index), field.toStdString(), values.toStdString()});
  }
  return out;
}

}  // namespace varnel::app
