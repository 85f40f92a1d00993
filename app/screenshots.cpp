// varnel-gui-shots: renders the main window, the rule editor, the condition editor and, given the
// sample corpus, the transaction viewer and comparison into PNG files for the user documentation.
// Usage: varnel-gui-shots <output folder> <rule file> [<corpus folder>]
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "app/conditions_dlg.h"
#include "app/conversion_dlg.h"
#include "app/main_dlg.h"
#include "app/shell.h"
#include "app/viewer_compare.h"
#include "app/viewer_dlg.h"
#include "app/viewer_run_files.h"
#include "rules/feature_actions.h"
#include "transaction/nist_file.h"

namespace {

bool shoot(QWidget& w, const QString& path) {
  w.show();
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
  const bool ok = w.grab().save(path, "PNG");
  (void)std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  return ok;
}

// Runs the event loop until `object` emits `signal` (at most 30 s); false on time-out.
template <typename Object, typename Signal>
bool waitFor(Object* object, Signal signal) {
  QEventLoop loop;
  bool seen = false;
  QObject::connect(object, signal, &loop, [&] {
    seen = true;
    loop.quit();
  });
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  loop.exec();
  return seen;
}

bool touch(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly);
}

// The viewer on a file with minutiae, a comparison with its converted form, and the run file
// list of the main window.
bool shootViewer(varnel::app::Shell& shell, const QDir& out, const QDir& corpus) {
  const QString input = corpus.filePath("nist-reference/type-9-4-iafis.an2");
  if (!QFile::exists(input)) {
    (void)std::printf("no corpus at %s: viewer screenshots skipped\n", qPrintable(corpus.path()));
    return true;
  }
  bool ok = true;
  varnel::app::CViewerDlg viewer(shell);
  viewer.openFile(input);
  if (!waitFor(&viewer, &varnel::app::CViewerDlg::transactionLoaded)) return false;
  viewer.tree()->topLevelItem(3)->setExpanded(true);
  viewer.selectRecord(3);
  if (!waitFor(&viewer, &varnel::app::CViewerDlg::imageShown)) return false;
  ok = shoot(viewer, out.filePath("viewer.png")) && ok;

  // The converted form: the FBI IAFIS minutiae rewritten as an INCITS 378 block.
  QTemporaryDir work;
  const QString converted = QDir(work.path()).filePath("type-9-4-iafis_converted.an2");
  varnel::transaction::NistFile file;
  std::vector<std::string> warnings;
  if (file.load(input.toStdString()) != 0 ||
      varnel::rules::convertFeatureSet(file, "FBI IAFIS", warnings) != 0 ||
      file.saveTraditional(converted.toStdString()) != 0) {
    return false;
  }
  varnel::app::CCompareDlg compare;
  compare.openFiles(input, converted);
  if (!waitFor(&compare, &varnel::app::CCompareDlg::compared)) return false;
  compare.leftTree()->topLevelItem(2)->setExpanded(true);
  ok = shoot(compare, out.filePath("compare.png")) && ok;

  QDir runDir(work.path());
  runDir.mkpath("in");
  runDir.mkpath("out");
  for (const char* name :
       {"in/S001-01.eft", "in/S001-02.eft", "in/S001-03.eft", "in/latent.an2",
        "out/S001-01_converted.eft", "out/S001-02_converted.eft", "out/latent_converted.an2"}) {
    ok = touch(runDir.filePath(name)) && ok;
  }
  varnel::app::CvarnelDlg main(shell);
  main.sourceEdit()->setText("/srv/nist/incoming");
  main.ruleEdit()->setText("/srv/nist/rules/cjis-profile.ntx");
  main.destinationEdit()->setText("/srv/nist/converted");
  main.progressBar()->setRange(0, 4);
  main.progressBar()->setValue(4);
  main.statusLabel()->setText("4 processed of 4");
  main.runFiles()->showRun(runDir.filePath("in"), runDir.filePath("out"));
  main.resize(720, 480);
  ok = shoot(main, out.filePath("run-files.png")) && ok;
  return ok;
}

