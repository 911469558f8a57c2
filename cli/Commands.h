#pragma once

#include <QVector>

class QCommandLineParser;

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

// --timeout and --interval, shared by wait and submit.
void addWaitOptions(QCommandLineParser &parser);
// The two numbers of addWaitOptions; false after saying what is wrong.
bool readWaitOptions(const QCommandLineParser &parser, double &timeout, double &interval);

} // namespace Cli
