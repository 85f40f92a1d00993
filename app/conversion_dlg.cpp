#include "app/conversion_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/conditions_dlg.h"
#include "app/settings.h"
#include "app/shell.h"
#include "rules/action_context.h"
#include "rules/status.h"

namespace varnel::app {
namespace {

// Text of an unconfirmed rule in the list.
constexpr const char* kNewRuleText = "*";

QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

QString CconversionDlg::ruleText(const rules::ConversionRule& rule) {
  // "Output to CSV  Heading = Name, Value = %2.018%": the action with the parameters it uses.
  QString text = qs(rule.action);
  const ActionRows* rows = findActionRows(rule.action);
  QStringList parts;
  for (int i = 0; i < kParameterRows; ++i) {
    const std::string& value = rule.parameters[i];
    const bool used = rows ? i < static_cast<int>(rows->rows.size()) : !value.empty();
    if (!used) continue;
    const QString label =
        rows ? qs(std::string(rows->rows[i].label)) : QString("Parameter %1").arg(i + 1);
    parts << QString("%1 = %2").arg(label, qs(value));
  }
  if (!parts.isEmpty()) text += "  " + parts.join(", ");
  if (!rule.conditions.empty())
    text += QString("  [%1 condition%2]")
                .arg(static_cast<int>(rule.conditions.size()))
                .arg(rule.conditions.size() == 1 ? "" : "s");
  return text;
}

void CconversionDlg::fillActionBox() {
  // Actions grouped under headers that cannot be chosen, each with its description as tip.
  auto* model = new QStandardItemModel(action_);
  std::vector<std::string_view> groups = actionGroups();
  groups.emplace_back("Other");
  for (std::string_view group : groups) {
    QList<QStandardItem*> members;
    for (std::string_view name : rules::actionNames()) {
      const ActionInfo info = actionInfo(name);
      if (info.group != group) continue;
      auto* item = new QStandardItem(qs(std::string(name)));
      item->setToolTip(qs(std::string(info.description)));
      members << item;
    }
    if (members.isEmpty()) continue;
    auto* header = new QStandardItem(qs(std::string(group)));
    header->setFlags(Qt::NoItemFlags);
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    model->appendRow(header);
    for (QStandardItem* item : members) model->appendRow(item);
  }
  action_->setModel(model);
}

void CconversionDlg::showDescription() {
  const int index = action_->currentIndex();
  description_->setText(
      index < 0 ? QString()
                : qs(std::string(actionInfo(action_->currentText().toStdString()).description)));
}

CconversionDlg::CconversionDlg(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell) {
  setObjectName("conversionDlg");
  setWindowTitle("Brennic - Conversion Rules");

  auto* menuBar = new QMenuBar(this);
  QMenu* file = menuBar->addMenu("&File");
  file->addAction("&New", QKeySequence::New, this, &CconversionDlg::newTable);
  file->addAction("&Load...", QKeySequence::Open, this, &CconversionDlg::loadCommand);
  save_ = file->addAction("&Save", QKeySequence::Save, this, &CconversionDlg::saveCommand);
  file->addAction("Sa&ve...", QKeySequence::SaveAs, this, &CconversionDlg::saveAsCommand);

  list_ = new QListWidget(this);
  list_->setObjectName("ruleList");
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  connect(list_, &QListWidget::currentRowChanged, this, &CconversionDlg::selectionChanged);

  add_ = new QPushButton("Add", this);
  edit_ = new QPushButton("Edit", this);
  delete_ = new QPushButton("Delete", this);
  up_ = new QPushButton(style()->standardIcon(QStyle::SP_ArrowUp), QString(), this);
  down_ = new QPushButton(style()->standardIcon(QStyle::SP_ArrowDown), QString(), this);
  up_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up));
  down_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down));
  up_->setToolTip("Move the rule up (Ctrl+Up)");
  down_->setToolTip("Move the rule down (Ctrl+Down)");
  add_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
  edit_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_E));
  delete_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_D));
  connect(add_, &QPushButton::clicked, this, &CconversionDlg::addRule);
  connect(edit_, &QPushButton::clicked, this, &CconversionDlg::editOrUpdate);
  connect(delete_, &QPushButton::clicked, this, &CconversionDlg::deleteOrCancel);
  connect(up_, &QPushButton::clicked, this, &CconversionDlg::moveUp);
  connect(down_, &QPushButton::clicked, this, &CconversionDlg::moveDown);
  for (QPushButton* b : {add_, edit_, delete_, up_, down_}) b->setAutoDefault(false);

  action_ = new QComboBox(this);
  action_->setObjectName("actionBox");
  fillActionBox();
  action_->setCurrentIndex(-1);
  description_ = new QLabel(this);
  description_->setObjectName("actionDescription");
  description_->setWordWrap(true);
  connect(action_, &QComboBox::currentIndexChanged, this, &CconversionDlg::actionChosen);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("Action", this), 0, 0);
  grid->addWidget(action_, 0, 1);
  grid->addWidget(description_, kParameterRows + 2, 0, 1, 2);
  for (int i = 0; i < kParameterRows; ++i) {
    labels_[i] = new QLabel(this);
    edits_[i] = new QLineEdit(this);
    edits_[i]->setObjectName(QString("parameterEdit%1").arg(i + 1));
    choices_[i] = new QComboBox(this);
    choices_[i]->setObjectName(QString("parameterList%1").arg(i + 1));
    auto* cell = new QHBoxLayout;
    cell->setContentsMargins(0, 0, 0, 0);
    cell->addWidget(edits_[i]);
    cell->addWidget(choices_[i]);
    grid->addWidget(labels_[i], i + 1, 0);
    grid->addLayout(cell, i + 1, 1);
  }
  conditions_ = new QPushButton("Conditions", this);
  conditions_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_N));
  conditions_->setAutoDefault(false);
  connect(conditions_, &QPushButton::clicked, this, &CconversionDlg::editConditions);
  grid->addWidget(conditions_, kParameterRows + 1, 1, Qt::AlignRight);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(kParameterRows + 3, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(add_);
  buttons->addWidget(edit_);
  buttons->addWidget(delete_);
  buttons->addStretch(1);
  buttons->addWidget(up_);
  buttons->addWidget(down_);
  auto* left = new QVBoxLayout;
  left->addWidget(list_, 1);
  left->addLayout(buttons);

  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* columns = new QHBoxLayout;
  columns->addLayout(left, 1);
  columns->addLayout(grid, 1);
  auto* outer = new QVBoxLayout(this);
  outer->setMenuBar(menuBar);
  outer->addLayout(columns, 1);
  outer->addWidget(close);
  resize(760, 380);
  if (const QByteArray geometry = readSettingBytes(kRuleEditorGeometryKey); !geometry.isEmpty())
    restoreGeometry(geometry);

  showRule(-1);
  refreshButtons();
}

