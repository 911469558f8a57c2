#include "DevServerProcess.h"
#include "DialogHelper.h"
#include "FakeServer.h"
#include "gui/FunctionTestWidget.h"
#include "gui/JobTableItems.h"
#include "gui/ReconnectController.h"
#include "protocol/ApplicationIdentity.h"
#include "protocol/Protocol.h"
#include "protocol/ReconnectBackoff.h"
#include "protocol/ServerConnection.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace VLK;

namespace {

const QString User = QStringLiteral("engineer");
const QString Password = QStringLiteral("night shift");

QString digest(const QString &password)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
}

} // namespace

class TestReconnect : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void backoffSequence_data();
    void backoffSequence();
    void serverRestartIsBridgedWithoutBoxes();
    void refusedLoginEndsTheTries();

private:
    template<class T = QAbstractButton> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    void logIn(quint16 port);
    int linesStartingWith(const QString &prefix) const;
    QString jobStatus() const;

    DialogHelper *m_dialogs = nullptr;
    FunctionTestWidget *m_window = nullptr;
    QStringList m_statusLines;
};

void TestReconnect::init()
{
    VLK::ApplicationIdentity::install();
    QSettings().clear();
    m_statusLines.clear();
    m_dialogs = new DialogHelper(this);
    m_window = new FunctionTestWidget;
    m_window->setOrganizationAndApplication(QCoreApplication::organizationName(),
                                            QCoreApplication::applicationName());
    m_window->readSettings();
    connect(m_window, &CalvaroClientBase::addStatusMessage, this,
            [this](const QString &line) { m_statusLines.append(line); });
    m_window->show();
}

void TestReconnect::cleanup()
{
    if (QTest::currentTestFailed())
        qInfo().noquote() << "status log:\n"
                          << m_statusLines.join(QLatin1Char('\n')) << "\nboxes:\n"
                          << m_dialogs->boxTexts().join(QLatin1Char('\n'));
    delete m_window;
    m_window = nullptr;
    delete m_dialogs;
}

