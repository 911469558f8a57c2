#include "DevServerProcess.h"
#include "FakeServer.h"
#include "protocol/Protocol.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace {

const QString User = QStringLiteral("engineer");
const QString Password = QStringLiteral("s3cret pass");
// Jobs on the quick server are done in about a second; on the slow one they
// keep running for minutes.
const QStringList QuickPace { QStringLiteral("--tick-ms"), QStringLiteral("100"),
                              QStringLiteral("--steps"), QStringLiteral("3") };
const QStringList SlowPace { QStringLiteral("--tick-ms"), QStringLiteral("1000"),
                             QStringLiteral("--steps"), QStringLiteral("500") };
constexpr int RunTimeoutMs = 60000;

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The server keeps its files where it likes; they are found by name.
QString findFile(const QString &directory, const QString &fileName)
{
    QDirIterator files(directory, { fileName }, QDir::Files, QDirIterator::Subdirectories);
    return files.hasNext() ? files.next() : QString();
}

QStringList filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

// The command-line client as a user's script runs it: a separate process
// against the stand-in server, judged by exit code, output and files.
class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void submitWaitDownloadIsByteIdentical();
    void exitCodes_data();
    void exitCodes();
    void jobsJsonMatchesServerList();
    void downloadTakesTheAnnouncedExtension();
    void interruptedDownloadKeepsOldFile_data();
    void interruptedDownloadKeepsOldFile();
    void downloadReplyHeaders_data();
    void downloadReplyHeaders();
    void syncKilledAnywhereStoresEachResultOnce();
    void waitSurvivesAServerRestart();
    void removeOfSeveralJobsGoesOnPastARefusal();
    void downloadOfSeveralJobs_data();
    void downloadOfSeveralJobs();

private:
    void startServer(DevServerProcess *&server, const QString &directory,
                     const QStringList &options);
    QProcessEnvironment environment(const DevServerProcess &server) const;
    void startCli(QProcess &process, const DevServerProcess &server,
                  const QStringList &arguments) const;
    Outcome runCli(const DevServerProcess &server, const QStringList &arguments,
                   const QProcessEnvironment &environment = QProcessEnvironment()) const;
    QString submitSlowJob();
    QStringList processedJobs(int count);

    QTemporaryDir m_dir;
    QString m_project;
    DevServerProcess *m_quick = nullptr;
    DevServerProcess *m_slow = nullptr;
    QString m_processedJob;
    DevServerProcess *m_study = nullptr;
    QStringList m_studyJobs;
};

void TestCli::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString projectFolder = m_dir.filePath(QStringLiteral("work/beam"));
    QVERIFY(QDir().mkpath(projectFolder + QStringLiteral("/mesh")));
    m_project = projectFolder + QStringLiteral("/beam.prja");
    QFile project(m_project);
    QVERIFY(project.open(QIODevice::WriteOnly));
    project.write("solver = thermal\n");
    project.close();
    QFile mesh(projectFolder + QStringLiteral("/mesh/nodes.txt"));
    QVERIFY(mesh.open(QIODevice::WriteOnly));
    mesh.write(QByteArray(100000, 'n'));
    mesh.close();

    startServer(m_quick, m_dir.filePath(QStringLiteral("quick")), QuickPace);
    startServer(m_slow, m_dir.filePath(QStringLiteral("slow")), SlowPace);
}

void TestCli::cleanupTestCase()
{
    delete m_quick;
    delete m_slow;
    delete m_study;
}

void TestCli::cleanup()
{
    if (QTest::currentTestFailed())
        qInfo().noquote() << "server log:\n" << m_quick->log().right(2000);
}

void TestCli::startServer(DevServerProcess *&server, const QString &directory,
                          const QStringList &options)
{
    QVERIFY(QDir().mkpath(directory));
    delete server;
    server = new DevServerProcess(QStringLiteral(CALVARO_DEVSERVER), directory);
    const QString users = server->writeUsersFile({ { User, Password } });
    QVERIFY(!users.isEmpty());
    QVERIFY2(server->start(QStringList { QStringLiteral("--users"), users } + options),
             qPrintable(server->log()));
}

