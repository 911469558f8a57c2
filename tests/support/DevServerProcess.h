#pragma once

#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>

// The stand-in server as a child process on a free loopback port, keeping its
// jobs in a data directory of the test's own and its log in a file there (a
// pipe that nobody drains would stall it). Stopped when destroyed.
class DevServerProcess
{
public:
    DevServerProcess(const QString &program, const QString &directory);
    ~DevServerProcess();

    QString dataDirectory() const { return m_directory + QStringLiteral("/data"); }
    QString logFile() const { return m_directory + QStringLiteral("/server.log"); }
    quint16 port() const { return m_port; }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }

    // Writes a users file of name:md5hex lines and returns its path.
    QString writeUsersFile(const QList<QPair<QString, QString>> &namesAndPasswords) const;

    // Starts the server with these options besides port and data directory,
    // and waits until it tells the port it listens on: a free one the first
    // time, the same one again after a stop or kill.
    bool start(const QStringList &arguments);
    void stop();
    // Ends the server at once, as a crash or a power cut would.
    void kill();

    QString log() const;
    // The most resident memory the server has had, in KiB (-1 where unknown).
    qint64 peakMemoryKiB() const;

private:
    QString m_program;
    QString m_directory;
    QProcess m_process;
    quint16 m_port = 0;
};
