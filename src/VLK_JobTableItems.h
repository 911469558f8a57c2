#pragma once

#include <QBrush>
#include <QString>
#include <QVariant>

#include <array>

class QTableWidgetItem;

namespace VLK {

struct JobInfo;

// Turns one decoded job record into the five cells of its job table row, and
// holds the rules that read a row back: which actions its job allows and how
// its progress messages are shown.
class JobTableItems
{
public:
    enum Column {
        UserIdColumn,
        SolverIdColumn,
        StatusColumn,
        PathColumn,
        ProgressColumn,
        ColumnCount
    };

    // Whether the job may be acted on, as a bool on the user ID cell.
    static constexpr int AccessibleRole = Qt::UserRole;
    // The record's position in the reply, on the progress cell: the row
    // keeps it however the user sorts the table.
    static constexpr int ReplyIndexRole = Qt::UserRole;

    struct Actions
    {
        bool kill = false;
        bool remove = false;
        bool download = false;
    };

    using Row = std::array<QTableWidgetItem *, ColumnCount>;

    JobTableItems();

    // New cells, owned by the caller until handed to a table.
    Row create(const JobInfo &job, int replyIndex) const;

    static Actions actionsFor(bool accessible, const QString &status, const QString &progressCell);
    // The tail of the last message, as the progress cell shows it.
    static QString lastMessageTail(const QString &progressMsg);
    // Every message on a line of its own, each cut to its tail.
    static QString messageLines(const QString &progressMsg);

private:
    QVariant m_progressFont;
    QBrush m_runningBrush;
    QBrush m_queuedBrush;
    QBrush m_inaccessibleBrush;
};

} // namespace VLK
