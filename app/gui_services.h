#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "rules/ui_services.h"

class QWidget;

namespace varnel::app {

class Shell;

/// The services a conversion needs, provided by the main window. The run calls them from its
/// worker thread; each call is carried out on the window's thread and waits for it, so message
/// boxes and prompts are answered before the run goes on and the progress shows at once.
class GuiServices final : public rules::UiServices {
 public:
  /// `window` owns the message boxes and shows the progress through the two callbacks; `shell`
  /// answers for the desktop. All must outlive the services.
  GuiServices(QWidget* window, Shell& shell, std::function<void(int, int)> range,
              std::function<void(int)> position, std::function<void(const QString&)> status);

  Answer showMessage(std::string_view text, std::string_view caption, Buttons buttons,
                     Icon icon) noexcept override;
  std::string promptText(std::string_view prompt, std::string_view parameterName) noexcept override;
  void setProgressRange(int low, int high) noexcept override;
  void setProgressPosition(int position) noexcept override;
  void setStatusText(std::string_view text) noexcept override;
  void rememberPaths(std::string_view source, std::string_view dest,
                     std::string_view ruleFile) noexcept override;
  void openWithDefaultApplication(std::string_view path) noexcept override;
  /// True once requestStop() was called during the current run.
  bool stopRequested() noexcept override;

  /// Asks the run to stop after the file in hand (the Cancel button, closing the window).
  void requestStop() noexcept { stop_ = true; }
  /// Called before a run starts.
  void clearStop() noexcept { stop_ = false; }

 private:
  // Runs `work` on the window's thread and waits for it.
  void onWindowThread(const std::function<void()>& work) noexcept;

  QWidget* window_;
  Shell& shell_;
  std::function<void(int, int)> range_;
  std::function<void(int)> position_;
  std::function<void(const QString&)> status_;
  std::atomic<bool> stop_{false};
};

}  // namespace varnel::app
