#include "DevServerProcess.h"
#include "FakeServer.h"
#include "protocol/Protocol.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace VLK;

namespace {

const QStringList defaultSolvers { QStringLiteral("fem_static"), QStringLiteral("cfd_transient_3"),
                                   QStringLiteral("thermal") };

struct Reply
{
    qint64 type = -1; // -1: none came
    QByteArray message; // header included, as the client's decoders take it
};

// A bare protocol client on a blocking socket: it writes requests with the
// client's own encoders and reads whole replies.
class Client
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(5000);
    }

    Reply readReply(int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        QByteArray bytes;
        qint64 totalSize = MessageHeaderSize;
        while (bytes.size() < totalSize && clock.elapsed() < timeoutMs) {
            if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(50)
                && socket.state() != QAbstractSocket::ConnectedState)
                break;
            bytes += socket.read(totalSize - bytes.size());
            if (bytes.size() == MessageHeaderSize)
                totalSize = qMax(MessageHeaderSize, qFromBigEndian<qint64>(bytes.constData()));
        }
        received = bytes;
        Reply reply;
        if (bytes.size() == totalSize) {
            reply.type = qFromBigEndian<qint64>(bytes.constData() + 8);
            reply.message = bytes;
        }
        return reply;
    }

    Reply request(const QByteArray &bytes)
    {
        socket.write(bytes);
        return readReply();
    }
    qint64 command(int type)
    {
        QByteArray bytes;
        encodeCommand(type, bytes);
        return request(bytes).type;
    }
    qint64 onJob(int type, const QString &path)
    {
        QByteArray bytes;
        encodeStringCommand(path, type, bytes);
        return request(bytes).type;
    }
    qint64 login(const QString &user, const QString &password = QStringLiteral("secret"))
    {
        QByteArray bytes;
        encodeLogin(
            user,
            QString::fromLatin1(
                QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex()),
            bytes);
        return request(bytes).type;
    }
    QList<JobInfo> jobs()
    {
        QByteArray bytes;
        encodeCommand(MT_JobStatus, bytes);
        QList<JobInfo> list;
        const Reply reply = request(bytes);
        if (reply.type != MT_JobStatusReply || !decodeJobList(reply.message, list))
            qWarning("no job list");
        return list;
    }
    // Writes the header part of a submission; the archive is up to the caller.
    void beginSubmission(qint64 archiveSize, const QString &commandLine = QString(), int slow = 0,
                         const QString &solver = QStringLiteral("fem_static"),
                         const QString &zipName = QStringLiteral("model.zip"))
    {
        JobHeader header;
        header.solverId = solver;
        header.projectFile = QStringLiteral("model.prja");
        header.zipFileName = zipName;
        header.commandLine = commandLine;
        header.slowQueue = slow;
        QByteArray bytes;
        encodeJobHeader(header, bytes);
        qToBigEndian<qint64>(bytes.size() + archiveSize, bytes.data());
        socket.write(bytes);
    }
    qint64 submit(const QByteArray &archive, const QString &commandLine = QString(), int slow = 0)
    {
        beginSubmission(archive.size(), commandLine, slow);
        return request(archive).type;
    }
    bool waitUntilClosed()
    {
        return socket.state() == QAbstractSocket::UnconnectedState
            || socket.waitForDisconnected(5000);
    }

    QTcpSocket socket;
    QByteArray received; // the bytes of the last reply read, complete or not
};

// Asks for the job list until the job with this path has a status that begins
// with prefix.
bool waitForStatus(Client &client, const QString &path, const QString &prefix,
                   JobInfo *found = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        for (const JobInfo &job : client.jobs()) {
            if (job.path == path && job.status.startsWith(prefix)) {
                if (found)
                    *found = job;
                return true;
            }
        }
        QTest::qWait(20);
    }
    return false;
}

