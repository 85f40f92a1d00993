// The update check against a small HTTP server on loopback: the request it sends, the three
// reports, the remembered version and the silent flag.
#include "app/update_check.h"

#include <QHostAddress>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "app/settings.h"
#include "tests/app/fake_shell.h"

using varnel::app::CUpdateCheck;
using varnel::app::UpdateOutcome;
using varnel::app::test::FakeShell;

namespace {

// Answers every request with one fixed response and remembers the requests.
class TinyServer : public QObject {
 public:
  explicit TinyServer(QByteArray body, QByteArray status = "200 OK")
      : body_(std::move(body)), status_(std::move(status)) {
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
    ok_ = server_.listen(QHostAddress::LocalHost, 0);
  }
  bool ok() const { return ok_; }
  QString url() const {
    return QString("http://127.0.0.1:%1/getproductversion.ashx?app=varnel&platform=x86")
        .arg(server_.serverPort());
  }
  QList<QByteArray> requests;

 private:
  void accept() {
    while (QTcpSocket* s = server_.nextPendingConnection()) {
      auto* buffer = new QByteArray;
      QObject::connect(s, &QTcpSocket::readyRead, this, [this, s, buffer] {
        *buffer += s->readAll();
        if (!buffer->contains("\r\n\r\n")) return;
        requests << *buffer;
        s->write("HTTP/1.1 " + status_ + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                 QByteArray::number(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_);
        s->disconnectFromHost();
      });
      QObject::connect(s, &QTcpSocket::disconnected, s, [s, buffer] {
        delete buffer;
        s->deleteLater();
      });
    }
  }

  QTcpServer server_;
  QByteArray body_;
  QByteArray status_;
  bool ok_ = false;
};

// Records the reports instead of showing them.
class RecordingCheck : public CUpdateCheck {
 public:
  using CUpdateCheck::CUpdateCheck;
  QStringList reports;

 protected:
  void reportUpToDate(const QString& v) override { reports << "up to date " + v; }
  void reportFailed(const QString& v) override { reports << "failed " + v; }
  void reportUpdateAvailable(const QString& title) override { reports << title; }
};

}  // namespace

class UpdateCheckTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir settings_;

  UpdateOutcome runCheck(const QByteArray& body, bool silent, FakeShell& shell,
                         QStringList& reports, QByteArray* request = nullptr,
                         QByteArray status = "200 OK") {
    TinyServer server(body, status);
    if (!server.ok()) return UpdateOutcome::kFailed;
    varnel::app::writeSetting("UpdateUrl", server.url());
    RecordingCheck check(shell);
    check.setTimeout(5000);
    const UpdateOutcome outcome = check.check(nullptr, silent);
    reports = check.reports;
    if (request && !server.requests.isEmpty()) *request = server.requests.front();
    return outcome;
  }

