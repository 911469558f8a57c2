#pragma once

#include <QString>

// The names under which the desktop program keeps its settings and its data
// folder. The window runs under them; calvaro, another program, reads the
// window's settings and shares its job journal through them.
namespace VLK {
namespace ApplicationIdentity {

QString organization();
QString application();

// Names this process after the desktop program, so that a default QSettings
// and the application's data locations are the program's own. Called once at
// start-up, before any setting is read.
void install();

// The desktop program's data folder, whichever program asks.
QString dataFolder();

} // namespace ApplicationIdentity
} // namespace VLK
