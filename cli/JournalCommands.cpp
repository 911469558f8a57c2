#include "Commands.h"
#include "ExitCode.h"
#include "InterruptWatcher.h"
#include "ProgressMeter.h"
#include "Session.h"

#include "journal/JobJournal.h"
#include "journal/ResultFileWriter.h"
#include "journal/ResultPlacement.h"
#include "journal/ResultSettings.h"
#include "protocol/JobRules.h"

#include "Translation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace Cli {

namespace {

// How often a sync looks again at results that another program is fetching.
constexpr double OthersPollSeconds = 0.5;

QJsonObject entryAsJson(const VLK::JournalEntry &entry)
{
    return {
        { QStringLiteral("server"), entry.key.server },
        { QStringLiteral("port"), int(entry.key.port) },
        { QStringLiteral("user"), entry.key.user },
        { QStringLiteral("path"), entry.key.jobPath },
        { QStringLiteral("projectFile"), entry.projectFile },
        { QStringLiteral("archive"), entry.archive },
        { QStringLiteral("solver"), entry.solver },
        { QStringLiteral("commandLine"), entry.commandLine },
        { QStringLiteral("queue"), entry.queue },
        { QStringLiteral("submitted"), entry.submittedAt.toString(Qt::ISODate) },
        { QStringLiteral("status"), entry.lastStatus },
        { QStringLiteral("statusSeen"), entry.statusSeenAt.toString(Qt::ISODate) },
        { QStringLiteral("result"), entry.resultPath },
        { QStringLiteral("resultBytes"), double(entry.resultSize) },
        { QStringLiteral("resultSha256"), QString::fromLatin1(entry.resultSha256.toHex()) },
        { QStringLiteral("stored"), entry.storedAt.toString(Qt::ISODate) },
    };
}

QString historyTable(const QList<VLK::JournalEntry> &entries)
{
    QString text;
    for (const VLK::JournalEntry &entry : entries) {
        text += QStringLiteral("%1  %2  %3  %4  %5\n")
                    .arg(entry.submittedAt.toLocalTime().toString(Qt::ISODate),
                         entry.lastStatus.left(12).leftJustified(12), entry.key.jobPath,
                         entry.commandLine.isEmpty() ? QStringLiteral("-") : entry.commandLine,
                         entry.hasResult() ? QDir::toNativeSeparators(entry.resultPath)
                                           : tr("(result not on disk)"));
    }
    return text;
}

int openJournal(VLK::JobJournal &journal)
{
    return journal.open() ? int(Success)
                          : Session::reportError(LocalFileError, journal.errorText());
}

// Fetches what the journal's jobs offer, one result after another, into the
// results folder beside each project.
class ResultSync
{
    Q_DECLARE_TR_FUNCTIONS(Cli::ResultSync)

public:
    ResultSync(Session &session, VLK::JobJournal &journal)
        : m_session(session)
        , m_journal(journal)
        , m_pathPattern(VLK::ResultSettings::resultPathPattern())
    { }

    // One look at the job list; 0, or the exit code of a lost connection.
    int runOnce(bool &allFinished);
    bool anyFailed() const { return !m_failedJobs.isEmpty(); }
    // A result that another program was fetching at the last look.
    bool waitsForOthers() const { return !m_heldElsewhere.isEmpty(); }
    const QJsonArray &stored() const { return m_stored; }

private:
    int fetch(const VLK::JournalEntry &entry, const VLK::JobInfo &job);

