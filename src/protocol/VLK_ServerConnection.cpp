#include "protocol/VLK_ServerConnection.h"

#include "protocol/VLK_CalvaroClientCommands.h"
#include "protocol/VLK_SocketErrors.h"

#include <QCoreApplication>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>

namespace VLK {

namespace {

// The socket's own buffer is capped so that a large download passes through
// in bounded memory on its way to the sink.
constexpr qint64 SocketReadBufferBytes = qint64(1024) * 1024;
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

} // namespace

ServerConnection::ServerConnection(QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
    , m_timer(new QTimer(this))
{
    connectSocketErrors(m_socket, this, &ServerConnection::onSocketError);
    m_socket->setReadBufferSize(SocketReadBufferBytes);
    connect(m_socket, &QIODevice::readyRead, this, &ServerConnection::onReadyRead);
    connect(m_socket, &QAbstractSocket::connected, this, &ServerConnection::onConnected);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &ServerConnection::onTimeout);
}

ServerConnection::~ServerConnection() = default;

bool ServerConnection::connectToServer(const QString &host, quint16 port)
{
    m_socket->abort();
    m_host = host;
    m_port = port;
    m_failure = Failure::None;
    m_errorText.clear();
    if (m_interrupted)
        return fail(Failure::Interrupted, tr("Interrupted."));
    m_incoming.reset();
    m_waiting = true;
    m_timer->start(ConnectTimeoutMs);
    m_socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    return awaitCompletion();
}

bool ServerConnection::login(const QString &userName, const QString &passwordDigest)
{
    if (!begin())
        return false;
    if (sendAndAwait(CalvaroClientCommands::sendLogin(m_socket, userName, passwordDigest),
                     MT_LoginOk))
        return true;
    if (m_failure != Failure::Refused)
        return false;
    m_failure = Failure::None;
    m_socket->abort();
    return fail(Failure::Login,
                tr("The server %1 did not accept user '%2' with this password. Check the user "
                   "name and the password.")
                    .arg(serverName(), userName));
}

bool ServerConnection::request(int messageType, int expectedReply)
{
    return begin()
        && sendAndAwait(CalvaroClientCommands::sendCommand(m_socket, messageType), expectedReply);
}

bool ServerConnection::request(int messageType, const QString &text, int expectedReply)
{
    return begin()
        && sendAndAwait(CalvaroClientCommands::sendStringCommand(m_socket, messageType, text),
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
    const bool sent
        = CalvaroClientCommands::sendJob(m_socket, archivePath, job.slowQueue, job.projectFile,
                                         job.commandLine, job.solverId, &m_abortUpload, &pump);
    return sendAndAwait(sent, MT_SubmitJobOk);
}

bool ServerConnection::download(const QString &jobPath, QIODevice &sink)
{
    if (!begin())
        return false;
    m_restartTimerOnData = true;
    const bool received
        = sendAndAwait(CalvaroClientCommands::sendStringCommand(m_socket, MT_DownloadJob, jobPath),
                       MT_DownloadJobReply, &sink);
    m_restartTimerOnData = false;
    return received;
}

void ServerConnection::interrupt()
{
    m_interrupted = true;
    m_abortUpload = true;
    fail(Failure::Interrupted, tr("Interrupted."));
}

void ServerConnection::close()
{
    m_timer->stop();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        return;
    m_socket->disconnectFromHost();
    if (m_socket->state() != QAbstractSocket::UnconnectedState
        && !m_socket->waitForDisconnected(DisconnectWaitMs))
        m_socket->abort();
}

// An error reply leaves the connection usable; every other failure has
// closed it, and the calls after it fail at once.
bool ServerConnection::begin()
{
    if (m_failure == Failure::Refused) {
        m_failure = Failure::None;
        m_errorText.clear();
    }
    return m_failure == Failure::None;
}

bool ServerConnection::sendAndAwait(bool sent, int expectedReply, QIODevice *sink)
{
    if (!sent)
        return fail(Failure::Connection,
                    tr("Cannot send the request to %1: %2")
                        .arg(serverName(), CalvaroClientCommands::lastErrorMessage));
    m_incoming.reset();
    m_expectedReply = expectedReply;
    m_sink = sink;
    // A streamed result never sits in memory: the in-memory limit is not for it.
    m_incoming.setStreamedType(sink ? MT_DownloadJobReply : 0);
    m_streaming = false;
    m_waiting = true;
    m_timer->start(ReplyTimeoutMs);
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
    const bool complete = awaitCompletion();
    m_sink = nullptr;
    return complete;
}

bool ServerConnection::awaitCompletion()
{
    while (m_waiting)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return m_failure == Failure::None;
}

void ServerConnection::onReadyRead()
{
    if (!m_waiting || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    while (m_waiting && m_socket->bytesAvailable() > 0) {
        if (!m_incoming.isReceiving() && !acceptHeader())
            return;
        if (!readPayload())
            return;
        if (m_incoming.isComplete())
            finishReply();
    }
}

bool ServerConnection::acceptHeader()
{
    switch (m_incoming.readHeader(*m_socket)) {
    case MessageReassembler::HeaderResult::Incomplete:
        return false;
    case MessageReassembler::HeaderResult::TooLarge:
        return fail(Failure::Protocol,
                    tr("The server %1 announced a reply of %2 bytes, more than the 1 GiB a reply "
                       "may have; the connection was closed.")
                        .arg(serverName())
                        .arg(quint64(m_incoming.announcedSize())));
    case MessageReassembler::HeaderResult::TooSmall:
        return fail(Failure::Protocol,
                    tr("The server %1 announced a reply of %2 bytes, less than its own header; "
                       "the connection was closed.")
                        .arg(serverName())
                        .arg(m_incoming.announcedSize()));
    case MessageReassembler::HeaderResult::Accepted:
        break;
    }
    m_streaming = m_sink && m_incoming.messageType() == MT_DownloadJobReply;
    emit replyProgress(m_incoming.bytesReceived(), m_incoming.messageSize());
    return true;
}

bool ServerConnection::readPayload()
{
    bool inStep = true;
    if (m_streaming) {
        switch (m_incoming.streamBlock(*m_socket, *m_sink)) {
        case MessageReassembler::StreamResult::Stored:
            break;
        case MessageReassembler::StreamResult::Surplus:
            inStep = false;
            break;
        case MessageReassembler::StreamResult::SinkFailed:
            return fail(Failure::LocalFile,
                        tr("Cannot write the downloaded result: %1.").arg(m_sink->errorString()));
        }
    } else {
        inStep = m_incoming.readBlock(*m_socket);
    }
    if (!inStep)
        return fail(Failure::Protocol,
                    tr("The server %1 sent more data than its reply announced; the connection "
                       "was closed.")
                        .arg(serverName()));
    if (m_restartTimerOnData)
        m_timer->start(ReplyTimeoutMs);
    emit replyProgress(m_incoming.bytesReceived(), m_incoming.messageSize());
    return true;
}

void ServerConnection::finishReply()
{
    m_incoming.finishMessage();
    m_timer->stop();
    m_waiting = false;
    const int type = m_incoming.messageType();
    if (type == MT_CommandError1 || type == MT_CommandError2) {
        fail(Failure::Refused,
             tr("The server %1 refused the request; its log says why.").arg(serverName()));
        return;
    }
    if (type != m_expectedReply)
        fail(Failure::Protocol,
             tr("The server %1 sent a reply of type %2 where %3 was expected (mismatching "
                "versions of server and client?); the connection was closed.")
                 .arg(serverName())
                 .arg(type)
                 .arg(m_expectedReply));
}

void ServerConnection::onConnected()
{
    m_timer->stop();
    m_waiting = false;
}

void ServerConnection::onSocketError(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::ConnectionRefusedError:
        fail(Failure::Connection,
             tr("The server %1 refused the connection. Make sure the server is running and the "
                "port is right.")
                 .arg(serverName()));
        break;
    case QAbstractSocket::RemoteHostClosedError:
        fail(Failure::Connection, tr("The server %1 closed the connection.").arg(serverName()));
        break;
    case QAbstractSocket::HostNotFoundError:
        fail(Failure::Connection,
             tr("The host '%1' was not found. Check the server name.").arg(m_host));
        break;
    default:
        fail(Failure::Connection,
             tr("The connection to %1 failed: %2.").arg(serverName(), m_socket->errorString()));
        break;
    }
}

void ServerConnection::onTimeout()
{
    const int seconds = m_socket->state() == QAbstractSocket::ConnectedState
        ? ReplyTimeoutMs / 1000
        : ConnectTimeoutMs / 1000;
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        fail(Failure::Timeout,
             tr("No connection to %1 within %2 seconds. Check the server name and port, and "
                "that the server is running.")
                 .arg(serverName())
                 .arg(seconds));
    else
        fail(Failure::Timeout,
             tr("The server %1 sent nothing for %2 seconds; the connection was closed.")
                 .arg(serverName())
                 .arg(seconds));
}

// The first failure is the one reported: the socket errors that follow
// from closing the connection say nothing new.
bool ServerConnection::fail(Failure failure, const QString &text)
{
    if (m_failure == Failure::None) {
        m_failure = failure;
        m_errorText = text;
    }
    m_waiting = false;
    m_timer->stop();
    if (failure != Failure::Refused)
        m_socket->abort();
    return false;
}

QString ServerConnection::serverName() const
{
    return tr("%1, port %2").arg(m_host).arg(m_port);
}

} // namespace VLK
