#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace VLK {

// Which job an entry is about: a job path is unique only on its server, and
// only for the user who submitted it.
struct JournalKey
{
    QString server;
    quint16 port = 0;
    QString user;
    QString jobPath;

    bool operator==(const JournalKey &other) const
    {
        return server == other.server && port == other.port && user == other.user
            && jobPath == other.jobPath;
    }
    bool operator!=(const JournalKey &other) const { return !(*this == other); }
};

// What the journal knows of one submitted job: how it was submitted, what its
// status was when last seen, and where its result was stored.
struct JournalEntry
{
    JournalKey key;
    // The local project file (absolute) when a project was packed, else the
    // project file named inside the submitted archive.
    QString projectFile;
    QString archive;
    QString solver;
    QString commandLine;
    QString queue;
    QDateTime submittedAt;
    QString lastStatus;
    QDateTime statusSeenAt;
    // Empty until the result is complete on disk.
    QString resultPath;
    qint64 resultSize = -1;
    QByteArray resultSha256;
    QDateTime storedAt;

    bool hasResult() const { return !resultPath.isEmpty(); }
};

} // namespace VLK
