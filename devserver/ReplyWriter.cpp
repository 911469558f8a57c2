#include "ReplyWriter.h"

#include "protocol/Protocol.h"

#include <QTcpSocket>

#include <cstdio>

namespace DevServer {

namespace {
constexpr qint64 BlockSize = qint64(64) * 1024;
// Refill the socket only while less than this waits in its queue.
constexpr qint64 HighWaterMark = qint64(256) * 1024;
} // namespace

ReplyWriter::ReplyWriter(QTcpSocket *socket, const ReplyShaping &shaping, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_shaping(shaping)
{
    m_pause.setSingleShot(true);
    // Delays are promises of at least so long; a coarse timer may fire early.
    m_pause.setTimerType(Qt::PreciseTimer);
    connect(&m_pause, &QTimer::timeout, this, &ReplyWriter::pump);
    connect(socket, &QTcpSocket::bytesWritten, this, &ReplyWriter::pump);
}

void ReplyWriter::send(const QByteArray &message, Ending ending)
{
    m_head = message;
    begin(message.size(), ending);
}

bool ReplyWriter::sendFile(int replyType, const QString &filePath, Ending ending)
{
    m_file.setFileName(filePath);
    if (!m_file.open(QIODevice::ReadOnly))
        return false;
    const qint64 totalSize = VLK::MessageHeaderSize + m_file.size();
    VLK::encodeHeader(totalSize, replyType, m_head);
    begin(totalSize, ending);
    return true;
}

void ReplyWriter::begin(qint64 totalSize, Ending ending)
{
    m_headPosition = 0;
    m_closeWhenDone = ending == Ending::CutHalfwayAndClose;
    m_toSend = m_closeWhenDone ? totalSize / 2 : totalSize;
    m_busy = true;
    if (m_shaping.delayMs > 0)
        m_pause.start(m_shaping.delayMs);
    else
        pump();
}

void ReplyWriter::pump()
{
    if (!m_busy || m_pause.isActive())
        return;
    const bool segmented = m_shaping.segmentBytes > 0;
    const qint64 pieceSize = segmented ? m_shaping.segmentBytes : BlockSize;
    while (m_toSend > 0 && m_socket->bytesToWrite() < HighWaterMark) {
        const QByteArray piece = takePiece(qMin(pieceSize, m_toSend));
        if (piece.isEmpty()) {
            // The file changed under us: the announced size can no longer be kept.
            std::fprintf(stderr,
                         "calvaro-devserver: %s shrank while being sent; connection closed\n",
                         qPrintable(m_file.fileName()));
            m_socket->abort();
            m_toSend = 0;
            break;
        }
        m_socket->write(piece);
        m_toSend -= piece.size();
        if (segmented && m_toSend > 0) {
            // The pause first: flushing reports the bytes written at once, which
            // would otherwise send the next segment without one.
            m_pause.start(m_shaping.segmentPauseMs);
            m_socket->flush();
            return;
        }
    }
    if (m_toSend == 0)
        finish();
}

QByteArray ReplyWriter::takePiece(qint64 size)
{
    QByteArray piece = m_head.mid(int(m_headPosition), int(size));
    m_headPosition += piece.size();
    const qint64 fromFile = size - piece.size();
    if (fromFile > 0) {
        const QByteArray more = m_file.isOpen() ? m_file.read(fromFile) : QByteArray();
        if (more.size() != fromFile)
            return QByteArray();
        piece += more;
    }
    return piece;
}

void ReplyWriter::finish()
{
    m_busy = false;
    m_head.clear();
    m_file.close();
    if (m_closeWhenDone)
        m_socket->disconnectFromHost();
    emit replyWritten();
}

} // namespace DevServer
