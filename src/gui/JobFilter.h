#pragma once

#include <QString>

class QTableWidget;

namespace VLK {

// Which rows of the job table the user wants to see: those where any cell
// holds the filter text, whatever its case, and whose job passes the quick
// filter.
class JobFilter final
{
public:
    // In the order the quick filter box offers them.
    enum class Quick { All, Mine, Queued, Running, Finished, Failed };

    void setText(const QString &text) { m_text = text; }
    void setQuick(Quick quick) { m_quick = quick; }
    bool isActive() const { return !m_text.isEmpty() || m_quick != Quick::All; }

    bool accepts(const QTableWidget &table, int row) const;

    // Hides the rows that the filter does not accept and shows the others, in
    // one pass. Returns the number of rows shown.
    int apply(QTableWidget &table);

private:
    bool acceptsText(const QTableWidget &table, int row) const;
    bool acceptsQuick(const QTableWidget &table, int row) const;

    QString m_text;
    Quick m_quick = Quick::All;
    // Lets a list without a filter skip the pass once every row is shown.
    bool m_anyRowHidden = false;
};

} // namespace VLK
