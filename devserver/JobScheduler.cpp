#include "JobScheduler.h"

#include "JobStore.h"
#include "ResultPacker.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace DevServer {

namespace {

const char *const phases[]
    = { "Reading input", "Meshing", "Assembling system", "Solving", "Writing results" };
constexpr int phaseCount = int(sizeof phases / sizeof phases[0]);

// Asking for a failure on the command line makes the solver stop halfway.
const char failSwitch[] = "--fail";

bool isZipArchive(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray magic = file.read(4);
    return magic == QByteArray("PK\x03\x04", 4) || magic == QByteArray("PK\x05\x06", 4);
}

QString solverLog(const Job &job)
{
    QString log;
    QTextStream out(&log);
    out << "Job:          " << job.path() << '\n'
        << "Solver:       " << job.solverId << '\n'
        << "Command line: " << job.commandLine << '\n'
        << "Queue:        " << (job.slowQueue ? "slow" : "fast") << "\n\n";
    for (const QString &message : job.messages)
        out << message << '\n';
    return log;
}

} // namespace

JobScheduler::JobScheduler(JobStore &store, const ScheduleSettings &settings, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_settings(settings)
{
    m_timer.setInterval(settings.tickMs);
    connect(&m_timer, &QTimer::timeout, this, &JobScheduler::tick);
}

void JobScheduler::start()
{
    m_timer.start();
}

bool JobScheduler::kill(int jobNumber)
{
    Job *job = m_store.find(jobNumber);
    if (!job || !job->isActive())
        return false;
    delete m_packers.take(jobNumber);
    job->state = JobState::Killed;
    job->messages.append(QStringLiteral("Killed on request"));
    m_store.save();
    return true;
}

void JobScheduler::tick()
{
    bool changed = false;
    for (Job &job : m_store.jobs()) {
        if (job.state == JobState::Running) {
            advance(job);
            changed = true;
        }
    }
    if (startQueuedJobs() || changed)
        m_store.save();
}

bool JobScheduler::startQueuedJobs()
{
    int busyFast = 0;
    int busySlow = 0;
    for (const Job &job : qAsConst(m_store.jobs())) {
        if (job.isActive())
            ++(job.slowQueue ? busySlow : busyFast);
    }
    bool started = false;
    for (Job &job : m_store.jobs()) {
        if (job.state != JobState::Queued)
            continue;
        if (job.waitOneTick) {
            job.waitOneTick = false;
            continue;
        }
        int &busy = job.slowQueue ? busySlow : busyFast;
        if (busy >= (job.slowQueue ? m_settings.slowSlots : m_settings.fastSlots))
            continue;
        ++busy;
        startJob(job);
        started = true;
    }
    return started;
}

void JobScheduler::startJob(Job &job)
{
    const QString archive = m_store.archivePath(job);
    if (!QFileInfo::exists(archive)) {
        fail(job, QStringLiteral("Input archive is missing"));
        return;
    }
    if (!isZipArchive(archive)) {
        fail(job, QStringLiteral("Input archive %1 is not a zip file").arg(job.archiveName));
        return;
    }
    job.state = JobState::Running;
    job.totalSteps = job.slowQueue ? 2 * m_settings.steps : m_settings.steps;
    job.step = 0;
    job.messages.append(
        QStringLiteral("Solver %1 started on %2").arg(job.solverId, job.projectName));
    advance(job);
}

void JobScheduler::advance(Job &job)
{
    if (job.step >= job.totalSteps) {
        beginPacking(job);
        return;
    }
    ++job.step;
    if (job.commandLine.contains(QLatin1String(failSwitch)) && job.step > job.totalSteps / 2) {
        fail(job,
             QStringLiteral("Solver stopped at step %1/%2 with exit code 1")
                 .arg(job.step)
                 .arg(job.totalSteps));
        return;
    }
    const int phase = (job.step - 1) * phaseCount / job.totalSteps;
    job.messages.append(QStringLiteral("Step %1/%2: %3")
                            .arg(job.step)
                            .arg(job.totalSteps)
                            .arg(QLatin1String(phases[phase])));
}

void JobScheduler::beginPacking(Job &job)
{
    job.state = JobState::Packing;
    const bool generated = m_settings.resultSize > 0;
    job.resultName = job.folderName()
        + (generated ? QStringLiteral("_results.bin") : QStringLiteral("_results.zip"));
    job.messages.append(QStringLiteral("Packing results"));

    QFile log(m_store.logPath(job));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || log.write(solverLog(job).toUtf8()) < 0) {
        fail(job, QStringLiteral("Cannot write the solver log: %1").arg(log.errorString()));
        return;
    }
    log.close();

    auto *packer = new ResultPacker(this);
    m_packers.insert(job.number, packer);
    const int number = job.number;
    connect(packer, &ResultPacker::finished, this,
            [this, number](bool ok, const QString &error) { onPacked(number, ok, error); });
    if (generated)
        packer->generate(m_store.jobDirectory(job), job.resultName, m_settings.resultSize);
    else
        packer->start(m_store.jobDirectory(job), job.resultName,
                      { JobStore::archiveEntry(job), QFileInfo(log.fileName()).fileName() });
}

void JobScheduler::onPacked(int jobNumber, bool ok, const QString &error)
{
    ResultPacker *packer = m_packers.take(jobNumber);
    if (packer)
        packer->deleteLater();
    Job *job = m_store.find(jobNumber);
    if (!job || job->state != JobState::Packing)
        return;
    if (ok) {
        job->state = JobState::Processed;
        job->messages.append(QStringLiteral("Ready for download: ") + job->resultName);
    } else {
        fail(*job, QStringLiteral("Packing the results failed: ") + error);
    }
    m_store.save();
}

void JobScheduler::fail(Job &job, const QString &message)
{
    job.state = JobState::Failed;
    job.messages.append(message);
}

} // namespace DevServer
