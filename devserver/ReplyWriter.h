#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace DevServer {

struct ReplyShaping
{
    int delayMs = 0; // before every reply
    qint64 segmentBytes = 0; // 0 = as fast as the socket takes it
    int segmentPauseMs = 0; // between segments
};

// Writes one reply at a time to a socket: from memory, or a header followed by
// a file read block by block, never faster than the socket drains, so a large
// result costs no more memory than a small one. Delays and segments replies
// when asked to.
class ReplyWriter final : public QObject
{
    Q_OBJECT

public:
    enum class Ending { KeepOpen, CutHalfwayAndClose };

    ReplyWriter(QTcpSocket *socket, const ReplyShaping &shaping, QObject *parent = nullptr);

    // True from send until every byte is handed to the socket.
    bool isBusy() const { return m_busy; }

    void send(const QByteArray &message, Ending ending);
    // A reply whose payload is the file's content. False, with nothing sent,
    // when the file cannot be opened.
    bool sendFile(int replyType, const QString &filePath, Ending ending);

signals:
    void replyWritten();

private:
    void begin(qint64 totalSize, Ending ending);
    void pump();
    QByteArray takePiece(qint64 size);
    void finish();

    QTcpSocket *m_socket;
    ReplyShaping m_shaping;
    QTimer m_pause;
    QByteArray m_head;
    qint64 m_headPosition = 0;
    QFile m_file;
    qint64 m_toSend = 0;
    bool m_busy = false;
    bool m_closeWhenDone = false;
};

} // namespace DevServer
