#pragma once

#include <QStringList>

namespace Bench {

// Child modes over the job journal, against the stand-in server as a process
// on loopback and calvaro as the programs a user runs. Each prints one result
// line.

// Arguments: jobs, result bytes per job, runs. The jobs are submitted and
// processed once; then, runs times in turn, `calvaro sync` fetches every
// result into the results folder (the journal set back to "nothing stored"
// before each run) and a shell loop fetches the same results with one
// `calvaro download` per job. Reports the seconds of every run of both.
int runJournalSync(const QStringList &arguments);

// Arguments: jobs, result bytes per job, kills. `calvaro sync` is killed with
// SIGKILL at random moments, kills times at most, and started again until a
// run ends by itself. Reports whether every result is on disk once and byte
// for byte the server's, and how many downloads the server saw against the
// most that are allowed (one per job, one more per cut download).
int runJournalKilledSync(const QStringList &arguments);

} // namespace Bench