QProcessEnvironment TestCli::environment(const DevServerProcess &server) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CALVARO_SERVER"), QStringLiteral("127.0.0.1"));
    environment.insert(QStringLiteral("CALVARO_PORT"), QString::number(server.port()));
    environment.insert(QStringLiteral("CALVARO_USER"), User);
    environment.insert(QStringLiteral("CALVARO_PASSWORD"), Password);
    return environment;
}

void TestCli::startCli(QProcess &process, const DevServerProcess &server,
                       const QStringList &arguments) const
{
    process.setProcessEnvironment(environment(server));
    process.setWorkingDirectory(m_dir.path());
    process.start(QStringLiteral(CALVARO_CLI), arguments);
    process.waitForStarted();
}

Outcome TestCli::runCli(const DevServerProcess &server, const QStringList &arguments,
                        const QProcessEnvironment &changes) const
{
    QProcess process;
    QProcessEnvironment merged = environment(server);
    for (const QString &name : changes.keys())
        merged.insert(name, changes.value(name));
    process.setProcessEnvironment(merged);
    process.setWorkingDirectory(m_dir.path());
    process.start(QStringLiteral(CALVARO_CLI), arguments);
    Outcome outcome;
    if (!process.waitForFinished(RunTimeoutMs))
        return outcome;
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    outcome.out = process.readAllStandardOutput();
    outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

QString TestCli::submitSlowJob()
{
    const Outcome submitted = runCli(*m_slow,
                                     { QStringLiteral("submit"), m_project,
                                       QStringLiteral("--solver"), QStringLiteral("thermal") });
    return submitted.exitCode == 0 ? QString::fromUtf8(submitted.out).trimmed() : QString();
}

// Processed jobs of a quick server of their own (an earlier test may have
// left the quick server's replies slowed down), submitted once for the
// tests that share them.
QStringList TestCli::processedJobs(int count)
{
    while (m_studyJobs.size() < count) {
        const Outcome submitted
            = runCli(*m_study,
                     { QStringLiteral("submit"), m_project, QStringLiteral("--solver"),
                       QStringLiteral("thermal"), QStringLiteral("--wait"),
                       QStringLiteral("--interval"), QStringLiteral("0.1") });
        if (submitted.exitCode != 0)
            return QStringList();
        m_studyJobs << QString::fromUtf8(submitted.out).trimmed();
    }
    return m_studyJobs.mid(0, count);
}

void TestCli::submitWaitDownloadIsByteIdentical()
{
    const QString result = m_dir.filePath(QStringLiteral("result.zip"));
    const Outcome outcome = runCli(*m_quick,
                                   { QStringLiteral("submit"), m_project,
                                     QStringLiteral("--solver"), QStringLiteral("thermal"),
                                     QStringLiteral("--wait"), QStringLiteral("--interval"),
                                     QStringLiteral("0.1"), QStringLiteral("--download"), result });
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.err));
    m_processedJob = QString::fromUtf8(outcome.out).trimmed();
    QVERIFY(m_processedJob.startsWith(User + QLatin1Char('/')));
    QVERIFY(m_processedJob.endsWith(QLatin1String("/beam.prja")));
    // Packed beside the project folder, as the window packs it.
    QVERIFY(QFileInfo::exists(m_dir.filePath(QStringLiteral("work/beam.zip"))));

    const QString onServer = findFile(m_quick->dataDirectory(), QStringLiteral("*_results.zip"));
    QVERIFY(!onServer.isEmpty());
    QVERIFY(!contents(result).isEmpty());
    QCOMPARE(contents(result), contents(onServer));
    QCOMPARE(filesIn(m_dir.path()), QStringList { QStringLiteral("result.zip") });
}

