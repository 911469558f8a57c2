#include "gui/VLK_JobFinishWatch.h"

#include "protocol/VLK_ShownJobList.h"

#include <QHash>
#include <QStringView>

namespace VLK {

namespace {

const QString MessageSeparator = QStringLiteral("\\|");
const QString ReadyForDownload = QStringLiteral("Ready for download:");
constexpr int MessageTailLength = 80;

// Whether the shown tail of the last progress message announces the result,
// as the download button reads it, without copying the message.
bool announcesResult(const QString &progressMsg)
{
    const int lastSeparator = progressMsg.lastIndexOf(MessageSeparator);
    const int lastStart = lastSeparator == -1 ? 0 : lastSeparator + MessageSeparator.size();
    const int tailStart = qMax(lastStart, progressMsg.size() - MessageTailLength);
    return QStringView(progressMsg).mid(tailStart).startsWith(ReadyForDownload);
}

} // namespace

void JobFinishWatch::reset()
{
    m_watched.clear();
}

JobFinishWatch::State JobFinishWatch::stateOf(const JobInfo &job, State before)
{
    const QString &status = job.status;
    if (status.startsWith(QLatin1String("Running")))
        return announcesResult(job.progressMsg) ? Done : Running;
    if (status.startsWith(QLatin1String("Queued")))
        return announcesResult(job.progressMsg) ? Done : Queued;
    if (status.startsWith(QLatin1String("Processed")) || status.startsWith(QLatin1String("Failed"))
        || status.startsWith(QLatin1String("Killed")))
        return Done;
    // A status this client does not know, such as a job being stopped: a job
    // watched before stays watched, and a result still counts.
    if (before == Unwatched)
        return Unwatched;
    return announcesResult(job.progressMsg) ? Done : Other;
}

QVector<FinishedJob> JobFinishWatch::compare(const ShownJobList &list,
                                             const QVector<int> &changedIndexes)
{
    QVector<FinishedJob> finished;
    const int shownBefore = m_watched.size();
    // Watched jobs whose position now holds another job, by path: they moved
    // or left the list.
    QHash<QString, WatchedJob> displaced;
    m_watched.resize(qMax(shownBefore, list.jobCount()));
    for (const int index : changedIndexes) {
        WatchedJob &watched = m_watched[index];
        const JobInfo &job = list.job(index);
        // Texts that did not change are shared with the list, so a job that
        // stayed in its place compares by pointer.
        if (watched.state != Unwatched && watched.path != job.path) {
            displaced.insert(watched.path, watched);
            watched = WatchedJob();
        }
        // A job that moved here is taken for a new one until the moved jobs
        // are matched below.
        if (watched.state != Unwatched || job.accessible)
            follow(index, job, watched.state, finished);
    }
    for (int index = list.jobCount(); index < shownBefore; ++index) {
        if (m_watched.at(index).state != Unwatched)
            displaced.insert(m_watched.at(index).path, m_watched.at(index));
    }
    m_watched.resize(list.jobCount());
    if (displaced.isEmpty())
        return finished;

    // A moved job sits on a changed line, since its new line held another job.
    for (const int index : changedIndexes) {
        const JobInfo &job = list.job(index);
        const auto moved = displaced.find(job.path);
        if (moved == displaced.end())
            continue;
        follow(index, job, moved->state, finished);
        displaced.erase(moved);
    }
    for (const WatchedJob &gone : qAsConst(displaced)) {
        if (gone.state == Running)
            finished.append({ gone.path, gone.solverId, FinishedJob::Vanished });
    }
    return finished;
}

void JobFinishWatch::follow(int position, const JobInfo &job, State before,
                            QVector<FinishedJob> &finished)
{
    // Jobs of other users are not watched; one that was watched and can no
    // longer be touched is let go quietly.
    const State now = job.accessible ? stateOf(job, before) : Unwatched;
    WatchedJob &watched = m_watched[position];
    if (now == Done && isActive(before)) {
        FinishedJob::Outcome outcome = FinishedJob::Processed;
        if (job.status.startsWith(QLatin1String("Failed")))
            outcome = FinishedJob::Failed;
        else if (job.status.startsWith(QLatin1String("Killed")))
            outcome = FinishedJob::Killed;
        finished.append({ job.path, job.solverId, outcome });
    }
    if (!isActive(now)) {
        if (watched.state != Unwatched)
            watched = WatchedJob();
        return;
    }
    // A job that stays running keeps its entry untouched.
    if (watched.state == now && watched.path == job.path)
        return;
    watched.path = job.path;
    watched.solverId = job.solverId;
    // An unknown status keeps what the job was before.
    watched.state = now == Other && before != Unwatched ? before : now;
}

} // namespace VLK
