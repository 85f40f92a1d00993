// varnel-gui-shots: renders the main window, the rule editor and the condition editor into PNG
// files for the user documentation. Usage: varnel-gui-shots <output folder> <rule file>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "app/conditions_dlg.h"
#include "app/conversion_dlg.h"
#include "app/main_dlg.h"
#include "app/shell.h"

namespace {

bool shoot(QWidget& w, const QString& path) {
  w.show();
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
  const bool ok = w.grab().save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    (void)std::fputs("usage: varnel-gui-shots <output folder> <rule file>\n", stderr);
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const QString ruleFile = QString::fromLocal8Bit(argv[2]);
  // Keep the operator's remembered paths out of the pictures.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  varnel::app::DesktopShell shell;
  bool ok = true;

  varnel::app::CvarnelDlg main(shell);
  main.sourceEdit()->setText("/srv/nist/incoming");
  main.ruleEdit()->setText("/srv/nist/rules/cjis-profile.ntx");
  main.destinationEdit()->setText("/srv/nist/converted");
  main.progressBar()->setRange(0, 12);
  main.progressBar()->setValue(7);
  main.statusLabel()->setText("7 processed of 12");
  ok = shoot(main, out.filePath("main-window.png")) && ok;

  varnel::app::CconversionDlg editor(shell);
  editor.openRuleFile(ruleFile);
  editor.ruleList()->setCurrentRow(4);
  ok = shoot(editor, out.filePath("rule-editor.png")) && ok;

  std::vector<varnel::rules::RuleCondition> conditions = {
      {varnel::rules::kEquals, "%IMP%", "0,1"}, {varnel::rules::kStartsWith, "%1.004%", "CAR,CNA"}};
  if (!editor.ruleSet().rules.empty() && editor.ruleList()->currentRow() >= 0) {
    const auto& own = editor.ruleSet().rules[editor.ruleList()->currentRow()].conditions;
    if (!own.empty()) conditions = own;
  }
  varnel::app::CConditionsDlg conditionsDlg(conditions);
  ok = shoot(conditionsDlg, out.filePath("condition-editor.png")) && ok;
  return ok ? 0 : 1;
}
