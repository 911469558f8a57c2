#include "BenchRunner.h"

#include "BenchSupport.h"
#include "LoopbackPeers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QVector>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include <unistd.h>

namespace Bench {

namespace {

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * KiB;

struct TransferSize
{
    const char *label;
    qint64 bytes;
    bool hasThroughputTarget;
    int runs;
};
const TransferSize TransferSizes[] = { { "1 MiB", MiB, false, 5 },
                                       { "64 MiB", 64 * MiB, true, 8 },
                                       { "1 GiB", 1024 * MiB, true, 5 } };
const TransferSize &LargestTransfer = TransferSizes[2];

constexpr double MinThroughputRatio = 0.9;
constexpr double MaxReceiveCpuRatio = 1.2;
constexpr double MaxDownloadGapMs = 100;
constexpr qint64 UploadMemoryLimitKiB = 64 * KiB;
constexpr qint64 SlowReaderBytesPerSecond = 50 * 1000 * 1000;
constexpr qint64 DownloadMemoryLimitKiB = 64 * KiB;

const int JobListRows[] = { 1000, 10000, 100000 };
constexpr int JobListTargetRows = 10000;
constexpr double MaxJobListRatio = 1.3;
constexpr int JobListRefreshes = 10;
constexpr int JobListRuns = 2;
// Memory a later refresh may add over the first one: a share of what the
// first one took and a small amount for small lists, allocator slack rather
// than a growing heap of leftovers.
constexpr double MaxRefreshGrowthShare = 0.1;
constexpr double RefreshGrowthSlackKiB = 2 * KiB;

// The refresh with finished jobs announced against the same without, in
// alternating runs; every later refresh of every run counts.
constexpr int NotificationRows = 100000;
constexpr int NotificationRuns = 3;
constexpr double MaxNotificationRatio = 1.05;
// The window's refresh with a journal of a study's size against none. A
// refresh of this size takes a few milliseconds, and this machine runs a
// process now and then at half its speed throughout: more runs make sure
// that each side has a few at full speed.
constexpr int JournalledJobs = 1000;
constexpr int JournalRefreshRows = 10000;
constexpr int JournalRuns = 8;

// Typing into the job table's filter over a long list, and refreshing that
// list with a filter on against the same without, in alternating runs.
constexpr int FilterRows = 100000;
constexpr int FilterKeystrokes = 20;
constexpr double MaxFilterKeyMs = 50;
constexpr int FilterRuns = 3;
constexpr double MaxFilteredRefreshRatio = 1.1;
// One user's jobs of the seven in the list: most rows are looked through
// in every column before they are hidden.
const char *const RefreshFilter = "filter:user3";

constexpr int ResponsivenessRows = 100000;
constexpr int ResponsivenessSegmentBytes = 64 * 1024;
constexpr int ResponsivenessPauseMs = 2;
constexpr double MaxArrivalGapMs = 100;

constexpr int StartupRuns = 5;

constexpr int CliDownloadRuns = 5;
constexpr qint64 CliDownloadMemoryLimitKiB = 64 * KiB;

constexpr int LongTimeoutMs = 180000;
// What a restart may take beyond its period: the backoff's wait and the login.
constexpr int RestartSlackSeconds = 90;

// A parameter study's results fetched by calvaro sync.
constexpr int StudyJobs = 50;
const char *const StudyResultSize = "10M";
constexpr int JournalSyncRuns = 3;
constexpr double MaxSyncRatio = 1.2;
// calvaro sync killed again and again, then started once more.
constexpr int KilledSyncJobs = 20;
const char *const KilledSyncResultSize = "16M";
constexpr int SyncKills = 40;
// Setting up a study submits and processes all its jobs first.
constexpr int JournalTimeoutMs = 1200000;

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

double figure(const QJsonObject &result, const char *name)
{
    return result.value(QLatin1String(name)).toDouble();
}

QString megabytesPerSecond(const QJsonObject &result, const char *secondsName)
{
    return number(figure(result, "bytes") / figure(result, secondsName) / 1e6, 0)
        + QStringLiteral(" MB/s");
}

QString milliseconds(double ms)
{
    return number(ms, 0) + QStringLiteral(" ms");
}

QString mebibytes(double kib)
{
    return number(kib / 1024.0, 1) + QStringLiteral(" MiB");
}

// The client's peak growth, with the baseline's for comparison.
QString peakGrowth(const QJsonObject &client, const QJsonObject &baseline)
{
    return QStringLiteral("%1 (baseline %2)")
        .arg(mebibytes(figure(client, "peakGrowthKiB")),
             mebibytes(figure(baseline, "peakGrowthKiB")));
}

QString yesNo(bool met)
{
    return met ? QStringLiteral("yes") : QStringLiteral("no");
}

bool failed(const QJsonObject &result)
{
    return result.contains(QStringLiteral("error"));
}

QJsonObject failure(const QString &text)
{
    return { { QStringLiteral("error"), text } };
}

bool isBetter(const QJsonObject &candidate, const QJsonObject &best, const QString &figureName,
              BenchRunner::Extreme extreme)
{
    if (best.isEmpty())
        return true;
    const double candidateFigure = candidate.value(figureName).toDouble();
    const double bestFigure = best.value(figureName).toDouble();
    return extreme == BenchRunner::Extreme::Smallest ? candidateFigure < bestFigure
                                                     : candidateFigure > bestFigure;
}

// Smallest, middle and largest of a set of figures.
struct Spread
{
    double min = 0;
    double median = 0;
    double max = 0;

