#pragma once

#include "protocol/MessageReassembler.h"

#include <QAbstractSocket>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>

class QIODevice;
class QTcpSocket;
class QTimer;

namespace VLK {

// The one connection to the solver server that both front ends stand on: it
// connects, watches the connection attempt and every awaited reply with
// timers, cuts the incoming bytes into messages (in memory, or a result
// straight into its file) and reports what happens as signals. It shows
// nothing and never runs an event loop of its own: a window turns its signals
// into boxes and status lines, a command-line program waits for them.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    enum class FailureKind {
        ConnectionRefused,
        RemoteHostClosed,
        HostNotFound,
        SocketError, // any other error of the socket
        ConnectTimeout,
        ReplyTimeout,
        DownloadStalled, // a result download received nothing for a while
        MessageTooLarge, // a header announced more than a message held in memory may have
        MessageTooSmall, // a header announced less than its own size
        NotASolverServer, // the reply is text: another kind of server answered
        SizeMismatch, // more bytes than the reply announced
        ResultNotWritten, // the file a result streams into refused its bytes
        Cancelled // the caller ended the transfer
    };

    // What went wrong, with a text for the user that names the server.
    // Every failure has closed the connection.
    struct Failure
    {
        FailureKind kind = FailureKind::SocketError;
        QString text;
        QAbstractSocket::SocketError socketError = QAbstractSocket::UnknownSocketError;
        // The size a refused header announced.
        qint64 announcedSize = 0;
    };

    static constexpr int ConnectTimeoutMs = 5000;
    static constexpr int ReplyTimeoutMs = 10000;
    static constexpr int DownloadStallTimeoutMs = 60000;

    explicit ClientSession(QObject *parent = nullptr);
    ~ClientSession() override;

    QTcpSocket *socket() const { return m_socket; }
    bool isConnected() const;
    // "host, port N", for texts that name the server.
    QString serverName() const;

    // Starts a connection attempt; connected() or failed() follows. The
    // reply timer runs as well, so that a login that follows the
    // connection is watched from the start.
    void connectToServer(const QString &host, quint16 port);
    // Called right after a request went out: forgets any partial message
    // and arms the reply timer unless noTimeout. A result download that
    // streams into a file is watched for stalls instead.
    void awaitReply(bool noTimeout = false);
    // The next result download goes to sink as it arrives instead of into
    // memory, whatever its size. The sink is dropped when the reply is
    // complete or the connection fails, and is never closed here.
    void streamNextDownloadTo(QIODevice *sink);
    bool isStreamingDownload() const { return !m_sink.isNull(); }
    // Ends the transfer in progress: the connection is closed and
    // failed(Cancelled) reported.
    void cancelTransfer();
    // Closes the connection without a failure, e.g. after a logout.
    void disconnectFromServer();

    // The message being received or last received, header included (only
    // its header for a result that streamed into a file).
    const QByteArray &messageBuffer() const { return m_incoming.buffer(); }
    int messageType() const { return m_incoming.messageType(); }
    qint64 messageSize() const { return m_incoming.messageSize(); }
    qint64 bytesReceived() const { return m_incoming.bytesReceived(); }
    int downloadStallTimeoutMs() const { return m_downloadStallTimeoutMs; }

    // For tests: a smaller limit for messages held in memory, and a shorter
    // stall time-out, so that both can be tried quickly.
    void setLimitsForTesting(qint64 inMemoryLimit, int downloadStallTimeoutMs);

signals:
    void connected();
    // A message has begun: its header is accepted.
    void messageStarted(int messageType, qint64 totalSize);
    // After every read of incoming data: the bytes of the current message so far.
    void messageData(qint64 bytesSoFar);
    void messageCompleted(int messageType);
    // A message begins, but fewer bytes than its header are there yet; the
    // next notification tries again.
    void headerIncomplete(qint64 bytesAvailable);
    void failed(const VLK::ClientSession::Failure &failure);

private slots:
    void onReadyRead();
    void onSocketConnected();
    void onSocketError(QAbstractSocket::SocketError socketError);
    void onConnectTimeout();
    void onReplyTimeout();

private:
    bool acceptHeader();
    bool readPayload();
    void finishMessage();
    void stopTimers();
    void fail(FailureKind kind, const QString &text, qint64 announcedSize = 0);
    QString socketErrorText(QAbstractSocket::SocketError socketError) const;

    QTcpSocket *m_socket;
    QTimer *m_connectTimer;
    QTimer *m_replyTimer;
    MessageReassembler m_incoming;
    QPointer<QIODevice> m_sink;
    QString m_host;
    quint16 m_port = 0;
    int m_downloadStallTimeoutMs = DownloadStallTimeoutMs;
    // The reply awaited has no time-out, only the stall watch.
    bool m_watchingStalls = false;
    // Set while a failure is being reported, so that the socket errors that
    // closing the connection causes are not reported again.
    bool m_failing = false;
};

} // namespace VLK

Q_DECLARE_METATYPE(VLK::ClientSession::Failure)
