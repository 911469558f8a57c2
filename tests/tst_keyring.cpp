#include "PrivateSessionBus.h"
#include "WindowFixture.h"
#include "gui/FunctionTestWidget.h"
#include "keyring/PasswordStore.h"
#include "protocol/Protocol.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace VLK;

namespace {

const QString LoginGroup = QStringLiteral("CalvaroServerLoginData/");
const QString User = QStringLiteral("alice");
const QString Password = QStringLiteral("s3cret-pw");

} // namespace

// The secret store of a desktop, on a bus of the test's own: the password
// goes there, comes back at the next start and is forgotten on request.
class TestKeyring : public WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void rememberedPasswordLogsInAtTheNextStart();

private:
    void setUpWindow() override;
    void tearDownWindow() override { m_window.reset(); }
    void startWindow();
    QString log() const
    {
        return m_window->findChild<QPlainTextEdit *>(QStringLiteral("plainTextEditStatus"))
            ->toPlainText();
    }
    template<class T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    // What the secret store holds for the test's login: the password, or
    // nothing when no entry is there.
    QString storedPassword();

    PrivateSessionBus m_bus;
    QTemporaryDir m_runtimeDir;
    QProcess m_keyring;
    std::unique_ptr<FunctionTestWidget> m_window;
};

void TestKeyring::initTestCase()
{
    QVERIFY2(m_bus.start(), qPrintable(m_bus.error()));
    m_bus.becomeSessionBus();
    QVERIFY(m_runtimeDir.isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtimeDir.path().toUtf8());
    // A login keyring made and unlocked with the password on its input.
    m_keyring.start(QStringLiteral("gnome-keyring-daemon"),
                    { QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                      QStringLiteral("--components=secrets") });
    QVERIFY2(m_keyring.waitForStarted(), "gnome-keyring-daemon (package gnome-keyring) is needed");
    m_keyring.write("keyring unlock");
    m_keyring.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                 QStringLiteral("org.freedesktop.secrets")),
                             10000);
}

void TestKeyring::cleanupTestCase()
{
    m_keyring.terminate();
    m_keyring.waitForFinished();
}

void TestKeyring::setUpWindow()
{
    QSettings settings(Organization, Application);
    settings.setValue(LoginGroup + QStringLiteral("IPAddresses"),
                      QStringList { QStringLiteral("127.0.0.1") });
    settings.setValue(LoginGroup + QStringLiteral("Port"), m_server->port());
    settings.setValue(LoginGroup + QStringLiteral("UserName"), User);
    m_server->setReply(MT_Login, FakeServer::reply(MT_LoginOk));
    m_server->setReply(MT_SolverList, FakeServer::textList(MT_SolverListReply, {}));
}

void TestKeyring::startWindow()
{
    m_window = std::make_unique<FunctionTestWidget>();
    m_window->setOrganizationAndApplication(Organization, Application);
    m_window->readSettings();
    m_window->show();
}

QString TestKeyring::storedPassword()
{
    PasswordStore store;
    QString password;
    bool answered = false;
    connect(&store, &PasswordStore::passwordRead, &store,
            [&](const PasswordEntry &, const QString &stored) {
                password = stored;
                answered = true;
            });
    connect(&store, &PasswordStore::passwordNotRead, &store, [&] { answered = true; });
    store.read({ QStringLiteral("127.0.0.1"), m_server->port(), User });
    if (!QTest::qWaitFor([&] { return answered; }, 5000))
        return QStringLiteral("<no answer>");
    return password;
}

void TestKeyring::rememberedPasswordLogsInAtTheNextStart()
{
    startWindow();
    child<QCheckBox>("checkBoxRememberPassword")->click();
    child<QLineEdit>("lineEditPassword")->setText(Password);
    child<QPushButton>("pushButtonLogin")->click();
    QTRY_VERIFY(log().contains(QStringLiteral("Login successful")));
    QCOMPARE(storedPassword(), Password);
    m_window->writeSettings();
    m_window.reset();
    const QByteArray digest
        = QCryptographicHash::hash(Password.toUtf8(), QCryptographicHash::Md5).toHex();

    // calvaro, given no password of its own, takes the same one.
    m_server->clearReceived();
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("CALVARO_PASSWORD"));
    environment.insert(QStringLiteral("CALVARO_SERVER"), QStringLiteral("127.0.0.1"));
    environment.insert(QStringLiteral("CALVARO_PORT"), QString::number(m_server->port()));
    environment.insert(QStringLiteral("CALVARO_USER"), User);
    cli.setProcessEnvironment(environment);
    QSignalSpy finished(&cli, &QProcess::finished);
    cli.start(QStringLiteral(CALVARO_CLI), { QStringLiteral("solvers") });
    QVERIFY(finished.wait(15000));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
    QVERIFY(m_server->requests().first().bytes.contains(digest));

    // The next start logs in by itself, with the stored password.
    m_server->clearReceived();
    startWindow();
    QVERIFY(child<QCheckBox>("checkBoxRememberPassword")->isChecked());
    QTRY_VERIFY(log().contains(QStringLiteral("Login successful")));
    QVERIFY(log().contains(QStringLiteral("Logging in with the remembered password")));
    QCOMPARE(m_server->requests().first().type, qint64(MT_Login));
    QVERIFY(m_server->requests().first().bytes.contains(digest));

    // Unchecked, the password is forgotten.
    child<QCheckBox>("checkBoxRememberPassword")->click();
    QCOMPARE(storedPassword(), QString());
    QVERIFY(!log().contains(QStringLiteral("cannot be remembered")));
    QVERIFY(m_dialogs->boxes.isEmpty());
}

QTEST_MAIN(TestKeyring)
#include "tst_keyring.moc"
