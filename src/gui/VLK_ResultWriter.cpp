#include "gui/VLK_ResultWriter.h"

#include "protocol/VLK_Protocol.h"

namespace VLK {

namespace {
// Below this a result is written before the reply's handling returns, as
// quickly as handing it over would be.
constexpr int ImmediateWriteBytes = 1 << 20;
} // namespace

ResultWriter::ResultWriter(QObject *parent)
    : QObject(parent)
    , m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("ResultWriter"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

ResultWriter::~ResultWriter()
{
    // Queued behind the writes still waiting, so that they are all done.
    QThread *thread = &m_thread;
    QMetaObject::invokeMethod(
        m_worker, [thread] { thread->quit(); }, Qt::QueuedConnection);
    m_thread.wait();
    delete m_worker;
}

void ResultWriter::write(const QByteArray &message, const QString &filePath)
{
    // One waiting in the thread would otherwise be reported after this one.
    if (m_pending == 0 && message.size() < ImmediateWriteBytes) {
        emit finished(filePath, writePayloadToFile(message, filePath));
        return;
    }
    ++m_pending;
    QMetaObject::invokeMethod(
        m_worker,
        [this, message, filePath] {
            const bool written = writePayloadToFile(message, filePath);
            QMetaObject::invokeMethod(
                this, [this, filePath, written] { report(filePath, written); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void ResultWriter::report(const QString &filePath, bool written)
{
    --m_pending;
    emit finished(filePath, written);
}

} // namespace VLK
