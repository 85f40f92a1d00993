#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace varnel::app {

/// Longest answer the prompt returns (characters).
inline constexpr int kPromptMaxLength = 319;
/// The answer of a cancelled or closed prompt.
inline constexpr const char* kPromptCancelledText = "%%CANCELLED%%";

/// The text prompt of "Prompt for Parameter" rules ("Varnel - Prompt"): Enter or "Confirm" takes
/// the typed text, Escape, "Cancel" or closing the window leave "%%CANCELLED%%".
class PromptBox : public QDialog {
  Q_OBJECT

 public:
  PromptBox(QWidget* parent, const QString& prompt);

  /// The answer: the confirmed text, or "%%CANCELLED%%" until the operator confirms.
  [[nodiscard]] QString answer() const { return answer_; }
  QLineEdit* edit() const { return edit_; }
  QPushButton* confirmButton() const { return confirm_; }
  QPushButton* cancelButton() const { return cancel_; }

  /// Shows a prompt modally and returns its answer.
  static QString getString(QWidget* parent, const QString& prompt);

 private:
  void confirm();

  QString answer_;
  QLabel* label_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QPushButton* confirm_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace varnel::app
