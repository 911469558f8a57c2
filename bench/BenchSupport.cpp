#include "BenchSupport.h"

#include "gui/CalvaroClientBase.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QJsonDocument>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace Bench {

namespace {

// A value in kB from /proc/self/status, e.g. field "VmRSS:".
qint64 statusFieldKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QByteArray prefix(field);
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Wakes the event loop now and then, so a wait for events always ends in time
// to look at the clock again.
constexpr int WatchdogIntervalMs = 50;
constexpr int ConnectTimeoutMs = 5000;
constexpr int TickIntervalMs = 10;

double secondsOf(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

double threadCpuSeconds()
{
    return secondsOf(CLOCK_THREAD_CPUTIME_ID);
}

double processCpuSeconds()
{
    return secondsOf(CLOCK_PROCESS_CPUTIME_ID);
}

double millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

TickRecorder::TickRecorder()
{
    QObject::connect(&m_timer, &QTimer::timeout, [this] { m_ticks.push_back(Clock::now()); });
    m_timer.start(TickIntervalMs);
}

double TickRecorder::longestGapMs(Clock::time_point from, Clock::time_point to) const
{
    double longest = 0;
    Clock::time_point previous = from;
    for (const Clock::time_point tick : m_ticks) {
        if (tick <= from)
            continue;
        longest = std::max(longest, millisecondsBetween(previous, std::min(tick, to)));
        if (tick >= to)
            return longest;
        previous = tick;
    }
    return std::max(longest, millisecondsBetween(previous, to));
}

void MemoryProbe::markIdle()
{
    // "5" restarts the peak (VmHWM) from the current resident size.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
    m_idleKiB = currentKiB();
}

qint64 MemoryProbe::currentKiB()
{
    return statusFieldKiB("VmRSS:");
}

qint64 MemoryProbe::peakKiB()
{
    return statusFieldKiB("VmHWM:");
}

bool runEventsUntil(const std::function<bool()> &done, int timeoutMs)
{
    QTimer watchdog;
    watchdog.start(WatchdogIntervalMs);
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool connectClient(VLK::CalvaroClientBase &client, quint16 port)
{
    bool established = false;
    const QMetaObject::Connection connection
        = QObject::connect(&client, &VLK::CalvaroClientBase::connectionEstablished,
                           [&established] { established = true; });
    client.connectToServer(QStringLiteral("127.0.0.1"), port);
    const bool connected = runEventsUntil([&established] { return established; }, ConnectTimeoutMs);
    QObject::disconnect(connection);
    return connected;
}

PaintCounter::PaintCounter(QWidget *widget)
    : QObject(widget)
{
    widget->installEventFilter(this);
}

bool PaintCounter::waitForPaintAfter(int count, int timeoutMs)
{
    return runEventsUntil([this, count] { return m_count > count; }, timeoutMs);
}

bool PaintCounter::eventFilter(QObject *watched, QEvent *event)
{
    // The filter sees the event before the widget paints; the count is read
    // only after the event loop pass has returned, when painting is done.
    if (event->type() == QEvent::Paint)
        ++m_count;
    return QObject::eventFilter(watched, event);
}

void printResult(const QJsonObject &result)
{
    const QByteArray line = QJsonDocument(result).toJson(QJsonDocument::Compact);
    std::fprintf(stdout, "%s\n", line.constData());
    std::fflush(stdout);
}

int fail(const QString &what)
{
    printResult({ { QStringLiteral("error"), what } });
    return 1;
}

void failOnModalDialogs()
{
    auto *watch = new QTimer(QCoreApplication::instance());
    QObject::connect(watch, &QTimer::timeout, [] {
        QWidget *dialog = QApplication::activeModalWidget();
        // The upload's progress dialog is modal on purpose and needs no click.
        if (!dialog || qobject_cast<QProgressDialog *>(dialog))
            return;
        const auto *box = qobject_cast<QMessageBox *>(dialog);
        fail(QStringLiteral("dialog \"%1\": %2")
                 .arg(dialog->windowTitle(), box ? box->text() : QString()));
        std::_Exit(1);
    });
    watch->start(WatchdogIntervalMs);
}

} // namespace Bench
