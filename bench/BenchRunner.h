#pragma once

#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

namespace Bench {

// One line of the results table.
struct ResultRow
{
    QString benchmark;
    QString size;
    QString client;
    QString baseline;
    QString ratio;
    QString memory;
    QString target;
    QString met;
};

// Runs every measurement in a child process of its own (this program again,
// with a mode argument), so each one's peak memory is its own, and prints
// the table of all results.
class BenchRunner
{
public:
    explicit BenchRunner(const QString &program);
    // 0 when every measurement ran (whether or not it met its target).
    int runAll();
    // Only the command-line client's download, and with windowToo the
    // window's: the download rows alone, for a quick look.
    int runDownloadsOnly(bool windowToo);
    // Only the job journal's measurements.
    int runJournalOnly();
    // The idle window through server restarts alone (it takes as long as
    // restarts times the period), with its status log and the server's
    // request log around the first restart.
    int runRestarts(int restarts, int periodSeconds);
    // Only the job table's filter: typing into it, and a refresh with it on.
    int runFilterOnly();

    enum class Extreme { Smallest, Largest };

    // One run of the client and one of its baseline, one after the other.
    struct Pair
    {
        QJsonObject client;
        QJsonObject baseline;
        bool failed() const;
        QJsonObject failure() const;
    };

private:
    // The child's result line; an "error" member when it failed. With
    // startTimeArgument, the child gets the steady clock's time of its start
    // as its last argument.
    QJsonObject runChild(QStringList arguments, int timeoutMs, bool startTimeArgument = false);
    // Client and baseline in turns, so both see the same moments of a shared
    // machine: every pair, or only the pair that failed.
    QList<Pair> alternate(int runs, const QStringList &clientArguments,
                          const QStringList &baselineArguments, bool startTimeArgument = false);
    // The pairs of mode's client and its baseline; none, with the failure in
    // the table, when a run failed.
    QList<Pair> alternateTransfer(const QString &mode, const QString &baselineMode,
                                  const char *sizeLabel, int runs, const QStringList &arguments);
    // The best (by default the smallest) figure of each side.
    static Pair best(const QList<Pair> &pairs, const QString &figureName,
                     Extreme extreme = Extreme::Smallest);

    bool createArchives();
    QString archivePath(qint64 bytes) const;
    void measureUploads();
    void measureUploadMemory();
    void measureDownloads();
    void measureCliDownload();
    void addDownloadCpuAndGap(const QList<Pair> &pairs);
    void addCpuPerGiB(const QString &benchmark, const QList<Pair> &pairs, const char *cpuName,
                      double maxRatio);
    void measureJobLists();
    // Later refreshes of rows with onOption against offOption, in runs
    // alternating runs of each.
    bool compareJobListOption(const QString &onOption, const QString &offOption,
                              const QString &comparison, int rows, int runs);
    void measureJobListNotifications();
    void measureJobListWithJournal();
    void measureJobListResponsiveness();
    void measureFilterTyping();
    void measureFilteredRefresh();
    void measureStartup();
    void measureJournalSync();
    void measureKilledSync();
    void addFailure(const QString &benchmark, const QString &size, const QJsonObject &result);
    void printTable() const;

    const QString m_program;
    QTemporaryDir m_workDir;
    QProcessEnvironment m_childEnvironment;
    QList<ResultRow> m_rows;
    bool m_allRan = true;
};

} // namespace Bench
