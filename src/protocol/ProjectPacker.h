#pragma once

#include "protocol/ProjectArchive.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace VLK {

// Packs one project into its archive with the archiver program, driven by
// the process's signals, so that the caller's event loop keeps running. The
// old archive goes first; whatever stops the packing after that, no partial
// archive is left behind. The window and the command-line client both pack
// through this class and only present its result.
class ProjectPacker : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Packed, CannotRemoveOld, CannotStart, TimedOut, Failed, Cancelled };

    struct Result
    {
        Outcome outcome = Outcome::Packed;
        int exitCode = 0;
        // The archiver's last non-empty line on stderr, else on stdout.
        QString lastErrorLine;
    };

    static constexpr int StartTimeoutMs = 30000;
    static constexpr int NoFinishTimeout = 0;

    // finishTimeoutMs: how long the archiver may run once started, or NoFinishTimeout.
    explicit ProjectPacker(int finishTimeoutMs = NoFinishTimeout, QObject *parent = nullptr);
    // Kills a running archiver and removes its partial archive, without finished().
    ~ProjectPacker() override;

    bool isPacking() const { return m_process != nullptr; }
    // The archive of the last pack().
    const ProjectArchive &archive() const;

    // Packs in the background; finished() tells the result, and may come
    // before this returns (an old archive that cannot be removed, an archiver
    // that cannot be run). Not to be called while packing.
    void pack(const ProjectArchive &archive);
    // Stops the archiver; finished() follows with Outcome::Cancelled.
    void cancel();

signals:
    // The packer is idle again when this is emitted: a receiver may pack anew.
    void finished(const VLK::ProjectPacker::Result &result);

private:
    void onStarted();
    void onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onErrorOccurred(QProcess::ProcessError error);
    void stop(Outcome reason);
    void conclude(Outcome outcome);

    const int m_finishTimeoutMs;
    std::optional<ProjectArchive> m_archive;
    std::unique_ptr<QProcess> m_process;
    QTimer m_startTimer;
    QTimer m_finishTimer;
    std::optional<Outcome> m_stopReason;
};

} // namespace VLK
