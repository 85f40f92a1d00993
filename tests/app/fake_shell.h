#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "app/shell.h"

namespace varnel::app::test {

/// A desktop that answers from scripts and records what it was asked.
class FakeShell final : public Shell {
 public:
  struct Message {
    QString text;
    QString caption;
    Buttons buttons;
    Icon icon;
  };

  Answer message(QWidget*, const QString& text, const QString& caption, Buttons buttons,
                 Icon icon) override {
    messages.push_back({text, caption, buttons, icon});
    if (onMessage) onMessage(text);
    if (buttons == Buttons::kOk) return Answer::kOk;
    if (answers.empty()) return Answer::kYes;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  QString pickFolder(QWidget*, const QString& title, const QString& start) override {
    pickStarts << title + "|" + start;
    return next(picks);
  }
  QString pickOpenFile(QWidget*, const QString& dir, const QString& filter) override {
    pickStarts << filter + "|" + dir;
    return next(picks);
  }
  QString pickSaveFile(QWidget*, const QString& dir, const QString& filter) override {
    pickStarts << filter + "|" + dir;
    return next(picks);
  }
  QString prompt(QWidget*, const QString& text) override {
    prompts << text;
    if (onPrompt) onPrompt();
    if (promptAnswers.empty()) return "%%CANCELLED%%";
    return next(promptAnswers);
  }
  void openFile(const QString& path) override { opened << path; }

  /// Texts of the message boxes shown so far.
  QStringList texts() const {
    QStringList out;
    for (const auto& m : messages) out << m.text;
    return out;
  }

  std::vector<Message> messages;
  std::deque<Answer> answers;         // for Yes/No questions; Yes when empty
  std::deque<QString> picks;          // pickers; empty text when none left
  std::deque<QString> promptAnswers;  // prompts; cancelled when none left
  QStringList prompts;
  QStringList pickStarts;  // "title or filter|starting folder" of each picker
  QStringList opened;
  std::function<void()> onPrompt;
  std::function<void(const QString&)> onMessage;

 private:
  static QString next(std::deque<QString>& q) {
    if (q.empty()) return {};
    QString s = q.front();
    q.pop_front();
    return s;
  }
};

}  // namespace varnel::app::test