QByteArray md5Hex(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

QByteArray withHeader(qint64 totalSize, qint64 type, const QByteArray &rest = QByteArray())
{
    return FakeServer::header(totalSize, type) + rest;
}

QByteArray countedText(const QByteArray &text, qint64 count = -1)
{
    QByteArray bytes(8, '\0');
    qToBigEndian<qint64>(count < 0 ? text.size() : count, bytes.data());
    return bytes + text;
}

// A submission whose job header text is given verbatim.
QByteArray submission(const QByteArray &headerText, const QByteArray &archive)
{
    const QByteArray body = countedText(headerText) + archive;
    return withHeader(16 + body.size(), MT_SubmitJob, body);
}

const QString firstJob = QStringLiteral("alice/job-0001/model.prja");

} // namespace

class TestDevServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void login_data();
    void login();
    void requestsBeforeLoginAreRefused_data();
    void requestsBeforeLoginAreRefused();
    void logoutKeepsTheConnectionAndEveryRequestIsLogged();
    void solverList_data();
    void solverList();
    void jobRunsToProcessedAndItsResultDownloads();
    void generatedResultHasTheChosenSize();
    void runningJobCanBeKilledButNotRemoved();
    void failedJobs_data();
    void failedJobs();
    void largeUploadStreamsToDisk();
    void malformedInputClosesTheConnection_data();
    void malformedInputClosesTheConnection();
    void clientLeavingMidUploadLeavesNothingBehind();
    void twoClientsAreServedAtOnce();
    void jobsSurviveARestart();
    void failType_data();
    void failType();
    void badHeaderAnswersTheFirstRequestOnly_data();
    void badHeaderAnswersTheFirstRequestOnly();
    void dropAfter_data();
    void dropAfter();
    void shapedRepliesArriveLateButWhole_data();
    void shapedRepliesArriveLateButWhole();

private:
    bool startServer(const QStringList &arguments = QStringList());
    bool loggedIn(Client &client, const QString &user = QStringLiteral("alice"));

    QTemporaryDir *m_dir = nullptr;
    DevServerProcess *m_server = nullptr;
    QByteArray m_zip; // a real zip archive holding a small project
};

void TestDevServer::initTestCase()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("project")));
    QFile project(dir.path() + QStringLiteral("/project/model.prja"));
    QVERIFY(project.open(QIODevice::WriteOnly));
    project.write("solver input\n");
    project.close();
    QProcess archiver;
    archiver.setWorkingDirectory(dir.path());
    archiver.start(QStringLiteral("7z"),
                   { QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("model.zip"),
                     QStringLiteral("project") });
    QVERIFY(archiver.waitForFinished());
    QFile zip(dir.path() + QStringLiteral("/model.zip"));
    QVERIFY(zip.open(QIODevice::ReadOnly));
    m_zip = zip.readAll();
    QVERIFY(m_zip.startsWith("PK"));
}

void TestDevServer::init()
{
    m_dir = new QTemporaryDir;
    m_server = new DevServerProcess(QStringLiteral(CALVARO_DEVSERVER), m_dir->path());
}

void TestDevServer::cleanup()
{
    if (QTest::currentTestFailed())
        qInfo().noquote() << "server log:\n" << m_server->log().right(3000);
    delete m_server;
    delete m_dir;
}

bool TestDevServer::startServer(const QStringList &arguments)
{
    return m_server->start(QStringList { QStringLiteral("--tick-ms"), QStringLiteral("40"),
                                         QStringLiteral("--steps"), QStringLiteral("3") }
                           + arguments);
}

bool TestDevServer::loggedIn(Client &client, const QString &user)
{
    return client.connectTo(m_server->port()) && client.login(user) == MT_LoginOk;
}

