#include "VLK_JobTableItems.h"

#include "VLK_Protocol.h"

#include <QStringList>
#include <QTableWidgetItem>

#include <algorithm>
#include <numeric>

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

} // namespace

JobTableItems::JobTableItems()
    : m_runningBrush(QColor(200, 0, 0))
    , m_queuedBrush(QColor(0, 200, 0))
    , m_inaccessibleBrush(Qt::gray)
{
    // Family only: the size comes from the table's own font.
    m_progressFont.setFamily(QStringLiteral("Courier New"));
}

JobTableItems::Row JobTableItems::create(const JobInfo &job, int replyIndex) const
{
    // Cells are complete before a table sees them, so filling a long list
    // costs one model notification per cell and no more.
    Row row;
    for (int column = 0; column < ColumnCount; ++column)
        row[column] = new JobCell(cellText(job, column));
    row[UserIdColumn]->setData(AccessibleRole, job.accessible);
    if (job.status.startsWith(QLatin1String("Running")))
        row[StatusColumn]->setForeground(m_runningBrush);
    else if (job.status.startsWith(QLatin1String("Queued")))
        row[StatusColumn]->setForeground(m_queuedBrush);
    row[ProgressColumn]->setFont(m_progressFont);
    row[ProgressColumn]->setData(ReplyIndexRole, replyIndex);

    if (!job.accessible) {
        for (QTableWidgetItem *cell : row) {
            cell->setFlags(Qt::ItemIsEnabled);
            cell->setForeground(m_inaccessibleBrush);
        }
    }
    return row;
}

QVector<int> JobTableItems::displayOrder(const QList<JobInfo> &jobs, int sortColumn,
                                         Qt::SortOrder order)
{
    QVector<int> positions(jobs.size());
    std::iota(positions.begin(), positions.end(), 0);
    if (sortColumn < 0 || sortColumn >= ColumnCount)
        return positions;

    QVector<QString> keys;
    keys.reserve(jobs.size());
    for (const JobInfo &job : jobs)
        keys.append(cellText(job, sortColumn));
    // Stable, as the table's own sort is, so that equal keys keep reply order.
    if (order == Qt::AscendingOrder)
        std::stable_sort(positions.begin(), positions.end(),
                         [&keys](int a, int b) { return keys.at(a) < keys.at(b); });
    else
        std::stable_sort(positions.begin(), positions.end(),
                         [&keys](int a, int b) { return keys.at(b) < keys.at(a); });
    return positions;
}

QString JobTableItems::cellText(const JobInfo &job, int column)
{
    switch (column) {
    case UserIdColumn:
        return job.userId;
    case SolverIdColumn:
        return job.solverId;
    case StatusColumn:
        return job.status;
    case PathColumn:
        return job.path;
    case ProgressColumn:
        return lastMessageTail(job.progressMsg);
    }
    return QString();
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
    return tail(progressMsg.mid(lastSeparator + MessageSeparator.size()));
}

QString JobTableItems::messageLines(const QString &progressMsg)
{
    QStringList messages = progressMsg.split(MessageSeparator);
    for (QString &message : messages)
        message = tail(message);
    return messages.join(QLatin1Char('\n'));
}

} // namespace VLK
