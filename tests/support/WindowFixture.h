#pragma once

#include "DialogHelper.h"
#include "FakeServer.h"

#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// What every test of a window against a fake server starts from: the
// program's own name and a settings store of its own, emptied before each test; a dialog helper
// that records and answers message boxes and file dialogs; and a fake server listening on a free
// loopback port. A test class derives from it and builds its window in setUpWindow(), which runs
// after the shared set-up, and takes it down in tearDownWindow(), which runs before the shared
// tear-down (and only if setUpWindow() ran, however far it got).
class WindowFixture : public QObject
{
    Q_OBJECT

public:
    static const QString Organization;
    static const QString Application;

    WindowFixture();
    ~WindowFixture() override;

protected:
    virtual void setUpWindow() { }
    virtual void tearDownWindow() { }

    std::unique_ptr<DialogHelper> m_dialogs;
    std::unique_ptr<FakeServer> m_server;

private slots:
    void init();
    void cleanup();

private:
    // Holds the settings, so that even a test run by hand, outside CTest,
    // never clears the user's real ones.
    QTemporaryDir m_configHome;
    bool m_windowSetUp = false;
};
