#include "BenchRunner.h"

#include "LoopbackPeers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <cstdio>

namespace Bench {

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 KiB = 1024;

struct TransferSize
{
    const char *label;
    qint64 bytes;
    bool hasThroughputTarget;
};
const TransferSize TransferSizes[]
    = { { "1 MiB", MiB, false }, { "64 MiB", 64 * MiB, true }, { "1 GiB", 1024 * MiB, true } };

constexpr double MinThroughputRatio = 0.9;
constexpr qint64 UploadMemoryLimitKiB = 64 * 1024;
constexpr qint64 SlowSinkBytesPerSecond = 50 * 1000 * 1000;
constexpr double DownloadMemoryAllowance = 1.1;
constexpr double MaxJobListRatio = 1.3;
constexpr int JobListRefreshes = 10;
constexpr int ResponsivenessRows = 100000;
constexpr int ResponsivenessSegmentBytes = 64 * 1024;
constexpr int ResponsivenessPauseMs = 2;
constexpr double MaxArrivalGapMs = 100;
// Memory a repeated refresh may add over the first one, as a share of what
// the first one took: allocator slack, not a growing list of leftovers.
constexpr double MaxRefreshGrowthShare = 0.1;

constexpr int ShortTimeoutMs = 60000;
constexpr int LongTimeoutMs = 180000;

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString megabytesPerSecond(const QJsonObject &result)
{
    return number(result.value(QStringLiteral("bytes")).toDouble()
                      / result.value(QStringLiteral("seconds")).toDouble() / 1e6,
                  0)
        + QStringLiteral(" MB/s");
}

QString mebibytes(double kib)
{
    return number(kib / 1024.0, 1) + QStringLiteral(" MiB");
}

QString yesNo(bool met)
{
    return met ? QStringLiteral("yes") : QStringLiteral("no");
}

double figure(const QJsonObject &result, const char *name)
{
    return result.value(QLatin1String(name)).toDouble();
}

bool failed(const QJsonObject &result)
{
    return result.contains(QStringLiteral("error"));
}

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

} // namespace

BenchRunner::BenchRunner(const QString &program)
    : m_program(program)
    , m_childEnvironment(QProcessEnvironment::systemEnvironment())
{
    m_childEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The children's settings stay in the run's own directory.
    m_childEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_workDir.filePath("config"));
}

int BenchRunner::runAll()
{
    std::printf("load average at start: %s\n", qPrintable(loadAverage()));
    std::fflush(stdout);
    if (!m_workDir.isValid() || !createArchives()) {
        std::fprintf(stderr, "cannot create the archives in a temporary directory\n");
        return 1;
    }
    measureUploads();
    measureUploadMemory();
    measureDownloads();
    measureJobLists();
    measureJobListResponsiveness();
    measureStartup();
    std::printf("load average at end: %s\n\n", qPrintable(loadAverage()));
    printTable();
    return m_allRan ? 0 : 1;
}

