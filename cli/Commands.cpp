#include "Commands.h"

#include "ExitCode.h"
#include "JobListOutput.h"
#include "JobWaiter.h"
#include "Session.h"

#include "Translation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonObject>

#include "Terminal.h"

namespace Cli {

namespace {

constexpr double DefaultWatchSeconds = 2;
constexpr double DefaultPollSeconds = 5;

QStringList jobArguments(const Session &session)
{
    return session.parser().positionalArguments();
}

bool readSeconds(const QCommandLineParser &parser, const QString &option, double &seconds)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || value < 0) {
        Session::reportError(
            UsageError,
            tr("--%1 takes a number of seconds, not '%2'.").arg(option, parser.value(option)));
        return false;
    }
    seconds = value;
    return true;
}

int runSolvers(Session &session)
{
    if (const int code = session.open())
        return code;
    QStringList solvers;
    if (!session.connection().request(VLK::MT_SolverList, VLK::MT_SolverListReply))
        return session.reportFailure(tr("Cannot get the solver list"));
    if (!VLK::decodeStringList(session.connection().reply(), solvers))
        return Session::reportError(ConnectionFailed,
                                    tr("The server's solver list cannot be read (mismatching "
                                       "versions of server and client?)."));
    if (session.wantsJson())
        Session::printJson(QJsonArray::fromStringList(solvers));
    else
        Session::printText(solvers.isEmpty() ? QString()
                                             : solvers.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return Success;
}

void addJobsOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        { QStringLiteral("all"), tr("Include other users' jobs, which cannot be acted on.") },
        { QStringLiteral("status"), tr("Only jobs whose status begins with <text> (any case)."),
          QStringLiteral("text") },
        { QStringLiteral("watch"),
          tr("Redraw the list every <seconds> (default %1) until Ctrl+C.").arg(DefaultWatchSeconds),
          QStringLiteral("seconds") },
    });
}

QList<VLK::JobInfo> shownJobs(const QCommandLineParser &parser, const QList<VLK::JobInfo> &jobs)
{
    const bool all = parser.isSet(QStringLiteral("all"));
    const QString status = parser.value(QStringLiteral("status"));
    QList<VLK::JobInfo> shown;
    for (const VLK::JobInfo &job : jobs) {
        if ((all || job.accessible) && job.status.startsWith(status, Qt::CaseInsensitive))
            shown.append(job);
    }
    return shown;
}

int runJobs(Session &session)
{
    const QCommandLineParser &parser = session.parser();
    double watchSeconds = 0;
    if (!readSeconds(parser, QStringLiteral("watch"), watchSeconds))
        return UsageError;
    if (const int code = session.open())
        return code;
    const bool redraw = parser.isSet(QStringLiteral("watch")) && isTerminal(stdout);
    do {
        QList<VLK::JobInfo> jobs;
        if (const int code = parser.isSet(QStringLiteral("watch"))
                ? session.fetchJobsStayingConnected(jobs, QDeadlineTimer(QDeadlineTimer::Forever))
                : session.fetchJobs(jobs))
            return code;
        jobs = shownJobs(parser, jobs);
        if (session.wantsJson()) {
            Session::printJson(jobsAsJson(jobs));
            continue;
        }
        // A terminal shows the latest list in place; a pipe gets one list after another.
        QString heading;
        if (parser.isSet(QStringLiteral("watch")))
            heading = tr("%1  (every %2 s; Ctrl+C ends)\n\n")
                          .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
                          .arg(watchSeconds);
        Session::printText(
            (redraw ? QStringLiteral("\033[H\033[2J") : QString()) + heading + jobTable(jobs)
            + (parser.isSet(QStringLiteral("watch")) && !redraw ? QStringLiteral("\n")
                                                                : QString()));
    } while (parser.isSet(QStringLiteral("watch")) && session.pause(watchSeconds));
    return Success;
}

int runWait(Session &session)
{
    const QStringList paths = jobArguments(session);
    if (paths.isEmpty())
        return Session::reportError(UsageError, tr("Name the jobs to wait for by their paths."));
    double timeout = 0;
    double interval = DefaultPollSeconds;
    if (!readWaitOptions(session.parser(), timeout, interval))
        return UsageError;
    if (const int code = session.open())
        return code;
    JobWaiter waiter(session, paths, timeout, interval);
    const int code = waiter.run();
    if (code == Success || code == JobFailed || code == JobKilledOrGone) {
        if (session.wantsJson())
            Session::printJson(waiter.asJson());
        else
            Session::printText(waiter.summary());
        return waiter.reportUnprocessed(code);
    }
    return code;
}

struct JobAction
{
    int request;
    int reply;
    QString doing;
    QString refusalHint;
    QString done;
    QString doneText;
    QString verb;
};