void TestCli::exitCodes_data()
{
    QTest::addColumn<bool>("slowServer");
    QTest::addColumn<QString>("setup"); // "", "slow job" or "killed job"
    QTest::addColumn<QStringList>("arguments"); // "JOB" stands for the job set up
    QTest::addColumn<QStringList>("environment"); // NAME=value changes
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString project = QStringLiteral("PROJECT");
    QTest::newRow("failing job") << false << QString()
                                 << QStringList { QStringLiteral("submit"),
                                                  project,
                                                  QStringLiteral("--solver"),
                                                  QStringLiteral("thermal"),
                                                  QStringLiteral("--command-line"),
                                                  QStringLiteral("--fail"),
                                                  QStringLiteral("--wait"),
                                                  QStringLiteral("--interval"),
                                                  QStringLiteral("0.1") }
                                 << QStringList() << 4 << "Failed";
    QTest::newRow("killed job") << true << "killed job"
                                << QStringList { QStringLiteral("wait"), QStringLiteral("JOB"),
                                                 QStringLiteral("--interval"),
                                                 QStringLiteral("0.1") }
                                << QStringList() << 5 << "Killed";
    QTest::newRow("wrong password") << false << QString() << QStringList { QStringLiteral("jobs") }
                                    << QStringList { QStringLiteral("CALVARO_PASSWORD=wrong") } << 2
                                    << "did not accept user 'engineer' with this password";
    QTest::newRow("refused request")
        << false << QString()
        << QStringList { QStringLiteral("kill"), QStringLiteral("engineer/job-9999/none.prja") }
        << QStringList() << 3 << "Cannot kill job 'engineer/job-9999/none.prja'";
    QTest::newRow("wait time-out")
        << true << "slow job" << QStringList { QStringLiteral("wait"),       QStringLiteral("JOB"),
                                               QStringLiteral("--timeout"),  QStringLiteral("0.5"),
                                               QStringLiteral("--interval"), QStringLiteral("0.1") }
        << QStringList() << 6 << "Still not finished after 0.5 seconds";
    QTest::newRow("7z missing") << false << QString()
                                << QStringList { QStringLiteral("submit"), project,
                                                 QStringLiteral("--solver"),
                                                 QStringLiteral("thermal") }
                                << QStringList { QStringLiteral("PATH=EMPTY") } << 7
                                << QStringLiteral("Cannot run '7z'");
    QTest::newRow("existing target without --force")
        << false << QString()
        << QStringList { QStringLiteral("download"), QStringLiteral("JOB"), QStringLiteral("-o"),
                         QStringLiteral("PROJECT") }
        << QStringList() << 7 << "exists already; use --force";
    QTest::newRow("unknown command")
        << false << QString() << QStringList { QStringLiteral("sumbit") } << QStringList() << 1
        << "There is no command 'sumbit'";
}

void TestCli::exitCodes()
{
    QFETCH(bool, slowServer);
    QFETCH(QString, setup);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    DevServerProcess &server = slowServer ? *m_slow : *m_quick;
    QString job = m_processedJob;
    if (!setup.isEmpty()) {
        job = submitSlowJob();
        QVERIFY(!job.isEmpty());
    }
    if (setup == QLatin1String("killed job")) {
        // Only a running job can be killed; the slow server starts it on its next tick.
        QTRY_VERIFY_WITH_TIMEOUT(runCli(server,
                                        { QStringLiteral("jobs"), QStringLiteral("--status"),
                                          QStringLiteral("running") })
                                     .out.contains(job.toUtf8()),
                                 10000);
        QCOMPARE(runCli(server, { QStringLiteral("kill"), job }).exitCode, 0);
    }
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^JOB$")), job);
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^PROJECT$")), m_project);

    QTemporaryDir emptyFolder;
    QProcessEnvironment changes;
    for (const QString &change : qAsConst(environment)) {
        const QString value = change.section(QLatin1Char('='), 1);
        changes.insert(change.section(QLatin1Char('='), 0, 0),
                       value == QLatin1String("EMPTY") ? emptyFolder.path() : value);
    }
    const Outcome outcome = runCli(server, arguments, changes);
    QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
    QCOMPARE(outcome.exitCode, exitCode);
}

