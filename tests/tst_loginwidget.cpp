#include "WindowFixture.h"
#include "gui/CalvaroClientBase.h"
#include "gui/LoginWidget.h"
#include "protocol/Protocol.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTcpSocket>
#include <QTest>

using namespace VLK;

namespace {

const QString Group = QStringLiteral("CalvaroServerLoginData/");

// A login panel as the program starts it: wired to the connection object (if
// any), told it is disconnected, and loaded from the settings store.
struct Panel
{
    LoginWidget widget;
    QComboBox *address = widget.findChild<QComboBox *>(QStringLiteral("comboBoxServerIP"));
    QLineEdit *port = widget.findChild<QLineEdit *>(QStringLiteral("lineEditServerPort"));
    QLineEdit *user = widget.findChild<QLineEdit *>(QStringLiteral("lineEditUser"));
    QLineEdit *password = widget.findChild<QLineEdit *>(QStringLiteral("lineEditPassword"));
    QPushButton *login = widget.findChild<QPushButton *>(QStringLiteral("pushButtonLogin"));
    QPushButton *logout = widget.findChild<QPushButton *>(QStringLiteral("pushButtonLogout"));
    QPlainTextEdit *log = widget.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEditStatus"));

    explicit Panel(CalvaroClientBase *client)
    {
        if (client) {
            widget.setClientBase(client);
            emit client->connectionStateChanged(false);
        }
        widget.readSettings(WindowFixture::Organization, WindowFixture::Application);
    }
    QStringList history() const
    {
        return qobject_cast<QStringListModel *>(address->model())->stringList();
    }
    QString buttons() const
    {
        return QStringLiteral("Login %1, Logout %2")
            .arg(login->isEnabled() ? QStringLiteral("on") : QStringLiteral("off"),
                 logout->isEnabled() ? QStringLiteral("on") : QStringLiteral("off"));
    }
    void aimAt(const QString &host, quint16 serverPort)
    {
        address->setEditText(host);
        port->setText(QString::number(serverPort));
    }
};

QString numbered(int from, int to)
{
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << QString::number(i);
    return lines.join(u'\n');
}

} // namespace

class TestLoginWidget : public WindowFixture
{
    Q_OBJECT

private slots:
    void loginAndLogoutThroughTheServer();
    void loginRequest_data();
    void loginRequest();
    void refusedActions_data();
    void refusedActions();
    void addressHistory_data();
    void addressHistory();
    void portAndUserSurviveARestart_data();
    void portAndUserSurviveARestart();
    void connectionPort_data();
    void connectionPort();
    void portValidator_data();
    void portValidator();
    void statusLog_data();
    void statusLog();
    void newestLogLineStaysInView();
    void logKeepsTheLinesBeingRead();

private:
    void setUpWindow() override { m_client = std::make_unique<CalvaroClientBase>(); }
    void tearDownWindow() override { m_client.reset(); }

    std::unique_ptr<CalvaroClientBase> m_client;
};

void TestLoginWidget::loginAndLogoutThroughTheServer()
{
    m_server->setReply(MT_Login, FakeServer::reply(MT_LoginOk));
    m_server->setReply(MT_SolverList, FakeServer::textList(MT_SolverListReply, {}));
    m_server->setReply(MT_Logout, FakeServer::reply(MT_LogoutOk));
    Panel panel(m_client.get());
    QStringList states;
    QObject recording; // ends the recording before states goes
    connect(m_client.get(), &CalvaroClientBase::connectionStateChanged, &recording,
            [&](bool connected) {
                states << QStringLiteral("%1: %2").arg(connected).arg(panel.buttons());
            });
    panel.aimAt(QStringLiteral("127.0.0.1"), m_server->port());
    panel.user->setText(QStringLiteral("alice"));
    panel.password->setText(QStringLiteral("secret"));

    panel.login->click();
    const QString pending = QStringLiteral("0: Login on, Logout off");
    const QString idle = QStringLiteral("1: Login off, Logout on");
    QTRY_COMPARE(states, (QStringList { pending, pending, idle, pending, idle }));
    QCOMPARE(
        panel.log->toPlainText(),
        QStringLiteral(
            "Connecting to server...\nConnected\nLogin successful\nRequesting solver list..."));

    states.clear();
    panel.logout->click();
    QTRY_COMPARE(states, (QStringList { pending, idle, pending }));
    QCOMPARE(m_server->requestTypes(), (QList<qint64> { MT_Login, MT_SolverList, MT_Logout }));
    QCOMPARE(m_server->requests().last().bytes, FakeServer::header(16, MT_Logout));
    QVERIFY(panel.log->toPlainText().endsWith(QStringLiteral("\nLogged out")));
    QVERIFY(m_dialogs->boxes.isEmpty());

    // The password stays for the next login but is never stored.
    QCOMPARE(panel.password->text(), QStringLiteral("secret"));
    QSettings settings(Organization, Application);
    for (const QString &key : settings.allKeys())
        QVERIFY2(!settings.value(key).toString().contains(QStringLiteral("secret")),
                 qPrintable(key));
}

