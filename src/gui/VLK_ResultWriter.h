#pragma once

#include <QByteArray>
#include <QObject>
#include <QThread>

namespace VLK {

// Stores downloaded results: the payload of a reply message, written to a
// file that replaces the target only once it is complete. Writing and
// syncing a large result takes seconds, so it happens on a thread of its
// own and the window stays alive meanwhile; a small one is stored at once.
// Results are reported in the order they were handed in.
class ResultWriter : public QObject
{
    Q_OBJECT

public:
    explicit ResultWriter(QObject *parent = nullptr);
    // Finishes the results still being written, so none is lost.
    ~ResultWriter() override;

    // The message is shared, not copied: the caller may go on with its own
    // buffer at once.
    void write(const QByteArray &message, const QString &filePath);

signals:
    void finished(const QString &filePath, bool written);

private:
    void report(const QString &filePath, bool written);

    QThread m_thread;
    // Lives on m_thread: the writes are queued to it.
    QObject *m_worker;
    int m_pending = 0;
};

} // namespace VLK