void TestCli::jobsJsonMatchesServerList()
{
    const Outcome outcome = runCli(*m_quick, { QStringLiteral("jobs"), QStringLiteral("--json") });
    QCOMPARE(outcome.exitCode, 0);
    QJsonParseError error;
    const QJsonArray listed = QJsonDocument::fromJson(outcome.out, &error).array();
    QCOMPARE(error.error, QJsonParseError::NoError);

    // Every job of the quick server has finished by now, so its own record stays put.
    const QJsonArray stored = QJsonDocument::fromJson(contents(m_quick->dataDirectory()
                                                               + QStringLiteral("/index.json")))
                                  .object()
                                  .value(QStringLiteral("jobs"))
                                  .toArray();
    QVERIFY(stored.size() >= 2);
    QCOMPARE(listed.size(), stored.size());
    for (int i = 0; i < stored.size(); ++i) {
        const QJsonObject job = stored.at(i).toObject();
        const QJsonObject line = listed.at(i).toObject();
        const QString path
            = QStringLiteral("%1/job-%2/%3")
                  .arg(job.value(QStringLiteral("user")).toString())
                  .arg(job.value(QStringLiteral("number")).toInt(), 4, 10, QLatin1Char('0'))
                  .arg(job.value(QStringLiteral("projectName")).toString());
        QCOMPARE(line.value(QStringLiteral("path")).toString(), path);
        QCOMPARE(line.value(QStringLiteral("userId")), job.value(QStringLiteral("user")));
        QCOMPARE(line.value(QStringLiteral("solverId")), job.value(QStringLiteral("solverId")));
        QVERIFY(line.value(QStringLiteral("status"))
                    .toString()
                    .toLower()
                    .startsWith(job.value(QStringLiteral("state")).toString()));
        QCOMPARE(line.value(QStringLiteral("progressMessages")),
                 job.value(QStringLiteral("messages")));
        QCOMPARE(line.value(QStringLiteral("accessible")), QJsonValue(true));
    }
}

// Without -o the result is named after the job's folder, with the extension
// of the file that the job announced ("Ready for download: job-0001_results.zip").
void TestCli::downloadTakesTheAnnouncedExtension()
{
    QVERIFY(!m_processedJob.isEmpty());
    const QString expected
        = m_processedJob.section(QLatin1Char('/'), -2, -2) + QStringLiteral(".zip");
    const Outcome outcome = runCli(*m_quick, { QStringLiteral("download"), m_processedJob });
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.err));
    QCOMPARE(QString::fromUtf8(outcome.out), expected + u'\n');
    const QString onServer = findFile(m_quick->dataDirectory(), QStringLiteral("*_results.zip"));
    QCOMPARE(contents(m_dir.filePath(expected)), contents(onServer));
    QVERIFY(QFile::remove(m_dir.filePath(expected)));
}

void TestCli::interruptedDownloadKeepsOldFile_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("pressCtrlC");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("connection dropped mid-reply")
        << QStringList { QStringLiteral("--drop-after"), QStringLiteral("1"),
                         QStringLiteral("--drop-mid-reply") }
        << false << 2;
#ifdef Q_OS_UNIX
    QTest::newRow("Ctrl+C") << QStringList {
        QStringLiteral("--segment-bytes"), QStringLiteral("50"),
        QStringLiteral("--segment-pause-ms"), QStringLiteral("100")
    } << true << 130;
#endif
}

// The quick server is stopped and its jobs served again by one that fails
// while it sends the result.
void TestCli::interruptedDownloadKeepsOldFile()
{
    QFETCH(QStringList, faults);
    QFETCH(bool, pressCtrlC);
    QFETCH(int, exitCode);
    QVERIFY(!m_processedJob.isEmpty());

    m_quick->stop();
    startServer(m_quick, m_dir.filePath(QStringLiteral("quick")), faults);
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("result.zip"));
    const QByteArray old("the result of an earlier run");
    QFile existing(target);
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write(old) == old.size());
    existing.close();

    const int logStart = m_quick->log().size();
    QProcess process;
    startCli(process, *m_quick,
             { QStringLiteral("download"), m_processedJob, QStringLiteral("-o"), target,
               QStringLiteral("--force") });
#ifdef Q_OS_UNIX
    if (pressCtrlC) {
        // The reply takes seconds in its small pieces; it has begun once logged.
        QTRY_VERIFY_WITH_TIMEOUT(
            m_quick->log().mid(logStart).contains(QLatin1String("MT_DownloadJobReply")), 10000);
        QVERIFY(process.processId() > 0);
        ::kill(pid_t(process.processId()), SIGINT);
    }
#endif
    QVERIFY(process.waitForFinished(RunTimeoutMs));
    QCOMPARE(process.exitCode(), exitCode);
    QCOMPARE(contents(target), old);
    QCOMPARE(filesIn(folder.path()), QStringList { QStringLiteral("result.zip") });
}

