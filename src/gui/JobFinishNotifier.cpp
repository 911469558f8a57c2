#include "gui/JobFinishNotifier.h"

#include "gui/CalvaroClientBase.h"
#include "gui/Settings.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QSettings>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariantMap>

namespace VLK {

namespace {

const char *const ApplicationName = "Calvaro Client";
const char *const NotificationService = "org.freedesktop.Notifications";
const char *const NotificationPath = "/org/freedesktop/Notifications";
// The server picks how long a notification stays.
constexpr int ServerDefaultTimeout = -1;
constexpr int TrayMessageMs = 10000;

struct OutcomeText
{
    const char *word;
    const char *summary;
};
// In the order of the outcomes.
const OutcomeText OutcomeTexts[] = {
    { QT_TRANSLATE_NOOP("VLK::JobFinishNotifier", "processed"),
      QT_TRANSLATE_NOOP("VLK::JobFinishNotifier", "Job processed") },
    { QT_TRANSLATE_NOOP("VLK::JobFinishNotifier", "failed"),
      QT_TRANSLATE_NOOP("VLK::JobFinishNotifier", "Job failed") },
    { QT_TRANSLATE_NOOP("VLK::JobFinishNotifier", "killed"),
      QT_TRANSLATE_NOOP("VLK::JobFinishNotifier", "Job killed") },
    { QT_TRANSLATE_NOOP("VLK::JobFinishNotifier", "no longer listed"),
      QT_TRANSLATE_NOOP("VLK::JobFinishNotifier", "Job no longer listed") },
};
static_assert(sizeof OutcomeTexts / sizeof OutcomeTexts[0] == FinishedJob::Vanished + 1,
              "a text for every outcome");
} // namespace

JobFinishNotifier::JobFinishNotifier(QWidget *window)
    : QObject(window)
    , m_window(window)
{ }

bool JobFinishNotifier::isEnabled()
{
    QSettings settings;
    settings.beginGroup(QLatin1String(Settings::NotificationsGroup));
    const bool enabled
        = settings.value(QLatin1String(Settings::NotificationsEnabledKey), true).toBool();
    settings.endGroup();
    return enabled;
}

void JobFinishNotifier::report(const QVector<FinishedJob> &jobs, const QString &jobInView,
                               CalvaroClientBase *clientBase)
{
    if (jobs.isEmpty())
        return;
    QVector<FinishedJob> unseen;
    QStringList lines;
    for (const FinishedJob &job : jobs) {
        clientBase->reportStatus(tr("Job finished: %1").arg(describe(job)));
        if (job.path != jobInView) {
            unseen.append(job);
            lines.append(describe(job));
        }
    }
    QApplication::alert(m_window->window());
    if (!unseen.isEmpty())
        showOnDesktop(summaryFor(unseen), lines.join(QLatin1Char('\n')));
}

void JobFinishNotifier::reportStoredResult(const QString &jobPath, const QString &filePath)
{
    showOnDesktop(tr("Result saved"),
                  tr("%1: result saved to %2").arg(jobPath, QDir::toNativeSeparators(filePath)));
}

QString JobFinishNotifier::outcomeText(FinishedJob::Outcome outcome)
{
    return tr(OutcomeTexts[outcome].word);
}

QString JobFinishNotifier::summaryFor(const QVector<FinishedJob> &jobs)
{
    if (jobs.size() > 1)
        return tr("%1 jobs finished").arg(jobs.size());
    return tr(OutcomeTexts[jobs.first().outcome].summary);
}

QString JobFinishNotifier::describe(const FinishedJob &job)
{
    return tr("%1 (%2): %3").arg(job.path, job.solverId, outcomeText(job.outcome));
}

// Asynchronous, so that a slow or missing service never holds the window.
void JobFinishNotifier::showOnDesktop(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        showInTray(summary, body);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(NotificationService), QLatin1String(NotificationPath),
        QLatin1String(NotificationService), QStringLiteral("Notify"));
    call << QString::fromLatin1(ApplicationName) << uint(0) << QString() << summary << body
         << QStringList() << QVariantMap() << ServerDefaultTimeout;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, summary, body](QDBusPendingCallWatcher *finishedCall) {
                if (finishedCall->isError())
                    showInTray(summary, body);
                finishedCall->deleteLater();
            });
}

void JobFinishNotifier::showInTray(const QString &summary, const QString &body)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!m_trayIcon) {
        m_trayIcon = new QSystemTrayIcon(m_window->window()->windowIcon(), this);
        connect(m_trayIcon, &QSystemTrayIcon::messageClicked, m_trayIcon, &QSystemTrayIcon::hide);
    }
    m_trayIcon->show();
    m_trayIcon->showMessage(summary, body, QSystemTrayIcon::Information, TrayMessageMs);
    // The icon is there only to carry the message.
    QTimer::singleShot(TrayMessageMs, m_trayIcon, &QSystemTrayIcon::hide);
}

} // namespace VLK
