#include "JobListOutput.h"

#include "Translation.h"

#include "protocol/JobRules.h"

#include <QJsonObject>
#include <QVector>

namespace Cli {

QString jobTable(const QList<VLK::JobInfo> &jobs)
{
    QVector<QStringList> rows;
    rows.append({ tr("USER"), tr("SOLVER"), tr("STATUS"), tr("PATH"), tr("LAST MESSAGE") });
    for (const VLK::JobInfo &job : jobs)
        rows.append({ job.userId, job.solverId, job.status, job.path,
                      VLK::JobRules::lastMessage(job.progressMsg).toString() });

    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList &row : qAsConst(rows)) {
        for (int column = 0; column < row.size(); ++column)
            widths[column] = qMax(widths[column], row.at(column).size());
    }
    QString table;
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int column = 0; column < row.size() - 1; ++column)
            line += row.at(column).leftJustified(widths.at(column)) + QLatin1String("  ");
        table += (line + row.constLast()).trimmed() + QLatin1Char('\n');
    }
    return table;
}

QJsonArray jobsAsJson(const QList<VLK::JobInfo> &jobs)
{
    QJsonArray array;
    for (const VLK::JobInfo &job : jobs)
        array.append(QJsonObject {
            { QStringLiteral("userId"), job.userId },
            { QStringLiteral("solverId"), job.solverId },
            { QStringLiteral("path"), job.path },
            { QStringLiteral("status"), job.status },
            { QStringLiteral("progressMsg"), job.progressMsg },
            { QStringLiteral("accessible"), job.accessible },
            { QStringLiteral("progressMessages"),
              QJsonArray::fromStringList(VLK::JobRules::splitMessages(job.progressMsg)) },
        });
    return array;
}

} // namespace Cli