// A result streams into its file whatever its size: one announced above the
// limit of a reply held in memory is taken, and here ends only because the
// server goes away halfway. A header that reads as text comes from a peer
// that is not a solver server, and calvaro says so, not only the size it
// would announce.
void TestCli::downloadReplyHeaders_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("dropAfterwards");
    QTest::addColumn<QString>("told"); // %1: the port

    QTest::newRow("result above the in-memory limit")
        << FakeServer::header(VLK::MessageHeaderSize + VLK::MaxMessageSize + 1,
                              VLK::MT_DownloadJobReply)
            + QByteArray(1000, 'r')
        << true << QStringLiteral("port %1 closed the connection.");
    QTest::newRow("a web server on the port")
        << QByteArrayLiteral("HTTP/1.1 400 Bad Request\r\nContent-Type: text/html\r\n\r\n") << false
        << QStringLiteral("port %1 does not seem to be a solver server: its reply begins with "
                          "the text \"HTTP/1.1\"");
}

void TestCli::downloadReplyHeaders()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, dropAfterwards);
    QFETCH(QString, told);

    FakeServer server;
    QVERIFY(server.listen());
    server.setReply(VLK::MT_Login, FakeServer::reply(VLK::MT_LoginOk));
    QProcessEnvironment environment = this->environment(*m_quick);
    environment.insert(QStringLiteral("CALVARO_PORT"), QString::number(server.port()));
    QTemporaryDir folder;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(CALVARO_CLI),
                  { QStringLiteral("download"), User + QStringLiteral("/job-0001/beam.prja"),
                    QStringLiteral("-o"), folder.filePath(QStringLiteral("result.zip")) });
    QVERIFY(server.waitForRequests(2));
    QCOMPARE(server.requestTypes().last(), qint64(VLK::MT_DownloadJob));
    server.send(reply);
    if (dropAfterwards)
        server.dropClient();
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, RunTimeoutMs);
    QCOMPARE(process.exitCode(), 2);
    const QString error = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(error.contains(told.arg(server.port())), qPrintable(error));
    QCOMPARE(filesIn(folder.path()), QStringList());
}

// calvaro sync killed at a few points (mid-download, between results) and
// started again: every result ends on disk once, whole, and each was fetched
// at most once more than the one time it had to be.
void TestCli::syncKilledAnywhereStoresEachResultOnce()
{
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("sync-journal")).toLocal8Bit());
    DevServerProcess *server = nullptr;
    startServer(server, m_dir.filePath(QStringLiteral("big")),
                QuickPace + QStringList { QStringLiteral("--result-size"), QStringLiteral("16M") });
    const QScopedPointer<DevServerProcess> owner(server);
    QStringList jobs;
    for (const char *load : { "10", "20", "30" }) {
        const Outcome submitted
            = runCli(*server,
                     { QStringLiteral("submit"), m_project, QStringLiteral("--solver"),
                       QStringLiteral("thermal"), QStringLiteral("--command-line"),
                       QStringLiteral("--load ") + QLatin1String(load) });
        QVERIFY2(submitted.exitCode == 0, qPrintable(submitted.err));
        jobs << QString::fromUtf8(submitted.out).trimmed();
    }
    QCOMPARE(runCli(*server,
                    QStringList { QStringLiteral("wait"), QStringLiteral("--interval"),
                                  QStringLiteral("0.1") }
                        + jobs)
                 .exitCode,
             0);

    const QString results = m_dir.filePath(QStringLiteral("work/beam/results"));
    int kills = 0;
    for (int storedBeforeKill = 0; storedBeforeKill < jobs.size(); ++storedBeforeKill) {
        QProcess sync;
        startCli(sync, *server, { QStringLiteral("sync") });
        QTRY_VERIFY(sync.state() != QProcess::Running
                    || filesIn(results).size() > storedBeforeKill);
        if (sync.state() == QProcess::Running) {
            sync.kill();
            ++kills;
        }
        QTRY_COMPARE_WITH_TIMEOUT(sync.state(), QProcess::NotRunning, RunTimeoutMs);
    }
    const Outcome last = runCli(*server, { QStringLiteral("sync") });
    QVERIFY2(last.exitCode == 0, qPrintable(last.err));

    const QByteArray expected
        = contents(findFile(server->dataDirectory(), QStringLiteral("*_results*")));
    QCOMPARE(expected.size(), 16 * 1024 * 1024);
    QStringList names;
    for (const QString &job : qAsConst(jobs))
        names << job.section(QLatin1Char('/'), -2, -2) + QLatin1Char('_')
                + job.section(QLatin1Char('/'), -2, -2) + QStringLiteral("_results.bin");
    QCOMPARE(filesIn(results), names);
    for (const QString &name : qAsConst(names))
        QVERIFY2(contents(results + QLatin1Char('/') + name) == expected, qPrintable(name));
    const int downloads = server->log().count(QStringLiteral("MT_DownloadJob("));
    QVERIFY2(downloads >= jobs.size() && downloads <= jobs.size() + kills,
             qPrintable(QStringLiteral("%1 downloads, %2 kills").arg(downloads).arg(kills)));
    // The journal holds each result's hash as the toolkit computes it.
    const QString sha256 = QString::fromLatin1(
        QCryptographicHash::hash(expected, QCryptographicHash::Sha256).toHex());
    const Outcome history
        = runCli(*server, { QStringLiteral("history"), QStringLiteral("--json") });
    const QJsonArray entries = QJsonDocument::fromJson(history.out).array();
    QCOMPARE(entries.size(), jobs.size());
    for (const QJsonValue &entry : entries)
        QCOMPARE(entry[QLatin1String("resultSha256")].toString(), sha256);
}

