#include "protocol/ReconnectBackoff.h"

#include <QRandomGenerator>
#include <QtGlobal>

#include <utility>

namespace VLK {

ReconnectBackoff::ReconnectBackoff()
    : ReconnectBackoff([] { return QRandomGenerator::global()->bounded(2.0) - 1.0; })
{ }

ReconnectBackoff::ReconnectBackoff(JitterSource jitter)
    : m_jitter(std::move(jitter))
{ }

int ReconnectBackoff::nextDelayMs()
{
    const double spread = qBound(-1.0, m_jitter(), 1.0) * JitterFraction;
    const int delayMs = qRound(m_baseDelayMs * (1.0 + spread));
    m_baseDelayMs = qMin(m_baseDelayMs * 2, MaxDelayMs);
    return delayMs;
}

void ReconnectBackoff::reset()
{
    m_baseDelayMs = FirstDelayMs;
}

} // namespace VLK
