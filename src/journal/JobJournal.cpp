#include "journal/JobJournal.h"

#include "protocol/ApplicationIdentity.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace VLK {

namespace {

// Each step brings the journal from the version of its index to the next;
// a new version appends a step and never changes an old one.
const QList<QStringList> &migrations()
{
    static const QList<QStringList> steps {
        { QStringLiteral("CREATE TABLE jobs ("
                         " server TEXT NOT NULL, port INTEGER NOT NULL, user TEXT NOT NULL,"
                         " job_path TEXT NOT NULL,"
                         " project_file TEXT NOT NULL DEFAULT '', archive TEXT NOT NULL DEFAULT '',"
                         " solver TEXT NOT NULL DEFAULT '', command_line TEXT NOT NULL DEFAULT '',"
                         " queue TEXT NOT NULL DEFAULT '', submitted_at TEXT,"
                         " last_status TEXT NOT NULL DEFAULT '', status_seen_at TEXT,"
                         " result_path TEXT NOT NULL DEFAULT '', result_size INTEGER NOT NULL "
                         "DEFAULT -1,"
                         " result_sha256 TEXT NOT NULL DEFAULT '', stored_at TEXT,"
                         " claim_holder TEXT NOT NULL DEFAULT '',"
                         " PRIMARY KEY (server, port, user, job_path))"),
          QStringLiteral("CREATE INDEX jobs_by_result ON jobs (result_path)") },
    };
    return steps;
}

int currentVersion()
{
    return int(migrations().size());
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime timeFrom(const QVariant &text)
{
    QDateTime time = QDateTime::fromString(text.toString(), Qt::ISODateWithMs);
    time.setTimeSpec(Qt::UTC);
    return time;
}

// How long a claim's lock file may lack its owner's process id before the
// owner counts as killed while creating it.
constexpr qint64 UnfilledLockGraceMs = 2000;

constexpr char KeyCondition[]
    = "server = :server AND port = :port AND user = :user AND job_path = :path";

// The columns are NOT NULL: a null text is stored as an empty one.
QString textValue(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

void bindKey(QSqlQuery &query, const JournalKey &key)
{
    query.bindValue(QStringLiteral(":server"), textValue(key.server));
    query.bindValue(QStringLiteral(":port"), int(key.port));
    query.bindValue(QStringLiteral(":user"), textValue(key.user));
    query.bindValue(QStringLiteral(":path"), textValue(key.jobPath));
}

constexpr char EntryColumns[]
    = "server, port, user, job_path, project_file, archive, solver, command_line, queue, "
      "submitted_at, last_status, status_seen_at, result_path, result_size, result_sha256, "
      "stored_at";

JournalEntry entryFrom(const QSqlQuery &query)
{
    JournalEntry entry;
    entry.key.server = query.value(0).toString();
    entry.key.port = quint16(query.value(1).toUInt());
    entry.key.user = query.value(2).toString();
    entry.key.jobPath = query.value(3).toString();
    entry.projectFile = query.value(4).toString();
    entry.archive = query.value(5).toString();
    entry.solver = query.value(6).toString();
    entry.commandLine = query.value(7).toString();
    entry.queue = query.value(8).toString();
    entry.submittedAt = timeFrom(query.value(9));
    entry.lastStatus = query.value(10).toString();
    entry.statusSeenAt = timeFrom(query.value(11));
    entry.resultPath = query.value(12).toString();
    entry.resultSize = query.value(13).toLongLong();
    entry.resultSha256 = QByteArray::fromHex(query.value(14).toString().toLatin1());
    entry.storedAt = timeFrom(query.value(15));
    return entry;
}

} // namespace

QString JobJournal::defaultPath()
{
    // The window's own data folder, whichever program asks: calvaro has
    // another application name but must find the same journal.
    return ApplicationIdentity::dataFolder() + QStringLiteral("/journal.sqlite");
}

JobJournal::JobJournal(QString filePath)
    : m_filePath(std::move(filePath))
    , m_connectionName(QUuid::createUuid().toString(QUuid::WithoutBraces))
    , m_claimHolder(QUuid::createUuid().toString(QUuid::WithoutBraces))
{ }

JobJournal::~JobJournal()
{
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

bool JobJournal::fail(const QString &text)
{
    m_errorText = text;
    return false;
}

bool JobJournal::exec(QSqlQuery &query)
{
    if (query.exec())
        return true;
    return fail(tr("The job journal '%1' cannot be used: %2")
                    .arg(QDir::toNativeSeparators(m_filePath), query.lastError().text()));
}

bool JobJournal::execText(const QString &statement)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(statement);
    return exec(query);
}

bool JobJournal::open()
{
    if (!QDir().mkpath(QFileInfo(m_filePath).absolutePath()))
        return fail(tr("Cannot create the folder of the job journal '%1'.")
                        .arg(QDir::toNativeSeparators(m_filePath)));
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    if (!database.isValid())
        return fail(tr("The job journal needs Qt's SQLite driver, which is not installed."));
    database.setDatabaseName(m_filePath);
    // Another process may hold the write lock for a moment; wait for it
    // rather than fail.
    database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!database.open())
        return fail(tr("Cannot open the job journal '%1': %2")
                        .arg(QDir::toNativeSeparators(m_filePath), database.lastError().text()));

    // Reading the version is the first access to the file: a damaged one
    // fails here, before anything has been written to it.
    QSqlQuery version(database);
    if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next())
        return fail(tr("The job journal '%1' is damaged and cannot be read (%2). It is left as "
                       "it is; move it away to start a new one.")
                        .arg(QDir::toNativeSeparators(m_filePath), version.lastError().text()));
    const int found = version.value(0).toInt();
    version.finish();
    if (found > currentVersion())
        return fail(tr("The job journal '%1' was written by a newer version of this program "
                       "(schema version %2; this one knows up to %3). It is left as it is.")
                        .arg(QDir::toNativeSeparators(m_filePath))
                        .arg(found)
                        .arg(currentVersion()));
    // With a write-ahead log, a commit that is not synced at once still
    // survives a killed program; only a power cut may take back the last few,
    // which the next sync then fetches again.
    if (!execText(QStringLiteral("PRAGMA journal_mode=WAL"))
        || !execText(QStringLiteral("PRAGMA synchronous=NORMAL")))
        return false;
    return found == currentVersion() || migrate(found);
}

