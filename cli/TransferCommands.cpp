#include "ArchivePacker.h"
#include "Commands.h"
#include "DownloadTarget.h"
#include "ExitCode.h"
#include "InterruptWatcher.h"
#include "JobWaiter.h"
#include "ProgressMeter.h"
#include "Session.h"
#include "StatusLine.h"

#include "journal/JobJournal.h"
#include "journal/SubmissionRecord.h"
#include "protocol/JobRules.h"
#include "protocol/ProjectArchive.h"

#include "Translation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace Cli {

namespace {

// What the submission sends: an archive, and the project file it holds.
struct Submission
{
    QString archivePath;
    QString projectFile;
    // The project file that was packed, absolute; empty for an archive.
    QString localProjectFile;
};

bool isArchive(const QString &path)
{
    static const QStringList suffixes { QStringLiteral("zip"), QStringLiteral("pkga"),
                                        QStringLiteral("pkgb") };
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

int prepareSubmission(Session &session, const QString &path, Submission &submission)
{
    if (!QFileInfo(path).isFile())
        return Session::reportError(
            LocalFileError, tr("'%1' is not a file: name a project file or an archive.").arg(path));
    if (isArchive(path)) {
        submission.archivePath = path;
        submission.projectFile = VLK::ProjectArchive::projectFileForArchive(path);
        return Success;
    }
    const VLK::ProjectArchive archive(path);
    ArchivePacker packer(session.interrupts());
    QString error;
    if (!packer.pack(archive, error))
        return Session::reportError(packer.wasInterrupted() ? Interrupted : LocalFileError, error);
    submission.archivePath = archive.archivePath();
    submission.projectFile = archive.relativeProjectFile();
    submission.localProjectFile = QFileInfo(path).absoluteFilePath();
    return Success;
}

// The one job of ours that the submission added, or an explained exit code.
int findNewJob(Session &session, const QSet<QString> &before, QString &path)
{
    QList<VLK::JobInfo> after;
    if (const int code = session.fetchJobs(after))
        return code;
    const QStringList added
        = VLK::SubmissionRecord::addedJobPaths(before, VLK::SubmissionRecord::ownJobPaths(after));
    if (added.size() == 1) {
        path = added.constFirst();
        return Success;
    }
    if (added.isEmpty())
        return Session::reportError(JobKilledOrGone,
                                    tr("The server accepted the job, but no new job of yours is "
                                       "in its job list; see 'calvaro jobs'."));
    return Session::reportError(JobKilledOrGone,
                                tr("The server accepted the job, but several new jobs of yours "
                                   "appeared at the same time, so it cannot be told which is "
                                   "this one:\n%1")
                                    .arg(added.join(QLatin1Char('\n'))));
}

// Submits the job over the open connection, finds its path and records it in the journal at once,
// so that a sync started in the next moment knows it.
int submitAndRecord(Session &session, const Submission &submission, const VLK::JobHeader &job,
                    QString &path)
{
    QList<VLK::JobInfo> before;
    if (const int code = session.fetchJobs(before))
        return code;
    {
        ProgressMeter meter(tr("Uploading %1").arg(QFileInfo(submission.archivePath).fileName()));
        if (!session.connection().submitJob(submission.archivePath, job, &meter))
            return session.reportFailure(
                tr("Cannot submit '%1'").arg(submission.archivePath),
                tr("(Is '%1' one of the server's solvers? See 'calvaro solvers'.)")
                    .arg(job.solverId));
    }
    if (const int code = findNewJob(session, VLK::SubmissionRecord::ownJobPaths(before), path))
        return code;

    // The job runs whether or not it can be recorded: say so, and go on.
    VLK::JobJournal journal;
    if (!journal.open()
        || !VLK::SubmissionRecord(submission.archivePath, submission.localProjectFile, job)
                .record(journal, session.journalKey(path)))
        Session::reportError(Success,
                             tr("Job %1 was submitted but not recorded in the job journal: %2")
                                 .arg(path, journal.errorText()));
    return Success;
}

// The name a job's result gets by default: the job's folder name, with the
// extension of the result that the job's last message offers. A job missing
// from the list gets the name all the same; its download then says why it failed.
QString defaultResultFileName(const QList<VLK::JobInfo> &jobs, const QString &jobPath)
{
    const auto listed = std::find_if(jobs.cbegin(), jobs.cend(),
                                     [&](const VLK::JobInfo &job) { return job.path == jobPath; });
    const QString folder = QFileInfo(QFileInfo(jobPath).path()).fileName();
    return VLK::JobRules::resultFileName(
        folder.isEmpty() || folder == QLatin1String(".") ? QStringLiteral("result") : folder,
        listed == jobs.cend() ? QString() : listed->progressMsg);
}

int downloadResult(Session &session, const QString &jobPath, const QString &file, bool force)
{
    DownloadTarget target(file);
    QString error;
    if (!target.open(force, error))
        return Session::reportError(LocalFileError, error);
    ProgressMeter meter(tr("Downloading"));
    QObject::connect(&session.connection(), &VLK::ServerConnection::replyProgress,
                     [&meter](qint64 soFar, qint64 total) { meter.show(soFar, total); });
    const bool received = session.connection().download(jobPath, target.device());
    QObject::disconnect(&session.connection(), &VLK::ServerConnection::replyProgress, nullptr,
                        nullptr);
    meter.finish();
    if (!received)
        return session.reportFailure(tr("Cannot download the result of job '%1'").arg(jobPath),
                                     tr("(Is it processed, and yours?)"));
    if (!target.commit(error))
        return Session::reportError(LocalFileError, error);
    Session::printMessage(
        tr("Result of job %1 saved to %2").arg(jobPath, QDir::toNativeSeparators(file)));
    return Success;
}

// The folder of several results: made when it is missing (unless only
// listing), refused when a file holds its name.
bool prepareResultFolder(const QString &folder, bool create, QString &error)
{
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        error = tr("'%1' is not a folder; several results go into the folder named with -o.")
                    .arg(folder);
        return false;
    }
    if (create && !info.exists() && !QDir().mkpath(folder)) {
        error = tr("Cannot make the folder '%1'.").arg(folder);
        return false;
    }
    return true;
}

// Where the results of one download command go.
struct ResultTargets
{
    // Several jobs: into the folder output, each under its default name.
    bool several = false;
    bool named = false;
    QString output;
    // The job list that the default names are taken from.
    QList<VLK::JobInfo> jobs;

