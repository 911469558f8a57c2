#pragma once

#include <QString>

namespace VLK {
struct PasswordEntry;
}

namespace Cli {

// The password the window remembered for this server, port and user in the
// desktop's secret store. Waits no longer than the store's time limit. False
// when none is stored; unavailableReason is then set if the store itself
// could not be asked.
bool readStoredPassword(const VLK::PasswordEntry &entry, QString &password,
                        QString &unavailableReason);

} // namespace Cli
