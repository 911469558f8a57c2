#include "JobStore.h"

#include "Upload.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <cstdio>

namespace DevServer {

namespace {

const char indexFileName[] = "index.json";
const char jobsFolder[] = "jobs";
const char uploadsFolder[] = "uploads";
const char inputFolder[] = "input";
const char logFileName[] = "solver.log";

// The last part of a path as a client on any platform may write it.
QString lastPathPart(const QString &path)
{
    static const QRegularExpression separator(QStringLiteral("[/\\\\]"));
    return path.section(separator, -1);
}

// File names from the network become files on disk: only harmless characters survive.
QString safeFileName(const QString &name, const QString &fallback)
{
    QString safe = lastPathPart(name);
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    safe.replace(unsafe, QStringLiteral("_"));
    if (safe.isEmpty() || safe.startsWith(QLatin1Char('.')))
        return fallback;
    return safe;
}

// The project file only appears in the job path, never on disk; it just must
// not break a job line.
QString projectNameFor(const VLK::JobHeader &header)
{
    QString name = lastPathPart(header.projectFile).trimmed();
    static const QRegularExpression controlCharacters(QStringLiteral("[\\x00-\\x1f]"));
    name.remove(controlCharacters);
    return name.isEmpty() ? QStringLiteral("project") : name;
}

} // namespace

bool JobStore::open(const QString &dataDirectory, QString &error)
{
    m_directory = QDir(dataDirectory).absolutePath();
    QDir dir(m_directory);
    if (!dir.mkpath(QLatin1String(jobsFolder)) || !dir.mkpath(QLatin1String(uploadsFolder))) {
        error = QStringLiteral("cannot create the data directory %1").arg(m_directory);
        return false;
    }
    if (!load(error))
        return false;
    removeStrayFiles();
    save();
    return true;
}

bool JobStore::load(QString &error)
{
    QFile file(indexPath());
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        error = QStringLiteral("%1 is not a job index (%2); move it away to start afresh")
                    .arg(file.fileName(), parseError.errorString());
        return false;
    }
    const QJsonObject root = document.object();
    m_nextNumber = qMax(1, root.value(QStringLiteral("nextJobNumber")).toInt());
    const QJsonArray entries = root.value(QStringLiteral("jobs")).toArray();
    for (const auto &entry : entries) {
        Job job;
        if (!Job::fromJson(entry.toObject(), job)) {
            std::fprintf(stderr, "calvaro-devserver: skipping a damaged entry of %s\n",
                         qPrintable(file.fileName()));
            continue;
        }
        if (job.isActive()) {
            job.state = JobState::Queued;
            job.step = 0;
            job.messages.append(QStringLiteral("Server restarted, job queued again"));
        }
        m_jobs.insert(job.number, job);
        m_nextNumber = qMax(m_nextNumber, job.number + 1);
    }
    return true;
}

void JobStore::removeStrayFiles() const
{
    QDir(m_directory + QLatin1Char('/') + QLatin1String(uploadsFolder)).removeRecursively();
    QDir(m_directory).mkpath(QLatin1String(uploadsFolder));

    QDir jobs(m_directory + QLatin1Char('/') + QLatin1String(jobsFolder));
    const QStringList folders = jobs.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QSet<QString> known;
    for (const Job &job : m_jobs)
        known.insert(job.folderName());
    for (const QString &folder : folders) {
        if (!known.contains(folder))
            QDir(jobs.filePath(folder)).removeRecursively();
    }
}

Job *JobStore::find(int number)
{
    const auto it = m_jobs.find(number);
    return it == m_jobs.end() ? nullptr : &it.value();
}

Job *JobStore::findByPath(const QString &path)
{
    for (Job &job : m_jobs) {
        if (job.path() == path)
            return &job;
    }
    return nullptr;
}

std::unique_ptr<Upload> JobStore::newUpload() const
{
    return std::make_unique<Upload>(uploadDirectory());
}

const Job *JobStore::add(const QString &user, const VLK::JobHeader &header, Upload &upload,
                         QString &error)
{
    Job job;
    job.number = m_nextNumber;
    job.user = user;
    job.solverId = header.solverId;
    job.projectName = projectNameFor(header);
    job.archiveName = safeFileName(header.zipFileName, QStringLiteral("project.zip"));
    job.commandLine = header.commandLine;
    job.slowQueue = header.slowQueue != 0;
    job.waitOneTick = true;

    if (!QDir().mkpath(jobDirectory(job) + QLatin1Char('/') + QLatin1String(inputFolder))) {
        error = QStringLiteral("cannot create %1").arg(jobDirectory(job));
        return nullptr;
    }
    if (!upload.moveTo(archivePath(job))) {
        error = QStringLiteral("cannot store the archive: %1").arg(upload.errorString());
        QDir(jobDirectory(job)).removeRecursively();
        return nullptr;
    }
    ++m_nextNumber;
    const auto it = m_jobs.insert(job.number, job);
    save();
    return &it.value();
}

void JobStore::remove(int number)
{
    const auto it = m_jobs.constFind(number);
    if (it == m_jobs.constEnd())
        return;
    const QString directory = jobDirectory(it.value());
    m_jobs.remove(number);
    save();
    QDir(directory).removeRecursively();
}

void JobStore::save()
{
    QJsonArray entries;
    for (const Job &job : qAsConst(m_jobs))
        entries.append(job.toJson());
    QJsonObject root;
    root.insert(QStringLiteral("nextJobNumber"), m_nextNumber);
    root.insert(QStringLiteral("jobs"), entries);

    QSaveFile file(indexPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0
        || !file.commit()) {
        std::fprintf(stderr, "calvaro-devserver: cannot write %s: %s\n", qPrintable(indexPath()),
                     qPrintable(file.errorString()));
    }
}

QString JobStore::jobDirectory(const Job &job) const
{
    return m_directory + QLatin1Char('/') + QLatin1String(jobsFolder) + QLatin1Char('/')
        + job.folderName();
}

QString JobStore::archiveEntry(const Job &job)
{
    return QLatin1String(inputFolder) + QLatin1Char('/') + job.archiveName;
}

QString JobStore::archivePath(const Job &job) const
{
    return jobDirectory(job) + QLatin1Char('/') + archiveEntry(job);
}

QString JobStore::resultPath(const Job &job) const
{
    return jobDirectory(job) + QLatin1Char('/') + job.resultName;
}

QString JobStore::logPath(const Job &job) const
{
    return jobDirectory(job) + QLatin1Char('/') + QLatin1String(logFileName);
}

QString JobStore::indexPath() const
{
    return m_directory + QLatin1Char('/') + QLatin1String(indexFileName);
}

QString JobStore::uploadDirectory() const
{
    return m_directory + QLatin1Char('/') + QLatin1String(uploadsFolder);
}

} // namespace DevServer