void CconversionDlg::message(const QString& text) {
  shell_.message(this, text, kCaption, Shell::Buttons::kOk, Shell::Icon::kNone);
}

int CconversionDlg::currentRow() const {
  const int row = list_->currentRow();
  return row >= 0 && row < static_cast<int>(set_.rules.size()) ? row : -1;
}

void CconversionDlg::openRuleFile(const QString& path) {
  if (!path.isEmpty() && QFileInfo(path).isFile()) loadFile(path);
}

bool CconversionDlg::loadFile(const QString& path) {
  rules::RuleSet loaded;
  if (rules::readRuleFile(path.toStdString(), loaded) != rules::kRuleFileDone) {
    message(QString("The rule file could not be read: %1").arg(path));
    return false;
  }
  if (editing_) cancelEdit();
  set_ = std::move(loaded);
  path_ = path;
  dirty_ = false;
  refreshList();
  list_->setCurrentRow(set_.rules.empty() ? -1 : 0);
  showRule(currentRow());
  refreshButtons();
  return true;
}

bool CconversionDlg::saveFile(const QString& path) {
  // The table, not the edit fields, is written: an unconfirmed edit is dropped first.
  if (editing_) cancelEdit();
  if (rules::writeRuleFile(set_, path.toStdString()) != rules::kRuleFileDone) {
    message(QString("The rule file could not be saved: %1").arg(path));
    return false;
  }
  path_ = path;
  dirty_ = false;
  refreshButtons();
  return true;
}

