#pragma once

#include "keyring/PasswordStore.h"

#include <QString>

class QCommandLineParser;

namespace Cli {

// Where to connect and as whom. Each value comes from the command line, else
// the environment (CALVARO_SERVER, CALVARO_PORT, CALVARO_USER), else the
// login data the window stored last, else the window's own defaults.
struct ConnectionSettings
{
    QString host;
    quint16 port = 0;
    QString userName;

    // False with a message when a value is unusable or no user name is known.
    bool resolve(const QCommandLineParser &parser, QString &error);
    // Where the window keeps the password of this login if asked to.
    VLK::PasswordEntry passwordEntry() const { return { host, port, userName }; }
};

// The password, never from the command line: --password-file, --password-stdin,
// CALVARO_PASSWORD, else the one the window remembered for this login in the
// desktop's secret store, else asked on the terminal without echo.
bool readPassword(const QCommandLineParser &parser, const ConnectionSettings &settings,
                  QString &password, QString &error);

} // namespace Cli
