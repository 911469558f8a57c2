#include "gui/ResultWriter.h"

#include <QSaveFile>

namespace VLK {

namespace {
// Below this a result is committed before the reply's handling returns, as
// quickly as handing it over would be.
constexpr qint64 ImmediateCommitBytes = 1 << 20;
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
    // Queued behind the commits still waiting, so that they are all done.
    QThread *thread = &m_thread;
    QMetaObject::invokeMethod(
        m_worker, [thread] { thread->quit(); }, Qt::QueuedConnection);
    m_thread.wait();
    delete m_worker;
}

void ResultWriter::commit(std::unique_ptr<QSaveFile> file)
{
    const QString filePath = file->fileName();
    // One waiting in the thread would otherwise be reported after this one.
    if (m_pending == 0 && file->size() < ImmediateCommitBytes) {
        emit finished(filePath, file->commit());
        return;
    }
    ++m_pending;
    QSaveFile *committing = file.release();
    committing->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_worker,
        [this, committing, filePath] {
            const bool written = committing->commit();
            delete committing;
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
