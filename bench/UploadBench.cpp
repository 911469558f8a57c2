#include "UploadBench.h"

#include "BenchSupport.h"
#include "LoopbackPeers.h"

#include "gui/CalvaroClientBase.h"
#include "gui/SubmitProgressDialog.h"
#include "protocol/CalvaroClientCommands.h"
#include "protocol/Protocol.h"

#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>

namespace Bench {

namespace {

constexpr int TransferTimeoutMs = 120000;

// Counts the calls and checks that each reports one more block than the one
// before; each call then goes to the upload dialog's own helper, which sets
// the dialog's bar and keeps the window alive.
class CountingNotification : public VLK::CalvaroClientCommands::ProgressNotification
{
public:
    explicit CountingNotification(VLK::SubmitProgressDialog &dialog)
        : m_dialog(dialog)
    { }

    void notify(qint64 bytesSent, qint64 totalBytes) override
    {
        const qint64 expected
            = qMin(m_calls * VLK::CalvaroClientCommands::UploadBlockSize, totalBytes);
        m_inOrder = m_inOrder && bytesSent == expected;
        ++m_calls;
        m_dialog.m_notificationHelper->notify(bytesSent, totalBytes);
    }

    qint64 calls() const { return m_calls; }
    bool inOrder() const { return m_inOrder; }

private:
    VLK::SubmitProgressDialog &m_dialog;
    qint64 m_calls = 0;
    bool m_inOrder = true;
};

// One notification before the first block and one after every block.
qint64 expectedNotifyCalls(qint64 fileSize)
{
    const qint64 block = VLK::CalvaroClientCommands::UploadBlockSize;
    return 1 + (fileSize + block - 1) / block;
}

VLK::JobHeader benchJob(const QString &archivePath)
{
    VLK::JobHeader job;
    job.solverId = QStringLiteral("solver-a");
    job.projectFile = QStringLiteral("model.prj");
    job.zipFileName = QFileInfo(archivePath).fileName();
    job.commandLine = QStringLiteral("-np 4");
    return job;
}

// The MT_SubmitJob bytes in front of the archive, as the client sends them.
QByteArray submitHeader(const QString &archivePath, qint64 fileSize)
{
    QByteArray header;
    VLK::encodeJobHeader(benchJob(archivePath), header);
    VLK::setTotalSize(header, header.size() + fileSize);
    return header;
}

struct UploadSetup
{
    QString archivePath;
    qint64 fileSize = 0;
    qint64 bytesPerSecond = 0;
    QByteArray header;

    bool parse(const QStringList &arguments)
    {
        if (arguments.size() != 2)
            return false;
        archivePath = arguments.at(0);
        fileSize = QFileInfo(archivePath).size();
        bytesPerSecond = arguments.at(1).toLongLong();
        header = submitHeader(archivePath, fileSize);
        return QFileInfo::exists(archivePath);
    }
    qint64 totalBytes() const { return header.size() + fileSize; }
};

QJsonObject transferResult(const UploadSetup &setup, double seconds, double cpuSeconds,
                           const MemoryProbe &memory)
{
    return { { QStringLiteral("seconds"), seconds },
             { QStringLiteral("cpuSeconds"), cpuSeconds },
             { QStringLiteral("bytes"), double(setup.fileSize) },
             { QStringLiteral("idleKiB"), double(memory.idleKiB()) },
             { QStringLiteral("peakGrowthKiB"), double(memory.peakGrowthKiB()) } };
}

} // namespace

int runUploadClient(const QStringList &arguments)
{
    UploadSetup setup;
    if (!setup.parse(arguments))
        return fail(QStringLiteral("upload: bad arguments"));
    ByteSink sink(setup.totalBytes(), setup.bytesPerSecond);
    VLK::CalvaroClientBase client;
    if (!sink.isListening() || !connectClient(client, sink.port()))
        return fail(QStringLiteral("upload: no connection"));

    // Shown, as the window shows it in front of an upload.
    VLK::SubmitProgressDialog dialog(nullptr);
    dialog.show();
    MemoryProbe memory;
    memory.markIdle();
    CountingNotification notification(dialog);
    const VLK::JobHeader job = benchJob(setup.archivePath);
    const double cpuStarted = threadCpuSeconds();
    const Clock::time_point started = Clock::now();
    const bool sent = VLK::CalvaroClientCommands::sendJob(
        client.m_tcpSocket, setup.archivePath, job.slowQueue, job.projectFile, job.commandLine,
        job.solverId, &dialog.m_aborted, &notification);
    // What sendJob leaves queued goes out while the event loop runs.
    runEventsUntil([&client] { return client.m_tcpSocket->bytesToWrite() == 0; },
                   TransferTimeoutMs);
    const double cpuSeconds = threadCpuSeconds() - cpuStarted;
    if (!sent || !sink.waitForAll(TransferTimeoutMs))
        return fail(QStringLiteral("upload: transfer incomplete: ")
                    + VLK::CalvaroClientCommands::lastErrorMessage);

    QJsonObject result
        = transferResult(setup, secondsBetween(started, sink.lastByteAt()), cpuSeconds, memory);
    result.insert(QStringLiteral("notifyCalls"), double(notification.calls()));
    result.insert(QStringLiteral("notifyExpected"), double(expectedNotifyCalls(setup.fileSize)));
    result.insert(QStringLiteral("notifyInOrder"), notification.inOrder());
    printResult(result);
    return 0;
}

int runUploadBaseline(const QStringList &arguments)
{
    UploadSetup setup;
    if (!setup.parse(arguments))
        return fail(QStringLiteral("upload baseline: bad arguments"));
    ByteSink sink(setup.totalBytes(), setup.bytesPerSecond);
    const int fd = Socket::connectLoopback(sink.port());
    QFile archive(setup.archivePath);
    if (fd == -1 || !archive.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("upload baseline: no connection or archive"));

    MemoryProbe memory;
    memory.markIdle();
    QByteArray block(int(VLK::CalvaroClientCommands::UploadBlockSize), Qt::Uninitialized);
    const double cpuStarted = threadCpuSeconds();
    const Clock::time_point started = Clock::now();
    bool sent = Socket::sendAll(fd, setup.header.constData(), setup.header.size());
    for (qint64 n = 0; sent && (n = archive.read(block.data(), block.size())) > 0;)
        sent = Socket::sendAll(fd, block.constData(), n);
    const double cpuSeconds = threadCpuSeconds() - cpuStarted;
    const bool complete = sent && sink.waitForAll(TransferTimeoutMs);
    Socket::close(fd);
    if (!complete)
        return fail(QStringLiteral("upload baseline: transfer incomplete"));

    printResult(
        transferResult(setup, secondsBetween(started, sink.lastByteAt()), cpuSeconds, memory));
    return 0;
}

} // namespace Bench
