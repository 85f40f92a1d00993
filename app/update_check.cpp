#include "app/update_check.h"

#include <QDialogButtonBox>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/about_dlg.h"
#include "app/settings.h"
#include "app/shell.h"

namespace varnel::app {
namespace {

// Answers of this size or more are not version lines.
constexpr qsizetype kMaxAnswer = 512;
// Longest request text.
constexpr qsizetype kMaxRequest = 512;

// Shows the wait cursor for the life of the guard.
class WaitCursor {
 public:
  WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

std::array<int, 4> runningVersion() {
  std::array<int, 4> v{};
  const QStringList parts = programVersion().split('.');
  for (int i = 0; i < 4 && i < parts.size(); ++i) v[i] = CUpdateCheck::versionPart(parts[i]);
  return v;
}

}  // namespace

CUpdateDlg::CUpdateDlg(const QString& title, const QString& info, QWidget* parent)
    : QDialog(parent) {
  setObjectName("updateDlg");
  setWindowTitle("Check for Update");
  setWindowFlag(Qt::WindowStaysOnTopHint);
  auto* picture = new QLabel(this);
  picture->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
  auto* titleLine = new QLabel(title, this);
  titleLine->setObjectName("updateTitle");
  QFont font("Arial");
  font.setPointSize(16);
  titleLine->setFont(font);
  auto* infoLine = new QLabel(info, this);
  infoLine->setObjectName("updateInfo");
  auto* text = new QVBoxLayout;
  text->addWidget(titleLine);
  text->addWidget(infoLine);
  auto* top = new QHBoxLayout;
  top->addWidget(picture, 0, Qt::AlignTop);
  top->addLayout(text, 1);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(ok);
}

CUpdateCheck::CUpdateCheck(Shell& shell) : shell_(shell) {}

QString CUpdateCheck::builtInUrl() {
  return "http://updates.quillon.example/getproductversion.ashx?app=varnel&platform=x86";
}

QString CUpdateCheck::configuredUrl() {
  const QString url = readSetting(kUpdateUrlKey);
  return url.isEmpty() ? builtInUrl() : url;
}

QString CUpdateCheck::requestUrl(const QString& url, const std::array<int, 4>& v, int os) {
  return url + QString("&ver=%1.%2.%3.%4&osid=%5").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]).arg(os);
}

QStringList CUpdateCheck::answerParts(const QByteArray& answer) {
  // The answer ends at its first zero byte, as a text would.
  const qsizetype end = answer.indexOf('\0');
  const QString text = QString::fromLatin1(end < 0 ? answer : answer.left(end));
  QStringList parts;
  for (const QString& p : text.split('|', Qt::SkipEmptyParts)) {
    const QString t = p.trimmed();
    if (!t.isEmpty()) parts << t;
  }
  return parts;
}

int CUpdateCheck::versionPart(const QString& text) noexcept {
  long long v = 0;
  for (QChar c : text.trimmed()) {
    if (c < '0' || c > '9') break;
    v = std::min<long long>(v * 10 + (c.unicode() - '0'), 65535);
  }
  return static_cast<int>(v);
}

bool CUpdateCheck::isUpToDate(const std::array<int, 4>& running,
                              const std::array<int, 4>& offered) noexcept {
  auto half = [](int a, int b) {
    const auto clamp = [](int x) { return static_cast<unsigned>(std::clamp(x, 0, 65535)); };
    return (clamp(a) << 16) | clamp(b);
  };
  const unsigned runHigh = half(running[0], running[1]);
  const unsigned runLow = half(running[2], running[3]);
  const unsigned offHigh = half(offered[0], offered[1]);
  const unsigned offLow = half(offered[2], offered[3]);
  return runHigh > offHigh || (runHigh == offHigh && runLow >= offLow);
}

UpdateOutcome CUpdateCheck::check(QWidget* owner, bool silent) {
  owner_ = owner;
  silent_ = silent;
  return check(configuredUrl());
}

UpdateOutcome CUpdateCheck::check() { return check(configuredUrl()); }

UpdateOutcome CUpdateCheck::check(const QString& url, QWidget* owner) {
  owner_ = owner;
  return check(url);
}

UpdateOutcome CUpdateCheck::check(const QString& url) {
  const std::array<int, 4> running = runningVersion();
  const QString version = programVersion();
  const QString request = requestUrl(url, running, osid());
  QByteArray answer;
  bool fetched = false;
  {
    WaitCursor wait;
    fetched = request.size() <= kMaxRequest && fetch(request, answer);
  }
  if (!fetched) {
    if (!silent_) reportFailed(version);
    return UpdateOutcome::kFailed;
  }
  const QStringList parts = answerParts(answer);
  if (parts.size() < 4) {
    if (!silent_) {
      shell_.message(owner_,
                     "An Error occurred trying to check for an update\nPlease try again later",
                     QString(), Shell::Buttons::kOk, Shell::Icon::kError);
    }
    return UpdateOutcome::kMalformed;
  }
  const std::array<int, 4> offered{versionPart(parts[0]), versionPart(parts[1]),
                                   versionPart(parts[2]), versionPart(parts[3])};
  if (isUpToDate(running, offered)) {
    if (!silent_) reportUpToDate(version);
    return UpdateOutcome::kUpToDate;
  }
  const QString text = parts.mid(0, 4).join('|');
  const QString stored = readSetting(kUpdateVersionKey);
  writeSetting(kUpdateVersionKey, text);
  if (silent_ && stored == text) return UpdateOutcome::kUpdateKnown;
  reportUpdateAvailable(
      QString("Update Available v%1.%2.%3.%4").arg(parts[0], parts[1], parts[2], parts[3]));
  return UpdateOutcome::kUpdateAvailable;
}

bool CUpdateCheck::fetch(const QString& request, QByteArray& answer) {
  const QUrl url(request);
  if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https")) return false;
  QNetworkAccessManager manager;
  QNetworkRequest req(url);
  req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  req.setRawHeader("Pragma", "no-cache");
  req.setRawHeader("Cache-Control", "no-cache");
  req.setHeader(QNetworkRequest::UserAgentHeader, "Update search");
  req.setTransferTimeout(timeoutMs_);
  QNetworkReply* reply = manager.get(req);
  bool tooLong = false;
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
    // Read no more than one byte past the limit: a longer answer is refused anyway.
    answer += reply->read(kMaxAnswer - answer.size() + 1);
    if (answer.size() >= kMaxAnswer) {
      tooLong = true;
      reply->abort();
    }
  });
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, reply, &QNetworkReply::abort);
  guard.start(timeoutMs_ + 1000);
  if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (!tooLong && reply->error() == QNetworkReply::NoError && reply->bytesAvailable() > 0) {
    answer += reply->read(kMaxAnswer - answer.size() + 1);
  }
  const bool ok = !tooLong && reply->error() == QNetworkReply::NoError && !answer.isEmpty() &&
                  answer.size() < kMaxAnswer;
  delete reply;
  return ok;
}

void CUpdateCheck::reportUpToDate(const QString&) {
  CUpdateDlg dlg("Latest Version", "Good news, you are already using the latest version", owner_);
  dlg.exec();
}

void CUpdateCheck::reportFailed(const QString&) {
  CUpdateDlg dlg("Connection Issue", "Unable to check at this time", owner_);
  dlg.exec();
}

void CUpdateCheck::reportUpdateAvailable(const QString& title) {
  CUpdateDlg dlg(title, "Great news, a new version is available!", owner_);
  dlg.exec();
}

}  // namespace varnel::app