void TestDevServer::login_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<qint64>("loginReply");
    QTest::addColumn<qint64>("jobListReply");

    QTest::newRow("right password") << "alice"
                                    << "secret" << qint64(MT_LoginOk) << qint64(MT_JobStatusReply);
    QTest::newRow("wrong password")
        << "alice"
        << "Secret" << qint64(MT_CommandError1) << qint64(MT_CommandError2);
    QTest::newRow("unknown user") << "mallory"
                                  << "secret" << qint64(MT_CommandError1)
                                  << qint64(MT_CommandError2);
    QTest::newRow("user with a non-ASCII password")
        << "bob" << QString::fromUtf8("pässwort") << qint64(MT_LoginOk)
        << qint64(MT_JobStatusReply);
}

void TestDevServer::login()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(qint64, loginReply);
    QFETCH(qint64, jobListReply);

    QFile users(m_dir->path() + QStringLiteral("/users"));
    QVERIFY(users.open(QIODevice::WriteOnly));
    users.write("# test users\nalice:" + md5Hex("secret")
                + "\n\nbob:" + md5Hex(QString::fromUtf8("pässwort").toUtf8()) + "\n");
    users.close();
    QVERIFY(startServer({ QStringLiteral("--users"), users.fileName() }));
    QVERIFY(!m_server->log().contains(QStringLiteral("WARNING")));

    Client client;
    QVERIFY(client.connectTo(m_server->port()));
    QCOMPARE(client.login(user, password), loginReply);
    QCOMPARE(client.command(MT_JobStatus), jobListReply);
    QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
}

void TestDevServer::requestsBeforeLoginAreRefused_data()
{
    QTest::addColumn<QByteArray>("request");

    QByteArray bytes;
    encodeCommand(MT_JobStatus, bytes);
    QTest::newRow("job list") << bytes;
    encodeCommand(MT_SolverList, bytes);
    QTest::newRow("solver list") << bytes;
    encodeCommand(MT_Logout, bytes);
    QTest::newRow("logout") << bytes;
    encodeStringCommand(firstJob, MT_KillJob, bytes);
    QTest::newRow("kill") << bytes;
    QTest::newRow("submission") << submission("model.zip\nfem_static\nmodel.prja\n\n0", m_zip);
}

void TestDevServer::requestsBeforeLoginAreRefused()
{
    QFETCH(QByteArray, request);
    QVERIFY(startServer());
    QVERIFY(m_server->log().contains(QStringLiteral("WARNING: no --users file given")));

    Client client;
    QVERIFY(client.connectTo(m_server->port()));
    QCOMPARE(client.request(request).type, qint64(MT_CommandError2));
    QCOMPARE(client.login(QStringLiteral("alice")), qint64(MT_LoginOk));
    QVERIFY(client.jobs().isEmpty());
}

void TestDevServer::logoutKeepsTheConnectionAndEveryRequestIsLogged()
{
    QVERIFY(startServer());
    Client client;
    QVERIFY(loggedIn(client));
    QCOMPARE(client.command(MT_Logout), qint64(MT_LogoutOk));
    QCOMPARE(client.command(MT_JobStatus), qint64(MT_CommandError2));
    QCOMPARE(client.login(QStringLiteral("bob")), qint64(MT_LoginOk));
    QCOMPARE(client.command(MT_JobStatus), qint64(MT_JobStatusReply));

    const QStringList lines = m_server->log().split(u'\n').filter(QStringLiteral(" bytes -> "));
    QCOMPARE(lines.size(), 5);
    const QRegularExpression line(
        QStringLiteral("^\\S+ 127\\.0\\.0\\.1:\\d+ (\\S+) (\\S+) (\\d+) bytes -> (\\S+)$"));
    const QStringList expected { QStringLiteral("alice MT_Login(1) 54 MT_LoginOk(100)"),
                                 QStringLiteral("alice MT_Logout(2) 16 MT_LogoutOk(101)"),
                                 QStringLiteral("- MT_JobStatus(4) 16 MT_CommandError2(205)"),
                                 QStringLiteral("bob MT_Login(1) 52 MT_LoginOk(100)"),
                                 QStringLiteral("bob MT_JobStatus(4) 16 MT_JobStatusReply(102)") };
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = line.match(lines.at(i));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(match.capturedTexts().mid(1).join(u' '), expected.at(i));
    }
}

