#pragma once

#include "protocol/ProjectArchive.h"
#include "protocol/ProjectPacker.h"

#include <QCoreApplication>
#include <QString>

namespace Cli {

class InterruptWatcher;

// Packs a project's folder into "<folder>.zip" beside it, as the window
// does, and words the result for the terminal: a progress meter while the
// archiver runs, a message when it fails, Ctrl+C as a cancel.
class ArchivePacker
{
    Q_DECLARE_TR_FUNCTIONS(Cli::ArchivePacker)

public:
    explicit ArchivePacker(const InterruptWatcher &interrupts);

    // False with a message; a partly written archive is removed.
    bool pack(const VLK::ProjectArchive &archive, QString &error);
    bool wasInterrupted() const { return m_interrupted; }

private:
    // What went wrong, for every outcome but Packed and Cancelled.
    static QString failureMessage(const VLK::ProjectArchive &archive,
                                  const VLK::ProjectPacker::Result &result);

    const InterruptWatcher &m_interrupts;
    bool m_interrupted = false;
};

} // namespace Cli
