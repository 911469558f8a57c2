#include "protocol/ProjectArchive.h"

#include <QDir>
#include <QFileInfo>

namespace VLK {

ProjectArchive::ProjectArchive(const QString &projectFilePath)
{
    const QFileInfo projectFile(projectFilePath);
    m_projectDirectory = projectFile.absolutePath();
    m_folderName = QDir(m_projectDirectory).dirName();
    m_parentDirectory = QFileInfo(m_projectDirectory).absolutePath();
    m_relativeProjectFile
        = QDir(m_projectDirectory).relativeFilePath(projectFile.absoluteFilePath());
}

QString ProjectArchive::archivePath() const
{
    return QDir(m_parentDirectory).filePath(archiveName());
}

QStringList ProjectArchive::archiverArguments() const
{
    return { QStringLiteral("a"),     QStringLiteral("-r"), QStringLiteral("-mx7"),
             QStringLiteral("-tzip"), archiveName(),        m_folderName };
}

QString ProjectArchive::projectFileForArchive(const QString &archivePath)
{
    const QFileInfo archive(archivePath);
    const QString suffix = archive.suffix();
    if (suffix == QLatin1String("pkga"))
        return archive.baseName() + QLatin1String(".prja");
    if (suffix == QLatin1String("pkgb"))
        return archive.baseName() + QLatin1String(".prjb");
    return archive.baseName();
}

} // namespace VLK
