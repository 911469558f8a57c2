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
    // Only the command-line client's download, for a quick look.
    int runCliDownloadOnly();

private:
    struct Pair
    {
        QJsonObject client;
        QJsonObject baseline;
        bool failed() const;
        QJsonObject failure() const;
    };

    // The child's result line; an "error" member when it failed.
    QJsonObject runChild(const QStringList &arguments, int timeoutMs);
    // Client and baseline in turns, so both see the same moments of a shared
    // machine; keeps the best (smallest) figure of each.
    Pair bestOfAlternating(int runs, const QStringList &clientArguments,
                           const QStringList &baselineArguments, const QString &figureName);

    bool createArchives();
    QString archivePath(qint64 bytes) const;
    void measureUploads();
    void measureUploadMemory();
    void measureDownloads();
    void measureCliDownload();
    void measureJobLists();
    void measureJobListResponsiveness();
    void measureStartup();
    void addFailure(const QString &benchmark, const QString &size, const QJsonObject &result);
    void printTable() const;

    const QString m_program;
    QTemporaryDir m_workDir;
    QProcessEnvironment m_childEnvironment;
    QList<ResultRow> m_rows;
    bool m_allRan = true;
};

} // namespace Bench
