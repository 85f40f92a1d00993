#include "app/main_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <thread>

#include "app/about_dlg.h"
#include "app/conversion_dlg.h"
#include "app/gui_services.h"
#include "app/settings.h"
#include "app/shell.h"
#include "app/update_check.h"
#include "app/viewer_compare.h"
#include "app/viewer_dlg.h"
#include "app/viewer_run_files.h"

namespace varnel::app {
namespace {

QLineEdit* pathGroup(QWidget* parent, QVBoxLayout* layout, const QString& title,
                     const QString& name, QPushButton*& browse) {
  auto* group = new QGroupBox(title, parent);
  auto* row = new QHBoxLayout(group);
  auto* edit = new QLineEdit(group);
  edit->setObjectName(name);
  edit->setMaxLength(4096);
  browse = new QPushButton("Browse", group);
  row->addWidget(edit, 1);
  row->addWidget(browse);
  layout->addWidget(group);
  return edit;
}

}  // namespace

CvarnelDlg::CvarnelDlg(Shell& shell, QWidget* parent) : QMainWindow(parent), shell_(shell) {
  setObjectName("mainWindow");
  setWindowTitle("Brennic - Varnel");

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  QPushButton* browse = nullptr;
  source_ = pathGroup(central, layout, "Source NIST Folder", "sourceEdit", browse);
  connect(browse, &QPushButton::clicked, this, &CvarnelDlg::browseSource);
  rule_ = pathGroup(central, layout, "Conversion Rule", "ruleEdit", browse);
  connect(browse, &QPushButton::clicked, this, &CvarnelDlg::browseRule);
  dest_ = pathGroup(central, layout, "Destination NIST Folder", "destinationEdit", browse);
  connect(browse, &QPushButton::clicked, this, &CvarnelDlg::browseDestination);

  auto* bottom = new QHBoxLayout;
  progress_ = new QProgressBar(central);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  convert_ = new QPushButton("Convert", central);
  convert_->setDefault(true);
  connect(convert_, &QPushButton::clicked, this, &CvarnelDlg::convert);
  cancel_ = new QPushButton("Cancel", central);
  cancel_->setObjectName("cancelButton");
  cancel_->setToolTip("Stop after the file in hand (Esc)");
  cancel_->setShortcut(QKeySequence(Qt::Key_Escape));
  cancel_->hide();
  connect(cancel_, &QPushButton::clicked, this, &CvarnelDlg::cancelRun);
  // Files converted at once; the report and outputs are the same whatever the number.
  const int cores = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
  auto* workersLabel = new QLabel("&Workers", central);
  workers_ = new QSpinBox(central);
  workers_->setObjectName("workersSpin");
  workers_->setRange(1, std::max(cores, 64));
  workers_->setToolTip("Files converted at once (default: one per processor core)");
  bool remembered = false;
  const int workers = readSetting(kWorkersKey).toInt(&remembered);
  workers_->setValue(remembered && workers >= 1 ? workers : cores);
  workersLabel->setBuddy(workers_);
  connect(workers_, &QSpinBox::valueChanged, this,
          [](int n) { writeSetting(kWorkersKey, QString::number(n)); });
  bottom->addWidget(workersLabel);
  bottom->addWidget(workers_);
  bottom->addWidget(progress_, 1);
  bottom->addWidget(convert_);
  bottom->addWidget(cancel_);
  layout->addLayout(bottom);
  status_ = new QLabel(central);
  status_->setObjectName("statusLabel");
  layout->addWidget(status_);
  runFiles_ = new RunFilesPanel(shell_, central);
  layout->addWidget(runFiles_, 1);
  setCentralWidget(central);
  buildMenus();
  resize(560, 300);
  // Where the user last left the window; restoreGeometry keeps it on a screen that exists.
  if (const QByteArray geometry = readSettingBytes(kMainWindowGeometryKey); !geometry.isEmpty())
    restoreGeometry(geometry);

  source_->setText(readSetting(kSourceFolderKey));
  dest_->setText(readSetting(kDestinationFolderKey));
  rule_->setText(readSetting(kRuleFileKey));

  services_ = std::make_unique<GuiServices>(
      this, shell_,
      [this](int low, int high) {
        // An empty range would show a busy bar; keep the bar still instead.
        progress_->setRange(low, high > low ? high : low + 1);
        progress_->setValue(low);
      },
      [this](int position) { progress_->setValue(position); },
      [this](const QString& text) { status_->setText(text); });
}

CvarnelDlg::~CvarnelDlg() {
  if (worker_) worker_->wait();
}

void CvarnelDlg::buildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&View Transaction...", QKeySequence::Open, this, &CvarnelDlg::viewTransaction);
  file->addAction("&Compare Transactions...", this, &CvarnelDlg::compareTransactions);
  QMenu* rules = menuBar()->addMenu("Rules");
  rules->addAction("View/Edit", this, &CvarnelDlg::editRules);
  QMenu* help = menuBar()->addMenu("&Help");
  QAction* view = help->addAction("&View Help", this, &CvarnelDlg::viewHelp);
  view->setShortcut(QKeySequence::HelpContents);
  help->addAction(style()->standardIcon(QStyle::SP_BrowserReload), "&Check for Updates", this,
                  &CvarnelDlg::checkForUpdates);
  help->addAction(style()->standardIcon(QStyle::SP_MessageBoxInformation), "&About", this,
                  &CvarnelDlg::about);
}

