#include "app/gui_services.h"

#include <QMetaObject>
#include <QString>
#include <QThread>
#include <QWidget>

#include "app/settings.h"
#include "app/shell.h"

namespace varnel::app {
namespace {

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

GuiServices::GuiServices(QWidget* window, Shell& shell, std::function<void(int, int)> range,
                         std::function<void(int)> position,
                         std::function<void(const QString&)> status)
    : window_(window),
      shell_(shell),
      range_(std::move(range)),
      position_(std::move(position)),
      status_(std::move(status)) {}

void GuiServices::onWindowThread(const std::function<void()>& work) noexcept {
  try {
    if (QThread::currentThread() == window_->thread()) {
      work();
    } else {
      QMetaObject::invokeMethod(window_, work, Qt::BlockingQueuedConnection);
    }
  } catch (...) {
    // A service that cannot be shown leaves the run going; the report still records the files.
  }
}

rules::UiServices::Answer GuiServices::showMessage(std::string_view text, std::string_view caption,
                                                   Buttons buttons, Icon icon) noexcept {
  Answer answer = buttons == Buttons::kYesNo ? Answer::kNo : Answer::kOk;
  const QString t = fromUtf8(text);
  const QString c = fromUtf8(caption);
  onWindowThread([&] { answer = shell_.message(window_, t, c, buttons, icon); });
  return answer;
}

std::string GuiServices::promptText(std::string_view prompt, std::string_view) noexcept {
  std::string answer(rules::kPromptCancelled);
  const QString p = fromUtf8(prompt);
  onWindowThread([&] { answer = shell_.prompt(window_, p).toStdString(); });
  return answer;
}

void GuiServices::setProgressRange(int low, int high) noexcept {
  onWindowThread([&] { range_(low, high); });
}

void GuiServices::setProgressPosition(int position) noexcept {
  onWindowThread([&] { position_(position); });
}

void GuiServices::setStatusText(std::string_view text) noexcept {
  const QString t = fromUtf8(text);
  onWindowThread([&] { status_(t); });
}

void GuiServices::rememberPaths(std::string_view source, std::string_view dest,
                                std::string_view ruleFile) noexcept {
  const QString s = fromUtf8(source);
  const QString d = fromUtf8(dest);
  const QString r = fromUtf8(ruleFile);
  onWindowThread([&] {
    writeSetting(kSourceFolderKey, s);
    writeSetting(kDestinationFolderKey, d);
    writeSetting(kRuleFileKey, r);
  });
}

void GuiServices::openWithDefaultApplication(std::string_view path) noexcept {
  const QString p = fromUtf8(path);
  onWindowThread([&] { shell_.openFile(p); });
}

bool GuiServices::stopRequested() noexcept { return stop_; }

}  // namespace varnel::app
