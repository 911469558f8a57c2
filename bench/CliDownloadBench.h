#pragma once

#include <QStringList>

namespace Bench {

// Child modes; arguments: message size in bytes (header included), path of
// the file to write, and for the first the calvaro program.
// `calvaro download` as a separate process, against a source on loopback that
// answers its login and then sends the result. Its peak memory is compared
// with that of the same program downloading an empty result.
int runCliDownload(const QStringList &arguments);
// The same bytes received with a blocking socket through one fixed buffer
// into a new file, synced and renamed into place: the baseline of both the
// command-line client's and the window's download.
int runStreamedDownloadBaseline(const QStringList &arguments);

} // namespace Bench