// The server goes away while calvaro waits for a job, and comes back on the
// same port with the same data: the job runs again there, and calvaro waits
// on as if nothing had happened.
void TestCli::waitSurvivesAServerRestart()
{
    // Slow enough that the job still runs when the server goes.
    const QStringList pace { QStringLiteral("--tick-ms"), QStringLiteral("200"),
                             QStringLiteral("--steps"), QStringLiteral("10") };
    DevServerProcess *server = nullptr;
    startServer(server, m_dir.filePath(QStringLiteral("restarted")), pace);
    const std::unique_ptr<DevServerProcess> stopsServer(server);
    const Outcome submitted = runCli(*server,
                                     { QStringLiteral("submit"), m_project,
                                       QStringLiteral("--solver"), QStringLiteral("thermal") });
    QVERIFY2(submitted.exitCode == 0, qPrintable(submitted.err));
    const QString job = QString::fromUtf8(submitted.out).trimmed();

    const auto listsSent = [&] { return server->log().count(QLatin1String("MT_JobStatus(")); };
    const int listsBefore = listsSent();
    QProcess waiting;
    startCli(waiting, *server,
             { QStringLiteral("wait"), job, QStringLiteral("--interval"), QStringLiteral("0.1") });
    QTRY_VERIFY(listsSent() > listsBefore);
    server->kill();
    QString err;
    QTRY_VERIFY2_WITH_TIMEOUT(
        (err += QString::fromLocal8Bit(waiting.readAllStandardError()))
            .contains(QLatin1String("Connection lost: ")),
        qPrintable(err + QString::fromLocal8Bit(waiting.readAllStandardOutput())), 10000);
    const QStringList options
        = QStringList { QStringLiteral("--users"), server->writeUsersFile({ { User, Password } }) }
        + pace;
    QVERIFY2(server->start(options), qPrintable(server->log()));

    QVERIFY(waiting.waitForFinished(RunTimeoutMs));
    err += QString::fromLocal8Bit(waiting.readAllStandardError());
    QVERIFY2(waiting.exitStatus() == QProcess::NormalExit && waiting.exitCode() == 0,
             qPrintable(err));
    QCOMPARE(err.count(QLatin1String("Connection lost: ")), 1);
    QVERIFY(err.contains(QLatin1String("Reconnected.")));
}

