#pragma once

#include <QStringList>

namespace Bench {

// Child modes; arguments: archive path, sink rate in bytes per second (0 = unlimited).
// Upload through sendJob on a connected client.
int runUploadClient(const QStringList &arguments);
// The same bytes over a plain blocking socket.
int runUploadBaseline(const QStringList &arguments);

} // namespace Bench
