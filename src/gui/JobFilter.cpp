#include "gui/JobFilter.h"

#include "gui/JobTableItems.h"
#include "protocol/JobRules.h"
#include "protocol/Protocol.h"

#include <QHeaderView>
#include <QTableWidget>

namespace VLK {

namespace {
QString cellText(const QTableWidget &table, int row, int column)
{
    const QTableWidgetItem *cell = table.item(row, column);
    return cell ? cell->text() : QString();
}

// Which rows a pass looks at.
enum class Rows { None, Shown, Hidden, All };
} // namespace

void JobFilter::setText(const QString &text)
{
    m_text = text;
    m_matcher = QStringMatcher(text, Qt::CaseInsensitive);
}

bool JobFilter::accepts(const QTableWidget &table, int row) const
{
    if (m_quick != Quick::All) {
        const QTableWidgetItem *userCell = table.item(row, JobTableItems::UserIdColumn);
        const bool accessible = userCell && userCell->data(JobTableItems::AccessibleRole).toBool();
        if (!acceptsQuick(accessible, cellText(table, row, JobTableItems::StatusColumn)))
            return false;
    }
    return m_text.isEmpty() || containsText(table, row, JobTableItems::AllColumns);
}

int JobFilter::apply(QTableWidget &table)
{
    QHeaderView *rowHeader = table.verticalHeader();
    const bool sameQuick = m_quick == m_appliedQuick;
    Rows rows = Rows::All;
    if (!m_rowsFollowFilter)
        rows = isActive() || rowHeader->hiddenSectionCount() > 0 ? Rows::All : Rows::None;
    else if (sameQuick && m_text == m_appliedText)
        rows = Rows::None;
    else if (sameQuick && m_text.contains(m_appliedText, Qt::CaseInsensitive))
        rows = Rows::Shown;
    else if (sameQuick && m_appliedText.contains(m_text, Qt::CaseInsensitive))
        rows = Rows::Hidden;

    if (rows != Rows::None) {
        // Each row hidden or shown would otherwise have the header find the
        // place of every row anew.
        const bool headerUpdates = rowHeader->updatesEnabled();
        rowHeader->setUpdatesEnabled(false);
        for (int row = 0; row < table.rowCount(); ++row) {
            const bool hidden = table.isRowHidden(row);
            if ((rows == Rows::Shown && hidden) || (rows == Rows::Hidden && !hidden))
                continue;
            const bool accepted = !isActive() || accepts(table, row);
            if (hidden == accepted)
                table.setRowHidden(row, !accepted);
        }
        rowHeader->setUpdatesEnabled(headerUpdates);
    }
    m_appliedText = m_text;
    m_appliedQuick = m_quick;
    m_rowsFollowFilter = true;
    return table.rowCount() - rowHeader->hiddenSectionCount();
}

void JobFilter::showIfAccepted(QTableWidget &table, int row, const JobInfo &job,
                               JobTableItems::Columns changedColumns) const
{
    if (!m_rowsFollowFilter)
        return;
    const bool hidden = table.isRowHidden(row);
    const bool accepted = !isActive()
        || (acceptsQuick(job.accessible, job.status)
            && (m_text.isEmpty()
                || containsText(table, row, columnsToSearch(hidden, changedColumns))));
    if (hidden == accepted)
        table.setRowHidden(row, !accepted);
}

// A row that this filter hid, and whose quick filter said yes then as it
// does now, was hidden for its text, which none of its unchanged cells
// holds: only the changed ones are searched. The quick filter reads whether
// the job is accessible, kept on the user ID cell, and its status.
JobTableItems::Columns JobFilter::columnsToSearch(bool hidden,
                                                  JobTableItems::Columns changedColumns) const
{
    const bool followsThisFilter = m_text == m_appliedText && m_quick == m_appliedQuick;
    const bool quickAnswerKept = m_quick == Quick::All
        || !(changedColumns
             & (JobTableItems::columnBit(JobTableItems::UserIdColumn)
                | JobTableItems::columnBit(JobTableItems::StatusColumn)));
    return hidden && followsThisFilter && quickAnswerKept ? changedColumns
                                                          : JobTableItems::AllColumns;
}

bool JobFilter::acceptsQuick(bool accessible, const QString &status) const
{
    switch (m_quick) {
    case Quick::All:
        return true;
    case Quick::Mine:
        return accessible;
    case Quick::Queued:
        return JobRules::statusOf(status) == JobRules::Status::Queued;
    case Quick::Running:
        return JobRules::statusOf(status) == JobRules::Status::Running;
    case Quick::Finished:
        return JobRules::isFinished(JobRules::statusOf(status));
    case Quick::Failed:
        return JobRules::statusOf(status) == JobRules::Status::Failed;
    }
    return true;
}

bool JobFilter::containsText(const QTableWidget &table, int row,
                             JobTableItems::Columns columns) const
{
    for (int column = 0; column < JobTableItems::ColumnCount; ++column) {
        if (!(columns & JobTableItems::columnBit(column)))
            continue;
        const QTableWidgetItem *cell = table.item(row, column);
        if (cell && JobTableItems::cellContains(*cell, m_matcher))
            return true;
    }
    return false;
}

} // namespace VLK
