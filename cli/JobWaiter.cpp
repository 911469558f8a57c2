#include "JobWaiter.h"

#include "ExitCode.h"
#include "Session.h"
#include "StatusLine.h"

#include "protocol/JobRules.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonObject>

namespace Cli {

namespace {

// A status that calvaro does not know ends the wait as a failure.
JobWaiter::Outcome outcomeOf(const QString &status)
{
    switch (VLK::JobRules::statusOf(status)) {
    case VLK::JobRules::Status::Queued:
    case VLK::JobRules::Status::Running:
        return JobWaiter::Outcome::Pending;
    case VLK::JobRules::Status::Processed:
        return JobWaiter::Outcome::Processed;
    case VLK::JobRules::Status::Killed:
        return JobWaiter::Outcome::Killed;
    case VLK::JobRules::Status::Failed:
    case VLK::JobRules::Status::Other:
        break;
    }
    return JobWaiter::Outcome::Failed;
}

QString outcomeName(JobWaiter::Outcome outcome)
{
    switch (outcome) {
    case JobWaiter::Outcome::Pending:
        return QStringLiteral("pending");
    case JobWaiter::Outcome::Processed:
        return QStringLiteral("processed");
    case JobWaiter::Outcome::Failed:
        return QStringLiteral("failed");
    case JobWaiter::Outcome::Killed:
        return QStringLiteral("killed");
    case JobWaiter::Outcome::Gone:
        return QStringLiteral("gone");
    }
    return QString();
}

} // namespace

JobWaiter::JobWaiter(Session &session, const QStringList &paths, double timeoutSeconds,
                     double intervalSeconds)
    : m_session(session)
    , m_timeoutSeconds(timeoutSeconds)
    , m_intervalSeconds(intervalSeconds)
{
    for (const QString &path : paths)
        m_jobs.append({ path, QString(), Outcome::Pending });
}

int JobWaiter::run()
{
    const int code = pollUntilFinished();
    // Whatever is said next starts on a line of its own.
    if (m_statusLine)
        m_statusLine->finish();
    return code;
}

int JobWaiter::pollUntilFinished()
{
    QElapsedTimer clock;
    clock.start();
    const QDeadlineTimer deadline = m_timeoutSeconds > 0
        ? QDeadlineTimer(qint64(m_timeoutSeconds * 1000))
        : QDeadlineTimer(QDeadlineTimer::Forever);
    for (;;) {
        QList<VLK::JobInfo> list;
        if (const int code = m_session.fetchJobsStayingConnected(list, deadline))
            return code;
        for (WaitedJob &job : m_jobs) {
            if (job.outcome != Outcome::Pending)
                continue;
            job.outcome = Outcome::Gone;
            for (const VLK::JobInfo &info : qAsConst(list)) {
                if (info.path == job.path) {
                    job.status = info.status;
                    job.outcome = outcomeOf(info.status);
                    break;
                }
            }
        }
        if (m_statusLine)
            m_statusLine->show(statusText());
        if (allFinished())
            return outcomeExitCode();
        const double left = m_timeoutSeconds - clock.elapsed() / 1000.0;
        if (m_timeoutSeconds > 0 && left <= 0)
            return Session::reportError(TimedOut,
                                        tr("Still not finished after %1 seconds:\n%2")
                                            .arg(m_timeoutSeconds)
                                            .arg(summary()));
        const double pause
            = m_timeoutSeconds > 0 ? qMin(m_intervalSeconds, left) : m_intervalSeconds;
        if (!m_session.pause(pause))
            return Session::reportError(Interrupted, tr("Interrupted while waiting."));
    }
}

QString JobWaiter::statusText() const
{
    QStringList statuses;
    for (const WaitedJob &job : m_jobs)
        statuses << tr("Job %1: %2")
                        .arg(job.path,
                             job.outcome == Outcome::Gone ? tr("gone from the job list")
                                                          : job.status);
    return statuses.join(QLatin1String("; "));
}

QString JobWaiter::summary() const
{
    QString text;
    for (const WaitedJob &job : m_jobs)
        text += job.outcome == Outcome::Gone ? tr("%1: gone from the job list\n").arg(job.path)
                                             : QStringLiteral("%1: %2\n").arg(job.path, job.status);
    return text;
}

int JobWaiter::reportUnprocessed(int exitCode) const
{
    QString text;
    for (const WaitedJob &job : m_jobs) {
        if (job.outcome == Outcome::Gone)
            text += tr("Job %1 is no longer in the job list (removed, or never there).\n")
                        .arg(job.path);
        else if (job.outcome != Outcome::Processed)
            text += tr("Job %1 ended %2.\n").arg(job.path, job.status);
    }
    return text.isEmpty() ? exitCode : Session::reportError(exitCode, text.trimmed());
}

QJsonArray JobWaiter::asJson() const
{
    QJsonArray array;
    for (const WaitedJob &job : m_jobs)
        array.append(QJsonObject { { QStringLiteral("path"), job.path },
                                   { QStringLiteral("status"), job.status },
                                   { QStringLiteral("outcome"), outcomeName(job.outcome) } });
    return array;
}

bool JobWaiter::allFinished() const
{
    for (const WaitedJob &job : m_jobs) {
        if (job.outcome == Outcome::Pending)
            return false;
    }
    return true;
}

int JobWaiter::outcomeExitCode() const
{
    int code = Success;
    for (const WaitedJob &job : m_jobs) {
        if (job.outcome == Outcome::Killed || job.outcome == Outcome::Gone)
            code = qMax<int>(code, JobKilledOrGone);
        else if (job.outcome == Outcome::Failed)
            code = qMax<int>(code, JobFailed);
    }
    return code;
}

} // namespace Cli
