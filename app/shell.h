#pragma once

#include <QString>

#include "rules/ui_services.h"

class QWidget;

namespace varnel::app {

/// Everything the windows ask of the desktop: message boxes, pickers, the text prompt and
/// opening a file with its default application. The windows reach the desktop only through this
/// interface so that tests can answer in their place.
class Shell {
 public:
  using Buttons = rules::UiServices::Buttons;
  using Icon = rules::UiServices::Icon;
  using Answer = rules::UiServices::Answer;

  virtual ~Shell() = default;

  /// Shows a message box owned by `parent`; blocks until answered.
  virtual Answer message(QWidget* parent, const QString& text, const QString& caption,
                         Buttons buttons, Icon icon) = 0;
  /// Folder picker; returns the chosen folder or an empty text.
  virtual QString pickFolder(QWidget* parent, const QString& title, const QString& start) = 0;
  /// File-open dialog for an existing file; returns the chosen path or an empty text.
  virtual QString pickOpenFile(QWidget* parent, const QString& dir, const QString& filter) = 0;
  /// File-save dialog (no overwrite question); returns the chosen path or an empty text.
  virtual QString pickSaveFile(QWidget* parent, const QString& dir, const QString& filter) = 0;
  /// The text prompt: the typed answer or exactly "%%CANCELLED%%".
  virtual QString prompt(QWidget* parent, const QString& text) = 0;
  /// Opens a file with the desktop's handler; no result is checked.
  virtual void openFile(const QString& path) = 0;
};

/// The real desktop: Qt message boxes and file dialogs, the prompt box, QDesktopServices.
class DesktopShell final : public Shell {
 public:
  Answer message(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                 Icon icon) override;
  QString pickFolder(QWidget* parent, const QString& title, const QString& start) override;
  QString pickOpenFile(QWidget* parent, const QString& dir, const QString& filter) override;
  QString pickSaveFile(QWidget* parent, const QString& dir, const QString& filter) override;
  QString prompt(QWidget* parent, const QString& text) override;
  void openFile(const QString& path) override;
};

/// Filter of the rule file dialogs.
inline constexpr const char* kRuleFileFilter = "NIST Conversion Rule File (*.ntx)";
/// Caption of every message box of the program.
inline constexpr const char* kCaption = "Varnel";

}  // namespace varnel::app
