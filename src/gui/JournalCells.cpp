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

// A journal cell keeps what it shows in members: a refresh compares a
// thousand of them with what the journal says, which the toolkit's own cell
// would answer by searching its list of roles for each value.
class JournalCell final : public QTableWidgetItem
{
public:
    static constexpr int Type = QTableWidgetItem::UserType + 2;

    struct Content
    {
        QString text;
        QString toolTip;
        bool notOnDisk = false;
        QString resultPath;

        bool operator==(const Content &other) const
        {
            return text == other.text && toolTip == other.toolTip && notOnDisk == other.notOnDisk
                && resultPath == other.resultPath;
        }
    };

    JournalCell()
        : QTableWidgetItem(Type)
    {
        setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
    Q_DISABLE_COPY(JournalCell)

    // Shows content. The table hears of it only when something changed,
    // and so does the caller.
    bool show(const Content &content)
    {
        if (content == m_content)
            return false;
        m_content = content;
        tellTable();
        return true;
    }

    QVariant data(int role) const override
    {
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return m_content.text;
        case Qt::ToolTipRole:
            return m_content.toolTip.isEmpty() ? QVariant() : QVariant(m_content.toolTip);
        case JournalCells::ResultNotOnDiskRole:
            return m_content.notOnDisk;
        case ResultPathRole:
            return m_content.resultPath;
        default:
            return QTableWidgetItem::data(role);
        }
    }

    // Any caller outside the fill.
    void setData(int role, const QVariant &value) override
    {
        Content content = m_content;
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            content.text = value.toString();
            break;
        case Qt::ToolTipRole:
            content.toolTip = value.toString();
            break;
        case JournalCells::ResultNotOnDiskRole:
            content.notOnDisk = value.toBool();
            break;
        case ResultPathRole:
            content.resultPath = value.toString();
            break;
        default:
            QTableWidgetItem::setData(role, value);
            return;
        }
        show(content);
    }

private:
    // Setting its flags, even unchanged, makes the table repaint the cell
    // and emit its change signals.
    void tellTable() { setFlags(flags()); }

    Content m_content;
};

JobTableItems::Columns showCell(QTableWidget &table, int row, int column,
                                const JournalCell::Content &content)
{
    QTableWidgetItem *cell = table.item(row, column);
    if (cell && cell->type() == JournalCell::Type)
        return static_cast<JournalCell *>(cell)->show(content) ? JobTableItems::columnBit(column)
                                                               : 0;
    auto *journalCell = new JournalCell;
    journalCell->show(content);
    table.setItem(row, column, journalCell);
    return JobTableItems::columnBit(column);
}

} // namespace

JobTableItems::Columns JournalCells::fillRow(QTableWidget &table, int row,
                                             const JournalEntry *entry, bool offersResult)
{
    // Most rows are other users' jobs: they hold no cells at all, which
    // keeps a long table small and its refresh quick.
    if (!entry) {
        JobTableItems::Columns removed = 0;
        for (int column : { JobTableItems::ResultColumn, JobTableItems::CommandLineColumn }) {
            if (table.item(row, column)) {
                delete table.takeItem(row, column);
                removed |= JobTableItems::columnBit(column);
            }
        }
        return removed;
    }
    JournalCell::Content result;
    if (entry->hasResult()) {
        result.text = tr("on disk");
        result.toolTip = QDir::toNativeSeparators(entry->resultPath);
    } else if (offersResult) {
        result.text = tr("not on disk");
        result.notOnDisk = true;
    }
    result.resultPath = entry->resultPath;
    return showCell(table, row, JobTableItems::ResultColumn, result)
        | showCell(table, row, JobTableItems::CommandLineColumn,
                   { entry->commandLine, entry->commandLine, false, QString() });
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