QJsonObject BenchRunner::runChild(const QStringList &arguments, int timeoutMs)
{
    QProcess child;
    child.setProcessEnvironment(m_childEnvironment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(m_program, arguments);
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished();
        return { { QStringLiteral("error"), QStringLiteral("timed out: ") + arguments.join(' ') } };
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject result = QJsonDocument::fromJson(lines.last()).object();
    if (result.isEmpty() || child.exitStatus() != QProcess::NormalExit)
        return { { QStringLiteral("error"), QStringLiteral("crashed: ") + arguments.join(' ') } };
    return result;
}

QJsonObject BenchRunner::bestOf(int runs, const QStringList &arguments, const QString &figureName)
{
    QJsonObject best;
    for (int run = 0; run < runs; ++run) {
        const QJsonObject result = runChild(arguments, LongTimeoutMs);
        if (failed(result))
            return result;
        if (best.isEmpty()
            || result.value(figureName).toDouble() < best.value(figureName).toDouble())
            best = result;
    }
    return best;
}

bool BenchRunner::createArchives()
{
    for (const TransferSize &size : TransferSizes) {
        QFile archive(m_workDir.filePath(QStringLiteral("archive-%1.zip").arg(size.bytes)));
        if (!archive.open(QIODevice::WriteOnly))
            return false;
        QByteArray chunk(int(MiB), Qt::Uninitialized);
        for (int i = 0; i < chunk.size(); ++i)
            chunk[i] = Pattern::byteAt(i);
        for (qint64 written = 0; written < size.bytes; written += chunk.size()) {
            if (archive.write(chunk) != chunk.size())
                return false;
        }
    }
    return true;
}

void BenchRunner::measureUploads()
{
    for (const TransferSize &size : TransferSizes) {
        const QString archive
            = m_workDir.filePath(QStringLiteral("archive-%1.zip").arg(size.bytes));
        const int runs = size.bytes > 64 * MiB ? 2 : 3;
        const QJsonObject client
            = bestOf(runs, { QStringLiteral("upload-client"), archive, QStringLiteral("0") },
                     QStringLiteral("seconds"));
        const QJsonObject baseline
            = bestOf(runs, { QStringLiteral("upload-baseline"), archive, QStringLiteral("0") },
                     QStringLiteral("seconds"));
        if (failed(client) || failed(baseline)) {
            addFailure(QStringLiteral("upload"), QLatin1String(size.label),
                       failed(client) ? client : baseline);
            continue;
        }
        const double ratio = figure(baseline, "seconds") / figure(client, "seconds");
        const bool notifyExact = figure(client, "notifyCalls") == figure(client, "notifyExpected")
            && client.value(QStringLiteral("notifyInOrder")).toBool();
        const bool met = notifyExact && (!size.hasThroughputTarget || ratio >= MinThroughputRatio);
        m_rows.append({ QStringLiteral("upload (notify %1/%2)")
                            .arg(figure(client, "notifyCalls"))
                            .arg(figure(client, "notifyExpected")),
                        QLatin1String(size.label), megabytesPerSecond(client),
                        megabytesPerSecond(baseline), number(ratio, 2),
                        mebibytes(figure(client, "peakGrowthKiB")),
                        size.hasThroughputTarget ? QStringLiteral(">= 0.9, notify once per block")
                                                 : QStringLiteral("notify once per block"),
                        yesNo(met) });
    }
}

void BenchRunner::measureUploadMemory()
{
    const TransferSize &size = TransferSizes[2];
    const QString archive = m_workDir.filePath(QStringLiteral("archive-%1.zip").arg(size.bytes));
    const QString rate = QString::number(SlowSinkBytesPerSecond);
    const QJsonObject client
        = runChild({ QStringLiteral("upload-client"), archive, rate }, LongTimeoutMs);
    if (failed(client)) {
        addFailure(QStringLiteral("upload to a slow reader"), QLatin1String(size.label), client);
        return;
    }
    const double growthKiB = figure(client, "peakGrowthKiB");
    m_rows.append({ QStringLiteral("upload to a 50 MB/s reader"), QLatin1String(size.label),
                    megabytesPerSecond(client), QStringLiteral("(reader limit 50 MB/s)"), QString(),
                    mebibytes(growthKiB), QStringLiteral("peak growth < 64 MiB"),
                    yesNo(growthKiB < UploadMemoryLimitKiB) });
}

void BenchRunner::measureDownloads()
{
    const QString output = m_workDir.filePath(QStringLiteral("result.7z"));
    for (const TransferSize &size : TransferSizes) {
        const QStringList arguments { QString::number(size.bytes), output };
        const int runs = size.bytes > 64 * MiB ? 2 : 3;
        const QJsonObject client
            = bestOf(runs, QStringList { QStringLiteral("download-client") } + arguments,
                     QStringLiteral("seconds"));
        const QJsonObject baseline
            = bestOf(runs, QStringList { QStringLiteral("download-baseline") } + arguments,
                     QStringLiteral("seconds"));
        if (failed(client) || failed(baseline)) {
            addFailure(QStringLiteral("download"), QLatin1String(size.label),
                       failed(client) ? client : baseline);
            continue;
        }
        const double ratio = figure(baseline, "seconds") / figure(client, "seconds");
        const double growthKiB = figure(client, "peakGrowthKiB");
        const bool memoryMet = growthKiB <= DownloadMemoryAllowance * (size.bytes / KiB);
        const bool intact = client.value(QStringLiteral("intact")).toBool()
            && baseline.value(QStringLiteral("intact")).toBool();
        const bool met
            = intact && memoryMet && (!size.hasThroughputTarget || ratio >= MinThroughputRatio);
        m_rows.append({ intact ? QStringLiteral("download and store")
                               : QStringLiteral("download and store (FILE DIFFERS)"),
                        QLatin1String(size.label), megabytesPerSecond(client),
                        megabytesPerSecond(baseline), number(ratio, 2), mebibytes(growthKiB),
                        size.hasThroughputTarget ? QStringLiteral(">= 0.9, peak <= size + 10%")
                                                 : QStringLiteral("peak <= size + 10%"),
                        yesNo(met) });
    }
}

void BenchRunner::measureJobLists()
{
    for (const int rows : { 1000, 10000, 100000 }) {
        const QString rowText = QString::number(rows);
        const QJsonObject client
            = bestOf(2,
                     { QStringLiteral("joblist-client"), rowText, QString::number(JobListRefreshes),
                       QStringLiteral("0"), QStringLiteral("0") },
                     QStringLiteral("firstMs"));
        const QJsonObject baseline = bestOf(
            2, { QStringLiteral("joblist-baseline"), rowText, QString::number(JobListRefreshes) },
            QStringLiteral("firstMs"));
        const QString size = QStringLiteral("%1 rows").arg(rows);
        if (failed(client) || failed(baseline)) {
            addFailure(QStringLiteral("job list"), size, failed(client) ? client : baseline);
            continue;
        }
        const bool hasTarget = rows >= 10000;
        const QString target = hasTarget ? QStringLiteral("<= 1.3") : QString();
        const double firstRatio = figure(client, "firstMs") / figure(baseline, "firstMs");
        const double repeatRatio = figure(client, "repeatMs") / figure(baseline, "repeatMs");
        const QJsonArray rss = client.value(QStringLiteral("rssKiB")).toArray();
        const double idle = figure(client, "idleKiB");
        const double afterFirst = rss.first().toDouble();
        const double afterLast = rss.last().toDouble();
        const QString memory = QStringLiteral("%1 -> %2")
                                   .arg(mebibytes(afterFirst - idle), mebibytes(afterLast - idle));
        m_rows.append({ QStringLiteral("job list, first refresh"), size,
                        number(figure(client, "firstMs"), 0) + QStringLiteral(" ms"),
                        number(figure(baseline, "firstMs"), 0) + QStringLiteral(" ms"),
                        number(firstRatio, 2), QString(), target,
                        hasTarget ? yesNo(firstRatio <= MaxJobListRatio) : QStringLiteral("-") });
        m_rows.append({ QStringLiteral("job list, later refresh"), size,
                        number(figure(client, "repeatMs"), 0) + QStringLiteral(" ms"),
                        number(figure(baseline, "repeatMs"), 0) + QStringLiteral(" ms"),
                        number(repeatRatio, 2), QString(), target,
                        hasTarget ? yesNo(repeatRatio <= MaxJobListRatio) : QStringLiteral("-") });
        const bool steady = afterLast - afterFirst <= MaxRefreshGrowthShare * (afterFirst - idle);
        m_rows.append(
            { QStringLiteral("job list memory, after refresh 1 -> %1").arg(JobListRefreshes), size,
              QString(), QString(), QString(), memory, QStringLiteral("no growth after refresh 1"),
              yesNo(steady) });
    }
}

void BenchRunner::measureJobListResponsiveness()
{
    const QJsonObject client
        = runChild({ QStringLiteral("joblist-client"), QString::number(ResponsivenessRows),
                     QStringLiteral("1"), QString::number(ResponsivenessSegmentBytes),
                     QString::number(ResponsivenessPauseMs) },
                   LongTimeoutMs);
    const QString size = QStringLiteral("%1 rows").arg(ResponsivenessRows);
    if (failed(client)) {
        addFailure(QStringLiteral("job list responsiveness"), size, client);
        return;
    }
    const double arrivalGap = figure(client, "arrivalGapMs");
    m_rows.append({ QStringLiteral("longest 10 ms tick gap: while arriving / until shown"), size,
                    QStringLiteral("%1 ms / %2 ms")
                        .arg(number(arrivalGap, 0), number(figure(client, "totalGapMs"), 0)),
                    QString(), QString(), QString(), QStringLiteral("arriving < 100 ms"),
                    yesNo(arrivalGap < MaxArrivalGapMs) });
}

void BenchRunner::measureStartup()
{
    const auto startup = [this](const QString &mode) {
        QJsonObject best;
        for (int run = 0; run < 5; ++run) {
            const QJsonObject result
                = runChild({ mode, QString::number(steadyNowNs()) }, ShortTimeoutMs);
            if (failed(result))
                return result;
            if (best.isEmpty() || figure(result, "ms") < figure(best, "ms"))
                best = result;
        }
        return best;
    };
    const QJsonObject client = startup(QStringLiteral("startup-client"));
    const QJsonObject baseline = startup(QStringLiteral("startup-baseline"));
    if (failed(client) || failed(baseline)) {
        addFailure(QStringLiteral("start-up"), QString(), failed(client) ? client : baseline);
        return;
    }
    m_rows.append({ QStringLiteral("start-up to window shown (baseline: empty widget)"), QString(),
                    number(figure(client, "ms"), 0) + QStringLiteral(" ms"),
                    number(figure(baseline, "ms"), 0) + QStringLiteral(" ms"),
                    number(figure(client, "ms") / figure(baseline, "ms"), 2), QString(),
                    QStringLiteral("report"), QStringLiteral("-") });
}

void BenchRunner::addFailure(const QString &benchmark, const QString &size,
                             const QJsonObject &result)
{
    m_allRan = false;
    m_rows.append({ benchmark, size, result.value(QStringLiteral("error")).toString(), QString(),
                    QString(), QString(), QString(), QStringLiteral("FAILED") });
}

void BenchRunner::printTable() const
{
    std::printf("| benchmark | size | client | baseline | ratio | peak memory growth | target | "
                "met |\n|---|---|---|---|---|---|---|---|\n");
    for (const ResultRow &row : m_rows) {
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", qPrintable(row.benchmark),
                    qPrintable(row.size), qPrintable(row.client), qPrintable(row.baseline),
                    qPrintable(row.ratio), qPrintable(row.memory), qPrintable(row.target),
                    qPrintable(row.met));
    }
    std::fflush(stdout);
}

} // namespace Bench
