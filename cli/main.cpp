#include "CommandLine.h"
#include "InterruptWatcher.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("calvaro"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CALVARO_VERSION));
    Cli::InterruptWatcher interrupts;
    return Cli::runCommandLine(QCoreApplication::arguments(), interrupts);
}
