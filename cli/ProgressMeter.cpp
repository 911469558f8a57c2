#include "ProgressMeter.h"

#include "Terminal.h"

#include <cstdio>

namespace Cli {

namespace {

constexpr qint64 RedrawIntervalMs = 200;

QString bytesText(double bytes)
{
    const char *const units[] = { "B", "KiB", "MiB", "GiB", "TiB" };
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    return QString::number(bytes, 'f', unit == 0 ? 0 : 1) + QLatin1Char(' ')
        + QLatin1String(units[unit]);
}

} // namespace

ProgressMeter::ProgressMeter(const QString &label)
    : m_label(label)
{
    m_clock.start();
}

ProgressMeter::~ProgressMeter()
{
    finish();
}

bool ProgressMeter::isEnabled()
{
    return isTerminal(stderr);
}

void ProgressMeter::show(qint64 bytesSoFar, qint64 totalBytes)
{
    const qint64 now = m_clock.elapsed();
    const bool last = totalBytes > 0 && bytesSoFar >= totalBytes;
    if (!isEnabled() || (!last && m_lastDrawMs >= 0 && now - m_lastDrawMs < RedrawIntervalMs))
        return;
    m_lastDrawMs = now;
    QString line = m_label + QLatin1String("  ") + bytesText(double(bytesSoFar));
    if (totalBytes > 0)
        line += QStringLiteral(" / %1  %2%")
                    .arg(bytesText(double(totalBytes)))
                    .arg(int(100 * bytesSoFar / totalBytes), 3);
    if (now > 0)
        line += QStringLiteral("  %1/s").arg(bytesText(bytesSoFar * 1000.0 / double(now)));
    std::fprintf(stderr, "\r%-72s", qPrintable(line));
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressMeter::finish()
{
    if (!m_drawn)
        return;
    std::fputs("\n", stderr);
    m_drawn = false;
}

} // namespace Cli
