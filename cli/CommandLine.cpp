#include "CommandLine.h"

#include "Commands.h"
#include "ExitCode.h"
#include "Session.h"

#include "Translation.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace Cli {

namespace {

void addGlobalOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        { QStringLiteral("server"), tr("The server's host name or address."),
          QStringLiteral("host") },
        { QStringLiteral("port"), tr("The server's port."), QStringLiteral("port") },
        { QStringLiteral("user"), tr("The user name to log in with."), QStringLiteral("name") },
        { QStringLiteral("password-file"), tr("Read the password from the first line of <file>."),
          QStringLiteral("file") },
        { QStringLiteral("password-stdin"),
          tr("Read the password from the first line of standard input.") },
        { QStringLiteral("json"), tr("Report on stdout as one JSON document.") },
        { { QStringLiteral("h"), QStringLiteral("help") }, tr("Show this help.") },
        { QStringLiteral("version"), tr("Show the version.") },
    });
}

QString optionsSection(const QCommandLineParser &parser)
{
    const QString help = parser.helpText();
    const int start = help.indexOf(QLatin1String("Options:"));
    return start < 0 ? QString() : help.mid(start);
}

QString generalHelp()
{
    QString text = tr("Usage: calvaro [options] COMMAND [arguments]\n\n"
                      "Talks to the Calvaro solver server as the window does, for scripts,\n"
                      "pipelines and terminals.\n\nCommands:\n");
    for (const Command &command : commands())
        text += QStringLiteral("  %1 %2\n")
                    .arg(QString::fromLatin1(command.name).leftJustified(9), tr(command.summary));
    text += tr("  help      Show the help of a command: calvaro help COMMAND.\n\n");
    QCommandLineParser parser;
    addGlobalOptions(parser);
    text += optionsSection(parser);
    text += tr("\nServer, port and user come from the options, else from CALVARO_SERVER,\n"
               "CALVARO_PORT and CALVARO_USER, else from the login data the window stored\n"
               "last (localhost and 10000 when there is none). The password is never taken\n"
               "from the command line: --password-file, --password-stdin or CALVARO_PASSWORD,\n"
               "else it is asked on the terminal without echo. Progress of packing, upload\n"
               "and download goes to stderr when it is a terminal.\n\n"
               "Exit codes:\n"
               "  0    success (wait: every job processed)\n"
               "  1    usage error\n"
               "  2    connection or login failure\n"
               "  3    the server refused the request\n"
               "  4    a waited-for job failed\n"
               "  5    a waited-for job was killed or disappeared, or a submitted job cannot\n"
               "       be told apart in the job list\n"
               "  6    time-out\n"
               "  7    local file error (archive missing, 7z missing or failing, target not\n"
               "       writable)\n"
               "  130  interrupted by Ctrl+C (the connection is closed, no partial file is\n"
               "       left)\n");
    return text;
}

const Command *findCommand(const QString &name)
{
    for (const Command &command : commands()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

void buildCommandParser(const Command &command, QCommandLineParser &parser)
{
    parser.setApplicationDescription(tr(command.description));
    addGlobalOptions(parser);
    command.addOptions(parser);
}

QString commandHelp(const Command &command)
{
    QCommandLineParser parser;
    buildCommandParser(command, parser);
    // The parser names the program by the path it was started with.
    const QString help = parser.helpText();
    return QStringLiteral("Usage: calvaro [options] %1 %2\n\n")
               .arg(QLatin1String(command.name), QLatin1String(command.arguments))
        + help.mid(help.indexOf(QLatin1Char('\n')) + 1);
}

int showHelp(const QString &text, int exitCode)
{
    std::fputs(text.toLocal8Bit().constData(), exitCode == Success ? stdout : stderr);
    return exitCode;
}

// "--watch" takes an optional number of seconds, which the parser cannot
// express: "--watch" alone becomes "--watch=<default>", "--watch 5" "--watch=5".
QStringList normaliseWatch(QStringList arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) != QLatin1String("--watch"))
            continue;
        bool isNumber = false;
        if (i + 1 < arguments.size())
            arguments.at(i + 1).toDouble(&isNumber);
        arguments[i]
            += QLatin1Char('=') + (isNumber ? arguments.takeAt(i + 1) : QStringLiteral("2"));
    }
    return arguments;
}

int usageError(const QString &message)
{
    return Session::reportError(UsageError,
                                message + tr("\nSee 'calvaro --help' or 'calvaro help COMMAND'."));
}

int parseError(const QCommandLineParser &parser)
{
    if (parser.unknownOptionNames().contains(QStringLiteral("password")))
        return usageError(tr("The password is never taken from the command line: use "
                             "CALVARO_PASSWORD, --password-file FILE or --password-stdin."));
    return usageError(parser.errorText());
}

} // namespace

int runCommandLine(const QStringList &arguments, const InterruptWatcher &interrupts)
{
    QCommandLineParser global;
    addGlobalOptions(global);
    global.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!global.parse(arguments))
        return parseError(global);
    if (global.isSet(QStringLiteral("version")))
        return showHelp(QStringLiteral("calvaro %1\n").arg(QCoreApplication::applicationVersion()),
                        Success);
    const QStringList rest = global.positionalArguments();
    if (global.isSet(QStringLiteral("help")) || rest.isEmpty())
        return showHelp(generalHelp(),
                        rest.isEmpty() && !global.isSet(QStringLiteral("help")) ? UsageError
                                                                                : Success);

    if (rest.constFirst() == QLatin1String("help")) {
        if (rest.size() < 2)
            return showHelp(generalHelp(), Success);
        const Command *command = findCommand(rest.at(1));
        return command ? showHelp(commandHelp(*command), Success)
                       : usageError(tr("There is no command '%1'.").arg(rest.at(1)));
    }
    const Command *command = findCommand(rest.constFirst());
    if (!command)
        return usageError(tr("There is no command '%1'.").arg(rest.constFirst()));

    // The global options may come before the command or after it.
    QCommandLineParser parser;
    buildCommandParser(*command, parser);
    const QStringList commandArguments
        = arguments.mid(0, arguments.size() - rest.size()) + rest.mid(1);
    if (!parser.parse(normaliseWatch(commandArguments)))
        return parseError(parser);
    if (parser.isSet(QStringLiteral("help")))
        return showHelp(commandHelp(*command), Success);

    Session session(parser, interrupts);
    return command->run(session);
}

} // namespace Cli
