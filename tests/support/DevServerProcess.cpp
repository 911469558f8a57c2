#include "DevServerProcess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

namespace {
constexpr int StartTimeoutMs = 10000;
}

DevServerProcess::DevServerProcess(const QString &program, const QString &directory)
    : m_program(program)
    , m_directory(directory)
{ }

DevServerProcess::~DevServerProcess()
{
    stop();
}

QString
DevServerProcess::writeUsersFile(const QList<QPair<QString, QString>> &namesAndPasswords) const
{
    const QString path = m_directory + QStringLiteral("/users");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    for (const auto &user : namesAndPasswords) {
        const QByteArray digest
            = QCryptographicHash::hash(user.second.toUtf8(), QCryptographicHash::Md5).toHex();
        file.write(user.first.toUtf8() + ':' + digest + '\n');
    }
    return path;
}

bool DevServerProcess::start(const QStringList &arguments)
{
    m_process.setStandardErrorFile(logFile(), QIODevice::Append);
    // In a sanitizer build, freed blocks wait in a quarantine that would count
    // as the server's own memory; keep it small. Otherwise unused.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString asanOptions = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       asanOptions + (asanOptions.isEmpty() ? QString() : QStringLiteral(":"))
                           + QStringLiteral("quarantine_size_mb=16"));
    m_process.setProcessEnvironment(environment);
    const int logStart = log().size();
    m_process.start(m_program,
                    QStringList { QStringLiteral("--port"), QString::number(m_port),
                                  QStringLiteral("--data-dir"), dataDirectory() }
                        + arguments);
    if (!m_process.waitForStarted())
        return false;
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)\\n"));
    QElapsedTimer clock;
    clock.start();
    while (isRunning() && clock.elapsed() < StartTimeoutMs) {
        const QRegularExpressionMatch match = listening.match(log(), logStart);
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return true;
        }
        m_process.waitForFinished(10);
    }
    return false;
}

void DevServerProcess::stop()
{
    if (!isRunning())
        return;
    m_process.terminate();
    m_process.waitForFinished();
}

void DevServerProcess::kill()
{
    if (!isRunning())
        return;
    m_process.kill();
    m_process.waitForFinished();
}

QString DevServerProcess::log() const
{
    QFile file(logFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

qint64 DevServerProcess::peakMemoryKiB() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("VmHWM:\\s+(\\d+) kB"))
                                              .match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}
