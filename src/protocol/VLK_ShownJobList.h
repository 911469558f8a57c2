#pragma once

#include "protocol/VLK_Protocol.h"

#include <QByteArray>
#include <QVector>

namespace VLK {

// The job list that the table shows: the bytes of its reply and the records
// decoded from them. A list refreshed every few seconds mostly repeats
// itself, and comparing bytes costs far less than decoding them, so a
// refresh decodes only the lines that changed, and of those only the fields
// that changed; the records share their texts with the table's cells.
class ShownJobList final
{
public:
    // Takes reply as the shown list and puts the positions of the records to
    // be shown anew into changedIndexes, in reply order: with compareWithShown
    // only those whose line differs from the shown line at that position,
    // otherwise all. A malformed reply returns false and leaves nothing shown.
    bool update(const QByteArray &reply, bool compareWithShown, QVector<int> &changedIndexes);

    int jobCount() const { return m_jobs.size(); }
    const JobInfo &job(int index) const { return m_jobs.at(index); }

    // For a table that was emptied or edited: the next update compares with
    // nothing.
    void forget();

private:
    bool isShown(const QByteArray &reply, int index, TextSpan line) const;

    QByteArray m_reply;
    QVector<TextSpan> m_lines;
    QVector<JobInfo> m_jobs;
};

} // namespace VLK
