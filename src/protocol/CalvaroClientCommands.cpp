#include "protocol/CalvaroClientCommands.h"

#include "protocol/Protocol.h"
#include "protocol/UploadChannel.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>

namespace VLK {
namespace CalvaroClientCommands {

QString lastErrorMessage;

namespace {

// Unsent bytes the socket may hold during an upload before sendJob waits for
// the peer to take some: a few blocks keep the pipe full without queueing the
// whole archive in memory when the server reads slowly.
constexpr qint64 MaxQueuedUploadBytes = 4 * UploadBlockSize;

bool fail(const char *text)
{
    lastErrorMessage = QCoreApplication::translate("CalvaroClientCommands", text);
    return false;
}

bool fail(const char *text, const QString &argument)
{
    lastErrorMessage = QCoreApplication::translate("CalvaroClientCommands", text).arg(argument);
    return false;
}

bool isConnected(const QTcpSocket *socket)
{
    return socket && socket->state() == QAbstractSocket::ConnectedState;
}

bool writeMessage(QTcpSocket *socket, const QByteArray &message)
{
    if (socket->write(message) == -1)
        return fail("Error writing data to socket.");
    return true;
}

// Something of the message is out already: whatever followed would be taken
// by the server as archive bytes, so the connection has to go.
bool abandonUpload(QTcpSocket *socket, const char *text)
{
    socket->disconnectFromHost();
    return fail(text);
}

// Lets the socket drain until its queue is short again. False when the
// connection is gone or the user cancelled meanwhile.
bool waitForQueueToDrain(QTcpSocket *socket, const bool *abortFlag)
{
    socket->flush();
    while (socket->bytesToWrite() > MaxQueuedUploadBytes) {
        if (!isConnected(socket) || (abortFlag && *abortFlag))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return isConnected(socket);
}

// The MT_SubmitJob message up to the archive, its size counting the archive.
QByteArray submitHeader(const QFileInfo &archiveInfo, int slowQueue, const QString &projectFile,
                        const QString &commandLine, const QString &solverId)
{
    JobHeader job;
    job.solverId = solverId;
    job.projectFile = projectFile;
    job.zipFileName = archiveInfo.fileName();
    job.commandLine = commandLine;
    job.slowQueue = slowQueue;
    QByteArray header;
    encodeJobHeader(job, header);
    setTotalSize(header, header.size() + archiveInfo.size());
    return header;
}

// Sends the archive after its header, block by block, with a notification
// before the first block and after each one, and the cancel flag read after
// each notification.
bool streamArchive(QTcpSocket *socket, QFile &archive, qint64 fileSize, const bool *abortFlag,
                   ProgressNotification *notification)
{
    if (notification)
        notification->notify(0, fileSize);

    UploadChannel channel(*socket);
    QByteArray buffer(int(UploadBlockSize), Qt::Uninitialized);
    qint64 remaining = fileSize;
    while (remaining > 0) {
        const qint64 block = qMin(remaining, UploadBlockSize);
        remaining -= block;
        if (archive.read(buffer.data(), block) != block)
            return abandonUpload(socket, "Error reading file while sending content.");
        if (!channel.write(buffer.constData(), block))
            return abandonUpload(socket, "Error writing data to socket.");
        if (notification)
            notification->notify(fileSize - remaining, fileSize);
        if (abortFlag && *abortFlag)
            return abandonUpload(socket, "User aborted sending.");
        if (socket->bytesToWrite() > MaxQueuedUploadBytes
            && !waitForQueueToDrain(socket, abortFlag)) {
            if (abortFlag && *abortFlag)
                return abandonUpload(socket, "User aborted sending.");
            return abandonUpload(socket, "Error writing data to socket.");
        }
    }
    return true;
}

} // namespace

bool sendCommand(QTcpSocket *socket, int msgType)
{
    if (!isConnected(socket))
        return fail("Socket not connected.");
    QByteArray message;
    encodeCommand(msgType, message);
    return writeMessage(socket, message);
}

bool sendLogin(QTcpSocket *socket, const QString &userName, const QString &passwordDigest)
{
    if (!isConnected(socket))
        return fail("Socket not connected.");
    QByteArray message;
    encodeLogin(userName, passwordDigest, message);
    return writeMessage(socket, message);
}

bool sendStringCommand(QTcpSocket *socket, int msgType, const QString &text)
{
    if (!isConnected(socket))
        return fail("Socket not connected.");
    QByteArray message;
    encodeStringCommand(text, msgType, message);
    return writeMessage(socket, message);
}

bool sendJob(QTcpSocket *socket, const QString &zipFilePath, int slowQueue,
             const QString &projectFile, const QString &commandLine, const QString &solverId,
             bool *abortFlag, ProgressNotification *notification)
{
    if (!isConnected(socket))
        return fail("Socket not connected.");
    const QFileInfo archiveInfo(zipFilePath);
    if (!archiveInfo.exists())
        return fail("File '%1' not found or cannot be accessed.", zipFilePath);

    const QByteArray header
        = submitHeader(archiveInfo, slowQueue, projectFile, commandLine, solverId);
    QFile archive(zipFilePath);
    if (!archive.open(QIODevice::ReadOnly))
        return fail("Cannot open/access file '%1'.", zipFilePath);
    if (!writeMessage(socket, header))
        return false;

    if (abortFlag)
        *abortFlag = false;
    return streamArchive(socket, archive, archiveInfo.size(), abortFlag, notification);
}

} // namespace CalvaroClientCommands
} // namespace VLK
