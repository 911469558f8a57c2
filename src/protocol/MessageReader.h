#pragma once

#include "protocol/Protocol.h"

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <cstring>

namespace VLK {

// Reads big-endian integers and counted texts from a message without ever
// reading past its end: whatever a count claims, a read stops at the last byte.
class MessageReader final
{
public:
    explicit MessageReader(const QByteArray &message, qint64 offset = 0)
        : m_data(message.constData())
        , m_size(message.size())
        , m_pos(qMin<qint64>(offset, message.size()))
    { }

    qint64 remaining() const { return m_size - m_pos; }
    bool atEnd() const { return m_pos >= m_size; }
    qint64 position() const { return m_pos; }

    // A missing or truncated integer reads as 0.
    qint64 readInt64()
    {
        if (remaining() < CountSize) {
            m_pos = m_size;
            return 0;
        }
        const qint64 value = qFromBigEndian<qint64>(m_data + m_pos);
        m_pos += CountSize;
        return value;
    }

    // Where the bytes of a counted text lie: a count, then that many bytes, of
    // which those before the first zero byte belong to the text.
    TextSpan readCountedSpan()
    {
        const qint64 count = readInt64();
        const qint64 n = qBound<qint64>(0, count, remaining());
        const char *start = m_data + m_pos;
        const void *zero = memchr(start, 0, size_t(n));
        const TextSpan span { int(m_pos), int(zero ? static_cast<const char *>(zero) - start : n) };
        m_pos += n;
        return span;
    }

    // A counted text, converted from UTF-8.
    QString readCountedText()
    {
        const TextSpan span = readCountedSpan();
        return QString::fromUtf8(m_data + span.offset, span.length);
    }

private:
    const char *m_data;
    qint64 m_size;
    qint64 m_pos;
};

} // namespace VLK
