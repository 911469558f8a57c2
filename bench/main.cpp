#include "BenchRunner.h"
#include "BenchSupport.h"
#include "CliDownloadBench.h"
#include "DownloadBench.h"
#include "JobListBench.h"
#include "JournalBench.h"
#include "RestartBench.h"
#include "StartupBench.h"
#include "UploadBench.h"

#include <QApplication>
#include <QHash>

#include <cstdio>

namespace {

using Mode = int (*)(const QStringList &);

// Ten restarts in ten minutes, a night of a server restarted now and then.
constexpr int DefaultRestarts = 10;
constexpr int DefaultPeriodSeconds = 60;

const QHash<QString, Mode> &modes()
{
    static const QHash<QString, Mode> table {
        { QStringLiteral("upload-client"), Bench::runUploadClient },
        { QStringLiteral("upload-baseline"), Bench::runUploadBaseline },
        { QStringLiteral("download-client"), Bench::runDownloadClient },
        { QStringLiteral("download-cli"), Bench::runCliDownload },
        { QStringLiteral("download-streamed-baseline"), Bench::runStreamedDownloadBaseline },
        { QStringLiteral("joblist-client"), Bench::runJobListClient },
        { QStringLiteral("joblist-baseline"), Bench::runJobListBaseline },
        { QStringLiteral("joblist-watch"), Bench::runJobListWatch },
        { QStringLiteral("joblist-filter-typing"), Bench::runJobListFilterTyping },
        { QStringLiteral("startup-client"), Bench::runStartupClient },
        { QStringLiteral("startup-baseline"), Bench::runStartupBaseline },
        { QStringLiteral("journal-sync"), Bench::runJournalSync },
        { QStringLiteral("journal-killed-sync"), Bench::runJournalKilledSync },
        { QStringLiteral("restarts-client"), Bench::runRestartsClient },
    };
    return table;
}

} // namespace

// Without arguments: runs every measurement, each in a child process of this
// program, and prints the table; with "cli" only the command-line client's
// download, with "downloads" the window's and the command-line client's, with
// "journal" the job journal's (calvaro sync, and sync killed again and again),
// "filter" the job table's filter,
// with "restarts [RESTARTS [PERIOD_SECONDS]]" (10 and 60 unless given) the
// idle window through restarts of the server.
// With a mode: one measurement, one result line; the runner starts these
// offscreen.
int main(int argc, char *argv[])
{
    if (argc >= 2 && qstrcmp(argv[1], "restarts") == 0) {
        QCoreApplication application(argc, argv);
        Bench::BenchRunner runner(QCoreApplication::applicationFilePath());
        return runner.runRestarts(argc > 2 ? QByteArray(argv[2]).toInt() : DefaultRestarts,
                                  argc > 3 ? QByteArray(argv[3]).toInt() : DefaultPeriodSeconds);
    }
    const bool cliOnly = argc >= 2 && qstrcmp(argv[1], "cli") == 0;
    const bool journalOnly = argc >= 2 && qstrcmp(argv[1], "journal") == 0;
    const bool filterOnly = argc >= 2 && qstrcmp(argv[1], "filter") == 0;
    if (argc < 2 || cliOnly || journalOnly || filterOnly || qstrcmp(argv[1], "downloads") == 0) {
        QCoreApplication application(argc, argv);
        Bench::BenchRunner runner(QCoreApplication::applicationFilePath());
        if (journalOnly)
            return runner.runJournalOnly();
        if (filterOnly)
            return runner.runFilterOnly();
        return argc < 2 ? runner.runAll() : runner.runDownloadsOnly(!cliOnly);
    }
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments().mid(1);
    const Mode mode = modes().value(arguments.takeFirst());
    if (!mode) {
        QStringList names = modes().keys();
        names.sort();
        std::fprintf(stderr, "usage: calvaro_bench [%s args...]\n",
                     qPrintable(names.join(QLatin1Char('|'))));
        return 2;
    }
    Bench::failOnModalDialogs();
    return mode(arguments);
}