    QString fileFor(const QString &jobPath) const
    {
        if (several)
            return QDir(output).filePath(defaultResultFileName(jobs, jobPath));
        return named ? output : defaultResultFileName(jobs, jobPath);
    }
};

void reportStored(const Session &session, const QString &jobPath, const QString &file,
                  QJsonArray &reports)
{
    if (session.wantsJson())
        reports.append(QJsonObject { { QStringLiteral("path"), jobPath },
                                     { QStringLiteral("file"), file },
                                     { QStringLiteral("bytes"), double(QFileInfo(file).size()) } });
    else
        Session::printText(file + QLatin1Char('\n'));
}

// One job after another; a refused job or a file that cannot be written
// leaves the connection as it was, so the others go on. The exit code is the
// highest of theirs.
int downloadEach(Session &session, const QStringList &paths, const ResultTargets &targets,
                 bool force)
{
    const bool dryRun = session.parser().isSet(QStringLiteral("dry-run"));
    // Two jobs of the same folder name would be stored under one name: the
    // second is refused rather than written over the first.
    QHash<QString, QString> jobOfFile;
    QJsonArray reports;
    int worst = Success;
    for (const QString &jobPath : paths) {
        const QString file = targets.fileFor(jobPath);
        int code = Success;
        if (jobOfFile.contains(file)) {
            code = Session::reportError(
                LocalFileError,
                tr("'%1' is the result of job %2; the result of job %3 is not stored.")
                    .arg(QDir::toNativeSeparators(file), jobOfFile.value(file), jobPath));
        } else if (dryRun) {
            Session::printText(
                tr("Would download %1 into %2\n").arg(jobPath, QDir::toNativeSeparators(file)));
        } else {
            code = downloadResult(session, jobPath, file, force);
            if (code == Success)
                reportStored(session, jobPath, file, reports);
        }
        jobOfFile.insert(file, jobPath);
        worst = qMax(worst, code);
        if (code != Success && code != RequestRefused && code != LocalFileError)
            break;
    }
    printJobReports(session, reports);
    return worst;
}

} // namespace

