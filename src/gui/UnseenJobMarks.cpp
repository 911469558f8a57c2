#include "gui/UnseenJobMarks.h"

#include "gui/JobTableItems.h"

#include <QFont>
#include <QHeaderView>
#include <QTableWidget>

namespace VLK {

UnseenJobMarks::UnseenJobMarks(QTableWidget &table)
    : m_table(table)
{ }

void UnseenJobMarks::add(const QStringList &jobPaths)
{
    for (const QString &path : jobPaths)
        m_unseen.insert(path);
}

// A pass over every row, made only while there is a mark to place or to take
// away: a long list refreshed every few seconds mostly has none.
void UnseenJobMarks::markRows()
{
    if (m_unseen.isEmpty() && !m_anyMarked)
        return;
    QSet<QString> listed;
    for (int row = 0; row < m_table.rowCount(); ++row) {
        const QTableWidgetItem *pathCell = m_table.item(row, JobTableItems::PathColumn);
        const bool unseen = pathCell && m_unseen.contains(pathCell->text());
        if (unseen)
            listed.insert(pathCell->text());
        setMarked(row, unseen);
    }
    m_unseen = listed;
    m_anyMarked = !m_unseen.isEmpty();
}

void UnseenJobMarks::seeShownRows()
{
    if (m_unseen.isEmpty() || m_table.rowCount() == 0)
        return;
    const int firstRow = qMax(m_table.rowAt(0), 0);
    int lastRow = m_table.rowAt(m_table.viewport()->height() - 1);
    if (lastRow == -1)
        lastRow = m_table.rowCount() - 1;
    for (int row = firstRow; row <= lastRow; ++row) {
        const QTableWidgetItem *pathCell = m_table.item(row, JobTableItems::PathColumn);
        if (!m_table.isRowHidden(row) && pathCell && m_unseen.remove(pathCell->text()))
            setMarked(row, false);
    }
}

void UnseenJobMarks::clear()
{
    m_unseen.clear();
    m_anyMarked = false;
}

// Only the mark is set on the cell: without it, the cell takes the table's font.
void UnseenJobMarks::setMarked(int row, bool marked)
{
    QTableWidgetItem *pathCell = m_table.item(row, JobTableItems::PathColumn);
    if (!pathCell || pathCell->data(Qt::FontRole).isValid() == marked)
        return;
    QFont bold = m_table.font();
    bold.setBold(true);
    pathCell->setData(Qt::FontRole, marked ? QVariant(bold) : QVariant());
    pathCell->setData(Qt::ToolTipRole,
                      marked ? QVariant(tr("Finished while you were not looking")) : QVariant());
}

} // namespace VLK
