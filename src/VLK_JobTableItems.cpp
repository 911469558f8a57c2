#include "VLK_JobTableItems.h"

#include "VLK_Protocol.h"

#include <QFont>
#include <QStringList>
#include <QTableWidgetItem>

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
    QFont progressFont;
    progressFont.setFamily(QStringLiteral("Courier New"));
    // One value that every progress cell shares, instead of a copy per cell.
    m_progressFont = progressFont;
}

JobTableItems::Row JobTableItems::create(const JobInfo &job, int replyIndex) const
{
    // Cells are complete before a table sees them, so filling a long list
    // costs one model notification per cell and no more.
    const QString texts[ColumnCount]
        = { job.userId, job.solverId, job.status, job.path, lastMessageTail(job.progressMsg) };
    Row row;
    for (int column = 0; column < ColumnCount; ++column)
        row[column] = new JobCell(texts[column]);
    row[UserIdColumn]->setData(AccessibleRole, job.accessible);
    if (job.status.startsWith(QLatin1String("Running")))
        row[StatusColumn]->setForeground(m_runningBrush);
    else if (job.status.startsWith(QLatin1String("Queued")))
        row[StatusColumn]->setForeground(m_queuedBrush);
    row[ProgressColumn]->setData(Qt::FontRole, m_progressFont);
    row[ProgressColumn]->setData(ReplyIndexRole, replyIndex);

    if (!job.accessible) {
        for (QTableWidgetItem *cell : row) {
            cell->setFlags(Qt::ItemIsEnabled);
            cell->setForeground(m_inaccessibleBrush);
        }
    }
    return row;
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
