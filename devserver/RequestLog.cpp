#include "RequestLog.h"

#include "protocol/Protocol.h"

#include <QDateTime>

#include <cstdio>

namespace DevServer {

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
                   user.isEmpty() ? QStringLiteral("-") : user, VLK::messageTypeName(type))
              .arg(size)
              .arg(result);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

} // namespace DevServer
