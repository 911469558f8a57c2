#include "BenchRunner.h"
#include "BenchSupport.h"
#include "DownloadBench.h"
#include "JobListBench.h"
#include "StartupBench.h"
#include "UploadBench.h"

#include <QApplication>
#include <QHash>

#include <cstdio>

// Without arguments: runs every measurement, each in a child process of this
// program, and prints the table. With a mode: one measurement, one result line.
int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return Bench::BenchRunner(QApplication::applicationFilePath()).runAll();

    using Mode = int (*)(const QStringList &);
    const QHash<QString, Mode> modes {
        { QStringLiteral("upload-client"), Bench::runUploadClient },
        { QStringLiteral("upload-baseline"), Bench::runUploadBaseline },
        { QStringLiteral("download-client"), Bench::runDownloadClient },
        { QStringLiteral("download-baseline"), Bench::runDownloadBaseline },
        { QStringLiteral("joblist-client"), Bench::runJobListClient },
        { QStringLiteral("joblist-baseline"), Bench::runJobListBaseline },
        { QStringLiteral("startup-client"), Bench::runStartupClient },
        { QStringLiteral("startup-baseline"), Bench::runStartupBaseline },
    };
    const Mode mode = modes.value(arguments.takeFirst());
    if (!mode) {
        std::fprintf(stderr, "usage: calvaro_bench [%s args...]\n",
                     qPrintable(QStringList(modes.keys()).join(QLatin1Char('|'))));
        return 2;
    }
    Bench::failOnModalDialogs();
    return mode(arguments);
}
