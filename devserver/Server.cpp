#include "Server.h"

#include "Session.h"

#include <QTcpSocket>

namespace DevServer {

Server::Server(ServerServices &services, QObject *parent)
    : QObject(parent)
    , m_services(services)
{
    connect(&m_tcpServer, &QTcpServer::newConnection, this, &Server::onNewConnection);
}

bool Server::listen(const QHostAddress &address, quint16 port, QString &error)
{
    if (m_tcpServer.listen(address, port))
        return true;
    error = m_tcpServer.errorString();
    return false;
}

void Server::onNewConnection()
{
    while (QTcpSocket *socket = m_tcpServer.nextPendingConnection())
        new Session(socket, m_services, this);
}

} // namespace DevServer