// A desktop that answers every question with No and shows nothing, for a run nobody watches.
class QuietShell final : public varnel::app::Shell {
 public:
  Answer message(QWidget*, const QString&, const QString&, Buttons, Icon) override {
    return Answer::kNo;
  }
  QString pickFolder(QWidget*, const QString&, const QString&) override { return {}; }
  QString pickOpenFile(QWidget*, const QString&, const QString&) override { return {}; }
  QString pickSaveFile(QWidget*, const QString&, const QString&) override { return {}; }
  QString prompt(QWidget*, const QString&) override { return "%%CANCELLED%%"; }
  void openFile(const QString&) override {}
};

// The main window in the middle of a run over copies of the sample transactions, with its Cancel
// button; the picture is taken when half of the files are done.
bool shootRunningWindow(const QDir& out, const QDir& rulesDir) {
  QuietShell shell;
  QTemporaryDir work;
  QDir dir(work.path());
  if (!dir.mkpath("incoming") || !dir.mkpath("converted")) return false;
  const QDir samples(rulesDir.filePath("../transactions"));
  int n = 0;
  for (int copy = 0; copy < 8; ++copy) {
    for (const QString& name : samples.entryList({"*.eft", "*.an2"}, QDir::Files)) {
      if (QFile::copy(
              samples.filePath(name),
              dir.filePath(QString("incoming/%1_%2").arg(copy, 2, 10, QChar('0')).arg(name))))
        ++n;
    }
  }
  const QString rules = dir.filePath("profile.ntx");
  {
    QFile f(rules);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write("Add Field|2.005|Y||||\n");
  }
  varnel::app::CvarnelDlg main(shell);
  main.sourceEdit()->setText(dir.filePath("incoming"));
  main.ruleEdit()->setText(rules);
  main.destinationEdit()->setText(dir.filePath("converted"));
  main.show();
  bool shot = false;
  QObject::connect(main.progressBar(), &QProgressBar::valueChanged, &main, [&](int v) {
    if (shot || v < n / 2) return;
    shot = true;
    main.sourceEdit()->setText("/srv/nist/incoming");
    main.ruleEdit()->setText("/srv/nist/rules/cjis-profile.ntx");
    main.destinationEdit()->setText("/srv/nist/converted");
    shot = shoot(main, out.filePath("main-window.png"));
    main.cancelRun();
  });
  main.convert();
  if (!waitFor(&main, &varnel::app::CvarnelDlg::conversionFinished)) return false;
  return shot;
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

  ok = shootRunningWindow(out, QFileInfo(ruleFile).dir()) && ok;

  varnel::app::CconversionDlg editor(shell);
  editor.openRuleFile(ruleFile);
  editor.ruleList()->setCurrentRow(4);
  ok = shoot(editor, out.filePath("rule-editor.png")) && ok;

  // The grouped action list, open as the operator sees it when choosing an action.
  editor.addRule();
  editor.actionBox()->showPopup();
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
  QWidget* popup = editor.actionBox()->view()->window();
  const QPixmap list = popup->grab();
  const bool listOk = list.save(out.filePath("action-list.png"), "PNG");
  (void)std::printf("%s %s\n", listOk ? "wrote" : "could not write",
                    qPrintable(out.filePath("action-list.png")));
  ok = listOk && ok;
  editor.actionBox()->hidePopup();
  editor.deleteOrCancel();

  std::vector<varnel::rules::RuleCondition> conditions = {
      {varnel::rules::kEquals, "%IMP%", "0,1"}, {varnel::rules::kStartsWith, "%1.004%", "CAR,CNA"}};
  if (!editor.ruleSet().rules.empty() && editor.ruleList()->currentRow() >= 0) {
    const auto& own = editor.ruleSet().rules[editor.ruleList()->currentRow()].conditions;
    if (!own.empty()) conditions = own;
  }
  varnel::app::CConditionsDlg conditionsDlg(conditions);
  ok = shoot(conditionsDlg, out.filePath("condition-editor.png")) && ok;
  if (argc >= 4) {
    ok = shootViewer(shell, out, QDir(QString::fromLocal8Bit(argv[3]))) && ok;
  }
  return ok ? 0 : 1;
}
