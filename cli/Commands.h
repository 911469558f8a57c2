#pragma once

#include <QStringList>
#include <QVector>

class QCommandLineParser;
class QJsonArray;

namespace Cli {

class Session;

// One command of the program: its name, what it takes, what it does (texts
// translated when shown), its own options, and the run that returns the exit code.
struct Command
{
    const char *name;
    const char *arguments;
    const char *summary;
    const char *description;
    void (*addOptions)(QCommandLineParser &parser);
    int (*run)(Session &session);
};

const QVector<Command> &commands();

// The commands that move files: submit (with its wait and download) and download.
int runSubmit(Session &session);
int runDownload(Session &session);
void addSubmitOptions(QCommandLineParser &parser);
void addDownloadOptions(QCommandLineParser &parser);
// The journal's commands: history, sync and resubmit.
int runHistory(Session &session);
int runSync(Session &session);
int runResubmit(Session &session);
void addSyncOptions(QCommandLineParser &parser);
void addResubmitOptions(QCommandLineParser &parser);

// Kill, remove and download act on the same jobs: those named by their paths,
// then those that --status or --all select among the user's own (--dry-run
// only lists what would be done).
void addJobSelectionOptions(QCommandLineParser &parser);
bool selectsByStatus(const QCommandLineParser &parser);
// More than one job named, or a selection by status: what is done is then
// reported per job, as one JSON array.
bool selectsSeveral(const QCommandLineParser &parser);
// The selected paths; 0, or the exit code after saying what is wrong. A
// selection by status leaves the session logged in.
int selectJobs(Session &session, QStringList &paths);

// With --json: the one document of the jobs acted on, an array when several
// were selected, else the one job's object (nothing when it failed).
void printJobReports(const Session &session, const QJsonArray &reports);

// --timeout and --interval, shared by wait and submit.
void addWaitOptions(QCommandLineParser &parser);
// The two numbers of addWaitOptions; false after saying what is wrong.
bool readWaitOptions(const QCommandLineParser &parser, double &timeout, double &interval);

} // namespace Cli
