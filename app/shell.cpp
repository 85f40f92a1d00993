#include "app/shell.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "app/prompt_box.h"

namespace varnel::app {

Shell::Answer DesktopShell::message(QWidget* parent, const QString& text, const QString& caption,
                                    Buttons buttons, Icon icon) {
  QMessageBox box(parent);
  box.setWindowTitle(caption);
  box.setText(text);
  switch (icon) {
    case Icon::kError:
      box.setIcon(QMessageBox::Critical);
      break;
    case Icon::kExclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case Icon::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case Icon::kNone:
      break;
  }
  if (buttons == Buttons::kYesNoCancel) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    const int pressed = box.exec();
    if (pressed == QMessageBox::Yes) return Answer::kYes;
    return pressed == QMessageBox::No ? Answer::kNo : Answer::kCancel;
  }
  if (buttons == Buttons::kYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes ? Answer::kYes : Answer::kNo;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return Answer::kOk;
}

QString DesktopShell::pickFolder(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start);
}

QString DesktopShell::pickOpenFile(QWidget* parent, const QString& dir, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, QString(), dir, filter);
}

QString DesktopShell::pickSaveFile(QWidget* parent, const QString& dir, const QString& filter) {
  return QFileDialog::getSaveFileName(parent, QString(), dir, filter, nullptr,
                                      QFileDialog::DontConfirmOverwrite);
}

QString DesktopShell::prompt(QWidget* parent, const QString& text) {
  return PromptBox::getString(parent, text);
}

void DesktopShell::openFile(const QString& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace varnel::app
