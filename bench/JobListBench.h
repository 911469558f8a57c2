#pragma once

#include <QStringList>

namespace Bench {

// Child modes.
// Arguments: rows, refreshes, segment size in bytes (0 = in one piece), pause
// between segments in ms, and "same" for the same list on every refresh or
// "changing" for a list whose every line changes from one refresh to the
// next; optionally "notify-on" or "notify-off" to have the panel read that
// finished jobs are (or are not) to be announced, which it otherwise is not
// told; optionally "filter:TEXT" to have TEXT typed into the filter field
// before the first list. The list reaches the real status panel through a
// connected client; each refresh is timed from the reply's last byte to the
// table painted, while a 10 ms timer notes how long the window stays deaf.
int runJobListClient(const QStringList &arguments);
// Arguments: rows, fills. A bare table filled with the same cell texts, made
// from their bytes as the fill goes.
int runJobListBaseline(const QStringList &arguments);
// Arguments: rows, keystrokes. The list shown once in the real status panel;
// then keys go to its filter field, typing a text and taking it back
// character by character, each timed from the key to the table painted.
int runJobListFilterTyping(const QStringList &arguments);
// Arguments: rows, refreshes. The shown list updated with a list in which
// every line changed, and then compared for finished jobs, each step timed
// by the processor time it takes: what announcing finished jobs adds to a
// refresh, without the rest of the window.
int runJobListWatch(const QStringList &arguments);

} // namespace Bench
