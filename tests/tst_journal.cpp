#include "journal/JobJournal.h"
#include "journal/JournalFileWatch.h"
#include "journal/ResultPlacement.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

const VLK::JournalKey Job { QStringLiteral("127.0.0.1"), 10000, QStringLiteral("engineer"),
                            QStringLiteral("engineer/job-0001/beam.prja") };

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void refusesUnusableFileAndKeepsIt_data();
    void refusesUnusableFileAndKeepsIt();
    void claimIsHeldUntilItsHolderEnds();
    void watchSeesEveryWriteOfAnotherProcess();
    void resultPathFollowsThePattern_data();
    void resultPathFollowsThePattern();
};

void TestJournal::refusesUnusableFileAndKeepsIt_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("damaged") << "damaged"
                             << "is damaged and cannot be read";
    QTest::newRow("newer schema") << "newer"
                                  << "was written by a newer version of this program";
}

void TestJournal::refusesUnusableFileAndKeepsIt()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.sqlite"));
    if (kind == QLatin1String("damaged")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'x'));
    } else {
        {
            QSqlDatabase database
                = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
            database.setDatabaseName(path);
            QVERIFY(database.open());
            QSqlQuery query(database);
            QVERIFY(query.exec(QStringLiteral("PRAGMA user_version = 99")));
            database.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("newer"));
    }
    const QByteArray before = contents(path);
    VLK::JobJournal journal(path);
    QVERIFY(!journal.open());
    QVERIFY2(journal.errorText().contains(message), qPrintable(journal.errorText()));
    QCOMPARE(contents(path), before);
}

// Two programs on one journal: the second may fetch the job only once the
// first has ended without storing its result.
void TestJournal::claimIsHeldUntilItsHolderEnds()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.sqlite"));
    VLK::JobJournal second(path);
    QVERIFY(second.open());
    VLK::JournalEntry entry;
    entry.key = Job;
    QVERIFY(second.record(entry));
    {
        VLK::JobJournal first(path);
        QVERIFY(first.open());
        QCOMPARE(first.claimDownload(Job), VLK::JobJournal::Claim::Taken);
        QCOMPARE(second.claimDownload(Job), VLK::JobJournal::Claim::Busy);
    }
    // A holder killed between creating its lock file and writing its process
    // id into it leaves the file empty; its claim must still end.
    {
        VLK::JobJournal killed(path);
        QVERIFY(killed.open());
        QCOMPARE(killed.claimDownload(Job), VLK::JobJournal::Claim::Taken);
    }
    QString holder;
    {
        QSqlDatabase database
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        database.setDatabaseName(path);
        QVERIFY(database.open());
        QSqlQuery query(database);
        QVERIFY(query.exec(QStringLiteral("SELECT claim_holder FROM jobs")) && query.next());
        holder = query.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    QFile unfilled(dir.filePath(QStringLiteral("claims/%1.lock").arg(holder)));
    QVERIFY(unfilled.open(QIODevice::WriteOnly));
    QCOMPARE(second.claimDownload(Job), VLK::JobJournal::Claim::Busy);
    QVERIFY(unfilled.setFileTime(QDateTime::currentDateTime().addSecs(-10),
                                 QFileDevice::FileModificationTime));
    unfilled.close();
    QCOMPARE(second.claimDownload(Job), VLK::JobJournal::Claim::Taken);
    QVERIFY(second.storeResult(Job, dir.filePath(QStringLiteral("r.zip")), 3, "abc"));
    VLK::JobJournal third(path);
    QVERIFY(third.open());
    QCOMPARE(third.claimDownload(Job), VLK::JobJournal::Claim::Busy);
    QVERIFY(third.find(Job, entry));
    QCOMPARE(entry.resultSize, qint64(3));
}

// A reader that sees no write keeps what it read; a commit or a checkpoint
// of another connection, as calvaro makes, is seen.
void TestJournal::watchSeesEveryWriteOfAnotherProcess()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.sqlite"));
    VLK::JobJournal reader(path);
    VLK::JobJournal writer(path);
    QVERIFY(reader.open() && writer.open());
    VLK::JournalFileWatch watch(path);
    QVERIFY(watch.takeWritten());
    VLK::JournalEntry entry;
    entry.key = Job;
    const std::function<bool()> writes[] = {
        [&] { return writer.record(entry); },
        [&] { return writer.updateStatus(Job, QStringLiteral("Running")); },
        [&] {
            QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                              QStringLiteral("checkpoint"));
            database.setDatabaseName(path);
            return database.open()
                && QSqlQuery(database).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        },
    };
    for (const auto &write : writes) {
        QTest::qWait(50);
        QVERIFY(!watch.takeWritten());
        QVERIFY(write());
        QVERIFY(QTest::qWaitFor([&watch] { return watch.takeWritten(); }));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("checkpoint"));
}

void TestJournal::resultPathFollowsThePattern_data()
{
    QTest::addColumn<QString>("projectFile");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("target");
    QTest::newRow("default, beside the project")
        << QStringLiteral("/work/beam/beam.prja") << VLK::ResultPlacement::defaultPattern()
        << QStringLiteral("/work/beam/results/job-0001_job-0001_results.bin");
    QTest::newRow("default, archive chosen as it was")
        << QStringLiteral("beam.prja") << VLK::ResultPlacement::defaultPattern()
        << QStringLiteral("/work/results/job-0001_job-0001_results.bin");
    QTest::newRow("absolute folder") << QStringLiteral("/work/beam/beam.prja")
                                     << QStringLiteral("/data/study/<result file name>")
                                     << QStringLiteral("/data/study/job-0001_results.bin");
    QTest::newRow("relative to the project")
        << QStringLiteral("/work/beam/beam.prja")
        << QStringLiteral("../out/<job folder name>/<result file name>")
        << QStringLiteral("/work/out/job-0001/job-0001_results.bin");
}

void TestJournal::resultPathFollowsThePattern()
{
    QFETCH(QString, projectFile);
    QFETCH(QString, pattern);
    QFETCH(QString, target);
    VLK::JournalEntry entry;
    entry.key = Job;
    entry.projectFile = projectFile;
    entry.archive = QStringLiteral("/work/beam.zip");
    QCOMPARE(VLK::ResultPlacement::targetPath(entry, u"Ready for download: job-0001_results.bin",
                                              pattern),
             target);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
