#pragma once

#include "gui/JobActionPlan.h"

#include <QCoreApplication>
#include <QStringList>

namespace VLK {

// One action worked through a list of jobs, one request at a time: which job
// is next, and how each one went, for a single summary at the end.
class JobBatch final
{
    Q_DECLARE_TR_FUNCTIONS(VLK::JobBatch)

public:
    JobBatch(JobAction action, const QStringList &jobPaths);

    JobAction action() const { return m_action; }
    bool hasNext() const { return !m_pending.isEmpty(); }
    // Takes the next job; its outcome is told by succeeded() or refused().
    QString takeNext();
    void succeeded();
    void refused();
    // The current job's result arrived and is being written to its file;
    // stored() tells how that went, and false for a job not of this batch.
    void storing();
    bool stored(const QString &jobPath, bool written);
    // The current job's result could not be saved, for reason.
    void notSaved(const QString &reason);
    // The jobs not yet asked for are not sent at all.
    void abandon();
    // Every job was asked for and every result is written.
    bool isDone() const
    {
        return m_pending.isEmpty() && m_current.isEmpty() && m_storing.isEmpty();
    }

    bool anyFailed() const
    {
        return !m_refused.isEmpty() || !m_notSent.isEmpty() || !m_notSaved.isEmpty();
    }
    // "2 removed, 1 refused: runs/a/model.dat"
    QString summary() const;

private:
    JobAction m_action;
    QStringList m_pending;
    QString m_current;
    int m_succeeded = 0;
    QStringList m_refused;
    QStringList m_notSent;
    QStringList m_storing;
    QStringList m_notSaved;
};

} // namespace VLK