void TestDevServer::solverList_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("solvers");

    QTest::newRow("default") << QStringList() << defaultSolvers;
    QTest::newRow("chosen") << QStringList { QStringLiteral("--solvers"),
                                             QStringLiteral(" nastran_x , ,modal") }
                            << QStringList { QStringLiteral("nastran_x"), QStringLiteral("modal") };
}

void TestDevServer::solverList()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, solvers);
    QVERIFY(startServer(arguments));

    Client client;
    QVERIFY(loggedIn(client));
    QByteArray bytes;
    encodeCommand(MT_SolverList, bytes);
    const Reply reply = client.request(bytes);
    QCOMPARE(reply.type, qint64(MT_SolverListReply));
    QStringList list;
    QVERIFY(decodeStringList(reply.message, list));
    QCOMPARE(list, solvers);
}

void TestDevServer::jobRunsToProcessedAndItsResultDownloads()
{
    // Ticks long enough that the job is surely still queued when first listed.
    QVERIFY(startServer({ QStringLiteral("--tick-ms"), QStringLiteral("100") }));
    Client client;
    QVERIFY(loggedIn(client));
    QCOMPARE(client.submit(m_zip, QStringLiteral("-threads 4")), qint64(MT_SubmitJobOk));

    const QList<JobInfo> jobs = client.jobs();
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs.first().userId, QString(QStringLiteral("alice")));
    QCOMPARE(jobs.first().solverId, QString(QStringLiteral("fem_static")));
    QCOMPARE(jobs.first().path, firstJob);
    QVERIFY2(jobs.first().status.startsWith(QStringLiteral("Queued")),
             qPrintable(jobs.first().status));
    QVERIFY(jobs.first().accessible);

    JobInfo job;
    QVERIFY(waitForStatus(client, firstJob, QStringLiteral("Running (step"), &job));
    QVERIFY(waitForStatus(client, firstJob, QStringLiteral("Processed"), &job));
    const QStringList messages = job.progressMsg.split(QStringLiteral("\\|"));
    QVERIFY2(messages.size() >= 4, qPrintable(job.progressMsg));
    QVERIFY(messages.last().startsWith(QStringLiteral("Ready for download: ")));
    const QString resultName
        = messages.last().mid(QString(QStringLiteral("Ready for download: ")).size());

    QByteArray bytes;
    encodeStringCommand(firstJob, MT_DownloadJob, bytes);
    const Reply download = client.request(bytes);
    QCOMPARE(download.type, qint64(MT_DownloadJobReply));
    const QString jobDirectory = m_server->dataDirectory() + QStringLiteral("/jobs/job-0001");
    QFile result(jobDirectory + QStringLiteral("/") + resultName);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(download.message.mid(16), result.readAll());
    QVERIFY(download.message.mid(16).startsWith("PK\x03\x04"));

    QCOMPARE(client.onJob(MT_RemoveJob, firstJob), qint64(MT_RemoveJobOk));
    QVERIFY(client.jobs().isEmpty());
    QVERIFY(!QFileInfo::exists(jobDirectory));
    QCOMPARE(client.onJob(MT_DownloadJob, firstJob), qint64(MT_CommandError1));
}

void TestDevServer::generatedResultHasTheChosenSize()
{
    // More than one piece of the generator, ending inside a word.
    const qint64 size = (qint64(4) << 20) + 13;
    QVERIFY(startServer({ QStringLiteral("--result-size"), QString::number(size) }));
    Client client;
    QVERIFY(loggedIn(client));
    QCOMPARE(client.submit(m_zip), qint64(MT_SubmitJobOk));
    JobInfo job;
    QVERIFY(waitForStatus(client, firstJob, QStringLiteral("Processed"), &job));
    QVERIFY2(job.progressMsg.endsWith(QStringLiteral("Ready for download: job-0001_results.bin")),
             qPrintable(job.progressMsg));

    QByteArray bytes;
    encodeStringCommand(firstJob, MT_DownloadJob, bytes);
    const Reply download = client.request(bytes);
    QCOMPARE(download.type, qint64(MT_DownloadJobReply));
    QByteArray expected;
    for (quint64 offset = 0; offset < quint64(size); offset += 8) {
        char word[8];
        qToBigEndian(offset, word);
        expected.append(word, 8);
    }
    expected.truncate(int(size));
    // Not QCOMPARE: a difference would print megabytes.
    QCOMPARE(download.message.size(), int(16 + size));
    QVERIFY(download.message.mid(16) == expected);
}

