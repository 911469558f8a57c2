#pragma once

#include <QObject>
#include <QString>

class QTimer;

namespace QKeychain {
class Job;
}

namespace VLK {

// Which password an entry holds: one per server, port and user.
struct PasswordEntry
{
    QString host;
    quint16 port = 0;
    QString userName;

    bool isComplete() const { return !host.isEmpty() && port != 0 && !userName.isEmpty(); }
    // The entry's name in the secret store, "user@host:port".
    QString key() const;
};

// A password the user asked to remember, kept in the desktop's secret store
// and nowhere else: never in a file of our own, whatever happens. Every call
// returns at once and answers by a signal. A secret store that fails, or does
// not answer within AnswerTimeoutMs (no secret service on the session bus, a
// locked keyring nobody unlocks), counts as unavailable for the rest of this
// object's life: unavailable() says so once, calls still open are not
// answered, and later reads answer passwordNotRead() straight away.
class PasswordStore : public QObject
{
    Q_OBJECT

public:
    static constexpr int AnswerTimeoutMs = 2000;

    explicit PasswordStore(QObject *parent = nullptr);

    void read(const PasswordEntry &entry);
    void write(const PasswordEntry &entry, const QString &password);
    void forget(const PasswordEntry &entry);

signals:
    void passwordRead(const VLK::PasswordEntry &entry, const QString &password);
    // No password is stored for the entry, or the store cannot be read.
    void passwordNotRead(const VLK::PasswordEntry &entry);
    // Once: why nothing can be remembered.
    void unavailable(const QString &reason);

private slots:
    void onAnswerTimeout();

private:
    // finished() runs when the job is answered well (or with no entry found)
    // while the store is still available.
    template<typename Finished> void start(QKeychain::Job *job, Finished finished);
    void becomeUnavailable(const QString &reason);

    QTimer *const m_answerTimer;
    // The secret store answers jobs one after another, so the time limit
    // runs for the oldest open one and starts again with each answer.
    int m_openJobs = 0;
    bool m_unavailable = false;
};

} // namespace VLK
