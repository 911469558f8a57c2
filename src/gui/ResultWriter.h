#pragma once

#include <QObject>
#include <QThread>

#include <memory>

class QSaveFile;

namespace VLK {

// Puts downloaded results in place: a result streams into a temporary file
// beside its target, and committing it (flushing it to the disk, then
// renaming it over the target) takes seconds for a large one. That happens
// on a thread of its own, so the window stays alive meanwhile; a small one is
// committed at once. Results are reported in the order they were handed in.
class ResultWriter : public QObject
{
    Q_OBJECT

public:
    explicit ResultWriter(QObject *parent = nullptr);
    // Finishes the results still being committed, so none is lost.
    ~ResultWriter() override;

    // The file must be open and hold the whole result.
    void commit(std::unique_ptr<QSaveFile> file);

signals:
    void finished(const QString &filePath, bool written);

private:
    void report(const QString &filePath, bool written);

    QThread m_thread;
    // Lives on m_thread: the commits are queued to it.
    QObject *m_worker;
    int m_pending = 0;
};

} // namespace VLK
