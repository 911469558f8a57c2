#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

namespace VLK {

// Tells whether the journal's files may have been written since it was last
// asked, so that a reader that asks at every refresh of a long job list opens
// a transaction only when something was written. Where the files cannot be
// watched, it always says that they may have been.
class JournalFileWatch : public QObject
{
    Q_OBJECT

public:
    explicit JournalFileWatch(const QString &journalPath, QObject *parent = nullptr);

    // True once after a write to the journal, by this process or another,
    // and at the first call.
    bool takeWritten();

private:
    void onChanged();
    void watch();

    const QString m_journalPath;
    QFileSystemWatcher m_watcher;
    bool m_written = true;
    bool m_watching = false;
};

} // namespace VLK
