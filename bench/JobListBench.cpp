#include "JobListBench.h"

#include "BenchSupport.h"
#include "LoopbackPeers.h"

#include "gui/CalvaroClientBase.h"
#include "gui/JobTableItems.h"
#include "gui/StatusWidget.h"
#include "gui/WindowJournal.h"
#include "journal/JobJournal.h"
#include "journal/ResultSettings.h"
#include "protocol/CalvaroClientCommands.h"
#include "protocol/JobFinishWatch.h"
#include "protocol/JobRules.h"
#include "protocol/Protocol.h"
#include "protocol/ShownJobList.h"

#include <QApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <vector>

namespace Bench {

namespace {

constexpr int RefreshTimeoutMs = 60000;
constexpr int WindowWidth = 1148;
constexpr int WindowHeight = 561;
// The row selected after the first list, so later refreshes select again.
constexpr int SelectedRow = 3;

// A mix like a busy server's: several users, running, queued and finished
// jobs, a few of other users' jobs that may not be touched, and progress
// strings of several messages. Every line of one generation differs from
// the same line of the next: the step of its progress moves on.
VLK::JobInfo benchJob(int i, int generation = 0)
{
    VLK::JobInfo job;
    const QString number = QString::number(i).rightJustified(6, QLatin1Char('0'));
    job.accessible = i % 10 != 0;
    job.userId = QStringLiteral("user%1").arg(i % 7);
    job.solverId = QStringLiteral("solver-%1").arg(QChar(QLatin1Char('a' + i % 5)));
    job.path = QStringLiteral("/data/jobs/user%1/job%2/model.prj").arg(i % 7).arg(number);
    switch (i % 3) {
    case 0:
        job.status = QStringLiteral("Running (step %1 of 400)").arg((i + generation) % 400);
        break;
    case 1:
        job.status = QStringLiteral("Queued");
        break;
    default:
        job.status = QStringLiteral("Processed");
        break;
    }
    QStringList messages
        = { QStringLiteral("Started on node%1").arg(i % 16),
            QStringLiteral("Mesh loaded, %1 cells").arg(100000 + i),
            QStringLiteral("Step %1 of 400, residual 1.2e-05").arg((i + generation) % 400) };
    // Only a processed job has its result ready; the client announces that
    // of a job it watched running.
    if (i % 3 == 2)
        messages << QStringLiteral("Ready for download: job%1.7z").arg(number);
    job.progressMsg = VLK::JobRules::joinMessages(messages);
    return job;
}

QByteArray jobListReply(int rows, int generation)
{
    QStringList lines;
    lines.reserve(rows);
    for (int i = 0; i < rows; ++i)
        lines.append(VLK::encodeJobLine(benchJob(i, generation)));
    QByteArray reply;
    VLK::encodeStringList(lines, VLK::MT_JobStatusReply, reply);
    return reply;
}

// Follows one job list reply through the client: its first and last byte,
// and the moment the panel has handled it.
class ReplyWatch
{
public:
    explicit ReplyWatch(VLK::CalvaroClientBase &client)
    {
        QObject::connect(&client, &VLK::CalvaroClientBase::newMessageReceived,
                         [this](int, qint64 totalSize) {
                             m_totalSize = totalSize;
                             m_firstByteAt = Clock::now();
                         });
        QObject::connect(&client, &VLK::CalvaroClientBase::progress,
                         [this](int bytesSoFar, bool enabled) {
                             if (enabled && bytesSoFar == m_totalSize) {
                                 m_lastByteAt = Clock::now();
                                 m_lastByteCpuSeconds = threadCpuSeconds();
                             }
                         });
        // Connected after the panel, so this runs once the panel is done.
        QObject::connect(&client, &VLK::CalvaroClientBase::msgReceived,
                         [this](int type) { m_handled = type == VLK::MT_JobStatusReply; });
    }

