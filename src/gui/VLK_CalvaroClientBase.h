#pragma once

#include "protocol/VLK_MessageReassembler.h"

#include <QAbstractSocket>
#include <QStringList>
#include <QWidget>

class QTcpSocket;
class QTimer;

namespace VLK {

// Owns the one connection to the solver server: connection attempts and
// replies are watched by timers, incoming bytes are cut into messages, and
// each complete reply becomes signals (and, for a few types, a status line,
// a follow-up request or an error box). Payloads are decoded by the panels
// from m_messageBuffer.
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

    QTcpSocket *m_tcpSocket;
    QStringList m_solvers;

private:
    QTimer *m_serverReplyTimer;
    MessageReassembler m_incoming;

public:
    // The message being received or last received, header included.
    const QByteArray &m_messageBuffer;

private:
    QTimer *m_socketTimer;
    // The login request is the first one on a new connection, so the first
    // reply there answers it.
    bool m_loginPending = false;

signals:
    void connectionStateChanged(bool connected);
    void newMessageReceived(int msgType, qint64 totalSize);
    void progress(int bytesSoFar, bool enabled);
    void addStatusMessage(QString msg);
    void connectionEstablished();
    void msgReceived(int msgType);

private slots:
    void onReadyRead();
    void onSocketConnected();
    void onSocketTimeout();
    void onSocketError(QAbstractSocket::SocketError socketError);
    void onServerReplyTimeout();

private:
    bool acceptHeader();
    void refuseMessage(const QString &text);
    void reportBrokenStream(const QString &text);
    void processMessage();
    void refuseLogin();
    bool readBlock();
};

} // namespace VLK
