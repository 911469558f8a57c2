#pragma once

#include "protocol/ClientSession.h"

#include <QAbstractSocket>
#include <QStringList>
#include <QWidget>

class QIODevice;
class QTcpSocket;

namespace VLK {

// The window's side of the one connection to the solver server: the
// connection itself (timers, reassembly, typed failures) is a ClientSession;
// this turns what it reports into the window's signals, status lines, a
// follow-up request or an error box. Payloads are decoded by the panels from
// m_messageBuffer.
class CalvaroClientBase : public QWidget
{
    Q_OBJECT

public:
    explicit CalvaroClientBase(QWidget *parent = nullptr);
    ~CalvaroClientBase() override;

    void connectToServer(const QString &host, quint16 port);
    // Called right after a request went out: forgets any partial message,
    // reports "not connected" until the reply is in, and arms the reply timer
    // unless noTimeout.
    void awaitReply(bool noTimeout = false);

    bool isConnected() const;
    // True when connected. Otherwise shows the "Not connected" box on
    // boxParent, translated in translationContext (the calling class's, as
    // its own tr() would), and returns false.
    bool requireConnection(QWidget *boxParent, const char *translationContext) const;

    // The result of the next download streams into sink as it arrives, so
    // that its size does not matter; m_messageBuffer then holds only its
    // header. Without a sink the result is held in memory like any reply.
    void streamNextDownloadTo(QIODevice *sink);
    bool isDownloading() const;
    // Ends a download in progress. The connection closes, as nothing else
    // stops a reply that is under way.
    void cancelDownload();
    // A line for the status log, for the panels.
    void reportStatus(const QString &msg);
    // While a panel works through a series of its own requests, a command
    // the server refuses is reported to it by commandFailed() in place of a
    // box, so that it can tell the user once about all of them.
    void collectCommandFailures(bool collect);

    // With this on, a connection that breaks by itself after a successful
    // login shows no box: connectionLost() tells whoever brings it back.
    void setKeepsSessions(bool keep);
    // True from a successful login until the user ends the session or the
    // server refuses a login; the connection may be down meanwhile.
    bool isSessionKept() const { return m_sessionKept; }
    // Connects again to the server of the last connection; the login panel
    // logs in as before.
    void resumeSession();
    // True while the login of a resumed session is under way.
    bool isResumingSession() const { return m_resuming; }
    // No reconnect follows from here on; sessionEnded() tells so.
    void endSession();

    // Who the login panel logs in as, for what works beside the window's own
    // connection under the same login (the password only as its digest).
    void setLoginUser(const QString &userName, const QString &passwordDigest);
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    QString loginUser() const { return m_loginUser; }
    QString loginDigest() const { return m_loginDigest; }

    // Test access to the connection's limits and time-outs.
    ClientSession &session() { return *m_session; }

private:
    ClientSession *m_session;

public:
    QTcpSocket *m_tcpSocket;
    QStringList m_solvers;
    // The message being received or last received, header included.
    const QByteArray &m_messageBuffer;

private:
    // The login request is the first one on a new connection, so the first
    // reply there answers it.
    bool m_loginPending = false;
    bool m_downloading = false;
    bool m_keepsSessions = false;
    bool m_sessionKept = false;
    bool m_resuming = false;
    QString m_host;
    quint16 m_port = 0;
    bool m_collectCommandFailures = false;
    QString m_loginUser;
    QString m_loginDigest;

signals:
    void connectionStateChanged(bool connected);
    void newMessageReceived(int msgType, qint64 totalSize);
    void progress(int bytesSoFar, bool enabled);
    void addStatusMessage(QString msg);
    void connectionEstablished();
    void msgReceived(int msgType);
    // A kept session lost its connection without the user asking; a result
    // download was cut if transferCut.
    void connectionLost(const QString &reason, bool transferCut);
    void sessionEnded();
    void commandFailed();

private slots:
    void onReadyRead();
    void onSocketConnected();
    void onSocketTimeout();
    void onSocketError(QAbstractSocket::SocketError socketError);
    void onServerReplyTimeout();
    void onMessageStarted(int msgType, qint64 totalSize);
    void onHeaderIncomplete(qint64 bytesAvailable);
    void onSessionFailed(const VLK::ClientSession::Failure &failure);

private:
    void reportBrokenStream(const QString &title, const QString &text);
    void processMessage();
    void refuseLogin();
    bool losesKeptSession(const VLK::ClientSession::Failure &failure);
};

} // namespace VLK