void TestDevServer::runningJobCanBeKilledButNotRemoved()
{
    QVERIFY(startServer({ QStringLiteral("--steps"), QStringLiteral("1000"),
                          QStringLiteral("--tick-ms"), QStringLiteral("100") }));
    Client client;
    QVERIFY(loggedIn(client));
    QCOMPARE(client.submit(m_zip, QString(), 1), qint64(MT_SubmitJobOk));
    QCOMPARE(client.onJob(MT_KillJob, firstJob), qint64(MT_CommandError1)); // still queued
    QVERIFY(waitForStatus(client, firstJob, QStringLiteral("Running")));

    QCOMPARE(client.onJob(MT_RemoveJob, firstJob), qint64(MT_CommandError1));
    QCOMPARE(client.onJob(MT_DownloadJob, firstJob), qint64(MT_CommandError1));
    QCOMPARE(client.onJob(MT_KillJob, firstJob), qint64(MT_KillJobOk));
    JobInfo job;
    QVERIFY(waitForStatus(client, firstJob, QStringLiteral("Killed"), &job));
    QCOMPARE(job.status, QString(QStringLiteral("Killed")));
    QCOMPARE(client.onJob(MT_KillJob, firstJob), qint64(MT_CommandError1));
    QCOMPARE(client.onJob(MT_KillJob, QStringLiteral("alice/job-0002/model.prja")),
             qint64(MT_CommandError1));
    QCOMPARE(client.onJob(MT_RemoveJob, firstJob), qint64(MT_RemoveJobOk));
}

void TestDevServer::failedJobs_data()
{
    QTest::addColumn<bool>("zip");
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("lastMessage");

    QTest::newRow("archive not a zip") << false << ""
                                       << "Input archive model.zip is not a zip file";
    QTest::newRow("solver asked to fail") << true << "-v --fail"
                                          << "Solver stopped at step 2/3";
}

void TestDevServer::failedJobs()
{
    QFETCH(bool, zip);
    QFETCH(QString, commandLine);
    QFETCH(QString, lastMessage);
    QVERIFY(startServer());
    Client client;
    QVERIFY(loggedIn(client));
    QCOMPARE(client.submit(zip ? m_zip : QByteArray("plain text"), commandLine),
             qint64(MT_SubmitJobOk));

    JobInfo job;
    QVERIFY(waitForStatus(client, firstJob, QStringLiteral("Failed"), &job));
    QCOMPARE(job.status, QString(QStringLiteral("Failed")));
    QVERIFY2(job.progressMsg.split(QStringLiteral("\\|")).last().startsWith(lastMessage),
             qPrintable(job.progressMsg));
    QCOMPARE(client.onJob(MT_DownloadJob, firstJob), qint64(MT_CommandError1));
    QCOMPARE(client.onJob(MT_KillJob, firstJob), qint64(MT_CommandError1));
    QCOMPARE(client.onJob(MT_RemoveJob, firstJob), qint64(MT_RemoveJobOk));
}

