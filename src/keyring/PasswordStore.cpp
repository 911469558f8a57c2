#include "keyring/PasswordStore.h"

#include <QTimer>
#include <QtGlobal>

#if QT_VERSION_MAJOR == 5
#include <qt5keychain/keychain.h>
#else
#include <qt6keychain/keychain.h>
#endif

namespace VLK {

namespace {

// The name under which the secret store lists our entries.
const char *const ServiceName = "Calvaro Client";

} // namespace

QString PasswordEntry::key() const
{
    // Joined, not formatted: a user name may hold a "%1" of its own.
    return userName + QLatin1Char('@') + host + QLatin1Char(':') + QString::number(port);
}

PasswordStore::PasswordStore(QObject *parent)
    : QObject(parent)
    , m_answerTimer(new QTimer(this))
{
    m_answerTimer->setSingleShot(true);
    m_answerTimer->setInterval(AnswerTimeoutMs);
    connect(m_answerTimer, &QTimer::timeout, this, &PasswordStore::onAnswerTimeout);
}

void PasswordStore::read(const PasswordEntry &entry)
{
    if (m_unavailable) {
        QTimer::singleShot(0, this, [this, entry] { emit passwordNotRead(entry); });
        return;
    }
    auto *job = new QKeychain::ReadPasswordJob(QLatin1String(ServiceName));
    job->setKey(entry.key());
    start(job, [this, job, entry] {
        if (job->error() == QKeychain::NoError)
            emit passwordRead(entry, job->textData());
        else
            emit passwordNotRead(entry);
    });
}

void PasswordStore::write(const PasswordEntry &entry, const QString &password)
{
    if (m_unavailable)
        return;
    auto *job = new QKeychain::WritePasswordJob(QLatin1String(ServiceName));
    job->setKey(entry.key());
    job->setTextData(password);
    start(job, [] {});
}

void PasswordStore::forget(const PasswordEntry &entry)
{
    if (m_unavailable)
        return;
    auto *job = new QKeychain::DeletePasswordJob(QLatin1String(ServiceName));
    job->setKey(entry.key());
    start(job, [] {});
}

template<typename Finished> void PasswordStore::start(QKeychain::Job *job, Finished finished)
{
    // The keychain library would otherwise keep the password in a plain
    // settings file where no secret store answers.
    job->setInsecureFallback(false);
    // The job outlives this store if the store goes first: a secret service
    // that answers late must still find it.
    job->setAutoDelete(true);
    connect(job, &QKeychain::Job::finished, this, [this, job, finished] {
        if (m_unavailable)
            return;
        --m_openJobs;
        if (m_openJobs > 0)
            m_answerTimer->start();
        else
            m_answerTimer->stop();
        const QKeychain::Error error = job->error();
        if (error != QKeychain::NoError && error != QKeychain::EntryNotFound) {
            becomeUnavailable(job->errorString());
            return;
        }
        finished();
    });
    if (m_openJobs++ == 0)
        m_answerTimer->start();
    job->start();
}

void PasswordStore::onAnswerTimeout()
{
    becomeUnavailable(tr("no secret service answered within %1 s").arg(AnswerTimeoutMs / 1000));
}

void PasswordStore::becomeUnavailable(const QString &reason)
{
    m_unavailable = true;
    m_openJobs = 0;
    m_answerTimer->stop();
    emit unavailable(reason);
}

} // namespace VLK
