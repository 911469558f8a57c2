#include "CommandHandler.h"
#include "FaultInjector.h"
#include "JobScheduler.h"
#include "JobStore.h"
#include "Server.h"
#include "Session.h"
#include "UserDirectory.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cstdio>

using namespace DevServer;

namespace {

QStringList defaultSolvers()
{
    return { QStringLiteral("fem_static"), QStringLiteral("cfd_transient_3"),
             QStringLiteral("thermal") };
}

struct Options
{
    QHostAddress address;
    quint16 port = 10000;
    QString dataDirectory;
    QString usersFile;
    QStringList solvers;
    bool showOthers = false;
    RequestLimits limits;
    ScheduleSettings schedule;
    ReplyShaping shaping;
    FaultSettings faults;
};

void say(const QString &text)
{
    std::fprintf(stderr, "calvaro-devserver: %s\n", qPrintable(text));
}

// Reads the options of the command line, checking each as it goes; the first
// fault found ends the reading with a message naming the option.
class OptionReader
{
public:
    explicit OptionReader(const QCommandLineParser &parser)
        : m_parser(parser)
    { }

    bool failed() const { return !m_error.isEmpty(); }
    const QString &error() const { return m_error; }

    void readInt(const QString &name, int minimum, int maximum, int &value)
    {
        if (!m_parser.isSet(name) || failed())
            return;
        bool ok = false;
        const int number = m_parser.value(name).toInt(&ok);
        if (!ok || number < minimum || number > maximum)
            m_error = QStringLiteral("--%1 takes a whole number from %2 to %3")
                          .arg(name)
                          .arg(minimum)
                          .arg(maximum);
        else
            value = number;
    }

