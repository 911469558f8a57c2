#include "journal/ResultFetcher.h"

#include "journal/JobJournal.h"
#include "journal/ResultFileWriter.h"
#include "protocol/CalvaroClientCommands.h"
#include "protocol/Protocol.h"

#include <algorithm>

namespace VLK {

ResultFetcher::ResultFetcher(JobJournal &journal, QObject *parent)
    : QObject(parent)
    , m_journal(journal)
    , m_session(new ClientSession(this))
{
    connect(m_session, &ClientSession::connected, this, &ResultFetcher::onConnected);
    connect(m_session, &ClientSession::messageStarted, this,
            [this](int, qint64 totalSize) { m_announcedSize = totalSize - MessageHeaderSize; });
    connect(m_session, &ClientSession::messageCompleted, this, &ResultFetcher::onMessageCompleted);
    connect(m_session, &ClientSession::failed, this, &ResultFetcher::onFailed);
}

ResultFetcher::~ResultFetcher()
{
    stop();
}

void ResultFetcher::setLogin(const Login &login)
{
    m_login = login;
}

bool ResultFetcher::fetch(const JournalKey &key, const QString &target)
{
    if (isQueued(key) || m_journal.claimDownload(key) != JobJournal::Claim::Taken)
        return false;
    m_queue.append({ key, target });
    if (m_queue.size() == 1)
        startNext();
    return true;
}

bool ResultFetcher::isQueued(const JournalKey &key) const
{
    return std::any_of(m_queue.cbegin(), m_queue.cend(),
                       [&key](const Download &download) { return download.key == key; });
}

void ResultFetcher::stop()
{
    m_writer.reset();
    for (const Download &download : qAsConst(m_queue))
        m_journal.releaseClaim(download.key);
    m_queue.clear();
    m_loggedIn = false;
    m_session->disconnectFromServer();
}

// The connection stays while there is something to fetch, and goes with the
// last download, so that an idle window holds no second login on the server.
void ResultFetcher::startNext()
{
    if (m_queue.isEmpty()) {
        m_loggedIn = false;
        m_session->disconnectFromServer();
        return;
    }
    if (m_loggedIn)
        requestCurrent();
    else if (!m_session->isConnected())
        m_session->connectToServer(m_login.host, m_login.port);
}

void ResultFetcher::onConnected()
{
    if (CalvaroClientCommands::sendLogin(m_session->socket(), m_login.userName,
                                         m_login.passwordDigest))
        m_session->awaitReply();
    else
        giveUpAll(CalvaroClientCommands::lastErrorMessage);
}

void ResultFetcher::requestCurrent()
{
    const Download &current = m_queue.constFirst();
    m_writer = std::make_unique<ResultFileWriter>(current.target);
    QString error;
    if (!m_writer->openTarget(error)) {
        failCurrent(error);
        return;
    }
    m_session->streamNextDownloadTo(m_writer.get());
    if (CalvaroClientCommands::sendStringCommand(m_session->socket(), MT_DownloadJob,
                                                 current.key.jobPath))
        m_session->awaitReply(true);
    else
        giveUpAll(CalvaroClientCommands::lastErrorMessage);
}

void ResultFetcher::onMessageCompleted(int messageType)
{
    if (m_queue.isEmpty())
        return;
    switch (messageType) {
    case MT_LoginOk:
        m_loggedIn = true;
        requestCurrent();
        break;
    case MT_DownloadJobReply:
        storeCurrent();
        break;
    case MT_CommandError1:
    case MT_CommandError2:
        if (m_loggedIn)
            failCurrent(tr("The server refused the download."));
        else
            giveUpAll(tr("The server refused the login."));
        break;
    default:
        break;
    }
}

void ResultFetcher::storeCurrent()
{
    const Download current = m_queue.constFirst();
    QString error;
    if (!m_writer->finish(m_announcedSize, error)) {
        failCurrent(error);
        return;
    }
    if (!m_journal.storeResult(current.key, current.target, m_writer->bytesWritten(),
                               m_writer->sha256())) {
        failCurrent(m_journal.errorText());
        return;
    }
    m_writer.reset();
    m_queue.removeFirst();
    emit resultStored(current.key, current.target);
    startNext();
}

void ResultFetcher::failCurrent(const QString &reason)
{
    if (m_writer)
        m_writer->discard();
    m_writer.reset();
    const Download current = m_queue.takeFirst();
    m_journal.releaseClaim(current.key);
    emit fetchFailed(current.key, current.target, reason);
    startNext();
}

// The connection is gone with the download under way; the others wait for
// their next offer rather than knocking on a server that just went away.
void ResultFetcher::onFailed(const ClientSession::Failure &failure)
{
    giveUpAll(failure.text);
}

void ResultFetcher::giveUpAll(const QString &reason)
{
    if (m_writer)
        m_writer->discard();
    m_writer.reset();
    const QList<Download> dropped = m_queue;
    m_queue.clear();
    m_loggedIn = false;
    m_session->disconnectFromServer();
    for (const Download &download : dropped) {
        m_journal.releaseClaim(download.key);
        emit fetchFailed(download.key, download.target, reason);
    }
}

} // namespace VLK
