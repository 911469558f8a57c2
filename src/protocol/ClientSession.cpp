#include "protocol/ClientSession.h"

#include "protocol/Protocol.h"
#include "protocol/SocketErrors.h"

#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

namespace VLK {

namespace {
// The socket's own buffer takes everything pending at each notification
// before the bytes are copied on; unbounded, that is several megabytes more
// during a large download. One megabyte keeps the extra memory small and
// costs no speed.
constexpr qint64 SocketReadBufferBytes = qint64(1024) * 1024;
// The eight bytes of a size field that arrived as text, as they read; line
// breaks and tabs as spaces.
QString sizeFieldAsText(qint64 size)
{
    char bytes[8];
    qToBigEndian(size, bytes);
    QString text = QString::fromLatin1(bytes, int(sizeof bytes));
    for (QChar &character : text) {
        if (character < QLatin1Char(' '))
            character = QLatin1Char(' ');
    }
    return text;
}

} // namespace

ClientSession::ClientSession(QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
    , m_connectTimer(new QTimer(this))
    , m_replyTimer(new QTimer(this))
{
    qRegisterMetaType<VLK::ClientSession::Failure>();
    m_socket->setReadBufferSize(SocketReadBufferBytes);
    connectSocketErrors(m_socket, this, &ClientSession::onSocketError);
    // Queued, so that replies are read from the event loop itself: a socket
    // does not report new data while a slot of its readyRead is still on the
    // stack, so a receiver that opened a box from there would hold back
    // every later reply until the box is closed, while their timers run.
    connect(m_socket, &QIODevice::readyRead, this, &ClientSession::onReadyRead,
            Qt::QueuedConnection);
    connect(m_socket, &QAbstractSocket::connected, this, &ClientSession::onSocketConnected);
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, &ClientSession::onConnectTimeout);
    m_replyTimer->setSingleShot(true);
    connect(m_replyTimer, &QTimer::timeout, this, &ClientSession::onReplyTimeout);
}

ClientSession::~ClientSession() = default;

bool ClientSession::isConnected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

QString ClientSession::serverName() const
{
    return tr("%1, port %2").arg(m_host).arg(m_port);
}

void ClientSession::connectToServer(const QString &host, quint16 port)
{
    m_host = host;
    m_port = port;
    m_sink.clear();
    m_watchingStalls = false;
    m_connectTimer->start(ConnectTimeoutMs);
    m_socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    m_incoming.reset();
    m_replyTimer->start(ReplyTimeoutMs);
}

void ClientSession::awaitReply(bool noTimeout)
{
    m_incoming.reset();
    m_incoming.setStreamedType(m_sink ? MT_DownloadJobReply : 0);
    m_replyTimer->stop();
    m_watchingStalls = noTimeout;
    m_replyTimer->start(noTimeout ? m_downloadStallTimeoutMs : ReplyTimeoutMs);
}

void ClientSession::streamNextDownloadTo(QIODevice *sink)
{
    m_sink = sink;
}

void ClientSession::cancelTransfer()
{
    fail(FailureKind::Cancelled, tr("The transfer from %1 was cancelled.").arg(serverName()));
}

void ClientSession::disconnectFromServer()
{
    stopTimers();
    m_sink.clear();
    m_socket->disconnectFromHost();
}

void ClientSession::setLimitsForTesting(qint64 inMemoryLimit, int downloadStallTimeoutMs)
{
    m_incoming.setSizeLimit(inMemoryLimit);
    m_downloadStallTimeoutMs = downloadStallTimeoutMs;
}

void ClientSession::onReadyRead()
{
    // An earlier notification may already have taken these bytes in, and a
    // closed connection has nothing more to frame.
    if (m_socket->bytesAvailable() == 0 || !isConnected())
        return;
    if (!m_incoming.isReceiving() && !acceptHeader())
        return;
    if (m_incoming.bytesReceived() < m_incoming.messageSize() && !readPayload())
        return;
    emit messageData(m_incoming.bytesReceived());
    if (m_incoming.isComplete())
        finishMessage();
}

// A header that cannot start a valid message ends the connection: nothing
// after it can be framed again.
bool ClientSession::acceptHeader()
{
    const qint64 available = m_socket->bytesAvailable();
    switch (m_incoming.readHeader(*m_socket)) {
    case MessageReassembler::HeaderResult::Incomplete:
        emit headerIncomplete(available);
        return false;
    case MessageReassembler::HeaderResult::TooLarge:
        fail(FailureKind::MessageTooLarge,
             tr("The server %1 announced a reply of %2 bytes, more than the 1 GiB a reply may "
                "have; the connection was closed.")
                 .arg(serverName())
                 .arg(quint64(m_incoming.announcedSize())),
             m_incoming.announcedSize());
        return false;
    case MessageReassembler::HeaderResult::TooSmall:
        fail(FailureKind::MessageTooSmall,
             tr("The server %1 announced a reply of %2 bytes, less than its own header; the "
                "connection was closed.")
                 .arg(serverName())
                 .arg(m_incoming.announcedSize()),
             m_incoming.announcedSize());
        return false;
    case MessageReassembler::HeaderResult::NotAHeader:
        fail(FailureKind::NotASolverServer,
             tr("The server %1 does not seem to be a solver server: its reply begins with the "
                "text \"%2\" where a solver server announces the size of its reply (read as "
                "one, %3 bytes). Is it the right host and port? The connection was closed.")
                 .arg(serverName(), sizeFieldAsText(m_incoming.announcedSize()))
                 .arg(m_incoming.announcedSize()),
             m_incoming.announcedSize());
        return false;
    case MessageReassembler::HeaderResult::Accepted:
        break;
    }
    emit messageStarted(m_incoming.messageType(), m_incoming.messageSize());
    return true;
}

bool ClientSession::readPayload()
{
    bool inStep = true;
    if (m_sink && m_incoming.messageType() == MT_DownloadJobReply) {
        switch (m_incoming.streamBlock(*m_socket, *m_sink)) {
        case MessageReassembler::StreamResult::Stored:
            break;
        case MessageReassembler::StreamResult::Surplus:
            inStep = false;
            break;
        case MessageReassembler::StreamResult::SinkFailed:
            fail(FailureKind::ResultNotWritten,
                 tr("Cannot write the downloaded result: %1.").arg(m_sink->errorString()));
            return false;
        }
    } else {
        inStep = m_incoming.readBlock(*m_socket);
    }
    // A wait without a time-out is watched for stalls, not for its length.
    if (m_watchingStalls && m_replyTimer->isActive())
        m_replyTimer->start();
    if (!inStep) {
        qDebug("Bad request, message size mismatch.");
        fail(FailureKind::SizeMismatch,
             tr("The server %1 sent more data than its reply announced; the connection was "
                "closed.")
                 .arg(serverName()));
    }
    return inStep;
}

void ClientSession::finishMessage()
{
    m_incoming.finishMessage();
    m_replyTimer->stop();
    m_sink.clear();
    m_incoming.setStreamedType(0);
    emit messageCompleted(m_incoming.messageType());
}

void ClientSession::onSocketConnected()
{
    stopTimers();
    emit connected();
}

void ClientSession::onSocketError(QAbstractSocket::SocketError socketError)
{
    if (m_failing)
        return;
    const QString text = socketErrorText(socketError);
    m_failing = true;
    stopTimers();
    m_sink.clear();
    Failure failure;
    switch (socketError) {
    case QAbstractSocket::ConnectionRefusedError:
        failure.kind = FailureKind::ConnectionRefused;
        break;
    case QAbstractSocket::RemoteHostClosedError:
        failure.kind = FailureKind::RemoteHostClosed;
        break;
    case QAbstractSocket::HostNotFoundError:
        failure.kind = FailureKind::HostNotFound;
        break;
    default:
        failure.kind = FailureKind::SocketError;
        break;
    }
    failure.text = text;
    failure.socketError = socketError;
    m_failing = false;
    emit failed(failure);
}

void ClientSession::onConnectTimeout()
{
    fail(FailureKind::ConnectTimeout,
         tr("No connection to %1 within %2 seconds. Check the server name and port, and that "
            "the server is running.")
             .arg(serverName())
             .arg(ConnectTimeoutMs / 1000));
}

void ClientSession::onReplyTimeout()
{
    if (m_watchingStalls)
        fail(FailureKind::DownloadStalled,
             tr("The server %1 sent nothing of the result for %2 seconds; the download was "
                "ended and the connection closed.")
                 .arg(serverName())
                 .arg(m_downloadStallTimeoutMs / 1000.0));
    else
        fail(FailureKind::ReplyTimeout,
             tr("The server %1 sent no reply for %2 seconds; the connection was closed.")
                 .arg(serverName())
                 .arg(ReplyTimeoutMs / 1000));
}

void ClientSession::stopTimers()
{
    m_connectTimer->stop();
    m_replyTimer->stop();
}

// The connection is closed before anyone hears of the failure, so that
// nothing can be sent on it meanwhile; the errors that the closing itself
// raises are not reported again.
void ClientSession::fail(FailureKind kind, const QString &text, qint64 announcedSize)
{
    stopTimers();
    m_sink.clear();
    m_incoming.setStreamedType(0);
    m_failing = true;
    m_socket->abort();
    m_failing = false;
    Failure failure;
    failure.kind = kind;
    failure.text = text;
    failure.announcedSize = announcedSize;
    emit failed(failure);
}

QString ClientSession::socketErrorText(QAbstractSocket::SocketError socketError) const
{
    switch (socketError) {
    case QAbstractSocket::ConnectionRefusedError:
        return tr("The server %1 refused the connection. Make sure the server is running and "
                  "the port is right.")
            .arg(serverName());
    case QAbstractSocket::RemoteHostClosedError:
        return tr("The server %1 closed the connection.").arg(serverName());
    case QAbstractSocket::HostNotFoundError:
        return tr("The host '%1' was not found. Check the server name.").arg(m_host);
    default:
        return tr("The connection to %1 failed: %2.").arg(serverName(), m_socket->errorString());
    }
}

} // namespace VLK
