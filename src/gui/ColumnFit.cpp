#include "gui/ColumnFit.h"

#include <QHeaderView>
#include <QSet>
#include <QTableWidget>

namespace VLK {

namespace {

// The width the cells of column need: the widest of their size hints, and
// the grid line, as the view counts them.
int contentWidth(const QTableWidget &table, int column)
{
    QSet<QString> measured;
    // Neighbouring rows mostly repeat a text (the same user, the same solver),
    // which is cheaper to see than to look up.
    QString previousText;
    bool hasPrevious = false;
    int widest = 0;
    for (int row = 0; row < table.rowCount(); ++row) {
        if (table.isRowHidden(row))
            continue;
        const QTableWidgetItem *cell = table.item(row, column);
        const QString text = cell ? cell->text() : QString();
        if (hasPrevious && text == previousText)
            continue;
        hasPrevious = true;
        previousText = text;
        if (measured.contains(text))
            continue;
        measured.insert(text);
        widest = qMax(widest, table.sizeHintForIndex(table.model()->index(row, column)).width());
    }
    return table.showGrid() ? widest + 1 : widest;
}

} // namespace

void fitColumnToDistinctTexts(QTableWidget &table, int column)
{
    table.ensurePolished();
    QHeaderView *header = table.horizontalHeader();
    header->resizeSection(column,
                          qMax(contentWidth(table, column), header->sectionSizeHint(column)));
}

} // namespace VLK