    explicit Spread(QVector<double> values)
    {
        std::sort(values.begin(), values.end());
        const int n = values.size();
        min = values.first();
        max = values.last();
        median = n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
    }
    QString text(int decimals, const QString &unit = QString()) const
    {
        return QStringLiteral("%1%4 (min %2, max %3)")
            .arg(number(median, decimals), number(min, decimals), number(max, decimals), unit);
    }
};

// One figure of one side over all pairs.
QVector<double> figures(const QList<BenchRunner::Pair> &pairs, bool client, const char *name)
{
    QVector<double> values;
    for (const BenchRunner::Pair &pair : pairs)
        values << figure(client ? pair.client : pair.baseline, name);
    return values;
}

// Per pair: the client's throughput over the baseline's, from the seconds
// each side took.
Spread throughputRatios(const QList<BenchRunner::Pair> &pairs, const char *secondsName)
{
    QVector<double> ratios;
    for (const BenchRunner::Pair &pair : pairs)
        ratios << figure(pair.baseline, secondsName) / figure(pair.client, secondsName);
    return Spread(ratios);
}

// Median throughput and median processor time of one side.
QString medianThroughput(const QList<BenchRunner::Pair> &pairs, bool client,
                         const char *secondsName, const char *cpuName = nullptr)
{
    const double bytes = figure(client ? pairs.first().client : pairs.first().baseline, "bytes");
    const QString throughput
        = number(bytes / Spread(figures(pairs, client, secondsName)).median / 1e6, 0)
        + QStringLiteral(" MB/s");
    if (!cpuName)
        return throughput;
    return QStringLiteral("%1 (CPU %2 ms)")
        .arg(throughput, number(Spread(figures(pairs, client, cpuName)).median * 1000, 0));
}

QString ratioWithRuns(const Spread &ratios, int pairs)
{
    return QStringLiteral("%1; %2 pairs").arg(ratios.text(2)).arg(pairs);
}

// A transfer row: the median throughput and processor time of each side, the
// ratios of all pairs, and the peak memory growth of the given pair.
ResultRow transferRow(const QString &benchmark, const TransferSize &size,
                      const QList<BenchRunner::Pair> &pairs, const Spread &ratios,
                      const BenchRunner::Pair &peak, const QString &target, bool met)
{
    return { benchmark,
             QLatin1String(size.label),
             medianThroughput(pairs, true, "seconds", "cpuSeconds"),
             medianThroughput(pairs, false, "seconds", "cpuSeconds"),
             ratioWithRuns(ratios, pairs.size()),
             peakGrowth(peak.client, peak.baseline),
             target,
             yesNo(met) };
}

// The later refreshes of a job list child, all of them.
void appendLaterRefreshes(const QJsonObject &result, const char *name,
                          std::vector<double> &refreshMs)
{
    const QJsonArray all = result.value(QLatin1String(name)).toArray();
    for (int i = 1; i < all.size(); ++i)
        refreshMs.push_back(all.at(i).toDouble());
}

// Smallest, median and largest.
std::array<double, 3> spread(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return { values.front(), values[values.size() / 2], values.back() };
}

QString spreadText(const std::array<double, 3> &values)
{
    return QStringLiteral("%1 / %2 / %3 ms")
        .arg(number(values[0], 0), number(values[1], 0), number(values[2], 0));
}

qint64 steadyClockNs()
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

// Resident memory over idle after the first, the second and the last refresh.
struct RefreshMemory
{
    double afterFirstKiB = 0;
    double afterSecondKiB = 0;
    double afterLastKiB = 0;

    explicit RefreshMemory(const QJsonObject &result)
    {
        const QJsonArray rss = result.value(QStringLiteral("rssKiB")).toArray();
        const double idle = figure(result, "idleKiB");
        afterFirstKiB = rss.first().toDouble() - idle;
        afterSecondKiB = rss.at(qMin(1, rss.size() - 1)).toDouble() - idle;
        afterLastKiB = rss.last().toDouble() - idle;
    }
    bool isSteady() const
    {
        return afterLastKiB - afterFirstKiB
            <= MaxRefreshGrowthShare * afterFirstKiB + RefreshGrowthSlackKiB;
    }
    QString text() const
    {
        return QStringLiteral("%1 / %2 / %3")
            .arg(mebibytes(afterFirstKiB), mebibytes(afterSecondKiB), mebibytes(afterLastKiB));
    }
};

} // namespace

bool BenchRunner::Pair::failed() const
{
    return Bench::failed(client) || Bench::failed(baseline);
}

QJsonObject BenchRunner::Pair::failure() const
{
    return Bench::failed(client) ? client : baseline;
}

BenchRunner::BenchRunner(const QString &program)
    : m_program(program)
    , m_childEnvironment(QProcessEnvironment::systemEnvironment())
{
    m_childEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The children's settings stay in the run's own directory.
    m_childEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                              m_workDir.filePath(QStringLiteral("config")));
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
    measureCliDownload();
    measureJobLists();
    measureJobListNotifications();
    measureJobListResponsiveness();
    measureFilterTyping();
    measureFilteredRefresh();
    measureStartup();
    measureJobListWithJournal();
    measureJournalSync();
    measureKilledSync();
    std::printf("load average at end: %s\n\n", qPrintable(loadAverage()));
    printTable();
    return m_allRan ? 0 : 1;
}

