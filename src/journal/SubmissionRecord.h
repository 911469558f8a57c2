#pragma once

#include "journal/JournalEntry.h"

#include <QCoreApplication>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace VLK {

class JobJournal;
struct JobHeader;
struct JobInfo;

// How a job is recorded in the journal as soon as its path is known. The
// server's answer to a submission does not name the job, so its path is the
// one job of the user's that the next job list holds and the list before did
// not. The window and calvaro both record through here.
class SubmissionRecord final
{
    Q_DECLARE_TR_FUNCTIONS(VLK::SubmissionRecord)

public:
    // What was sent: the archive, the project file that was packed into it
    // (absolute; empty when an archive was chosen as it was) and the header.
    SubmissionRecord(const QString &archive, const QString &localProjectFile, const JobHeader &job);

    static QSet<QString> ownJobPaths(const QList<JobInfo> &jobs);
    // The jobs in after that before did not have, sorted.
    static QStringList addedJobPaths(const QSet<QString> &before, const QSet<QString> &after);

    // The journal's entry of the job that this submission made at key.
    JournalEntry entryFor(const JournalKey &key) const;
    // Records it; false with the journal's error text.
    bool record(JobJournal &journal, const JournalKey &key) const;

private:
    JournalEntry m_entry;
};

} // namespace VLK
