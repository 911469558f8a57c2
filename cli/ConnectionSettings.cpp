#include "ConnectionSettings.h"

#include "Session.h"
#include "StoredPassword.h"
#include "Translation.h"

#include "protocol/ApplicationIdentity.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTextStream>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <termios.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace Cli {

namespace {

const char *const LoginGroup = "CalvaroServerLoginData";

QString firstOf(const QCommandLineParser &parser, const char *option, const char *variable,
                const QString &stored)
{
    if (parser.isSet(QLatin1String(option)))
        return parser.value(QLatin1String(option));
    const QString fromEnvironment = qEnvironmentVariable(variable);
    return fromEnvironment.isEmpty() ? stored : fromEnvironment;
}

QString firstLine(const QByteArray &bytes)
{
    QString text = QString::fromUtf8(bytes);
    const int end = text.indexOf(QLatin1Char('\n'));
    if (end >= 0)
        text.truncate(end);
    if (text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

// Reads one line from the terminal with echo off. False where there is no
// terminal to ask.
bool askOnTerminal(const QString &prompt, QString &answer)
{
#ifdef Q_OS_UNIX
    FILE *terminal = std::fopen("/dev/tty", "r+");
    if (!terminal)
        return false;
    std::fputs(prompt.toLocal8Bit().constData(), terminal);
    std::fflush(terminal);
    const int fd = fileno(terminal);
    termios saved {};
    const bool canHide = ::tcgetattr(fd, &saved) == 0;
    if (canHide) {
        termios hidden = saved;
        hidden.c_lflag &= tcflag_t(~ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &hidden);
    }
    char line[1024];
    const bool read = std::fgets(line, sizeof line, terminal) != nullptr;
    if (canHide)
        ::tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputs("\n", terminal);
    std::fclose(terminal);
    answer = read ? firstLine(QByteArray(line)) : QString();
    return read;
#elif defined(Q_OS_WIN)
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode))
        return false;
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    SetConsoleMode(input, mode & ~DWORD(ENABLE_ECHO_INPUT));
    QTextStream in(stdin);
    answer = in.readLine();
    SetConsoleMode(input, mode);
    std::fputs("\n", stderr);
    return true;
#else
    Q_UNUSED(prompt)
    Q_UNUSED(answer)
    return false;
#endif
}

} // namespace

bool ConnectionSettings::resolve(const QCommandLineParser &parser, QString &error)
{
    QSettings stored { VLK::ApplicationIdentity::organization(),
                       VLK::ApplicationIdentity::application() };
    stored.beginGroup(QLatin1String(LoginGroup));
    const QStringList storedHosts = stored.value(QStringLiteral("IPAddresses")).toStringList();
    const QString storedPort = stored.value(QStringLiteral("Port")).toString();
    const QString storedUser = stored.value(QStringLiteral("UserName")).toString();
    stored.endGroup();

    host = firstOf(parser, "server", "CALVARO_SERVER",
                   storedHosts.value(0, QStringLiteral("localhost")))
               .trimmed();
    const QString portText = firstOf(parser, "port", "CALVARO_PORT",
                                     storedPort.isEmpty() ? QStringLiteral("10000") : storedPort);
    userName = firstOf(parser, "user", "CALVARO_USER", storedUser);

    bool portIsNumber = false;
    port = portText.trimmed().toUShort(&portIsNumber);
    if (!portIsNumber || port == 0) {
        error = tr("'%1' is not a port number (1 to 65535).").arg(portText);
        return false;
    }
    if (host.isEmpty()) {
        error = tr("No server given: use --server HOST or set CALVARO_SERVER.");
        return false;
    }
    if (userName.isEmpty()) {
        error = tr("No user name given: use --user NAME or set CALVARO_USER.");
        return false;
    }
    return true;
}

bool readPassword(const QCommandLineParser &parser, const ConnectionSettings &settings,
                  QString &password, QString &error)
{
    if (parser.isSet(QStringLiteral("password-file"))) {
        const QString path = parser.value(QStringLiteral("password-file"));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = tr("Cannot read the password file '%1': %2.").arg(path, file.errorString());
            return false;
        }
        password = firstLine(file.readAll());
        return true;
    }
    if (parser.isSet(QStringLiteral("password-stdin"))) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly)) {
            error = tr("Cannot read the password from standard input.");
            return false;
        }
        password = firstLine(in.readLine());
        return true;
    }
    if (qEnvironmentVariableIsSet("CALVARO_PASSWORD")) {
        password = qEnvironmentVariable("CALVARO_PASSWORD");
        return true;
    }
    QString keyringUnavailable;
    if (readStoredPassword(settings.passwordEntry(), password, keyringUnavailable))
        return true;
    if (!keyringUnavailable.isEmpty())
        Session::printMessage(
            tr("No remembered password: the desktop's keyring cannot be read (%1).")
                .arg(keyringUnavailable));
    if (askOnTerminal(tr("Password: "), password))
        return true;
    error = tr("No password: set CALVARO_PASSWORD, or use --password-file FILE or "
               "--password-stdin (there is no terminal to ask on).");
    return false;
}

} // namespace Cli
