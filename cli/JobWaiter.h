#pragma once

#include <QCoreApplication>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace Cli {

class Session;
class StatusLine;

// Polls the job list until every named job has finished, whether it was
// processed, failed, killed or is gone from the list. A status that begins
// with "Queued" or "Running" is not finished; "Processed" is success,
// "Killed" a killed job, and any other status a failure.
class JobWaiter
{
    Q_DECLARE_TR_FUNCTIONS(Cli::JobWaiter)

public:
    enum class Outcome { Pending, Processed, Failed, Killed, Gone };
    struct WaitedJob
    {
        QString path;
        QString status;
        Outcome outcome = Outcome::Pending;
    };

    // timeoutSeconds 0: no time limit.
    JobWaiter(Session &session, const QStringList &paths, double timeoutSeconds,
              double intervalSeconds);

    // 0 when every job was processed; else the exit code of the worst outcome
    // (a killed or vanished job before a failed one), or of the time-out.
    int run();
    // Shows each job's latest status on line while waiting.
    void showStatusOn(StatusLine &line) { m_statusLine = &line; }
    const QList<WaitedJob> &jobs() const { return m_jobs; }
    QString summary() const;
    // Says on stderr which jobs did not end processed; returns exitCode.
    int reportUnprocessed(int exitCode) const;
    QJsonArray asJson() const;

private:
    int pollUntilFinished();
    QString statusText() const;
    bool allFinished() const;
    int outcomeExitCode() const;

    Session &m_session;
    QList<WaitedJob> m_jobs;
    double m_timeoutSeconds;
    double m_intervalSeconds;
    StatusLine *m_statusLine = nullptr;
};

} // namespace Cli
