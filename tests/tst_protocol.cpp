#include "FakeServer.h"
#include "protocol/JobRules.h"
#include "protocol/Protocol.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace VLK;

namespace {

const auto int64 = &FakeServer::int64;
const auto counted = &FakeServer::counted;
const auto withPayload = &FakeServer::reply;

// A text-list reply whose items are raw bytes, so that they need not be valid UTF-8.
QByteArray textListMessage(int type, const QList<QByteArray> &items)
{
    QByteArray payload = int64(items.size());
    for (const QByteArray &item : items)
        payload += counted(item);
    return withPayload(type, payload);
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void headerOnlyRequests_data();
    void headerOnlyRequests();
    void loginCarriesNameLineFeedAndDigest();
    void stringCommandCountsUtf8Bytes();
    void jobHeaderLeavesSizeForTheSender();

    void stringListSizes_data();
    void stringListSizes();
    void stringListStopsAtZeroByteAndAtTheEnd();
    void hugeCountsNeitherAllocateNorCrash();

    void jobLines_data();
    void jobLines();
    void jobListKeepsRecordsBeforeABadLine();
    void updatedJobLineKeepsUnchangedFields_data();
    void updatedJobLineKeepsUnchangedFields();
    void serverSideJobList_data();
    void serverSideJobList();

    void payloadReplacesFileOnlyWhenComplete();
    void payloadRefusesWriteProtectedTarget();
};

void TestProtocol::headerOnlyRequests_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("job status") << int(MT_JobStatus)
                                << QByteArray::fromHex("00000000000000100000000000000004");
    QTest::newRow("logout") << int(MT_Logout)
                            << QByteArray::fromHex("00000000000000100000000000000002");
    QTest::newRow("solver list") << int(MT_SolverList)
                                 << QByteArray::fromHex("00000000000000100000000000000008");
}

void TestProtocol::headerOnlyRequests()
{
    QFETCH(int, type);
    QFETCH(QByteArray, expected);
    QByteArray out("stale bytes");
    encodeCommand(type, out);
    QCOMPARE(out, expected);
}

void TestProtocol::loginCarriesNameLineFeedAndDigest()
{
    const QString digest = QStringLiteral("0123456789abcdef0123456789abcdef");
    QByteArray out;
    encodeLogin(QStringLiteral("ab"), digest, out);
    QCOMPARE(out.size(), 51);
    QCOMPARE(out, int64(51) + int64(MT_Login) + QByteArray("ab\n") + digest.toLatin1());
}

void TestProtocol::stringCommandCountsUtf8Bytes()
{
    const QString path = QStringLiteral("r\u00fcn/a1"); // six characters, seven bytes
    QByteArray out;
    encodeStringCommand(path, MT_KillJob, out);
    QCOMPARE(out, int64(31) + int64(MT_KillJob) + int64(7) + path.toUtf8());
}

void TestProtocol::jobHeaderLeavesSizeForTheSender()
{
    JobHeader job;
    job.solverId = QStringLiteral("cfd_solver_3");
    job.projectFile = QStringLiteral("model.prja");
    job.zipFileName = QStringLiteral("demo.zip");
    job.commandLine = QString();
    job.slowQueue = 1;
    QByteArray out;
    encodeJobHeader(job, out);
    const QByteArray text("demo.zip\ncfd_solver_3\nmodel.prja\n\n1");
    QCOMPARE(out, int64(0) + int64(MT_SubmitJob) + counted(text));
}

