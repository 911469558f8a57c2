#pragma once

#include <QDir>
#include <QHash>
#include <QSet>
#include <QString>

namespace VLK {

class JobActionPlan;

// Where the results of several jobs go once the user has picked one folder
// for all of them: each under its job folder's name and the extension that
// the job offers, side by side. A file already in the folder is never
// replaced, as it may hold another job's result: the result then takes the
// next free name, "case7 (2).zip".
class ResultFolder final
{
public:
    ResultFolder(const QString &directory, const JobActionPlan &plan);

    // The file for the result of a job of the plan: neither in the folder
    // nor handed out before, as a result may still be on its way there.
    QString claimFreePath(const QString &jobPath);
    // The path is free again: its result did not come.
    void release(const QString &path) { m_claimed.remove(path); }
    // "case7" for study/case7/model.dat; a job without a folder of its own is
    // named after its file.
    static QString resultBaseName(const QString &jobPath);

private:
    QDir m_directory;
    QHash<QString, QString> m_extensions;
    QSet<QString> m_claimed;
};

} // namespace VLK
