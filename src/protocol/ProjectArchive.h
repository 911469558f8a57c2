#pragma once

#include <QString>
#include <QStringList>

namespace VLK {

// The names involved in packing a project: the folder that holds the chosen
// project file is packed into "<folder>.zip" beside that folder, and the
// project file travels with the job as a path relative to its folder.
class ProjectArchive
{
public:
    explicit ProjectArchive(const QString &projectFilePath);

    QString projectDirectory() const { return m_projectDirectory; }
    QString folderName() const { return m_folderName; }
    QString archiveName() const { return m_folderName + QLatin1String(".zip"); }
    QString parentDirectory() const { return m_parentDirectory; }
    QString archivePath() const;
    QString relativeProjectFile() const { return m_relativeProjectFile; }

    // Program and arguments that pack the folder, to be run in parentDirectory().
    static QString archiverProgram() { return QStringLiteral("7z"); }
    QStringList archiverArguments() const;

    // The project file that an archive chosen by the user is taken to hold:
    // its base name (up to the first dot), with ".prja" for a ".pkga"
    // archive and ".prjb" for a ".pkgb" archive.
    static QString projectFileForArchive(const QString &archivePath);

private:
    QString m_projectDirectory;
    QString m_folderName;
    QString m_parentDirectory;
    QString m_relativeProjectFile;
};

} // namespace VLK
