#pragma once

#include "journal/JournalEntry.h"

#include <QCoreApplication>
#include <QList>
#include <QLockFile>
#include <QString>

#include <memory>

class QSqlQuery;

namespace VLK {

// The local record of every job submitted from this account, shared by the
// window and any number of calvaro processes at once. Each call is one short
// transaction, so a caller on the GUI thread never waits long for another
// process.
//
// Before a result is downloaded the job is claimed; a claim belongs to the
// process that made it and lapses when that process ends, however it ends.
class JobJournal
{
    Q_DECLARE_TR_FUNCTIONS(VLK::JobJournal)

public:
    // The journal in the user's data folder.
    static QString defaultPath();

    explicit JobJournal(QString filePath = defaultPath());
    ~JobJournal();
    JobJournal(const JobJournal &) = delete;
    JobJournal &operator=(const JobJournal &) = delete;

    // Opens or creates the journal and brings an older one up to date. A file
    // that is damaged or written by a newer version is refused, and left as
    // it is.
    bool open();
    QString errorText() const { return m_errorText; }
    QString filePath() const { return m_filePath; }

    // Records a newly submitted job; the result fields are not taken.
    bool record(const JournalEntry &entry);
    struct StatusSeen
    {
        JournalKey key;
        QString status;
    };
    bool updateStatus(const JournalKey &key, const QString &status);
    bool updateStatuses(const QList<StatusSeen> &seen);
    enum class Claim {
        Taken, // this process may download the job's result now
        Busy, // its result is stored, or another living process holds a claim on it
        Failed, // the journal could not be read or written: errorText() says why
    };
    Claim claimDownload(const JournalKey &key);
    void releaseClaim(const JournalKey &key);
    // Stores a complete result and releases the claim.
    bool storeResult(const JournalKey &key, const QString &path, qint64 size,
                     const QByteArray &sha256);

    bool find(const JournalKey &key, JournalEntry &entry);
    // The entries of one login, or all of them (empty server), oldest first.
    bool entries(QList<JournalEntry> &result, const QString &server = QString(), quint16 port = 0,
                 const QString &user = QString());
    // The job that stored this result file, if any.
    bool ownerOfResult(const QString &path, JournalKey &owner);
    // True when another process has written to the journal since the last
    // call, and at the first: a reader that keeps what it read, and follows
    // its own writes, reads again only then.
    bool changedElsewhere();

private:
    bool fail(const QString &text);
    bool exec(QSqlQuery &query);
    bool execText(const QString &statement);
    bool migrate(int fromVersion);
    bool claimHolderIsAlive(const QString &holder) const;
    bool takeClaimLock();
    Claim rollBack();
    QString claimLockPath(const QString &holder) const;

    QString m_filePath;
    QString m_connectionName;
    QString m_claimHolder;
    std::unique_ptr<QLockFile> m_claimLock;
    QString m_errorText;
    qint64 m_dataVersion = -1;
};

} // namespace VLK
