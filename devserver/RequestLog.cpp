#include "RequestLog.h"

#include "protocol/VLK_Protocol.h"

#include <QDateTime>
#include <QHash>

#include <cstdio>

namespace DevServer {

QString messageTypeName(qint64 type)
{
    static const QHash<qint64, const char *> names {
        { VLK::MT_Login, "MT_Login" },
        { VLK::MT_Logout, "MT_Logout" },
        { VLK::MT_SubmitJob, "MT_SubmitJob" },
        { VLK::MT_JobStatus, "MT_JobStatus" },
        { VLK::MT_DownloadJob, "MT_DownloadJob" },
        { VLK::MT_KillJob, "MT_KillJob" },
        { VLK::MT_RemoveJob, "MT_RemoveJob" },
        { VLK::MT_SolverList, "MT_SolverList" },
        { VLK::MT_LoginOk, "MT_LoginOk" },
        { VLK::MT_LogoutOk, "MT_LogoutOk" },
        { VLK::MT_JobStatusReply, "MT_JobStatusReply" },
        { VLK::MT_SubmitJobOk, "MT_SubmitJobOk" },
        { VLK::MT_DownloadJobReply, "MT_DownloadJobReply" },
        { VLK::MT_KillJobOk, "MT_KillJobOk" },
        { VLK::MT_RemoveJobOk, "MT_RemoveJobOk" },
        { VLK::MT_SolverListReply, "MT_SolverListReply" },
        { VLK::MT_CommandError1, "MT_CommandError1" },
        { VLK::MT_CommandError2, "MT_CommandError2" },
    };
    const char *name = names.value(type);
    return name ? QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(type)
                : QString::number(type);
}

void logRequest(const QString &peer, const QString &user, qint64 type, qint64 size,
                const QString &result)
{
    // Names come from the network: none may start a line of its own in the log.
    QString printableUser = user;
    for (QChar &c : printableUser) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    const QString line
        = QStringLiteral("%1 %2 %3 %4 %5 bytes -> %6\n")
              .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs), peer,
                   user.isEmpty() ? QStringLiteral("-") : user, messageTypeName(type))
              .arg(size)
              .arg(result);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

} // namespace DevServer
