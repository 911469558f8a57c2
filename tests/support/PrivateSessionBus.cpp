#include "PrivateSessionBus.h"

#include <QDir>
#include <QFile>
#include <QTest>

PrivateSessionBus::~PrivateSessionBus()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    m_daemon.waitForFinished();
}

bool PrivateSessionBus::start(const QMap<QString, QString> &startOnDemand)
{
    QString config;
    if (!writeConfig(startOnDemand, config))
        return false;
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   { QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                     QStringLiteral("--config-file=") + config });
    if (!m_daemon.waitForStarted()) {
        m_error = QStringLiteral("dbus-daemon (package dbus) is needed");
        return false;
    }
    if (!QTest::qWaitFor([this] { return m_daemon.canReadLine(); }, 10000)) {
        m_error = QStringLiteral("dbus-daemon did not tell its address");
        return false;
    }
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    return true;
}

void PrivateSessionBus::becomeSessionBus() const
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}

bool PrivateSessionBus::writeConfig(const QMap<QString, QString> &startOnDemand,
                                    QString &configPath)
{
    const QString services = m_directory.filePath(QStringLiteral("services"));
    if (!m_directory.isValid() || !QDir().mkpath(services)) {
        m_error = QStringLiteral("no directory for the bus");
        return false;
    }
    for (auto service = startOnDemand.cbegin(); service != startOnDemand.cend(); ++service) {
        QFile file(services + QLatin1Char('/') + service.key() + QStringLiteral(".service"));
        if (!file.open(QIODevice::WriteOnly)) {
            m_error = file.errorString();
            return false;
        }
        file.write("[D-BUS Service]\nName=" + service.key().toUtf8()
                   + "\nExec=" + service.value().toUtf8() + '\n');
    }
    configPath = m_directory.filePath(QStringLiteral("session.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly)) {
        m_error = config.errorString();
        return false;
    }
    config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                 "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                 "<busconfig><type>session</type><listen>unix:dir="
                 + m_directory.path().toUtf8() + "</listen><auth>EXTERNAL</auth><servicedir>"
                 + services.toUtf8()
                 + "</servicedir><policy context=\"default\">"
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                   "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    return true;
}
