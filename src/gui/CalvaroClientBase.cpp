#include "gui/CalvaroClientBase.h"

#include "protocol/CalvaroClientCommands.h"
#include "protocol/Protocol.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>
#include <QTcpSocket>

namespace VLK {

CalvaroClientBase::CalvaroClientBase(QWidget *parent)
    : QWidget(parent)
    , m_session(new ClientSession(this))
    , m_tcpSocket(m_session->socket())
    , m_messageBuffer(m_session->messageBuffer())
{
    connect(m_session, &ClientSession::connected, this, &CalvaroClientBase::onSocketConnected);
    connect(m_session, &ClientSession::messageStarted, this, &CalvaroClientBase::onMessageStarted);
    connect(m_session, &ClientSession::messageData, this, &CalvaroClientBase::onReadyRead);
    connect(m_session, &ClientSession::messageCompleted, this, &CalvaroClientBase::processMessage);
    connect(m_session, &ClientSession::headerIncomplete, this,
            &CalvaroClientBase::onHeaderIncomplete);
    connect(m_session, &ClientSession::failed, this, &CalvaroClientBase::onSessionFailed);
}

CalvaroClientBase::~CalvaroClientBase() = default;

bool CalvaroClientBase::isConnected() const
{
    return m_session->isConnected();
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

void CalvaroClientBase::streamNextDownloadTo(QIODevice *sink)
{
    m_session->streamNextDownloadTo(sink);
}

bool CalvaroClientBase::isDownloading() const
{
    return m_downloading;
}

void CalvaroClientBase::cancelDownload()
{
    if (m_downloading)
        m_session->cancelTransfer();
}

void CalvaroClientBase::reportStatus(const QString &msg)
{
    emit addStatusMessage(msg);
}

void CalvaroClientBase::setKeepsSessions(bool keep)
{
    m_keepsSessions = keep;
}

void CalvaroClientBase::resumeSession()
{
    m_resuming = true;
    connectToServer(m_host, m_port);
}

void CalvaroClientBase::endSession()
{
    m_resuming = false;
    if (!m_sessionKept)
        return;
    m_sessionKept = false;
    emit sessionEnded();
}

void CalvaroClientBase::setLoginUser(const QString &userName, const QString &passwordDigest)
{
    m_loginUser = userName;
    m_loginDigest = passwordDigest;
}

void CalvaroClientBase::collectCommandFailures(bool collect)
{
    m_collectCommandFailures = collect;
}

void CalvaroClientBase::connectToServer(const QString &host, quint16 port)
{
    m_host = host;
    m_port = port;
    m_downloading = false;
    m_session->connectToServer(host, port);
    emit connectionStateChanged(false);
}

void CalvaroClientBase::awaitReply(bool noTimeout)
{
    m_downloading = noTimeout;
    m_session->awaitReply(noTimeout);
    emit connectionStateChanged(false);
}

// The bytes of the current message so far.
void CalvaroClientBase::onReadyRead()
{
    Q_ASSERT_X(m_session->socket() == m_tcpSocket, "src/VLK_CalvaroClientBase",
               "socket == m_tcpSocket");
    emit progress(int(m_session->bytesReceived()), true);
}

void CalvaroClientBase::onMessageStarted(int msgType, qint64 totalSize)
{
    emit newMessageReceived(msgType, totalSize);
}

void CalvaroClientBase::onHeaderIncomplete(qint64 bytesAvailable)
{
    QMessageBox::critical(this, tr("Receiving message"),
                          tr("Minimum message size of %1 Bytes expected, only got %2 Bytes.")
                              .arg(MessageHeaderSize)
                              .arg(bytesAvailable));
}

void CalvaroClientBase::onSessionFailed(const ClientSession::Failure &failure)
{
    if (losesKeptSession(failure))
        return;
    m_downloading = false;
    // Only a broken connection is worth trying again; a stream out of step
    // or a transfer the user ended closes the session as well.
    endSession();
    switch (failure.kind) {
    case ClientSession::FailureKind::ConnectionRefused:
    case ClientSession::FailureKind::RemoteHostClosed:
    case ClientSession::FailureKind::HostNotFound:
    case ClientSession::FailureKind::SocketError:
        onSocketError(failure.socketError);
        break;
    case ClientSession::FailureKind::ConnectTimeout:
        onSocketTimeout();
        break;
    case ClientSession::FailureKind::ReplyTimeout:
        onServerReplyTimeout();
        break;
    case ClientSession::FailureKind::DownloadStalled:
        reportBrokenStream(tr("Download failed"),
                           tr("The server sent nothing for %1 seconds, so the download was "
                              "ended and the connection closed.")
                               .arg(m_session->downloadStallTimeoutMs() / 1000));
        break;
    case ClientSession::FailureKind::MessageTooLarge:
        reportBrokenStream(tr("Message error"),
                           tr("Cannot download message, limit for 32bit applications is 1GByte."));
        break;
    case ClientSession::FailureKind::MessageTooSmall:
        reportBrokenStream(
            tr("Message error"),
            tr("Invalid message size of %1 Bytes received, at least %2 Bytes expected.")
                .arg(failure.announcedSize)
                .arg(MessageHeaderSize));
        break;
    case ClientSession::FailureKind::NotASolverServer:
        reportBrokenStream(tr("Message error"), failure.text);
        break;
    case ClientSession::FailureKind::SizeMismatch:
        reportBrokenStream(tr("Message error"),
                           tr("The server sent more data than its reply announced; the "
                              "connection was closed."));
        break;
    case ClientSession::FailureKind::ResultNotWritten:
        reportBrokenStream(tr("Download failed"), tr("Job download failed."));
        break;
    case ClientSession::FailureKind::Cancelled:
        emit progress(0, false);
        emit addStatusMessage(tr("Download cancelled; the connection was closed"));
        emit addStatusMessage(tr("Not connected"));
        emit connectionStateChanged(false);
        break;
    }
}

// A connection that broke by itself under a kept session is brought back by
// whoever listens, so the user sees no box for it.
bool CalvaroClientBase::losesKeptSession(const ClientSession::Failure &failure)
{
    if (!m_sessionKept)
        return false;
    switch (failure.kind) {
    case ClientSession::FailureKind::ConnectionRefused:
    case ClientSession::FailureKind::RemoteHostClosed:
    case ClientSession::FailureKind::HostNotFound:
    case ClientSession::FailureKind::SocketError:
    case ClientSession::FailureKind::ConnectTimeout:
    case ClientSession::FailureKind::ReplyTimeout:
        break;
    default:
        return false;
    }
    const bool transferCut = m_downloading;
    m_downloading = false;
    m_resuming = false;
    emit progress(0, false);
    emit connectionStateChanged(false);
    emit connectionLost(failure.text, transferCut);
    return true;
}

// Once the stream is out of step, nothing more can be framed: the user learns
// why the connection ended.
void CalvaroClientBase::reportBrokenStream(const QString &title, const QString &text)
{
    QMessageBox::critical(this, title, text);
    emit progress(0, false);
    emit addStatusMessage(tr("Not connected"));
    emit connectionStateChanged(false);
}

void CalvaroClientBase::processMessage()
{
    m_downloading = false;
    emit progress(0, false);
    emit connectionStateChanged(true);
    const bool answersLogin = m_loginPending;
    m_loginPending = false;

    const int messageType = m_session->messageType();
    switch (messageType) {
    case MT_LoginOk:
        m_sessionKept = m_keepsSessions;
        emit addStatusMessage(tr("Login successful"));
        emit msgReceived(MT_LoginOk);
        m_resuming = false;
        // No events run in between: an auto-refresh tick would send a
        // request of its own before this one's reply.
        emit addStatusMessage(tr("Requesting solver list..."));
        m_solvers.clear();
        if (CalvaroClientCommands::sendCommand(m_tcpSocket, MT_SolverList))
            awaitReply(false);
        break;
    case MT_LogoutOk:
        endSession();
        emit addStatusMessage(tr("Logged out"));
        emit msgReceived(MT_LogoutOk);
        emit connectionStateChanged(false);
        // A server may not take a second login on the connection it logged
        // out, while a new connection is how every session begins; so the
        // next Login starts afresh. Nothing is left to send or receive here.
        m_session->disconnectFromServer();
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
        if (answersLogin) {
            refuseLogin();
        } else if (m_collectCommandFailures) {
            emit commandFailed();
            break;
        }
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
    endSession();
    m_session->disconnectFromServer();
    emit addStatusMessage(tr("Login refused"));
    emit connectionStateChanged(false);
}

void CalvaroClientBase::onSocketConnected()
{
    m_loginPending = true;
    emit connectionEstablished();
}

void CalvaroClientBase::onSocketError(QAbstractSocket::SocketError socketError)
{
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
    // Reported before the box: its event loop delivers timer ticks, and the
    // panels must not offer requests on the failed connection meanwhile.
    emit connectionStateChanged(false);
    QMessageBox::information(this, tr("Client"), text);

    emit addStatusMessage(tr("Not connected"));
}

void CalvaroClientBase::onSocketTimeout()
{
    QMessageBox::critical(this, tr("Connection time out"), tr("Timeout on server connection."));
    emit connectionStateChanged(false);
}

// The connection is already closed when the box opens, so that nothing is
// sent on it while the user reads.
void CalvaroClientBase::onServerReplyTimeout()
{
    QMessageBox::critical(this, tr("Server timeout"), tr("Server timed out."));
    emit addStatusMessage(tr("Server timeout"));
    emit connectionStateChanged(false);
}

} // namespace VLK
