// The main window: remembered paths, the Convert checks, and whole runs on a worker thread with
// prompts, progress and the report opened through the desktop.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <thread>

#include "app/main_dlg.h"
#include "app/settings.h"
#include "samples/tx_builder.h"
#include "tests/app/fake_shell.h"

using varnel::app::CvarnelDlg;
using varnel::app::test::FakeShell;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

QByteArray transaction(int n) {
  varnel::samples::TxBuilder b;
  b.type1Field(9, "TCN" + std::to_string(n));
  b.type2(0, {{18, "DOE,JOHN"}});
  const std::string bytes = b.bytes();
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Runs Convert with the three texts and waits for the run to end.
bool convert(CvarnelDlg& w, const QString& source, const QString& dest, const QString& rule) {
  w.sourceEdit()->setText(source);
  w.destinationEdit()->setText(dest);
  w.ruleEdit()->setText(rule);
  QSignalSpy done(&w, &CvarnelDlg::conversionFinished);
  w.convert();
  return done.wait(60000);
}

QStringList reports(const QString& dir) {
  return QDir(dir).entryList({"VarnelReport_*.html"}, QDir::Files);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir settings_;
  QTemporaryDir work_;
  QString src_, dst_, empty_, rule_;

 private slots:
  void initTestCase() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path());
    QDir w(work_.path());
    for (const char* d : {"src", "dst", "empty", "empty/sub"}) QVERIFY(w.mkpath(d));
    src_ = w.filePath("src");
    dst_ = w.filePath("dst");
    empty_ = w.filePath("empty");
    rule_ = w.filePath("rules.ntx");
    writeFile(rule_, "Disable Save|||||\n");
    writeFile(src_ + "/one.nst", transaction(1));
    writeFile(empty_ + "/notes.txt", "not a transaction");
  }

  void init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillon", "Varnel").clear();
  }

  void startsWithEmptyFieldsWithoutSettings() {
    FakeShell shell;
    CvarnelDlg w(shell);
    QCOMPARE(w.windowTitle(), QString("Brennic - Varnel"));
    QVERIFY(w.sourceEdit()->text().isEmpty());
    QVERIFY(w.destinationEdit()->text().isEmpty());
    QVERIFY(w.ruleEdit()->text().isEmpty());
  }

  void convertsWithTheRememberedNumberOfWorkers() {
    FakeShell shell;
    {
      CvarnelDlg w(shell);
      QCOMPARE(w.workersSpin()->value(),
               static_cast<int>(std::max(1U, std::thread::hardware_concurrency())));
      w.workersSpin()->setValue(3);
    }
    CvarnelDlg w(shell);
    QCOMPARE(w.workersSpin()->value(), 3);
    QTemporaryDir dir;
    const QString in = dir.filePath("in"), out = dir.filePath("out");
    QVERIFY(QDir().mkpath(in) && QDir().mkpath(out));
    for (int i = 1; i <= 7; ++i) writeFile(in + QString("/f%1.nst").arg(i), transaction(i));
    QList<int> committed;
    connect(w.progressBar(), &QProgressBar::valueChanged, &w, [&committed](int v) {
      if (v > 0) committed.append(v);
    });
    QVERIFY(convert(w, in, out, rule_));
    QCOMPARE(w.lastSummary().counts.processed, 7);
    QCOMPARE(committed, (QList<int>{1, 2, 3, 4, 5, 6, 7}));  // one by one, in order
  }

  void keepsItsSizeAndPositionBetweenRuns() {
    FakeShell shell;
    {
      CvarnelDlg w(shell);
      w.show();
      w.setGeometry(40, 50, 700, 420);
      QVERIFY(w.close());
    }
    CvarnelDlg again(shell);
    QCOMPARE(again.geometry().size(), QSize(700, 420));
    QCOMPARE(again.geometry().topLeft(), QPoint(40, 50));
  }

  void cancelAndClosingStopARunAfterTheFileInHand() {
    QTemporaryDir dir;
    const QString in = dir.filePath("in"), out = dir.filePath("out");
    QVERIFY(QDir().mkpath(in) && QDir().mkpath(out));
    for (int i = 1; i <= 5; ++i) writeFile(in + QString("/f%1.nst").arg(i), transaction(i));
    const QString rules = dir.filePath("r.ntx");
    writeFile(rules, "Add Field|2.005|x||||\n");
    {
      FakeShell shell;
      CvarnelDlg w(shell);
      w.workersSpin()->setValue(1);  // with more, the files already taken are finished too
      w.show();
      // Cancel as soon as the first file is counted.
      connect(w.progressBar(), &QProgressBar::valueChanged, &w, [&w](int v) {
        if (v == 1) {
          QVERIFY(w.cancelButton()->isVisible() && w.cancelButton()->isEnabled());
          w.cancelButton()->click();
        }
      });
      QVERIFY(convert(w, in, out, rules));
      QCOMPARE(w.lastStatus(), varnel::rules::ConvertStatus::kStopped);
      QCOMPARE(w.lastSummary().counts.processed, 1);
      QCOMPARE(shell.texts().last(),
               QString("Conversion stopped after 1 of 5 files, would you like to see the report?"));
      QVERIFY(!w.cancelButton()->isVisible());
      QVERIFY(w.convertButton()->isVisible() && w.convertButton()->isEnabled());
    }
    {
      FakeShell shell;
      shell.answers = {FakeShell::Answer::kYes, FakeShell::Answer::kNo};
      CvarnelDlg w(shell);
      w.workersSpin()->setValue(1);
      w.show();
      connect(w.progressBar(), &QProgressBar::valueChanged, &w, [&w](int v) {
        if (v == 1) w.close();
      });
      QVERIFY(convert(w, in, out, rules));
      QCOMPARE(w.lastStatus(), varnel::rules::ConvertStatus::kStopped);
      QVERIFY(shell.texts().first().startsWith("A conversion is running"));
      QTRY_VERIFY(!w.isVisible());
    }
  }

  void showsTheRememberedPaths() {
    varnel::app::writeSetting("SourceFolder", "/data/in");
    varnel::app::writeSetting("DestinationFolder", "/data/out");
    varnel::app::writeSetting("RuleFile", "/data/r.ntx");
    FakeShell shell;
    CvarnelDlg w(shell);
    QCOMPARE(w.sourceEdit()->text(), QString("/data/in"));
    QCOMPARE(w.destinationEdit()->text(), QString("/data/out"));
    QCOMPARE(w.ruleEdit()->text(), QString("/data/r.ntx"));
  }

  void convertChecksTheEnteredTexts_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("dest");
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("message");
    const QString missing = work_.filePath("missing");
    QTest::newRow("no source") << ""
                               << ""
                               << ""
                               << "You must enter a source folder";
    QTest::newRow("no destination") << src_ << "" << rule_ << "You must enter a destination folder";
    QTest::newRow("source missing")
        << missing << dst_ << rule_ << "Source NIST Path does not exist";
    QTest::newRow("rule missing") << src_ << dst_ << missing << "Rule file does not exist";
    QTest::newRow("rule is folder") << src_ << dst_ << dst_ << "Rule file does not exist";
    QTest::newRow("destination missing")
        << src_ << missing << rule_ << "Destination NIST Path does not exist";
    QTest::newRow("same paths") << src_ << src_ << rule_
                                << "Source and Destination paths cannot be the same";
    QTest::newRow("no transaction files")
        << empty_ << dst_ << rule_ << "No Files in this folder to convert";
  }

  void convertChecksTheEnteredTexts() {
    QFETCH(QString, source);
    QFETCH(QString, dest);
    QFETCH(QString, rule);
    QFETCH(QString, message);
    FakeShell shell;
    CvarnelDlg w(shell);
    QVERIFY(convert(w, source, dest, rule));
    QCOMPARE(shell.texts(), QStringList{message});
    QCOMPARE(shell.messages[0].caption, QString("Varnel"));
    QCOMPARE(shell.messages[0].buttons, FakeShell::Buttons::kOk);
    QVERIFY(varnel::app::readSetting("SourceFolder").isEmpty());  // nothing remembered
    QVERIFY(reports(dst_).isEmpty());
    QVERIFY(w.sourceEdit()->isEnabled());
  }

  void sourceSpeltAnotherWayIsTheSameFolder() {
    FakeShell shell;
    CvarnelDlg w(shell);
    QVERIFY(convert(w, src_, src_ + "/.", rule_));
    QCOMPARE(shell.texts(), QStringList{"Source and Destination paths cannot be the same"});
    QVERIFY(reports(src_).isEmpty());
  }

  void wholeRunOnTheSamplesOpensTheReport() {
    QTemporaryDir run;
    QDir r(run.path());
    QVERIFY(r.mkpath("in") && r.mkpath("out"));
    const QString in = r.filePath("in");
    const QString out = r.filePath("out");
    // The sample transactions when they are present, generated ones otherwise.
    const QDir samples(QString(VARNEL_SOURCE_DIR) + "/samples/transactions");
    int count = 0;
    for (const QString& name : samples.entryList(QDir::Files)) {
      if (QFile::copy(samples.filePath(name), in + "/" + name)) ++count;
    }
    if (count == 0) {
      for (int i = 1; i <= 3; ++i) writeFile(in + QString("/sample_%1.nst").arg(i), transaction(i));
      count = 3;
    }
    writeFile(in + "/broken.eft", "1.001:not a transaction");
    ++count;
    const QString ruleFile = QString(VARNEL_SOURCE_DIR) + "/samples/rules/demo.ntx";
    QVERIFY(QFile::exists(ruleFile));

    FakeShell shell;
    CvarnelDlg w(shell);
    QSignalSpy progress(w.progressBar(), &QProgressBar::valueChanged);
    QVERIFY(convert(w, in, out, ruleFile));
    // The damaged file is an error: the closing question says so rather than "complete".
    QCOMPARE(shell.texts(),
             QStringList{QString("Conversion finished: %1 of %2 files had errors, would you like "
                                 "to see the report?")
                             .arg(w.lastSummary().filesWithErrors)
                             .arg(count)});
    QVERIFY(w.lastSummary().filesWithErrors >= 1);
    QCOMPARE(shell.messages[0].buttons, FakeShell::Buttons::kYesNo);
    QCOMPARE(shell.messages[0].icon, FakeShell::Icon::kExclamation);
    QCOMPARE(w.lastStatus(), varnel::rules::ConvertStatus::kCompleted);
    const QStringList made = reports(out);
    QCOMPARE(made.size(), 1);
    QCOMPARE(shell.opened, QStringList{out + "/" + made[0]});
    QCOMPARE(w.progressBar()->maximum(), count);
    QCOMPARE(w.progressBar()->value(), count);
    QCOMPARE(progress.size(), count);  // one step per file
    QCOMPARE(w.statusLabel()->text(), QString("%1 processed of %1").arg(count));
    QCOMPARE(varnel::app::readSetting("SourceFolder"), in);
    QCOMPARE(varnel::app::readSetting("DestinationFolder"), out);
    QCOMPARE(varnel::app::readSetting("RuleFile"), ruleFile);
    QFile report(out + "/" + made[0]);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray html = report.readAll();
    QVERIFY(html.contains("broken.eft: </strong>Invalid NIST File"));
    // The demo rules rename every converted file (the samples include damaged ones).
    const auto converted = html.count("NIST File successfully converted");
    QVERIFY(converted >= 1);
    QCOMPARE(QDir(out).entryList({"*_converted.*"}, QDir::Files).size(), converted);
    QVERIFY(w.centralWidget()->isEnabled());
    QVERIFY(w.menuBar()->isEnabled());
  }

  void promptsAreAnsweredWhileInputIsBlocked() {
    QTemporaryDir run;
    const QString ruleFile = run.filePath("prompt.ntx");
    writeFile(ruleFile,
              "Prompt for Parameter|AGENCY|Agency code?|||\n"
              "Add Field|2.005|%AGENCY%|||\n");
    FakeShell shell;
    shell.promptAnswers = {"ORI42"};
    shell.answers = {FakeShell::Answer::kNo};
    CvarnelDlg w(shell);
    bool blocked = false;
    shell.onPrompt = [&] {
      blocked = w.isRunning() && !w.sourceEdit()->isEnabled() && !w.convertButton()->isVisible() &&
                w.cancelButton()->isEnabled();
    };
    QVERIFY(convert(w, src_, run.path(), ruleFile));
    QVERIFY(blocked);
    QCOMPARE(shell.prompts, QStringList{"Agency code?"});
    QVERIFY(shell.opened.isEmpty());  // the operator answered No
    QCOMPARE(QDir(run.path()).entryList({"one.nst"}, QDir::Files).size(), 1);
    QVERIFY(w.sourceEdit()->isEnabled());
  }

  void cancelledPromptWritesNothing() {
    QTemporaryDir run;
    const QString ruleFile = run.filePath("prompt.ntx");
    writeFile(ruleFile, "Prompt for Parameter|AGENCY|Agency code?|||\n");
    QDir(run.path()).mkpath("out");
    const QString out = run.filePath("out");
    FakeShell shell;  // no prompt answers: the prompt is cancelled
    CvarnelDlg w(shell);
    QVERIFY(convert(w, src_, out, ruleFile));
    QCOMPARE(shell.texts(), QStringList{"Conversion was cancelled"});
    QCOMPARE(shell.messages[0].icon, FakeShell::Icon::kExclamation);
    QVERIFY(QDir(out).isEmpty());
    QVERIFY(shell.opened.isEmpty());
    QCOMPARE(w.lastStatus(), varnel::rules::ConvertStatus::kCancelled);
  }

  void browseButtonsFillTheFields() {
    FakeShell shell;
    CvarnelDlg w(shell);
    w.ruleEdit()->setText("/srv/rules/old.ntx");
    shell.picks = {"/srv/rules/new.ntx", "/srv/in", "", "/srv/out"};
    w.browseRule();
    w.browseSource();
    w.browseDestination();  // cancelled picker: the text stays
    QCOMPARE(w.ruleEdit()->text(), QString("/srv/rules/new.ntx"));
    QCOMPARE(w.sourceEdit()->text(), QString("/srv/in"));
    QVERIFY(w.destinationEdit()->text().isEmpty());
    w.browseDestination();
    QCOMPARE(w.destinationEdit()->text(), QString("/srv/out"));
    QCOMPARE(shell.pickStarts[0], QString("NIST Conversion Rule File (*.ntx)|/srv/rules"));
    QCOMPARE(shell.pickStarts[1], QString("Source NIST Folder|"));
    QCOMPARE(shell.pickStarts[2], QString("Destination NIST Folder|"));
  }

  void helpOpensThePdf() {
    FakeShell shell;
    CvarnelDlg w(shell);
    w.viewHelp();
    QCOMPARE(shell.opened.size(), 1);
    QVERIFY(shell.opened[0].endsWith("Varnel.pdf"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
