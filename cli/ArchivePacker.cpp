#include "ArchivePacker.h"

#include "InterruptWatcher.h"
#include "ProgressMeter.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace Cli {

namespace {

constexpr int ProgressIntervalMs = 200;

} // namespace

ArchivePacker::ArchivePacker(const InterruptWatcher &interrupts)
    : m_interrupts(interrupts)
{ }

bool ArchivePacker::pack(const VLK::ProjectArchive &archive, QString &error)
{
    // Nobody waits at a terminal for a time-out: the archiver runs until it ends or Ctrl+C.
    VLK::ProjectPacker packer;
    VLK::ProjectPacker::Result result;
    QEventLoop loop;
    QObject::connect(&packer, &VLK::ProjectPacker::finished, &loop,
                     [&](const VLK::ProjectPacker::Result &packed) {
                         result = packed;
                         loop.quit();
                     });
    QObject::connect(&m_interrupts, &InterruptWatcher::interrupted, &packer,
                     &VLK::ProjectPacker::cancel);

    // The size of the archive so far is all the progress there is to show.
    const QString archivePath = archive.archivePath();
    ProgressMeter meter(tr("Packing %1").arg(archive.folderName()));
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { meter.show(QFileInfo(archivePath).size(), 0); });
    tick.start(ProgressIntervalMs);
    packer.pack(archive);
    if (m_interrupts.isInterrupted())
        packer.cancel();
    if (packer.isPacking())
        loop.exec();
    tick.stop();
    meter.finish();

    // Ctrl+C in a terminal reaches 7z as well, which may end first, even successfully.
    if (m_interrupts.isInterrupted()) {
        m_interrupted = true;
        QFile::remove(archivePath);
        error = tr("Interrupted while packing; the partial archive was removed.");
        return false;
    }
    if (result.outcome == VLK::ProjectPacker::Outcome::Packed)
        return true;
    error = failureMessage(archive, result);
    return false;
}

QString ArchivePacker::failureMessage(const VLK::ProjectArchive &archive,
                                      const VLK::ProjectPacker::Result &result)
{
    using Outcome = VLK::ProjectPacker::Outcome;
    const QString program = VLK::ProjectArchive::archiverProgram();
    if (result.outcome == Outcome::CannotRemoveOld)
        return tr("Cannot remove the old archive '%1' before packing anew.")
            .arg(archive.archivePath());
    if (result.outcome == Outcome::CannotStart)
        return tr("Cannot run '%1' to pack the project (is it installed, and its folder in "
                  "PATH?).")
            .arg(program);
    return tr("'%1' could not pack '%2' (exit code %3)%4")
        .arg(program, archive.projectDirectory())
        .arg(result.exitCode)
        .arg(result.lastErrorLine.isEmpty() ? QStringLiteral(".")
                                            : QStringLiteral(": ") + result.lastErrorLine);
}

} // namespace Cli
