#pragma once

#include <QString>

namespace VLK {

// What the window and calvaro both read of the automatic download: whether
// it is on, and where a result goes. Kept in the window's settings store, so
// that a switch in one holds for the other.
namespace ResultSettings {

bool downloadsAutomatically();
void setDownloadsAutomatically(bool on);
// The path pattern of ResultPlacement; the default where none is stored.
QString resultPathPattern();

} // namespace ResultSettings

} // namespace VLK
