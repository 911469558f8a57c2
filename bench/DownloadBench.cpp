#include "DownloadBench.h"

#include "BenchSupport.h"
#include "LoopbackPeers.h"

#include "gui/VLK_CalvaroClientBase.h"
#include "gui/VLK_ResultWriter.h"
#include "protocol/VLK_CalvaroClientCommands.h"
#include "protocol/VLK_MessageReader.h"
#include "protocol/VLK_Protocol.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <memory>

namespace Bench {

namespace {

constexpr int TransferTimeoutMs = 120000;
const char *const JobPath = "jobs/user/job-17/result.7z";

struct DownloadSetup
{
    qint64 payloadSize = 0;
    QString outputPath;

    bool parse(const QStringList &arguments)
    {
        if (arguments.size() != 2)
            return false;
        payloadSize = arguments.at(0).toLongLong() - VLK::MessageHeaderSize;
        outputPath = arguments.at(1);
        return payloadSize > 0;
    }
};

RequestResponder::ReplyWriter patternReply(qint64 payloadSize)
{
    Pattern::prepare();
    return [payloadSize](int fd, const QByteArray &) {
        return Pattern::writeMessage(fd, VLK::MT_DownloadJobReply, payloadSize);
    };
}

// When a download started and when its last byte was in; the processor time
// the receiving thread used until then, and the process (every thread, the
// source's included) until the result was stored.
class DownloadClock
{
public:
    void start()
    {
        m_threadCpuStarted = threadCpuSeconds();
        m_processCpuStarted = processCpuSeconds();
        m_started = Clock::now();
    }
    void markReceived()
    {
        m_received = Clock::now();
        m_receiveCpuSeconds = threadCpuSeconds() - m_threadCpuStarted;
    }
    Clock::time_point started() const { return m_started; }
    Clock::time_point received() const { return m_received; }
    double receiveCpuSeconds() const { return m_receiveCpuSeconds; }
    double processCpuSecondsSoFar() const { return processCpuSeconds() - m_processCpuStarted; }

private:
    double m_threadCpuStarted = 0;
    double m_processCpuStarted = 0;
    double m_receiveCpuSeconds = 0;
    Clock::time_point m_started;
    Clock::time_point m_received;
};

QJsonObject transferResult(const DownloadSetup &setup, const DownloadClock &clock,
                           const MemoryProbe &memory)
{
    const Clock::time_point stored = Clock::now();
    const double cpuSeconds = clock.processCpuSecondsSoFar();
    const bool intact = fileHoldsPattern(setup.outputPath, setup.payloadSize);
    QFile::remove(setup.outputPath);
    return { { QStringLiteral("seconds"), secondsBetween(clock.started(), stored) },
             { QStringLiteral("receiveSeconds"),
               secondsBetween(clock.started(), clock.received()) },
             { QStringLiteral("receiveCpuSeconds"), clock.receiveCpuSeconds() },
             { QStringLiteral("cpuSeconds"), cpuSeconds },
             { QStringLiteral("bytes"), double(setup.payloadSize) },
             { QStringLiteral("idleKiB"), double(memory.idleKiB()) },
             { QStringLiteral("peakGrowthKiB"), double(memory.peakGrowthKiB()) },
             { QStringLiteral("intact"), intact } };
}

// Writes like the client's store does: into a new file that replaces the
// target only once it is complete and on disk.
bool writeDurably(const QString &path, const char *data, qint64 size)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".part";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd == -1)
        return false;
    bool written = true;
    while (written && size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        written = n > 0;
        data += n;
        size -= n;
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    return written && ::rename(temporary.constData(), target.constData()) == 0;
}

} // namespace

bool fileHoldsPattern(const QString &path, qint64 payloadSize)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != payloadSize)
        return false;
    constexpr int Samples = 64;
    for (int i = 0; i <= Samples; ++i) {
        const qint64 offset = (payloadSize - 1) * i / Samples;
        char byte = 0;
        if (!file.seek(offset) || !file.getChar(&byte) || byte != Pattern::byteAt(offset))
            return false;
    }
    return true;
}

int runDownloadClient(const QStringList &arguments)
{
    DownloadSetup setup;
    if (!setup.parse(arguments))
        return fail(QStringLiteral("download: bad arguments"));
    RequestResponder source(patternReply(setup.payloadSize));
    VLK::CalvaroClientBase client;
    if (!source.isListening() || !connectClient(client, source.port()))
        return fail(QStringLiteral("download: no connection"));
    // The result is stored as the job panel stores it, when the reply is in.
    VLK::ResultWriter writer;
    DownloadClock clock;
    QObject::connect(&client, &VLK::CalvaroClientBase::msgReceived, [&](int type) {
        clock.markReceived();
        if (type == VLK::MT_DownloadJobReply)
            writer.write(client.m_messageBuffer, setup.outputPath);
    });
    bool finished = false;
    bool stored = false;
    QObject::connect(&writer, &VLK::ResultWriter::finished, [&](const QString &, bool written) {
        finished = true;
        stored = written;
    });

    MemoryProbe memory;
    memory.markIdle();
    const TickRecorder ticks;
    clock.start();
    if (!VLK::CalvaroClientCommands::sendStringCommand(client.m_tcpSocket, VLK::MT_DownloadJob,
                                                       QLatin1String(JobPath)))
        return fail(QStringLiteral("download: request not sent"));
    client.awaitReply(true);
    if (!runEventsUntil([&finished] { return finished; }, TransferTimeoutMs))
        return fail(QStringLiteral("download: reply incomplete or not stored"));
    if (!stored)
        return fail(QStringLiteral("download: result not stored"));
    // Until the file is stored: checking and removing it is the benchmark's.
    const double gapMs = ticks.longestGapMs(clock.started(), Clock::now());

    QJsonObject result = transferResult(setup, clock, memory);
    result.insert(QStringLiteral("gapMs"), gapMs);
    printResult(result);
    return 0;
}

int runDownloadBaseline(const QStringList &arguments)
{
    DownloadSetup setup;
    if (!setup.parse(arguments))
        return fail(QStringLiteral("download baseline: bad arguments"));
    RequestResponder source(patternReply(setup.payloadSize));
    const int fd = Socket::connectLoopback(source.port());
    if (fd == -1)
        return fail(QStringLiteral("download baseline: no connection"));

    MemoryProbe memory;
    memory.markIdle();
    DownloadClock clock;
    clock.start();
    QByteArray request;
    VLK::encodeStringCommand(QLatin1String(JobPath), VLK::MT_DownloadJob, request);
    char header[VLK::MessageHeaderSize];
    bool received = Socket::sendAll(fd, request.constData(), request.size())
        && Socket::receiveExactly(fd, header, sizeof header);
    const qint64 totalSize = received
        ? VLK::MessageReader(QByteArray::fromRawData(header, sizeof header)).readInt64()
        : 0;
    received = received && totalSize == VLK::MessageHeaderSize + setup.payloadSize;
    std::unique_ptr<char[]> message(received ? new char[size_t(totalSize)] : nullptr);
    received = received
        && Socket::receiveExactly(fd, message.get() + VLK::MessageHeaderSize, setup.payloadSize);
    Socket::close(fd);
    clock.markReceived();
    if (!received
        || !writeDurably(setup.outputPath, message.get() + VLK::MessageHeaderSize,
                         setup.payloadSize))
        return fail(QStringLiteral("download baseline: transfer incomplete"));

    printResult(transferResult(setup, clock, memory));
    return 0;
}

} // namespace Bench
