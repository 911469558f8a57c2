#include "gui/ResultFolder.h"

#include "gui/JobActionPlan.h"

#include <QFileInfo>

namespace VLK {

ResultFolder::ResultFolder(const QString &directory, const JobActionPlan &plan)
    : m_directory(directory)
{
    const QStringList &jobPaths = plan.targets();
    const QStringList &extensions = plan.resultExtensions();
    for (int index = 0; index < jobPaths.size() && index < extensions.size(); ++index)
        m_extensions.insert(jobPaths.at(index), extensions.at(index));
}

QString ResultFolder::claimFreePath(const QString &jobPath)
{
    const QString baseName = resultBaseName(jobPath);
    const QString extension = QLatin1Char('.') + m_extensions.value(jobPath);
    QString path = m_directory.filePath(baseName + extension);
    for (int copy = 2; m_claimed.contains(path) || QFileInfo::exists(path); ++copy)
        path = m_directory.filePath(
            QStringLiteral("%1 (%2)%3").arg(baseName, QString::number(copy), extension));
    m_claimed.insert(path);
    return path;
}

QString ResultFolder::resultBaseName(const QString &jobPath)
{
    const QFileInfo job(jobPath);
    const QString folderName = QFileInfo(job.path()).fileName();
    return folderName.isEmpty() || folderName == QLatin1String(".") ? job.completeBaseName()
                                                                    : folderName;
}

} // namespace VLK
