#pragma once

#include "protocol/Protocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace DevServer {

class JobScheduler;
class JobStore;
class Upload;
class UserDirectory;
struct Job;
struct Request;

struct Reply
{
    explicit Reply(int replyType, const QByteArray &replyPayload = QByteArray(),
                   const QString &replyFile = QString())
        : type(replyType)
        , payload(replyPayload)
        , filePath(replyFile)
    { }

    int type;
    QByteArray payload; // after the header
    QString filePath; // when set, the payload is this file's content
};

// What the server does for each request, apart from any connection: the
// session hands in requests with the name of its logged-in user and sends
// back the replies.
class CommandHandler final
{
public:
    CommandHandler(const UserDirectory &users, JobStore &store, JobScheduler &scheduler,
                   const QStringList &solvers, bool showOthers);

    // user is the session's logged-in user, empty when nobody is; login and
    // logout change it. Not for submissions, which arrive in parts.
    Reply handle(const Request &request, QString &user);

    // The error reply a submission will get whatever its archive, or 0 when
    // the archive is worth storing.
    int refuseSubmission(const QString &user, const VLK::JobHeader &header) const;
    std::unique_ptr<Upload> newUpload() const;
    Reply submit(const QString &user, const VLK::JobHeader &header, Upload &upload);

private:
    Reply login(const Request &request, QString &user) const;
    Reply jobList(const QString &user) const;
    Reply download(const QString &user, const QString &path);
    Reply kill(const QString &user, const QString &path);
    Reply remove(const QString &user, const QString &path);
    Job *ownJob(const QString &user, const QString &path);

    const UserDirectory &m_users;
    JobStore &m_store;
    JobScheduler &m_scheduler;
    QStringList m_solvers;
    bool m_showOthers;
};

} // namespace DevServer
