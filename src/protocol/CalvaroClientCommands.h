#pragma once

#include <QString>

class QTcpSocket;

// Functions that put one request on the wire. They never wait for the reply:
// the caller awaits it after a successful send. Each failure leaves its reason
// in lastErrorMessage.
namespace VLK {
namespace CalvaroClientCommands {

extern QString lastErrorMessage;

// Receives upload progress from sendJob, once before the first block and after every block.
class ProgressNotification
{
public:
    ProgressNotification() = default;
    virtual ~ProgressNotification() = default;
    Q_DISABLE_COPY(ProgressNotification)
    virtual void notify(qint64 bytesSent, qint64 totalBytes) = 0;
};

// Size of the blocks in which sendJob streams an archive.
constexpr qint64 UploadBlockSize = 64000;

bool sendCommand(QTcpSocket *socket, int msgType);
bool sendLogin(QTcpSocket *socket, const QString &userName, const QString &passwordDigest);
bool sendStringCommand(QTcpSocket *socket, int msgType, const QString &text);
// Streams the archive at zipFilePath as an MT_SubmitJob. abortFlag and
// notification may be null; the flag is cleared once the header is out and
// checked after every block.
bool sendJob(QTcpSocket *socket, const QString &zipFilePath, int slowQueue,
             const QString &projectFile, const QString &commandLine, const QString &solverId,
             bool *abortFlag, ProgressNotification *notification);

} // namespace CalvaroClientCommands
} // namespace VLK