void TestProtocol::stringListSizes_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("expected");
    const QStringList previous { QStringLiteral("previous") };
    QTest::newRow("24 bytes, empty list")
        << textListMessage(MT_SolverListReply, {}) << true << QStringList();
    QTest::newRow("23 bytes") << withPayload(MT_SolverListReply, QByteArray(7, '\0')) << false
                              << previous;
    QTest::newRow("header only") << withPayload(MT_SolverListReply, {}) << false << previous;
    // Taken as unsigned, a negative size is large, not small: the list is read up to the end.
    QTest::newRow("sign bit in size") << int64(-1) + int64(MT_SolverListReply) + int64(1)
            + counted("fem") << true << QStringList { QStringLiteral("fem") };
    QTest::newRow("two names") << textListMessage(MT_SolverListReply, { "fem_static", "cfd" })
                               << true
                               << QStringList { QStringLiteral("fem_static"),
                                                QStringLiteral("cfd") };
    QTest::newRow("umlaut") << textListMessage(MT_SolverListReply,
                                               { QStringLiteral("l\u00f6ser").toUtf8() })
                            << true << QStringList { QStringLiteral("l\u00f6ser") };
}

void TestProtocol::stringListSizes()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, ok);
    QFETCH(QStringList, expected);
    QStringList out { QStringLiteral("previous") };
    QCOMPARE(decodeStringList(message, out), ok);
    QCOMPARE(out, expected);
}

void TestProtocol::stringListStopsAtZeroByteAndAtTheEnd()
{
    QStringList out;
    QVERIFY(
        decodeStringList(textListMessage(MT_SolverListReply, { QByteArray("abc\0def", 7) }), out));
    QCOMPARE(out, QStringList { QStringLiteral("abc") });

    // Second item claims 100 bytes, but only 3 follow: it is cut at the end.
    QByteArray payload = int64(2) + counted("one") + int64(100) + "two";
    QVERIFY(decodeStringList(withPayload(MT_SolverListReply, payload), out));
    QCOMPARE(out, (QStringList { QStringLiteral("one"), QStringLiteral("two") }));

    // Header claims more than the buffer holds: still nothing past the end.
    QByteArray truncated = textListMessage(MT_SolverListReply, { "alpha", "beta" });
    truncated.chop(2);
    QVERIFY(decodeStringList(truncated, out));
    QCOMPARE(out, (QStringList { QStringLiteral("alpha"), QStringLiteral("be") }));

    // totalSize shorter than the buffer: bytes beyond the message are not read.
    QByteArray longer = textListMessage(MT_SolverListReply, { "alpha" }) + counted("ghost");
    QVERIFY(decodeStringList(longer, out));
    QCOMPARE(out, QStringList { QStringLiteral("alpha") });

    // A negative byte count reads as an empty text.
    QVERIFY(decodeStringList(withPayload(MT_SolverListReply, int64(1) + int64(-5)), out));
    QCOMPARE(out, QStringList { QString() });
}

void TestProtocol::hugeCountsNeitherAllocateNorCrash()
{
    const qint64 huge = qint64(1) << 62;
    QStringList names;
    QVERIFY(decodeStringList(withPayload(MT_SolverListReply, int64(huge) + counted("x")), names));
    QCOMPARE(names, QStringList { QStringLiteral("x") });
    QVERIFY(
        decodeStringList(withPayload(MT_SolverListReply, int64(1) + int64(huge) + "abc"), names));
    QCOMPARE(names, QStringList { QStringLiteral("abc") });

    QList<JobInfo> jobs;
    QVERIFY(decodeJobList(withPayload(MT_JobStatusReply, int64(huge) + counted("s\np\nQueued\nm")),
                          jobs));
    QCOMPARE(jobs.size(), 1);
}

void TestProtocol::jobLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("accessible");
    QTest::addColumn<QString>("userId");
    QTest::addColumn<QString>("path");
    QTest::newRow("six parts, yes")
        << QByteArray("u1\nfem\nu1/j1/m.prja\nQueued\nmsg\nyes") << true << true << "u1"
        << "u1/j1/m.prja";
    QTest::newRow("six parts, Yes")
        << QByteArray("u1\nfem\nu1/j1/m.prja\nQueued\nmsg\nYes") << true << false << "u1"
        << "u1/j1/m.prja";
    QTest::newRow("six parts, no")
        << QByteArray("u2\nfem\np\nRunning\n\nno") << true << false << "u2"
        << "p";
    QTest::newRow("four parts") << QByteArray(
        "fem\nu1/j2/m.prja\nProcessed\nReady for download: r.7z")
                                << true << true << ""
                                << "u1/j2/m.prja";
    QTest::newRow("four parts, empty fields") << QByteArray("\n\n\n") << true << true << ""
                                              << "";
    QTest::newRow("four parts and trailing line feed")
        << QByteArray("fem\np\nQueued\nm\n") << false << true << ""
        << "";
    QTest::newRow("five parts") << QByteArray("a\nb\nc\nd\ne") << false << true << ""
                                << "";
    QTest::newRow("one part") << QByteArray("single") << false << true << ""
                              << "";
    QTest::newRow("seven parts") << QByteArray("a\nb\nc\nd\ne\nyes\nx") << false << true << ""
                                 << "";
}

