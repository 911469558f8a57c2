#include "FakeServer.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QStringList>
#include <QTest>
#include <QtEndian>

FakeServer::FakeServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeServer::onNewConnection);
}

bool FakeServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void FakeServer::setReply(int requestType, const QByteArray &reply)
{
    m_replies.insert(requestType, reply);
}

bool FakeServer::waitForClient(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!hasClient() && timer.elapsed() < timeoutMs)
        QTest::qWait(5);
    return hasClient();
}

bool FakeServer::waitForRequests(int count, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (m_requests.size() < count && timer.elapsed() < timeoutMs)
        QTest::qWait(5);
    return m_requests.size() >= count;
}

QList<qint64> FakeServer::requestTypes() const
{
    QList<qint64> types;
    for (const Request &request : m_requests)
        types.append(request.type);
    return types;
}

void FakeServer::clearReceived()
{
    m_received.clear();
    m_requests.clear();
}

void FakeServer::send(const QByteArray &bytes)
{
    if (!hasClient())
        return;
    m_client->write(bytes);
    m_client->flush();
}

void FakeServer::sendInSegments(const QByteArray &bytes, const QList<int> &segmentSizes,
                                int pauseMs)
{
    int offset = 0;
    for (int i = 0; i <= segmentSizes.size() && offset < bytes.size(); ++i) {
        const int size = i < segmentSizes.size() ? segmentSizes.at(i) : bytes.size() - offset;
        if (offset > 0)
            QTest::qWait(pauseMs);
        send(bytes.mid(offset, size));
        offset += size;
    }
}

void FakeServer::dropClient()
{
    if (m_client)
        m_client->abort();
}

QByteArray FakeServer::int64(qint64 value)
{
    QByteArray bytes(8, '\0');
    qToBigEndian<qint64>(value, bytes.data());
    return bytes;
}

QByteArray FakeServer::counted(const QByteArray &bytes)
{
    return int64(bytes.size()) + bytes;
}

QByteArray FakeServer::header(qint64 totalSize, qint64 type)
{
    return int64(totalSize) + int64(type);
}

QByteArray FakeServer::reply(int type, const QByteArray &payload)
{
    return header(16 + payload.size(), type) + payload;
}

QByteArray FakeServer::textList(int type, const QStringList &items)
{
    QByteArray payload = int64(items.size());
    for (const QString &item : items)
        payload += counted(item.toUtf8());
    return reply(type, payload);
}

void FakeServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_client) {
            m_client->abort();
            m_client->deleteLater();
        }
        m_client = socket;
        m_pending.clear();
        connect(socket, &QTcpSocket::readyRead, this, &FakeServer::onReadyRead);
    }
}

void FakeServer::onReadyRead()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (socket != m_client)
        return;
    const QByteArray bytes = socket->readAll();
    m_received += bytes;
    m_pending += bytes;
    while (m_pending.size() >= 16) {
        const qint64 totalSize = qFromBigEndian<qint64>(m_pending.constData());
        if (totalSize < 16 || totalSize > m_pending.size())
            break;
        Request request;
        request.totalSize = totalSize;
        request.type = qFromBigEndian<qint64>(m_pending.constData() + 8);
        request.bytes = m_pending.left(int(totalSize));
        m_pending.remove(0, int(totalSize));
        m_requests.append(request);
        emit requestReceived(request.type);
        const auto reply = m_replies.constFind(int(request.type));
        if (reply != m_replies.constEnd())
            send(*reply);
    }
}
