#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A scriptable solver server on 127.0.0.1 for tests. It accepts one client at a
// time, records every byte the client sends, cuts the bytes into requests, and
// answers with canned replies or with bytes the test sends explicitly, in
// chosen segments and with chosen pauses.
class FakeServer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        qint64 totalSize = 0;
        qint64 type = 0;
        QByteArray bytes; // the whole request, header included
    };

    explicit FakeServer(QObject *parent = nullptr);

    // Listens on 127.0.0.1 with a free port.
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    void stopListening() { m_server.close(); }

    // The canned reply sent whenever a request of this type arrives complete.
    void setReply(int requestType, const QByteArray &reply);
    void clearReplies() { m_replies.clear(); }

    bool waitForClient(int timeoutMs = 5000);
    bool hasClient() const
    {
        return m_client && m_client->state() == QAbstractSocket::ConnectedState;
    }
    // Waits until at least count complete requests have arrived in total.
    bool waitForRequests(int count, int timeoutMs = 5000);

    QByteArray received() const { return m_received; }
    const QList<Request> &requests() const { return m_requests; }
    QList<qint64> requestTypes() const;
    void clearReceived();

    // Writes at once.
    void send(const QByteArray &bytes);
    // Writes in pieces of the given sizes (the last piece takes the rest), with
    // a pause between pieces, so the client sees one notification per piece.
    // Returns when everything has been handed to the socket.
    void sendInSegments(const QByteArray &bytes, const QList<int> &segmentSizes, int pauseMs = 30);
    void dropClient();

    // Builders for replies, and for the parts of deliberately malformed ones.
    static QByteArray int64(qint64 value);
    static QByteArray counted(const QByteArray &bytes);
    static QByteArray header(qint64 totalSize, qint64 type);
    static QByteArray reply(int type, const QByteArray &payload = QByteArray());
    static QByteArray textList(int type, const QStringList &items);

signals:
    void requestReceived(qint64 type);

private:
    void onNewConnection();
    void onReadyRead();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_received;
    QByteArray m_pending;
    QList<Request> m_requests;
    QHash<int, QByteArray> m_replies;
};