void CconversionDlg::refreshList() {
  const QSignalBlocker block(list_);
  const int row = list_->currentRow();
  list_->clear();
  for (const auto& rule : set_.rules) {
    list_->addItem(ruleText(rule));
    // A rule file written by hand may name an action that does not exist: it is shown as it
    // is, marked, because a run refuses the whole file.
    if (rule.action != kNewRuleText && rules::findAction(rule.action) == nullptr) {
      QListWidgetItem* item = list_->item(list_->count() - 1);
      item->setForeground(Qt::red);
      item->setToolTip("Unknown action: a conversion refuses this rule file");
    }
  }
  if (row >= 0 && row < list_->count()) list_->setCurrentRow(row);
}

void CconversionDlg::refreshButtons() {
  const int row = currentRow();
  const int n = static_cast<int>(set_.rules.size());
  edit_->setText(editing_ ? "Update" : "Edit");
  delete_->setText(editing_ ? "Cancel" : "Delete");
  add_->setEnabled(!editing_);
  list_->setEnabled(!editing_);
  // "Edit" stays available so that pressing it without a selection explains itself.
  edit_->setEnabled(true);
  delete_->setEnabled(editing_ || row >= 0);
  up_->setEnabled(!editing_ && row > 0);
  down_->setEnabled(!editing_ && row >= 0 && row < n - 1);
  save_->setEnabled(!path_.isEmpty());
  action_->setEnabled(editing_);
  for (int i = 0; i < kParameterRows; ++i) {
    edits_[i]->setReadOnly(!editing_);
    choices_[i]->setEnabled(editing_);
  }
  const ActionRows* rows =
      editing_ ? findActionRows(action_->currentText().toStdString()) : nullptr;
  conditions_->setEnabled(editing_ && rows != nullptr && rows->conditions);
}

void CconversionDlg::updateConditionsCaption(std::size_t count) {
  conditions_->setText(count == 0 ? QString("Conditions")
                                  : QString("Conditions (%1)").arg(static_cast<int>(count)));
}

void CconversionDlg::showRows(const ActionRows* rows, const rules::ConversionRule* values) {
  for (int i = 0; i < kParameterRows; ++i) {
    QLabel* label = labels_[i];
    QLineEdit* edit = edits_[i];
    QComboBox* choice = choices_[i];
    const QString value = values ? qs(values->parameters[i]) : QString();
    if (rows == nullptr) {
      // An action outside the vocabulary: its stored parameters are shown as they are.
      const bool used = values != nullptr && !value.isEmpty();
      label->setText(QString("Parameter %1").arg(i + 1));
      label->setVisible(used);
      edit->setVisible(used);
      edit->setText(value);
      choice->setVisible(false);
      continue;
    }
    const bool used = i < static_cast<int>(rows->rows.size());
    label->setVisible(used);
    edit->setVisible(used && !rows->rows[i].list);
    choice->setVisible(used && rows->rows[i].list);
    if (!used) {
      edit->clear();
      choice->clear();
      continue;
    }
    const ParameterRow& row = rows->rows[i];
    label->setText(qs(std::string(row.label)));
    if (row.list) {
      QStringList items;
      for (auto c : row.choices) items << qs(std::string(c));
      items.sort();
      // A text the file holds outside the choices is kept rather than lost.
      if (!value.isEmpty() && !items.contains(value)) items << value;
      const QSignalBlocker block(choice);
      choice->clear();
      choice->addItems(items);
      choice->setCurrentIndex(value.isEmpty() ? -1 : static_cast<int>(items.indexOf(value)));
      edit->clear();
    } else {
      edit->setText(values ? value : qs(std::string(row.initial)));
      choice->clear();
    }
  }
}

