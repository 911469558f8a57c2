#include "protocol/UploadChannel.h"

#include <QTcpSocket>

#if defined(Q_OS_LINUX)
#include <sys/socket.h>
#endif

namespace VLK {

namespace {
#if defined(Q_OS_LINUX)
constexpr int UploadSendBufferBytes = 4 * 1024 * 1024;
#endif
} // namespace

UploadChannel::UploadChannel(QTcpSocket &socket)
    : m_socket(socket)
{
#if defined(Q_OS_LINUX)
    m_socket.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, UploadSendBufferBytes);
#endif
}

bool UploadChannel::write(const char *data, qint64 size)
{
    const qint64 sent = sendDirectly(data, size);
    if (sent == size)
        return true;
    return m_socket.write(data + sent, size - sent) == size - sent;
}

// The bytes the system took at once, without waiting; 0 where anything
// stands in the way, so the socket's queue takes all of the block.
qint64 UploadChannel::sendDirectly(const char *data, qint64 size)
{
#if defined(Q_OS_LINUX)
    // Anything queued must leave first.
    if (m_socket.bytesToWrite() != 0 || m_socket.state() != QAbstractSocket::ConnectedState)
        return 0;
    // No signal on a closed connection: the socket's own write reports it.
    const ssize_t sent
        = ::send(int(m_socket.socketDescriptor()), data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent > 0 ? qint64(sent) : 0;
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
    return 0;
#endif
}

} // namespace VLK