void TestLoginWidget::loginRequest_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("digest");

    const QByteArray secret("5ebe2294ecd0e0f08eab7690d2a6ee69");
    // clang-format off
    QTest::newRow("empty password") << "click" << "alice" << ""
                                    << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
    QTest::newRow("digest with leading zero") << "click" << "alice" << "a"
                                              << QByteArray("0cc175b9c0f1b6a831c399e269772661");
    QTest::newRow("non-ASCII password") << "click" << "alice" << QString::fromUtf8("pässwörd")
                                        << QByteArray("12841e4ba5e37d2fbfc78458c6714ade");
    QTest::newRow("user name with blanks") << "click" << "  bob " << "secret" << secret;
    QTest::newRow("Return in password field") << "Return" << "carol" << "secret" << secret;
    QTest::newRow("Return while Login is disabled") << "Return, Login disabled" << "carol" << "secret" << secret;
    // clang-format on
}

void TestLoginWidget::loginRequest()
{
    QFETCH(QString, trigger);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QByteArray, digest);
    Panel panel(m_client.get());
    panel.aimAt(QStringLiteral("127.0.0.1"), m_server->port());
    panel.user->setText(user);
    panel.password->setText(password);

    if (trigger == QLatin1String("click")) {
        panel.login->click();
    } else {
        const bool loginDisabled = trigger.endsWith(QLatin1String("disabled"));
        panel.widget.onConnectionStateChanged(loginDisabled);
        QTest::keyClick(panel.password, Qt::Key_Return);
        // A disabled button cannot take the focus.
        QCOMPARE(panel.widget.focusWidget(), loginDisabled ? nullptr : panel.login);
    }

    QVERIFY(m_server->waitForRequests(1));
    const QByteArray payload = user.toUtf8() + '\n' + digest;
    QCOMPARE(m_server->requests().at(0).bytes,
             FakeServer::header(16 + payload.size(), MT_Login) + payload);
    QCOMPARE(panel.log->toPlainText(), QStringLiteral("Connecting to server...\nConnected"));
}

void TestLoginWidget::refusedActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("connectFirst");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<QString>("buttons");

    QTest::newRow("Login while connected")
        << "login" << true << "Already connected"
        << QStringLiteral("Already connected, logout first.")
        << QStringList { QStringLiteral("127.0.0.1"), QStringLiteral("localhost") }
        << "Login on, Logout off";
    QTest::newRow("Logout while not connected")
        << "logout" << false << "Not connected" << QStringLiteral("Login and connection required.")
        << QStringList { QStringLiteral("localhost") } << "Login off, Logout on";
    QTest::newRow("login request on a closed socket")
        << "established" << false << "Login failure"
        << QStringLiteral("Error sending login message.")
        << QStringList { QStringLiteral("localhost") } << QStringLiteral("Login off, Logout off");
}

void TestLoginWidget::refusedActions()
{
    QFETCH(QString, action);
    QFETCH(bool, connectFirst);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QStringList, history);
    QFETCH(QString, buttons);
    Panel panel(m_client.get());
    if (connectFirst) {
        m_client->connectToServer(QStringLiteral("127.0.0.1"), m_server->port());
        QVERIFY(m_server->waitForRequests(1));
    }
    // Logout is only clickable after a reply; the socket may be gone since.
    if (action == QLatin1String("logout"))
        emit m_client->connectionStateChanged(true);
    panel.address->setEditText(QStringLiteral("127.0.0.1"));
    const QString logBefore = panel.log->toPlainText();
    QSignalSpy stateChanges(m_client.get(), &CalvaroClientBase::connectionStateChanged);

    if (action == QLatin1String("login"))
        panel.login->click();
    else if (action == QLatin1String("logout"))
        panel.logout->click();
    else
        emit m_client->connectionEstablished();

    QCOMPARE(m_dialogs->boxes.size(), 1);
    QCOMPARE(m_dialogs->boxes.at(0).icon, QMessageBox::Critical);
    QCOMPARE(m_dialogs->boxes.at(0).title, title);
    QCOMPARE(m_dialogs->boxes.at(0).text, text);
    QCOMPARE(m_dialogs->boxes.at(0).parent.data(), &panel.widget);
    QCOMPARE(panel.history(), history);
    QCOMPARE(panel.buttons(), buttons);
    // No connection request: neither a new attempt nor a settings write.
    QCOMPARE(stateChanges.count(), 0);
    QVERIFY(!QSettings(Organization, Application).contains(Group + QStringLiteral("IPAddresses")));
    if (action == QLatin1String("established"))
        QCOMPARE(panel.log->toPlainText(), QStringLiteral("Connected\nNot connected"));
    else
        QCOMPARE(panel.log->toPlainText(), logBefore);
    QCOMPARE(m_client->m_tcpSocket->state(),
             connectFirst ? QAbstractSocket::ConnectedState : QAbstractSocket::UnconnectedState);
}

