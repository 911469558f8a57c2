#include "protocol/ProjectPacker.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>

namespace VLK {

namespace {

QString lastNonEmptyLine(const QByteArray &output)
{
    const QList<QByteArray> lines = output.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QByteArray trimmed = line->trimmed();
        if (!trimmed.isEmpty())
            return QString::fromLocal8Bit(trimmed);
    }
    return QString();
}

// 7z tells what went wrong on stderr; some archivers only ever write to stdout.
QString lastErrorLine(QProcess &process)
{
    const QString errorLine = lastNonEmptyLine(process.readAllStandardError());
    return errorLine.isEmpty() ? lastNonEmptyLine(process.readAllStandardOutput()) : errorLine;
}

} // namespace

ProjectPacker::ProjectPacker(int finishTimeoutMs, QObject *parent)
    : QObject(parent)
    , m_finishTimeoutMs(finishTimeoutMs)
{
    m_startTimer.setSingleShot(true);
    m_finishTimer.setSingleShot(true);
    connect(&m_startTimer, &QTimer::timeout, this, [this] { stop(Outcome::CannotStart); });
    connect(&m_finishTimer, &QTimer::timeout, this, [this] { stop(Outcome::TimedOut); });
}

ProjectPacker::~ProjectPacker()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    m_process->kill();
    // A killed process is gone at once; only then can its archive be removed for good.
    m_process->waitForFinished();
    QFile::remove(m_archive->archivePath());
}

const ProjectArchive &ProjectPacker::archive() const
{
    Q_ASSERT_X(m_archive.has_value(), "src/protocol/ProjectPacker", "m_archive.has_value()");
    return *m_archive;
}

void ProjectPacker::pack(const ProjectArchive &archive)
{
    Q_ASSERT_X(!isPacking(), "src/protocol/ProjectPacker", "!isPacking()");
    m_archive = archive;
    // 7z would only update an archive that is there, keeping files since removed.
    const QString archivePath = archive.archivePath();
    if (QFile::exists(archivePath) && !QFile::remove(archivePath)) {
        conclude(Outcome::CannotRemoveOld);
        return;
    }

    m_process = std::make_unique<QProcess>();
    connect(m_process.get(), &QProcess::started, this, &ProjectPacker::onStarted);
    connect(m_process.get(), QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &ProjectPacker::onProcessFinished);
    connect(m_process.get(), &QProcess::errorOccurred, this, &ProjectPacker::onErrorOccurred);
    m_process->setWorkingDirectory(archive.parentDirectory());
    m_startTimer.start(StartTimeoutMs);
    m_process->start(ProjectArchive::archiverProgram(), archive.archiverArguments());
}

void ProjectPacker::cancel()
{
    stop(Outcome::Cancelled);
}

void ProjectPacker::onStarted()
{
    m_startTimer.stop();
    if (m_finishTimeoutMs != NoFinishTimeout)
        m_finishTimer.start(m_finishTimeoutMs);
}

void ProjectPacker::onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (m_stopReason) {
        conclude(*m_stopReason);
        return;
    }
    const bool packed = exitStatus == QProcess::NormalExit && exitCode == 0
        && QFileInfo(m_archive->archivePath()).isFile();
    conclude(packed ? Outcome::Packed : Outcome::Failed);
}

// A crash is followed by finished(); a failed start is not.
void ProjectPacker::onErrorOccurred(QProcess::ProcessError error)
{
    if (error == QProcess::FailedToStart)
        conclude(m_stopReason.value_or(Outcome::CannotStart));
}

// The result waits for the killed process to end, so that its archive is
// removed after its last write.
void ProjectPacker::stop(Outcome reason)
{
    if (!isPacking() || m_stopReason)
        return;
    m_stopReason = reason;
    m_startTimer.stop();
    m_finishTimer.stop();
    m_process->kill();
}

void ProjectPacker::conclude(Outcome outcome)
{
    m_startTimer.stop();
    m_finishTimer.stop();
    m_stopReason.reset();
    Result result;
    result.outcome = outcome;
    if (m_process) {
        result.exitCode = m_process->exitCode();
        result.lastErrorLine = lastErrorLine(*m_process);
        m_process->disconnect(this);
        // This runs inside one of the process's own signals.
        m_process.release()->deleteLater();
        if (outcome != Outcome::Packed)
            QFile::remove(m_archive->archivePath());
    }
    // Nothing of this object is touched after the emission, which may pack anew or delete it.
    emit finished(result);
}

} // namespace VLK