void TestDevServer::largeUploadStreamsToDisk()
{
    if (!QFileInfo::exists(QStringLiteral("/proc/self/status")))
        QSKIP("needs /proc to read the server's memory");
    QVERIFY(startServer());
    Client client;
    QVERIFY(loggedIn(client));

    constexpr qint64 archiveSize = qint64(256) << 20;
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 7 + (i >> 10));
    client.beginSubmission(archiveSize, QString(), 0, QStringLiteral("fem_static"),
                           QStringLiteral("big.zip"));
    for (qint64 sent = 0; sent < archiveSize; sent += block.size()) {
        client.socket.write(block);
        while (client.socket.bytesToWrite() > 4 * block.size())
            QVERIFY(client.socket.waitForBytesWritten(10000));
    }
    QCOMPARE(client.readReply(60000).type, qint64(MT_SubmitJobOk));

    const qint64 peakKiB = m_server->peakMemoryKiB();
    QVERIFY(peakKiB > 0);
    QVERIFY2(peakKiB < 100 * 1024, qPrintable(QString(QStringLiteral("peak %1 KiB")).arg(peakKiB)));
    QCOMPARE(QFileInfo(m_server->dataDirectory() + QStringLiteral("/jobs/job-0001/input/big.zip"))
                 .size(),
             archiveSize);
}

void TestDevServer::malformedInputClosesTheConnection_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray archive(100, 'a');
    QTest::newRow("size below the header") << withHeader(8, MT_JobStatus);
    QTest::newRow("negative size") << withHeader(-1, MT_Login);
    QTest::newRow("request above 1 MiB") << withHeader((1 << 20) + 1, MT_JobStatus);
    QTest::newRow("path count past the end")
        << withHeader(16 + 8 + 5, MT_KillJob, countedText("alice", 50));
    QTest::newRow("path count short of the end")
        << withHeader(16 + 8 + 5, MT_RemoveJob, countedText("alice", 4));
    QTest::newRow("submission without room for a count") << withHeader(20, MT_SubmitJob, "abcd");
    QTest::newRow("job header text past the end")
        << withHeader(16 + 8 + 10, MT_SubmitJob, countedText("model.zip\nfem_static\nm\n\n0"));
    QTest::newRow("job header of four lines") << submission("model.zip\nfem_static\nm\n0", archive);
    QTest::newRow("job header of six lines")
        << submission("model.zip\nfem_static\nm\n\n0\n", archive);
    QTest::newRow("queue flag 2") << submission("model.zip\nfem_static\nm\n\n2", archive);
    QTest::newRow("archive above the upload limit") << withHeader(
        16 + 8 + 25 + (2 << 20), MT_SubmitJob, countedText("model.zip\nfem_static\nm\n\n0"));
}

void TestDevServer::malformedInputClosesTheConnection()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(startServer({ QStringLiteral("--max-upload"), QStringLiteral("1M") }));
    Client client;
    QVERIFY(loggedIn(client));

    client.socket.write(bytes);
    QVERIFY(client.waitUntilClosed());
    QCOMPARE(client.socket.readAll(), QByteArray());
    QVERIFY(m_server->log().contains(QStringLiteral("closed: ")));

    QVERIFY(m_server->isRunning());
    Client next;
    QVERIFY(loggedIn(next));
    QVERIFY(next.jobs().isEmpty());
    QVERIFY(QDir(m_server->dataDirectory() + QStringLiteral("/uploads")).isEmpty());
}

void TestDevServer::clientLeavingMidUploadLeavesNothingBehind()
{
    QVERIFY(startServer());
    Client client;
    QVERIFY(loggedIn(client));
    client.beginSubmission(m_zip.size());
    client.socket.write(m_zip.left(m_zip.size() / 2));
    QVERIFY(client.socket.waitForBytesWritten(5000));
    client.socket.abort();

    QTRY_VERIFY(
        m_server->log().contains(QStringLiteral("client left before the request was complete")));
    QVERIFY(QDir(m_server->dataDirectory() + QStringLiteral("/uploads")).isEmpty());
    QVERIFY(QDir(m_server->dataDirectory() + QStringLiteral("/jobs")).isEmpty());
    Client next;
    QVERIFY(loggedIn(next));
    QVERIFY(next.jobs().isEmpty());
}

