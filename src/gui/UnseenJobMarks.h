#pragma once

#include <QCoreApplication>
#include <QSet>
#include <QStringList>

class QTableWidget;

namespace VLK {

// The user's jobs that finished while nobody looked: the window was not
// active, or their row was scrolled away or filtered out. The path cell of
// each is bold, with a tooltip, until its row has been shown in the active
// window.
class UnseenJobMarks final
{
    Q_DECLARE_TR_FUNCTIONS(VLK::UnseenJobMarks)

public:
    explicit UnseenJobMarks(QTableWidget &table);

    int count() const { return int(m_unseen.size()); }
    void add(const QStringList &jobPaths);
    // Marks the rows of the unseen jobs wherever a refill put them, and
    // forgets the jobs that are no longer listed.
    void markRows();
    // The jobs whose rows the table shows now count as seen.
    void seeShownRows();
    void clear();

private:
    void setMarked(int row, bool marked);

    QTableWidget &m_table;
    QSet<QString> m_unseen;
    // Whether any row carries a mark, which a refill may have put on another job.
    bool m_anyMarked = false;
};

} // namespace VLK
