#pragma once

#include <QStringList>

namespace Bench {

// Child modes.
// Arguments: rows, refreshes, segment size in bytes (0 = in one piece), pause
// between segments in ms. The list reaches the real status panel through a
// connected client; each refresh is timed from the reply's last byte to the
// table painted, while a 10 ms timer notes how long the window stays deaf.
int runJobListClient(const QStringList &arguments);
// Arguments: rows, fills. A bare table filled with the same cell texts, made
// from their bytes as the fill goes.
int runJobListBaseline(const QStringList &arguments);

} // namespace Bench
