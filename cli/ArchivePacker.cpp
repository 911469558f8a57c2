#include "ArchivePacker.h"

#include "InterruptWatcher.h"
#include "ProgressMeter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

namespace Cli {

namespace {

constexpr int ArchiverStartTimeoutMs = 30000;
constexpr int ProgressIntervalMs = 200;

} // namespace

ArchivePacker::ArchivePacker(const InterruptWatcher &interrupts)
    : m_interrupts(interrupts)
{ }

bool ArchivePacker::pack(const VLK::ProjectArchive &archive, QString &error)
{
    const QString archivePath = archive.archivePath();
    if (QFile::exists(archivePath) && !QFile::remove(archivePath)) {
        error = tr("Cannot remove the old archive '%1' before packing anew.").arg(archivePath);
        return false;
    }

    const QString program = VLK::ProjectArchive::archiverProgram();
    QProcess archiver;
    archiver.setWorkingDirectory(archive.parentDirectory());
    archiver.start(program, archive.archiverArguments());
    if (!archiver.waitForStarted(ArchiverStartTimeoutMs)) {
        error = tr("Cannot run '%1' to pack the project (is it installed, and its folder in "
                   "PATH?).")
                    .arg(program);
        return false;
    }

    // The size of the archive so far is all the progress there is to show.
    ProgressMeter meter(tr("Packing %1").arg(archive.folderName()));
    QEventLoop loop;
    QObject::connect(&archiver, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                     &loop, &QEventLoop::quit);
    QObject::connect(&m_interrupts, &InterruptWatcher::interrupted, &loop, &QEventLoop::quit);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { meter.show(QFileInfo(archivePath).size(), 0); });
    tick.start(ProgressIntervalMs);
    if (archiver.state() != QProcess::NotRunning && !m_interrupts.isInterrupted())
        loop.exec();
    tick.stop();
    meter.finish();

    // Ctrl+C in a terminal reaches 7z as well, which may end first.
    if (m_interrupts.isInterrupted()) {
        m_interrupted = true;
        if (archiver.state() != QProcess::NotRunning) {
            archiver.kill();
            archiver.waitForFinished();
        }
        QFile::remove(archivePath);
        error = tr("Interrupted while packing; the partial archive was removed.");
        return false;
    }
    if (archiver.exitStatus() != QProcess::NormalExit || archiver.exitCode() != 0
        || !QFileInfo(archivePath).isFile()) {
        const QString output = QString::fromLocal8Bit(archiver.readAllStandardError()).trimmed();
        error = tr("'%1' could not pack '%2' (exit code %3)%4")
                    .arg(program, archive.projectDirectory())
                    .arg(archiver.exitCode())
                    .arg(output.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + output);
        QFile::remove(archivePath);
        return false;
    }
    return true;
}

} // namespace Cli
