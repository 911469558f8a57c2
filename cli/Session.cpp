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
    if (!m_settings.resolve(m_parser, error) || !readPassword(m_parser, password, error))
        return reportError(UsageError, error);
    if (m_interrupts.isInterrupted())
        return Interrupted;
    // The server compares digests; the password itself never leaves this program.
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
    if (!m_connection.connectToServer(m_settings.host, m_settings.port)
        || !m_connection.login(m_settings.userName, digest))
        return reportFailure(tr("Cannot log in"));
    return Success;
}

VLK::JournalKey Session::journalKey(const QString &jobPath) const
{
    return { m_settings.host, m_settings.port, m_settings.userName, jobPath };
}

int Session::fetchJobs(QList<VLK::JobInfo> &jobs)
{
    if (!m_connection.request(VLK::MT_JobStatus, VLK::MT_JobStatusReply))
        return reportFailure(tr("Cannot get the job list"));
    if (!VLK::decodeJobList(m_connection.reply(), jobs))
        return reportError(ConnectionFailed,
                           tr("The server's job list cannot be read (mismatching versions of "
                              "server and client?)."));
    return Success;
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
    std::fprintf(stderr, "calvaro: %s\n", message.toLocal8Bit().constData());
    return exitCode;
}

} // namespace Cli
