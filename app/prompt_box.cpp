#include "app/prompt_box.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace varnel::app {

PromptBox::PromptBox(QWidget* parent, const QString& prompt)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      answer_(kPromptCancelledText) {
  setObjectName("promptBox");
  setWindowTitle("Varnel - Prompt");
  QFont font("Arial");
  font.setPixelSize(20);
  setFont(font);

  // The box keeps its classic 500x170 for a short question and grows to show a long one whole:
  // the text wraps beside the buttons, the answer line runs the full width below.
  label_ = new QLabel(prompt, this);
  label_->setObjectName("promptLabel");
  label_->setWordWrap(true);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label_->setMinimumWidth(330);

  edit_ = new QLineEdit(this);
  edit_->setObjectName("promptEdit");
  edit_->setMaxLength(kPromptMaxLength);

  confirm_ = new QPushButton("Confirm", this);
  // Enter confirms wherever the focus is, as the default button of the box.
  confirm_->setAutoDefault(false);
  confirm_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setAutoDefault(false);
  confirm_->setFixedWidth(120);
  cancel_->setFixedWidth(120);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(confirm_);
  buttons->addWidget(cancel_);
  buttons->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(label_, 1);
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 10, 8, 10);
  layout->addLayout(top, 1);
  layout->addWidget(edit_);

  // Width for the text: from 500 up to two thirds of the screen; then the height it needs.
  int maxWidth = 900;
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    maxWidth = std::max(500, screen->availableGeometry().width() * 2 / 3);
  const int textWidth = label_->fontMetrics().horizontalAdvance(prompt);
  const int chrome = 500 - 330;
  const int width = std::clamp(textWidth / 3 + chrome, 500, maxWidth);
  const int labelWidth = width - chrome;
  const int height = std::max(170, label_->heightForWidth(labelWidth) + 110);
  setMinimumSize(500, 170);
  resize(width, height);

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