void TestCli::removeOfSeveralJobsGoesOnPastARefusal()
{
    QStringList jobs;
    for (int index = 0; index < 2; ++index) {
        const Outcome submitted
            = runCli(*m_quick,
                     { QStringLiteral("submit"), m_project, QStringLiteral("--solver"),
                       QStringLiteral("thermal"), QStringLiteral("--wait"),
                       QStringLiteral("--interval"), QStringLiteral("0.1") });
        QVERIFY2(submitted.exitCode == 0, qPrintable(submitted.err));
        jobs << QString::fromUtf8(submitted.out).trimmed();
    }
    const QString missing = User + QStringLiteral("/job-9999/none.prja");
    const auto listed
        = [this] { return QString::fromUtf8(runCli(*m_quick, { QStringLiteral("jobs") }).out); };

    const Outcome dryRun = runCli(*m_quick,
                                  { QStringLiteral("remove"), QStringLiteral("--status"),
                                    QStringLiteral("processed"), QStringLiteral("--dry-run") });
    QCOMPARE(dryRun.exitCode, 0);
    for (const QString &job : jobs)
        QVERIFY(dryRun.out.contains((QStringLiteral("Would remove ") + job).toUtf8()));
    QVERIFY(listed().contains(jobs.at(1)));

    const Outcome removed
        = runCli(*m_quick, { QStringLiteral("remove"), jobs.at(0), missing, jobs.at(1) });
    QCOMPARE(removed.exitCode, 3);
    QVERIFY(removed.err.contains(QStringLiteral("Cannot remove job '") + missing
                                 + QStringLiteral("'")));
    QCOMPARE(removed.out.count("removed."), 2);
    const QString after = listed();
    QVERIFY(!after.contains(jobs.at(0)));
    QVERIFY(!after.contains(jobs.at(1)));
}

void TestCli::downloadOfSeveralJobs_data()
{
    QTest::addColumn<QStringList>("arguments"); // JOB1 and JOB2 stand for two processed jobs
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("stored"); // -1: every processed job
    QTest::addColumn<QString>("told");

    const QString missing = User + QStringLiteral("/job-9999/none.prja");
    const QString folder = QStringLiteral("FOLDER");
    QTest::newRow("by path, one refused")
        << QStringList { QStringLiteral("download"), QStringLiteral("JOB1"), missing,
                         QStringLiteral("JOB2"),     QStringLiteral("-o"),   folder }
        << 3 << 2 << QStringLiteral("Cannot download the result of job '%1'").arg(missing);
    QTest::newRow("by status") << QStringList {
        QStringLiteral("download"), QStringLiteral("--status"), QStringLiteral("processed"),
        QStringLiteral("-o"), folder
    } << 0 << -1 << QStringLiteral(" saved to ");
    QTest::newRow("without a folder")
        << QStringList { QStringLiteral("download"), QStringLiteral("JOB1"),
                         QStringLiteral("JOB2") }
        << 1 << 0 << QStringLiteral("name it with -o FOLDER");
}

void TestCli::downloadOfSeveralJobs()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(int, stored);
    QFETCH(QString, told);

    if (!m_study) {
        startServer(m_study, m_dir.filePath(QStringLiteral("study")), QuickPace);
        QVERIFY(!QTest::currentTestFailed());
    }
    const QStringList jobs = processedJobs(2);
    QCOMPARE(jobs.size(), 2);
    QTemporaryDir parent;
    const QString folder = parent.filePath(QStringLiteral("results"));
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^JOB1$")), jobs.at(0));
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^JOB2$")), jobs.at(1));
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^FOLDER$")), folder);
    if (stored < 0) {
        const Outcome processed = runCli(*m_study,
                                         { QStringLiteral("jobs"), QStringLiteral("--status"),
                                           QStringLiteral("processed"), QStringLiteral("--json") });
        stored = QJsonDocument::fromJson(processed.out).array().size();
        QVERIFY(stored >= 2);
    }

    const Outcome outcome = runCli(*m_study, arguments);
    QVERIFY2(outcome.err.contains(told), qPrintable(outcome.err));
    QCOMPARE(outcome.exitCode, exitCode);
    const QStringList files = filesIn(folder);
    QCOMPARE(files.size(), stored);
    QCOMPARE(outcome.err.count(QLatin1String(" saved to ")), stored);
    // Each under its job's folder name, byte for byte the server's file.
    for (const QString &file : files) {
        const QString onServer
            = findFile(m_study->dataDirectory(),
                       QFileInfo(file).completeBaseName() + QStringLiteral("_results.zip"));
        QVERIFY2(!onServer.isEmpty(), qPrintable(file));
        QVERIFY2(contents(folder + QLatin1Char('/') + file) == contents(onServer),
                 qPrintable(file));
    }
    for (const QString &job : jobs) {
        if (stored > 0)
            QVERIFY(files.contains(job.section(QLatin1Char('/'), -2, -2) + QStringLiteral(".zip")));
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
