#include "PrivateSessionBus.h"
#include "WindowFixture.h"
#include "gui/FunctionTestWidget.h"
#include "protocol/Protocol.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace VLK;

namespace {

const QString LoginGroup = QStringLiteral("CalvaroServerLoginData/");
const QString Password = QStringLiteral("s3cret-pw");
const QString Unavailable = QStringLiteral("The password cannot be remembered");

// Every file under dir that holds text.
QStringList filesHolding(const QString &dir, const QString &text)
{
    QStringList holding;
    QDirIterator files(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text.toUtf8()))
            holding << file.fileName();
    }
    return holding;
}

} // namespace

class TestRememberPassword : public WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void withoutAnAnsweringKeyringTheWindowWorksAndSaysSoOnce();

private:
    void tearDownWindow() override { m_window.reset(); }
    QString log() const
    {
        return m_window->findChild<QPlainTextEdit *>(QStringLiteral("plainTextEditStatus"))
            ->toPlainText();
    }

    PrivateSessionBus m_bus;
    std::unique_ptr<FunctionTestWidget> m_window;
};

// The secret service is started on demand but never comes up, as with a
// keyring that waits to be unlocked: a call to it would hang for the bus's
// own time-out.
void TestRememberPassword::initTestCase()
{
    QVERIFY2(m_bus.start(
                 { { QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/bin/sleep 6") } }),
             qPrintable(m_bus.error()));
    m_bus.becomeSessionBus();
}

void TestRememberPassword::withoutAnAnsweringKeyringTheWindowWorksAndSaysSoOnce()
{
    QSettings settings(Organization, Application);
    settings.setValue(LoginGroup + QStringLiteral("IPAddresses"),
                      QStringList { QStringLiteral("127.0.0.1") });
    settings.setValue(LoginGroup + QStringLiteral("Port"), m_server->port());
    settings.setValue(LoginGroup + QStringLiteral("UserName"), QStringLiteral("alice"));
    settings.setValue(LoginGroup + QStringLiteral("RememberPassword"), true);
    settings.sync();
    m_server->setReply(MT_Login, FakeServer::reply(MT_LoginOk));
    m_server->setReply(MT_SolverList, FakeServer::textList(MT_SolverListReply, {}));

    QElapsedTimer sinceStart;
    sinceStart.start();
    m_window = std::make_unique<FunctionTestWidget>();
    m_window->setOrganizationAndApplication(Organization, Application);
    m_window->readSettings();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY2(sinceStart.elapsed() < 2000, qPrintable(QString::number(sinceStart.elapsed())));
    auto *remember = m_window->findChild<QCheckBox *>(QStringLiteral("checkBoxRememberPassword"));
    QVERIFY(remember->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(log().count(Unavailable), 1, 8000);
    // Told by the window's own time limit, not by the bus giving up.
    QVERIFY2(sinceStart.elapsed() < 3500, qPrintable(QString::number(sinceStart.elapsed())));

    // Logging in, which would store the password, and unchecking, which would
    // forget it, neither repeat the line nor leave the password in a file.
    m_window->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"))->setText(Password);
    m_window->findChild<QPushButton *>(QStringLiteral("pushButtonLogin"))->click();
    QTRY_VERIFY(log().contains(QStringLiteral("Login successful")));
    remember->click();
    m_window->writeSettings();
    QCOMPARE(log().count(Unavailable), 1);
    QVERIFY(m_dialogs->boxes.isEmpty());
    QCOMPARE(QSettings(Organization, Application)
                 .value(LoginGroup + QStringLiteral("RememberPassword"))
                 .toBool(),
             false);
    for (const auto location :
         { QStandardPaths::GenericConfigLocation, QStandardPaths::GenericDataLocation })
        QCOMPARE(filesHolding(QStandardPaths::writableLocation(location), Password), {});
}

QTEST_MAIN(TestRememberPassword)
#include "tst_rememberpassword.moc"
