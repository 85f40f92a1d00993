// The rule editor and the condition editor: what each operation does to the rule table, the
// checks applied before a rule is stored, and the round trip through a rule file.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/conditions_dlg.h"
#include "app/conversion_dlg.h"
#include "tests/app/fake_shell.h"

// After the shell: the status constants would otherwise shadow the answer names.
#include "rules/status.h"

using varnel::app::CConditionsDlg;
using varnel::app::CconversionDlg;
using varnel::app::test::FakeShell;
namespace rules = varnel::rules;

namespace {

// Chooses `action` and fills the visible rows with `params` (list rows by their text).
void fill(CconversionDlg& dlg, const QString& action, const QStringList& params) {
  QComboBox* box = dlg.actionBox();
  box->setCurrentIndex(box->findText(action));
  for (int i = 0; i < params.size(); ++i) {
    if (dlg.parameterList(i)->isVisibleTo(&dlg)) {
      dlg.parameterList(i)->setCurrentIndex(dlg.parameterList(i)->findText(params[i]));
    } else {
      dlg.parameterEdit(i)->setText(params[i]);
    }
  }
}

// Adds a rule through the editor and confirms it.
void addRule(CconversionDlg& dlg, const QString& action, const QStringList& params) {
  dlg.addRule();
  fill(dlg, action, params);
  dlg.editOrUpdate();
}

QString readAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

}  // namespace

class EditorTest : public QObject {
  Q_OBJECT