void CvarnelDlg::browseSource() {
  const QString dir = shell_.pickFolder(this, "Source NIST Folder", source_->text());
  if (!dir.isEmpty()) source_->setText(QDir::toNativeSeparators(dir));
}

void CvarnelDlg::browseDestination() {
  const QString dir = shell_.pickFolder(this, "Destination NIST Folder", dest_->text());
  if (!dir.isEmpty()) dest_->setText(QDir::toNativeSeparators(dir));
}

void CvarnelDlg::browseRule() {
  // The dialog starts in the folder of the current rule path.
  const QString current = rule_->text();
  const qsizetype cut =
      std::max({current.lastIndexOf('\\'), current.lastIndexOf('/'), current.lastIndexOf(':')});
  const QString start = cut >= 0 ? current.left(cut) : QString();
  const QString path = shell_.pickOpenFile(this, start, kRuleFileFilter);
  if (!path.isEmpty()) rule_->setText(QDir::toNativeSeparators(path));
}

void CvarnelDlg::setRunning(bool running) {
  // Only the window's own controls and menus stop taking input; the message boxes and prompts
  // of the run stay usable.
  // Cancel stays usable: everything else of the window waits for the run.
  for (QWidget* w : centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w != cancel_ && w != progress_ && w != status_) w->setEnabled(!running);
  }
  menuBar()->setEnabled(!running);
  convert_->setVisible(!running);
  cancel_->setVisible(running);
  cancel_->setEnabled(running);
  cancel_->setText("Cancel");
  if (running) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
  }
}

void CvarnelDlg::convert() {
  if (worker_) return;
  const std::string source = source_->text().toStdString();
  const std::string dest = dest_->text().toStdString();
  const std::string ruleFile = rule_->text().toStdString();
  setRunning(true);
  runFiles_->hide();  // the list of the previous run no longer holds
  lastSummary_ = rules::RunSummary{};
  services_->clearStop();
  rules::RunOptions options;
  options.jobs = workers_->value();
  options.keepFileResults = false;  // the window shows the counts; the file list reads the folder
  worker_ = QThread::create([this, source, dest, ruleFile, options] {
    rules::RunSummary summary;
    lastStatus_ = rules::convertCommand(source, dest, ruleFile, *services_, summary, options);
    lastSummary_ = std::move(summary);
  });
  connect(worker_, &QThread::finished, this, &CvarnelDlg::runFinished);
  worker_->start();
}

void CvarnelDlg::runFinished() {
  worker_->wait();
  worker_->deleteLater();
  worker_ = nullptr;
  setRunning(false);
  if (lastStatus_ == rules::ConvertStatus::kCompleted) {
    runFiles_->showRun(source_->text(), dest_->text());
    // Room for the file list below the controls.
    resize(std::max(width(), 720), std::max(height(), 480));
  }
  emit conversionFinished();
  if (closeAfterRun_) close();
}

void CvarnelDlg::cancelRun() {
  if (!worker_) return;
  services_->requestStop();
  cancel_->setEnabled(false);
  cancel_->setText("Stopping...");
  status_->setText("Stopping after the file in hand...");
}

void CvarnelDlg::closeEvent(QCloseEvent* event) {
  // Closing during a run stops it cleanly (after the file in hand) once the operator agrees;
  // the window closes when the run has closed its report.
  if (worker_) {
    event->ignore();
    if (closeAfterRun_) return;
    if (shell_.message(this, "A conversion is running. Stop it after the file in hand and close?",
                       kCaption, Shell::Buttons::kYesNo,
                       Shell::Icon::kQuestion) == Shell::Answer::kYes) {
      closeAfterRun_ = true;
      cancelRun();
    }
    return;
  }
  writeSettingBytes(kMainWindowGeometryKey, saveGeometry());
  QMainWindow::closeEvent(event);
}

void CvarnelDlg::editRules() {
  CconversionDlg dlg(shell_, this);
  dlg.openRuleFile(rule_->text());
  dlg.exec();
}

void CvarnelDlg::viewTransaction() {
  const QString path = shell_.pickOpenFile(this, source_->text(), kTransactionFilter);
  if (path.isEmpty()) return;
  auto* viewer = new CViewerDlg(shell_, this);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->openFile(path);
  viewer->show();
}

void CvarnelDlg::compareTransactions() {
  const QString left = shell_.pickOpenFile(this, source_->text(), kTransactionFilter);
  if (left.isEmpty()) return;
  const QString right = shell_.pickOpenFile(this, dest_->text(), kTransactionFilter);
  if (right.isEmpty()) return;
  auto* dlg = new CCompareDlg(this);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->openFiles(left, right);
  dlg->show();
}

QString CvarnelDlg::helpFilePath() {
  const QString dir = QCoreApplication::applicationDirPath();
  QString beside = QDir(dir).filePath("Varnel.pdf");
  if (QFileInfo::exists(beside)) return beside;
  const QString installed = QDir(dir).filePath("../share/doc/varnel/Varnel.pdf");
  if (QFileInfo::exists(installed)) return QDir::cleanPath(installed);
  return beside;
}

void CvarnelDlg::viewHelp() { shell_.openFile(helpFilePath()); }

void CvarnelDlg::checkForUpdates() {
  CUpdateCheck check(shell_);
  check.check(this, false);
}

void CvarnelDlg::about() {
  CAboutDlg dlg(this);
  dlg.exec();
}

}  // namespace varnel::app