    void expectReply() { m_handled = false; }
    bool handled() const { return m_handled; }
    Clock::time_point firstByteAt() const { return m_firstByteAt; }
    Clock::time_point lastByteAt() const { return m_lastByteAt; }
    double lastByteCpuSeconds() const { return m_lastByteCpuSeconds; }

private:
    qint64 m_totalSize = -1;
    Clock::time_point m_firstByteAt;
    Clock::time_point m_lastByteAt;
    double m_lastByteCpuSeconds = 0;
    bool m_handled = false;
};

// The fastest of the refreshes after the first: like every figure of the
// table, the run least disturbed by the rest of the machine.
double fastest(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

QJsonArray toJson(const std::vector<double> &values)
{
    QJsonArray array;
    for (const double value : values)
        array.append(value);
    return array;
}

bool showAndWait(QWidget &window, PaintCounter &paints)
{
    window.resize(WindowWidth, WindowHeight);
    window.show();
    return paints.waitForPaintAfter(0, RefreshTimeoutMs);
}

// The panel reads whether to announce finished jobs, from a settings store
// in dir, where it is set as wanted.
bool readNotificationSetting(VLK::StatusWidget &panel, const QTemporaryDir &dir,
                             const QString &wanted)
{
    if (!dir.isValid())
        return false;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const QString organization = QStringLiteral("Orvand");
    const QString application = QStringLiteral("CalvaroClientBench");
    QSettings(organization, application)
        .setValue(QStringLiteral("Notifications/Enabled"), wanted == QLatin1String("notify-on"));
    panel.readSettings(organization, application);
    return true;
}

const QString FilterPrefix = QStringLiteral("filter:");
const QString JournalPrefix = QStringLiteral("journal:");

// The optional arguments after the fifth: what to tell the panel about
// notifications, the filter text, and how many of the user's jobs the
// journal holds (0: the panel has no journal; either logs in as the user).
// False for one that is none.
bool readOptions(const QStringList &options, QString &notifications, QString &filter,
                 int &journalled)
{
    for (const QString &option : options) {
        bool ok = true;
        if (option == QLatin1String("notify-on") || option == QLatin1String("notify-off"))
            notifications = option;
        else if (option.startsWith(FilterPrefix))
            filter = option.mid(FilterPrefix.size());
        else if (option.startsWith(JournalPrefix))
            journalled = option.mid(JournalPrefix.size()).toInt(&ok);
        else
            return false;
        if (!ok || journalled < 0)
            return false;
    }
    return true;
}

const QString JournalUser = QStringLiteral("user3");

// A journal of the first journalled jobs of JournalUser among the rows, as a
// study submitted from this account leaves it, with nothing downloaded yet.
bool fillJournal(const QString &path, quint16 port, int rows, int journalled)
{
    VLK::JobJournal journal(path);
    if (!journal.open())
        return false;
    for (int i = 0; i < rows && journalled > 0; ++i) {
        const VLK::JobInfo job = benchJob(i);
        if (job.userId != JournalUser)
            continue;
        VLK::JournalEntry entry;
        entry.key = { QStringLiteral("127.0.0.1"), port, JournalUser, job.path };
        entry.solver = job.solverId;
        entry.commandLine = QStringLiteral("--load %1").arg(i);
        entry.queue = QStringLiteral("fast");
        entry.submittedAt = QDateTime::currentDateTimeUtc();
        if (!journal.record(entry))
            return false;
        --journalled;
    }
    return true;
}

// The panel follows a journal at path, with results left where they are.
bool useJournal(VLK::CalvaroClientBase &client, VLK::StatusWidget &panel,
                const QTemporaryDir &settingsDir, const QString &path)
{
    if (!settingsDir.isValid())
        return false;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    VLK::ResultSettings::setDownloadsAutomatically(false);
    panel.setJournal(new VLK::WindowJournal(&client, path));
    return true;
}

// Logs in as JournalUser, whose jobs are then the user's own.
bool logIn(VLK::CalvaroClientBase &client, ReplyWatch &watch)
{
    const QString digest = QStringLiteral("0123456789abcdef0123456789abcdef");
    client.setLoginUser(JournalUser, digest);
    watch.expectReply();
    if (!VLK::CalvaroClientCommands::sendLogin(client.m_tcpSocket, JournalUser, digest))
        return false;
    client.awaitReply();
    return runEventsUntil([&watch] { return watch.handled(); }, RefreshTimeoutMs);
}

// The median of values, which it sorts.
double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// What typing character does: the key the keyboard sends, with its text.
void typeInto(QWidget &field, QChar character)
{
    int key = Qt::Key_Backspace;
    QString text;
    if (!character.isNull()) {
        key = character.isDigit()  ? Qt::Key_0 + character.digitValue()
            : character.isLetter() ? Qt::Key_A + (character.toUpper().unicode() - 'A')
                                   : Qt::Key_Slash;
        text = character;
    }
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&field, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(&field, &release);
}

} // namespace

int runJobListClient(const QStringList &arguments)
{
    if (arguments.size() < 5 || arguments.size() > 8)
        return fail(QStringLiteral("job list: bad arguments"));
    const int rows = arguments.at(0).toInt();
    const int refreshes = arguments.at(1).toInt();
    const int segmentSize = arguments.at(2).toInt();
    const int pauseMs = arguments.at(3).toInt();
    const bool changing = arguments.at(4) == QLatin1String("changing");
    QString notifications;
    QString filter;
    int journalled = 0;
    if (rows < 0 || refreshes < 1 || (!changing && arguments.at(4) != QLatin1String("same"))
        || !readOptions(arguments.mid(5), notifications, filter, journalled))
        return fail(QStringLiteral("job list: bad arguments"));

    const QByteArray replies[] = { jobListReply(rows, 0), jobListReply(rows, 1) };
    int repliesSent = 0; // used by the server's thread only
    RequestResponder server([&replies, &repliesSent, changing, segmentSize,
                             pauseMs](int fd, const QByteArray &request) {
        if (qFromBigEndian<qint64>(request.constData() + 8) == VLK::MT_Login)
            return Pattern::writeMessage(fd, VLK::MT_LoginOk, 0);
        const QByteArray &reply = replies[changing ? repliesSent++ % 2 : 0];
        return Pattern::writeInSegments(fd, reply, segmentSize > 0 ? segmentSize : reply.size(),
                                        pauseMs);
    });
    VLK::CalvaroClientBase client;
    VLK::StatusWidget panel;
    panel.setClientBase(&client);
    QTemporaryDir settingsDir;
    if (!notifications.isEmpty() && !readNotificationSetting(panel, settingsDir, notifications))
        return fail(QStringLiteral("job list: no settings"));
    ReplyWatch watch(client);
    auto *table = panel.findChild<QTableWidget *>(QStringLiteral("tableWidgetStatus"));
    auto *filterField = panel.findChild<QLineEdit *>(QStringLiteral("lineEditFilter"));
    if (!table || !filterField)
        return fail(QStringLiteral("job list: no job table"));
    filterField->setText(filter);
    PaintCounter tablePaints(table->viewport());
    PaintCounter windowPaints(&panel);
    if (!showAndWait(panel, windowPaints) || !server.isListening()
        || !connectClient(client, server.port()))
        return fail(QStringLiteral("job list: no connection"));
    QTemporaryDir journalDir;
    const QString journalPath = journalDir.filePath(QStringLiteral("journal.sqlite"));
    if (journalled > 0
        && (!journalDir.isValid() || !fillJournal(journalPath, server.port(), rows, journalled)
            || !useJournal(client, panel, settingsDir, journalPath)))
        return fail(QStringLiteral("job list: no journal"));
    if (arguments.mid(5).join(u' ').contains(JournalPrefix) && !logIn(client, watch))
        return fail(QStringLiteral("job list: no login"));

    MemoryProbe memory;
    memory.markIdle();
    TickRecorder ticks;
    std::vector<double> refreshMs, refreshCpuMs, arrivalGapMs, totalGapMs, rssKiB;
    for (int refresh = 0; refresh < refreshes; ++refresh) {
        // The paint may come in the same pass of the event loop as the reply.
        const int painted = tablePaints.count();
        watch.expectReply();
        panel.refreshJobList();
        if (!runEventsUntil([&watch] { return watch.handled(); }, RefreshTimeoutMs))
            return fail(QStringLiteral("job list: no reply"));
        if (!tablePaints.waitForPaintAfter(painted, RefreshTimeoutMs))
            return fail(QStringLiteral("job list: table not painted"));
        const Clock::time_point shown = Clock::now();
        if (table->rowCount() != rows)
            return fail(QStringLiteral("job list: table has %1 rows").arg(table->rowCount()));
        refreshMs.push_back(millisecondsBetween(watch.lastByteAt(), shown));
        refreshCpuMs.push_back((threadCpuSeconds() - watch.lastByteCpuSeconds()) * 1000);
        arrivalGapMs.push_back(ticks.longestGapMs(watch.firstByteAt(), watch.lastByteAt()));
        totalGapMs.push_back(ticks.longestGapMs(watch.firstByteAt(), shown));
        rssKiB.push_back(MemoryProbe::currentKiB());
        if (refresh == 0 && rows > SelectedRow)
            table->selectRow(SelectedRow);
    }

    const std::vector<double> repeats(refreshMs.begin() + 1, refreshMs.end());
    printResult(
        { { QStringLiteral("firstMs"), refreshMs.front() },
          { QStringLiteral("repeatMs"), fastest(repeats) },
          { QStringLiteral("refreshMs"), toJson(refreshMs) },
          { QStringLiteral("refreshCpuMs"), toJson(refreshCpuMs) },
          { QStringLiteral("arrivalGapMs"),
            *std::max_element(arrivalGapMs.begin(), arrivalGapMs.end()) },
          { QStringLiteral("totalGapMs"), *std::max_element(totalGapMs.begin(), totalGapMs.end()) },
          { QStringLiteral("idleKiB"), double(memory.idleKiB()) },
          { QStringLiteral("rssKiB"), toJson(rssKiB) },
          { QStringLiteral("replyBytes"), replies[0].size() } });
    return 0;
}

int runJobListFilterTyping(const QStringList &arguments)
{
    if (arguments.size() != 2)
        return fail(QStringLiteral("filter typing: bad arguments"));
    const int rows = arguments.at(0).toInt();
    const int keystrokes = arguments.at(1).toInt();
    if (rows < 1 || keystrokes < 2)
        return fail(QStringLiteral("filter typing: bad arguments"));
    const QByteArray reply = jobListReply(rows, 0);
    RequestResponder server([&reply](int fd, const QByteArray &) {
        return Pattern::writeInSegments(fd, reply, reply.size(), 0);
    });
    VLK::CalvaroClientBase client;
    VLK::StatusWidget panel;
    panel.setClientBase(&client);
    ReplyWatch watch(client);
    auto *table = panel.findChild<QTableWidget *>(QStringLiteral("tableWidgetStatus"));
    auto *filterField = panel.findChild<QLineEdit *>(QStringLiteral("lineEditFilter"));
    if (!table || !filterField)
        return fail(QStringLiteral("filter typing: no job table"));
    PaintCounter tablePaints(table->viewport());
    PaintCounter windowPaints(&panel);
    if (!showAndWait(panel, windowPaints) || !server.isListening()
        || !connectClient(client, server.port()))
        return fail(QStringLiteral("filter typing: no connection"));
    watch.expectReply();
    panel.refreshJobList();
    if (!runEventsUntil([&watch] { return watch.handled(); }, RefreshTimeoutMs)
        || !tablePaints.waitForPaintAfter(tablePaints.count(), RefreshTimeoutMs))
        return fail(QStringLiteral("filter typing: list not shown"));

    // Half the keys narrow the list down to the jobs of one user, the other
    // half take the text back, key by key, as a user who mistyped does.
    const QString typed = QStringLiteral("user3/job0000000000").left(keystrokes / 2);
    std::vector<double> keyMs;
    for (int keystroke = 0; keystroke < keystrokes; ++keystroke) {
        const int painted = tablePaints.count();
        const Clock::time_point pressed = Clock::now();
        typeInto(*filterField, keystroke < typed.size() ? typed.at(keystroke) : QChar());
        // A key that hides or shows no row in view needs no paint; it is
        // timed to one all the same.
        table->viewport()->update();
        if (!tablePaints.waitForPaintAfter(painted, RefreshTimeoutMs))
            return fail(QStringLiteral("filter typing: table not painted"));
        keyMs.push_back(millisecondsBetween(pressed, Clock::now()));
    }
    if (!filterField->text().isEmpty() && keystrokes % 2 == 0)
        return fail(QStringLiteral("filter typing: the text was not taken back"));
    printResult({ { QStringLiteral("medianMs"), median(keyMs) },
                  { QStringLiteral("keyMs"), toJson(keyMs) } });
    return 0;
}

int runJobListBaseline(const QStringList &arguments)
{
    if (arguments.size() != 2)
        return fail(QStringLiteral("job list baseline: bad arguments"));
    const int rows = arguments.at(0).toInt();
    const int fills = arguments.at(1).toInt();
    if (rows < 0 || fills < 1)
        return fail(QStringLiteral("job list baseline: bad arguments"));
    // The texts arrive as bytes, as they do from the server: any table filled
    // from a reply makes its cell texts from them.
    QVector<QByteArray> cells;
    cells.reserve(rows * VLK::JobTableItems::ColumnCount);
    for (int i = 0; i < rows; ++i) {
        const VLK::JobInfo job = benchJob(i);
        for (const QString &text : { job.userId, job.solverId, job.status, job.path,
                                     VLK::JobRules::lastMessageTail(job.progressMsg).toString() })
            cells.append(text.toUtf8());
    }

    QTableWidget table;
    PaintCounter paints(table.viewport());
    if (!showAndWait(table, paints))
        return fail(QStringLiteral("job list baseline: table not shown"));
    MemoryProbe memory;
    memory.markIdle();
    std::vector<double> fillMs, rssKiB;
    for (int fill = 0; fill < fills; ++fill) {
        const Clock::time_point started = Clock::now();
        table.setSortingEnabled(false);
        table.setRowCount(rows);
        table.setColumnCount(VLK::JobTableItems::ColumnCount);
        for (int i = 0; i < cells.size(); ++i)
            table.setItem(i / VLK::JobTableItems::ColumnCount, i % VLK::JobTableItems::ColumnCount,
                          new QTableWidgetItem(QString::fromUtf8(cells.at(i))));
        if (!paints.waitForPaintAfter(paints.count(), RefreshTimeoutMs))
            return fail(QStringLiteral("job list baseline: table not painted"));
        fillMs.push_back(millisecondsBetween(started, Clock::now()));
        rssKiB.push_back(MemoryProbe::currentKiB());
    }
    const std::vector<double> repeats(fillMs.begin() + 1, fillMs.end());
    printResult({ { QStringLiteral("firstMs"), fillMs.front() },
                  { QStringLiteral("repeatMs"), fastest(repeats) },
                  { QStringLiteral("refreshMs"), toJson(fillMs) },
                  { QStringLiteral("idleKiB"), double(memory.idleKiB()) },
                  { QStringLiteral("rssKiB"), toJson(rssKiB) } });
    return 0;
}

int runJobListWatch(const QStringList &arguments)
{
    if (arguments.size() != 2)
        return fail(QStringLiteral("job list watch: bad arguments"));
    const int rows = arguments.at(0).toInt();
    const int refreshes = arguments.at(1).toInt();
    if (rows < 1 || refreshes < 2)
        return fail(QStringLiteral("job list watch: bad arguments"));
    const QByteArray replies[] = { jobListReply(rows, 0), jobListReply(rows, 1) };
    VLK::ShownJobList list;
    VLK::JobFinishWatch watch;
    QVector<int> changedIndexes;
    std::vector<double> updateMs, compareMs;
    for (int refresh = 0; refresh < refreshes; ++refresh) {
        const double started = threadCpuSeconds();
        if (!list.update(replies[refresh % 2], refresh > 0, changedIndexes))
            return fail(QStringLiteral("job list watch: reply not decoded"));
        list.decodeChanged(changedIndexes, [](int, const VLK::JobInfo &) {});
        const double updated = threadCpuSeconds();
        watch.beginComparing(list.jobCount());
        for (const int index : qAsConst(changedIndexes))
            watch.compareJob(index, list.job(index));
        if (!watch.endComparing(list, changedIndexes).isEmpty())
            return fail(QStringLiteral("job list watch: jobs reported finished"));
        updateMs.push_back((updated - started) * 1000);
        compareMs.push_back((threadCpuSeconds() - updated) * 1000);
    }
    printResult({ { QStringLiteral("updateMs"), toJson(updateMs) },
                  { QStringLiteral("compareMs"), toJson(compareMs) } });
    return 0;
}

} // namespace Bench
