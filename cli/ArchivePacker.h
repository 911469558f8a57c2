#pragma once

#include "protocol/VLK_ProjectArchive.h"

#include <QCoreApplication>
#include <QString>

namespace Cli {

class InterruptWatcher;

// Packs a project's folder into "<folder>.zip" beside it with 7z, by the
// window's rules, and tells whether that worked: unlike the window, a 7z that
// fails or leaves no archive is an error here, since nobody looks at the
// archive before it is sent.
class ArchivePacker
{
    Q_DECLARE_TR_FUNCTIONS(Cli::ArchivePacker)

public:
    explicit ArchivePacker(const InterruptWatcher &interrupts);

    // False with a message; a partly written archive is removed.
    bool pack(const VLK::ProjectArchive &archive, QString &error);
    bool wasInterrupted() const { return m_interrupted; }

private:
    const InterruptWatcher &m_interrupts;
    bool m_interrupted = false;
};

} // namespace Cli