void addSubmitOptions(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("PROJECT_FILE|ARCHIVE"),
                                 tr("A project file (its folder is packed) or an archive."));
    parser.addOptions({
        { QStringLiteral("solver"), tr("The solver to run the job (see 'calvaro solvers')."),
          QStringLiteral("id") },
        { QStringLiteral("command-line"), tr("The solver command line (default: empty)."),
          QStringLiteral("text") },
        { QStringLiteral("queue"), tr("fast (max. 30 min, the default) or slow."),
          QStringLiteral("fast|slow"), QStringLiteral("fast") },
        { QStringLiteral("wait"), tr("Wait until the job is finished (exit code 0, 4 or 5).") },
        { QStringLiteral("download"),
          tr("Wait, then download the result into <file> (implies --wait)."),
          QStringLiteral("file") },
        { QStringLiteral("force"), tr("Let --download replace an existing file.") },
    });
    addWaitOptions(parser);
}

int runSubmit(Session &session)
{
    const QCommandLineParser &parser = session.parser();
    const QStringList arguments = parser.positionalArguments();
    const QString queue = parser.value(QStringLiteral("queue"));
    if (arguments.size() != 1 || !parser.isSet(QStringLiteral("solver"))
        || (queue != QLatin1String("fast") && queue != QLatin1String("slow")))
        return Session::reportError(UsageError,
                                    tr("Usage: calvaro submit PROJECT_FILE|ARCHIVE --solver ID "
                                       "[--queue fast|slow]; see 'calvaro help submit'."));
    double timeout = 0;
    double interval = 5;
    if (!readWaitOptions(parser, timeout, interval))
        return UsageError;
    const QString resultFile = parser.value(QStringLiteral("download"));
    const bool force = parser.isSet(QStringLiteral("force"));
    QString error;
    if (!resultFile.isEmpty() && !DownloadTarget(resultFile).check(force, error))
        return Session::reportError(LocalFileError, error);

    Submission submission;
    if (const int code = prepareSubmission(session, arguments.constFirst(), submission))
        return code;
    VLK::JobHeader job;
    job.solverId = parser.value(QStringLiteral("solver"));
    job.projectFile = submission.projectFile;
    job.commandLine = parser.value(QStringLiteral("command-line"));
    job.slowQueue = queue == QLatin1String("slow") ? 1 : 0;
    if (const int code = session.open())
        return code;
    QString path;
    if (const int code = submitAndRecord(session, submission, job, path))
        return code;

    QJsonObject result { { QStringLiteral("path"), path },
                         { QStringLiteral("archive"), submission.archivePath },
                         { QStringLiteral("projectFile"), submission.projectFile } };
    if (!session.wantsJson())
        Session::printText(path + QLatin1Char('\n'));
    int code = Success;
    if (parser.isSet(QStringLiteral("wait")) || !resultFile.isEmpty()) {
        JobWaiter waiter(session, { path }, timeout, interval);
        StatusLine statusLine;
        waiter.showStatusOn(statusLine);
        code = waiter.run();
        result.insert(QStringLiteral("status"), waiter.jobs().constFirst().status);
        if (code == JobFailed || code == JobKilledOrGone)
            waiter.reportUnprocessed(code);
    }
    if (code == Success && !resultFile.isEmpty()) {
        code = downloadResult(session, path, resultFile, force);
        if (code == Success)
            result.insert(QStringLiteral("download"), resultFile);
    }
    if (session.wantsJson())
        Session::printJson(result);
    return code;
}

