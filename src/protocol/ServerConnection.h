#pragma once

#include "protocol/ClientSession.h"
#include "protocol/Protocol.h"

#include <QObject>
#include <QString>

class QIODevice;

namespace VLK {

namespace CalvaroClientCommands {
class ProgressNotification;
}

// The connection core for programs without a window: each call sends one
// request through the core and returns once its reply is in, the connection
// has failed, a time-out has passed or interrupt() was called. Failures are
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
    // Writes the result of the job at jobPath to sink as it arrives, whatever
    // its size; the download has no time-out, it ends only when it stalls.
    bool download(const QString &jobPath, QIODevice &sink);
    // Ends the call in progress (from an event handler, e.g. a signal
    // notifier) and closes the connection.
    void interrupt();
    void close();

    // The last complete reply, header included (only its header after a download).
    const QByteArray &reply() const { return m_session.messageBuffer(); }
    Failure failure() const { return m_failure; }
    const QString &errorText() const { return m_errorText; }

signals:
    // Bytes of the reply so far and its total size, header included.
    void replyProgress(qint64 bytesSoFar, qint64 totalBytes);

private slots:
    void onSessionFailed(const VLK::ClientSession::Failure &failure);

private:
    bool begin();
    bool awaitReply(bool sent, int expectedReply, bool noTimeout = false);
    bool waitUntilDone();
    bool acceptReply(int expectedReply);
    void record(Failure failure, const QString &text);
    bool fail(Failure failure, const QString &text);

    ClientSession m_session;
    // Set when the core connected or completed a reply since the call began;
    // a reply may complete while an upload still pumps events.
    bool m_done = false;
    bool m_interrupted = false;
    bool m_abortUpload = false;
    Failure m_failure = Failure::None;
    QString m_errorText;
};

} // namespace VLK