bool JobJournal::migrate(int fromVersion)
{
    if (!execText(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    // Another process may have migrated while this one waited for the lock.
    QSqlQuery version(QSqlDatabase::database(m_connectionName, false));
    int found = fromVersion;
    if (version.exec(QStringLiteral("PRAGMA user_version")) && version.next())
        found = version.value(0).toInt();
    version.finish();
    bool ok = true;
    for (int step = found; ok && step < currentVersion(); ++step) {
        for (const QString &statement : migrations().at(step))
            ok = ok && execText(statement);
    }
    ok = ok && execText(QStringLiteral("PRAGMA user_version = %1").arg(currentVersion()));
    const QString keptError = m_errorText;
    if (!execText(ok ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")))
        return false;
    m_errorText = keptError;
    return ok;
}

bool JobJournal::record(const JournalEntry &entry)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral(
        "INSERT INTO jobs (server, port, user, job_path, project_file, archive, solver, "
        "command_line, queue, submitted_at, last_status, status_seen_at) VALUES (:server, "
        ":port, :user, :path, :project, :archive, :solver, :commandLine, :queue, :submitted, "
        ":status, :seen) ON CONFLICT (server, port, user, job_path) DO UPDATE SET "
        "project_file = excluded.project_file, archive = excluded.archive, solver = "
        "excluded.solver, command_line = excluded.command_line, queue = excluded.queue, "
        "submitted_at = excluded.submitted_at"));
    bindKey(query, entry.key);
    query.bindValue(QStringLiteral(":project"), textValue(entry.projectFile));
    query.bindValue(QStringLiteral(":archive"), textValue(entry.archive));
    query.bindValue(QStringLiteral(":solver"), textValue(entry.solver));
    query.bindValue(QStringLiteral(":commandLine"), textValue(entry.commandLine));
    query.bindValue(QStringLiteral(":queue"), textValue(entry.queue));
    query.bindValue(QStringLiteral(":submitted"), timeText(entry.submittedAt));
    query.bindValue(QStringLiteral(":status"), textValue(entry.lastStatus));
    query.bindValue(QStringLiteral(":seen"), timeText(entry.statusSeenAt));
    return exec(query);
}

bool JobJournal::updateStatus(const JournalKey &key, const QString &status)
{
    return updateStatuses({ { key, status } });
}

// One transaction for the whole list: a refresh of a study changes many
// statuses at once, and each commit costs a write to disk.
bool JobJournal::updateStatuses(const QList<StatusSeen> &seen)
{
    if (seen.isEmpty())
        return true;
    if (!execText(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral("UPDATE jobs SET last_status = :status, status_seen_at = :seen "
                                 "WHERE ")
                  + QLatin1String(KeyCondition));
    const QString now = timeText(QDateTime::currentDateTimeUtc());
    for (const StatusSeen &job : seen) {
        bindKey(query, job.key);
        query.bindValue(QStringLiteral(":status"), textValue(job.status));
        query.bindValue(QStringLiteral(":seen"), now);
        if (!exec(query)) {
            query.finish();
            rollBack();
            return false;
        }
    }
    query.finish();
    return execText(QStringLiteral("COMMIT"));
}

QString JobJournal::claimLockPath(const QString &holder) const
{
    return QFileInfo(m_filePath).absolutePath() + QStringLiteral("/claims/") + holder
        + QStringLiteral(".lock");
}

// A claim lives as long as the lock file of the process that made it: the
// lock is taken again by anyone once its process is gone.
bool JobJournal::claimHolderIsAlive(const QString &holder) const
{
    if (holder.isEmpty())
        return false;
    if (holder == m_claimHolder)
        return true;
    QLockFile probe(claimLockPath(holder));
    probe.setStaleLockTime(0);
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    // A lock file without its owner's process id never turns stale by itself:
    // its process was killed between creating and filling it, which a living
    // one does at once.
    qint64 pid = 0;
    QString host, application;
    if (probe.getLockInfo(&pid, &host, &application))
        return true;
    const QFileInfo lockFile(claimLockPath(holder));
    if (lockFile.exists()
        && lockFile.lastModified().msecsTo(QDateTime::currentDateTime()) < UnfilledLockGraceMs)
        return true;
    probe.removeStaleLockFile();
    return false;
}

bool JobJournal::takeClaimLock()
{
    if (m_claimLock)
        return true;
    QDir().mkpath(QFileInfo(claimLockPath(m_claimHolder)).absolutePath());
    m_claimLock = std::make_unique<QLockFile>(claimLockPath(m_claimHolder));
    m_claimLock->setStaleLockTime(0);
    if (m_claimLock->tryLock(0))
        return true;
    m_claimLock.reset();
    return fail(tr("Cannot create the claim file '%1'.")
                    .arg(QDir::toNativeSeparators(claimLockPath(m_claimHolder))));
}

// Ends a claim's transaction that went wrong, keeping the error that ended it.
JobJournal::Claim JobJournal::rollBack()
{
    const QString error = m_errorText;
    execText(QStringLiteral("ROLLBACK"));
    m_errorText = error;
    return Claim::Failed;
}

JobJournal::Claim JobJournal::claimDownload(const JournalKey &key)
{
    if (!takeClaimLock() || !execText(QStringLiteral("BEGIN IMMEDIATE")))
        return Claim::Failed;
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral("SELECT result_path, claim_holder FROM jobs WHERE ")
                  + QLatin1String(KeyCondition));
    bindKey(query, key);
    if (!exec(query))
        return rollBack();
    if (!query.next()) {
        fail(tr("Job %1 is not in the job journal.").arg(key.jobPath));
        return rollBack();
    }
    const bool claimable
        = query.value(0).toString().isEmpty() && !claimHolderIsAlive(query.value(1).toString());
    query.finish();
    if (claimable) {
        QSqlQuery take(QSqlDatabase::database(m_connectionName, false));
        take.prepare(QStringLiteral("UPDATE jobs SET claim_holder = :holder WHERE ")
                     + QLatin1String(KeyCondition));
        bindKey(take, key);
        take.bindValue(QStringLiteral(":holder"), m_claimHolder);
        if (!exec(take))
            return rollBack();
    }
    if (!execText(QStringLiteral("COMMIT")))
        return Claim::Failed;
    return claimable ? Claim::Taken : Claim::Busy;
}

void JobJournal::releaseClaim(const JournalKey &key)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral("UPDATE jobs SET claim_holder = '' WHERE claim_holder = :holder "
                                 "AND ")
                  + QLatin1String(KeyCondition));
    bindKey(query, key);
    query.bindValue(QStringLiteral(":holder"), m_claimHolder);
    exec(query);
}