 private slots:
  void actionListIsGroupedWithADescriptionForEachAction() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    QCOMPARE(dlg.windowTitle(), QString("Brennic - Conversion Rules"));
    auto* model = qobject_cast<QStandardItemModel*>(dlg.actionBox()->model());
    QVERIFY(model != nullptr);
    QStringList headers, names;
    for (int i = 0; i < model->rowCount(); ++i) {
      QStandardItem* item = model->item(i);
      if (!(item->flags() & Qt::ItemIsEnabled)) {
        headers << item->text();
        continue;
      }
      names << item->text();
      QVERIFY2(!item->toolTip().isEmpty(), qPrintable(item->text() + " has no description"));
    }
    QCOMPARE(headers, QStringList({"Fields", "Records", "Images", "Output", "File"}));
    QStringList vocabulary;
    for (auto name : rules::actionNames())
      vocabulary << QString::fromUtf8(name.data(), name.size());
    names.sort();
    vocabulary.sort();
    QCOMPARE(names, vocabulary);
    dlg.addRule();
    fill(dlg, "Disable Save", {});
    QCOMPARE(dlg.findChild<QLabel*>("actionDescription")->text(),
             QString("Writes no transaction for the file"));
  }

  void closingWithUnsavedChangesAsks() {
    QTemporaryDir dir;
    const QString path = dir.filePath("r.ntx");
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    addRule(dlg, "Disable Save", {});
    shell.answers = {FakeShell::Answer::kCancel};
    dlg.reject();
    QVERIFY(dlg.isVisible());  // Cancel: the editor stays, the table as it was
    QCOMPARE(dlg.ruleSet().rules.size(), std::size_t{1});
    shell.answers = {FakeShell::Answer::kYes};
    shell.picks = {path};
    dlg.reject();
    QVERIFY(!dlg.isVisible());
    QVERIFY(readAll(path).contains("Disable Save"));
    // Once saved, closing asks nothing.
    const std::size_t asked = shell.messages.size();
    dlg.show();
    dlg.reject();
    QCOMPARE(shell.messages.size(), asked);
  }

  void saveAsAsksBeforeReplacingAFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("keep.ntx");
    {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("Convert To CJIS|||||\n");
    }
    FakeShell shell;
    CconversionDlg dlg(shell);
    addRule(dlg, "Disable Save", {});
    shell.picks = {dir.filePath("keep")};  // the extension is added: still the same file
    shell.answers = {FakeShell::Answer::kNo};
    QVERIFY(!dlg.saveAsCommand());
    QVERIFY(shell.texts().last().contains("already exists"));
    QCOMPARE(readAll(path), QString("Convert To CJIS|||||\n"));
    shell.picks = {path};
    shell.answers = {FakeShell::Answer::kYes};
    QVERIFY(dlg.saveAsCommand());
    QVERIFY(readAll(path).contains("Disable Save"));
  }

  void addThenCancelRemovesTheNewRule() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    addRule(dlg, "Disable Save", {});
    dlg.addRule();
    QCOMPARE(dlg.ruleList()->count(), 2);
    QCOMPARE(dlg.ruleList()->item(1)->text(), QString("*"));
    QVERIFY(dlg.isEditing());
    QCOMPARE(dlg.editButton()->text(), QString("Update"));
    QCOMPARE(dlg.deleteButton()->text(), QString("Cancel"));
    QVERIFY(!dlg.ruleList()->isEnabled());
    QVERIFY(!dlg.upButton()->isEnabled());
    dlg.deleteOrCancel();
    QVERIFY(!dlg.isEditing());
    QCOMPARE(dlg.ruleList()->count(), 1);
    QCOMPARE(dlg.ruleSet().rules.size(), std::size_t{1});
    QCOMPARE(dlg.editButton()->text(), QString("Edit"));
    QCOMPARE(dlg.deleteButton()->text(), QString("Delete"));
    QVERIFY(shell.messages.empty());
  }

  void cancelRestoresTheStoredValues() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    addRule(dlg, "Add Field", {"2.005", "Y"});
    dlg.ruleList()->setCurrentRow(0);
    dlg.editOrUpdate();
    fill(dlg, "Delete Field", {"2.007"});
    dlg.deleteOrCancel();
    QCOMPARE(dlg.ruleSet().rules[0].action, std::string("Add Field"));
    QCOMPARE(dlg.actionBox()->currentText(), QString("Add Field"));
    QCOMPARE(dlg.parameterEdit(0)->text(), QString("2.005"));
    QCOMPARE(dlg.parameterEdit(1)->text(), QString("Y"));
  }

  void editOrUpdateWithoutAnActionExplains() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.editOrUpdate();  // nothing selected
    dlg.addRule();
    dlg.editOrUpdate();  // "*" rule, no action chosen
    QCOMPARE(shell.texts(),
             QStringList({"You must select an action", "You must select an action"}));
    QCOMPARE(shell.messages[0].caption, QString("Varnel"));
    QVERIFY(dlg.isEditing());
  }

  void choosingAnActionShowsItsRows() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    dlg.addRule();
    fill(dlg, "Convert Image Format", {});
    QCOMPARE(dlg.parameterLabel(0)->text(), QString("Record Type"));
    QCOMPARE(dlg.parameterLabel(1)->text(), QString("Source Format"));
    QCOMPARE(dlg.parameterLabel(2)->text(), QString("Dest Format"));
    QVERIFY(dlg.parameterEdit(0)->isVisible());
    QVERIFY(!dlg.parameterList(0)->isVisible());
    QVERIFY(dlg.parameterList(1)->isVisible());
    QVERIFY(!dlg.parameterEdit(1)->isVisible());
    QVERIFY(!dlg.parameterLabel(3)->isVisible());
    QVERIFY(!dlg.parameterEdit(3)->isVisible() && !dlg.parameterList(3)->isVisible());
    QStringList choices;
    for (int i = 0; i < dlg.parameterList(1)->count(); ++i) {
      choices << dlg.parameterList(1)->itemText(i);
    }
    QCOMPARE(choices, QStringList({"JP2 Lossless", "NONE", "PNG", "WSQ"}));
    QVERIFY(dlg.conditionsButton()->isEnabled());
    fill(dlg, "Compress Records To WSQ", {});
    QCOMPARE(dlg.parameterLabel(0)->text(), QString("Bitrate"));
    QCOMPARE(dlg.parameterEdit(0)->text(), QString("2.25"));
    QVERIFY(!dlg.conditionsButton()->isEnabled());  // the action takes no conditions
    fill(dlg, "Export To Tenprint", {});
    QCOMPARE(dlg.parameterEdit(0)->text(), QString("%FILENAME%"));
  }

  void updateRefusesBadParameters_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("params");
    QTest::addColumn<QString>("message");  // empty: refused without a message
    const QString fieldChars = "Field number may only contain the following characters 0-9 and .";
    const QString format = "Field must be in the format *.* for example 1.4 or 1.004";
    QTest::newRow("empty field") << "Add Field" << QStringList{"", "x"}
                                 << "You must provide a field number";
    QTest::newRow("letters") << "Add Field If Blank" << QStringList{"2.a05"} << fieldChars;
    QTest::newRow("record 0") << "Add Field If Missing" << QStringList{"0.005"}
                              << "Record number cannot be 0";
    QTest::newRow("two dots") << "Add Field" << QStringList{"2.0.5"} << format;
    QTest::newRow("dot at end") << "Add Field" << QStringList{"2."} << format;
    QTest::newRow("dot first") << "Delete Field" << QStringList{".5"} << format;
    QTest::newRow("no item for delete") << "Delete Field" << QStringList{"2.005:a"} << fieldChars;
    QTest::newRow("remove chars") << "Remove Invalid Characters" << QStringList{"", "-"}
                                  << "You must provide a field number";
    QTest::newRow("count letters")
        << "String Left" << QStringList{"2.018", "1a"} << "Value must be a number";
    QTest::newRow("count 0") << "String Right" << QStringList{"2.018", "0"}
                             << "Value must be in the range of 1 to 100";
    QTest::newRow("count 101") << "String Left" << QStringList{"2.018", "101"}
                               << "Value must be in the range of 1 to 100";
    QTest::newRow("copy empty") << "Copy Field" << QStringList{"", "2.005"}
                                << "You must provide a field number";
    QTest::newRow("copy type 3") << "Copy Field" << QStringList{"3.005", "2.005"}
                                 << "Field must be Type 1 or 2";
    QTest::newRow("copy reserved") << "Move Field" << QStringList{"2.005", "2.002"}
                                   << "You cannot access the reserved field: 2.002";
    QTest::newRow("copy range") << "Copy Field" << QStringList{"1.10000", "2.005"}
                                << "The sub field must be in the range of 1-9999";
    QTest::newRow("copy same") << "Move Field" << QStringList{"2.005", "2.005"}
                               << "Fields must be different";
    QTest::newRow("bitrate text") << "Compress Records To WSQ" << QStringList{"1.2.3"}
                                  << "Value must be a number";
    QTest::newRow("bitrate 0") << "Compress Records To WSQ" << QStringList{"0"}
                               << "'Bitrate' Must be a valid a valid number";
    QTest::newRow("bitrate low") << "Compress Records To WSQ" << QStringList{"0.4"}
                                 << "'Bitrate' Value must be in the range of 0.50 to 10.00";
    QTest::newRow("bitrate empty") << "Compress Records To WSQ" << QStringList{""} << "";
    QTest::newRow("type letters") << "Delete Records of Type" << QStringList{"x"}
                                  << "Value must be a number";
    QTest::newRow("type empty") << "Delete Records of Type" << QStringList{""} << "";
    QTest::newRow("export type") << "Export Biometrics of Type" << QStringList{"f", "1x"}
                                 << "Value must be a number";
    QTest::newRow("no source format")
        << "Convert Image Format" << QStringList{"14", "", ""} << "You must select a source format";
    QTest::newRow("no dest format") << "Convert Image Format" << QStringList{"14", "PNG", ""}
                                    << "You must select a destination format";
    QTest::newRow("short ext") << "Change File Extension" << QStringList{"ab"}
                               << "Field must contain at least 3 character(s)";
    QTest::newRow("long ext") << "Change File Extension" << QStringList{"abcde"}
                              << "Field must contain no more than 4 character(s)";
    QTest::newRow("dot ext") << "Change File Extension" << QStringList{".eft"}
                             << "Field contains an invalid character";
    QTest::newRow("save as") << "Save As" << QStringList{""} << "'Output Format' cannot be empty";
    QTest::newRow("fs from") << "Convert Feature Set" << QStringList{"", "", ""}
                             << "'From' cannot be empty";
    QTest::newRow("fs to") << "Convert Feature Set" << QStringList{"Legacy", "", ""}
                           << "'To' cannot be empty";
    QTest::newRow("fs issue") << "Convert Feature Set" << QStringList{"Legacy", "INCITS 378", ""}
                              << "'On Issue' cannot be empty";
    QTest::newRow("fs type") << "Delete Feature Set" << QStringList{""} << "'Type' cannot be empty";
    QTest::newRow("auto fix") << "Auto Fix" << QStringList{""}
                              << "You must select a validation check";
  }

  void updateRefusesBadParameters() {
    QFETCH(QString, action);
    QFETCH(QStringList, params);
    QFETCH(QString, message);
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    dlg.addRule();
    fill(dlg, action, params);
    dlg.editOrUpdate();
    QVERIFY(dlg.isEditing());
    QCOMPARE(dlg.ruleSet().rules[0].action, std::string("*"));
    if (message.isEmpty()) {
      QVERIFY(shell.messages.empty());
    } else {
      QCOMPARE(shell.texts(), QStringList{message});
      QCOMPARE(shell.messages[0].caption, QString("Varnel"));
    }
  }

  void updateStoresTheVisibleRows() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    addRule(dlg, "Add Field", {"2.005:a", "%TCN%"});
    addRule(dlg, "Replace Strings", {"2.018", "-", ""});
    addRule(dlg, "Save As", {"XML"});
    QVERIFY(shell.messages.empty());
    const auto& r = dlg.ruleSet().rules;
    QCOMPARE(r.size(), std::size_t{3});
    QCOMPARE(r[0].action, std::string("Add Field"));
    QCOMPARE(r[0].parameters, (std::array<std::string, 5>{"2.005:a", "%TCN%", "", "", ""}));
    QCOMPARE(r[1].parameters, (std::array<std::string, 5>{"2.018", "-", "", "", ""}));
    QCOMPARE(r[2].parameters[0], std::string("XML"));
    QCOMPARE(dlg.ruleList()->item(0)->text(),
             QString("Add Field  Field = 2.005:a, Field Value = %TCN%"));
    QCOMPARE(dlg.ruleList()->item(2)->text(), QString("Save As  Output Format = XML"));
    // Changing a rule's action drops the parameters the new action does not show.
    dlg.ruleList()->setCurrentRow(0);
    dlg.editOrUpdate();
    fill(dlg, "Delete Field", {"2.005"});
    dlg.editOrUpdate();
    QCOMPARE(r[0].parameters, (std::array<std::string, 5>{"2.005", "", "", "", ""}));
  }

  void deleteAsksFirst() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    addRule(dlg, "Disable Save", {});
    addRule(dlg, "Convert To CJIS", {});
    dlg.ruleList()->setCurrentRow(0);
    shell.answers = {FakeShell::Answer::kNo, FakeShell::Answer::kYes};
    dlg.deleteOrCancel();
    QCOMPARE(dlg.ruleSet().rules.size(), std::size_t{2});
    dlg.deleteOrCancel();
    QCOMPARE(dlg.ruleSet().rules.size(), std::size_t{1});
    QCOMPARE(dlg.ruleSet().rules[0].action, std::string("Convert To CJIS"));
    QCOMPARE(shell.texts(), QStringList({"Are you sure you wish to delete this entry?",
                                         "Are you sure you wish to delete this entry?"}));
    QCOMPARE(shell.messages[0].buttons, FakeShell::Buttons::kYesNo);
    QCOMPARE(shell.messages[0].caption, QString("Varnel"));
  }

  void moveUpAndDownCarryTheRuleAndTheSelection() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    addRule(dlg, "Add Field", {"2.005", "A"});
    addRule(dlg, "Disable Save", {});
    addRule(dlg, "Convert To CJIS", {});
    dlg.ruleList()->setCurrentRow(0);
    QVERIFY(!dlg.upButton()->isEnabled());
    QVERIFY(dlg.downButton()->isEnabled());
    dlg.moveDown();
    QCOMPARE(dlg.ruleList()->currentRow(), 1);
    QCOMPARE(dlg.ruleSet().rules[1].action, std::string("Add Field"));
    QCOMPARE(dlg.ruleSet().rules[1].parameters[1], std::string("A"));
    dlg.moveDown();
    QCOMPARE(dlg.ruleList()->currentRow(), 2);
    QVERIFY(!dlg.downButton()->isEnabled());
    dlg.moveDown();  // already last: nothing moves
    QCOMPARE(dlg.ruleList()->currentRow(), 2);
    dlg.moveUp();
    dlg.moveUp();
    QCOMPARE(dlg.ruleList()->currentRow(), 0);
    QStringList order;
    for (const auto& r : dlg.ruleSet().rules) order << QString::fromStdString(r.action);
    QCOMPARE(order, QStringList({"Add Field", "Disable Save", "Convert To CJIS"}));
    QCOMPARE(dlg.ruleList()->item(1)->text(), QString("Disable Save"));
    // The arrows move the rule from the keyboard too.
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    dlg.ruleList()->setCurrentRow(1);
    QTest::keyClick(dlg.ruleList(), Qt::Key_Up, Qt::ControlModifier);
    // A button shortcut clicks after its press animation.
    QTRY_COMPARE(QString::fromStdString(dlg.ruleSet().rules[0].action), QString("Disable Save"));
  }

  void conditionsCountShowsOnTheButton() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    dlg.addRule();
    fill(dlg, "Add Field", {"2.005", "Y"});
    QCOMPARE(dlg.conditionsButton()->text(), QString("Conditions"));
    QTimer::singleShot(0, [] {
      auto* c = qobject_cast<CConditionsDlg*>(QApplication::activeModalWidget());
      QVERIFY(c);
      c->fieldEdit(0)->setText("%1.004%");
      c->operatorBox(0)->setCurrentIndex(1);
      c->valuesEdit(0)->setText("CAR,CNA");
      c->valuesEdit(2)->setText("X");
      c->accept();
    });
    dlg.editConditions();
    QCOMPARE(dlg.conditionsButton()->text(), QString("Conditions (2)"));
    // Cancel in the condition editor leaves the conditions as they were.
    QTimer::singleShot(0, [] {
      auto* c = qobject_cast<CConditionsDlg*>(QApplication::activeModalWidget());
      QVERIFY(c);
      c->fieldEdit(3)->setText("%2.005%");
      c->reject();
    });
    dlg.editConditions();
    QCOMPARE(dlg.conditionsButton()->text(), QString("Conditions (2)"));
    dlg.editOrUpdate();
    const auto& conds = dlg.ruleSet().rules[0].conditions;
    QCOMPARE(conds.size(), std::size_t{2});
    QCOMPARE(conds[0], (rules::RuleCondition{rules::kEquals, "%1.004%", "CAR,CNA"}));
    // Selecting another rule and back shows each rule's own count.
    addRule(dlg, "Disable Save", {});
    QCOMPARE(dlg.conditionsButton()->text(), QString("Conditions"));
    dlg.ruleList()->setCurrentRow(0);
    QCOMPARE(dlg.conditionsButton()->text(), QString("Conditions (2)"));
  }

  void conditionRowsAreStoredTopToBottom() {
    const std::vector<rules::RuleCondition> start{{rules::kContains, "%2.005%", "A"},
                                                  {rules::kStartsWith, "%TCN%", "B"}};
    CConditionsDlg dlg(start);
    QCOMPARE(dlg.windowTitle(), QString("Conditions"));
    QCOMPARE(dlg.rowCount(), 5);
    QCOMPARE(dlg.operatorBox(0)->currentText(), QString("Contains"));
    QCOMPARE(dlg.operatorBox(1)->currentText(), QString("Starts With"));
    QStringList ops;
    for (int i = 0; i < dlg.operatorBox(2)->count(); ++i) ops << dlg.operatorBox(2)->itemText(i);
    QCOMPARE(ops, QStringList({"", "Equals", "Starts With", "Ends With", "Contains"}));
    dlg.operatorBox(2)->setCurrentText("Ends With");  // operator only
    dlg.valuesEdit(4)->setText("V1,V2");              // values only, row 4 left empty
    const auto out = dlg.conditions();
    QCOMPARE(out.size(), std::size_t{4});
    QCOMPARE(out[0], start[0]);
    QCOMPARE(out[1], start[1]);
    QCOMPARE(out[2], (rules::RuleCondition{rules::kEndsWith, "", ""}));
    QCOMPARE(out[3], (rules::RuleCondition{rules::kUnknownOperator, "", "V1,V2"}));
    QCOMPARE(CConditionsDlg::operatorAt(1), int(rules::kEquals));
    QCOMPARE(CConditionsDlg::operatorAt(4), int(rules::kContains));
  }

  void moreThanFiveConditionsAreKept() {
    std::vector<rules::RuleCondition> many;
    for (int i = 0; i < 7; ++i) many.push_back({rules::kEquals, "%TCN%", std::to_string(i)});
    CConditionsDlg dlg(many);
    QCOMPARE(dlg.rowCount(), 7);
    QCOMPARE(dlg.conditions(), many);
  }

  void saveWhileEditingCancelsTheEdit() {
    QTemporaryDir dir;
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    addRule(dlg, "Add Field", {"2.005", "KEEP"});
    dlg.ruleList()->setCurrentRow(0);
    dlg.editOrUpdate();
    dlg.parameterEdit(1)->setText("UNCONFIRMED");
    shell.picks = {dir.filePath("a.ntx")};
    dlg.saveAsCommand();
    QVERIFY(!dlg.isEditing());
    QCOMPARE(readAll(dir.filePath("a.ntx")), QString("Add Field|2.005|KEEP|||\n"));
    QVERIFY(dlg.saveAction()->isEnabled());
    // A rule added but not confirmed is not written by "Save" either.
    dlg.addRule();
    fill(dlg, "Disable Save", {});
    dlg.saveCommand();
    QCOMPARE(readAll(dir.filePath("a.ntx")), QString("Add Field|2.005|KEEP|||\n"));
    QCOMPARE(dlg.ruleSet().rules.size(), std::size_t{1});
  }

  void unknownActionsAreShownMarked() {
    QTemporaryDir dir;
    const QString path = dir.filePath("typo.ntx");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("Add Field|2.005|x|||\nadd field|2.005|y|||\n");
    f.close();
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.openRuleFile(path);
    QCOMPARE(dlg.ruleList()->count(), 2);
    QCOMPARE(dlg.ruleList()->item(1)->text(),
             QString("add field  Parameter 1 = 2.005, Parameter 2 = y"));
    QVERIFY(dlg.ruleList()->item(0)->toolTip().isEmpty());
    QVERIFY(dlg.ruleList()->item(1)->toolTip().startsWith("Unknown action"));
  }

  void editedFileReadsBackWithRulesAndConditions() {
    QTemporaryDir dir;
    const QString path = dir.filePath("edited.ntx");
    FakeShell shell;
    {
      CconversionDlg dlg(shell);
      dlg.show();
      QVERIFY(!dlg.saveAction()->isEnabled());
      addRule(dlg, "Add Field", {"2.005", "Y"});
      dlg.ruleList()->setCurrentRow(0);
      dlg.editOrUpdate();
      QTimer::singleShot(0, [] {
        auto* c = qobject_cast<CConditionsDlg*>(QApplication::activeModalWidget());
        QVERIFY(c);
        c->fieldEdit(0)->setText("%1.004%");
        c->operatorBox(0)->setCurrentText("Starts With");
        c->valuesEdit(0)->setText("CAR,CNA");
        c->accept();
      });
      dlg.editConditions();
      dlg.editOrUpdate();
      addRule(dlg, "Compress Records To WSQ", {"0.75"});
      addRule(dlg, "Convert Feature Set", {"Extended", "INCITS 378", "Warn"});
      QVERIFY(dlg.saveFile(path));
      QVERIFY(shell.messages.empty());
    }
    QCOMPARE(readAll(path), QString("Add Field|2.005|Y|||\n"
                                    "Condition|%1.004%|Starts With|CAR,CNA\n"
                                    "Compress Records To WSQ|0.75||||\n"
                                    "Convert Feature Set|Extended|INCITS 378|Warn||\n"));
    CconversionDlg again(shell);
    again.show();
    again.openRuleFile(path);
    QVERIFY(again.saveAction()->isEnabled());
    QCOMPARE(again.path(), path);
    QCOMPARE(again.ruleList()->count(), 3);
    QCOMPARE(again.ruleList()->currentRow(), 0);
    QCOMPARE(again.actionBox()->currentText(), QString("Add Field"));
    QCOMPARE(again.parameterEdit(0)->text(), QString("2.005"));
    QCOMPARE(again.parameterEdit(1)->text(), QString("Y"));
    QCOMPARE(again.conditionsButton()->text(), QString("Conditions (1)"));
    QVERIFY(again.parameterEdit(0)->isReadOnly());
    again.ruleList()->setCurrentRow(2);
    QCOMPARE(again.parameterList(0)->currentText(), QString("Extended"));
    QCOMPARE(again.parameterList(2)->currentText(), QString("Warn"));
    QCOMPARE(again.conditionsButton()->text(), QString("Conditions"));
    rules::RuleSet fromDisk;
    QCOMPARE(rules::readRuleFile(path.toStdString(), fromDisk), rules::kRuleFileDone);
    QCOMPARE(fromDisk, again.ruleSet());
  }

  void unknownActionsAreShownAndKept() {
    QTemporaryDir dir;
    const QString path = dir.filePath("other.ntx");
    {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("Future Action|alpha|beta|||\nDisable Save|||||\n");
    }
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.show();
    dlg.openRuleFile(path);
    QCOMPARE(dlg.ruleList()->item(0)->text(),
             QString("Future Action  Parameter 1 = alpha, Parameter 2 = beta"));
    QCOMPARE(dlg.actionBox()->currentIndex(), -1);
    QCOMPARE(dlg.parameterLabel(1)->text(), QString("Parameter 2"));
    QCOMPARE(dlg.parameterEdit(1)->text(), QString("beta"));
    QVERIFY(!dlg.parameterEdit(2)->isVisible());
    dlg.moveDown();
    QVERIFY(dlg.saveFile(path));
    QCOMPARE(readAll(path), QString("Disable Save|||||\nFuture Action|alpha|beta|||\n"));
  }

  void openWithoutAFileStartsEmpty() {
    FakeShell shell;
    CconversionDlg dlg(shell);
    dlg.openRuleFile("/nonexistent/rules.ntx");
    QCOMPARE(dlg.ruleList()->count(), 0);
    QVERIFY(dlg.path().isEmpty());
    QVERIFY(!dlg.saveAction()->isEnabled());
    QVERIFY(shell.messages.empty());
  }

  void newEmptiesTableAndPath() {
    QTemporaryDir dir;
    FakeShell shell;
    CconversionDlg dlg(shell);
    addRule(dlg, "Disable Save", {});
    QVERIFY(dlg.saveFile(dir.filePath("n.ntx")));
    dlg.newTable();
    QCOMPARE(dlg.ruleList()->count(), 0);
    QVERIFY(dlg.path().isEmpty());
    QVERIFY(!dlg.saveAction()->isEnabled());
  }
};

QTEST_MAIN(EditorTest)
#include "editor_test.moc"
