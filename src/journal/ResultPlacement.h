#pragma once

#include "journal/JournalEntry.h"

#include <QString>
#include <QStringView>

namespace VLK {

// Where a job's result is stored: by default in the results folder beside the
// project, named after the job's folder and the file that the job offers, so
// that the results of a study's jobs stand side by side and never share a
// name. A pattern may place them elsewhere with the placeholders
// <project folder>, <job folder name> and <result file name>.
class ResultPlacement final
{
public:
    static QString defaultPattern();

    // The folder that holds the project: the local project file's, else the
    // submitted archive's.
    static QString projectFolder(const JournalEntry &entry);
    static QString targetPath(const JournalEntry &entry, QStringView progressMsg,
                              const QString &pattern = defaultPattern());
};

} // namespace VLK