 private slots:
  void initTestCase() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path());
  }
  void init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillon", "Varnel").clear();
  }

  void upToDateSendsVersionAndOsid() {
    FakeShell shell;
    QStringList reports;
    QByteArray request;
    QCOMPARE(runCheck("3|3|0|0", false, shell, reports, &request), UpdateOutcome::kUpToDate);
    QCOMPARE(reports, QStringList{"up to date 3.3.0.0"});
    QVERIFY2(request.startsWith(
                 "GET /getproductversion.ashx?app=varnel&platform=x86&ver=3.3.0.0&osid=0 HTTP/1.1"),
             request.constData());
    QVERIFY(request.contains("User-Agent: Update search"));
    QVERIFY(request.contains("no-cache"));
    // An older offer is up to date as well; nothing is remembered.
    QCOMPARE(runCheck("3|2|9|9\r\n", false, shell, reports), UpdateOutcome::kUpToDate);
    QVERIFY(varnel::app::readSetting("UpdateVersion").isEmpty());
    QVERIFY(shell.messages.empty());
  }

  void updateAvailableIsRememberedAndSilentChecksAnnounceOnce() {
    FakeShell shell;
    QStringList reports;
    QCOMPARE(runCheck("3|3|0|1", false, shell, reports), UpdateOutcome::kUpdateAvailable);
    QCOMPARE(reports, QStringList{"Update Available v3.3.0.1"});
    QCOMPARE(varnel::app::readSetting("UpdateVersion"), QString("3|3|0|1"));
    // A silent check announces only a version it has not announced before.
    QCOMPARE(runCheck("3|3|0|1", true, shell, reports), UpdateOutcome::kUpdateKnown);
    QVERIFY(reports.isEmpty());
    QCOMPARE(runCheck("4|0|0|0\n", true, shell, reports), UpdateOutcome::kUpdateAvailable);
    QCOMPARE(reports, QStringList{"Update Available v4.0.0.0"});
    QCOMPARE(varnel::app::readSetting("UpdateVersion"), QString("4|0|0|0"));
    // An interactive check announces it again.
    QCOMPARE(runCheck("4|0|0|0", false, shell, reports), UpdateOutcome::kUpdateAvailable);
    QCOMPARE(reports.size(), 1);
  }

  void malformedAnswerShowsTheErrorBox() {
    FakeShell shell;
    QStringList reports;
    QCOMPARE(runCheck("3|4", false, shell, reports), UpdateOutcome::kMalformed);
    QVERIFY(reports.isEmpty());
    QCOMPARE(
        shell.texts(),
        QStringList{"An Error occurred trying to check for an update\nPlease try again later"});
    QVERIFY(shell.messages[0].caption.isEmpty());
    QCOMPARE(shell.messages[0].icon, FakeShell::Icon::kError);
    // Silent: no box.
    FakeShell quiet;
    QCOMPARE(runCheck("||", true, quiet, reports), UpdateOutcome::kMalformed);
    QVERIFY(quiet.messages.empty());
  }

  void emptyLongAndErrorAnswersFail() {
    FakeShell shell;
    QStringList reports;
    QCOMPARE(runCheck("", false, shell, reports), UpdateOutcome::kFailed);
    QCOMPARE(reports, QStringList{"failed 3.3.0.0"});
    QCOMPARE(runCheck(QByteArray(512, '9'), false, shell, reports), UpdateOutcome::kFailed);
    QCOMPARE(runCheck(QByteArray(511, '|'), false, shell, reports), UpdateOutcome::kMalformed);
    QCOMPARE(runCheck("3|4|0|0", false, shell, reports, nullptr, "404 Not Found"),
             UpdateOutcome::kFailed);
    QCOMPARE(reports, QStringList{"failed 3.3.0.0"});
  }

  void noServerFails() {
    // A port that was free a moment ago: the connection is refused at once.
    quint16 port = 0;
    {
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
      port = probe.serverPort();
    }
    FakeShell shell;
    RecordingCheck check(shell);
    check.setTimeout(5000);
    QElapsedTimer timer;
    timer.start();
    const QString url =
        QString("http://127.0.0.1:%1/getproductversion.ashx?app=varnel&platform=x86").arg(port);
    QCOMPARE(check.check(url, nullptr), UpdateOutcome::kFailed);
    QCOMPARE(check.reports, QStringList{"failed 3.3.0.0"});
    QVERIFY(timer.elapsed() < 10000);
  }

  void comparisonAndParsing() {
    QVERIFY(CUpdateCheck::isUpToDate({3, 3, 0, 0}, {3, 3, 0, 0}));
    QVERIFY(CUpdateCheck::isUpToDate({3, 3, 0, 0}, {3, 2, 99, 99}));
    QVERIFY(!CUpdateCheck::isUpToDate({3, 3, 0, 0}, {3, 3, 0, 1}));
    QVERIFY(!CUpdateCheck::isUpToDate({3, 3, 0, 0}, {3, 4, 0, 0}));
    QCOMPARE(CUpdateCheck::answerParts("1||2|3|4\r\n"), QStringList({"1", "2", "3", "4"}));
    QCOMPARE(CUpdateCheck::answerParts(QByteArray("1|2\0|3|4", 8)), QStringList({"1", "2"}));
    QCOMPARE(CUpdateCheck::versionPart("12abc"), 12);
    QCOMPARE(CUpdateCheck::versionPart("x"), 0);
    QVERIFY(CUpdateCheck::builtInUrl().contains("/getproductversion.ashx?app=varnel&platform=x86"));
    QCOMPARE(CUpdateCheck::configuredUrl(), CUpdateCheck::builtInUrl());
  }
};

QTEST_MAIN(UpdateCheckTest)
#include "update_check_test.moc"
