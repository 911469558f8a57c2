#include "gui/WindowJournal.h"

#include "gui/CalvaroClientBase.h"
#include "journal/JournalFileWatch.h"
#include "journal/ResultFetcher.h"
#include "journal/ResultPlacement.h"
#include "journal/ResultSettings.h"
#include "protocol/JobRules.h"
#include "protocol/Protocol.h"
#include "protocol/ShownJobList.h"

#include <QDir>
#include <QFileInfo>

#include <utility>
#include <vector>

namespace VLK {

WindowJournal::WindowJournal(CalvaroClientBase *clientBase, const QString &journalPath)
    : QObject(clientBase)
    , m_clientBase(clientBase)
    , m_journal(journalPath)
    , m_fetcher(new ResultFetcher(m_journal, this))
{
    m_journalOpen = m_journal.open();
    if (m_journalOpen)
        m_fileWatch = new JournalFileWatch(journalPath, this);
    connect(clientBase, &CalvaroClientBase::msgReceived, this, &WindowJournal::onMsgReceived);
    connect(clientBase, &CalvaroClientBase::sessionEnded, this, &WindowJournal::onSessionEnded);
    connect(m_fetcher, &ResultFetcher::resultStored, this, &WindowJournal::onResultStored);
    connect(m_fetcher, &ResultFetcher::fetchFailed, this, &WindowJournal::onFetchFailed);
}

// The fetcher gives its claims back to the journal while both are there.
WindowJournal::~WindowJournal()
{
    delete m_fetcher;
}

void WindowJournal::readSettings()
{
    m_downloadsAutomatically = ResultSettings::downloadsAutomatically();
}

void WindowJournal::setDownloadsAutomatically(bool on)
{
    m_downloadsAutomatically = on;
    m_wholeListDue = true;
    ResultSettings::setDownloadsAutomatically(on);
}

void WindowJournal::expectSubmittedJob(const SubmissionRecord &record)
{
    m_submission = std::make_unique<SubmissionRecord>(record);
    m_ownJobsBeforeSubmission = ownJobsOf(m_lastList);
    m_submissionAccepted = false;
}

QSet<QString> WindowJournal::ownJobsOf(const ShownJobList *list)
{
    QSet<QString> paths;
    for (int index = 0; list && index < list->jobCount(); ++index) {
        if (list->job(index).accessible)
            paths.insert(list->job(index).path);
    }
    return paths;
}

JournalKey WindowJournal::keyOf(const QString &jobPath) const
{
    return { m_clientBase->host(), m_clientBase->port(), m_clientBase->loginUser(), jobPath };
}

void WindowJournal::onMsgReceived(int msgType)
{
    switch (msgType) {
    case MT_LoginOk:
        beginLogin();
        break;
    case MT_SubmitJobOk:
        m_submissionAccepted = m_submission != nullptr;
        break;
    case MT_LogoutOk:
        onSessionEnded();
        break;
    default:
        break;
    }
}

// The switch and the pattern are read at each login, so that a change that
// calvaro made meanwhile holds.
void WindowJournal::beginLogin()
{
    m_entries.clear();
    m_entriesRead = false;
    ++m_generation;
    m_wholeListDue = true;
    m_keptOut.clear();
    if (!m_journalOpen) {
        m_clientBase->reportStatus(
            tr("The job journal is not used: %1").arg(m_journal.errorText()));
        return;
    }
    // calvaro may have switched the download or moved the results since.
    m_pathPattern = ResultSettings::resultPathPattern();
    if (ResultSettings::downloadsAutomatically() != m_downloadsAutomatically) {
        m_downloadsAutomatically = !m_downloadsAutomatically;
        m_wholeListDue = true;
        emit automaticDownloadSwitched(m_downloadsAutomatically);
    }
    m_fetcher->setLogin({ m_clientBase->host(), m_clientBase->port(), m_clientBase->loginUser(),
                          m_clientBase->loginDigest() });
}

void WindowJournal::onSessionEnded()
{
    m_fetcher->stop();
}

// Where the job at index and its status text are those of the list
// before, the journal holds its status already.
WindowJournal::FollowedJob WindowJournal::followJob(int index, const JobInfo &job,
                                                    bool statusTextChanged)
{
    bool jobChanged = false;
    ListedEntry &listed = listedAt(index, job, jobChanged);
    FollowedJob followed;
    followed.entry = listed.entry;
    followed.shownChanged = jobChanged;
    if (!listed.entry)
        return followed;
    followed.offersResult = JobRules::offersResult(job.progressMsg);
    followed.shownChanged = jobChanged || followed.offersResult != listed.offered;
    listed.offered = followed.offersResult;
    if (!m_wholeListDue)
        noteJob(listed, job, followed.offersResult, jobChanged || statusTextChanged);
    return followed;
}

void WindowJournal::endList(const ShownJobList &list)
{
    if (!m_journalOpen)
        return;
    m_lastList = &list;
    if (m_submissionAccepted)
        recordSubmittedJob();
    // A status changes only with its line, and so does an offer, except one
    // whose download failed or was not taken up: the whole list is looked
    // at again for those.
    if (m_wholeListDue) {
        m_wholeListDue = false;
        fitListedEntries(list.jobCount());
        for (int index = 0; index < list.jobCount(); ++index) {
            const JobInfo &job = list.job(index);
            bool jobChanged = false;
            ListedEntry &listed = listedAt(index, job, jobChanged);
            if (listed.entry)
                noteJob(listed, job, JobRules::offersResult(job.progressMsg), true);
        }
    }
    const QList<JobJournal::StatusSeen> seen = std::exchange(m_statusesSeen, {});
    if (!m_journal.updateStatuses(seen)) {
        // The statuses are noted again from the whole next list, against
        // the entries as they are.
        m_wholeListDue = true;
        m_entriesByIndex.clear();
        return;
    }
    for (const JobJournal::StatusSeen &status : seen)
        m_entries[status.key.jobPath].lastStatus = status.status;
}

// A refresh asks for the entry of each changed line. Where the line's job is
// the one of the list before, its record shares the path's text with the
// record before, and the answer is found without hashing the path. The
// cached text is kept, so that no other path can take its place in memory.
WindowJournal::ListedEntry &WindowJournal::listedAt(int index, const JobInfo &job, bool &jobChanged)
{
    ListedEntry &listed = m_entriesByIndex[size_t(index)];
    jobChanged = listed.path.isNull() || listed.accessible != job.accessible
        || listed.path.constData() != job.path.constData() || listed.path.size() != job.path.size();
    if (jobChanged) {
        listed.path = job.path;
        listed.accessible = job.accessible;
        // Another user's job is never the journal's.
        listed.entry = job.accessible ? entryOf(job.path) : nullptr;
        listed.offered = false;
        listed.journalStatus.reset();
        if (listed.entry && !listed.entry->lastStatus.isEmpty())
            listed.journalStatus = JobRules::statusOf(listed.entry->lastStatus);
    }
    return listed;
}

void WindowJournal::noteJob(ListedEntry &listed, const JobInfo &job, bool offersResult,
                            bool statusMayDiffer)
{
    // A running job's step moves at every refresh; the journal keeps
    // what the job went through, not every step of it.
    if (statusMayDiffer) {
        const JobRules::Status status = JobRules::statusOf(job.status);
        if (listed.journalStatus != status) {
            m_statusesSeen.append({ listed.entry->key, job.status });
            listed.journalStatus = status;
        }
    }
    if (m_downloadsAutomatically && offersResult && !listed.entry->hasResult())
        fetchOffered(*listed.entry, job.progressMsg);
}

const JournalEntry *WindowJournal::entryOf(const QString &jobPath) const
{
    const auto entry = m_entries.constFind(jobPath);
    return entry == m_entries.cend() ? nullptr : &*entry;
}

// The cache of entries by index holds one per job of the list, and forgets
// them all when m_entries changed.
void WindowJournal::fitListedEntries(int jobCount)
{
    if (m_entriesByIndexGeneration != m_generation) {
        m_entriesByIndex.clear();
        m_entriesByIndexGeneration = m_generation;
    }
    m_entriesByIndex.resize(size_t(jobCount));
}

void WindowJournal::beginList(int jobCount)
{
    readEntries();
    fitListedEntries(jobCount);
}

// Read again only after another process wrote: this one keeps m_entries in
// step with its own writes, and a refresh of a long list must stay quick.
void WindowJournal::readEntries()
{
    if (!m_journalOpen)
        return;
    // What was read stays true until something is written.
    if (!m_fileWatch->takeWritten() && m_entriesRead)
        return;
    if (!m_journal.changedElsewhere() && m_entriesRead)
        return;
    QList<JournalEntry> entries;
    const JournalKey login = keyOf(QString());
    if (!m_journal.entries(entries, login.server, login.port, login.user))
        return;
    m_entries.clear();
    m_entries.reserve(entries.size());
    for (const JournalEntry &entry : qAsConst(entries))
        m_entries.insert(entry.key.jobPath, entry);
    m_entriesRead = true;
    ++m_generation;
    m_wholeListDue = true;
}

// A job that calvaro submitted meanwhile is in the journal already, so it is
// not taken for the window's.
void WindowJournal::recordSubmittedJob()
{
    const std::unique_ptr<SubmissionRecord> submission = std::move(m_submission);
    m_submissionAccepted = false;
    QStringList added;
    const QStringList newOwnJobs
        = SubmissionRecord::addedJobPaths(m_ownJobsBeforeSubmission, ownJobsOf(m_lastList));
    for (const QString &path : newOwnJobs) {
        if (!m_entries.contains(path))
            added << path;
    }
    if (added.size() != 1) {
        m_clientBase->reportStatus(
            tr("The submitted job is not recorded in the job journal: the job list does not "
               "tell which job it is"));
        return;
    }
    const JournalKey key = keyOf(added.constFirst());
    if (!submission->record(m_journal, key)) {
        m_clientBase->reportStatus(tr("Job %1 is not recorded in the job journal: %2")
                                       .arg(key.jobPath, m_journal.errorText()));
        return;
    }
    m_entries.insert(key.jobPath, submission->entryFor(key));
    ++m_generation;
    // Its line was followed before its entry was there.
    m_wholeListDue = true;
}

void WindowJournal::fetchOffered(const JournalEntry &entry, const QString &progressMsg)
{
    if (m_fetcher->isQueued(entry.key) || m_keptOut.contains(entry.key.jobPath))
        return;
    const QString target = ResultPlacement::targetPath(entry, progressMsg, m_pathPattern);
    JournalKey owner;
    if (m_journal.ownerOfResult(target, owner) && owner != entry.key) {
        m_keptOut.insert(entry.key.jobPath);
        m_clientBase->reportStatus(
            tr("Result of %1 not downloaded: %2 is the result of job %3")
                .arg(entry.key.jobPath, QDir::toNativeSeparators(target), owner.jobPath));
        return;
    }
    if (!m_fetcher->fetch(entry.key, target))
        m_wholeListDue = true;
}

void WindowJournal::onResultStored(const JournalKey &key, const QString &filePath)
{
    if (key.user != m_clientBase->loginUser())
        return;
    const auto entry = m_entries.find(key.jobPath);
    if (entry != m_entries.end() && m_journal.find(key, *entry))
        ++m_generation;
    m_clientBase->reportStatus(
        tr("Saved result of %1 to %2").arg(key.jobPath, QDir::toNativeSeparators(filePath)));
    emit resultStored(key.jobPath, filePath);
}

// A file that is not this job's stands at the target: trying again at every
// refresh would download the result each time, only to leave it again.
void WindowJournal::onFetchFailed(const JournalKey &key, const QString &target,
                                  const QString &reason)
{
    m_wholeListDue = true;
    if (QFileInfo::exists(target))
        m_keptOut.insert(key.jobPath);
    m_clientBase->reportStatus(tr("Result of %1 not downloaded: %2").arg(key.jobPath, reason));
}

} // namespace VLK
