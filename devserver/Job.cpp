#include "Job.h"

#include <QJsonArray>

namespace DevServer {

namespace {

struct StateName
{
    JobState state;
    const char *name;
};

const StateName stateNames[]
    = { { JobState::Queued, "queued" },   { JobState::Running, "running" },
        { JobState::Packing, "packing" }, { JobState::Processed, "processed" },
        { JobState::Failed, "failed" },   { JobState::Killed, "killed" } };

QString stateName(JobState state)
{
    for (const StateName &entry : stateNames) {
        if (entry.state == state)
            return QLatin1String(entry.name);
    }
    return QString();
}

bool stateFromName(const QString &name, JobState &state)
{
    for (const StateName &entry : stateNames) {
        if (name == QLatin1String(entry.name)) {
            state = entry.state;
            return true;
        }
    }
    return false;
}

} // namespace

QString Job::folderName() const
{
    return QStringLiteral("job-%1").arg(number, 4, 10, QLatin1Char('0'));
}

QString Job::path() const
{
    return user + QLatin1Char('/') + folderName() + QLatin1Char('/') + projectName;
}

QString Job::statusText() const
{
    switch (state) {
    case JobState::Queued:
        return slowQueue ? QStringLiteral("Queued (slow queue)")
                         : QStringLiteral("Queued (fast queue)");
    case JobState::Running:
        return QStringLiteral("Running (step %1/%2)").arg(step).arg(totalSteps);
    case JobState::Packing:
        return QStringLiteral("Running (packing results)");
    case JobState::Processed:
        return QStringLiteral("Processed");
    case JobState::Failed:
        return QStringLiteral("Failed");
    case JobState::Killed:
        return QStringLiteral("Killed");
    }
    return QString();
}

QJsonObject Job::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("number"), number);
    object.insert(QStringLiteral("user"), user);
    object.insert(QStringLiteral("solverId"), solverId);
    object.insert(QStringLiteral("projectName"), projectName);
    object.insert(QStringLiteral("archiveName"), archiveName);
    object.insert(QStringLiteral("commandLine"), commandLine);
    object.insert(QStringLiteral("slowQueue"), slowQueue);
    object.insert(QStringLiteral("state"), stateName(state));
    object.insert(QStringLiteral("step"), step);
    object.insert(QStringLiteral("totalSteps"), totalSteps);
    object.insert(QStringLiteral("messages"), QJsonArray::fromStringList(messages));
    object.insert(QStringLiteral("resultName"), resultName);
    return object;
}

bool Job::fromJson(const QJsonObject &object, Job &job)
{
    job.number = object.value(QStringLiteral("number")).toInt();
    job.user = object.value(QStringLiteral("user")).toString();
    job.solverId = object.value(QStringLiteral("solverId")).toString();
    job.projectName = object.value(QStringLiteral("projectName")).toString();
    job.archiveName = object.value(QStringLiteral("archiveName")).toString();
    job.commandLine = object.value(QStringLiteral("commandLine")).toString();
    job.slowQueue = object.value(QStringLiteral("slowQueue")).toBool();
    job.step = object.value(QStringLiteral("step")).toInt();
    job.totalSteps = object.value(QStringLiteral("totalSteps")).toInt();
    job.messages.clear();
    const QJsonArray messages = object.value(QStringLiteral("messages")).toArray();
    for (const auto &message : messages)
        job.messages.append(message.toString());
    job.resultName = object.value(QStringLiteral("resultName")).toString();
    job.waitOneTick = false;
    return job.number > 0 && !job.user.isEmpty() && !job.archiveName.isEmpty()
        && stateFromName(object.value(QStringLiteral("state")).toString(), job.state);
}

} // namespace DevServer
