#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

namespace DevServer {

class JobStore;
class ResultPacker;
struct Job;

struct ScheduleSettings
{
    int tickMs = 1000;
    int steps = 5; // a job of the slow queue takes twice as many
    int fastSlots = 2;
    int slowSlots = 1;
    // Bytes of a generated result in place of the zip of the job's files; 0
    // for the zip.
    qint64 resultSize = 0;
};

// Plays the solver: on every tick it moves running jobs one step on, starts
// queued jobs as their queue has room, and packs the results of jobs whose
// last step is done.
class JobScheduler final : public QObject
{
    Q_OBJECT

public:
    JobScheduler(JobStore &store, const ScheduleSettings &settings, QObject *parent = nullptr);

    void start();
    // False unless the job is running.
    bool kill(int jobNumber);

private:
    void tick();
    bool startQueuedJobs();
    void startJob(Job &job);
    void advance(Job &job);
    void beginPacking(Job &job);
    void onPacked(int jobNumber, bool ok, const QString &error);
    static void fail(Job &job, const QString &message);

    JobStore &m_store;
    ScheduleSettings m_settings;
    QTimer m_timer;
    QHash<int, ResultPacker *> m_packers;
};

} // namespace DevServer
