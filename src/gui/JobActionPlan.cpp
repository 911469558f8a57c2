#include "gui/JobActionPlan.h"

#include "gui/JobTableItems.h"

#include <QTableWidget>

namespace VLK {

namespace {
QString cellText(const QTableWidget &table, int row, int column)
{
    const QTableWidgetItem *cell = table.item(row, column);
    return cell ? cell->text() : QString();
}

bool appliesTo(JobAction action, const JobTableItems::Actions &actions)
{
    switch (action) {
    case JobAction::Kill:
        return actions.kill;
    case JobAction::Remove:
        return actions.remove;
    case JobAction::Download:
        return actions.download;
    }
    return false;
}

QString listed(const QStringList &paths, int maxLines)
{
    QStringList lines = paths.mid(0, maxLines);
    if (paths.size() > maxLines)
        lines << JobActionPlan::tr("and %1 more").arg(paths.size() - maxLines);
    return lines.join(QLatin1Char('\n'));
}
} // namespace

JobActionPlan JobActionPlan::forRows(const QTableWidget &table, const QList<int> &rows,
                                     JobAction action)
{
    JobActionPlan plan(action);
    for (int row : rows) {
        const QTableWidgetItem *userCell = table.item(row, JobTableItems::UserIdColumn);
        const bool accessible = userCell && userCell->data(JobTableItems::AccessibleRole).toBool();
        const QString status = cellText(table, row, JobTableItems::StatusColumn);
        const QString path = cellText(table, row, JobTableItems::PathColumn);
        const JobTableItems::Actions actions = JobTableItems::actionsFor(
            accessible, status, cellText(table, row, JobTableItems::ProgressColumn));
        if (appliesTo(action, actions))
            plan.m_targets << path;
        else
            plan.m_leftOut << tr("%1 (%2)").arg(path, status);
    }
    return plan;
}

QString JobActionPlan::buttonText(JobAction action, int jobCount)
{
    QString name;
    switch (action) {
    case JobAction::Kill:
        name = tr("Kill");
        break;
    case JobAction::Remove:
        name = tr("Remove");
        break;
    case JobAction::Download:
        name = tr("Get Results");
        break;
    }
    return jobCount > 1 ? tr("%1 (%2)").arg(name, QString::number(jobCount)) : name;
}

QString JobActionPlan::title(JobAction action)
{
    switch (action) {
    case JobAction::Kill:
        return tr("Kill jobs");
    case JobAction::Remove:
        return tr("Remove jobs");
    case JobAction::Download:
        return tr("Get results");
    }
    return QString();
}

QString JobActionPlan::confirmationText() const
{
    QString question;
    switch (m_action) {
    case JobAction::Kill:
        question = tr("Kill %1 jobs?");
        break;
    case JobAction::Remove:
        question = tr("Remove %1 jobs?");
        break;
    case JobAction::Download:
        question = tr("Get the results of %1 jobs?");
        break;
    }
    QString text
        = question.arg(m_targets.size()) + QLatin1String("\n\n") + listed(m_targets, MaxListedJobs);
    if (!m_leftOut.isEmpty())
        text += QLatin1String("\n\n") + leftOutReason().arg(m_leftOut.size()) + QLatin1Char('\n')
            + listed(m_leftOut, MaxListedJobs);
    return text;
}

QString JobActionPlan::leftOutReason() const
{
    switch (m_action) {
    case JobAction::Kill:
        return tr("Left out, as only running jobs can be killed: %1");
    case JobAction::Remove:
        return tr("Left out, as only queued and processed jobs can be removed: %1");
    case JobAction::Download:
        return tr("Left out, as they offer no result: %1");
    }
    return QString();
}

} // namespace VLK
