#pragma once

#include "protocol/Protocol.h"

#include <QByteArray>
#include <QVector>

#include <functional>

namespace VLK {

// The job list that the table shows: the bytes of its reply and the records
// decoded from them. A list refreshed every few seconds mostly repeats
// itself, and comparing bytes costs far less than decoding them, so a
// refresh decodes only the lines that changed, and of those only the fields
// that changed; the records share their texts with the table's cells.
//
// A refresh takes two steps. update() finds the lines that changed and
// checks that each can be decoded, so that a malformed reply is refused
// before anything shown changes. decodeChanged() then decodes them one by
// one and hands each record on at once: the texts a record replaces are
// freed as soon as its row shows the new ones, and the next record's texts
// take their place, where decoding the whole list first would hold both
// lists' texts at once and leave the heap full of gaps.
class ShownJobList final
{
public:
    // Takes reply as the shown list and puts the positions of the records to
    // be shown anew into changedIndexes, in reply order: with compareWithShown
    // only those whose line differs from the shown line at that position,
    // otherwise all. A malformed reply returns false and leaves nothing shown.
    // The records at those positions are out of date until decodeChanged().
    bool update(const QByteArray &reply, bool compareWithShown, QVector<int> &changedIndexes);

    // Decodes the records at changedIndexes, as update() reported them, and
    // calls show with each position and record, in that order: right after
    // decoding it where the list was compared with the one shown, otherwise
    // once all are decoded.
    void decodeChanged(const QVector<int> &changedIndexes,
                       const std::function<void(int, const JobInfo &)> &show);

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
    // Between update() and decodeChanged(): the list shown before, whose
    // records are still in m_jobs below m_comparableCount.
    QByteArray m_previousReply;
    QVector<TextSpan> m_previousLines;
    int m_comparableCount = 0;
};

} // namespace VLK
