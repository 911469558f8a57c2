#include "gui/JobBatch.h"

namespace VLK {

JobBatch::JobBatch(JobAction action, const QStringList &jobPaths)
    : m_action(action)
    , m_pending(jobPaths)
{ }

QString JobBatch::takeNext()
{
    m_current = m_pending.takeFirst();
    return m_current;
}

void JobBatch::succeeded()
{
    ++m_succeeded;
    m_current.clear();
}

void JobBatch::refused()
{
    m_refused << m_current;
    m_current.clear();
}

void JobBatch::storing()
{
    m_storing << m_current;
    m_current.clear();
}

bool JobBatch::stored(const QString &jobPath, bool written)
{
    if (!m_storing.removeOne(jobPath))
        return false;
    if (written)
        ++m_succeeded;
    else
        m_notSaved << tr("%1 (%2)").arg(jobPath, tr("the file could not be written"));
    return true;
}

void JobBatch::notSaved(const QString &reason)
{
    m_notSaved << tr("%1 (%2)").arg(m_current, reason);
    m_current.clear();
}

void JobBatch::abandon()
{
    if (!m_current.isEmpty())
        m_notSent << m_current;
    m_current.clear();
    m_notSent << m_pending;
    m_pending.clear();
}

QString JobBatch::summary() const
{
    const QString done = JobActionPlan::outcomeText(m_action);
    QStringList parts { done.arg(m_succeeded) };
    if (!m_refused.isEmpty())
        parts << tr("%1 refused: %2")
                     .arg(QString::number(m_refused.size()), m_refused.join(QLatin1String(", ")));
    if (!m_notSaved.isEmpty())
        parts << tr("%1 not saved: %2")
                     .arg(QString::number(m_notSaved.size()), m_notSaved.join(QLatin1String(", ")));
    if (!m_notSent.isEmpty())
        parts << tr("%1 not done, the connection was lost: %2")
                     .arg(QString::number(m_notSent.size()), m_notSent.join(QLatin1String(", ")));
    return parts.join(QLatin1String(", "));
}

} // namespace VLK