int actOnJob(Session &session, const JobAction &action, const QString &path, QJsonArray &reports)
{
    if (!session.connection().request(action.request, path, action.reply))
        return session.reportFailure(action.doing.arg(path), action.refusalHint);
    if (session.wantsJson())
        reports.append(QJsonObject { { QStringLiteral("path"), path },
                                     { QStringLiteral("done"), action.done } });
    else
        Session::printText(action.doneText.arg(path) + QLatin1Char('\n'));
    return Success;
}

// Every job is asked for in turn, one refused job does not stop the others;
// the exit code is the highest of theirs.
int runJobAction(Session &session, const JobAction &action)
{
    QStringList paths;
    if (const int code = selectJobs(session, paths))
        return code;
    if (session.parser().isSet(QStringLiteral("dry-run"))) {
        for (const QString &path : qAsConst(paths))
            Session::printText(tr("Would %1 %2\n").arg(action.verb, path));
        return Success;
    }
    // A selection by status has logged in already.
    if (!selectsByStatus(session.parser())) {
        if (const int code = session.open())
            return code;
    }
    int worst = Success;
    QJsonArray reports;
    for (const QString &path : qAsConst(paths)) {
        const int code = actOnJob(session, action, path, reports);
        worst = qMax(worst, code);
        if (code != Success && code != RequestRefused)
            break;
    }
    printJobReports(session, reports);
    return worst;
}

int runKill(Session &session)
{
    return runJobAction(session,
                        { VLK::MT_KillJob, VLK::MT_KillJobOk, tr("Cannot kill job '%1'"),
                          tr("(Is it running, and yours?)"), QStringLiteral("killed"),
                          tr("Job %1 terminated (it may take a second to actually stop)."),
                          tr("kill") });
}

int runRemove(Session &session)
{
    return runJobAction(session,
                        { VLK::MT_RemoveJob, VLK::MT_RemoveJobOk, tr("Cannot remove job '%1'"),
                          tr("(Is it queued or finished, and yours? A running job must be "
                             "killed first.)"),
                          QStringLiteral("removed"), tr("Job %1 removed."), tr("remove") });
}

void addNoOptions(QCommandLineParser &) { }

void addWaitCommandOptions(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("JOB"), tr("The paths of the jobs to wait for."),
                                 QStringLiteral("JOB..."));
    addWaitOptions(parser);
}

} // namespace

void addWaitOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        { QStringLiteral("timeout"),
          tr("Give up after <seconds> (exit code 6); default: wait as long as it takes."),
          QStringLiteral("seconds") },
        { QStringLiteral("interval"),
          tr("Ask the server for the job list every <seconds> (default %1).")
              .arg(DefaultPollSeconds),
          QStringLiteral("seconds") },
    });
}

void addJobSelectionOptions(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("JOB"),
                                 tr("The jobs' paths, as 'calvaro jobs' shows them."),
                                 QStringLiteral("[JOB...]"));
    parser.addOptions({
        { QStringLiteral("status"),
          tr("Also every job of yours whose status begins with <text> (any case)."),
          QStringLiteral("text") },
        { QStringLiteral("all"), tr("Also every job of yours.") },
        { QStringLiteral("dry-run"), tr("Only list what would be done.") },
    });
}

bool selectsByStatus(const QCommandLineParser &parser)
{
    return parser.isSet(QStringLiteral("status")) || parser.isSet(QStringLiteral("all"));
}

bool selectsSeveral(const QCommandLineParser &parser)
{
    return parser.positionalArguments().size() > 1 || selectsByStatus(parser);
}

void printJobReports(const Session &session, const QJsonArray &reports)
{
    if (!session.wantsJson())
        return;
    if (selectsSeveral(session.parser()))
        Session::printJson(reports);
    else if (!reports.isEmpty())
        Session::printJson(reports.first());
}

int selectJobs(Session &session, QStringList &paths)
{
    const QCommandLineParser &parser = session.parser();
    paths = parser.positionalArguments();
    if (selectsByStatus(parser)) {
        QList<VLK::JobInfo> jobs;
        if (const int code = session.open())
            return code;
        if (const int code = session.fetchJobs(jobs))
            return code;
        const QString status = parser.value(QStringLiteral("status"));
        for (const VLK::JobInfo &job : qAsConst(jobs)) {
            if (job.accessible && job.status.startsWith(status, Qt::CaseInsensitive)
                && !paths.contains(job.path))
                paths << job.path;
        }
        return Success;
    }
    if (paths.isEmpty())
        return Session::reportError(
            UsageError, tr("Name the jobs by their paths, or select them with --status or --all."));
    return Success;
}

bool readWaitOptions(const QCommandLineParser &parser, double &timeout, double &interval)
{
    if (!readSeconds(parser, QStringLiteral("timeout"), timeout)
        || !readSeconds(parser, QStringLiteral("interval"), interval))
        return false;
    // A poll needs a moment; nobody means to hammer the server.
    interval = qMax(interval, 0.1);
    return true;
}