void CconversionDlg::hideRows() {
  for (int i = 0; i < kParameterRows; ++i) {
    labels_[i]->hide();
    edits_[i]->hide();
    choices_[i]->hide();
  }
}

void CconversionDlg::showRule(int row) {
  const QSignalBlocker block(action_);
  if (row < 0) {
    action_->setCurrentIndex(-1);
    showDescription();
    hideRows();
    updateConditionsCaption(0);
    return;
  }
  const rules::ConversionRule& rule = set_.rules[row];
  const int index = action_->findText(qs(rule.action), Qt::MatchExactly | Qt::MatchCaseSensitive);
  action_->setCurrentIndex(index);
  showDescription();
  if (rule.action == kNewRuleText) {
    hideRows();
  } else {
    showRows(findActionRows(rule.action), &rule);
  }
  updateConditionsCaption(editing_ ? editConditions_.size() : rule.conditions.size());
}

void CconversionDlg::selectionChanged() {
  if (editing_) return;
  showRule(currentRow());
  refreshButtons();
}

void CconversionDlg::actionChosen(int index) {
  if (!editing_ || index < 0) return;
  const ActionRows* rows = findActionRows(action_->itemText(index).toStdString());
  showRows(rows, nullptr);
  showDescription();
  refreshButtons();
}

void CconversionDlg::enterEditing() {
  const int row = currentRow();
  if (row < 0) return;
  editing_ = true;
  editConditions_ = set_.rules[row].conditions;
  updateConditionsCaption(editConditions_.size());
  refreshButtons();
  action_->setFocus();
}

void CconversionDlg::leaveEditing() {
  editing_ = false;
  pendingNew_ = false;
  editConditions_.clear();
  showRule(currentRow());
  refreshButtons();
}

void CconversionDlg::addRule() {
  if (editing_) return;
  set_.rules.emplace_back();
  set_.rules.back().action.push_back(kNewRuleText[0]);
  refreshList();
  {
    const QSignalBlocker block(list_);
    list_->setCurrentRow(static_cast<int>(set_.rules.size()) - 1);
  }
  showRule(currentRow());
  pendingNew_ = true;
  enterEditing();
}

void CconversionDlg::editOrUpdate() {
  if (editing_) {
    update();
    return;
  }
  if (currentRow() < 0) {
    message("You must select an action");
    return;
  }
  enterEditing();
}

bool CconversionDlg::update() {
  const int row = currentRow();
  if (row < 0) return false;
  if (action_->currentIndex() < 0) {
    message("You must select an action");
    return false;
  }
  rules::ConversionRule rule;
  rule.action = action_->currentText().toStdString();
  const ActionRows* rows = findActionRows(rule.action);
  const int used = rows ? static_cast<int>(rows->rows.size()) : 0;
  for (int i = 0; i < used; ++i) {
    const QString text = rows->rows[i].list ? choices_[i]->currentText() : edits_[i]->text();
    rule.parameters[i] = text.toStdString();
  }
  rule.conditions = editConditions_;
  const rules::RuleCheck check = rules::validateRule(rule);
  if (!check.accepted) {
    if (!check.message.empty()) message(qs(check.message));
    return false;
  }
  // Stored all the same: the warning says what will happen when it runs.
  if (const std::string warning = rules::structuralEditWarning(rule); !warning.empty()) {
    message(qs(warning));
  }
  set_.rules[row] = std::move(rule);
  refreshList();
  dirty_ = true;
  leaveEditing();
  return true;
}

void CconversionDlg::cancelEdit() {
  const int row = currentRow();
  if (pendingNew_ && row >= 0) {
    set_.rules.erase(set_.rules.begin() + row);
    refreshList();
    const QSignalBlocker block(list_);
    list_->setCurrentRow(-1);
  }
  leaveEditing();
}

