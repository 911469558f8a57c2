#include "PrivateSessionBus.h"
#include "WindowFixture.h"
#include "WindowSession.h"
#include "gui/FunctionTestWidget.h"
#include "gui/Version.h"
#include "protocol/Protocol.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

using namespace VLK;
using WindowSession::jobLine;

namespace {

const QString ServiceName = QStringLiteral("org.freedesktop.Notifications");
const QString ServicePath = QStringLiteral("/org/freedesktop/Notifications");
// In a list of lists: the server's answer to a login comes here.
const QStringList Login = { QStringLiteral("<login>") };

const QString Alpha = QStringLiteral("alice/job-1/a.prja");
const QString Beta = QStringLiteral("alice/job-2/b.prja");
const QString Gamma = QStringLiteral("alice/job-3/c.prja");
const QString Delta = QStringLiteral("alice/job-4/d.prja");
const QString Foreign = QStringLiteral("bob/job-5/e.prja");
const QString Ready = QStringLiteral("step 9\\|Ready for download: a.zip");

} // namespace

// A notification service of the test's own on the private bus, as a desktop
// provides one.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries;
    QStringList bodies;

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        summaries.append(summary);
        bodies.append(body);
        return uint(summaries.size());
    }
    void Ping() { }
};

class TestJobFinishNotifier : public WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void notifiesOfOwnFinishedJobs_data();
    void notifiesOfOwnFinishedJobs();
    void withoutAServiceTheLogStillTells();
    void titleCountsFinishedJobsUntilShown();

private:
    void setUpWindow() override;
    void tearDownWindow() override;
    void startWindow(bool enabled);
    void showLists(const QList<QStringList> &lists);
    bool syncWithService();

    PrivateSessionBus m_bus;
    NotificationService m_service;
    std::unique_ptr<FunctionTestWidget> m_window;
    std::unique_ptr<QSignalSpy> m_status;
};

// A session bus of the test's own, with nothing on it that could be started
// on demand.
void TestJobFinishNotifier::initTestCase()
{
    QVERIFY2(m_bus.start(), qPrintable(m_bus.error()));
    m_bus.becomeSessionBus();

    QDBusConnection serviceBus
        = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("service"));
    QVERIFY(serviceBus.isConnected());
    QVERIFY(serviceBus.registerObject(ServicePath, &m_service, QDBusConnection::ExportAllSlots));
}

void TestJobFinishNotifier::setUpWindow()
{
    QVERIFY(QDBusConnection(QStringLiteral("service")).registerService(ServiceName));
    m_service.summaries.clear();
    m_service.bodies.clear();
}

void TestJobFinishNotifier::tearDownWindow()
{
    m_status.reset();
    m_window.reset();
    QDBusConnection(QStringLiteral("service")).unregisterService(ServiceName);
}

void TestJobFinishNotifier::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
}

void TestJobFinishNotifier::startWindow(bool enabled)
{
    QSettings(Organization, Application).setValue(QStringLiteral("Notifications/Enabled"), enabled);
    m_window = std::make_unique<FunctionTestWidget>();
    m_window->setOrganizationAndApplication(Organization, Application);
    m_window->readSettings();
    m_status = std::make_unique<QSignalSpy>(m_window.get(), &CalvaroClientBase::addStatusMessage);
    QVERIFY(WindowSession::connect(*m_window, *m_server));
}

void TestJobFinishNotifier::showLists(const QList<QStringList> &lists)
{
    for (const QStringList &jobs : lists) {
        if (jobs == Login)
            QVERIFY(WindowSession::answer(*m_window, *m_server, FakeServer::reply(MT_LoginOk),
                                          QStringLiteral("Login successful")));
        else
            QVERIFY(WindowSession::showJobList(*m_window, *m_server, jobs));
    }
}

// The bus keeps the order of the window's calls: once a call sent after the
// last list has been answered, any notification of that list has reached
// the service, or has been refused when there is none.
bool TestJobFinishNotifier::syncWithService()
{
    const QString serviceConnection = QDBusConnection(QStringLiteral("service")).baseService();
    const QDBusPendingCall ping
        = QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
            serviceConnection, ServicePath, ServiceName, QStringLiteral("Ping")));
    return QTest::qWaitFor([&] { return ping.isFinished(); }) && !ping.isError();
}

