#pragma once

#include <QStringList>

namespace Bench {

// Child mode; arguments: message size in bytes (header included), path of
// the file to write. The window's job panel downloads a result of that size:
// its Get Results button, the reply streamed by the connection into a file
// beside the target, the file committed by the panel's writer. Any size, so
// a result above the in-memory limit can be tried too; the file is compared
// byte for byte with what was sent.
int runDownloadClient(const QStringList &arguments);

} // namespace Bench
