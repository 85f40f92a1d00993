#pragma once

// A user interface for batch runs in tests: it keeps the messages and progress positions, answers
// every prompt with "P" and every question with No, and asks to stop after a number of files.

#include <string>
#include <string_view>
#include <vector>

#include "rules/ui_services.h"

namespace varnel::test {

class QuietUi final : public rules::UiServices {
 public:
  Answer showMessage(std::string_view text, std::string_view, Buttons, Icon) noexcept override {
    messages.emplace_back(text);
    return Answer::kNo;
  }
  std::string promptText(std::string_view, std::string_view) noexcept override { return "P"; }
  void setProgressRange(int, int) noexcept override {}
  void setProgressPosition(int p) noexcept override { positions.push_back(p); }
  void setStatusText(std::string_view) noexcept override {}
  void rememberPaths(std::string_view, std::string_view, std::string_view) noexcept override {}
  void openWithDefaultApplication(std::string_view) noexcept override {}
  bool stopRequested() noexcept override {
    return stopAfter >= 0 && static_cast<int>(positions.size()) >= stopAfter;
  }

  std::vector<std::string> messages;
  std::vector<int> positions;
  /// Progress positions after which a stop is requested; -1 never.
  int stopAfter = -1;
};

}  // namespace varnel::test