bool JobJournal::storeResult(const JournalKey &key, const QString &path, qint64 size,
                             const QByteArray &sha256)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral("UPDATE jobs SET result_path = :result, result_size = :size, "
                                 "result_sha256 = :sha, stored_at = :stored, claim_holder = '' "
                                 "WHERE ")
                  + QLatin1String(KeyCondition));
    bindKey(query, key);
    query.bindValue(QStringLiteral(":result"), path);
    query.bindValue(QStringLiteral(":size"), size);
    query.bindValue(QStringLiteral(":sha"), QString::fromLatin1(sha256.toHex()));
    query.bindValue(QStringLiteral(":stored"), timeText(QDateTime::currentDateTimeUtc()));
    return exec(query);
}

bool JobJournal::find(const JournalKey &key, JournalEntry &entry)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral("SELECT ") + QLatin1String(EntryColumns)
                  + QStringLiteral(" FROM jobs WHERE ") + QLatin1String(KeyCondition));
    bindKey(query, key);
    if (!exec(query) || !query.next())
        return false;
    entry = entryFrom(query);
    return true;
}

bool JobJournal::entries(QList<JournalEntry> &result, const QString &server, quint16 port,
                         const QString &user)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT ") + QLatin1String(EntryColumns)
                  + QStringLiteral(" FROM jobs")
                  + (server.isEmpty() ? QString()
                                      : QStringLiteral(" WHERE server = :server AND port = :port "
                                                       "AND user = :user"))
                  + QStringLiteral(" ORDER BY submitted_at, rowid"));
    if (!server.isEmpty()) {
        query.bindValue(QStringLiteral(":server"), server);
        query.bindValue(QStringLiteral(":port"), int(port));
        query.bindValue(QStringLiteral(":user"), user);
    }
    if (!exec(query))
        return false;
    result.clear();
    while (query.next())
        result.append(entryFrom(query));
    return true;
}

bool JobJournal::changedElsewhere()
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    if (!query.exec(QStringLiteral("PRAGMA data_version")) || !query.next())
        return true;
    const qint64 version = query.value(0).toLongLong();
    const bool changed = version != m_dataVersion;
    m_dataVersion = version;
    return changed;
}

bool JobJournal::ownerOfResult(const QString &path, JournalKey &owner)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral("SELECT ") + QLatin1String(EntryColumns)
                  + QStringLiteral(" FROM jobs WHERE result_path = :result"));
    query.bindValue(QStringLiteral(":result"), path);
    if (!exec(query) || !query.next())
        return false;
    owner = entryFrom(query).key;
    return true;
}

} // namespace VLK
