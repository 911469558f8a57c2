#include "JournalBench.h"

#include "BenchSupport.h"
#include "DevServerProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

namespace Bench {

namespace {

const QString User = QStringLiteral("bench");
const QString Password = QStringLiteral("bench");
constexpr int ProgramTimeoutMs = 600000;
// A kill lands at most this long after the start, well before a sync of the
// study could end: at the login, between results and in the middle of one.
constexpr int LatestKillMs = 300;

QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QByteArray();
    return hash.result();
}

bool copyFolder(const QString &from, const QString &to)
{
    if (!QDir(to).removeRecursively() || !QDir().mkpath(to))
        return false;
    const QStringList names = QDir(from).entryList(QDir::Files | QDir::Hidden);
    return std::all_of(names.cbegin(), names.cend(), [&](const QString &name) {
        return QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name);
    });
}

// A stand-in server whose jobs are done within a second and leave results of
// a given size, a study of jobs submitted to it and processed, and calvaro
// run against it with a journal of its own.
class Study
{
public:
    bool start(int jobs, const QString &resultBytes);
    // Runs calvaro with arguments to its end; its exit code, -1 when it failed to run.
    int runCalvaro(const QStringList &arguments, const QString &workingFolder = QString()) const;
    void startCalvaro(QProcess &process, const QStringList &arguments) const;
    QProcessEnvironment environment() const;

    const QStringList &jobs() const { return m_jobs; }
    // The results folder beside the submitted archive, where sync stores.
    QString resultsFolder() const { return m_dir.filePath(QStringLiteral("project/results")); }
    QString journalFolder() const
    {
        return m_dir.filePath(QStringLiteral("data/Orvand/CalvaroClient"));
    }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    const DevServerProcess &server() const { return *m_server; }
    // What the server sends as every job's result (the generated results are all alike).
    QByteArray serverResultSha256() const;

private:
    bool writeArchive(const QString &path) const;

    QTemporaryDir m_dir;
    std::unique_ptr<DevServerProcess> m_server;
    QStringList m_jobs;
};

bool Study::start(int jobs, const QString &resultBytes)
{
    if (!m_dir.isValid() || !QDir().mkpath(m_dir.filePath(QStringLiteral("server"))))
        return false;
    m_server = std::make_unique<DevServerProcess>(QStringLiteral(CALVARO_DEVSERVER),
                                                  m_dir.filePath(QStringLiteral("server")));
    const QString users = m_server->writeUsersFile({ { User, Password } });
    if (users.isEmpty()
        || !m_server->start({ QStringLiteral("--users"), users, QStringLiteral("--tick-ms"),
                              QStringLiteral("100"), QStringLiteral("--steps"), QStringLiteral("3"),
                              QStringLiteral("--result-size"), resultBytes }))
        return false;
    const QString archive = m_dir.filePath(QStringLiteral("project/beam.zip"));
    if (!QDir().mkpath(m_dir.filePath(QStringLiteral("project"))) || !writeArchive(archive))
        return false;
    for (int job = 0; job < jobs; ++job) {
        QProcess submit;
        startCalvaro(submit,
                     { QStringLiteral("submit"), archive, QStringLiteral("--solver"),
                       QStringLiteral("thermal"), QStringLiteral("--command-line"),
                       QStringLiteral("--load %1").arg(10 * (job + 1)) });
        if (!submit.waitForFinished(ProgramTimeoutMs) || submit.exitCode() != 0)
            return false;
        m_jobs << QString::fromUtf8(submit.readAllStandardOutput()).trimmed();
    }
    return runCalvaro(QStringList { QStringLiteral("wait"), QStringLiteral("--interval"),
                                    QStringLiteral("0.2") }
                      + m_jobs)
        == 0;
}

// A small project, sent as it is: the study measures results, not packing.
bool Study::writeArchive(const QString &path) const
{
    QProcess pack;
    pack.setWorkingDirectory(QFileInfo(path).path());
    QFile project(QFileInfo(path).path() + QStringLiteral("/beam.prja"));
    if (!project.open(QIODevice::WriteOnly) || project.write("solver = thermal\n") <= 0)
        return false;
    project.close();
    pack.start(QStringLiteral("7z"),
               { QStringLiteral("a"), QStringLiteral("-tzip"), path, project.fileName() });
    return pack.waitForFinished(ProgramTimeoutMs) && pack.exitCode() == 0
        && QFile::remove(project.fileName());
}

QProcessEnvironment Study::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CALVARO_SERVER"), QStringLiteral("127.0.0.1"));
    environment.insert(QStringLiteral("CALVARO_PORT"), QString::number(m_server->port()));
    environment.insert(QStringLiteral("CALVARO_USER"), User);
    environment.insert(QStringLiteral("CALVARO_PASSWORD"), Password);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    return environment;
}

void Study::startCalvaro(QProcess &process, const QStringList &arguments) const
{
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral(CALVARO_CLI), arguments);
}

