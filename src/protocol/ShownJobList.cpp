#include "protocol/ShownJobList.h"

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
    for (int index = 0; index < lines.size(); ++index) {
        const TextSpan line = lines.at(index);
        if (index < shownCount && isShown(reply, index, line))
            continue;
        if (!isJobLine(reply, line)) {
            changedIndexes.clear();
            forget();
            return false;
        }
        changedIndexes.append(index);
    }
    if (!compareWithShown)
        m_jobs.clear();
    m_jobs.resize(lines.size());
    m_comparableCount = qMin(shownCount, lines.size());
    // Shares the replies' bytes rather than copying them.
    m_previousReply = compareWithShown ? m_reply : QByteArray();
    m_previousLines.swap(m_lines);
    m_reply = reply;
    m_lines.swap(lines);
    return true;
}

void ShownJobList::decodeChanged(const QVector<int> &changedIndexes,
                                 const std::function<void(int, const JobInfo &)> &show)
{
    // A list that is not compared with the one shown (the first list, or a
    // list for a sorted table) is decoded whole first: its texts and the
    // table's new cells then each lie together in memory, which is quicker
    // to fill and to read back, as fitting the columns to a first list does.
    const bool decodeFirst = m_comparableCount == 0;
    for (const int index : changedIndexes) {
        JobInfo &job = m_jobs[index];
        // update() checked every changed line, so these take it.
        if (index < m_comparableCount)
            updateJobLine(m_reply, m_lines.at(index), m_previousReply, m_previousLines.at(index),
                          job);
        else
            decodeJobLine(m_reply, m_lines.at(index), job);
        if (!decodeFirst)
            show(index, job);
    }
    if (decodeFirst) {
        for (const int index : changedIndexes)
            show(index, m_jobs.at(index));
    }
    m_previousReply.clear();
    m_previousLines.clear();
    m_comparableCount = 0;
}

void ShownJobList::forget()
{
    m_reply.clear();
    m_lines.clear();
    m_jobs.clear();
    m_previousReply.clear();
    m_previousLines.clear();
    m_comparableCount = 0;
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