void TestLoginWidget::addressHistory_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<QString>("host");

    const QString server = QStringLiteral("127.0.0.1");
    QTest::newRow("nothing stored")
        << QVariant() << server << QStringList { server, QStringLiteral("localhost") } << server;
    QTest::newRow("stored empty list")
        << QVariant(QStringList()) << server << QStringList { server } << server;
    QTest::newRow("known address keeps its place")
        << QVariant(QStringList { QStringLiteral("solver-a"), server, QStringLiteral("solver-b") })
        << server << QStringList { QStringLiteral("solver-a"), server, QStringLiteral("solver-b") }
        << server;
    QTest::newRow("letter case makes a new entry")
        << QVariant(QStringList { QStringLiteral("LocalHost") }) << QStringLiteral("localhost")
        << QStringList { QStringLiteral("localhost"), QStringLiteral("LocalHost") }
        << QStringLiteral("localhost");
    QTest::newRow("blanks trimmed in history only")
        << QVariant(QStringList { QStringLiteral("solver-a") }) << QStringLiteral(" 127.0.0.1  ")
        << QStringList { server, QStringLiteral("solver-a") } << QStringLiteral(" 127.0.0.1  ");
    QTest::newRow("blank field") << QVariant(QStringList { QStringLiteral("solver-a") })
                                 << QStringLiteral("")
                                 << QStringList { QStringLiteral(""), QStringLiteral("solver-a") }
                                 << QStringLiteral("");
}

void TestLoginWidget::addressHistory()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, typed);
    QFETCH(QStringList, history);
    QFETCH(QString, host);
    if (stored.isValid())
        QSettings(Organization, Application)
            .setValue(Group + QStringLiteral("IPAddresses"), stored);

    Panel panel(m_client.get());
    panel.aimAt(typed, m_server->port());
    panel.login->click();
    QCOMPARE(panel.history(), history);
    QCOMPARE(m_client->m_tcpSocket->peerName(), host);

    // Written with the connection request, whatever becomes of it: a restart
    // offers the newest address first.
    Panel restarted(nullptr);
    QCOMPARE(restarted.history(), history);
    QCOMPARE(restarted.address->currentText(), history.first());
}

void TestLoginWidget::portAndUserSurviveARestart_data()
{
    QTest::addColumn<QVariant>("storedPort");
    QTest::addColumn<QString>("typedPort");
    QTest::addColumn<QString>("typedUser");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("user");

    // clang-format off
    QTest::newRow("defaults") << QVariant() << QString() << "" << "10000" << "";
    QTest::newRow("typed as they stand") << QVariant() << "4711" << " bob " << "4711" << " bob ";
    QTest::newRow("empty port keeps the stored one") << QVariant(4711) << "" << "bob" << "4711" << "bob";
    QTest::newRow("port 0 is stored") << QVariant(4711) << "0" << "bob" << "0" << "bob";
    QTest::newRow("stored text that is no port stays") << QVariant(QStringLiteral("70000")) << QString() << "" << "70000" << "";
    QTest::newRow("typed beyond 65535 is stored") << QVariant(4711) << "70000" << "bob" << "70000" << "bob";
    // clang-format on
}

void TestLoginWidget::portAndUserSurviveARestart()
{
    QFETCH(QVariant, storedPort);
    QFETCH(QString, typedPort);
    QFETCH(QString, typedUser);
    QFETCH(QString, port);
    QFETCH(QString, user);
    if (storedPort.isValid())
        QSettings(Organization, Application).setValue(Group + QStringLiteral("Port"), storedPort);

    {
        Panel panel(nullptr);
        if (!typedPort.isNull())
            panel.port->setText(typedPort);
        panel.user->setText(typedUser);
        panel.widget.writeSettings();
    }

    Panel restarted(nullptr);
    QCOMPARE(restarted.port->text(), port);
    QCOMPARE(restarted.user->text(), user);
    QCOMPARE(restarted.history(), QStringList { QStringLiteral("localhost") });
}

