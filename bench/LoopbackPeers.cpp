#include "LoopbackPeers.h"

#include "protocol/MessageReader.h"
#include "protocol/Protocol.h"

#include <QFile>

#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Bench {

namespace Socket {

namespace {
sockaddr_in loopbackAddress(quint16 port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
} // namespace

int connectLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd == -1)
        return -1;
    const sockaddr_in address = loopbackAddress(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

bool receiveExactly(int fd, char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t got = ::recv(fd, data, size_t(size), 0);
        if (got <= 0)
            return false;
        data += got;
        size -= got;
    }
    return true;
}

void close(int fd)
{
    if (fd != -1)
        ::close(fd);
}

int listenLoopback(quint16 &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd == -1)
        return -1;
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, 1) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace Socket

LoopbackPeer::LoopbackPeer()
{
    m_listenFd = Socket::listenLoopback(m_port);
}

LoopbackPeer::~LoopbackPeer()
{
    stop();
    Socket::close(m_connectionFd.load());
    Socket::close(m_listenFd);
}

void LoopbackPeer::stop()
{
    // Shutting the sockets down ends a blocking accept or read in the thread.
    if (m_listenFd != -1)
        ::shutdown(m_listenFd, SHUT_RDWR);
    const int connection = m_connectionFd.load();
    if (connection != -1)
        ::shutdown(connection, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
}

void LoopbackPeer::start()
{
    if (isListening())
        m_thread = std::thread(&LoopbackPeer::run, this);
}

void LoopbackPeer::run()
{
    const int fd = ::accept(m_listenFd, nullptr, nullptr);
    if (fd == -1)
        return;
    m_connectionFd = fd;
    serve(fd);
}

ByteSink::ByteSink(qint64 expectedBytes, qint64 bytesPerSecond)
    : m_expected(expectedBytes)
    , m_bytesPerSecond(bytesPerSecond)
    // Small reads when throttled, so the rate holds over short spans too.
    , m_buffer(bytesPerSecond > 0 ? 64 * 1024 : 1024 * 1024)
{
    start();
}

ByteSink::~ByteSink()
{
    stop();
}

bool ByteSink::waitForAll(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finished.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_done; });
    return m_received == m_expected;
}

void ByteSink::serve(int fd)
{
    const Clock::time_point started = Clock::now();
    while (m_received < m_expected) {
        const ssize_t got = ::recv(fd, m_buffer.data(), m_buffer.size(), 0);
        if (got <= 0)
            break;
        m_received += got;
        m_lastByteAt = Clock::now();
        if (m_bytesPerSecond > 0)
            throttle(started);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
    m_finished.notify_all();
}

void ByteSink::throttle(Clock::time_point started)
{
    const auto due = started
        + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(double(m_received) / m_bytesPerSecond));
    std::this_thread::sleep_until(due);
}

RequestResponder::RequestResponder(ReplyWriter replyWriter)
    : m_replyWriter(std::move(replyWriter))
{
    start();
}

RequestResponder::~RequestResponder()
{
    stop();
}

void RequestResponder::serve(int fd)
{
    for (;;) {
        QByteArray request(int(VLK::MessageHeaderSize), Qt::Uninitialized);
        if (!Socket::receiveExactly(fd, request.data(), request.size()))
            return;
        const qint64 totalSize = VLK::MessageReader(request).readInt64();
        if (totalSize < VLK::MessageHeaderSize || totalSize > 1024 * 1024)
            return;
        request.resize(int(totalSize));
        const qint64 rest = totalSize - VLK::MessageHeaderSize;
        if (!Socket::receiveExactly(fd, request.data() + VLK::MessageHeaderSize, rest)
            || !m_replyWriter(fd, request))
            return;
    }
}

namespace Pattern {

namespace {
// A prime period, so the bytes do not line up with any block size.
constexpr int Period = 251;
constexpr int ChunkSize = Period * 4096;

const QByteArray &chunk()
{
    static const QByteArray bytes = [] {
        QByteArray b(ChunkSize, Qt::Uninitialized);
        for (int i = 0; i < ChunkSize; ++i)
            b[i] = char(i % Period);
        return b;
    }();
    return bytes;
}
} // namespace

void prepare()
{
    chunk();
}

char byteAt(qint64 payloadOffset)
{
    return char(payloadOffset % Period);
}

bool writeMessage(int fd, qint64 messageType, qint64 payloadSize)
{
    QByteArray header;
    VLK::encodeHeader(VLK::MessageHeaderSize + payloadSize, messageType, header);
    if (!Socket::sendAll(fd, header.constData(), header.size()))
        return false;
    for (qint64 sent = 0; sent < payloadSize;) {
        const qint64 piece = qMin<qint64>(ChunkSize, payloadSize - sent);
        if (!Socket::sendAll(fd, chunk().constData(), piece))
            return false;
        sent += piece;
    }
    return true;
}

bool fileHolds(const QString &path, qint64 payloadSize)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != payloadSize)
        return false;
    // Every piece read starts at a multiple of the period, as the chunk does.
    QByteArray piece(ChunkSize, Qt::Uninitialized);
    for (qint64 checked = 0; checked < payloadSize;) {
        const qint64 size = qMin<qint64>(ChunkSize, payloadSize - checked);
        if (file.read(piece.data(), size) != size
            || std::memcmp(piece.constData(), chunk().constData(), size_t(size)) != 0)
            return false;
        checked += size;
    }
    return true;
}

bool writeInSegments(int fd, const QByteArray &bytes, int segmentSize, int pauseMs)
{
    for (int offset = 0; offset < bytes.size(); offset += segmentSize) {
        const int piece = qMin(segmentSize, bytes.size() - offset);
        if (!Socket::sendAll(fd, bytes.constData() + offset, piece))
            return false;
        if (pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return true;
}

} // namespace Pattern

} // namespace Bench
