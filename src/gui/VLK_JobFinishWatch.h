#pragma once

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
    // Compares list, just updated, with the list seen before; changedIndexes
    // are the positions that the update reported changed.
    QVector<FinishedJob> compare(const ShownJobList &list, const QVector<int> &changedIndexes);

private:
    enum State : quint8 { Unwatched, Queued, Running, Other, Done };
    struct WatchedJob
    {
        QString path;
        QString solverId;
        State state = Unwatched;
    };

    static State stateOf(const JobInfo &job, State before);
    static bool isActive(State state)
    {
        return state == Queued || state == Running || state == Other;
    }
    // Takes job as the one now at position, watched before in the state
    // before, and notes it in finished when it has finished since.
    void follow(int position, const JobInfo &job, State before, QVector<FinishedJob> &finished);

    QVector<WatchedJob> m_watched;
};

} // namespace VLK