void addResubmitOptions(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("JOB"),
                                 tr("The path of a job of the journal (see 'calvaro history')."));
}

int runResubmit(Session &session)
{
    const QStringList arguments = session.parser().positionalArguments();
    if (arguments.size() != 1)
        return Session::reportError(
            UsageError, tr("Name exactly one job by its path (see 'calvaro history')."));
    VLK::JobJournal journal;
    if (!journal.open())
        return Session::reportError(LocalFileError, journal.errorText());
    if (const int code = session.open())
        return code;
    VLK::JournalEntry entry;
    if (!journal.find(session.journalKey(arguments.constFirst()), entry))
        return Session::reportError(
            UsageError,
            tr("Job '%1' of this server and user is not in the job journal; see "
               "'calvaro history'.")
                .arg(arguments.constFirst()));
    // The same archive where it is still there, else the project packed again.
    Submission submission;
    const bool archiveKept = QFileInfo(entry.archive).isFile();
    if (const int code = prepareSubmission(
            session, archiveKept || entry.projectFile.isEmpty() ? entry.archive : entry.projectFile,
            submission))
        return code;
    if (archiveKept && QFileInfo(entry.projectFile).isAbsolute()) {
        submission.localProjectFile = entry.projectFile;
        submission.projectFile = VLK::ProjectArchive(entry.projectFile).relativeProjectFile();
    }
    VLK::JobHeader job;
    job.solverId = entry.solver;
    job.projectFile = submission.projectFile;
    job.commandLine = entry.commandLine;
    job.slowQueue = entry.queue == QLatin1String("slow") ? 1 : 0;
    QString path;
    if (const int code = submitAndRecord(session, submission, job, path))
        return code;
    if (session.wantsJson())
        Session::printJson(QJsonObject { { QStringLiteral("path"), path },
                                         { QStringLiteral("resubmitted"), entry.key.jobPath } });
    else
        Session::printText(path + QLatin1Char('\n'));
    return Success;
}

void addDownloadOptions(QCommandLineParser &parser)
{
    addJobSelectionOptions(parser);
    parser.addOptions({
        { { QStringLiteral("o"), QStringLiteral("output") },
          tr("Write the result into <file> (default: the job's folder name, here, with the "
             "extension of the result that the job offers, else .7z). With several jobs, "
             "--status or --all: the folder that takes each result under that name."),
          QStringLiteral("file|folder") },
        { QStringLiteral("force"), tr("Replace an existing file.") },
    });
}

int runDownload(Session &session)
{
    const QCommandLineParser &parser = session.parser();
    ResultTargets targets;
    targets.several = selectsSeveral(parser);
    targets.named = parser.isSet(QStringLiteral("output"));
    targets.output = parser.value(QStringLiteral("output"));
    const bool force = parser.isSet(QStringLiteral("force"));
    if (targets.several && !targets.named)
        return Session::reportError(UsageError,
                                    tr("Several jobs are downloaded into a folder: name it with "
                                       "-o FOLDER."));
    // What is named here is checked before connecting; the files named after
    // the jobs are checked as they are opened.
    QString error;
    if (targets.several
            ? !prepareResultFolder(targets.output, !parser.isSet(QStringLiteral("dry-run")), error)
            : targets.named && !DownloadTarget(targets.output).check(force, error))
        return Session::reportError(LocalFileError, error);
    QStringList paths;
    if (const int code = selectJobs(session, paths))
        return code;
    if (!selectsByStatus(parser)) {
        if (const int code = session.open())
            return code;
    }
    if (targets.several || !targets.named) {
        if (const int code = session.fetchJobs(targets.jobs))
            return code;
    }
    return downloadEach(session, paths, targets, force);
}

} // namespace Cli
