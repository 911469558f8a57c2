#include "protocol/ServerConnection.h"

#include "protocol/CalvaroClientCommands.h"

#include <QCoreApplication>
#include <QFile>
#include <QTcpSocket>

namespace VLK {

namespace {

constexpr int DisconnectWaitMs = 1000;

// Keeps events flowing during an upload, so that an interrupt (and the
// caller's own progress display) is seen after every block.
class UploadPump : public CalvaroClientCommands::ProgressNotification
{
public:
    explicit UploadPump(CalvaroClientCommands::ProgressNotification *forwardTo)
        : m_forwardTo(forwardTo)
    { }

    void notify(qint64 bytesSent, qint64 totalBytes) override
    {
        if (m_forwardTo)
            m_forwardTo->notify(bytesSent, totalBytes);
        QCoreApplication::processEvents();
    }

private:
    CalvaroClientCommands::ProgressNotification *m_forwardTo;
};

ServerConnection::Failure failureFor(ClientSession::FailureKind kind)
{
    using Kind = ClientSession::FailureKind;
    switch (kind) {
    case Kind::ConnectionRefused:
    case Kind::RemoteHostClosed:
    case Kind::HostNotFound:
    case Kind::SocketError:
        break;
    case Kind::ConnectTimeout:
    case Kind::ReplyTimeout:
    case Kind::DownloadStalled:
        return ServerConnection::Failure::Timeout;
    case Kind::MessageTooLarge:
    case Kind::MessageTooSmall:
    case Kind::NotASolverServer:
    case Kind::SizeMismatch:
        return ServerConnection::Failure::Protocol;
    case Kind::ResultNotWritten:
        return ServerConnection::Failure::LocalFile;
    case Kind::Cancelled:
        return ServerConnection::Failure::Interrupted;
    }
    return ServerConnection::Failure::Connection;
}

} // namespace

ServerConnection::ServerConnection(QObject *parent)
    : QObject(parent)
{
    connect(&m_session, &ClientSession::connected, this, [this] { m_done = true; });
    connect(&m_session, &ClientSession::messageCompleted, this, [this] { m_done = true; });
    connect(&m_session, &ClientSession::messageData, this,
            [this](qint64 bytesSoFar) { emit replyProgress(bytesSoFar, m_session.messageSize()); });
    connect(&m_session, &ClientSession::failed, this, &ServerConnection::onSessionFailed);
}

ServerConnection::~ServerConnection() = default;

bool ServerConnection::connectToServer(const QString &host, quint16 port)
{
    // The interrupt has recorded itself already.
    if (m_interrupted)
        return false;
    m_failure = Failure::None;
    m_errorText.clear();
    m_done = false;
    m_session.connectToServer(host, port);
    return waitUntilDone();
}

bool ServerConnection::login(const QString &userName, const QString &passwordDigest)
{
    if (!begin())
        return false;
    if (awaitReply(CalvaroClientCommands::sendLogin(m_session.socket(), userName, passwordDigest),
                   MT_LoginOk))
        return true;
    if (m_failure != Failure::Refused)
        return false;
    return fail(Failure::Login,
                tr("The server %1 did not accept user '%2' with this password. Check the user "
                   "name and the password.")
                    .arg(m_session.serverName(), userName));
}

bool ServerConnection::request(int messageType, int expectedReply)
{
    return begin()
        && awaitReply(CalvaroClientCommands::sendCommand(m_session.socket(), messageType),
                      expectedReply);
}

bool ServerConnection::request(int messageType, const QString &text, int expectedReply)
{
    return begin()
        && awaitReply(
               CalvaroClientCommands::sendStringCommand(m_session.socket(), messageType, text),
               expectedReply);
}

bool ServerConnection::submitJob(const QString &archivePath, const JobHeader &job,
                                 CalvaroClientCommands::ProgressNotification *notification)
{
    if (!begin())
        return false;
    QFile archive(archivePath);
    if (!archive.open(QIODevice::ReadOnly))
        return fail(
            Failure::LocalFile,
            tr("Cannot read the archive '%1': %2.").arg(archivePath, archive.errorString()));
    archive.close();

    UploadPump pump(notification);
    const bool sent = CalvaroClientCommands::sendJob(m_session.socket(), archivePath, job.slowQueue,
                                                     job.projectFile, job.commandLine, job.solverId,
                                                     &m_abortUpload, &pump);
    return awaitReply(sent, MT_SubmitJobOk);
}

bool ServerConnection::download(const QString &jobPath, QIODevice &sink)
{
    if (!begin())
        return false;
    m_session.streamNextDownloadTo(&sink);
    return awaitReply(
        CalvaroClientCommands::sendStringCommand(m_session.socket(), MT_DownloadJob, jobPath),
        MT_DownloadJobReply, true);
}

void ServerConnection::interrupt()
{
    m_interrupted = true;
    m_abortUpload = true;
    m_session.cancelTransfer();
}

void ServerConnection::close()
{
    m_session.disconnectFromServer();
    QTcpSocket *socket = m_session.socket();
    if (socket->state() != QAbstractSocket::UnconnectedState
        && !socket->waitForDisconnected(DisconnectWaitMs))
        socket->abort();
}

// An error reply leaves the connection usable; every other failure has
// closed it, and the calls after it fail at once.
bool ServerConnection::begin()
{
    if (m_failure == Failure::Refused) {
        m_failure = Failure::None;
        m_errorText.clear();
    }
    m_done = false;
    return m_failure == Failure::None;
}

// A reply that completed while the request was still being sent (an upload
// pumps events) is taken as it is, not awaited again.
bool ServerConnection::awaitReply(bool sent, int expectedReply, bool noTimeout)
{
    if (!sent)
        return fail(Failure::Connection,
                    tr("Cannot send the request to %1: %2")
                        .arg(m_session.serverName(), CalvaroClientCommands::lastErrorMessage));
    if (!m_done)
        m_session.awaitReply(noTimeout);
    return waitUntilDone() && acceptReply(expectedReply);
}

bool ServerConnection::waitUntilDone()
{
    while (!m_done && m_failure == Failure::None)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return m_failure == Failure::None;
}

bool ServerConnection::acceptReply(int expectedReply)
{
    const int type = m_session.messageType();
    if (type == MT_CommandError1 || type == MT_CommandError2)
        return fail(
            Failure::Refused,
            tr("The server %1 refused the request; its log says why.").arg(m_session.serverName()));
    if (type != expectedReply)
        return fail(Failure::Protocol,
                    tr("The server %1 sent a reply of type %2 where %3 was expected (mismatching "
                       "versions of server and client?); the connection was closed.")
                        .arg(m_session.serverName())
                        .arg(type)
                        .arg(expectedReply));
    return true;
}

void ServerConnection::onSessionFailed(const ClientSession::Failure &failure)
{
    record(failureFor(failure.kind), failure.text);
}

// The first failure that closed the connection is the one reported: what
// follows from the closing says nothing new. An error reply closed nothing,
// so a later failure replaces it.
void ServerConnection::record(Failure failure, const QString &text)
{
    if (m_failure != Failure::None && m_failure != Failure::Refused)
        return;
    m_failure = failure;
    m_errorText = text;
}

bool ServerConnection::fail(Failure failure, const QString &text)
{
    record(failure, text);
    if (failure != Failure::Refused)
        m_session.disconnectFromServer();
    return false;
}

} // namespace VLK
