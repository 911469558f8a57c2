#pragma once

#include "protocol/Protocol.h"

#include <QByteArray>

class QIODevice;

namespace VLK {

// Cuts an incoming byte stream into messages: header first, then the payload
// in whatever pieces the device delivers. It owns the receive state and the
// buffer of the message being received (or last received, header included).
//
// The buffer grows with what actually arrives: a header that announces a huge
// message costs at most the first megabyte until more bytes are really there.
// Once they are, the whole message is reserved at once and read straight into
// place.
class MessageReassembler final
{
public:
    enum class HeaderResult {
        Incomplete, // fewer than 16 bytes available; nothing consumed
        TooLarge, // totalSize (as unsigned) above the 1 GByte limit
        TooSmall, // totalSize below the header's own 16 bytes
        NotAHeader, // the size field is text (a web page, a greeting), not a size
        Accepted
    };

    // True while a message has been announced but not all of its bytes are in.
    bool isReceiving() const { return m_messageSize != 0; }

    // Call only when not receiving. Consumes the 16 header bytes unless Incomplete.
    HeaderResult readHeader(QIODevice &device);

    // A message held in memory may not exceed sizeLimit; a message of
    // streamedType (0: none) is passed on as it arrives, so it may have any
    // size that the header can announce.
    void setSizeLimit(qint64 sizeLimit) { m_sizeLimit = sizeLimit; }
    void setStreamedType(int streamedType) { m_streamedType = streamedType; }

    // Stores everything the device holds. Returns false when that is more than
    // the rest of the message: the surplus is dropped, and the message is marked
    // so that it never counts as complete.
    bool readBlock(QIODevice &device);

    enum class StreamResult {
        Stored, // everything the device held went to the sink
        Surplus, // more than the rest of the message: as for readBlock
        SinkFailed // the sink did not take all of a piece
    };
    // Like readBlock, but the payload goes to sink as it arrives and the buffer
    // keeps only the header, so memory stays the same whatever the message size.
    StreamResult streamBlock(QIODevice &device, QIODevice &sink);

    bool isComplete() const { return m_messageSize != 0 && m_bytesReceived == m_messageSize; }
    // Ends the message in progress; the buffer keeps the complete message.
    void finishMessage() { m_messageSize = 0; }
    // Forgets any partial or complete message.
    void reset();

    qint64 messageSize() const { return m_messageSize; }
    int messageType() const { return m_messageType; }
    qint64 bytesReceived() const { return m_bytesReceived; }
    // The bytes seen of the announced header, for the refusal texts.
    qint64 announcedSize() const { return m_announcedSize; }
    const QByteArray &buffer() const { return m_messageBuffer; }

private:
    void reserveFor(qint64 bytesNeeded);
    bool dropSurplus(QIODevice &device);
    void reserveWholeMessage();

    qint64 m_sizeLimit = MaxMessageSize;
    int m_streamedType = 0;
    qint64 m_messageSize = 0;
    int m_messageType = 0;
    QByteArray m_messageBuffer;
    qint64 m_bytesReceived = 0;
    qint64 m_announcedSize = 0;
};

} // namespace VLK
