#pragma once

#include "protocol/JobRules.h"

#include <QHash>
#include <QString>
#include <QVector>

namespace VLK {

class ShownJobList;
struct JobInfo;

// A job of the user's that was queued or running in the list shown before
// and has finished in the list shown now.
struct FinishedJob
{
    enum Outcome { Processed, Failed, Killed, Vanished };

    QString path;
    QString solverId;
    Outcome outcome = Processed;
};

// Finds the user's jobs that finished between one shown job list and the
// next. It keeps one entry per reply position of the shown list, filled only
// for the user's queued and running jobs, and looks only at the positions
// that the list reports changed: a refresh of a long list in which nothing
// moved costs a glance per changed line. Only when jobs were added or
// removed before others, so that lines moved, are the moved ones matched by
// their path.
class JobFinishWatch
{
public:
    // The next list is the baseline: nothing in it counts as finished.
    void reset();
    // Compares a list, just updated, with the list seen before: starts with
    // the list's length, takes each job at a position that the update
    // reported changed, in the order reported, and ends with the list and
    // those positions. Each job is best taken right after it was shown,
    // while its texts are still at hand: a refresh of a long list would
    // otherwise read them all once more.
    void beginComparing(int jobCount);
    void compareJob(int index, const JobInfo &job);
    QVector<FinishedJob> endComparing(const ShownJobList &list, const QVector<int> &changedIndexes);

private:
    enum State : quint8 { Unwatched, Queued, Running, Other, Done };
    struct WatchedJob
    {
        QString path;
        QString solverId;
        State state = Unwatched;
    };

    static State stateOf(const JobInfo &job, JobRules::Status status, State before);
    static bool isActive(State state)
    {
        return state == Queued || state == Running || state == Other;
    }
    // Takes job as the one now at position, watched before in the state
    // before, and notes it in m_finished when it has finished since.
    void follow(int position, const JobInfo &job, State before);

    QVector<WatchedJob> m_watched;
    // While comparing: the length of the list before, the jobs found
    // finished, and the watched jobs whose position now holds another job,
    // by path (they moved or left the list).
    int m_shownBefore = 0;
    QVector<FinishedJob> m_finished;
    QHash<QString, WatchedJob> m_displaced;
};

} // namespace VLK
