#include "gui/JournalCells.h"

#include "gui/JobTableItems.h"
#include "journal/JournalEntry.h"

#include <QDir>
#include <QFileInfo>
#include <QTableWidget>

namespace VLK {

namespace {

// Held in the result cell, so that the folder is known however the table is sorted.
constexpr int ResultPathRole = Qt::UserRole + 3;

// Set only where it changed: most rows repeat themselves at every refresh.
void showCell(QTableWidget &table, int row, int column, const QString &text, const QString &toolTip,
              const QVariant &notOnDisk, const QString &resultPath)
{
    QTableWidgetItem *cell = table.item(row, column);
    if (!cell) {
        cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        table.setItem(row, column, cell);
    }
    if (cell->text() != text)
        cell->setText(text);
    if (cell->toolTip() != toolTip)
        cell->setToolTip(toolTip);
    if (cell->data(JournalCells::ResultNotOnDiskRole) != notOnDisk)
        cell->setData(JournalCells::ResultNotOnDiskRole, notOnDisk);
    if (cell->data(ResultPathRole).toString() != resultPath)
        cell->setData(ResultPathRole, resultPath);
}

} // namespace

void JournalCells::fillRow(QTableWidget &table, int row, const JournalEntry *entry,
                           bool offersResult)
{
    QString marker;
    QString toolTip;
    bool notOnDisk = false;
    if (entry && entry->hasResult()) {
        marker = tr("on disk");
        toolTip = QDir::toNativeSeparators(entry->resultPath);
    } else if (entry && offersResult) {
        marker = tr("not on disk");
        notOnDisk = true;
    }
    showCell(table, row, JobTableItems::ResultColumn, marker, toolTip, notOnDisk,
             entry ? entry->resultPath : QString());
    const QString commandLine = entry ? entry->commandLine : QString();
    showCell(table, row, JobTableItems::CommandLineColumn, commandLine, commandLine, QVariant(),
             QString());
}

bool JournalCells::isResultNotOnDisk(const QTableWidget &table, int row)
{
    const QTableWidgetItem *cell = table.item(row, JobTableItems::ResultColumn);
    return cell && cell->data(ResultNotOnDiskRole).toBool();
}

QString JournalCells::resultFolder(const QTableWidget &table, int row)
{
    const QTableWidgetItem *cell = table.item(row, JobTableItems::ResultColumn);
    const QString path = cell ? cell->data(ResultPathRole).toString() : QString();
    return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
}

} // namespace VLK
