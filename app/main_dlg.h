#pragma once

#include <QMainWindow>
#include <QString>
#include <memory>

#include "rules/run.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QThread;

namespace varnel::app {

class GuiServices;
class RunFilesPanel;
class Shell;

/// The main window ("Brennic - Varnel"): the source, rule and destination paths, Convert, the
/// number of files converted at once, the progress bar (files committed to the report) and status
/// line, and the Rules and Help menus. A conversion runs on a worker thread; while it runs the
/// window repaints and shows progress but takes no input.
class CvarnelDlg : public QMainWindow {
  Q_OBJECT

 public:
  /// `shell` answers for the desktop and must outlive the window.
  explicit CvarnelDlg(Shell& shell, QWidget* parent = nullptr);
  ~CvarnelDlg() override;

  QLineEdit* sourceEdit() const { return source_; }
  QLineEdit* ruleEdit() const { return rule_; }
  QLineEdit* destinationEdit() const { return dest_; }
  QPushButton* convertButton() const { return convert_; }
  /// Shown while a run goes on: stops it after the file in hand.
  QPushButton* cancelButton() const { return cancel_; }
  QProgressBar* progressBar() const { return progress_; }
  /// Files converted at once (remembered; default: one per core).
  QSpinBox* workersSpin() const { return workers_; }
  QLabel* statusLabel() const { return status_; }
  /// The files of the last completed run, with their View and Compare buttons.
  RunFilesPanel* runFiles() const { return runFiles_; }
  /// True while a conversion runs.
  [[nodiscard]] bool isRunning() const { return worker_ != nullptr; }
  /// How the last conversion ended and what it left.
  [[nodiscard]] rules::ConvertStatus lastStatus() const { return lastStatus_; }
  [[nodiscard]] const rules::RunSummary& lastSummary() const { return lastSummary_; }

  /// The path of the help file: "Varnel.pdf" beside the executable, or the installed copy.
  [[nodiscard]] static QString helpFilePath();

 public slots:
  /// The Convert command: checks the entered texts and starts the run.
  void convert();
  /// Stops the running conversion after the file in hand; the report and results.csv are
  /// closed for the files done.
  void cancelRun();
  void browseSource();
  void browseRule();
  void browseDestination();
  /// Rules / View/Edit: the rule editor on the rule path shown.
  void editRules();
  /// File / View Transaction: a viewer window on a picked transaction file.
  void viewTransaction();
  /// File / Compare Transactions: two picked files side by side.
  void compareTransactions();
  void viewHelp();
  void checkForUpdates();
  void about();

 signals:
  /// A conversion has ended (validation failure, cancel or completion).
  void conversionFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void setRunning(bool running);
  void runFinished();

  Shell& shell_;
  std::unique_ptr<GuiServices> services_;
  QLineEdit* source_ = nullptr;
  QLineEdit* rule_ = nullptr;
  QLineEdit* dest_ = nullptr;
  QPushButton* convert_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QSpinBox* workers_ = nullptr;
  bool closeAfterRun_ = false;  // the window was closed during a run that is stopping
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  RunFilesPanel* runFiles_ = nullptr;
  QThread* worker_ = nullptr;
  rules::ConvertStatus lastStatus_ = rules::ConvertStatus::kInvalidInput;
  rules::RunSummary lastSummary_;
};

}  // namespace varnel::app
