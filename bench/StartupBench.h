#pragma once

#include <QStringList>

namespace Bench {

// Child modes; argument: the runner's clock reading (ns) just before it
// started this process. Each reports the time from then to its window painted.
// The program's main window, set up as the program does it.
int runStartupClient(const QStringList &arguments);
// An empty widget: what any window of this toolkit costs.
int runStartupBaseline(const QStringList &arguments);

} // namespace Bench
