#include "gui/ProgressScale.h"

#include <limits>

namespace VLK {

namespace {
constexpr qint64 IntWrap = qint64(1) << 32;
} // namespace

void ProgressScale::start(qint64 totalSize)
{
    m_totalSize = qMax<qint64>(totalSize, 0);
    m_shift = 0;
    while ((m_totalSize >> m_shift) > std::numeric_limits<int>::max())
        ++m_shift;
    m_bytesSoFar = 0;
}

int ProgressScale::valueFor(int bytesSoFar)
{
    qint64 unwrapped = (m_bytesSoFar & ~(IntWrap - 1)) | quint32(bytesSoFar);
    if (unwrapped < m_bytesSoFar)
        unwrapped += IntWrap;
    m_bytesSoFar = unwrapped;
    return int(qMin(m_bytesSoFar, m_totalSize) >> m_shift);
}

} // namespace VLK
