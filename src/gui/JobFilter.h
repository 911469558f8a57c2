#pragma once

#include "gui/JobTableItems.h"

#include <QString>
#include <QStringMatcher>

class QTableWidget;

namespace VLK {

struct JobInfo;

// Which rows of the job table the user wants to see: those where any cell
// holds the filter text, whatever its case, and whose job passes the quick
// filter.
class JobFilter final
{
public:
    // In the order the quick filter box offers them.
    enum class Quick { All, Mine, Queued, Running, Finished, Failed };

    void setText(const QString &text);
    void setQuick(Quick quick) { m_quick = quick; }
    bool isActive() const { return !m_text.isEmpty() || m_quick != Quick::All; }

    bool accepts(const QTableWidget &table, int row) const;

    // Hides the rows that the filter does not accept and shows the others.
    // Returns the number of rows shown. When only the filter changed since
    // the last call, only the rows it can change are looked at: a longer
    // text can only hide shown rows, a shorter one only show hidden ones.
    int apply(QTableWidget &table);
    // The rows are about to show other jobs than they did (a new list, a
    // sort): the next apply() looks at every row.
    void forgetRows() { m_rowsFollowFilter = false; }
    // row has just been filled anew with job, in place, and the cells of
    // changedColumns changed: hides or shows it at once, so that a refresh
    // needs no pass over the rows it did not change.
    void showIfAccepted(QTableWidget &table, int row, const JobInfo &job,
                        JobTableItems::Columns changedColumns) const;

private:
    bool acceptsQuick(bool accessible, const QString &status) const;
    JobTableItems::Columns columnsToSearch(bool hidden,
                                           JobTableItems::Columns changedColumns) const;
    // Whether the filter text is in a cell of row in one of columns.
    bool containsText(const QTableWidget &table, int row, JobTableItems::Columns columns) const;

    QString m_text;
    // Finds m_text whatever its case: a refresh searches a hundred thousand
    // cells for it.
    QStringMatcher m_matcher;
    Quick m_quick = Quick::All;
    // The filter that the rows' hidden states follow, while they follow one.
    QString m_appliedText;
    Quick m_appliedQuick = Quick::All;
    bool m_rowsFollowFilter = false;
};

} // namespace VLK
