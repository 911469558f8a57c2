#include "RestartBench.h"

#include "BenchSupport.h"
#include "DevServerProcess.h"

#include "gui/FunctionTestWidget.h"
#include "protocol/Protocol.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

namespace Bench {

namespace {

constexpr int JobCount = 10000;
constexpr int DownSeconds = 5;
constexpr int AutoRefreshSeconds = 1;
// After the last restart: enough refreshes that the last one stands for the
// window settled again.
constexpr int RefreshesAfterLastRestart = 5;
constexpr int LoginTimeoutMs = 120000;
// Request log lines kept before the first kill and from the restart on.
constexpr int ServerLinesBefore = 4;
constexpr int ServerLinesAfter = 8;

const QString User = QStringLiteral("bench");
const QString Password = QStringLiteral("night run");

// Finished jobs, as the stand-in server keeps them between runs.
bool writeJobIndex(const QString &dataDirectory)
{
    QJsonArray jobs;
    for (int number = 1; number <= JobCount; ++number) {
        const QString name = QStringLiteral("job-%1").arg(number, 5, 10, QLatin1Char('0'));
        jobs.append(QJsonObject {
            { QStringLiteral("number"), number },
            { QStringLiteral("user"), User },
            { QStringLiteral("solverId"), QStringLiteral("thermal") },
            { QStringLiteral("projectName"), QStringLiteral("beam.prja") },
            { QStringLiteral("archiveName"), QStringLiteral("beam.zip") },
            { QStringLiteral("commandLine"), QString() },
            { QStringLiteral("slowQueue"), false },
            { QStringLiteral("state"), QStringLiteral("processed") },
            { QStringLiteral("step"), 10 },
            { QStringLiteral("totalSteps"), 10 },
            { QStringLiteral("messages"),
              QJsonArray { QStringLiteral("Ready for download: %1_results.zip").arg(name) } },
            { QStringLiteral("resultName"), QString() } });
    }
    QFile index(dataDirectory + QStringLiteral("/index.json"));
    return QDir().mkpath(dataDirectory) && index.open(QIODevice::WriteOnly)
        && index.write(
               QJsonDocument(QJsonObject { { QStringLiteral("nextJobNumber"), JobCount + 1 },
                                           { QStringLiteral("jobs"), jobs } })
                   .toJson(QJsonDocument::Compact))
        > 0;
}

QStringList nonEmptyLines(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

void waitSeconds(double seconds)
{
    QElapsedTimer clock;
    clock.start();
    runEventsUntil([&] { return clock.elapsed() >= qint64(seconds * 1000); },
                   int(seconds * 1000) + 1000);
}

// The window as a user leaves it for the night: logged in, auto-refresh on.
class WatchedWindow
{
public:
    explicit WatchedWindow(quint16 port)
    {
        QSettings settings(QStringLiteral("Orvand"), QStringLiteral("CalvaroClient"));
        settings.setValue(QStringLiteral("ClientConfig/AutoRefreshInterval"), AutoRefreshSeconds);
        settings.sync();
        m_window.setOrganizationAndApplication(QStringLiteral("Orvand"),
                                               QStringLiteral("CalvaroClient"));
        m_window.readSettings();
        QObject::connect(&m_window, &VLK::CalvaroClientBase::addStatusMessage, &m_window,
                         [this](const QString &line) {
                             m_statusLog.append(QDateTime::currentDateTimeUtc().toString(
                                                    QStringLiteral("HH:mm:ss.zzz "))
                                                + line);
                         });
        QObject::connect(&m_window, &VLK::CalvaroClientBase::msgReceived, &m_window,
                         [this](int msgType) {
                             if (msgType == VLK::MT_JobStatusReply)
                                 m_memoryAfterRefreshKiB.append(MemoryProbe::currentKiB());
                             else if (msgType == VLK::MT_LoginOk)
                                 m_loggedInAt.append(QDateTime::currentMSecsSinceEpoch());
                         });
        m_window.show();
        m_window.findChild<QComboBox *>(QStringLiteral("comboBoxServerIP"))
            ->setEditText(QStringLiteral("127.0.0.1"));
        m_window.findChild<QLineEdit *>(QStringLiteral("lineEditServerPort"))
            ->setText(QString::number(port));
        m_window.findChild<QLineEdit *>(QStringLiteral("lineEditUser"))->setText(User);
        m_window.findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(Password);
        m_window.findChild<QPushButton *>(QStringLiteral("pushButtonLogin"))->click();
    }

    int logins() const { return int(m_loggedInAt.size()); }
    qint64 lastLoginAt() const { return m_loggedInAt.last(); }
    const QList<qint64> &memoryAfterRefreshKiB() const { return m_memoryAfterRefreshKiB; }
    const QStringList &statusLog() const { return m_statusLog; }

private:
    FunctionTestWidget m_window;
    QList<qint64> m_loggedInAt;
    QList<qint64> m_memoryAfterRefreshKiB;
    QStringList m_statusLog;
};

} // namespace

int runRestartsClient(const QStringList &arguments)
{
    if (arguments.size() != 2)
        return fail(QStringLiteral("restarts: bad arguments"));
    const int restarts = arguments.at(0).toInt();
    const int periodSeconds = arguments.at(1).toInt();
    if (restarts < 1 || periodSeconds <= DownSeconds)
        return fail(QStringLiteral("restarts: at least 1 restart, a period longer than %1 s")
                        .arg(DownSeconds));

    QTemporaryDir directory;
    DevServerProcess server(QStringLiteral(CALVARO_DEVSERVER), directory.path());
    if (!directory.isValid() || !writeJobIndex(server.dataDirectory()))
        return fail(QStringLiteral("restarts: cannot write the job index"));
    const QStringList serverOptions { QStringLiteral("--users"),
                                      server.writeUsersFile({ { User, Password } }),
                                      QStringLiteral("--tick-ms"), QStringLiteral("1000") };
    if (!server.start(serverOptions))
        return fail(QStringLiteral("restarts: server did not start: ") + server.log());

    WatchedWindow window(server.port());
    if (!runEventsUntil([&] { return !window.memoryAfterRefreshKiB().isEmpty(); }, LoginTimeoutMs))
        return fail(QStringLiteral("restarts: first job list not shown"));

    qint64 longestReloginMs = 0;
    int killedAtLogSize = 0;
    int restartedAtLogSize = 0;
    for (int restart = 0; restart < restarts; ++restart) {
        waitSeconds(periodSeconds - DownSeconds);
        if (restart == 0)
            killedAtLogSize = int(server.log().size());
        server.kill();
        waitSeconds(DownSeconds);
        if (restart == 0)
            restartedAtLogSize = int(server.log().size());
        if (!server.start(serverOptions))
            return fail(QStringLiteral("restarts: server did not start again: ") + server.log());
        const qint64 restartedAt = QDateTime::currentMSecsSinceEpoch();
        if (!runEventsUntil([&] { return window.logins() == restart + 2; }, LoginTimeoutMs))
            return fail(
                QStringLiteral("restarts: not logged in again after restart %1").arg(restart + 1));
        longestReloginMs = qMax(longestReloginMs, window.lastLoginAt() - restartedAt);
    }
    const int refreshesBefore = int(window.memoryAfterRefreshKiB().size());
    if (!runEventsUntil(
            [&] {
                return window.memoryAfterRefreshKiB().size()
                    >= refreshesBefore + RefreshesAfterLastRestart;
            },
            LoginTimeoutMs))
        return fail(QStringLiteral("restarts: no refreshes after the last restart"));

    const QString log = server.log();
    QStringList before = nonEmptyLines(log.left(killedAtLogSize));
    before = before.mid(qMax(0, int(before.size()) - ServerLinesBefore));
    const QStringList after = nonEmptyLines(log.mid(restartedAtLogSize)).mid(0, ServerLinesAfter);
    printResult(
        { { QStringLiteral("jobs"), JobCount },
          { QStringLiteral("restarts"), restarts },
          { QStringLiteral("periodSeconds"), periodSeconds },
          { QStringLiteral("refreshes"), int(window.memoryAfterRefreshKiB().size()) },
          { QStringLiteral("firstRefreshKiB"), double(window.memoryAfterRefreshKiB().first()) },
          { QStringLiteral("lastRefreshKiB"), double(window.memoryAfterRefreshKiB().last()) },
          { QStringLiteral("longestReloginMs"), double(longestReloginMs) },
          { QStringLiteral("statusLog"), QJsonArray::fromStringList(window.statusLog()) },
          { QStringLiteral("serverLogBeforeKill"), QJsonArray::fromStringList(before) },
          { QStringLiteral("serverLogAfterRestart"), QJsonArray::fromStringList(after) } });
    return 0;
}

} // namespace Bench
