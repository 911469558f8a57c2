#pragma once

#include <QString>
#include <QStringView>
#include <QVariant>

class QPalette;
class QStringMatcher;
class QTableWidget;
class QTableWidgetItem;

namespace VLK {

struct JobInfo;

// Puts one decoded job record into the five cells of its job table row that
// the server's list fills (the journal's cells follow them), and
// reads a row back: which actions its job allows and how its progress
// messages are shown, as the job rules say.
class JobTableItems final
{
public:
    enum Column {
        UserIdColumn,
        SolverIdColumn,
        StatusColumn,
        PathColumn,
        ProgressColumn,
        // What the job journal knows: whether the result is on disk, and the
        // command line the job was submitted with.
        ResultColumn,
        CommandLineColumn,
        ColumnCount
    };
    static constexpr int ListedColumnCount = ProgressColumn + 1;

    // A set of columns, one bit each.
    using Columns = quint32;
    static constexpr Columns columnBit(int column) { return Columns(1) << column; }
    static constexpr Columns AllColumns = (Columns(1) << ColumnCount) - 1;

    // Whether the job may be acted on, as a bool on the user ID cell.
    static constexpr int AccessibleRole = Qt::UserRole;
    // The record's position in the reply, on the progress cell: the row
    // keeps it however the user sorts the table.
    static constexpr int ReplyIndexRole = Qt::UserRole + 1;

    struct Actions
    {
        bool kill = false;
        bool remove = false;
        bool download = false;
    };

    JobTableItems();

    // Shows job in row of table. With reuseCells, cells the row already has
    // are updated in place: a job list refreshed every few seconds mostly
    // repeats itself, and an unchanged value costs one comparison, where a new
    // cell costs allocations and a change notification. Only for a table that
    // has never been sorted: once the table has moved its cells, it finds a
    // changed one by searching all of them. Returns the columns whose cells
    // changed.
    Columns fillRow(QTableWidget &table, int row, const JobInfo &job, int replyIndex,
                    bool reuseCells) const;

    // Takes the status colours that stay readable on palette. Returns whether
    // they changed, in which case rows already shown keep the old ones until
    // they are filled again.
    bool usePalette(const QPalette &palette);

    static Actions actionsFor(bool accessible, QStringView status, QStringView progressCell);
    // Every message on a line of its own, each cut to its tail.
    static QString messageLines(const QString &progressMsg);
    // Whether the text that cell shows contains what text matches; without
    // copying it out of a cell that fillRow() made.
    static bool cellContains(const QTableWidgetItem &cell, const QStringMatcher &text);

private:
    QVariant foregroundFor(const JobInfo &job, int column) const;

    Qt::ItemFlags m_accessibleFlags;
    QVariant m_runningBrush;
    QVariant m_queuedBrush;
    QVariant m_inaccessibleBrush;
};

} // namespace VLK
