#include "ResultPacker.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

namespace DevServer {

namespace {
// Written per pass of the event loop: a few milliseconds of work.
constexpr qint64 GeneratedPieceSize = qint64(4) << 20;
} // namespace

ResultPacker::ResultPacker(QObject *parent)
    : QObject(parent)
{
    // The archiver's chatter is of no use; its complaints go to the server's log.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &ResultPacker::onProcessFinished);
    connect(&m_process, &QProcess::errorOccurred, this, &ResultPacker::onProcessError);
}

ResultPacker::~ResultPacker()
{
    if (m_generated.isOpen()) {
        m_generated.close();
        QFile::remove(m_resultPath);
        return;
    }
    if (m_process.state() == QProcess::NotRunning)
        return;
    // A killed job: no word back, and no half-written archive left behind.
    m_process.disconnect(this);
    m_process.kill();
    m_process.waitForFinished();
    QFile::remove(m_resultPath);
}

void ResultPacker::start(const QString &workingDirectory, const QString &resultName,
                         const QStringList &inputs)
{
    m_resultPath = QDir(workingDirectory).filePath(resultName);
    QFile::remove(m_resultPath);
    m_process.setWorkingDirectory(workingDirectory);
    // Inputs are mostly zip archives already: the fastest level loses nothing.
    m_process.start(QStringLiteral("7z"),
                    QStringList { QStringLiteral("a"), QStringLiteral("-tzip"),
                                  QStringLiteral("-mx=1"), QStringLiteral("--"), resultName }
                        + inputs);
}

void ResultPacker::generate(const QString &workingDirectory, const QString &resultName, qint64 size)
{
    m_resultPath = QDir(workingDirectory).filePath(resultName);
    m_generated.setFileName(m_resultPath);
    m_toGenerate = size;
    if (!m_generated.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const QString error = m_generated.errorString();
        // Reported once the caller has connected to finished().
        QMetaObject::invokeMethod(
            this, [this, error] { emit finished(false, error); }, Qt::QueuedConnection);
        return;
    }
    QMetaObject::invokeMethod(this, &ResultPacker::generateMore, Qt::QueuedConnection);
}

void ResultPacker::generateMore()
{
    const qint64 offset = m_generated.pos();
    const qint64 pieceSize = qMin(GeneratedPieceSize, m_toGenerate - offset);
    QByteArray piece((pieceSize + 7) & ~qint64(7), Qt::Uninitialized);
    for (qint64 word = 0; word < piece.size(); word += 8)
        qToBigEndian<quint64>(quint64(offset + word), piece.data() + word);
    if (m_generated.write(piece.constData(), pieceSize) != pieceSize) {
        const QString error = m_generated.errorString();
        m_generated.close();
        QFile::remove(m_resultPath);
        emit finished(false, error);
        return;
    }
    if (m_generated.pos() < m_toGenerate) {
        QMetaObject::invokeMethod(this, &ResultPacker::generateMore, Qt::QueuedConnection);
        return;
    }
    const bool written = m_generated.flush();
    const QString error = m_generated.errorString();
    m_generated.close();
    if (!written)
        QFile::remove(m_resultPath);
    emit finished(written, written ? QString() : error);
}

void ResultPacker::onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (exitStatus == QProcess::NormalExit && exitCode == 0 && QFileInfo(m_resultPath).isFile()) {
        emit finished(true, QString());
        return;
    }
    QFile::remove(m_resultPath);
    emit finished(false,
                  exitStatus == QProcess::NormalExit
                      ? QStringLiteral("7z ended with exit code %1").arg(exitCode)
                      : QStringLiteral("7z crashed"));
}

void ResultPacker::onProcessError(QProcess::ProcessError error)
{
    // Every other error also ends in finished(); a failed start does not.
    if (error == QProcess::FailedToStart)
        emit finished(false,
                      QStringLiteral("7z could not be started: %1").arg(m_process.errorString()));
}

} // namespace DevServer
