#pragma once

#include "Job.h"
#include "protocol/Protocol.h"

#include <QMap>
#include <QString>

#include <memory>

namespace DevServer {

class Upload;

// All jobs of all users with their files under the data directory:
//   index.json              the jobs, rewritten after every change
//   jobs/job-0007/input/    the uploaded archive
//   jobs/job-0007/...       the solver log and the result archive
//   uploads/                archives still arriving
// The index is the truth: at start-up, files it does not know are removed.
class JobStore final
{
public:
    // Loads the index. Jobs that were running when the server stopped are
    // queued again, since their solver run did not survive.
    bool open(const QString &dataDirectory, QString &error);

    QMap<int, Job> &jobs() { return m_jobs; }
    const QMap<int, Job> &jobs() const { return m_jobs; }
    Job *find(int number);
    Job *findByPath(const QString &path);

    std::unique_ptr<Upload> newUpload() const;
    // Moves the finished upload into a new job folder and queues the job.
    const Job *add(const QString &user, const VLK::JobHeader &header, Upload &upload,
                   QString &error);
    // Forgets the job and deletes its files.
    void remove(int number);
    void save();

    QString jobDirectory(const Job &job) const;
    // Relative to the job directory.
    static QString archiveEntry(const Job &job);
    QString archivePath(const Job &job) const;
    QString resultPath(const Job &job) const;
    QString logPath(const Job &job) const;

private:
    bool load(QString &error);
    void removeStrayFiles() const;
    QString indexPath() const;
    QString uploadDirectory() const;

    QString m_directory;
    QMap<int, Job> m_jobs;
    int m_nextNumber = 1;
};

} // namespace DevServer
