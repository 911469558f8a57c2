#include "WindowFixture.h"

#include <QFile>
#include <QSettings>
#include <QTest>

const QString WindowFixture::Organization = QStringLiteral("Orvand");
const QString WindowFixture::Application = QStringLiteral("CalvaroClient");

WindowFixture::WindowFixture()
{
    // Before the first settings object: the store's location is read once.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
}

WindowFixture::~WindowFixture() = default;

void WindowFixture::init()
{
    QVERIFY(m_configHome.isValid());
    QSettings(Organization, Application).clear();
    m_dialogs = std::make_unique<DialogHelper>();
    m_server = std::make_unique<FakeServer>();
    QVERIFY(m_server->listen());
    m_windowSetUp = true;
    setUpWindow();
}

void WindowFixture::cleanup()
{
    if (m_windowSetUp)
        tearDownWindow();
    m_windowSetUp = false;
    m_server.reset();
    m_dialogs.reset();
}
