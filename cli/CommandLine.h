#pragma once

#include <QStringList>

namespace Cli {

class InterruptWatcher;

// Reads the program's arguments (global options, a command, its own options
// and arguments), shows help where asked, runs the command and returns the
// exit code.
int runCommandLine(const QStringList &arguments, const InterruptWatcher &interrupts);

} // namespace Cli