void TestDevServer::twoClientsAreServedAtOnce()
{
    QVERIFY(startServer({ QStringLiteral("--show-others") }));
    Client alice;
    Client bob;
    QVERIFY(loggedIn(alice, QStringLiteral("alice")));
    QVERIFY(loggedIn(bob, QStringLiteral("bob")));

    // Bob is answered while Alice's upload is only half there.
    alice.beginSubmission(m_zip.size());
    alice.socket.write(m_zip.left(m_zip.size() / 2));
    QVERIFY(alice.socket.waitForBytesWritten(5000));
    QVERIFY(bob.jobs().isEmpty());
    QCOMPARE(alice.request(m_zip.mid(m_zip.size() / 2)).type, qint64(MT_SubmitJobOk));

    const QList<JobInfo> seenByBob = bob.jobs();
    QCOMPARE(seenByBob.size(), 1);
    QCOMPARE(seenByBob.first().userId, QString(QStringLiteral("alice")));
    QVERIFY(!seenByBob.first().accessible);
    QCOMPARE(bob.onJob(MT_RemoveJob, firstJob), qint64(MT_CommandError1));

    const QList<JobInfo> seenByAlice = alice.jobs();
    QCOMPARE(seenByAlice.size(), 1);
    QVERIFY(seenByAlice.first().accessible);
    QCOMPARE(alice.onJob(MT_RemoveJob, firstJob), qint64(MT_RemoveJobOk));
}

void TestDevServer::jobsSurviveARestart()
{
    QVERIFY(startServer());
    Client client;
    QVERIFY(loggedIn(client));
    QCOMPARE(client.submit(m_zip), qint64(MT_SubmitJobOk));
    QVERIFY(waitForStatus(client, firstJob, QStringLiteral("Processed")));
    m_server->stop();

    // Again with jobs that take long, stopped while one of them runs.
    QVERIFY(startServer({ QStringLiteral("--steps"), QStringLiteral("1000") }));
    Client second;
    QVERIFY(loggedIn(second));
    QCOMPARE(second.submit(m_zip), qint64(MT_SubmitJobOk));
    const QString secondJob = QStringLiteral("alice/job-0002/model.prja");
    QVERIFY(waitForStatus(second, secondJob, QStringLiteral("Running")));
    m_server->stop();

    QVERIFY(startServer({ QStringLiteral("--tick-ms"), QStringLiteral("3600000") }));
    Client third;
    QVERIFY(loggedIn(third));
    const QList<JobInfo> jobs = third.jobs();
    QCOMPARE(jobs.size(), 2);
    QCOMPARE(jobs.at(0).path, firstJob);
    QCOMPARE(jobs.at(0).status, QString(QStringLiteral("Processed")));
    QCOMPARE(jobs.at(1).path, secondJob);
    QVERIFY(jobs.at(1).status.startsWith(QStringLiteral("Queued")));
    QCOMPARE(jobs.at(1).progressMsg.split(QStringLiteral("\\|")).last(),
             QString(QStringLiteral("Server restarted, job queued again")));
    QByteArray bytes;
    encodeStringCommand(firstJob, MT_DownloadJob, bytes);
    QVERIFY(third.request(bytes).message.mid(16).startsWith("PK\x03\x04"));
    QCOMPARE(third.submit(m_zip), qint64(MT_SubmitJobOk));
    QCOMPARE(third.jobs().last().path, QString(QStringLiteral("alice/job-0003/model.prja")));
}

void TestDevServer::failType_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("requestType");
    QTest::addColumn<qint64>("reply");

    QTest::newRow("solver list 205") << "8:205" << int(MT_SolverList) << qint64(MT_CommandError2);
    QTest::newRow("job list 204") << "4:204" << int(MT_JobStatus) << qint64(MT_CommandError1);
    QTest::newRow("submission 204") << "3:204" << int(MT_SubmitJob) << qint64(MT_CommandError1);
}

