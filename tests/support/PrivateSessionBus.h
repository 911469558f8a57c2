#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A session bus of the test's own: a dbus-daemon child with nothing on it
// that the machine's desktop would start on demand, only the services the
// test names. Stopped when destroyed.
class PrivateSessionBus
{
public:
    PrivateSessionBus() = default;
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    // Starts the bus; each name in startOnDemand is a service the bus starts
    // with that command line when it is first called. False with why in
    // error() when it cannot start.
    bool start(const QMap<QString, QString> &startOnDemand = {});
    // Makes this process (and children started later) use the bus: a
    // library reads the address when it first talks to its session bus.
    void becomeSessionBus() const;
    QString address() const { return m_address; }
    QString error() const { return m_error; }

private:
    bool writeConfig(const QMap<QString, QString> &startOnDemand, QString &configPath);

    QTemporaryDir m_directory;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};
