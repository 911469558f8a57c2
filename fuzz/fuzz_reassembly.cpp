// The receive path of the connection object, fed an arbitrary byte stream in
// arbitrary segments. The input is a sequence of records: one length byte, then
// that many bytes of stream. A length byte of 0 stands for a new request, which
// forgets any partial message, as awaiting a reply does.
//
// Checked: nothing is ever stored past the announced size, a complete message
// is exactly as long as announced and starts with its own header, and a
// refused header or surplus bytes end the stream, as they end the connection.
#include "ByteQueueDevice.h"
#include "protocol/MessageReassembler.h"
#include "protocol/Protocol.h"

#include <QtEndian>

#include <cstdint>
#include <cstdlib>

using VLK::MessageReassembler;

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

void checkCompleteMessage(const MessageReassembler &incoming)
{
    const QByteArray &message = incoming.buffer();
    check(message.size() == incoming.messageSize());
    check(qFromBigEndian<qint64>(message.constData()) == incoming.messageSize());
    check(int(qFromBigEndian<qint64>(message.constData() + 8)) == incoming.messageType());
    // What the panels would do with it.
    QStringList names;
    VLK::decodeStringList(message, names);
    QList<VLK::JobInfo> jobs;
    VLK::decodeJobList(message, jobs);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MessageReassembler incoming;
    ByteQueueDevice socket;
    size_t pos = 0;
    while (pos < size) {
        const size_t lengthByte = data[pos++];
        const size_t length = qMin(lengthByte, size - pos);
        if (length == 0) {
            incoming.reset();
            continue;
        }
        socket.append(QByteArray(reinterpret_cast<const char *>(data + pos), int(length)));
        pos += length;

        if (!incoming.isReceiving()) {
            const qint64 before = socket.bytesAvailable();
            switch (incoming.readHeader(socket)) {
            case MessageReassembler::HeaderResult::Incomplete:
                check(socket.bytesAvailable() == before && before < VLK::MessageHeaderSize);
                continue;
            case MessageReassembler::HeaderResult::TooLarge:
            case MessageReassembler::HeaderResult::TooSmall:
            case MessageReassembler::HeaderResult::NotAHeader:
                check(!incoming.isReceiving());
                return 0; // the connection is aborted
            case MessageReassembler::HeaderResult::Accepted:
                check(incoming.messageSize() >= VLK::MessageHeaderSize
                      && incoming.messageSize() <= VLK::MaxMessageSize);
                break;
            }
        }
        bool surplus = false;
        if (incoming.bytesReceived() < incoming.messageSize())
            surplus = !incoming.readBlock(socket);
        check(incoming.buffer().size() <= incoming.messageSize());
        if (surplus) {
            check(!incoming.isComplete());
            return 0; // disconnected; the message is never dispatched
        }
        check(incoming.bytesReceived() <= incoming.messageSize());
        if (incoming.isComplete()) {
            checkCompleteMessage(incoming);
            incoming.finishMessage();
        }
    }
    return 0;
}