void TestLoginWidget::connectionPort_data()
{
    QTest::addColumn<bool>("empty");
    QTest::newRow("empty field") << true;
    QTest::newRow("beyond 65535, not wrapped round to the server's port") << false;
}

// What is no port number is requested as port 0, which is refused.
void TestLoginWidget::connectionPort()
{
    QFETCH(bool, empty);
    Panel panel(m_client.get());
    panel.address->setEditText(QStringLiteral("127.0.0.1"));
    // Text set from code passes no validator, just like text from the settings store.
    panel.port->setText(empty ? QString() : QString::number(m_server->port() + 65536));
    panel.login->click();

    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxes.at(0).title, QStringLiteral("Client"));
    QVERIFY(!m_server->hasClient());
}

void TestLoginWidget::portValidator_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");

    // clang-format off
    QTest::newRow("digits") << "8080" << "8080";
    QTest::newRow("letters refused") << "80a8x0" << "8080";
    QTest::newRow("sign refused") << "-1" << "1";
    QTest::newRow("sixth digit refused") << "655359" << "65535";
    QTest::newRow("zero may stand") << "0" << "0";
    // clang-format on
}

void TestLoginWidget::portValidator()
{
    QFETCH(QString, keys);
    QFETCH(QString, text);
    Panel panel(nullptr);
    panel.port->clear();
    QTest::keyClicks(panel.port, keys);
    QCOMPARE(panel.port->text(), text);
}

void TestLoginWidget::statusLog_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("after");

    // clang-format off
    QTest::newRow("first line") << "" << "Connected" << "Connected";
    QTest::newRow("ten lines fit") << numbered(1, 9) << "10" << numbered(1, 10);
    QTest::newRow("eleventh pushes out the first") << numbered(1, 10) << "11" << numbered(2, 11);
    QTest::newRow("blank lines count before they go") << "1\n\n2\n \t\n3\n4\n5\n6\n7\n8" << "9" << numbered(2, 9);
    QTest::newRow("white-space message vanishes") << "a" << "  \t " << "a";
    QTest::newRow("leading blanks stay") << "a" << "  2 solvers registered" << "a\n  2 solvers registered";
    QTest::newRow("message with a line break counts once") << numbered(1, 9) << QStringLiteral("x\ny") << numbered(1, 9) + QStringLiteral("\nx\ny");
    QTest::newRow("its lines count singly later") << numbered(1, 9) + QStringLiteral("\nx\ny") << QStringLiteral("z") << numbered(3, 9) + QStringLiteral("\nx\ny\nz");
    // clang-format on
}

void TestLoginWidget::statusLog()
{
    QFETCH(QString, before);
    QFETCH(QString, message);
    QFETCH(QString, after);
    Panel panel(nullptr);
    panel.log->setPlainText(before);
    panel.widget.onAddStatusMessage(message);
    QCOMPARE(panel.log->toPlainText(), after);
}

void TestLoginWidget::newestLogLineStaysInView()
{
    Panel panel(nullptr);
    panel.widget.resize(600, 70);
    panel.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel.widget));
    for (int i = 1; i <= 10; ++i)
        panel.widget.onAddStatusMessage(QString::number(i));

    const QRect viewport = panel.log->viewport()->rect();
    QVERIFY(!viewport.contains(panel.log->cursorRect(QTextCursor(panel.log->document()))));
    QVERIFY(panel.log->textCursor().atEnd());
    QVERIFY(viewport.contains(panel.log->cursorRect()));
}

void TestLoginWidget::logKeepsTheLinesBeingRead()
{
    Panel panel(nullptr);
    panel.widget.resize(600, 70);
    panel.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel.widget));
    for (int i = 1; i <= 30; ++i)
        panel.widget.onAddStatusMessage(QString::number(i));
    QScrollBar *scrollBar = panel.log->verticalScrollBar();
    scrollBar->setValue(2);
    panel.widget.onAddStatusMessage(QStringLiteral("Job finished"));
    const int readingAt = scrollBar->value();
    QVERIFY(readingAt < scrollBar->maximum());
    for (int refresh = 0; refresh < 9; ++refresh)
        panel.widget.onAddStatusMessage(QStringLiteral("Job finished"));
    QCOMPARE(scrollBar->value(), readingAt);
    // Back at the end, the log follows it again.
    scrollBar->setValue(scrollBar->maximum());
    panel.widget.onAddStatusMessage(QStringLiteral("last"));
    QVERIFY(panel.log->viewport()->rect().intersects(panel.log->cursorRect()));
    QVERIFY(panel.log->textCursor().atEnd());
}

QTEST_MAIN(TestLoginWidget)
#include "tst_loginwidget.moc"
