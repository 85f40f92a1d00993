#pragma once

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "rules/ui_services.h"

namespace varnel::cli {

/// The user-interface services on a terminal: messages go to stderr, prompts are answered from
/// --param values or read from the terminal, progress is one line redrawn in place on stderr
/// (only when stderr is a terminal and not quiet).
/// Makes the first SIGINT or SIGTERM a request to stop the run after the file in hand; a second
/// one ends the process at once.
void catchStopSignals() noexcept;

class ConsoleUi final : public rules::UiServices {
 public:
  /// `answers`: prompt answers by parameter name. `openReport`: answer Yes to the offer to open
  /// the report.
  ConsoleUi(std::map<std::string, std::string> answers, bool quiet, bool openReport) noexcept;

  Answer showMessage(std::string_view text, std::string_view caption, Buttons buttons,
                     Icon icon) noexcept override;
  std::string promptText(std::string_view prompt, std::string_view parameterName) noexcept override;
  void setProgressRange(int low, int high) noexcept override;
  void setProgressPosition(int position) noexcept override;
  void setStatusText(std::string_view text) noexcept override;
  void rememberPaths(std::string_view source, std::string_view dest,
                     std::string_view ruleFile) noexcept override;
  void openWithDefaultApplication(std::string_view path) noexcept override;
  /// True once SIGINT or SIGTERM arrived (see catchStopSignals).
  bool stopRequested() noexcept override;

  /// Ends the progress line (if one is shown) so that later output starts on a new line.
  void finishProgress() noexcept;

  /// The parameter a prompt asked for when no --param answered it and there was no terminal to
  /// ask on (the run was then cancelled), or "".
  [[nodiscard]] const std::string& missingParameter() const noexcept { return missing_; }
  /// The --param names no prompt asked for, in name order.
  [[nodiscard]] std::vector<std::string> unaskedParameters() const;

 private:
  void draw() noexcept;

  std::map<std::string, std::string> answers_;
  std::set<std::string, std::less<>> asked_;
  std::string missing_;
  bool showProgress_ = false;
  bool openReport_ = false;
  bool lineShown_ = false;
  int high_ = 0;
  int position_ = 0;
  std::string status_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace varnel::cli
