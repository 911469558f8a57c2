#pragma once

#include <QString>

namespace DevServer {

// One line on stderr per request: time, peer, user, type, size, result.
void logRequest(const QString &peer, const QString &user, qint64 type, qint64 size,
                const QString &result);

} // namespace DevServer
