#pragma once

#include <QObject>

class QSocketNotifier;

namespace Cli {

// Turns Ctrl+C (and a polite kill) into a signal of the event loop, so that
// whatever runs can close its connection and remove its temporary files
// before the program ends. Where the platform offers no such hook, Ctrl+C
// keeps its default effect.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

    bool isInterrupted() const { return m_interrupted; }

signals:
    void interrupted();

private slots:
    void onSignalled();

private:
    QSocketNotifier *m_notifier = nullptr;
    bool m_interrupted = false;
};

} // namespace Cli
