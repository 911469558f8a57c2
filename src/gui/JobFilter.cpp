#include "gui/JobFilter.h"

#include "gui/JobTableItems.h"
#include "protocol/JobRules.h"

#include <QTableWidget>

namespace VLK {

bool JobFilter::accepts(const QTableWidget &table, int row) const
{
    return acceptsQuick(table, row) && acceptsText(table, row);
}

int JobFilter::apply(QTableWidget &table)
{
    const int rowCount = table.rowCount();
    const bool active = isActive();
    if (!active && !m_anyRowHidden)
        return rowCount;
    m_anyRowHidden = active;
    int shown = 0;
    for (int row = 0; row < rowCount; ++row) {
        const bool accepted = !active || accepts(table, row);
        // Hiding a row that already is hidden still costs the header a pass.
        if (table.isRowHidden(row) == accepted)
            table.setRowHidden(row, !accepted);
        shown += accepted ? 1 : 0;
    }
    return shown;
}

bool JobFilter::acceptsText(const QTableWidget &table, int row) const
{
    if (m_text.isEmpty())
        return true;
    for (int column = 0; column < JobTableItems::ColumnCount; ++column) {
        const QTableWidgetItem *cell = table.item(row, column);
        if (cell && cell->text().contains(m_text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool JobFilter::acceptsQuick(const QTableWidget &table, int row) const
{
    if (m_quick == Quick::All)
        return true;
    if (m_quick == Quick::Mine) {
        const QTableWidgetItem *userCell = table.item(row, JobTableItems::UserIdColumn);
        return userCell && userCell->data(JobTableItems::AccessibleRole).toBool();
    }
    const QTableWidgetItem *statusCell = table.item(row, JobTableItems::StatusColumn);
    const QString statusText = statusCell ? statusCell->text() : QString();
    const JobRules::Status status = JobRules::statusOf(statusText);
    switch (m_quick) {
    case Quick::Queued:
        return status == JobRules::Status::Queued;
    case Quick::Running:
        return status == JobRules::Status::Running;
    case Quick::Finished:
        return JobRules::isFinished(status);
    case Quick::Failed:
        return status == JobRules::Status::Failed;
    default:
        return true;
    }
}

} // namespace VLK
