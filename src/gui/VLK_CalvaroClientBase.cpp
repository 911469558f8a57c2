#include "gui/VLK_CalvaroClientBase.h"

#include "protocol/VLK_CalvaroClientCommands.h"
#include "protocol/VLK_Protocol.h"
#include "protocol/VLK_SocketErrors.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>
#include <QTcpSocket>
#include <QTimer>

namespace VLK {

namespace {
constexpr int ConnectionTimeoutMs = 5000;
constexpr int ServerReplyTimeoutMs = 10000;
// The socket's own buffer takes everything pending at each notification before
// the bytes are copied into the message buffer; unbounded, that is several
// megabytes more during a large download. One megabyte keeps the extra memory
// small and costs no speed.
constexpr qint64 SocketReadBufferBytes = qint64(1024) * 1024;
} // namespace

CalvaroClientBase::CalvaroClientBase(QWidget *parent)
    : QWidget(parent)
    , m_tcpSocket(new QTcpSocket(this))
    , m_serverReplyTimer(new QTimer(this))
    , m_messageBuffer(m_incoming.buffer())
    , m_socketTimer(new QTimer(this))
{
    connectSocketErrors(m_tcpSocket, this, &CalvaroClientBase::onSocketError);
    m_tcpSocket->setReadBufferSize(SocketReadBufferBytes);
    connect(m_tcpSocket, &QIODevice::readyRead, this, &CalvaroClientBase::onReadyRead);
    connect(m_tcpSocket, &QAbstractSocket::connected, this, &CalvaroClientBase::onSocketConnected);

    m_serverReplyTimer->setSingleShot(true);
    connect(m_serverReplyTimer, &QTimer::timeout, this, &CalvaroClientBase::onServerReplyTimeout);
    m_socketTimer->setSingleShot(true);
    connect(m_socketTimer, &QTimer::timeout, this, &CalvaroClientBase::onSocketTimeout);
}

CalvaroClientBase::~CalvaroClientBase() = default;

bool CalvaroClientBase::isConnected() const
{
    return m_tcpSocket->state() == QAbstractSocket::ConnectedState;
}

bool CalvaroClientBase::requireConnection(QWidget *boxParent, const char *translationContext) const
{
    if (isConnected())
        return true;
    QMessageBox::critical(
        boxParent, QCoreApplication::translate(translationContext, "Not connected"),
        QCoreApplication::translate(translationContext, "Login and connection required."));
    return false;
}

void CalvaroClientBase::connectToServer(const QString &host, quint16 port)
{
    m_socketTimer->start(ConnectionTimeoutMs);
    m_tcpSocket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    m_incoming.reset();
    emit connectionStateChanged(false);
    m_serverReplyTimer->stop();
    m_serverReplyTimer->start(ServerReplyTimeoutMs);
}

void CalvaroClientBase::awaitReply(bool noTimeout)
{
    m_incoming.reset();
    emit connectionStateChanged(false);
    m_serverReplyTimer->stop();
    if (!noTimeout)
        m_serverReplyTimer->start(ServerReplyTimeoutMs);
}

void CalvaroClientBase::onReadyRead()
{
    Q_ASSERT_X(sender() == m_tcpSocket, "src/VLK_CalvaroClientBase", "socket == m_tcpSocket");

    if (!m_incoming.isReceiving() && !acceptHeader())
        return;

    if (m_incoming.bytesReceived() < m_incoming.messageSize() && !readBlock())
        return;

    emit progress(int(m_incoming.bytesReceived()), true);

    if (m_incoming.isComplete()) {
        m_incoming.finishMessage();
        processMessage();
    }
}

// Reads the header of a new message. A header that cannot be the start of a
// valid message ends the connection: nothing after it can be framed again.
bool CalvaroClientBase::acceptHeader()
{
    const qint64 available = m_tcpSocket->bytesAvailable();
    switch (m_incoming.readHeader(*m_tcpSocket)) {
    case MessageReassembler::HeaderResult::Incomplete:
        QMessageBox::critical(this, tr("Receiving message"),
                              tr("Minimum message size of %1 Bytes expected, only got %2 Bytes.")
                                  .arg(MessageHeaderSize)
                                  .arg(available));
        return false;
    case MessageReassembler::HeaderResult::TooLarge:
        refuseMessage(tr("Cannot download message, limit for 32bit applications is 1GByte."));
        return false;
    case MessageReassembler::HeaderResult::TooSmall:
        refuseMessage(tr("Invalid message size of %1 Bytes received, at least %2 Bytes expected.")
                          .arg(m_incoming.announcedSize())
                          .arg(MessageHeaderSize));
        return false;
    case MessageReassembler::HeaderResult::Accepted:
        emit newMessageReceived(m_incoming.messageType(), m_incoming.messageSize());
        return true;
    }
    return false;
}

// The connection is closed at once, so nothing of the refused message is
// dispatched.
void CalvaroClientBase::refuseMessage(const QString &text)
{
    m_tcpSocket->abort();
    reportBrokenStream(text);
}

// Once the stream is out of step, nothing more can be framed: the user learns
// why the connection ended, and no reply timer is left to report a time-out
// for a connection that is already gone.
void CalvaroClientBase::reportBrokenStream(const QString &text)
{
    m_serverReplyTimer->stop();
    QMessageBox::critical(this, tr("Message error"), text);
    emit progress(0, false);
    emit addStatusMessage(tr("Not connected"));
    emit connectionStateChanged(false);
}

bool CalvaroClientBase::readBlock()
{
    if (m_incoming.readBlock(*m_tcpSocket))
        return true;
    qDebug("Bad request, message size mismatch.");
    m_tcpSocket->disconnectFromHost();
    reportBrokenStream(
        tr("The server sent more data than its reply announced; the connection was closed."));
    return false;
}

void CalvaroClientBase::processMessage()
{
    emit progress(0, false);
    emit connectionStateChanged(true);
    m_serverReplyTimer->stop();
    const bool answersLogin = m_loginPending;
    m_loginPending = false;

    const int messageType = m_incoming.messageType();
    switch (messageType) {
    case MT_LoginOk:
        emit addStatusMessage(tr("Login successful"));
        emit msgReceived(MT_LoginOk);
        emit addStatusMessage(tr("Requesting solver list..."));
        QCoreApplication::processEvents();
        m_solvers.clear();
        if (CalvaroClientCommands::sendCommand(m_tcpSocket, MT_SolverList))
            awaitReply(false);
        break;
    case MT_LogoutOk:
        emit addStatusMessage(tr("Logged out"));
        emit msgReceived(MT_LogoutOk);
        emit connectionStateChanged(false);
        // A server may not take a second login on the connection it logged
        // out, while a new connection is how every session begins; so the
        // next Login starts afresh. Nothing is left to send or receive here.
        m_tcpSocket->disconnectFromHost();
        break;
    case MT_JobStatusReply:
    case MT_SubmitJobOk:
    case MT_DownloadJobReply:
    case MT_KillJobOk:
    case MT_RemoveJobOk:
    case MT_SolverListReply:
        emit msgReceived(messageType);
        break;
    case MT_CommandError1:
    case MT_CommandError2:
        if (answersLogin)
            refuseLogin();
        QMessageBox::critical(this, tr("Command failed"),
                              tr("Error processing command, see server log."));
        break;
    default:
        break;
    }
}

// The connection the server would not log in on is closed before the box
// opens, so that the window offers Login again and nothing can be sent on it
// meanwhile: the user corrects the password and logs in on a new one.
void CalvaroClientBase::refuseLogin()
{
    m_tcpSocket->disconnectFromHost();
    emit addStatusMessage(tr("Login refused"));
    emit connectionStateChanged(false);
}

void CalvaroClientBase::onSocketConnected()
{
    m_socketTimer->stop();
    m_serverReplyTimer->stop();
    m_loginPending = true;
    emit connectionEstablished();
}

void CalvaroClientBase::onSocketError(QAbstractSocket::SocketError socketError)
{
    m_socketTimer->stop();
    m_serverReplyTimer->stop();

    QString text;
    switch (socketError) {
    case QAbstractSocket::ConnectionRefusedError:
        text = tr("The connection was refused by the peer. Make sure the server is running.");
        break;
    case QAbstractSocket::RemoteHostClosedError:
        text = tr("Remote host closed the connection.");
        break;
    case QAbstractSocket::HostNotFoundError:
        text = tr("The host was not found.");
        break;
    default:
        text = tr("The following error occurred: %1.").arg(m_tcpSocket->errorString());
        break;
    }
    // Reported before the box: its event loop delivers timer ticks, and a
    // refresh sent meanwhile on the failed connection would arm the reply
    // timer for a reply that can never come.
    emit connectionStateChanged(false);
    QMessageBox::information(this, tr("Client"), text);

    emit addStatusMessage(tr("Not connected"));
}

void CalvaroClientBase::onSocketTimeout()
{
    m_tcpSocket->abort();
    m_socketTimer->stop();
    m_serverReplyTimer->stop();
    QMessageBox::critical(this, tr("Connection time out"), tr("Timeout on server connection."));
    emit connectionStateChanged(false);
}

void CalvaroClientBase::onServerReplyTimeout()
{
    QMessageBox::critical(this, tr("Server timeout"), tr("Server timed out."));
    emit addStatusMessage(tr("Server timeout"));
    m_tcpSocket->disconnectFromHost();
    emit connectionStateChanged(false);
}

} // namespace VLK
