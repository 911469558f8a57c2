#include "journal/SubmissionRecord.h"

#include "journal/JobJournal.h"
#include "protocol/Protocol.h"

#include <QFileInfo>

namespace VLK {

SubmissionRecord::SubmissionRecord(const QString &archive, const QString &localProjectFile,
                                   const JobHeader &job)
{
    m_entry.projectFile = localProjectFile.isEmpty() ? job.projectFile : localProjectFile;
    m_entry.archive = QFileInfo(archive).absoluteFilePath();
    m_entry.solver = job.solverId;
    m_entry.commandLine = job.commandLine;
    m_entry.queue = job.slowQueue ? QStringLiteral("slow") : QStringLiteral("fast");
}

QSet<QString> SubmissionRecord::ownJobPaths(const QList<JobInfo> &jobs)
{
    QSet<QString> paths;
    for (const JobInfo &job : jobs) {
        if (job.accessible)
            paths.insert(job.path);
    }
    return paths;
}

QStringList SubmissionRecord::addedJobPaths(const QSet<QString> &before, const QSet<QString> &after)
{
    QStringList added = (after - before).values();
    added.sort();
    return added;
}

JournalEntry SubmissionRecord::entryFor(const JournalKey &key) const
{
    JournalEntry entry = m_entry;
    entry.key = key;
    entry.submittedAt = QDateTime::currentDateTimeUtc();
    return entry;
}

bool SubmissionRecord::record(JobJournal &journal, const JournalKey &key) const
{
    return journal.record(entryFor(key));
}

} // namespace VLK
