#pragma once

#include <QString>
#include <QStringList>

namespace Bench {

// Child modes; arguments: message size in bytes (header included), path of
// the file to write.
// A result download received by a client that awaits it, then stored.
int runDownloadClient(const QStringList &arguments);
// The same bytes received with a blocking socket into a preallocated buffer.
int runDownloadBaseline(const QStringList &arguments);

// Whether the file holds the generated payload of payloadSize bytes (size and
// a spread of samples: enough to catch a shifted or truncated copy).
bool fileHoldsPattern(const QString &path, qint64 payloadSize);

} // namespace Bench