int BenchRunner::runJournalOnly()
{
    std::printf("load average at start: %s\n", qPrintable(loadAverage()));
    std::fflush(stdout);
    measureJobListWithJournal();
    measureJournalSync();
    measureKilledSync();
    std::printf("load average at end: %s\n\n", qPrintable(loadAverage()));
    printTable();
    return m_allRan ? 0 : 1;
}

int BenchRunner::runDownloadsOnly(bool windowToo)
{
    std::printf("load average at start: %s\n", qPrintable(loadAverage()));
    std::fflush(stdout);
    if (windowToo)
        measureDownloads();
    measureCliDownload();
    std::printf("load average at end: %s\n\n", qPrintable(loadAverage()));
    printTable();
    return m_allRan ? 0 : 1;
}

int BenchRunner::runRestarts(int restarts, int periodSeconds)
{
    std::printf("load average at start: %s\n", qPrintable(loadAverage()));
    std::fflush(stdout);
    const int timeoutMs = restarts * (periodSeconds + RestartSlackSeconds) * 1000 + LongTimeoutMs;
    const QJsonObject result
        = runChild({ QStringLiteral("restarts-client"), QString::number(restarts),
                     QString::number(periodSeconds) },
                   timeoutMs);
    std::printf("load average at end: %s\n\n", qPrintable(loadAverage()));
    const QString benchmark
        = QStringLiteral("idle window through server restarts, auto-refresh 1 s");
    const QString size
        = QStringLiteral("10,000 jobs, %1 restarts, one per %2 s").arg(restarts).arg(periodSeconds);
    if (failed(result)) {
        addFailure(benchmark, size, result);
        printTable();
        return 1;
    }
    const double first = figure(result, "firstRefreshKiB");
    const double last = figure(result, "lastRefreshKiB");
    const bool flat = last - first <= first * MaxRefreshGrowthShare + RefreshGrowthSlackKiB;
    m_rows.append({ benchmark, size,
                    QStringLiteral("refresh 1: %1, refresh %2: %3; logged in again at most %4 "
                                   "after a restart; no message box")
                        .arg(mebibytes(first))
                        .arg(figure(result, "refreshes"))
                        .arg(mebibytes(last), milliseconds(figure(result, "longestReloginMs"))),
                    QStringLiteral("-"), QStringLiteral("-"), mebibytes(last - first),
                    QStringLiteral("last refresh within 10% + 2 MiB of the first; no message box"),
                    yesNo(flat) });
    printTable();
    const auto printLines = [&](const char *heading, const char *name) {
        std::printf("\n%s\n", heading);
        const QJsonArray lines = result.value(QLatin1String(name)).toArray();
        for (const auto &line : lines)
            std::printf("    %s\n", qPrintable(line.toString()));
    };
    printLines("The window's status log:", "statusLog");
    printLines("The server's request log before the first kill:", "serverLogBeforeKill");
    printLines("The server's request log from the first restart on:", "serverLogAfterRestart");
    std::fflush(stdout);
    return 0;
}

int BenchRunner::runFilterOnly()
{
    std::printf("load average at start: %s\n", qPrintable(loadAverage()));
    std::fflush(stdout);
    measureFilterTyping();
    measureFilteredRefresh();
    std::printf("load average at end: %s\n\n", qPrintable(loadAverage()));
    printTable();
    return m_allRan ? 0 : 1;
}

