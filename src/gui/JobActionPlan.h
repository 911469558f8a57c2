#pragma once

#include <QCoreApplication>
#include <QList>
#include <QStringList>

class QTableWidget;

namespace VLK {

enum class JobAction { Kill, Remove, Download };

// The jobs one action is asked for, named by their paths as soon as the user
// asks: rows move with every refresh, a job's path does not. Selected jobs
// that the action does not apply to are kept apart with the reason.
class JobActionPlan final
{
    Q_DECLARE_TR_FUNCTIONS(VLK::JobActionPlan)

public:
    static JobActionPlan forRows(const QTableWidget &table, const QList<int> &rows,
                                 JobAction action);

    JobAction action() const { return m_action; }
    const QStringList &targets() const { return m_targets; }
    const QStringList &leftOut() const { return m_leftOut; }
    // The targets whose offered result is not on disk, which the action
    // would lose: the user is asked first, even for one job.
    const QStringList &unsaved() const { return m_unsaved; }
    // For Get Results: the extension of each target's offered result, in
    // the order of targets().
    const QStringList &resultExtensions() const { return m_resultExtensions; }

    // "Kill", "Remove" or "Get Results", with the number of jobs once there
    // are several.
    static QString buttonText(JobAction action, int jobCount);
    static QString title(JobAction action);
    // "%1 killed" and the like, for the summary of a batch.
    static QString outcomeText(JobAction action);
    // The jobs to act on, at most MaxListedJobs of them, then those left out
    // and why, then those whose result would be lost; for one job whose
    // result would be lost, the question about it alone.
    QString confirmationText() const;

    static constexpr int MaxListedJobs = 10;

private:
    explicit JobActionPlan(JobAction action)
        : m_action(action)
    { }

    JobAction m_action;
    QStringList m_targets;
    QStringList m_leftOut;
    QStringList m_unsaved;
    QStringList m_resultExtensions;
};

} // namespace VLK