    // A byte count, optionally with K, M or G (powers of 1024).
    void readSize(const QString &name, qint64 &value)
    {
        if (!m_parser.isSet(name) || failed())
            return;
        static const QRegularExpression pattern(QStringLiteral("^(\\d{1,12})([KMG]?)$"),
                                                QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = pattern.match(m_parser.value(name));
        if (!match.hasMatch()) {
            m_error
                = QStringLiteral("--%1 takes a byte count such as 1048576, 512M or 2G").arg(name);
            return;
        }
        const int shift = QStringLiteral(" KMG").indexOf(match.captured(2).toUpper()) * 10;
        value = match.captured(1).toLongLong() << qMax(0, shift);
    }

    void readFailTypes(QHash<qint64, int> &failTypes)
    {
        static const QRegularExpression pattern(QStringLiteral("^([1-8]):(204|205)$"));
        for (const QString &value : m_parser.values(QStringLiteral("fail-type"))) {
            const QRegularExpressionMatch match = pattern.match(value);
            if (!match.hasMatch()) {
                m_error
                    = QStringLiteral("--fail-type takes TYPE:CODE with TYPE 1 to 8 and CODE 204 "
                                     "or 205, not \"%1\"")
                          .arg(value);
                return;
            }
            failTypes.insert(match.captured(1).toInt(), match.captured(2).toInt());
        }
    }

    void setError(const QString &error) { m_error = error; }

private:
    const QCommandLineParser &m_parser;
    QString m_error;
};

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "A stand-in solver server for trying and testing Calvaro Client on one machine.\n"
        "Jobs are not really solved: they pass through Queued and Running to Processed on a "
        "timer, and their result is a zip of the uploaded archive and a solver log. A job whose "
        "archive is not a zip, or whose command line contains --fail, ends Failed."));
    parser.addHelpOption();
    parser.addOptions({
        { QStringLiteral("address"), QStringLiteral("Listen on <address> (default 127.0.0.1)."),
          QStringLiteral("address"), QStringLiteral("127.0.0.1") },
        { QStringLiteral("port"),
          QStringLiteral("Listen on <port> (default 10000; 0 picks a free port, shown at start)."),
          QStringLiteral("port"), QStringLiteral("10000") },
        { QStringLiteral("data-dir"),
          QStringLiteral("Keep jobs and their files in <dir> (default "
                         "$XDG_DATA_HOME/calvaro-devserver)."),
          QStringLiteral("dir") },
        { QStringLiteral("users"),
          QStringLiteral("Accept only the users in <file>, lines of name:md5hex (the MD5 of the "
                         "UTF-8 password in 32 lowercase hex digits). Without it any user name "
                         "and password is accepted."),
          QStringLiteral("file") },
        { QStringLiteral("solvers"),
          QStringLiteral("The solver IDs to offer, comma-separated (default %1).")
              .arg(defaultSolvers().join(QLatin1Char(','))),
          QStringLiteral("list") },
        { QStringLiteral("max-upload"),
          QStringLiteral("Close the connection of a submission whose archive is larger than "
                         "<size> bytes; K, M, G allowed (default 1G)."),
          QStringLiteral("size") },
        { QStringLiteral("result-size"),
          QStringLiteral("Give every processed job a generated result of <size> bytes (K, M, G "
                         "allowed) in place of the zip, for trying downloads of any size: every "
                         "8 bytes of it hold their own offset as a big-endian number."),
          QStringLiteral("size") },
        { QStringLiteral("tick-ms"),
          QStringLiteral("Move jobs on every <ms> milliseconds (default 1000)."),
          QStringLiteral("ms") },
        { QStringLiteral("steps"),
          QStringLiteral("Solver steps of a fast-queue job; slow-queue jobs take twice as many "
                         "(default 5)."),
          QStringLiteral("n") },
        { QStringLiteral("fast-slots"),
          QStringLiteral("Jobs of the fast queue that run at once (default 2)."),
          QStringLiteral("n") },
        { QStringLiteral("slow-slots"),
          QStringLiteral("Jobs of the slow queue that run at once (default 1)."),
          QStringLiteral("n") },
        { QStringLiteral("show-others"),
          QStringLiteral("List other users' jobs too, marked not accessible.") },
        { QStringLiteral("reply-delay-ms"),
          QStringLiteral("Fault: wait <ms> milliseconds before every reply."),
          QStringLiteral("ms") },
        { QStringLiteral("segment-bytes"),
          QStringLiteral("Fault: send every reply in segments of <n> bytes."),
          QStringLiteral("n") },
        { QStringLiteral("segment-pause-ms"),
          QStringLiteral("Fault: pause <ms> milliseconds between segments (with "
                         "--segment-bytes)."),
          QStringLiteral("ms") },
        { QStringLiteral("fail-type"),
          QStringLiteral("Fault: answer every request of type T (1 to 8) with error reply CODE "
                         "(204 or 205) instead of doing it. May be repeated."),
          QStringLiteral("T:CODE") },
        { QStringLiteral("drop-after"),
          QStringLiteral("Fault: answer <n> requests on each connection, then close the "
                         "connection on the next request without answering it."),
          QStringLiteral("n") },
        { QStringLiteral("drop-mid-reply"),
          QStringLiteral("Fault, with --drop-after: answer that next request with the first "
                         "half of its reply before closing.") },
        { QStringLiteral("bad-header"),
          QStringLiteral("Fault: answer the first request after start-up with a reply header "
                         "whose size is above 1 GByte (oversize) or below 16 bytes "
                         "(undersize)."),
          QStringLiteral("kind") },
    });
}