void TestReconnect::logIn(quint16 port)
{
    auto *server = child<QComboBox>("comboBoxServerIP");
    server->lineEdit()->setText(QStringLiteral("127.0.0.1"));
    child<QLineEdit>("lineEditServerPort")->setText(QString::number(port));
    child<QLineEdit>("lineEditUser")->setText(User);
    child<QLineEdit>("lineEditPassword")->setText(Password);
    QTest::mouseClick(child("pushButtonLogin"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_statusLines.contains(QStringLiteral("Login successful")), 10000);
}

int TestReconnect::linesStartingWith(const QString &prefix) const
{
    return int(std::count_if(m_statusLines.cbegin(), m_statusLines.cend(),
                             [&](const QString &line) { return line.startsWith(prefix); }));
}

// The status of the one job in the table.
QString TestReconnect::jobStatus() const
{
    const QTableWidgetItem *status
        = child<QTableWidget>("tableWidgetStatus")->item(0, JobTableItems::StatusColumn);
    return status ? status->text() : QString();
}

void TestReconnect::backoffSequence_data()
{
    QTest::addColumn<double>("jitter");
    QTest::addColumn<QList<int>>("delays");
    QTest::newRow("plain") << 0.0
                           << QList<int> { 1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000 };
    QTest::newRow("most late") << 1.0 << QList<int> { 1200, 2400, 4800, 9600, 19200, 38400, 72000 };
    QTest::newRow("most early") << -1.0
                                << QList<int> { 800, 1600, 3200, 6400, 12800, 25600, 48000 };
    QTest::newRow("source out of range") << 7.0 << QList<int> { 1200, 2400 };
}

void TestReconnect::backoffSequence()
{
    QFETCH(double, jitter);
    QFETCH(QList<int>, delays);
    ReconnectBackoff backoff([jitter] { return jitter; });
    QList<int> seen;
    for (int i = 0; i < delays.size(); ++i)
        seen.append(backoff.nextDelayMs());
    QCOMPARE(seen, delays);
    backoff.reset();
    QCOMPARE(backoff.nextDelayMs(), delays.first());
}

// The server goes away while a job runs and the list refreshes every second,
// and comes back five seconds later with the same port and data.
void TestReconnect::serverRestartIsBridgedWithoutBoxes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DevServerProcess server(QStringLiteral(CALVARO_DEVSERVER), dir.path());
    const QStringList options {
        QStringLiteral("--users"),   server.writeUsersFile({ { User, Password } }),
        QStringLiteral("--tick-ms"), QStringLiteral("200"),
        QStringLiteral("--steps"),   QStringLiteral("10")
    };
    QVERIFY2(server.start(options), qPrintable(server.log()));

    QFile archive(dir.filePath(QStringLiteral("model.zip")));
    QVERIFY(archive.open(QIODevice::WriteOnly));
    archive.write("PK\x03\x04 a project");
    archive.close();
    ServerConnection submitter;
    QVERIFY(submitter.connectToServer(QStringLiteral("127.0.0.1"), server.port()));
    QVERIFY(submitter.login(User, digest(Password)));
    JobHeader job;
    job.solverId = QStringLiteral("cfd_transient_3");
    job.projectFile = QStringLiteral("model.prja");
    job.zipFileName = QStringLiteral("model.zip");
    QVERIFY2(submitter.submitJob(archive.fileName(), job, nullptr),
             qPrintable(submitter.errorText()));
    submitter.close();

    child<QSpinBox>("spinBoxAutoRefresh")->setValue(1);
    logIn(server.port());
    QTRY_VERIFY_WITH_TIMEOUT(jobStatus().startsWith(QLatin1String("Running")), 10000);

    server.kill();
    QElapsedTimer outage;
    outage.start();
    auto *controller = m_window->findChild<ReconnectController *>();
    QVERIFY(controller);
    QTRY_VERIFY(controller->isReconnecting());
    QVERIFY(m_window->findChild<QWidget *>(QStringLiteral("reconnectBanner"))->isVisible());
    QVERIFY(!child("pushButtonSubmit")->isEnabled());
    QVERIFY(!child("pushButtonKill")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(outage.elapsed() >= 5000, 7000);

    QVERIFY2(server.start(options), qPrintable(server.log()));
    const QDateTime nextTry = controller->nextTryAt();
    const QDateTime deadline
        = (nextTry.isNull() ? QDateTime::currentDateTime() : nextTry).addMSecs(1000);
    QTRY_VERIFY_WITH_TIMEOUT(m_statusLines.contains(QStringLiteral("Reconnected")), 70000);
    QVERIFY2(QDateTime::currentDateTime() <= deadline,
             qPrintable(deadline.toString(Qt::ISODateWithMs)));
    QVERIFY(!m_window->findChild<QWidget *>(QStringLiteral("reconnectBanner"))->isVisible());

    QTRY_COMPARE_WITH_TIMEOUT(linesStartingWith(QStringLiteral("Job finished: ")), 1, 20000);
    // A few more refreshes tell nothing more.
    const int listsSoFar = server.log().count(QStringLiteral("MT_JobStatus("));
    QTRY_VERIFY_WITH_TIMEOUT(server.log().count(QStringLiteral("MT_JobStatus(")) >= listsSoFar + 2,
                             10000);
    QCOMPARE(linesStartingWith(QStringLiteral("Job finished: ")), 1);
    QCOMPARE(linesStartingWith(QStringLiteral("Connection lost: ")), 1);
    QVERIFY2(m_dialogs->boxes.isEmpty(), qPrintable(m_dialogs->boxTexts().join(u'\n')));
}

void TestReconnect::refusedLoginEndsTheTries()
{
    FakeServer server;
    QVERIFY(server.listen());
    server.setReply(MT_Login, FakeServer::reply(MT_LoginOk));
    server.setReply(MT_SolverList, FakeServer::textList(MT_SolverListReply, {}));
    logIn(server.port());
    QVERIFY(server.waitForRequests(2));

    server.clearReplies();
    server.setReply(MT_Login, FakeServer::reply(MT_CommandError1));
    server.dropClient();
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs->boxes.size(), 1, 10000);
    QCOMPARE(m_dialogs->boxes.first().title, QStringLiteral("Command failed"));

    auto *controller = m_window->findChild<ReconnectController *>();
    QVERIFY(!controller->isReconnecting());
    QVERIFY(controller->nextTryAt().isNull());
    QVERIFY(!m_window->findChild<QWidget *>(QStringLiteral("reconnectBanner"))->isVisible());
    QCOMPARE(server.requestTypes().count(MT_Login), 2);
    QVERIFY(m_statusLines.contains(QStringLiteral("Stopped reconnecting")));
}

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