void TestDevServer::failType()
{
    QFETCH(QString, fault);
    QFETCH(int, requestType);
    QFETCH(qint64, reply);
    QVERIFY(startServer({ QStringLiteral("--fail-type"), fault, QStringLiteral("--fail-type"),
                          QStringLiteral("6:205") }));
    Client client;
    QVERIFY(loggedIn(client));

    const qint64 answer
        = requestType == MT_SubmitJob ? client.submit(m_zip) : client.command(requestType);
    QCOMPARE(answer, reply);
    QCOMPARE(client.onJob(MT_KillJob, firstJob), qint64(MT_CommandError2));
    // The refused submission left no job behind.
    if (requestType == MT_SubmitJob)
        QVERIFY(client.jobs().isEmpty());
}

void TestDevServer::badHeaderAnswersTheFirstRequestOnly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qint64>("totalSize");

    QTest::newRow("oversize") << "oversize" << qint64(MaxMessageSize + 1);
    QTest::newRow("undersize") << "undersize" << qint64(8);
}

void TestDevServer::badHeaderAnswersTheFirstRequestOnly()
{
    QFETCH(QString, kind);
    QFETCH(qint64, totalSize);
    QVERIFY(startServer({ QStringLiteral("--bad-header"), kind }));

    Client first;
    QVERIFY(first.connectTo(m_server->port()));
    QByteArray login;
    encodeLogin(QStringLiteral("alice"), QString::fromLatin1(md5Hex("secret")), login);
    first.socket.write(login);
    first.readReply(500);
    QCOMPARE(first.received, FakeServer::header(totalSize, MT_LoginOk));

    Client second;
    QVERIFY(loggedIn(second));
    QCOMPARE(second.command(MT_JobStatus), qint64(MT_JobStatusReply));
}

void TestDevServer::dropAfter_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("bytesBeforeClose");

    const int solverListSize = FakeServer::textList(MT_SolverListReply, defaultSolvers).size();
    QTest::newRow("without a reply")
        << QStringList { QStringLiteral("--drop-after"), QStringLiteral("2") } << 0;
    QTest::newRow("in the middle of the reply")
        << QStringList { QStringLiteral("--drop-after"), QStringLiteral("2"),
                         QStringLiteral("--drop-mid-reply") }
        << solverListSize / 2;
}

void TestDevServer::dropAfter()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, bytesBeforeClose);
    QVERIFY(startServer(arguments));

    for (int connection = 0; connection < 2; ++connection) {
        Client client;
        QVERIFY(loggedIn(client));
        QCOMPARE(client.command(MT_JobStatus), qint64(MT_JobStatusReply));
        QCOMPARE(client.command(MT_SolverList), qint64(-1));
        QVERIFY(client.waitUntilClosed());
        QCOMPARE(client.received,
                 FakeServer::textList(MT_SolverListReply, defaultSolvers).left(bytesBeforeClose));
    }
}

void TestDevServer::shapedRepliesArriveLateButWhole_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("minimumMs");

    // The solver list reply of 80 bytes comes in 10 segments with 9 pauses.
    QTest::newRow("delay") << QStringList { QStringLiteral("--reply-delay-ms"),
                                            QStringLiteral("300") }
                           << 300;
    QTest::newRow("segments") << QStringList {
        QStringLiteral("--segment-bytes"), QStringLiteral("8"),
        QStringLiteral("--segment-pause-ms"), QStringLiteral("40")
    } << 350;
}

void TestDevServer::shapedRepliesArriveLateButWhole()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, minimumMs);
    QVERIFY(startServer(arguments));
    Client client;
    QVERIFY(loggedIn(client));

    QByteArray bytes;
    encodeCommand(MT_SolverList, bytes);
    QElapsedTimer clock;
    clock.start();
    const Reply reply = client.request(bytes);
    QVERIFY2(clock.elapsed() >= minimumMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(reply.message, FakeServer::textList(MT_SolverListReply, defaultSolvers));
}

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
