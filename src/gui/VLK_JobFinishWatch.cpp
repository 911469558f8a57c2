#include "gui/VLK_JobFinishWatch.h"

#include "protocol/VLK_ShownJobList.h"

#include <QStringView>

#include <algorithm>

namespace VLK {

namespace {

constexpr int MessageTailLength = 80;

// A long list is compared line by line on every refresh: the texts are
// matched as UTF-16, as they are held, and the last message is found with a
// plain scan from the end.
template<int Size> bool startsWith(const QString &text, const char16_t (&prefix)[Size])
{
    constexpr int prefixLength = Size - 1;
    if (text.size() < prefixLength)
        return false;
    const QChar *characters = text.constData();
    for (int i = 0; i < prefixLength; ++i) {
        if (characters[i].unicode() != prefix[i])
            return false;
    }
    return true;
}

// Texts that did not change are shared with the list.
bool isSame(const QString &shown, const QString &text)
{
    return shown.constData() == text.constData() || shown == text;
}

// Whether the shown tail of the last progress message announces the result,
// as the download button reads it, without copying the message.
bool announcesResult(const QString &progressMsg)
{
    const QChar *characters = progressMsg.constData();
    int lastStart = progressMsg.size();
    while (lastStart > 1
           && !(characters[lastStart - 1] == QLatin1Char('|')
                && characters[lastStart - 2] == QLatin1Char('\\')))
        --lastStart;
    if (lastStart <= 1)
        lastStart = 0;
    const int tailStart = qMax(lastStart, progressMsg.size() - MessageTailLength);
    const QChar *tail = characters + tailStart;
    const QStringView ready(u"Ready for download:");
    return progressMsg.size() - tailStart >= ready.size()
        && std::equal(ready.begin(), ready.end(), tail);
}

} // namespace

void JobFinishWatch::reset()
{
    m_watched.clear();
}

JobFinishWatch::State JobFinishWatch::stateOf(const JobInfo &job, State before)
{
    const QString &status = job.status;
    if (startsWith(status, u"Running"))
        return announcesResult(job.progressMsg) ? Done : Running;
    if (startsWith(status, u"Queued"))
        return announcesResult(job.progressMsg) ? Done : Queued;
    if (startsWith(status, u"Processed") || startsWith(status, u"Failed")
        || startsWith(status, u"Killed"))
        return Done;
    // A status this client does not know, such as a job being stopped: a job
    // watched before stays watched, and a result still counts.
    if (before == Unwatched)
        return Unwatched;
    return announcesResult(job.progressMsg) ? Done : Other;
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
    const State now = job.accessible ? stateOf(job, before) : Unwatched;
    WatchedJob &watched = m_watched[position];
    if (now == Done && isActive(before)) {
        FinishedJob::Outcome outcome = FinishedJob::Processed;
        if (startsWith(job.status, u"Failed"))
            outcome = FinishedJob::Failed;
        else if (startsWith(job.status, u"Killed"))
            outcome = FinishedJob::Killed;
        m_finished.append({ job.path, job.solverId, outcome });
    }
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
