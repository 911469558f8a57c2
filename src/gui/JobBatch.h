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
    // The jobs not yet asked for are not sent at all.
    void abandon();

    bool anyFailed() const { return !m_refused.isEmpty() || !m_notSent.isEmpty(); }
    // "2 removed, 1 refused: runs/a/model.dat"
    QString summary() const;

private:
    JobAction m_action;
    QStringList m_pending;
    QString m_current;
    int m_succeeded = 0;
    QStringList m_refused;
    QStringList m_notSent;
};

} // namespace VLK
