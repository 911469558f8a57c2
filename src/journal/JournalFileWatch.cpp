#include "journal/JournalFileWatch.h"

#include <QFileInfo>

namespace VLK {

JournalFileWatch::JournalFileWatch(const QString &journalPath, QObject *parent)
    : QObject(parent)
    , m_journalPath(journalPath)
{
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &JournalFileWatch::onChanged);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &JournalFileWatch::onChanged);
    watch();
}

bool JournalFileWatch::takeWritten()
{
    const bool written = m_written || !m_watching;
    m_written = false;
    return written;
}

// A file that was replaced or removed is no longer watched; the folder tells
// when the write-ahead log comes or goes.
void JournalFileWatch::onChanged()
{
    m_written = true;
    watch();
}

// Commits go to the write-ahead log and checkpoints to the database file.
void JournalFileWatch::watch()
{
    const QString paths[] = { QFileInfo(m_journalPath).absolutePath(), m_journalPath,
                              m_journalPath + QStringLiteral("-wal") };
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    m_watching = true;
    for (const QString &path : paths) {
        if (!watched.contains(path) && (!QFileInfo::exists(path) || !m_watcher.addPath(path)))
            m_watching = false;
    }
}

} // namespace VLK
