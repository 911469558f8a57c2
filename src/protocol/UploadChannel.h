#pragma once

#include <QtGlobal>

class QTcpSocket;

namespace VLK {

// The way an upload's blocks reach the connection. The socket's own queue
// costs a copy of every block and, on most event dispatchers, switching its
// write notifier on and off again per block; while that queue is empty a
// block can go to the system directly instead, from the caller's buffer.
// What the system does not take, and every error, goes through the socket as
// before, so the socket reports failures and keeps the order of the bytes.
// The direct path is taken on Linux only; elsewhere every block goes through
// the socket's queue.
class UploadChannel
{
public:
    // Gives the connection a send buffer that holds many blocks, so that the
    // system keeps sending while the window handles its events.
    explicit UploadChannel(QTcpSocket &socket);

    // True when every byte was taken, by the system or into the socket's queue.
    bool write(const char *data, qint64 size);

private:
    qint64 sendDirectly(const char *data, qint64 size);

    QTcpSocket &m_socket;
};

} // namespace VLK
