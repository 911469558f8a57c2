#pragma once

#include <QStringList>

namespace Bench {

// Child mode. Arguments: restarts, period in seconds. The idle window,
// logged in with auto-refresh at 1 s, watches 10,000 jobs on the stand-in
// server (a process of its own) while the server is killed once a period
// and started again 5 s later on the same port and data: the window's
// resident memory after each refresh, how soon it is logged in again after
// each restart, its status log and the server's request log around the
// first restart. A message box ends the child, as in every mode.
int runRestartsClient(const QStringList &arguments);

} // namespace Bench
