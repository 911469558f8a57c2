#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace DevServer {

// Packing is the last part of running: the solver has finished and the result
// archive is being written. Clients see it as running.
enum class JobState { Queued, Running, Packing, Processed, Failed, Killed };

struct Job
{
    int number = 0;
    QString user;
    QString solverId;
    QString projectName;
    QString archiveName;
    QString commandLine;
    bool slowQueue = false;
    JobState state = JobState::Queued;
    int step = 0;
    int totalSteps = 0;
    QStringList messages;
    QString resultName;
    // A new job waits at least one whole tick in the queue, so that a client
    // asking right after submitting sees it queued. Not persisted.
    bool waitOneTick = false;

    QString folderName() const;
    // What clients name the job by: user/job folder/project file.
    QString path() const;
    QString statusText() const;
    bool isActive() const { return state == JobState::Running || state == JobState::Packing; }

    QJsonObject toJson() const;
    // False for an entry that lacks what a job needs.
    static bool fromJson(const QJsonObject &object, Job &job);
};

} // namespace DevServer
