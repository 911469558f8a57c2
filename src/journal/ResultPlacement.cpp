#include "journal/ResultPlacement.h"

#include "protocol/JobRules.h"

#include <QDir>
#include <QFileInfo>

namespace VLK {

QString ResultPlacement::projectFolder(const JournalEntry &entry)
{
    const QFileInfo project(entry.projectFile);
    return project.isAbsolute() ? project.absolutePath() : QFileInfo(entry.archive).absolutePath();
}

QString ResultPlacement::targetPath(const JournalEntry &entry, QStringView progressMsg)
{
    const QString jobFolder = QFileInfo(QFileInfo(entry.key.jobPath).path()).fileName();
    // The offered name comes from the server: only its last part is used,
    // so that it cannot lead out of the results folder.
    const QString offered
        = QFileInfo(JobRules::offeredResultName(progressMsg).toString()).fileName();
    return projectFolder(entry) + QStringLiteral("/results/") + jobFolder + QLatin1Char('_')
        + offered;
}

} // namespace VLK