void TestProtocol::jobLines()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, ok);
    QList<JobInfo> jobs;
    QCOMPARE(decodeJobList(textListMessage(MT_JobStatusReply, { line }), jobs), ok);
    if (!ok) {
        QVERIFY(jobs.isEmpty());
        return;
    }
    QCOMPARE(jobs.size(), 1);
    QTEST(jobs.at(0).accessible, "accessible");
    QTEST(jobs.at(0).userId, "userId");
    QTEST(jobs.at(0).path, "path");
}

void TestProtocol::jobListKeepsRecordsBeforeABadLine()
{
    QList<JobInfo> jobs;
    const QByteArray message
        = textListMessage(MT_JobStatusReply,
                          { "fem\nfirst\nQueued\n", "u\ncfd\nsecond\nRunning\nstep 1\\|step 2\nyes",
                            "a\nb\nc\nd\ne" });
    QVERIFY(!decodeJobList(message, jobs));
    QCOMPARE(jobs.size(), 2);
    QCOMPARE(jobs.at(0).path, QStringLiteral("first"));
    QCOMPARE(jobs.at(1).solverId, QStringLiteral("cfd"));
    QCOMPARE(jobs.at(1).status, QStringLiteral("Running"));
    QCOMPARE(jobs.at(1).progressMsg, QStringLiteral("step 1\\|step 2"));

    // An undersized reply leaves the list as it was.
    QVERIFY(!decodeJobList(withPayload(MT_JobStatusReply, "1234567"), jobs));
    QCOMPARE(jobs.size(), 2);
}

void TestProtocol::updatedJobLineKeepsUnchangedFields_data()
{
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("pathKept");
    QTest::newRow("status moved on")
        << QByteArray("u\ncfd\np\nRunning (1)\nm\nyes")
        << QByteArray("u\ncfd\np\nRunning (2)\nm\nyes") << true << true;
    QTest::newRow("no longer accessible") << QByteArray("u\ncfd\np\nQueued\nm\nyes")
                                          << QByteArray("u\ncfd\np\nQueued\nm\nno") << true << true;
    QTest::newRow("six parts to four") << QByteArray("u\ncfd\np\nQueued\nm\nno")
                                       << QByteArray("cfd\np\nQueued\nm") << true << false;
    QTest::newRow("four parts to six") << QByteArray("cfd\np\nQueued\nm")
                                       << QByteArray("u\ncfd\np\nQueued\nm\nno") << true << false;
    QTest::newRow("same length, other path")
        << QByteArray("u\ncfd\npa\nQueued\nm\nyes") << QByteArray("u\ncfd\npb\nQueued\nm\nyes")
        << true << false;
    QTest::newRow("five parts") << QByteArray("u\ncfd\np\nQueued\nm\nyes")
                                << QByteArray("u\ncfd\np\nQueued\nm") << false << false;
}

