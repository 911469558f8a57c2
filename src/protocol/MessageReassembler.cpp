#include "protocol/MessageReassembler.h"

#include "protocol/Protocol.h"
#include "protocol/SystemMemory.h"

#include <QByteArray>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>

namespace VLK {

namespace {
// First allocation for a message; later growth at least doubles the buffer.
constexpr qint64 InitialBufferSize = 1 << 20;
// Pieces in which a streamed payload passes from the device to its sink.
constexpr qint64 StreamPieceSize = qint64(1024) * 1024;
// A size whose eight bytes all read as text would be more than two million
// terabytes: what arrived is text from a peer that speaks another protocol,
// such as a web server's "HTTP/1.1" or "<!DOCTYPE".
bool isText(const QByteArray &bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), [](char byte) {
        return (byte >= 0x20 && byte < 0x7f) || byte == '\t' || byte == '\r' || byte == '\n';
    });
}

} // namespace

MessageReassembler::HeaderResult MessageReassembler::readHeader(QIODevice &device)
{
    if (device.bytesAvailable() < MessageHeaderSize)
        return HeaderResult::Incomplete;

    char header[MessageHeaderSize];
    if (device.read(header, MessageHeaderSize) != MessageHeaderSize)
        return HeaderResult::Incomplete;
    const qint64 totalSize = qFromBigEndian<qint64>(header);
    const int messageType = int(qFromBigEndian<qint64>(header + 8));
    m_announcedSize = totalSize;

    if (isText(QByteArray::fromRawData(header, 8)))
        return HeaderResult::NotAHeader;
    const bool streamed = m_streamedType != 0 && messageType == m_streamedType;
    if (totalSize < 0 || (!streamed && totalSize > m_sizeLimit))
        return HeaderResult::TooLarge;
    if (totalSize < MessageHeaderSize)
        return HeaderResult::TooSmall;

    m_messageSize = totalSize;
    m_messageType = messageType;
    m_messageBuffer.clear();
    // A streamed message passes on as it arrives; only its header is kept.
    if (streamed)
        m_messageBuffer.resize(int(MessageHeaderSize));
    else
        reserveFor(MessageHeaderSize);
    QByteArray rebuiltHeader;
    encodeHeader(totalSize, m_messageType, rebuiltHeader);
    memcpy(m_messageBuffer.data(), rebuiltHeader.constData(), size_t(MessageHeaderSize));
    m_bytesReceived = MessageHeaderSize;
    return HeaderResult::Accepted;
}

bool MessageReassembler::readBlock(QIODevice &device)
{
    const qint64 available = device.bytesAvailable();
    if (available <= 0)
        return true;
    const qint64 rest = qMax<qint64>(0, m_messageSize - m_bytesReceived);

    if (rest > 0) {
        reserveFor(m_bytesReceived + qMin(available, rest));
        const qint64 room = m_messageBuffer.size() - m_bytesReceived;
        const qint64 n = device.read(m_messageBuffer.data() + m_bytesReceived, qMin(room, rest));
        if (n > 0)
            m_bytesReceived += n;
    }
    return dropSurplus(device);
}

MessageReassembler::StreamResult MessageReassembler::streamBlock(QIODevice &device, QIODevice &sink)
{
    qint64 rest = qMax<qint64>(0, m_messageSize - m_bytesReceived);
    while (rest > 0 && device.bytesAvailable() > 0) {
        // All that the device holds, at most a piece: a socket hands over the
        // block it read in whole, without copying it, when asked for exactly
        // that much.
        const QByteArray piece
            = device.read(std::min({ rest, device.bytesAvailable(), StreamPieceSize }));
        if (piece.isEmpty())
            break;
        if (sink.write(piece) != piece.size())
            return StreamResult::SinkFailed;
        m_bytesReceived += piece.size();
        rest -= piece.size();
    }
    return dropSurplus(device) ? StreamResult::Stored : StreamResult::Surplus;
}

// More than the message can hold: count it, so the message never completes,
// but never store it.
bool MessageReassembler::dropSurplus(QIODevice &device)
{
    if (device.bytesAvailable() <= 0)
        return true;
    const QByteArray surplus = device.readAll();
    m_bytesReceived += surplus.size();
    return false;
}

void MessageReassembler::reset()
{
    m_messageSize = 0;
    m_bytesReceived = 0;
    m_messageBuffer.clear();
}

void MessageReassembler::reserveFor(qint64 bytesNeeded)
{
    const qint64 current = m_messageBuffer.size();
    if (bytesNeeded <= current)
        return;
    if (bytesNeeded > InitialBufferSize && m_messageBuffer.capacity() < m_messageSize)
        reserveWholeMessage();
    const qint64 grown = qMax(bytesNeeded, qMax(current * 2, InitialBufferSize));
    const int size = int(qMin(grown, m_messageSize));
    // Exactly this much: growing by itself, the array would round its block
    // up to the next power of two, twice what an announcement may cost.
    if (size > m_messageBuffer.capacity())
        m_messageBuffer.reserve(size);
    m_messageBuffer.resize(size);
}

// More than the first allocation has really arrived, so the message is under
// way: from here on it fills one block in place instead of moving with every
// doubling, and in large pages: on virtual machines that pay dearly for
// every page fault and address translation, filling a gigabyte in them and
// writing it to the result file took a fraction of the time that small
// pages need. The block is only address space until the bytes arrive.
void MessageReassembler::reserveWholeMessage()
{
    m_messageBuffer.reserve(int(m_messageSize));
    SystemMemory::adviseLargePages(m_messageBuffer.data(), m_messageBuffer.capacity());
}

} // namespace VLK
