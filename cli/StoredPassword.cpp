#include "StoredPassword.h"

#include "keyring/PasswordStore.h"

#include <QEventLoop>

namespace Cli {

bool readStoredPassword(const VLK::PasswordEntry &entry, QString &password,
                        QString &unavailableReason)
{
    VLK::PasswordStore store;
    QEventLoop loop;
    bool found = false;
    QObject::connect(&store, &VLK::PasswordStore::passwordRead, &loop,
                     [&](const VLK::PasswordEntry &, const QString &stored) {
                         password = stored;
                         found = true;
                         loop.quit();
                     });
    QObject::connect(&store, &VLK::PasswordStore::passwordNotRead, &loop, &QEventLoop::quit);
    QObject::connect(&store, &VLK::PasswordStore::unavailable, &loop, [&](const QString &reason) {
        unavailableReason = reason;
        loop.quit();
    });
    store.read(entry);
    loop.exec();
    return found;
}

} // namespace Cli