void TestJobFinishNotifier::notifiesOfOwnFinishedJobs_data()
{
    QTest::addColumn<QList<QStringList>>("lists");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("watchFirstRow");
    QTest::addColumn<QStringList>("notifications"); // summary, then each job named
    QTest::addColumn<int>("finishedLines");

    const QString running = QStringLiteral("Running (step 1/5)");
    const QString queued = QStringLiteral("Queued (fast queue)");
    const QList<QStringList> runningToProcessed
        = { { jobLine(Alpha, running) }, { jobLine(Alpha, QStringLiteral("Processed")) } };

    QTest::newRow("running to processed")
        << runningToProcessed << true << false
        << QStringList { QStringLiteral("Job processed"),
                         Alpha + QStringLiteral(" (solver-alice): processed") }
        << 1;
    QTest::newRow("three in one refresh")
        << QList<QStringList> { { jobLine(Alpha, running), jobLine(Beta, queued),
                                  jobLine(Gamma, running), jobLine(Delta, running) },
                                { jobLine(Alpha, QStringLiteral("Processed")),
                                  jobLine(Beta, QStringLiteral("Failed")),
                                  jobLine(Gamma, running, true, Ready), jobLine(Delta, running) } }
        << true << false
        << QStringList { QStringLiteral("3 jobs finished"),
                         Alpha + QStringLiteral(" (solver-alice): processed"),
                         Beta + QStringLiteral(" (solver-alice): failed"),
                         Gamma + QStringLiteral(" (solver-alice): processed") }
        << 3;
    // The job moved up when the one above it went; it is the same job.
    QTest::newRow("a queued job removed, a running one gone")
        << QList<QStringList> { { jobLine(Alpha, queued), jobLine(Beta, running),
                                  jobLine(Gamma, running) },
                                { jobLine(Beta, running) } }
        << true << false
        << QStringList { QStringLiteral("Job no longer listed"),
                         Gamma + QStringLiteral(" (solver-alice): no longer listed") }
        << 1;
    QTest::newRow("first list after a login") << QList<QStringList> {
        { jobLine(Alpha, running) }, Login, { jobLine(Alpha, QStringLiteral("Processed")) }
    } << true << false << QStringList() << 0;
    QTest::newRow("another user's job")
        << QList<QStringList> { { jobLine(Foreign, running, false) },
                                { jobLine(Foreign, QStringLiteral("Processed"), false) } }
        << true << false << QStringList() << 0;
    QTest::newRow("switched off") << runningToProcessed << false << false << QStringList() << 0;
    QTest::newRow("the job the user looks at")
        << runningToProcessed << true << true << QStringList() << 1;
}

void TestJobFinishNotifier::notifiesOfOwnFinishedJobs()
{
    QFETCH(QList<QStringList>, lists);
    QFETCH(bool, enabled);
    QFETCH(bool, watchFirstRow);
    QFETCH(QStringList, notifications);
    QFETCH(int, finishedLines);

    startWindow(enabled);
    if (watchFirstRow) {
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    showLists(lists.mid(0, 1));
    if (watchFirstRow)
        m_window->findChild<QTableWidget *>(QStringLiteral("tableWidgetStatus"))->selectRow(0);
    showLists(lists.mid(1));
    QVERIFY(syncWithService());

    int logged = 0;
    for (const QList<QVariant> &line : qAsConst(*m_status))
        logged += line.first().toString().startsWith(QLatin1String("Job finished: ")) ? 1 : 0;
    QCOMPARE(logged, finishedLines);
    if (notifications.isEmpty()) {
        QCOMPARE(m_service.summaries, QStringList());
        return;
    }
    QCOMPARE(m_service.summaries, QStringList { notifications.first() });
    QCOMPARE(m_service.bodies.first().split(QLatin1Char('\n')), notifications.mid(1));
}

void TestJobFinishNotifier::withoutAServiceTheLogStillTells()
{
    QDBusConnection(QStringLiteral("service")).unregisterService(ServiceName);
    startWindow(true);
    showLists({ { jobLine(Alpha, QStringLiteral("Running")) },
                { jobLine(Alpha, QStringLiteral("Killed")) } });
    QVERIFY(m_status->contains(
        { QStringLiteral("Job finished: ") + Alpha + QStringLiteral(" (solver-alice): killed") }));
    // The refused call has come back, and the window goes on.
    QVERIFY(syncWithService());
    QVERIFY(WindowSession::showJobList(*m_window, *m_server, {}));
    QCOMPARE(m_service.summaries, QStringList());
}

// Marks follow their jobs when the rows move, and go once the window is
// looked at.
void TestJobFinishNotifier::titleCountsFinishedJobsUntilShown()
{
    const QString title = QStringLiteral("Calvaro Client - ") + QLatin1String(VLK::Version);
    startWindow(true);
    QWidget elsewhere;
    m_window->show();
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    const QString running = QStringLiteral("Running");
    showLists(
        { { jobLine(Alpha, running), jobLine(Beta, running), jobLine(Gamma, running) },
          { jobLine(Alpha, QStringLiteral("Processed")), jobLine(Beta, QStringLiteral("Failed")),
            jobLine(Gamma, running) },
          { jobLine(Delta, QStringLiteral("Queued")), jobLine(Alpha, QStringLiteral("Processed")),
            jobLine(Beta, QStringLiteral("Failed")), jobLine(Gamma, running) } });
    auto *table = m_window->findChild<QTableWidget *>(QStringLiteral("tableWidgetStatus"));
    const auto markedPaths = [table] {
        QStringList paths;
        for (int row = 0; row < table->rowCount(); ++row) {
            const QTableWidgetItem *cell = table->item(row, 3);
            if (cell->font().bold() && !cell->toolTip().isEmpty())
                paths << cell->text();
        }
        return paths;
    };
    QCOMPARE(m_window->windowTitle(), QStringLiteral("(2 finished) ") + title);
    QCOMPARE(markedPaths(), (QStringList { Alpha, Beta }));

    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QTRY_COMPARE(m_window->windowTitle(), title);
    QCOMPARE(markedPaths(), QStringList());
}

QTEST_MAIN(TestJobFinishNotifier)
#include "tst_jobfinishnotifier.moc"
