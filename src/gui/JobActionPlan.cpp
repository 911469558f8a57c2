#include "gui/JobActionPlan.h"

#include "gui/JobTableItems.h"
#include "gui/JournalCells.h"
#include "protocol/JobRules.h"

#include <QTableWidget>

namespace VLK {

namespace {
// What each action is called wherever it is shown, translated where used.
struct ActionTexts
{
    const char *name;
    const char *title;
    const char *question;
    const char *leftOut;
    const char *outcome;
    // Asked before the action reaches a job whose offered result is not on
    // disk; null where the action keeps the result.
    const char *unsavedOne;
    const char *unsavedSeveral;
};

const ActionTexts &textsOf(JobAction action)
{
    static const ActionTexts kill {
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Kill"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Kill jobs"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Kill %1 jobs?"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Left out, as only running jobs can be killed: %1"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "%1 killed"),
        nullptr,
        nullptr
    };
    static const ActionTexts remove {
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Remove"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Remove jobs"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Remove %1 jobs?"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan",
                          "Left out, as only queued and processed jobs can be removed: %1"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "%1 removed"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Remove job %1? Its result was never downloaded."),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "The results of %1 of them were never downloaded:")
    };
    static const ActionTexts download {
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Get Results"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Get results"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Get the results of %1 jobs?"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "Left out, as they offer no result: %1"),
        QT_TRANSLATE_NOOP("VLK::JobActionPlan", "%1 saved"),
        nullptr,
        nullptr
    };
    switch (action) {
    case JobAction::Kill:
        return kill;
    case JobAction::Remove:
        return remove;
    case JobAction::Download:
        break;
    }
    return download;
}

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
        const QString progress = cellText(table, row, JobTableItems::ProgressColumn);
        const JobTableItems::Actions actions
            = JobTableItems::actionsFor(accessible, status, progress);
        if (appliesTo(action, actions)) {
            plan.m_targets << path;
            if (textsOf(action).unsavedOne && JournalCells::isResultNotOnDisk(table, row))
                plan.m_unsaved << path;
            if (action == JobAction::Download)
                plan.m_resultExtensions << JobRules::resultExtension(progress);
        } else {
            plan.m_leftOut << tr("%1 (%2)").arg(path, status);
        }
    }
    return plan;
}

QString JobActionPlan::confirmationText() const
{
    if (m_targets.size() == 1 && !m_unsaved.isEmpty())
        return tr(textsOf(m_action).unsavedOne).arg(m_unsaved.constFirst());
    QString text = tr(textsOf(m_action).question).arg(m_targets.size()) + QLatin1String("\n\n")
        + listed(m_targets, MaxListedJobs);
    if (!m_leftOut.isEmpty())
        text += QLatin1String("\n\n") + tr(textsOf(m_action).leftOut).arg(m_leftOut.size())
            + QLatin1Char('\n') + listed(m_leftOut, MaxListedJobs);
    if (!m_unsaved.isEmpty())
        text += QLatin1String("\n\n") + tr(textsOf(m_action).unsavedSeveral).arg(m_unsaved.size())
            + QLatin1Char('\n') + listed(m_unsaved, MaxListedJobs);
    return text;
}

QString JobActionPlan::buttonText(JobAction action, int jobCount)
{
    const QString name = tr(textsOf(action).name);
    return jobCount > 1 ? tr("%1 (%2)").arg(name, QString::number(jobCount)) : name;
}

QString JobActionPlan::title(JobAction action)
{
    return tr(textsOf(action).title);
}

QString JobActionPlan::outcomeText(JobAction action)
{
    return tr(textsOf(action).outcome);
}

} // namespace VLK
