#include "protocol/VLK_ShownJobList.h"

#include <cstring>

namespace VLK {

bool ShownJobList::update(const QByteArray &reply, bool compareWithShown,
                          QVector<int> &changedIndexes)
{
    changedIndexes.clear();
    QVector<TextSpan> lines;
    if (!findJobLines(reply, lines)) {
        forget();
        return false;
    }
    const int shownCount = compareWithShown ? m_jobs.size() : 0;
    if (!compareWithShown)
        m_jobs.clear();
    m_jobs.resize(lines.size());
    for (int index = 0; index < lines.size(); ++index) {
        const TextSpan line = lines.at(index);
        if (index < shownCount && isShown(reply, index, line))
            continue;
        const bool decoded = index < shownCount
            ? updateJobLine(reply, line, m_reply, m_lines.at(index), m_jobs[index])
            : decodeJobLine(reply, line, m_jobs[index]);
        if (!decoded) {
            changedIndexes.clear();
            forget();
            return false;
        }
        changedIndexes.append(index);
    }
    // Shares the reply's bytes rather than copying them.
    m_reply = reply;
    m_lines.swap(lines);
    return true;
}

void ShownJobList::forget()
{
    m_reply.clear();
    m_lines.clear();
    m_jobs.clear();
}

bool ShownJobList::isShown(const QByteArray &reply, int index, TextSpan line) const
{
    const TextSpan shown = m_lines.at(index);
    return shown.length == line.length
        && memcmp(m_reply.constData() + shown.offset, reply.constData() + line.offset,
                  size_t(line.length))
        == 0;
}

} // namespace VLK
