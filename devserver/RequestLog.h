#pragma once

#include <QString>

namespace DevServer {

// "MT_Login(1)", or just the number for types the protocol does not know.
QString messageTypeName(qint64 type);

// One line on stderr per request: time, peer, user, type, size, result.
void logRequest(const QString &peer, const QString &user, qint64 type, qint64 size,
                const QString &result);

} // namespace DevServer
