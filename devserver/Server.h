#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

namespace DevServer {

struct ServerServices;

// Accepts connections and gives each a session of its own.
class Server final : public QObject
{
    Q_OBJECT

public:
    explicit Server(ServerServices &services, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port, QString &error);
    quint16 port() const { return m_tcpServer.serverPort(); }

private:
    void onNewConnection();

    ServerServices &m_services;
    QTcpServer m_tcpServer;
};

} // namespace DevServer
