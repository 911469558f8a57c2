#include "protocol/JobFinishWatch.h"

#include "protocol/ShownJobList.h"

namespace VLK {

namespace {

// Texts that did not change are shared with the list.
bool isSame(const QString &shown, const QString &text)
{
    return shown.constData() == text.constData() || shown == text;
}

FinishedJob::Outcome outcomeOf(JobRules::Status status)
{
    switch (status) {
    case JobRules::Status::Failed:
        return FinishedJob::Failed;
    case JobRules::Status::Killed:
        return FinishedJob::Killed;
    default:
        // Processed, or still listed as running or queued with its result offered.
        return FinishedJob::Processed;
    }
}

} // namespace

void JobFinishWatch::reset()
{
    m_watched.clear();
}

JobFinishWatch::State JobFinishWatch::stateOf(const JobInfo &job, JobRules::Status status,
                                              State before)
{
    if (JobRules::isFinished(status))
        return Done;
    // A status this client does not know, such as a job being stopped: a job
    // watched before stays watched, and a result still counts.
    if (status == JobRules::Status::Other && before == Unwatched)
        return Unwatched;
    if (JobRules::offersResult(job.progressMsg))
        return Done;
    switch (status) {
    case JobRules::Status::Running:
        return Running;
    case JobRules::Status::Queued:
        return Queued;
    default:
        return Other;
    }
}

void JobFinishWatch::beginComparing(int jobCount)
{
    m_finished.clear();
    m_displaced.clear();
    m_shownBefore = m_watched.size();
    m_watched.resize(qMax(m_shownBefore, jobCount));
}

void JobFinishWatch::compareJob(int index, const JobInfo &job)
{
    WatchedJob &watched = m_watched[index];
    if (watched.state != Unwatched && !isSame(watched.path, job.path)) {
        m_displaced.insert(watched.path, watched);
        watched = WatchedJob();
    }
    // A job that moved here is taken for a new one until the moved jobs are
    // matched at the end.
    if (watched.state != Unwatched || job.accessible)
        follow(index, job, watched.state);
}

QVector<FinishedJob> JobFinishWatch::endComparing(const ShownJobList &list,
                                                  const QVector<int> &changedIndexes)
{
    for (int index = list.jobCount(); index < m_shownBefore; ++index) {
        if (m_watched.at(index).state != Unwatched)
            m_displaced.insert(m_watched.at(index).path, m_watched.at(index));
    }
    m_watched.resize(list.jobCount());
    if (!m_displaced.isEmpty()) {
        // A moved job sits on a changed line, since its new line held
        // another job.
        for (const int index : changedIndexes) {
            const JobInfo &job = list.job(index);
            const auto moved = m_displaced.constFind(job.path);
            if (moved == m_displaced.constEnd())
                continue;
            follow(index, job, moved->state);
            m_displaced.erase(moved);
        }
        for (const WatchedJob &gone : qAsConst(m_displaced)) {
            if (gone.state == Running)
                m_finished.append({ gone.path, gone.solverId, FinishedJob::Vanished });
        }
        m_displaced.clear();
    }
    QVector<FinishedJob> finished;
    finished.swap(m_finished);
    return finished;
}

void JobFinishWatch::follow(int position, const JobInfo &job, State before)
{
    // Jobs of other users are not watched; one that was watched and can no
    // longer be touched is let go quietly.
    const JobRules::Status status = JobRules::statusOf(job.status);
    const State now = job.accessible ? stateOf(job, status, before) : Unwatched;
    WatchedJob &watched = m_watched[position];
    if (now == Done && isActive(before))
        m_finished.append({ job.path, job.solverId, outcomeOf(status) });
    if (!isActive(now)) {
        if (watched.state != Unwatched)
            watched = WatchedJob();
        return;
    }
    // A job that stays running keeps its entry untouched.
    if (watched.state == now && isSame(watched.path, job.path))
        return;
    watched.path = job.path;
    watched.solverId = job.solverId;
    // An unknown status keeps what the job was before.
    watched.state = now == Other && before != Unwatched ? before : now;
}

} // namespace VLK
