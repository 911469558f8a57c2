#pragma once

#include "ConnectionSettings.h"

#include "journal/JournalEntry.h"
#include "protocol/Protocol.h"
#include "protocol/ReconnectBackoff.h"
#include "protocol/ServerConnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

class QCommandLineParser;
class QJsonValue;

namespace Cli {

class InterruptWatcher;

// One run of a command: the logged-in connection, and the program's two
// outputs, results on stdout (text or JSON) and messages on stderr.
class Session
{
    Q_DECLARE_TR_FUNCTIONS(Cli::Session)

public:
    Session(const QCommandLineParser &parser, const InterruptWatcher &interrupts);
    ~Session();

    const QCommandLineParser &parser() const { return m_parser; }
    const InterruptWatcher &interrupts() const { return m_interrupts; }
    bool wantsJson() const;

    // Connects and logs in; 0, or the exit code after saying what went wrong.
    int open();
    VLK::ServerConnection &connection() { return m_connection; }
    // The journal's key of a job on the server logged in to.
    VLK::JournalKey journalKey(const QString &jobPath) const;
    // The job list as the server sends it now; 0 or an exit code.
    int fetchJobs(QList<VLK::JobInfo> &jobs);
    // The same for commands that watch the server for long: a connection
    // that breaks is made again, after the window's backoff, until deadline.
    // A refused login still ends at once.
    int fetchJobsStayingConnected(QList<VLK::JobInfo> &jobs, const QDeadlineTimer &deadline);

    // Says why the last call of the connection failed, after what the user
    // was doing (and, when the server refused it, what may be the reason),
    // and returns the matching exit code.
    int reportFailure(const QString &doing, const QString &refusalHint = QString());
    // Waits up to seconds unless interrupted; false when interrupted.
    bool pause(double seconds);

    static void printText(const QString &text);
    static void printJson(const QJsonValue &value);
    static int reportError(int exitCode, const QString &message);
    // A line on stderr that is not an error.
    static void printMessage(const QString &message);

private:
    bool logIn();
    int decodeJobs(QList<VLK::JobInfo> &jobs);
    int reconnect(const QDeadlineTimer &deadline);
    bool connectionBroke() const;

    const QCommandLineParser &m_parser;
    const InterruptWatcher &m_interrupts;
    VLK::ServerConnection m_connection;
    ConnectionSettings m_settings;
    VLK::ReconnectBackoff m_backoff;
    QString m_passwordDigest;
};

} // namespace Cli
