#include "VLK_ShownJobList.h"

#include <cstring>

namespace VLK {

bool ShownJobList::update(const QByteArray &reply, bool compareWithShown, QVector<Change> &changes)
{
    QVector<TextSpan> lines;
    changes.clear();
    if (!findJobLines(reply, lines)) {
        forget();
        return false;
    }
    for (int index = 0; index < lines.size(); ++index) {
        if (compareWithShown && isShown(reply, index, lines.at(index)))
            continue;
        changes.append({ index, JobInfo() });
        if (!decodeJobLine(reply, lines.at(index), changes.last().job)) {
            changes.clear();
            forget();
            return false;
        }
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
}

bool ShownJobList::isShown(const QByteArray &reply, int index, TextSpan line) const
{
    if (index >= m_lines.size() || m_lines.at(index).length != line.length)
        return false;
    return memcmp(m_reply.constData() + m_lines.at(index).offset, reply.constData() + line.offset,
                  size_t(line.length))
        == 0;
}

} // namespace VLK
