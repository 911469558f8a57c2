#include "VLK_JobTableItems.h"

#include "VLK_Protocol.h"

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
    row[UserIdColumn] = new QTableWidgetItem(job.userId);
    row[UserIdColumn]->setData(AccessibleRole, job.accessible);
    row[SolverIdColumn] = new QTableWidgetItem(job.solverId);
    row[StatusColumn] = new QTableWidgetItem(job.status);
    if (job.status.startsWith(QLatin1String("Running")))
        row[StatusColumn]->setForeground(m_runningBrush);
    else if (job.status.startsWith(QLatin1String("Queued")))
        row[StatusColumn]->setForeground(m_queuedBrush);
    row[PathColumn] = new QTableWidgetItem(job.path);
    row[ProgressColumn] = new QTableWidgetItem(lastMessageTail(job.progressMsg));
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
