#pragma once

#include <QByteArray>
#include <QIODevice>

// A sequential device that hands out what was appended to it, like a socket
// whose receive buffer holds the bytes of the segments delivered so far.
class ByteQueueDevice : public QIODevice
{
public:
    ByteQueueDevice() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }

    void append(const QByteArray &bytes) { m_bytes.append(bytes); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_bytes.size() - m_readPos; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, bytesAvailable());
        memcpy(data, m_bytes.constData() + m_readPos, size_t(n));
        m_readPos += n;
        if (m_readPos == m_bytes.size()) {
            m_bytes.clear();
            m_readPos = 0;
        }
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_readPos = 0;
};
