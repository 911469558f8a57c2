#include "journal/ResultPlacement.h"

#include "protocol/JobRules.h"

#include <QDir>
#include <QFileInfo>

namespace VLK {

QString ResultPlacement::defaultPattern()
{
    return QStringLiteral("<project folder>/results/<job folder name>_<result file name>");
}

QString ResultPlacement::projectFolder(const JournalEntry &entry)
{
    const QFileInfo project(entry.projectFile);
    return project.isAbsolute() ? project.absolutePath() : QFileInfo(entry.archive).absolutePath();
}

QString ResultPlacement::targetPath(const JournalEntry &entry, QStringView progressMsg,
                                    const QString &pattern)
{
    const QString jobFolder = QFileInfo(QFileInfo(entry.key.jobPath).path()).fileName();
    // The offered name comes from the server: only its last part is used,
    // so that it cannot lead out of the results folder.
    const QString offered
        = QFileInfo(JobRules::offeredResultName(progressMsg).toString()).fileName();
    QString path = pattern;
    path.replace(QLatin1String("<project folder>"), projectFolder(entry))
        .replace(QLatin1String("<job folder name>"), jobFolder)
        .replace(QLatin1String("<result file name>"), offered);
    // A pattern without a folder of its own is taken from the project's.
    return QDir::cleanPath(QDir(projectFolder(entry)).absoluteFilePath(path));
}

} // namespace VLK
