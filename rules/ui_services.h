#pragma once

#include <string>
#include <string_view>

namespace varnel::rules {

/// The answer promptText returns when the operator cancels.
inline constexpr std::string_view kPromptCancelled = "%%CANCELLED%%";
/// Caption of the program's message boxes.
inline constexpr std::string_view kCaption = "Varnel";
/// Longest prompt answer a front end returns (bytes).
inline constexpr std::size_t kMaxPromptText = 319;

/// What the conversion needs from a front end: message boxes, the text prompt, the progress
/// display, remembered paths and opening a file. The run calls these on its own thread, between
/// files; each call must take effect at once.
class UiServices {
 public:
  /// kYesNoCancel is for the desktop's own questions (unsaved changes); the run never asks it.
  enum class Buttons { kOk, kYesNo, kYesNoCancel };
  enum class Icon { kNone, kError, kExclamation, kQuestion };
  enum class Answer { kOk, kYes, kNo, kCancel };

  virtual ~UiServices() = default;

  /// Shows `text` with `caption` (empty for none); blocks until answered.
  virtual Answer showMessage(std::string_view text, std::string_view caption, Buttons buttons,
                             Icon icon) noexcept = 0;
  /// Asks the operator for a value. `prompt` is the question shown; `parameterName` the name of
  /// the prompted placeholder (front ends may answer from it). Returns the answer (at most
  /// kMaxPromptText bytes are used) or exactly kPromptCancelled.
  virtual std::string promptText(std::string_view prompt,
                                 std::string_view parameterName) noexcept = 0;
  /// The progress display restarts with the range low..high at position low.
  virtual void setProgressRange(int low, int high) noexcept = 0;
  /// The progress display shows `position` files processed.
  virtual void setProgressPosition(int position) noexcept = 0;
  /// Shows a status text such as "3 processed of 10", or clears it with an empty text.
  virtual void setStatusText(std::string_view text) noexcept = 0;
  /// Keeps the three entered texts for the next start.
  virtual void rememberPaths(std::string_view source, std::string_view dest,
                             std::string_view ruleFile) noexcept = 0;
  /// Opens a file with the desktop's default application; no result is checked.
  virtual void openWithDefaultApplication(std::string_view path) noexcept = 0;
  /// True once the operator asked to stop the run (an interrupt, a Cancel button). The run asks
  /// between files: the file in hand is finished, the report and results.csv are closed, and
  /// the run ends as stopped. Front ends without a way to stop keep this default.
  [[nodiscard]] virtual bool stopRequested() noexcept { return false; }
};

}  // namespace varnel::rules
