#pragma once

#include "gui/JobTableItems.h"

#include <QCoreApplication>
#include <QString>
#include <QVariant>

class QTableWidget;

namespace VLK {

struct JournalEntry;

// The job table's cells of what the journal knows of a job: whether its
// result is on disk (the path in the tooltip), and the command line it was
// submitted with, which is all that tells a study's jobs apart.
class JournalCells final
{
    Q_DECLARE_TR_FUNCTIONS(VLK::JournalCells)

public:
    // True on the result cell of a job whose offered result is not on disk.
    static constexpr int ResultNotOnDiskRole = Qt::UserRole + 2;

    // Shows entry (null for a job the journal does not know) in row;
    // offersResult tells whether the job offers its result now. Returns the
    // columns whose cells changed.
    static JobTableItems::Columns fillRow(QTableWidget &table, int row, const JournalEntry *entry,
                                          bool offersResult);
    static bool isResultNotOnDisk(const QTableWidget &table, int row);
    // The folder of the result on disk, empty where there is none.
    static QString resultFolder(const QTableWidget &table, int row);
};

} // namespace VLK
