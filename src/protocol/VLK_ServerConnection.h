#pragma once

#include "protocol/VLK_MessageReassembler.h"
#include "protocol/VLK_Protocol.h"

#include <QAbstractSocket>
#include <QObject>
#include <QString>

class QIODevice;
class QTcpSocket;
class QTimer;

namespace VLK {

namespace CalvaroClientCommands {
class ProgressNotification;
}

// A connection to the solver server for programs without a window: each call
// sends one request and returns once its reply is in, the connection has
// failed, a time-out has passed or interrupt() was called. Failures are
// returned as values with a text for the user, never shown.
class ServerConnection : public QObject
{
    Q_OBJECT

public:
    enum class Failure {
        None,
        Connection, // cannot connect, or the connection was lost
        Login, // the server did not accept the user name and password
        Refused, // the server answered with an error reply
        Timeout,
        Protocol, // a reply that does not fit the request or the wire format
        LocalFile, // the archive cannot be read, or the downloaded result not written
        Interrupted
    };

    static constexpr int ConnectTimeoutMs = 5000;
    static constexpr int ReplyTimeoutMs = 10000;

    explicit ServerConnection(QObject *parent = nullptr);
    ~ServerConnection() override;

    bool connectToServer(const QString &host, quint16 port);
    bool login(const QString &userName, const QString &passwordDigest);
    // A request without payload, or with one counted text (a job path);
    // true once a reply of expectedReply is in reply().
    bool request(int messageType, int expectedReply);
    bool request(int messageType, const QString &text, int expectedReply);
    // Streams the archive as a new job; true once the server accepted it.
    bool submitJob(const QString &archivePath, const JobHeader &job,
                   CalvaroClientCommands::ProgressNotification *notification);
    // Writes the result of the job at jobPath to sink as it arrives; the reply
    // time-out then counts from the last byte received, not from the request.
    bool download(const QString &jobPath, QIODevice &sink);
    // Ends the call in progress (from an event handler, e.g. a signal
    // notifier) and closes the connection.
    void interrupt();
    void close();

    // The last complete reply, header included (only its header after a download).
    const QByteArray &reply() const { return m_incoming.buffer(); }
    Failure failure() const { return m_failure; }
    const QString &errorText() const { return m_errorText; }

signals:
    // Bytes of the reply so far and its total size, header included.
    void replyProgress(qint64 bytesSoFar, qint64 totalBytes);

private slots:
    void onReadyRead();
    void onConnected();
    void onSocketError(QAbstractSocket::SocketError socketError);
    void onTimeout();

private:
    bool begin();
    bool sendAndAwait(bool sent, int expectedReply, QIODevice *sink = nullptr);
    bool awaitCompletion();
    bool acceptHeader();
    bool readPayload();
    void finishReply();
    bool fail(Failure failure, const QString &text);
    QString serverName() const;

    QTcpSocket *m_socket;
    QTimer *m_timer;
    MessageReassembler m_incoming;
    QString m_host;
    quint16 m_port = 0;
    bool m_waiting = false;
    bool m_interrupted = false;
    bool m_abortUpload = false;
    int m_expectedReply = 0;
    QIODevice *m_sink = nullptr;
    bool m_streaming = false;
    bool m_restartTimerOnData = false;
    Failure m_failure = Failure::None;
    QString m_errorText;
};

} // namespace VLK