bool readOptions(const QCommandLineParser &parser, Options &options, QString &error)
{
    OptionReader reader(parser);
    if (!options.address.setAddress(parser.value(QStringLiteral("address"))))
        reader.setError(QStringLiteral("--address takes an IP address"));
    int port = options.port;
    reader.readInt(QStringLiteral("port"), 0, 65535, port);
    options.port = quint16(port);
    reader.readSize(QStringLiteral("max-upload"), options.limits.maxArchiveSize);
    reader.readSize(QStringLiteral("result-size"), options.schedule.resultSize);
    reader.readInt(QStringLiteral("tick-ms"), 1, 3600000, options.schedule.tickMs);
    reader.readInt(QStringLiteral("steps"), 1, 1000, options.schedule.steps);
    reader.readInt(QStringLiteral("fast-slots"), 1, 1000, options.schedule.fastSlots);
    reader.readInt(QStringLiteral("slow-slots"), 1, 1000, options.schedule.slowSlots);
    reader.readInt(QStringLiteral("reply-delay-ms"), 0, 3600000, options.shaping.delayMs);
    int segmentBytes = 0;
    reader.readInt(QStringLiteral("segment-bytes"), 0, 1 << 30, segmentBytes);
    options.shaping.segmentBytes = segmentBytes;
    reader.readInt(QStringLiteral("segment-pause-ms"), 0, 3600000, options.shaping.segmentPauseMs);
    reader.readFailTypes(options.faults.failTypes);
    reader.readInt(QStringLiteral("drop-after"), 0, 1000000, options.faults.dropAfter);
    options.faults.dropMidReply = parser.isSet(QStringLiteral("drop-mid-reply"));

    const QString badHeader = parser.value(QStringLiteral("bad-header"));
    if (badHeader == QLatin1String("oversize"))
        options.faults.badHeader = BadHeader::Oversize;
    else if (badHeader == QLatin1String("undersize"))
        options.faults.badHeader = BadHeader::Undersize;
    else if (!badHeader.isEmpty())
        reader.setError(QStringLiteral("--bad-header takes oversize or undersize"));
    if (options.faults.dropMidReply && options.faults.dropAfter == 0)
        reader.setError(QStringLiteral("--drop-mid-reply needs --drop-after"));

    options.solvers = defaultSolvers();
    if (parser.isSet(QStringLiteral("solvers"))) {
        options.solvers = parser.value(QStringLiteral("solvers")).split(QLatin1Char(','));
        for (QString &solver : options.solvers)
            solver = solver.trimmed();
        options.solvers.removeAll(QString());
        if (options.solvers.isEmpty())
            reader.setError(QStringLiteral("--solvers needs at least one solver ID"));
    }
    options.showOthers = parser.isSet(QStringLiteral("show-others"));
    options.usersFile = parser.value(QStringLiteral("users"));
    options.dataDirectory = parser.isSet(QStringLiteral("data-dir"))
        ? parser.value(QStringLiteral("data-dir"))
        : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/calvaro-devserver");
    error = reader.error();
    return !reader.failed();
}

void warnAboutOpenDoor()
{
    say(QStringLiteral("*****************************************************************"));
    say(QStringLiteral("WARNING: no --users file given: ANY user name with ANY password"));
    say(QStringLiteral("is accepted. Do not run it like this where others can reach it."));
    say(QStringLiteral("*****************************************************************"));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("calvaro-devserver"));

    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        say(QStringLiteral("unexpected argument %1; see --help")
                .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    Options options;
    QString error;
    if (!readOptions(parser, options, error)) {
        say(error);
        return 2;
    }

    UserDirectory users;
    if (options.usersFile.isEmpty())
        warnAboutOpenDoor();
    else if (!users.load(options.usersFile, error)) {
        say(error);
        return 1;
    }

    JobStore store;
    if (!store.open(options.dataDirectory, error)) {
        say(error);
        return 1;
    }
    JobScheduler scheduler(store, options.schedule);
    FaultInjector faults(options.faults);
    CommandHandler handler(users, store, scheduler, options.solvers, options.showOthers);
    ServerServices services { handler, faults, options.limits, options.shaping };
    Server server(services);
    if (!server.listen(options.address, options.port, error)) {
        say(QStringLiteral("cannot listen on %1:%2: %3")
                .arg(options.address.toString())
                .arg(options.port)
                .arg(error));
        return 1;
    }
    scheduler.start();

    say(QStringLiteral("data directory %1 with %2 jobs")
            .arg(options.dataDirectory)
            .arg(store.jobs().size()));
    if (!users.acceptsAnyone())
        say(QStringLiteral("%1 users from %2").arg(users.size()).arg(options.usersFile));
    say(QStringLiteral("solvers %1").arg(options.solvers.join(QStringLiteral(", "))));
    say(QStringLiteral("listening on %1:%2").arg(options.address.toString()).arg(server.port()));
    return app.exec();
}