// The record that shows the shown line, updated from the new one, equals the
// new line decoded afresh; the texts of unchanged fields are the record's own.
void TestProtocol::updatedJobLineKeepsUnchangedFields()
{
    QFETCH(QByteArray, shown);
    QFETCH(QByteArray, line);
    QFETCH(bool, ok);
    QFETCH(bool, pathKept);
    JobInfo record;
    QVERIFY(decodeJobLine(shown, { 0, int(shown.size()) }, record));
    const JobInfo before = record;
    QCOMPARE(updateJobLine(line, { 0, int(line.size()) }, shown, { 0, int(shown.size()) }, record),
             ok);
    if (!ok)
        return;
    JobInfo fresh;
    QVERIFY(decodeJobLine(line, { 0, int(line.size()) }, fresh));
    QCOMPARE(record.accessible, fresh.accessible);
    QCOMPARE(record.userId, fresh.userId);
    QCOMPARE(record.solverId, fresh.solverId);
    QCOMPARE(record.path, fresh.path);
    QCOMPARE(record.status, fresh.status);
    QCOMPARE(record.progressMsg, fresh.progressMsg);
    QCOMPARE(record.path.isSharedWith(before.path), pathKept);
}

// What the stand-in server and the benchmarks send, against the test's own builder.
void TestProtocol::serverSideJobList_data()
{
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("accessible");
    QTest::addColumn<QString>("line");
    QTest::newRow("own job, two messages")
        << QStringList { QStringLiteral("meshed"), QStringLiteral("step 1") } << true
        << QString(QStringLiteral("u1\nfem\nu1/j1/m.prja\nRunning\nmeshed\\|step 1\nyes"));
    QTest::newRow("other user's job, no message")
        << QStringList {} << false
        << QString(QStringLiteral("u1\nfem\nu1/j1/m.prja\nRunning\n\nno"));
    QTest::newRow("umlaut") << QStringList { QStringLiteral("Lösung") } << true
                            << QString::fromUtf8("u1\nfem\nu1/j1/m.prja\nRunning\nLösung\nyes");
}

void TestProtocol::serverSideJobList()
{
    QFETCH(QStringList, messages);
    QFETCH(bool, accessible);
    QFETCH(QString, line);
    JobInfo job;
    job.accessible = accessible;
    job.userId = QStringLiteral("u1");
    job.solverId = QStringLiteral("fem");
    job.path = QStringLiteral("u1/j1/m.prja");
    job.status = QStringLiteral("Running");
    job.progressMsg = JobRules::joinMessages(messages);
    QByteArray message("stale");
    encodeStringList({ encodeJobLine(job), encodeJobLine(job) }, MT_JobStatusReply, message);
    QCOMPARE(message, FakeServer::textList(MT_JobStatusReply, { line, line }));
    QList<JobInfo> decoded;
    QVERIFY(decodeJobList(message, decoded));
    QCOMPARE(decoded.size(), 2);
    QCOMPARE(decoded.at(1).progressMsg, job.progressMsg);
    QCOMPARE(decoded.at(1).accessible, accessible);
    QCOMPARE(messageTypeName(MT_JobStatusReply), QStringLiteral("MT_JobStatusReply(102)"));
    QCOMPARE(messageTypeName(99), QStringLiteral("99"));
}

void TestProtocol::payloadReplacesFileOnlyWhenComplete()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("result.7z"));
    QByteArray payload(300000, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7);
    QVERIFY(writePayloadToFile(withPayload(MT_DownloadJobReply, payload), path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), payload);
    file.close();

    // A message shorter than its header claims is not a result: the old file stays.
    QByteArray truncated = withPayload(MT_DownloadJobReply, "new content");
    truncated.chop(3);
    QVERIFY(!writePayloadToFile(truncated, path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), payload);
    file.close();

    // An empty payload makes an empty file.
    QVERIFY(writePayloadToFile(withPayload(MT_DownloadJobReply, {}), path));
    QCOMPARE(QFileInfo(path).size(), 0);

    QVERIFY(!writePayloadToFile(withPayload(MT_DownloadJobReply, "x"),
                                dir.filePath(QStringLiteral("missing/dir/r.7z"))));
}

void TestProtocol::payloadRefusesWriteProtectedTarget()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("locked.7z"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("old result");
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner));
    QVERIFY(!writePayloadToFile(withPayload(MT_DownloadJobReply, "new result"), path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("old result"));
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