int Study::runCalvaro(const QStringList &arguments, const QString &workingFolder) const
{
    QProcess process;
    process.setWorkingDirectory(workingFolder.isEmpty() ? m_dir.path() : workingFolder);
    startCalvaro(process, arguments);
    if (!process.waitForFinished(ProgramTimeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

QByteArray Study::serverResultSha256() const
{
    QDirIterator files(m_server->dataDirectory(), { QStringLiteral("*_results*") }, QDir::Files,
                       QDirIterator::Subdirectories);
    return files.hasNext() ? fileSha256(files.next()) : QByteArray();
}

// Whether folder holds exactly count files, each the server's result.
bool holdsEveryResultOnce(const QString &folder, int count, const QByteArray &sha256)
{
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    return names.size() == count
        && std::all_of(names.cbegin(), names.cend(), [&](const QString &name) {
               return fileSha256(folder + QLatin1Char('/') + name) == sha256;
           });
}

struct StudySetup
{
    int jobs = 0;
    QString resultBytes;
    int repeats = 0;

    bool parse(const QStringList &arguments)
    {
        bool jobsOk = false;
        bool repeatsOk = false;
        jobs = arguments.value(0).toInt(&jobsOk);
        resultBytes = arguments.value(1);
        repeats = arguments.value(2).toInt(&repeatsOk);
        return arguments.size() == 3 && jobsOk && repeatsOk && jobs > 0 && repeats > 0;
    }
};

double secondsOf(const std::function<bool()> &work, bool &ok)
{
    const Clock::time_point started = Clock::now();
    ok = work() && ok;
    return secondsBetween(started, Clock::now());
}

} // namespace

int runJournalSync(const QStringList &arguments)
{
    StudySetup setup;
    if (!setup.parse(arguments))
        return fail(QStringLiteral("journal sync: bad arguments"));
    Study study;
    if (!study.start(setup.jobs, setup.resultBytes))
        return fail(QStringLiteral("journal sync: the study could not be set up"));
    // The journal as submit left it: every job known, no result stored.
    const QString snapshot = study.path(QStringLiteral("journal-snapshot"));
    if (!copyFolder(study.journalFolder(), snapshot))
        return fail(QStringLiteral("journal sync: the journal could not be copied"));
    const QByteArray expected = study.serverResultSha256();
    const QString loopFolder = study.path(QStringLiteral("loop"));
    const QString loop
        = QStringLiteral("for job in %1; do \"$0\" download \"$job\" || exit 1; done")
              .arg(study.jobs().join(QLatin1Char(' ')));

    QJsonArray syncSeconds;
    QJsonArray loopSeconds;
    bool ok = true;
    bool intact = true;
    for (int run = 0; run < setup.repeats && ok; ++run) {
        ok = copyFolder(snapshot, study.journalFolder())
            && QDir(study.resultsFolder()).removeRecursively();
        syncSeconds.append(
            secondsOf([&] { return study.runCalvaro({ QStringLiteral("sync") }) == 0; }, ok));
        intact = intact && holdsEveryResultOnce(study.resultsFolder(), setup.jobs, expected);

        ok = ok && QDir(loopFolder).removeRecursively() && QDir().mkpath(loopFolder);
        loopSeconds.append(secondsOf(
            [&] {
                QProcess shell;
                shell.setWorkingDirectory(loopFolder);
                shell.setProcessEnvironment(study.environment());
                shell.setStandardOutputFile(QProcess::nullDevice());
                shell.start(QStringLiteral("/bin/sh"),
                            { QStringLiteral("-c"), loop, QStringLiteral(CALVARO_CLI) });
                return shell.waitForFinished(ProgramTimeoutMs) && shell.exitCode() == 0;
            },
            ok));
        intact = intact && holdsEveryResultOnce(loopFolder, setup.jobs, expected);
    }
    if (!ok)
        return fail(QStringLiteral("journal sync: a run failed"));
    printResult({ { QStringLiteral("syncSeconds"), syncSeconds },
                  { QStringLiteral("loopSeconds"), loopSeconds },
                  { QStringLiteral("intact"), intact } });
    return 0;
}

int runJournalKilledSync(const QStringList &arguments)
{
    StudySetup setup;
    if (!setup.parse(arguments))
        return fail(QStringLiteral("killed sync: bad arguments"));
    Study study;
    if (!study.start(setup.jobs, setup.resultBytes))
        return fail(QStringLiteral("killed sync: the study could not be set up"));
    int kills = 0;
    bool endedByItself = false;
    while (kills < setup.repeats && !endedByItself) {
        QProcess sync;
        study.startCalvaro(sync, { QStringLiteral("sync") });
        endedByItself = sync.waitForFinished(QRandomGenerator::global()->bounded(LatestKillMs));
        if (!endedByItself) {
            sync.kill();
            sync.waitForFinished();
            ++kills;
        }
    }
    // The restart after the last kill.
    const int lastExitCode = study.runCalvaro({ QStringLiteral("sync") });
    const int downloads = study.server().log().count(QStringLiteral("MT_DownloadJob("));
    const QStringList stored = QDir(study.resultsFolder()).entryList(QDir::Files | QDir::Hidden);
    printResult(
        { { QStringLiteral("jobs"), setup.jobs },
          { QStringLiteral("kills"), kills },
          { QStringLiteral("lastExitCode"), lastExitCode },
          { QStringLiteral("filesInResults"), stored.size() },
          { QStringLiteral("everyResultOnce"),
            holdsEveryResultOnce(study.resultsFolder(), setup.jobs, study.serverResultSha256()) },
          { QStringLiteral("downloads"), downloads },
          { QStringLiteral("mostDownloadsAllowed"), setup.jobs + kills } });
    return 0;
}

} // namespace Bench
