#pragma once

#include <QtGlobal>

namespace VLK {

// Maps the byte counts of one incoming message onto a progress bar, whose
// range is a 32-bit int: a message too large for that range is shown in
// coarser units, so the bar still runs from empty to full. The counts arrive
// as ints that wrap beyond 2 GiB; they are unwrapped here, relying on a
// message only ever growing, and by far less than 4 GiB between two counts.
class ProgressScale final
{
public:
    // Starts a message of totalSize bytes.
    void start(qint64 totalSize);

    int maximum() const { return int(m_totalSize >> m_shift); }
    int valueFor(int bytesSoFar);

private:
    qint64 m_totalSize = 0;
    int m_shift = 0;
    qint64 m_bytesSoFar = 0;
};

} // namespace VLK
