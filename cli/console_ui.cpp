#include "cli/console_ui.h"

#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

extern char** environ;

namespace varnel::cli {
namespace {

volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void onStopSignal(int sig) {
  if (gStopSignal != 0) {
    // Asked twice: end now, as the signal would have without a handler.
    (void)::signal(sig, SIG_DFL);
    (void)::raise(sig);
    return;
  }
  gStopSignal = sig;
}

std::string formatDuration(long long seconds) {
  char buf[32];
  if (seconds >= 3600) {
    (void)std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                        seconds % 60);
  } else {
    (void)std::snprintf(buf, sizeof buf, "%02lld:%02lld", seconds / 60, seconds % 60);
  }
  return buf;
}

}  // namespace

void catchStopSignals() noexcept {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  // Reads and writes in progress go on; the run looks at the flag between files.
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

bool ConsoleUi::stopRequested() noexcept { return gStopSignal != 0; }

ConsoleUi::ConsoleUi(std::map<std::string, std::string> answers, bool quiet,
                     bool openReport) noexcept
    : answers_(std::move(answers)),
      showProgress_(!quiet && ::isatty(STDERR_FILENO) != 0),
      openReport_(openReport),
      start_(std::chrono::steady_clock::now()) {}

rules::UiServices::Answer ConsoleUi::showMessage(std::string_view text,
                                                 std::string_view /*caption*/, Buttons buttons,
                                                 Icon /*icon*/) noexcept {
  if (buttons == Buttons::kYesNo) {
    // The only question is the offer to open the report: --open-report answers it.
    return openReport_ ? Answer::kYes : Answer::kNo;
  }
  // The missing answer was named already; "cancelled" would blame the user for a cancel.
  if (!missing_.empty()) return Answer::kOk;
  finishProgress();
  std::cerr << text << '\n';
  return Answer::kOk;
}

std::string ConsoleUi::promptText(std::string_view prompt,
                                  std::string_view parameterName) noexcept {
  try {
    asked_.emplace(parameterName);
    if (auto it = answers_.find(std::string(parameterName)); it != answers_.end()) {
      return it->second.substr(0, rules::kMaxPromptText);
    }
    if (::isatty(STDIN_FILENO) == 0) {
      // Nobody to ask: the command line must carry the answer.
      missing_ = std::string(parameterName);
      finishProgress();
      std::cerr << "varnel convert: no answer for the prompt \"" << prompt
                << "\": give it with --param " << parameterName << "=VALUE\n";
      return std::string(rules::kPromptCancelled);
    }
    finishProgress();
    std::cerr << prompt << ' ' << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::cerr << '\n';
      return std::string(rules::kPromptCancelled);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line.substr(0, rules::kMaxPromptText);
  } catch (...) {
    return std::string(rules::kPromptCancelled);
  }
}

std::vector<std::string> ConsoleUi::unaskedParameters() const {
  std::vector<std::string> names;
  for (const auto& [name, value] : answers_) {
    if (asked_.find(name) == asked_.end()) names.push_back(name);
  }
  return names;
}

void ConsoleUi::setProgressRange(int /*low*/, int high) noexcept {
  high_ = high;
  position_ = 0;
  start_ = std::chrono::steady_clock::now();
}

void ConsoleUi::setProgressPosition(int position) noexcept { position_ = position; }

void ConsoleUi::setStatusText(std::string_view text) noexcept {
  try {
    status_ = std::string(text);
  } catch (...) {
    status_.clear();
  }
  if (status_.empty()) return;
  // Redrawing for every small file would cost more than the conversion; ten times a second is
  // smooth enough. The last file is always drawn.
  const auto now = std::chrono::steady_clock::now();
  if (position_ < high_ && lineShown_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  draw();
}

namespace {

// Columns of the terminal on stderr (80 when it does not say).
int terminalColumns() noexcept {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

void ConsoleUi::draw() noexcept {
  if (!showProgress_) return;
  try {
    const int total = high_ > 0 ? high_ : 1;
    const int pos = position_ < 0 ? 0 : (position_ > total ? total : position_);
    const long long elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start_)
                                    .count();
    // Before a second has passed, or a file is done, there is nothing to estimate from.
    const std::string remaining =
        pos > 0 && elapsedMs >= 1000
            ? formatDuration((elapsedMs * (total - pos) / pos + 999) / 1000)
            : std::string("--:--");
    const std::string times =
        "  elapsed " + formatDuration(elapsedMs / 1000) + "  remaining " + remaining;
    // The line must fit the terminal (one column spare, or it wraps and redraws stack up):
    // the bar narrows first, then the times go, then the status is cut.
    const int columns = terminalColumns() - 1;
    const int fixed = static_cast<int>(status_.size() + times.size()) + 3;  // "[", "] "
    int width = std::min(30, columns - fixed);
    std::string line;
    if (width >= 10) {
      const int filled = static_cast<int>(static_cast<long long>(pos) * width / total);
      std::string bar(static_cast<std::size_t>(filled), '#');
      bar.resize(static_cast<std::size_t>(width), '.');
      line = "[" + bar + "] " + status_ + times;
    } else {
      line = status_ + times;
      if (static_cast<int>(line.size()) > columns) line = status_;
    }
    if (columns > 0 && static_cast<int>(line.size()) > columns) {
      line.resize(static_cast<std::size_t>(columns));
    }
    (void)std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    (void)std::fflush(stderr);
    lineShown_ = true;
  } catch (...) {
  }
}

void ConsoleUi::finishProgress() noexcept {
  if (!lineShown_) return;
  (void)std::fputc('\n', stderr);
  lineShown_ = false;
}

void ConsoleUi::rememberPaths(std::string_view, std::string_view, std::string_view) noexcept {
  // The command line keeps no settings between runs.
}

void ConsoleUi::openWithDefaultApplication(std::string_view path) noexcept {
  try {
    std::string p(path);
    char prog[] = "xdg-open";
    char* argv[] = {prog, p.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) == 0) {
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
  } catch (...) {
  }
}

}  // namespace varnel::cli