    Session &m_session;
    VLK::JobJournal &m_journal;
    const QString m_pathPattern;
    QSet<QString> m_failedJobs;
    QSet<QString> m_heldElsewhere;
    QJsonArray m_stored;
};

int ResultSync::runOnce(bool &allFinished)
{
    QList<VLK::JobInfo> jobs;
    if (const int code = m_session.fetchJobs(jobs))
        return code;
    const VLK::JournalKey login = m_session.journalKey(QString());
    QList<VLK::JournalEntry> entries;
    if (!m_journal.entries(entries, login.server, login.port, login.user))
        return Session::reportError(LocalFileError, m_journal.errorText());
    allFinished = true;
    m_heldElsewhere.clear();
    for (const VLK::JournalEntry &entry : qAsConst(entries)) {
        const auto listed = std::find_if(jobs.cbegin(), jobs.cend(), [&](const VLK::JobInfo &job) {
            return job.path == entry.key.jobPath;
        });
        if (listed == jobs.cend())
            continue; // gone from the server: nothing more will come of it
        if (listed->status != entry.lastStatus)
            m_journal.updateStatus(entry.key, listed->status);
        const VLK::JobRules::Status status = VLK::JobRules::statusOf(listed->status);
        if (status == VLK::JobRules::Status::Failed)
            m_failedJobs.insert(entry.key.jobPath);
        if (!VLK::JobRules::isFinished(status))
            allFinished = false;
        if (entry.hasResult() || !VLK::JobRules::offersResult(listed->progressMsg))
            continue;
        if (const int code = fetch(entry, *listed)) {
            if (code != LocalFileError)
                return code;
            m_failedJobs.insert(entry.key.jobPath);
        }
    }
    return Success;
}

int ResultSync::fetch(const VLK::JournalEntry &entry, const VLK::JobInfo &job)
{
    const QString target = VLK::ResultPlacement::targetPath(entry, job.progressMsg, m_pathPattern);
    VLK::JournalKey owner;
    if (m_journal.ownerOfResult(target, owner) && owner != entry.key)
        return Session::reportError(LocalFileError,
                                    tr("'%1' is the result of job %2; it is left as it is.")
                                        .arg(QDir::toNativeSeparators(target), owner.jobPath));
    switch (m_journal.claimDownload(entry.key)) {
    case VLK::JobJournal::Claim::Taken:
        break;
    case VLK::JobJournal::Claim::Busy:
        // Another program is fetching it: looked at again until it is stored
        // or its claim is given up.
        m_heldElsewhere.insert(entry.key.jobPath);
        return Success;
    case VLK::JobJournal::Claim::Failed:
        return Session::reportError(LocalFileError, m_journal.errorText());
    }
    m_heldElsewhere.remove(entry.key.jobPath);
    VLK::ResultFileWriter writer(target);
    QString error;
    if (!writer.openTarget(error)) {
        m_journal.releaseClaim(entry.key);
        return Session::reportError(LocalFileError, error);
    }
    qint64 announced = -1;
    ProgressMeter meter(tr("Downloading %1").arg(QFileInfo(target).fileName()));
    // The watch ends the connection below with this download, before the
    // variables it points at go.
    QObject progressWatch;
    QObject::connect(&m_session.connection(), &VLK::ServerConnection::replyProgress, &progressWatch,
                     [announcedSize = &announced, shown = &meter](qint64 soFar, qint64 total) {
                         *announcedSize = total - VLK::MessageHeaderSize;
                         shown->show(soFar, total);
                     });
    const bool received = m_session.connection().download(entry.key.jobPath, writer);
    meter.finish();
    if (!received) {
        writer.discard();
        m_journal.releaseClaim(entry.key);
        return m_session.reportFailure(
            tr("Cannot download the result of job '%1'").arg(entry.key.jobPath));
    }
    if (!writer.finish(announced < 0 ? writer.bytesWritten() : announced, error)) {
        m_journal.releaseClaim(entry.key);
        return Session::reportError(LocalFileError, error);
    }
    if (!m_journal.storeResult(entry.key, target, writer.bytesWritten(), writer.sha256()))
        return Session::reportError(LocalFileError, m_journal.errorText());
    m_failedJobs.remove(entry.key.jobPath);
    m_stored.append(
        QJsonObject { { QStringLiteral("path"), entry.key.jobPath },
                      { QStringLiteral("file"), target },
                      { QStringLiteral("bytes"), double(writer.bytesWritten()) },
                      { QStringLiteral("sha256"), QString::fromLatin1(writer.sha256().toHex()) } });
    if (!m_session.wantsJson())
        Session::printText(
            tr("%1 -> %2\n").arg(entry.key.jobPath, QDir::toNativeSeparators(target)));
    return Success;
}

} // namespace

void addSyncOptions(QCommandLineParser &parser)
{
    parser.addOption({ QStringLiteral("watch"),
                       tr("Keep looking every <seconds> (default 2) until every job of the "
                          "journal has finished."),
                       QStringLiteral("seconds") });
    parser.addOption({ QStringLiteral("auto"),
                       tr("Switch the window's automatic download of results on or off, and "
                          "exit."),
                       QStringLiteral("on|off") });
}

namespace {

// The window reads the switch at its next login.
int switchAutomaticDownload(const QString &value)
{
    if (value != QLatin1String("on") && value != QLatin1String("off"))
        return Session::reportError(UsageError, tr("--auto takes on or off, not '%1'.").arg(value));
    const bool on = value == QLatin1String("on");
    VLK::ResultSettings::setDownloadsAutomatically(on);
    Session::printText(on ? tr("The window downloads results automatically.\n")
                          : tr("The window no longer downloads results automatically.\n"));
    return Success;
}

} // namespace

int runHistory(Session &session)
{
    VLK::JobJournal journal;
    if (const int code = openJournal(journal))
        return code;
    QList<VLK::JournalEntry> entries;
    if (!journal.entries(entries))
        return Session::reportError(LocalFileError, journal.errorText());
    if (session.wantsJson()) {
        QJsonArray array;
        for (const VLK::JournalEntry &entry : qAsConst(entries))
            array.append(entryAsJson(entry));
        Session::printJson(array);
    } else {
        Session::printText(historyTable(entries));
    }
    return Success;
}

int runSync(Session &session)
{
    const QCommandLineParser &parser = session.parser();
    if (parser.isSet(QStringLiteral("auto")))
        return switchAutomaticDownload(parser.value(QStringLiteral("auto")));
    const bool watch = parser.isSet(QStringLiteral("watch"));
    bool ok = true;
    const double seconds = parser.value(QStringLiteral("watch")).toDouble(&ok);
    if (watch && (!ok || seconds < 0))
        return Session::reportError(UsageError,
                                    tr("--watch takes a number of seconds, not '%1'.")
                                        .arg(parser.value(QStringLiteral("watch"))));
    VLK::JobJournal journal;
    if (const int code = openJournal(journal))
        return code;
    if (const int code = session.open())
        return code;
    ResultSync sync(session, journal);
    bool allFinished = false;
    bool toldOfOthers = false;
    for (;;) {
        if (const int code = sync.runOnce(allFinished))
            return code;
        if (sync.waitsForOthers() && !toldOfOthers && !session.wantsJson()) {
            Session::printMessage(tr("Waiting for results that another program is downloading."));
            toldOfOthers = true;
        }
        // Done only when every offered result is on disk, not merely being
        // fetched by someone else.
        const bool done = (!watch || allFinished) && !sync.waitsForOthers();
        if (done || !session.pause(watch ? qMax(seconds, 0.1) : OthersPollSeconds))
            break;
    }
    if (session.interrupts().isInterrupted())
        return Interrupted;
    if (session.wantsJson())
        Session::printJson(sync.stored());
    return sync.anyFailed() ? int(JobFailed) : int(Success);
}

} // namespace Cli