void CconversionDlg::deleteOrCancel() {
  if (editing_) {
    cancelEdit();
    return;
  }
  const int row = currentRow();
  if (row < 0) return;
  if (shell_.message(this, "Are you sure you wish to delete this entry?", kCaption,
                     Shell::Buttons::kYesNo, Shell::Icon::kQuestion) != Shell::Answer::kYes) {
    return;
  }
  set_.rules.erase(set_.rules.begin() + row);
  dirty_ = true;
  refreshList();
  {
    const QSignalBlocker block(list_);
    const int n = static_cast<int>(set_.rules.size());
    list_->setCurrentRow(row < n ? row : n - 1);
  }
  showRule(currentRow());
  refreshButtons();
}

void CconversionDlg::moveUp() {
  const int row = currentRow();
  if (editing_ || row <= 0) return;
  std::swap(set_.rules[row], set_.rules[row - 1]);
  dirty_ = true;
  refreshList();
  list_->setCurrentRow(row - 1);
}

void CconversionDlg::moveDown() {
  const int row = currentRow();
  if (editing_ || row < 0 || row + 1 >= static_cast<int>(set_.rules.size())) return;
  std::swap(set_.rules[row], set_.rules[row + 1]);
  dirty_ = true;
  refreshList();
  list_->setCurrentRow(row + 1);
}

void CconversionDlg::editConditions() {
  if (!editing_) return;
  CConditionsDlg dlg(editConditions_, this);
  if (dlg.exec() != QDialog::Accepted) return;
  editConditions_ = dlg.conditions();
  updateConditionsCaption(editConditions_.size());
}

void CconversionDlg::newTable() {
  if (!settleUnsavedChanges()) return;
  if (editing_) cancelEdit();
  set_.rules.clear();
  path_.clear();
  dirty_ = false;
  refreshList();
  showRule(-1);
  refreshButtons();
}

void CconversionDlg::loadCommand() {
  if (!settleUnsavedChanges()) return;
  const QString dir = path_.isEmpty() ? QString() : QFileInfo(path_).absolutePath();
  const QString path = shell_.pickOpenFile(this, dir, kRuleFileFilter);
  if (!path.isEmpty()) loadFile(path);
}

bool CconversionDlg::saveCommand() {
  if (path_.isEmpty()) return saveAsCommand();
  return saveFile(path_);
}

bool CconversionDlg::saveAsCommand() {
  if (editing_) cancelEdit();
  const QString dir = path_.isEmpty() ? QString() : QFileInfo(path_).absolutePath();
  QString path = shell_.pickSaveFile(this, dir, kRuleFileFilter);
  if (path.isEmpty()) return false;
  if (QFileInfo(path).suffix().isEmpty()) path += ".ntx";
  if (QFileInfo::exists(path) &&
      shell_.message(this, QString("%1 already exists.\nDo you want to replace it?").arg(path),
                     kCaption, Shell::Buttons::kYesNo,
                     Shell::Icon::kExclamation) != Shell::Answer::kYes)
    return false;
  return saveFile(path);
}

bool CconversionDlg::settleUnsavedChanges() {
  // A rule still being edited counts as a change: its Update has not been pressed yet.
  if (!dirty_ && !editing_) return true;
  switch (shell_.message(this, "The rule table has unsaved changes.\nSave them first?", kCaption,
                         Shell::Buttons::kYesNoCancel, Shell::Icon::kQuestion)) {
    case Shell::Answer::kYes:
      if (editing_ && !update()) return false;
      return saveCommand();
    case Shell::Answer::kNo:
      return true;
    default:
      return false;
  }
}

void CconversionDlg::done(int result) {
  if (!settleUnsavedChanges()) return;
  writeSettingBytes(kRuleEditorGeometryKey, saveGeometry());
  QDialog::done(result);
}

}  // namespace varnel::app
