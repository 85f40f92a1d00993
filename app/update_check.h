#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <array>

class QWidget;

namespace varnel::app {

class Shell;

/// The dialog of the update check ("Check for Update"): a picture, a title line, an information
/// line and "OK". Modal and above other windows.
class CUpdateDlg : public QDialog {
  Q_OBJECT

 public:
  CUpdateDlg(const QString& title, const QString& info, QWidget* parent = nullptr);
};

/// How one update check ended.
enum class UpdateOutcome {
  kFailed,           ///< no answer, or an empty or over-long one
  kMalformed,        ///< an answer of fewer than four parts
  kUpToDate,         ///< the running version is the same or newer
  kUpdateAvailable,  ///< a newer version was announced to the operator
  kUpdateKnown,      ///< a newer version exists, but it was already announced (silent check)
};

/// Asks the maker's version service whether a newer release exists. The request is
/// "<address>&ver=a.b.c.d&osid=0"; the answer is one line "a|b|c|d". The newest announced version
/// is remembered as "UpdateVersion". The report operations are virtual so that another front end
/// can tell the operator in its own way.
class CUpdateCheck {
 public:
  /// `shell` shows the message box of a malformed answer and must outlive the check.
  explicit CUpdateCheck(Shell& shell);
  virtual ~CUpdateCheck() = default;
  CUpdateCheck(const CUpdateCheck&) = delete;
  CUpdateCheck& operator=(const CUpdateCheck&) = delete;

  /// Stores the owner and the silent flag, then checks the configured address.
  UpdateOutcome check(QWidget* owner, bool silent);
  /// Checks the configured address.
  UpdateOutcome check();
  /// Stores the owner, then checks `url`.
  UpdateOutcome check(const QString& url, QWidget* owner);
  /// Checks `url`: the request, the answer, the comparison and the report.
  UpdateOutcome check(const QString& url);

  /// Longest time a check waits for the service (milliseconds).
  void setTimeout(int milliseconds) { timeoutMs_ = milliseconds; }

  /// The address used when the setting "UpdateUrl" holds none.
  [[nodiscard]] static QString builtInUrl();
  /// The "UpdateUrl" setting, or the built-in address.
  [[nodiscard]] static QString configuredUrl();
  /// The operating-system code sent as osid: 0 on Linux.
  [[nodiscard]] static int osid() noexcept { return 0; }
  /// The request text for `url`, a version and an operating-system code.
  [[nodiscard]] static QString requestUrl(const QString& url, const std::array<int, 4>& version,
                                          int osid);
  /// The parts of an answer: split at "|", empty parts dropped, each part trimmed.
  [[nodiscard]] static QStringList answerParts(const QByteArray& answer);
  /// The leading integer of a text as a version part (0 when there is none).
  [[nodiscard]] static int versionPart(const QString& text) noexcept;
  /// True when `running` is as new as `offered` or newer.
  [[nodiscard]] static bool isUpToDate(const std::array<int, 4>& running,
                                       const std::array<int, 4>& offered) noexcept;

 protected:
  /// The program is up to date.
  virtual void reportUpToDate(const QString& runningVersion);
  /// The check could not be completed.
  virtual void reportFailed(const QString& runningVersion);
  /// A newer version exists; `title` is "Update Available v" and its four parts.
  virtual void reportUpdateAvailable(const QString& title);

  [[nodiscard]] QWidget* owner() const { return owner_; }

 private:
  // Fetches the answer; false on any failure, an empty or an over-long answer.
  bool fetch(const QString& request, QByteArray& answer);

  Shell& shell_;
  QWidget* owner_ = nullptr;
  bool silent_ = false;
  int timeoutMs_ = 15000;
};

}  // namespace varnel::app
