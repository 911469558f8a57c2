#pragma once

#include "VLK_Protocol.h"

#include <QByteArray>
#include <QVector>

namespace VLK {

// The job list that the table shows, kept as the bytes of its reply. A list
// refreshed every few seconds mostly repeats itself, and comparing a line's
// bytes with the shown line at the same position costs far less than decoding
// it into a record, so a refresh decodes only the lines that changed.
class ShownJobList
{
public:
    struct Change
    {
        int index = 0;
        JobInfo job;
    };

    // Takes reply as the shown list and puts the lines to be shown anew into
    // changes, in reply order: with compareWithShown only those that differ
    // from the shown line at their position, otherwise all. A malformed reply
    // returns false and leaves nothing shown.
    bool update(const QByteArray &reply, bool compareWithShown, QVector<Change> &changes);

    int jobCount() const { return m_lines.size(); }

    // For a table that was emptied, edited or reordered: the next update
    // compares with nothing.
    void forget();

private:
    bool isShown(const QByteArray &reply, int index, TextSpan line) const;

    QByteArray m_reply;
    QVector<TextSpan> m_lines;
};

} // namespace VLK
