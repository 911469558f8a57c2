#include "CommandHandler.h"

#include "JobScheduler.h"
#include "JobStore.h"
#include "RequestParser.h"
#include "Upload.h"
#include "UserDirectory.h"

#include "protocol/JobRules.h"

#include <QFileInfo>

#include <cstdio>

namespace DevServer {

using namespace VLK;

namespace {

QByteArray textList(const QStringList &items)
{
    QByteArray payload;
    appendStringList(items, payload);
    return payload;
}

QString jobLine(const Job &job, bool accessible)
{
    JobInfo line;
    line.accessible = accessible;
    line.userId = job.user;
    line.solverId = job.solverId;
    line.path = job.path();
    line.status = job.statusText();
    line.progressMsg = JobRules::joinMessages(job.messages);
    return encodeJobLine(line);
}

} // namespace

CommandHandler::CommandHandler(const UserDirectory &users, JobStore &store, JobScheduler &scheduler,
                               const QStringList &solvers, bool showOthers)
    : m_users(users)
    , m_store(store)
    , m_scheduler(scheduler)
    , m_solvers(solvers)
    , m_showOthers(showOthers)
{ }

Reply CommandHandler::handle(const Request &request, QString &user)
{
    if (request.type == MT_Login)
        return login(request, user);
    if (user.isEmpty())
        return Reply(MT_CommandError2);
    switch (request.type) {
    case MT_Logout:
        user.clear();
        return Reply(MT_LogoutOk);
    case MT_JobStatus:
        return jobList(user);
    case MT_SolverList:
        return Reply(MT_SolverListReply, textList(m_solvers));
    case MT_DownloadJob:
        return download(user, request.argument);
    case MT_KillJob:
        return kill(user, request.argument);
    case MT_RemoveJob:
        return remove(user, request.argument);
    default:
        return Reply(MT_CommandError1);
    }
}

Reply CommandHandler::login(const Request &request, QString &user) const
{
    // A failed login also ends the one before: the connection is nobody's now.
    user.clear();
    if (!m_users.accepts(request.userName, request.passwordDigest))
        return Reply(MT_CommandError1);
    user = request.userName;
    return Reply(MT_LoginOk);
}

Reply CommandHandler::jobList(const QString &user) const
{
    QStringList lines;
    for (const Job &job : qAsConst(m_store.jobs())) {
        const bool own = job.user == user;
        if (own || m_showOthers)
            lines.append(jobLine(job, own));
    }
    return Reply(MT_JobStatusReply, textList(lines));
}

Reply CommandHandler::download(const QString &user, const QString &path)
{
    const Job *job = ownJob(user, path);
    if (!job || job->state != JobState::Processed)
        return Reply(MT_CommandError1);
    const QString resultPath = m_store.resultPath(*job);
    if (!QFileInfo(resultPath).isFile())
        return Reply(MT_CommandError1);
    return Reply(MT_DownloadJobReply, QByteArray(), resultPath);
}

Reply CommandHandler::kill(const QString &user, const QString &path)
{
    const Job *job = ownJob(user, path);
    if (!job || !m_scheduler.kill(job->number))
        return Reply(MT_CommandError1);
    return Reply(MT_KillJobOk);
}

Reply CommandHandler::remove(const QString &user, const QString &path)
{
    const Job *job = ownJob(user, path);
    if (!job || job->isActive())
        return Reply(MT_CommandError1);
    m_store.remove(job->number);
    return Reply(MT_RemoveJobOk);
}

Job *CommandHandler::ownJob(const QString &user, const QString &path)
{
    Job *job = m_store.findByPath(path);
    return job && job->user == user ? job : nullptr;
}

int CommandHandler::refuseSubmission(const QString &user, const JobHeader &header) const
{
    if (user.isEmpty())
        return MT_CommandError2;
    if (!m_solvers.contains(header.solverId))
        return MT_CommandError1;
    return 0;
}

std::unique_ptr<Upload> CommandHandler::newUpload() const
{
    return m_store.newUpload();
}

Reply CommandHandler::submit(const QString &user, const JobHeader &header, Upload &upload)
{
    QString error;
    if (!m_store.add(user, header, upload, error)) {
        std::fprintf(stderr, "calvaro-devserver: job of %s not stored: %s\n", qPrintable(user),
                     qPrintable(error));
        return Reply(MT_CommandError1);
    }
    return Reply(MT_SubmitJobOk);
}

} // namespace DevServer
