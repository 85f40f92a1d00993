#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <vector>

#include "app/action_rows.h"
#include "rules/rule_set.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace varnel::app {

class Shell;

/// The rule editor ("Brennic - Conversion Rules"): builds, reorders and saves a rule file. It
/// works on a table in memory; nothing reaches the file before "Save".
class CconversionDlg : public QDialog {
  Q_OBJECT

 public:
  /// `shell` answers for the desktop and must outlive the editor.
  explicit CconversionDlg(Shell& shell, QWidget* parent = nullptr);

  /// Loads the rule file at `path` when the path is not empty and the file exists.
  void openRuleFile(const QString& path);
  /// Replaces the table with the rules of `path`; false (table unchanged) when it cannot be read.
  bool loadFile(const QString& path);
  /// Writes the table to `path` (an edit in progress is cancelled first); `path` becomes the
  /// current path. False when the file cannot be written.
  bool saveFile(const QString& path);

  /// The table as it stands.
  [[nodiscard]] const rules::RuleSet& ruleSet() const { return set_; }
  [[nodiscard]] const QString& path() const { return path_; }
  [[nodiscard]] bool isEditing() const { return editing_; }

  // Controls, for the operator's commands and for tests.
  QListWidget* ruleList() const { return list_; }
  QComboBox* actionBox() const { return action_; }
  QLineEdit* parameterEdit(int row) const { return edits_[row]; }
  QComboBox* parameterList(int row) const { return choices_[row]; }
  QLabel* parameterLabel(int row) const { return labels_[row]; }
  QPushButton* addButton() const { return add_; }
  QPushButton* editButton() const { return edit_; }
  QPushButton* deleteButton() const { return delete_; }
  QPushButton* upButton() const { return up_; }
  QPushButton* downButton() const { return down_; }
  QPushButton* conditionsButton() const { return conditions_; }
  QAction* saveAction() const { return save_; }

 public slots:
  void addRule();
  /// "Edit" or, while editing, "Update".
  void editOrUpdate();
  /// "Delete" or, while editing, "Cancel".
  void deleteOrCancel();
  void moveUp();
  void moveDown();
  void editConditions();
  void newTable();
  void loadCommand();
  /// Saves to the current path (asking for one when there is none); false when nothing was saved.
  bool saveCommand();
  /// Asks for a path (and before replacing an existing file), then saves; false when not saved.
  bool saveAsCommand();

 protected:
  /// Remembers the editor's size and position whichever way it closes.
  void done(int result) override;

 private:
  /// Text of a rule in the list: its action followed by the parameters it uses.
  static QString ruleText(const rules::ConversionRule& rule);
  void fillActionBox();
  void showDescription();
  /// With changes not yet saved, asks whether to save them: true when the caller may go on
  /// (saved, or discarded), false when the operator cancelled or the save failed.
  bool settleUnsavedChanges();
  void selectionChanged();
  void actionChosen(int index);
  void showRule(int row);
  void showRows(const ActionRows* rows, const rules::ConversionRule* values);
  void hideRows();
  void enterEditing();
  void leaveEditing();
  void cancelEdit();
  bool update();
  void refreshList();
  void refreshButtons();
  void updateConditionsCaption(std::size_t count);
  [[nodiscard]] int currentRow() const;
  void message(const QString& text);

  Shell& shell_;
  rules::RuleSet set_;
  QString path_;
  bool dirty_ = false;
  bool editing_ = false;
  bool pendingNew_ = false;  // the rule being edited was added and shows "*"
  std::vector<rules::RuleCondition> editConditions_;

  QListWidget* list_ = nullptr;
  QComboBox* action_ = nullptr;
  QLabel* description_ = nullptr;
  std::array<QLabel*, kParameterRows> labels_{};
  std::array<QLineEdit*, kParameterRows> edits_{};
  std::array<QComboBox*, kParameterRows> choices_{};
  QPushButton* add_ = nullptr;
  QPushButton* edit_ = nullptr;
  QPushButton* delete_ = nullptr;
  QPushButton* up_ = nullptr;
  QPushButton* down_ = nullptr;
  QPushButton* conditions_ = nullptr;
  QAction* save_ = nullptr;
};

}  // namespace varnel::app
