#pragma once

#include "protocol/CalvaroClientCommands.h"

#include <QElapsedTimer>
#include <QString>

namespace Cli {

// One line of progress on stderr (what, bytes, percent, rate), redrawn a few
// times a second, and only when stderr is a terminal: a script's log gets
// none of it.
class ProgressMeter : public VLK::CalvaroClientCommands::ProgressNotification
{
public:
    explicit ProgressMeter(const QString &label);
    ~ProgressMeter() override;

    static bool isEnabled();

    // totalBytes 0: the total is unknown and no percentage is shown.
    void show(qint64 bytesSoFar, qint64 totalBytes);
    void notify(qint64 bytesSent, qint64 totalBytes) override { show(bytesSent, totalBytes); }
    // Ends the line, so that what follows starts on a line of its own.
    void finish();

private:
    QString m_label;
    QElapsedTimer m_clock;
    qint64 m_lastDrawMs = -1;
    bool m_drawn = false;
};

} // namespace Cli
