#pragma once

#include "journal/JobJournal.h"
#include "journal/JournalEntry.h"
#include "journal/SubmissionRecord.h"
#include "protocol/JobRules.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace VLK {

class CalvaroClientBase;
class JournalFileWatch;
class ResultFetcher;
struct JobInfo;
class ShownJobList;

// The window's side of the job journal: it records the jobs the window
// submits, keeps what the journal knows of the logged-in user's jobs for the
// job table, and has the results that they offer downloaded by themselves.
class WindowJournal : public QObject
{
    Q_OBJECT

public:
    // Uses the journal at journalPath.
    WindowJournal(CalvaroClientBase *clientBase, const QString &journalPath);
    ~WindowJournal() override;

    // Reads whether results are downloaded by themselves.
    void readSettings();
    bool downloadsAutomatically() const { return m_downloadsAutomatically; }
    void setDownloadsAutomatically(bool on);

    // A job went out; the first job list after the server accepted it names
    // it: the one job of the user's that the list followed before lacked.
    void expectSubmittedJob(const SubmissionRecord &record);
    struct FollowedJob
    {
        // Null for a job that the journal does not know.
        const JournalEntry *entry = nullptr;
        // Whether the job offers its result; false for a job without entry.
        bool offersResult = false;
        // False when the job at this index, its entry and its offer are
        // those of the list before, and the entry was not read anew since:
        // what the table shows of them stays as it is.
        bool shownChanged = true;
    };
    // A job list the window shows is followed in three steps. beginList()
    // first reads the logged-in user's entries anew where another process
    // wrote since. followJob() then takes each job whose line changed, at its
    // index in the list, with whether its status text changed there: it
    // notes the job's status and fetches its result when offered and not yet
    // on disk, and tells its entry. endList() last records a submitted job
    // and writes the statuses noted.
    void beginList(int jobCount);
    FollowedJob followJob(int index, const JobInfo &job, bool statusTextChanged);
    void endList(const ShownJobList &list);
    // The journal's entry of a job of the logged-in user; null for a job
    // that the journal does not know.
    const JournalEntry *entryOf(const QString &jobPath) const;
    // Counts the changes of what entryOf() tells, so that the table shows
    // its journal cells anew only where something changed.
    int generation() const { return m_generation; }

signals:
    // A result is on disk, downloaded without the user asking.
    void resultStored(const QString &jobPath, const QString &filePath);
    // The switch read at a login differs from the one before.
    void automaticDownloadSwitched(bool on);

private slots:
    void onMsgReceived(int msgType);
    void onSessionEnded();
    void onResultStored(const VLK::JournalKey &key, const QString &filePath);
    void onFetchFailed(const VLK::JournalKey &key, const QString &target, const QString &reason);

private:
    JournalKey keyOf(const QString &jobPath) const;
    static QSet<QString> ownJobsOf(const ShownJobList *list);
    void beginLogin();
    void recordSubmittedJob();
    struct ListedEntry;
    void readEntries();
    void fitListedEntries(int jobCount);
    ListedEntry &listedAt(int index, const JobInfo &job, bool &jobChanged);
    void noteJob(ListedEntry &listed, const JobInfo &job, bool offersResult, bool statusMayDiffer);
    void fetchOffered(const JournalEntry &entry, const QString &progressMsg);

    CalvaroClientBase *const m_clientBase;
    JobJournal m_journal;
    bool m_journalOpen = false;
    // Set while the journal is open.
    JournalFileWatch *m_fileWatch = nullptr;
    ResultFetcher *const m_fetcher;
    bool m_downloadsAutomatically = true;
    QString m_pathPattern;
    // The logged-in user's entries by job path, read once per job list.
    QHash<QString, JournalEntry> m_entries;
    std::unique_ptr<SubmissionRecord> m_submission;
    // The list followed last: the window keeps it until the next one.
    const ShownJobList *m_lastList = nullptr;
    QSet<QString> m_ownJobsBeforeSubmission;
    int m_generation = 0;
    bool m_entriesRead = false;
    bool m_submissionAccepted = false;
    // The next list is looked at whole, not only where it changed.
    bool m_wholeListDue = true;
    QList<JobJournal::StatusSeen> m_statusesSeen;
    // The entry of the job at each index of the list, while m_entries is
    // the same, whether the job offered its result there, and the kind of
    // status that its entry holds: a refresh compares a thousand of those
    // without reaching into the entries.
    struct ListedEntry
    {
        QString path;
        const JournalEntry *entry = nullptr;
        // Empty while the entry holds no status.
        std::optional<JobRules::Status> journalStatus;
        bool accessible = false;
        bool offered = false;
    };
    std::vector<ListedEntry> m_entriesByIndex;
    int m_entriesByIndexGeneration = -1;
    // Jobs whose result target holds another file: not fetched again until
    // the next login.
    QSet<QString> m_keptOut;
};

} // namespace VLK
