#include "WindowFixture.h"

#include "protocol/ApplicationIdentity.h"

#include <QFile>
#include <QSettings>
#include <QTest>

const QString WindowFixture::Organization = VLK::ApplicationIdentity::organization();
const QString WindowFixture::Application = VLK::ApplicationIdentity::application();

WindowFixture::WindowFixture()
{
    // Before the first settings object: the store's location is read once.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    // Named as the program names itself at start-up.
    VLK::ApplicationIdentity::install();
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
