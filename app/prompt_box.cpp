#include "app/prompt_box.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace varnel::app {

PromptBox::PromptBox(QWidget* parent, const QString& prompt)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      answer_(kPromptCancelledText) {
  setObjectName("promptBox");
  setWindowTitle("Varnel - Prompt");
  setFixedSize(500, 170);
  QFont font("Arial");
  font.setPixelSize(20);
  setFont(font);

  label_ = new QLabel(prompt, this);
  label_->setGeometry(5, 10, 330, 60);
  label_->setWordWrap(true);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  edit_ = new QLineEdit(this);
  edit_->setObjectName("promptEdit");
  edit_->setGeometry(5, 90, 470, 30);
  edit_->setMaxLength(kPromptMaxLength);

  confirm_ = new QPushButton("Confirm", this);
  confirm_->setGeometry(350, 10, 120, 25);
  // Enter confirms wherever the focus is, as the default button of the box.
  confirm_->setAutoDefault(false);
  confirm_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setGeometry(350, 50, 120, 25);
  cancel_->setAutoDefault(false);

  setTabOrder(edit_, confirm_);
  setTabOrder(confirm_, cancel_);
  setTabOrder(cancel_, edit_);

  connect(confirm_, &QPushButton::clicked, this, &PromptBox::confirm);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
  edit_->setFocus();
}

void PromptBox::confirm() {
  answer_ = edit_->text().left(kPromptMaxLength);
  accept();
}

QString PromptBox::getString(QWidget* parent, const QString& prompt) {
  PromptBox box(parent, prompt);
  box.exec();
  return box.answer();
}

}  // namespace varnel::app
