#include "VLK_JobTableItems.h"

#include "VLK_Protocol.h"

#include <QBrush>
#include <QFont>
#include <QStringList>
#include <QTableWidget>

namespace VLK {

namespace {

const QString MessageSeparator = QStringLiteral("\\|");
constexpr int MessageTailLength = 80;

QString tail(const QString &text)
{
    return text.right(MessageTailLength);
}

// A cell that sorts by its text as every cell does, but without fetching the
// text through the item's role data for each of the many comparisons a sort
// of a long list makes.
class JobCell : public QTableWidgetItem
{
public:
    static constexpr int Type = QTableWidgetItem::UserType + 1;

    explicit JobCell(const QString &text)
        : QTableWidgetItem(text, Type)
        , m_text(text)
    { }

    void setData(int role, const QVariant &value) override
    {
        QTableWidgetItem::setData(role, value);
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            m_text = text();
    }

    bool operator<(const QTableWidgetItem &other) const override
    {
        if (other.type() != Type)
            return QTableWidgetItem::operator<(other);
        return m_text < static_cast<const JobCell &>(other).m_text;
    }

private:
    QString m_text;
};

// Unchanged values are neither stored nor reported to the table again.
void setRole(QTableWidgetItem &cell, int role, const QVariant &value)
{
    if (cell.data(role) != value)
        cell.setData(role, value);
}

} // namespace

JobTableItems::JobTableItems()
    : m_defaultFlags(QTableWidgetItem().flags())
    , m_runningBrush(QBrush(QColor(200, 0, 0)))
    , m_queuedBrush(QBrush(QColor(0, 200, 0)))
    , m_inaccessibleBrush(QBrush(Qt::gray))
{
    // Family only: the size comes from the table's own font.
    QFont progressFont;
    progressFont.setFamily(QStringLiteral("Courier New"));
    // Values that every cell shares, instead of a copy per cell.
    m_progressFont = progressFont;
}

void JobTableItems::fillRow(QTableWidget &table, int row, const JobInfo &job, int replyIndex,
                            bool reuseCells) const
{
    const QString texts[ColumnCount]
        = { job.userId, job.solverId, job.status, job.path, lastMessageTail(job.progressMsg) };
    for (int column = 0; column < ColumnCount; ++column) {
        QTableWidgetItem *cell = reuseCells ? table.item(row, column) : nullptr;
        // A new cell is complete before the table sees it, so that it costs
        // the table one notification.
        const bool isNew = cell == nullptr;
        if (isNew)
            cell = new JobCell(texts[column]);
        else
            setRole(*cell, Qt::DisplayRole, texts[column]);

        if (column == UserIdColumn)
            setRole(*cell, AccessibleRole, job.accessible);
        if (column == ProgressColumn) {
            setRole(*cell, Qt::FontRole, m_progressFont);
            setRole(*cell, ReplyIndexRole, replyIndex);
        }
        setRole(*cell, Qt::ForegroundRole, foregroundFor(job, column));
        const Qt::ItemFlags flags = job.accessible ? m_defaultFlags : Qt::ItemIsEnabled;
        if (cell->flags() != flags)
            cell->setFlags(flags);

        if (isNew)
            table.setItem(row, column, cell);
    }
}

// No value for the toolkit's default colour.
QVariant JobTableItems::foregroundFor(const JobInfo &job, int column) const
{
    if (!job.accessible)
        return m_inaccessibleBrush;
    if (column != StatusColumn)
        return QVariant();
    if (job.status.startsWith(QLatin1String("Running")))
        return m_runningBrush;
    if (job.status.startsWith(QLatin1String("Queued")))
        return m_queuedBrush;
    return QVariant();
}

JobTableItems::Actions JobTableItems::actionsFor(bool accessible, const QString &status,
                                                 const QString &progressCell)
{
    Actions actions;
    if (!accessible)
        return actions;
    if (status.startsWith(QLatin1String("Processed"))) {
        actions.remove = true;
        actions.download = progressCell.startsWith(QLatin1String("Ready for download:"));
    } else if (status.startsWith(QLatin1String("Queued"))) {
        actions.remove = true;
    } else if (status.startsWith(QLatin1String("Running"))) {
        actions.kill = true;
    }
    return actions;
}

QString JobTableItems::lastMessageTail(const QString &progressMsg)
{
    const int lastSeparator = progressMsg.lastIndexOf(MessageSeparator);
    if (lastSeparator == -1)
        return tail(progressMsg);
    // One copy at most: long job lists call this for every row.
    const int lastStart = lastSeparator + MessageSeparator.size();
    return progressMsg.mid(qMax(lastStart, progressMsg.size() - MessageTailLength));
}

QString JobTableItems::messageLines(const QString &progressMsg)
{
    QStringList messages = progressMsg.split(MessageSeparator);
    for (QString &message : messages)
        message = tail(message);
    return messages.join(QLatin1Char('\n'));
}

} // namespace VLK
