#include "Session.h"

#include "ConnectionSettings.h"
#include "ExitCode.h"
#include "InterruptWatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

namespace Cli {

Session::Session(const QCommandLineParser &parser, const InterruptWatcher &interrupts)
    : m_parser(parser)
    , m_interrupts(interrupts)
{
    QObject::connect(&m_interrupts, &InterruptWatcher::interrupted, &m_connection,
                     &VLK::ServerConnection::interrupt);
}

Session::~Session()
{
    m_connection.close();
}

bool Session::wantsJson() const
{
    return m_parser.isSet(QStringLiteral("json"));
}

int Session::open()
{
    QString password;
    QString error;
    if (!m_settings.resolve(m_parser, error)
        || !readPassword(m_parser, m_settings, password, error))
        return reportError(UsageError, error);
    if (m_interrupts.isInterrupted())
        return Interrupted;
    // The server compares digests; the password itself never leaves this program.
    m_passwordDigest = QString::fromLatin1(
        QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
    if (!logIn())
        return reportFailure(tr("Cannot log in"));
    return Success;
}

VLK::JournalKey Session::journalKey(const QString &jobPath) const
{
    return { m_settings.host, m_settings.port, m_settings.userName, jobPath };
}

bool Session::logIn()
{
    return m_connection.connectToServer(m_settings.host, m_settings.port)
        && m_connection.login(m_settings.userName, m_passwordDigest);
}

int Session::fetchJobs(QList<VLK::JobInfo> &jobs)
{
    if (!m_connection.request(VLK::MT_JobStatus, VLK::MT_JobStatusReply))
        return reportFailure(tr("Cannot get the job list"));
    return decodeJobs(jobs);
}

int Session::fetchJobsStayingConnected(QList<VLK::JobInfo> &jobs, const QDeadlineTimer &deadline)
{
    while (!m_connection.request(VLK::MT_JobStatus, VLK::MT_JobStatusReply)) {
        if (!connectionBroke())
            return reportFailure(tr("Cannot get the job list"));
        if (const int code = reconnect(deadline))
            return code;
    }
    m_backoff.reset();
    return decodeJobs(jobs);
}

int Session::decodeJobs(QList<VLK::JobInfo> &jobs)
{
    if (!VLK::decodeJobList(m_connection.reply(), jobs))
        return reportError(ConnectionFailed,
                           tr("The server's job list cannot be read (mismatching versions of "
                              "server and client?)."));
    return Success;
}

// One line when the connection is lost and one when it is back, not one per try.
int Session::reconnect(const QDeadlineTimer &deadline)
{
    printMessage(tr("Connection lost: %1 Reconnecting...").arg(m_connection.errorText()));
    for (;;) {
        const int delayMs = m_backoff.nextDelayMs();
        if (!deadline.isForever() && deadline.remainingTime() < delayMs)
            return reportError(TimedOut, tr("Not reconnected within the time given."));
        if (!pause(delayMs / 1000.0))
            return reportError(Interrupted, tr("Interrupted while reconnecting."));
        if (logIn()) {
            printMessage(tr("Reconnected."));
            return Success;
        }
        if (!connectionBroke())
            return reportFailure(tr("Cannot log in"));
    }
}

// Worth trying again: the server could not be reached or stopped answering.
// A refused login or request is not.
bool Session::connectionBroke() const
{
    return m_connection.failure() == VLK::ServerConnection::Failure::Connection
        || m_connection.failure() == VLK::ServerConnection::Failure::Timeout;
}

int Session::reportFailure(const QString &doing, const QString &refusalHint)
{
    const int code = exitCodeFor(m_connection.failure());
    if (code == Interrupted)
        return reportError(code, tr("Interrupted; the connection was closed."));
    QString message = doing + QStringLiteral(": ") + m_connection.errorText();
    if (code == RequestRefused && !refusalHint.isEmpty())
        message += QLatin1Char(' ') + refusalHint;
    return reportError(code, message);
}

bool Session::pause(double seconds)
{
    if (m_interrupts.isInterrupted())
        return false;
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    QObject::connect(&m_interrupts, &InterruptWatcher::interrupted, &loop, &QEventLoop::quit);
    loop.exec();
    return !m_interrupts.isInterrupted();
}

void Session::printText(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void Session::printJson(const QJsonValue &value)
{
    const QJsonDocument document
        = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    std::fputs(document.toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

int Session::reportError(int exitCode, const QString &message)
{
    printMessage(message);
    return exitCode;
}

void Session::printMessage(const QString &message)
{
    std::fprintf(stderr, "calvaro: %s\n", message.toLocal8Bit().constData());
}

} // namespace Cli