const QVector<Command> &commands()
{
    static const QVector<Command> table {
        { "solvers", "", QT_TRANSLATE_NOOP("calvaro", "List the server's solver IDs."),
          QT_TRANSLATE_NOOP("calvaro",
                            "Lists the IDs of the solvers the server offers, one a line."),
          addNoOptions, runSolvers },
        { "jobs", "", QT_TRANSLATE_NOOP("calvaro", "Show the job list."),
          QT_TRANSLATE_NOOP("calvaro",
                            "Shows the jobs as a table of user, solver, status, path and last\n"
                            "progress message. Without --all only the jobs you can act on."),
          addJobsOptions, runJobs },
        { "submit", "PROJECT_FILE|ARCHIVE",
          QT_TRANSLATE_NOOP("calvaro", "Pack and submit a project as a new job."),
          QT_TRANSLATE_NOOP(
              "calvaro",
              "Submits a project as a new job and prints the new job's path.\n"
              "A project file's folder is packed first, as the window packs it:\n"
              "'7z a -r -mx7 -tzip FOLDER.zip FOLDER', run beside the folder; the archive\n"
              "is left there. A .zip, .pkga or .pkgb file is sent as it is (the project\n"
              "file is then named after it: run1.pkga holds run1.prja).\n"
              "The new job is found by comparing the job list before and after the\n"
              "submission. When that does not single it out (another submission of yours\n"
              "in the same moment), no path is printed and the exit code is 5."),
          addSubmitOptions, runSubmit },
        { "wait", "JOB...", QT_TRANSLATE_NOOP("calvaro", "Wait until jobs are finished."),
          QT_TRANSLATE_NOOP(
              "calvaro",
              "Polls the job list until every job named is finished, and ends on failure\n"
              "as on success. A status beginning with Queued or Running is not finished;\n"
              "Processed is success (exit code 0), Killed or a job gone from the list\n"
              "gives 5, any other status 4. With several jobs the higher code wins."),
          addWaitCommandOptions, runWait },
        { "download", "[JOB...]", QT_TRANSLATE_NOOP("calvaro", "Download jobs' results."),
          QT_TRANSLATE_NOOP(
              "calvaro",
              "Downloads the result of a processed job. The bytes go to a temporary file\n"
              "beside the target as they arrive; it takes the target's name only once\n"
              "complete, so an existing file is either kept or replaced whole. Prints the\n"
              "file's path, and says on stderr where the result was saved.\n"
              "Several jobs (named, or selected with --status or --all) go into the folder\n"
              "named with -o, one after another, each under its job's folder name; a name\n"
              "that another job took is never written over. A refused job does not stop\n"
              "the others; the highest exit code wins."),
          addDownloadOptions, runDownload },
        { "kill", "[JOB...]", QT_TRANSLATE_NOOP("calvaro", "Kill running jobs."),
          QT_TRANSLATE_NOOP("calvaro",
                            "Kills running jobs of yours, one after another. A refused job\n"
                            "does not stop the others; the highest exit code wins."),
          addJobSelectionOptions, runKill },
        { "remove", "[JOB...]", QT_TRANSLATE_NOOP("calvaro", "Remove queued or finished jobs."),
          QT_TRANSLATE_NOOP("calvaro",
                            "Removes queued or finished jobs of yours from the server, one after\n"
                            "another. A refused job does not stop the others; the highest exit\n"
                            "code wins."),
          addJobSelectionOptions, runRemove },
        { "history", "", QT_TRANSLATE_NOOP("calvaro", "List the jobs of the job journal."),
          QT_TRANSLATE_NOOP(
              "calvaro",
              "Lists every job that the window or calvaro submitted from this account, from\n"
              "the job journal: when it was submitted, the status last seen, its path, its\n"
              "command line and where its result was stored."),
          addNoOptions, runHistory },
        { "sync", "", QT_TRANSLATE_NOOP("calvaro", "Download every result not yet on disk."),
          QT_TRANSLATE_NOOP(
              "calvaro",
              "Downloads the result of every job of the journal (this server and user) that\n"
              "offers one and is not yet on disk, into the results folder beside its\n"
              "project: PROJECT_FOLDER/results/JOB_FOLDER_RESULT_FILE (the setting PathPattern\n"
              "of the group Results places it elsewhere; see the README). Each result goes to a\n"
              "temporary file first and takes its name only once complete and of the\n"
              "announced size; its size and SHA-256 are then recorded. A job is claimed\n"
              "before its download, so that two programs never fetch the same one; an\n"
              "existing file of another job is never replaced, and no job is removed.\n"
              "Prints one line per stored result. Exit code 0, or 4 if a job failed or its\n"
              "result could not be stored. --auto on|off only switches the window's own\n"
              "automatic download (on by default) and exits."),
          addSyncOptions, runSync },
        { "resubmit", "JOB", QT_TRANSLATE_NOOP("calvaro", "Submit a journalled job again."),
          QT_TRANSLATE_NOOP(
              "calvaro",
              "Submits a job of the journal again with the same archive, solver, command\n"
              "line and queue; the project is packed again when the archive is gone.\n"
              "Prints the new job's path."),
          addResubmitOptions, runResubmit },
    };
    return table;
}

} // namespace Cli
