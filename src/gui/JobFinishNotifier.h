#pragma once

#include "protocol/JobFinishWatch.h"

#include <QObject>

class QSystemTrayIcon;
class QWidget;

namespace VLK {

class CalvaroClientBase;

// Tells the engineer that jobs finished: a line each in the status log, the
// window asking for attention, and one desktop notification for all of them
// through the session bus's notification service, or a tray message where
// there is none.
class JobFinishNotifier : public QObject
{
    Q_OBJECT

public:
    explicit JobFinishNotifier(QWidget *window);

    // Whether the user wants to be told; on unless switched off in the
    // settings.
    static bool isEnabled();

    // jobInView is the path of a job that the user is looking at; the
    // desktop does not need to tell of it.
    void report(const QVector<FinishedJob> &jobs, const QString &jobInView,
                CalvaroClientBase *clientBase);
    // A finished job's result was stored without the user asking: where it went.
    void reportStoredResult(const QString &jobPath, const QString &filePath);

private:
    static QString outcomeText(FinishedJob::Outcome outcome);
    static QString summaryFor(const QVector<FinishedJob> &jobs);
    static QString describe(const FinishedJob &job);
    void showOnDesktop(const QString &summary, const QString &body);
    void showInTray(const QString &summary, const QString &body);

    QWidget *m_window;
    QSystemTrayIcon *m_trayIcon = nullptr;
};

} // namespace VLK
