#pragma once

#include "journal/JournalEntry.h"
#include "protocol/ClientSession.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

namespace VLK {

class JobJournal;
class ResultFileWriter;

// Downloads the results of journalled jobs on a connection of its own, one
// after another, so that whoever uses the main connection never waits for
// them. A job is claimed in the journal before it is queued; a download that
// fails gives its claim back, so that the job's next offer tries again.
class ResultFetcher : public QObject
{
    Q_OBJECT

public:
    // Who to log in as: the same user as the main connection.
    struct Login
    {
        QString host;
        quint16 port = 0;
        QString userName;
        QString passwordDigest;
    };

    explicit ResultFetcher(JobJournal &journal, QObject *parent = nullptr);
    ~ResultFetcher() override;

    void setLogin(const Login &login);
    // Claims the job and queues the download of its result into target.
    // False when it is not this process's to fetch: queued already, claimed
    // by another process, or stored meanwhile.
    bool fetch(const JournalKey &key, const QString &target);
    bool isQueued(const JournalKey &key) const;
    // Ends the download under way and forgets the queue; every claim is given back.
    void stop();

signals:
    void resultStored(const VLK::JournalKey &key, const QString &filePath);
    void fetchFailed(const VLK::JournalKey &key, const QString &target, const QString &reason);

private slots:
    void onConnected();
    void onMessageCompleted(int messageType);
    void onFailed(const VLK::ClientSession::Failure &failure);

private:
    struct Download
    {
        JournalKey key;
        QString target;
    };

    void startNext();
    void requestCurrent();
    void storeCurrent();
    void failCurrent(const QString &reason);
    void giveUpAll(const QString &reason);

    JobJournal &m_journal;
    ClientSession *m_session;
    Login m_login;
    QList<Download> m_queue;
    std::unique_ptr<ResultFileWriter> m_writer;
    // The size of the result that the reply's header announced.
    qint64 m_announcedSize = 0;
    bool m_loggedIn = false;
};

} // namespace VLK
