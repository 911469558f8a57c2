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
    const int logStart = log().size();
    m_process.start(m_program,
                    QStringList { QStringLiteral("--port"), QStringLiteral("0"),
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

QString DevServerProcess::log() const
{
    QFile file(logFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
