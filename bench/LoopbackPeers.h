#pragma once

#include "BenchSupport.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Bench {

// Plain blocking sockets on 127.0.0.1: the far ends of every transfer, and
// the baselines that show what the machine manages without the client.
namespace Socket {
// A connected socket to 127.0.0.1:port, or -1.
int connectLoopback(quint16 port);
bool sendAll(int fd, const char *data, qint64 size);
bool receiveExactly(int fd, char *data, qint64 size);
void close(int fd);
} // namespace Socket

// A thread that accepts one connection on 127.0.0.1 and serves it until the
// peer closes or the object goes. Subclasses say what serving means.
class LoopbackPeer
{
public:
    LoopbackPeer();
    virtual ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer &) = delete;
    LoopbackPeer &operator=(const LoopbackPeer &) = delete;

    bool isListening() const { return m_listenFd != -1; }
    quint16 port() const { return m_port; }

protected:
    // Starts the thread; call at the end of the subclass constructor.
    void start();
    // Ends the thread; call in the subclass destructor, before the members
    // that serve() uses are gone.
    void stop();
    virtual void serve(int fd) = 0;

private:
    void run();

    int m_listenFd = -1;
    std::atomic<int> m_connectionFd { -1 };
    quint16 m_port = 0;
    std::thread m_thread;
};

// Reads and discards what arrives, at most bytesPerSecond (0: as fast as the
// socket goes), and notes when the last expected byte came in.
class ByteSink : public LoopbackPeer
{
public:
    ByteSink(qint64 expectedBytes, qint64 bytesPerSecond);
    ~ByteSink() override;

    // False when the bytes did not all arrive within timeoutMs.
    bool waitForAll(int timeoutMs);
    Clock::time_point lastByteAt() const { return m_lastByteAt; }
    qint64 received() const { return m_received; }

protected:
    void serve(int fd) override;

private:
    void throttle(Clock::time_point started);

    const qint64 m_expected;
    const qint64 m_bytesPerSecond;
    // Allocated up front, so it is part of the measuring process's idle size.
    std::vector<char> m_buffer;
    std::atomic<qint64> m_received { 0 };
    Clock::time_point m_lastByteAt;
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_done = false;
};

// Answers every request it reads (a message of the wire format, header
// first) with what replyWriter writes to the socket.
class RequestResponder : public LoopbackPeer
{
public:
    using ReplyWriter = std::function<bool(int fd, const QByteArray &request)>;
    explicit RequestResponder(ReplyWriter replyWriter);
    ~RequestResponder() override;

protected:
    void serve(int fd) override;

private:
    const ReplyWriter m_replyWriter;
};

// Reply bodies generated on the fly from a short repeating pattern, so a
// source never holds a large message.
namespace Pattern {
// Builds the pattern now rather than on first use, so that a measurement
// started afterwards does not count it.
void prepare();
char byteAt(qint64 payloadOffset);
bool writeMessage(int fd, qint64 messageType, qint64 payloadSize);
// Whether the file holds exactly the payloadSize bytes writeMessage sends,
// compared byte for byte.
bool fileHolds(const QString &path, qint64 payloadSize);
// Sends bytes in pieces of segmentSize with a pause after each.
bool writeInSegments(int fd, const QByteArray &bytes, int segmentSize, int pauseMs);
} // namespace Pattern

} // namespace Bench