QJsonObject BenchRunner::runChild(QStringList arguments, int timeoutMs, bool startTimeArgument)
{
    // Files the previous child wrote would otherwise still be on their way to
    // the disk while this one syncs its own.
    ::sync();
    if (startTimeArgument)
        arguments << QString::number(steadyClockNs());
    QProcess child;
    child.setProcessEnvironment(m_childEnvironment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(m_program, arguments);
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished();
        return failure(QStringLiteral("timed out: ") + arguments.join(QLatin1Char(' ')));
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject result = QJsonDocument::fromJson(lines.last()).object();
    if (result.isEmpty() || child.exitStatus() != QProcess::NormalExit)
        return failure(QStringLiteral("crashed: ") + arguments.join(QLatin1Char(' ')));
    return result;
}

QList<BenchRunner::Pair> BenchRunner::alternate(int runs, const QStringList &clientArguments,
                                                const QStringList &baselineArguments,
                                                bool startTimeArgument)
{
    QList<Pair> pairs;
    for (int run = 0; run < runs; ++run) {
        const Pair pair { runChild(clientArguments, LongTimeoutMs, startTimeArgument),
                          runChild(baselineArguments, LongTimeoutMs, startTimeArgument) };
        if (pair.failed())
            return { pair };
        pairs << pair;
    }
    return pairs;
}

QList<BenchRunner::Pair> BenchRunner::alternateTransfer(const QString &mode,
                                                        const QString &baselineMode,
                                                        const char *sizeLabel, int runs,
                                                        const QStringList &arguments)
{
    const QList<Pair> pairs
        = alternate(runs, QStringList { mode + QStringLiteral("-client") } + arguments,
                    QStringList { baselineMode } + arguments);
    if (!pairs.first().failed())
        return pairs;
    addFailure(mode, QLatin1String(sizeLabel), pairs.first().failure());
    return {};
}

BenchRunner::Pair BenchRunner::best(const QList<Pair> &pairs, const QString &figureName,
                                    Extreme extreme)
{
    Pair best;
    for (const Pair &pair : pairs) {
        if (pair.failed())
            return pair;
        if (isBetter(pair.client, best.client, figureName, extreme))
            best.client = pair.client;
        if (isBetter(pair.baseline, best.baseline, figureName, extreme))
            best.baseline = pair.baseline;
    }
    return best;
}

QString BenchRunner::archivePath(qint64 bytes) const
{
    return m_workDir.filePath(QStringLiteral("archive-%1.zip").arg(bytes));
}

bool BenchRunner::createArchives()
{
    QByteArray chunk(int(MiB), Qt::Uninitialized);
    for (int i = 0; i < chunk.size(); ++i)
        chunk[i] = Pattern::byteAt(i);
    for (const TransferSize &size : TransferSizes) {
        QFile archive(archivePath(size.bytes));
        if (!archive.open(QIODevice::WriteOnly))
            return false;
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
        const QStringList arguments { archivePath(size.bytes), QStringLiteral("0") };
        const QList<Pair> pairs
            = alternateTransfer(QStringLiteral("upload"), QStringLiteral("upload-baseline"),
                                size.label, size.runs, arguments);
        if (pairs.isEmpty())
            continue;
        const Spread ratios = throughputRatios(pairs, "seconds");
        bool notifiedPerBlock = true;
        for (const Pair &pair : pairs)
            notifiedPerBlock = notifiedPerBlock
                && figure(pair.client, "notifyCalls") == figure(pair.client, "notifyExpected")
                && pair.client.value(QStringLiteral("notifyInOrder")).toBool();
        const bool met = notifiedPerBlock
            && (!size.hasThroughputTarget || ratios.median >= MinThroughputRatio);
        const Pair peak = best(pairs, QStringLiteral("peakGrowthKiB"));
        m_rows.append(transferRow(QStringLiteral("upload (notify calls %1 of %2 expected)")
                                      .arg(figure(pairs.first().client, "notifyCalls"))
                                      .arg(figure(pairs.first().client, "notifyExpected")),
                                  size, pairs, ratios, peak,
                                  size.hasThroughputTarget
                                      ? QStringLiteral("median >= 0.9, notify once per block")
                                      : QStringLiteral("notify once per block"),
                                  met));
        if (&size == &LargestTransfer)
            addCpuPerGiB(QStringLiteral("upload, CPU per GiB of the sending thread"), pairs,
                         "cpuSeconds", 0);
    }
}

void BenchRunner::measureUploadMemory()
{
    const TransferSize &size = TransferSizes[2];
    const QJsonObject client = runChild({ QStringLiteral("upload-client"), archivePath(size.bytes),
                                          QString::number(SlowReaderBytesPerSecond) },
                                        LongTimeoutMs);
    if (failed(client)) {
        addFailure(QStringLiteral("upload to a slow reader"), QLatin1String(size.label), client);
        return;
    }
    const double growthKiB = figure(client, "peakGrowthKiB");
    m_rows.append({ QStringLiteral("upload to a reader taking 50 MB/s"), QLatin1String(size.label),
                    megabytesPerSecond(client, "seconds"), QString(), QString(),
                    mebibytes(growthKiB), QStringLiteral("peak growth < 64 MiB"),
                    yesNo(growthKiB < UploadMemoryLimitKiB) });
}

void BenchRunner::measureDownloads()
{
    const QString output = m_workDir.filePath(QStringLiteral("result.7z"));
    for (const TransferSize &size : TransferSizes) {
        const QStringList arguments { QString::number(size.bytes), output };
        const QList<Pair> pairs = alternateTransfer(QStringLiteral("download"),
                                                    QStringLiteral("download-streamed-baseline"),
                                                    size.label, size.runs, arguments);
        if (pairs.isEmpty())
            continue;
        m_rows.append({ QStringLiteral("download, received (part of the row below)"),
                        QLatin1String(size.label), medianThroughput(pairs, true, "receiveSeconds"),
                        medianThroughput(pairs, false, "receiveSeconds"),
                        ratioWithRuns(throughputRatios(pairs, "receiveSeconds"), pairs.size()),
                        QString(), QStringLiteral("report"), QStringLiteral("-") });

        const Spread ratios = throughputRatios(pairs, "seconds");
        // The bound holds only if the largest growth of all runs stays below it.
        const Pair peak = best(pairs, QStringLiteral("peakGrowthKiB"), Extreme::Largest);
        const bool memoryMet = figure(peak.client, "peakGrowthKiB") < DownloadMemoryLimitKiB;
        bool intact = true;
        for (const Pair &pair : pairs)
            intact = intact && pair.client.value(QStringLiteral("intact")).toBool()
                && pair.baseline.value(QStringLiteral("intact")).toBool();
        const bool met = intact && memoryMet
            && (!size.hasThroughputTarget || ratios.median >= MinThroughputRatio);
        m_rows.append(transferRow(
            intact ? QStringLiteral("download, received and stored (CPU: the process; memory: "
                                    "largest growth)")
                   : QStringLiteral("download, received and stored (FILE DIFFERS)"),
            size, pairs, ratios, peak,
            size.hasThroughputTarget ? QStringLiteral("median >= 0.9, peak growth < 64 MiB")
                                     : QStringLiteral("peak growth < 64 MiB"),
            met));
        if (&size == &LargestTransfer)
            addDownloadCpuAndGap(pairs);
    }
}

// calvaro download against a plain socket that streams into a file, in
// turns; every run's ratio counts, since the machine's load varies from one
// to the next, and the largest memory growth is the one that matters.
void BenchRunner::measureCliDownload()
{
    const TransferSize &size = TransferSizes[2];
    const QString output = m_workDir.filePath(QStringLiteral("result.7z"));
    const QStringList arguments { QString::number(size.bytes), output };
    QList<double> ratios;
    QList<double> clientRates;
    QList<double> baselineRates;
    double growthKiB = 0;
    bool intact = true;
    for (int run = 0; run < CliDownloadRuns; ++run) {
        const QJsonObject client
            = runChild(QStringList { QStringLiteral("download-cli") } + arguments
                           + QStringList { QStringLiteral(CALVARO_CLI) },
                       LongTimeoutMs);
        const QJsonObject baseline
            = runChild(QStringList { QStringLiteral("download-streamed-baseline") } + arguments,
                       LongTimeoutMs);
        if (failed(client) || failed(baseline)) {
            addFailure(QStringLiteral("calvaro download"), QLatin1String(size.label),
                       failed(client) ? client : baseline);
            return;
        }
        clientRates.append(figure(client, "bytes") / figure(client, "seconds") / 1e6);
        baselineRates.append(figure(baseline, "bytes") / figure(baseline, "seconds") / 1e6);
        ratios.append(clientRates.constLast() / baselineRates.constLast());
        growthKiB = qMax(growthKiB, figure(client, "peakGrowthKiB"));
        intact = intact && client.value(QStringLiteral("intact")).toBool();
    }
    for (QList<double> *figures : { &ratios, &clientRates, &baselineRates })
        std::sort(figures->begin(), figures->end());
    const auto spread = [](const QList<double> &sorted, int decimals) {
        return QStringLiteral("%1 / %2 / %3")
            .arg(number(sorted.constFirst(), decimals),
                 number(sorted.at(sorted.size() / 2), decimals),
                 number(sorted.constLast(), decimals));
    };
    const double medianRatio = ratios.at(ratios.size() / 2);
    m_rows.append(
        { intact
              ? QStringLiteral("calvaro download, %1 runs: min / median / max").arg(CliDownloadRuns)
              : QStringLiteral("calvaro download (FILE DIFFERS)"),
          QLatin1String(size.label), spread(clientRates, 0) + QStringLiteral(" MB/s"),
          spread(baselineRates, 0) + QStringLiteral(" MB/s"), spread(ratios, 2),
          mebibytes(growthKiB) + QStringLiteral(" (largest)"),
          QStringLiteral("median >= 0.9, peak growth < 64 MiB"),
          yesNo(intact && medianRatio >= MinThroughputRatio
                && growthKiB < CliDownloadMemoryLimitKiB) });
}

void BenchRunner::addDownloadCpuAndGap(const QList<Pair> &pairs)
{
    addCpuPerGiB(
        QStringLiteral("download, CPU per GiB of the receiving thread until the last byte is in "
                       "the file"),
        pairs, "receiveCpuSeconds", MaxReceiveCpuRatio);
    const Spread gaps(figures(pairs, true, "gapMs"));
    m_rows.append({ QStringLiteral("longest gap of a 10 ms timer in the window during a download, "
                                   "storing included"),
                    QLatin1String(LargestTransfer.label), gaps.text(0, QStringLiteral(" ms")),
                    QString(), QString(), QString(), QStringLiteral("median < 100 ms"),
                    yesNo(gaps.median < MaxDownloadGapMs) });
}

// Processor time per GiB, client over baseline per pair; maxRatio 0 for a
// figure that is only reported.
void BenchRunner::addCpuPerGiB(const QString &benchmark, const QList<Pair> &pairs,
                               const char *cpuName, double maxRatio)
{
    const double gib = figure(pairs.first().client, "bytes") / double(1024 * MiB);
    QVector<double> ratios;
    for (const Pair &pair : pairs)
        ratios << figure(pair.client, cpuName) / figure(pair.baseline, cpuName);
    const Spread ratio(ratios);
    const auto perGiB = [&](bool client) {
        return number(Spread(figures(pairs, client, cpuName)).median / gib, 2)
            + QStringLiteral(" s");
    };
    m_rows.append({ benchmark, QLatin1String(LargestTransfer.label), perGiB(true), perGiB(false),
                    ratioWithRuns(ratio, pairs.size()), QString(),
                    maxRatio > 0 ? QStringLiteral("median <= %1").arg(number(maxRatio, 1))
                                 : QStringLiteral("report"),
                    maxRatio > 0 ? yesNo(ratio.median <= maxRatio) : QStringLiteral("-") });
}

void BenchRunner::measureJobLists()
{
    for (const int rows : JobListRows) {
        const QString rowText = QString::number(rows);
        const QString refreshes = QString::number(JobListRefreshes);
        const QString size = QStringLiteral("%1 rows").arg(rows);
        const auto measure = [&](const char *lists) {
            return best(
                alternate(JobListRuns,
                          { QStringLiteral("joblist-client"), rowText, refreshes,
                            QStringLiteral("0"), QStringLiteral("0"), QLatin1String(lists) },
                          { QStringLiteral("joblist-baseline"), rowText, refreshes }),
                QStringLiteral("firstMs"));
        };
        const Pair same = measure("same");
        const Pair changing = measure("changing");
        if (same.failed() || changing.failed()) {
            addFailure(QStringLiteral("job list"), size,
                       same.failed() ? same.failure() : changing.failure());
            continue;
        }
        const bool hasTarget = rows >= JobListTargetRows;
        const auto addTimes
            = [&](const QString &benchmark, const Pair &pair, const char *figureName) {
                  const double ratio
                      = figure(pair.client, figureName) / figure(pair.baseline, figureName);
                  m_rows.append(
                      { benchmark, size, milliseconds(figure(pair.client, figureName)),
                        milliseconds(figure(pair.baseline, figureName)), number(ratio, 2),
                        QString(), hasTarget ? QStringLiteral("<= 1.3") : QStringLiteral("report"),
                        hasTarget ? yesNo(ratio <= MaxJobListRatio) : QStringLiteral("-") });
              };
        addTimes(QStringLiteral("job list, first refresh"), same, "firstMs");
        addTimes(QStringLiteral("job list, later refreshes, same list (fastest)"), same,
                 "repeatMs");
        addTimes(QStringLiteral("job list, later refreshes, every line changed (fastest)"),
                 changing, "repeatMs");

        for (const Pair *pair : { &same, &changing }) {
            const RefreshMemory panel(pair->client);
            const RefreshMemory bare(pair->baseline);
            m_rows.append({ QStringLiteral("job list memory over idle after refresh 1 / 2 / %1, %2")
                                .arg(JobListRefreshes)
                                .arg(pair == &same ? QStringLiteral("same list")
                                                   : QStringLiteral("every line changed")),
                            size, panel.text(), bare.text(), QString(), QString(),
                            QStringLiteral("refresh 10 within 10% + 2 MiB of refresh 1"),
                            yesNo(panel.isSteady()) });
        }
    }
}

// Later refreshes of the "every line changed" list with an option of the
// job list child (client) and with another (baseline), alternating runs.
bool BenchRunner::compareJobListOption(const QString &onOption, const QString &offOption,
                                       const QString &comparison, int rows, int runs)
{
    const QString size = QStringLiteral("%1 rows").arg(rows);
    std::vector<double> onMs, offMs, onCpuMs, offCpuMs;
    for (int run = 0; run < runs; ++run) {
        for (const QString &option : { onOption, offOption }) {
            const QJsonObject result
                = runChild({ QStringLiteral("joblist-client"), QString::number(rows),
                             QString::number(JobListRefreshes), QStringLiteral("0"),
                             QStringLiteral("0"), QStringLiteral("changing"), option },
                           LongTimeoutMs);
            if (failed(result)) {
                addFailure(QStringLiteral("job list, ") + comparison, size, result);
                return false;
            }
            const bool on = option == onOption;
            appendLaterRefreshes(result, "refreshMs", on ? onMs : offMs);
            appendLaterRefreshes(result, "refreshCpuMs", on ? onCpuMs : offCpuMs);
        }
    }
    const auto addSpread = [&](const QString &measured, const std::vector<double> &onValues,
                               const std::vector<double> &offValues) {
        const std::array<double, 3> on = spread(onValues);
        const std::array<double, 3> off = spread(offValues);
        const double ratio = on[0] / off[0];
        m_rows.append({ QStringLiteral("job list, later refreshes, every line changed, %1, %2: "
                                       "min / median / max, ratio of the minima (of the medians)")
                            .arg(measured, comparison),
                        size, spreadText(on), spreadText(off),
                        QStringLiteral("%1 (%2)").arg(number(ratio, 2), number(on[1] / off[1], 2)),
                        QString(), QStringLiteral("<= 1.05"),
                        yesNo(ratio <= MaxNotificationRatio) });
    };
    addSpread(QStringLiteral("time"), onMs, offMs);
    // The window's thread alone, which a busy machine disturbs far less.
    addSpread(QStringLiteral("processor time"), onCpuMs, offCpuMs);
    return true;
}

void BenchRunner::measureJobListWithJournal()
{
    compareJobListOption(QStringLiteral("journal:%1").arg(JournalledJobs),
                         QStringLiteral("journal:0"),
                         QStringLiteral("%1 of the user's jobs journalled (client) or no journal "
                                        "(baseline)")
                             .arg(JournalledJobs),
                         JournalRefreshRows, JournalRuns);
}

void BenchRunner::measureJobListNotifications()
{
    const QString size = QStringLiteral("%1 rows").arg(NotificationRows);
    if (!compareJobListOption(QStringLiteral("notify-on"), QStringLiteral("notify-off"),
                              QStringLiteral("finished jobs announced (client) or not (baseline)"),
                              NotificationRows, NotificationRuns))
        return;

    const QJsonObject alone
        = runChild({ QStringLiteral("joblist-watch"), QString::number(NotificationRows),
                     QString::number(JobListRefreshes) },
                   LongTimeoutMs);
    if (failed(alone)) {
        addFailure(QStringLiteral("comparison of finished jobs alone"), size, alone);
        return;
    }
    std::vector<double> compareMs, updateMs;
    appendLaterRefreshes(alone, "compareMs", compareMs);
    appendLaterRefreshes(alone, "updateMs", updateMs);
    m_rows.append({ QStringLiteral("comparison of finished jobs alone (client) and the update of "
                                   "the shown list before it (baseline), every line changed, "
                                   "processor time: min / median / max"),
                    size, spreadText(spread(compareMs)), spreadText(spread(updateMs)), QString(),
                    QString(), QStringLiteral("report"), QStringLiteral("-") });
}

void BenchRunner::measureFilterTyping()
{
    const QString size = QStringLiteral("%1 rows").arg(FilterRows);
    const QJsonObject result
        = runChild({ QStringLiteral("joblist-filter-typing"), QString::number(FilterRows),
                     QString::number(FilterKeystrokes) },
                   LongTimeoutMs);
    if (failed(result)) {
        addFailure(QStringLiteral("typing into the job filter"), size, result);
        return;
    }
    std::vector<double> keyMs;
    for (const QJsonValue value : result.value(QStringLiteral("keyMs")).toArray())
        keyMs.push_back(value.toDouble());
    const double medianMs = figure(result, "medianMs");
    m_rows.append(
        { QStringLiteral("typing one character into the job filter, key to table "
                         "painted: median of %1 keys (min / median / max)")
              .arg(FilterKeystrokes),
          size, QStringLiteral("%1 (%2)").arg(milliseconds(medianMs), spreadText(spread(keyMs))),
          QString(), QString(), QString(),
          QStringLiteral("median < %1 ms").arg(number(MaxFilterKeyMs, 0)),
          yesNo(medianMs < MaxFilterKeyMs) });
}

void BenchRunner::measureFilteredRefresh()
{
    const QString size = QStringLiteral("%1 rows").arg(FilterRows);
    std::vector<double> filteredMs, plainMs;
    for (int run = 0; run < FilterRuns; ++run) {
        for (const bool filtered : { true, false }) {
            QStringList arguments = { QStringLiteral("joblist-client"),
                                      QString::number(FilterRows),
                                      QString::number(JobListRefreshes),
                                      QStringLiteral("0"),
                                      QStringLiteral("0"),
                                      QStringLiteral("changing") };
            if (filtered)
                arguments << QLatin1String(RefreshFilter);
            const QJsonObject result = runChild(arguments, LongTimeoutMs);
            if (failed(result)) {
                addFailure(QStringLiteral("job list refreshed with a filter on"), size, result);
                return;
            }
            appendLaterRefreshes(result, "refreshMs", filtered ? filteredMs : plainMs);
        }
    }
    const std::array<double, 3> filtered = spread(filteredMs);
    const std::array<double, 3> plain = spread(plainMs);
    const double ratio = filtered[0] / plain[0];
    m_rows.append(
        { QStringLiteral("job list, later refreshes, every line changed, a filter on "
                         "(client) or none (baseline): min / median / max, ratio of the "
                         "minima (of the medians)"),
          size, spreadText(filtered), spreadText(plain),
          QStringLiteral("%1 (%2)").arg(number(ratio, 2), number(filtered[1] / plain[1], 2)),
          QString(), QStringLiteral("<= %1").arg(number(MaxFilteredRefreshRatio, 1)),
          yesNo(ratio <= MaxFilteredRefreshRatio) });
}

void BenchRunner::measureJobListResponsiveness()
{
    const QJsonObject client
        = runChild({ QStringLiteral("joblist-client"), QString::number(ResponsivenessRows),
                     QStringLiteral("1"), QString::number(ResponsivenessSegmentBytes),
                     QString::number(ResponsivenessPauseMs), QStringLiteral("same") },
                   LongTimeoutMs);
    const QString size = QStringLiteral("%1 rows").arg(ResponsivenessRows);
    if (failed(client)) {
        addFailure(QStringLiteral("job list responsiveness"), size, client);
        return;
    }
    const double arrivalGap = figure(client, "arrivalGapMs");
    m_rows.append({ QStringLiteral("longest gap of a 10 ms timer: while the list arrives / "
                                   "until it is shown"),
                    size,
                    QStringLiteral("%1 / %2").arg(milliseconds(arrivalGap),
                                                  milliseconds(figure(client, "totalGapMs"))),
                    QString(), QString(), QString(), QStringLiteral("arriving < 100 ms"),
                    yesNo(arrivalGap < MaxArrivalGapMs) });
}

void BenchRunner::measureStartup()
{
    const Pair fastest = best(alternate(StartupRuns, { QStringLiteral("startup-client") },
                                        { QStringLiteral("startup-baseline") }, true),
                              QStringLiteral("ms"));
    if (fastest.failed()) {
        addFailure(QStringLiteral("start-up"), QString(), fastest.failure());
        return;
    }
    m_rows.append({ QStringLiteral("start-up to the window painted (baseline: an empty widget)"),
                    QString(), milliseconds(figure(fastest.client, "ms")),
                    milliseconds(figure(fastest.baseline, "ms")),
                    number(figure(fastest.client, "ms") / figure(fastest.baseline, "ms"), 2),
                    QString(), QStringLiteral("report"), QStringLiteral("-") });
}

// calvaro sync of a study's results against the same results fetched one by
// one with calvaro download from a shell loop, in turns.
void BenchRunner::measureJournalSync()
{
    const QString size
        = QStringLiteral("%1 x %2").arg(StudyJobs).arg(QLatin1String(StudyResultSize));
    const QJsonObject result
        = runChild({ QStringLiteral("journal-sync"), QString::number(StudyJobs),
                     QLatin1String(StudyResultSize), QString::number(JournalSyncRuns) },
                   JournalTimeoutMs);
    if (failed(result)) {
        addFailure(QStringLiteral("calvaro sync"), size, result);
        return;
    }
    QVector<double> syncSeconds;
    QVector<double> loopSeconds;
    QVector<double> ratios;
    for (int run = 0; run < JournalSyncRuns; ++run) {
        syncSeconds << result.value(QStringLiteral("syncSeconds")).toArray().at(run).toDouble();
        loopSeconds << result.value(QStringLiteral("loopSeconds")).toArray().at(run).toDouble();
        ratios << syncSeconds.constLast() / loopSeconds.constLast();
    }
    const bool intact = result.value(QStringLiteral("intact")).toBool();
    const Spread ratio(ratios);
    m_rows.append({ intact ? QStringLiteral("calvaro sync vs calvaro download in a shell loop, "
                                            "%1 runs, seconds")
                                 .arg(JournalSyncRuns)
                           : QStringLiteral("calvaro sync (FILE DIFFERS)"),
                    size, Spread(syncSeconds).text(1, QStringLiteral(" s")),
                    Spread(loopSeconds).text(1, QStringLiteral(" s")), ratio.text(2), QString(),
                    QStringLiteral("median <= %1").arg(MaxSyncRatio),
                    yesNo(intact && ratio.median <= MaxSyncRatio) });
}

// calvaro sync killed at random moments, then started once more: every
// result on disk once, whole, and no download beyond one retry per kill.
void BenchRunner::measureKilledSync()
{
    const QString size
        = QStringLiteral("%1 x %2").arg(KilledSyncJobs).arg(QLatin1String(KilledSyncResultSize));
    const QJsonObject result
        = runChild({ QStringLiteral("journal-killed-sync"), QString::number(KilledSyncJobs),
                     QLatin1String(KilledSyncResultSize), QString::number(SyncKills) },
                   JournalTimeoutMs);
    if (failed(result)) {
        addFailure(QStringLiteral("calvaro sync killed"), size, result);
        return;
    }
    const int downloads = int(figure(result, "downloads"));
    const int allowed = int(figure(result, "mostDownloadsAllowed"));
    const bool once = result.value(QStringLiteral("everyResultOnce")).toBool();
    m_rows.append(
        { QStringLiteral("calvaro sync killed with SIGKILL at random moments, then run again"),
          size,
          QStringLiteral("%1 kills; %2 downloads; %3 files, every result once and whole: %4; "
                         "last exit code %5")
              .arg(int(figure(result, "kills")))
              .arg(downloads)
              .arg(int(figure(result, "filesInResults")))
              .arg(yesNo(once))
              .arg(int(figure(result, "lastExitCode"))),
          QString(), QString(), QString(),
          QStringLiteral("every result once, byte-identical; downloads <= jobs + kills (%1)")
              .arg(allowed),
          yesNo(once && downloads <= allowed && figure(result, "lastExitCode") == 0) });
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
