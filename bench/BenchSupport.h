#pragma once

#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <vector>

class QWidget;

namespace VLK {
class CalvaroClientBase;
}

namespace Bench {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to);
// Processor time the calling thread has used so far: unlike the clock on the
// wall, it hardly depends on what else the machine is doing.
double threadCpuSeconds();
double millisecondsBetween(Clock::time_point from, Clock::time_point to);
// Processor time of the whole process, every thread included.
double processCpuSeconds();

// The longest pause between ticks of a 10 ms timer within a span of time:
// how long the window could not have answered a key or a click.
class TickRecorder
{
public:
    TickRecorder();
    double longestGapMs(Clock::time_point from, Clock::time_point to) const;

private:
    QTimer m_timer;
    std::vector<Clock::time_point> m_ticks;
};

// Resident memory of this process as the kernel accounts it. The peak is
// restarted at markIdle, so it only covers the work measured after it.
class MemoryProbe
{
public:
    void markIdle();
    qint64 idleKiB() const { return m_idleKiB; }
    static qint64 currentKiB();
    static qint64 peakKiB();
    qint64 peakGrowthKiB() const { return peakKiB() - m_idleKiB; }

private:
    qint64 m_idleKiB = 0;
};

// Runs the event loop until done() holds; false when timeoutMs passed first.
// Waits for events between checks instead of spinning.
bool runEventsUntil(const std::function<bool()> &done, int timeoutMs);

// Connects the client to 127.0.0.1:port and waits until the connection is up.
bool connectClient(VLK::CalvaroClientBase &client, quint16 port);

// Counts the paint events a widget receives, so a measurement can end once
// what it changed is really on the screen.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget);
    int count() const { return m_count; }
    // Runs the event loop until a paint after the given count has been handled.
    bool waitForPaintAfter(int count, int timeoutMs);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int m_count = 0;
};

// A measurement that runs into a message box would wait for a click that
// never comes: ends the child at once with the box's text as its failure.
void failOnModalDialogs();

// The one line a measurement child writes for the runner.
void printResult(const QJsonObject &result);
// Writes a failure as the result line and returns the child's exit code.
int fail(const QString &what);

} // namespace Bench
