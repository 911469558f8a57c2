#include "FakeServer.h"
#include "protocol/CalvaroClientCommands.h"
#include "protocol/Protocol.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace VLK;
namespace Commands = VLK::CalvaroClientCommands;

namespace {

struct RecordingNotification : Commands::ProgressNotification
{
    QList<QPair<qint64, qint64>> calls;
    bool *abortFlag = nullptr;
    int abortOnCall = -1; // sets the flag during this call (0-based)

    void notify(qint64 bytesSent, qint64 totalBytes) override
    {
        calls.append({ bytesSent, totalBytes });
        if (abortFlag && calls.size() - 1 == abortOnCall)
            *abortFlag = true;
    }
};

QByteArray patternBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31) ^ (i >> 8));
    return bytes;
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void smallRequestsReachTheServer();
    void everyFunctionNeedsAConnectedSocket();
    void uploadBlocks_data();
    void uploadBlocks();
    void cancelOnTheLastBlockDisconnects();
    void abortFlagSetOnEntryDoesNotCancel();
    void missingOrUnreadableArchiveSendsNothing();
    void slowReaderKeepsTheQueueShort();

private:
    QString writeArchive(const QByteArray &content);
    bool connectClient();

    FakeServer *m_server = nullptr;
    QTcpSocket *m_socket = nullptr;
    QTemporaryDir *m_dir = nullptr;
};

void TestCommands::init()
{
    Commands::lastErrorMessage.clear();
    m_server = new FakeServer(this);
    QVERIFY(m_server->listen());
    m_socket = new QTcpSocket(this);
    m_dir = new QTemporaryDir;
}

void TestCommands::cleanup()
{
    delete m_socket;
    delete m_server;
    delete m_dir;
}

QString TestCommands::writeArchive(const QByteArray &content)
{
    const QString path = m_dir->filePath(QStringLiteral("project.zip"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(content);
    return path;
}

bool TestCommands::connectClient()
{
    m_socket->connectToHost(QHostAddress::LocalHost, m_server->port());
    return m_socket->waitForConnected(5000) && m_server->waitForClient();
}

void TestCommands::smallRequestsReachTheServer()
{
    QVERIFY(connectClient());
    QVERIFY(Commands::sendCommand(m_socket, MT_JobStatus));
    QVERIFY(Commands::sendLogin(m_socket, QStringLiteral(" ab "), QString(32, QLatin1Char('f'))));
    QVERIFY(Commands::sendStringCommand(m_socket, MT_RemoveJob, QStringLiteral("u/j/\u00e4.prja")));
    QVERIFY(m_server->waitForRequests(3));
    QByteArray expected;
    encodeCommand(MT_JobStatus, expected);
    QCOMPARE(m_server->requests().at(0).bytes, expected);
    encodeLogin(QStringLiteral(" ab "), QString(32, QLatin1Char('f')), expected);
    QCOMPARE(m_server->requests().at(1).bytes, expected);
    encodeStringCommand(QStringLiteral("u/j/\u00e4.prja"), MT_RemoveJob, expected);
    QCOMPARE(m_server->requests().at(2).bytes, expected);
    QVERIFY(Commands::lastErrorMessage.isEmpty());
}

void TestCommands::everyFunctionNeedsAConnectedSocket()
{
    const QString archive = writeArchive("content");
    // Still connecting: nothing goes out, and the archive is not even looked at.
    m_socket->connectToHost(QHostAddress::LocalHost, m_server->port());
    QCOMPARE(m_socket->state(), QAbstractSocket::ConnectingState);
    QVERIFY(!Commands::sendCommand(m_socket, MT_JobStatus));
    QCOMPARE(Commands::lastErrorMessage, QStringLiteral("Socket not connected."));
    Commands::lastErrorMessage.clear();
    QVERIFY(!Commands::sendLogin(m_socket, QStringLiteral("u"), QStringLiteral("d")));
    QCOMPARE(Commands::lastErrorMessage, QStringLiteral("Socket not connected."));
    Commands::lastErrorMessage.clear();
    QVERIFY(!Commands::sendStringCommand(m_socket, MT_KillJob, QStringLiteral("p")));
    QCOMPARE(Commands::lastErrorMessage, QStringLiteral("Socket not connected."));
    Commands::lastErrorMessage.clear();
    QVERIFY(!Commands::sendJob(m_socket, m_dir->filePath(QStringLiteral("nowhere.zip")), 0, {}, {},
                               {}, nullptr, nullptr));
    QCOMPARE(Commands::lastErrorMessage, QStringLiteral("Socket not connected."));
    QVERIFY(!Commands::sendCommand(nullptr, MT_JobStatus));

    QVERIFY(m_server->waitForClient());
    QTest::qWait(50);
    QVERIFY(m_server->received().isEmpty());
}

void TestCommands::uploadBlocks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<qint64>>("notified");
    QTest::newRow("empty") << 0 << QList<qint64> { 0 };
    QTest::newRow("one block") << 64000 << QList<qint64> { 0, 64000 };
    QTest::newRow("one byte more") << 64001 << QList<qint64> { 0, 64000, 64001 };
    QTest::newRow("several blocks")
        << 1000000
        << QList<qint64> { 0,      64000,  128000, 192000, 256000, 320000, 384000, 448000, 512000,
                           576000, 640000, 704000, 768000, 832000, 896000, 960000, 1000000 };
}

void TestCommands::uploadBlocks()
{
    QFETCH(int, size);
    QFETCH(QList<qint64>, notified);
    const QByteArray content = patternBytes(size);
    const QString archive = writeArchive(content);
    QVERIFY(connectClient());

    RecordingNotification notification;
    bool aborted = false;
    QVERIFY(Commands::sendJob(m_socket, archive, 1, QStringLiteral("model.prja"),
                              QStringLiteral("-np 4"), QStringLiteral("fem_static_2"), &aborted,
                              &notification));
    QList<qint64> sent;
    for (const auto &call : notification.calls) {
        sent.append(call.first);
        QCOMPARE(call.second, qint64(size));
    }
    QCOMPARE(sent, notified);

    QVERIFY(m_server->waitForRequests(1));
    const QByteArray text("project.zip\nfem_static_2\nmodel.prja\n-np 4\n1");
    const FakeServer::Request request = m_server->requests().at(0);
    QCOMPARE(request.type, qint64(MT_SubmitJob));
    QCOMPARE(request.totalSize, qint64(16 + 8 + text.size() + size));
    QCOMPARE(qFromBigEndian<qint64>(request.bytes.constData() + 16), qint64(text.size()));
    QCOMPARE(request.bytes.mid(24, text.size()), text);
    QVERIFY(request.bytes.mid(24 + text.size()) == content);
}

void TestCommands::cancelOnTheLastBlockDisconnects()
{
    const QString archive = writeArchive(patternBytes(128000));
    QVERIFY(connectClient());
    bool aborted = false;
    RecordingNotification notification;
    notification.abortFlag = &aborted;
    notification.abortOnCall = 2; // during the notify after the second (last) block
    QVERIFY(!Commands::sendJob(m_socket, archive, 0, {}, {}, {}, &aborted, &notification));
    QCOMPARE(Commands::lastErrorMessage, QStringLiteral("User aborted sending."));
    QCOMPARE(notification.calls.size(), 3);
    QTRY_VERIFY(m_socket->state() == QAbstractSocket::UnconnectedState);
}

void TestCommands::abortFlagSetOnEntryDoesNotCancel()
{
    const QString archive = writeArchive(patternBytes(1000));
    QVERIFY(connectClient());
    bool aborted = true;
    QVERIFY(Commands::sendJob(m_socket, archive, 0, {}, {}, {}, &aborted, nullptr));
    QVERIFY(!aborted);
    QVERIFY(m_server->waitForRequests(1));
}

void TestCommands::missingOrUnreadableArchiveSendsNothing()
{
    QVERIFY(connectClient());
    const QString missing = m_dir->filePath(QStringLiteral("missing.zip"));
    QVERIFY(!Commands::sendJob(m_socket, missing, 0, {}, {}, {}, nullptr, nullptr));
    QCOMPARE(Commands::lastErrorMessage,
             QStringLiteral("File '%1' not found or cannot be accessed.").arg(missing));

    // A directory exists but cannot be opened as an archive.
    QVERIFY(!Commands::sendJob(m_socket, m_dir->path(), 0, {}, {}, {}, nullptr, nullptr));
    QCOMPARE(Commands::lastErrorMessage,
             QStringLiteral("Cannot open/access file '%1'.").arg(m_dir->path()));

    QTest::qWait(50);
    QVERIFY(m_server->received().isEmpty());
    QCOMPARE(m_socket->state(), QAbstractSocket::ConnectedState);
}

void TestCommands::slowReaderKeepsTheQueueShort()
{
    // The server does not read while the upload runs: the socket's own queue
    // must stay at a few blocks, not grow towards the archive's size.
    const int size = 48 * 1024 * 1024;
    const QString archive = writeArchive(patternBytes(size));
    QVERIFY(connectClient());

    struct QueueWatch : Commands::ProgressNotification
    {
        QTcpSocket *socket = nullptr;
        qint64 largestQueue = 0;
        int calls = 0;
        void notify(qint64, qint64) override
        {
            largestQueue = qMax(largestQueue, socket->bytesToWrite());
            ++calls;
        }
    } watch;
    watch.socket = m_socket;
    QVERIFY(Commands::sendJob(m_socket, archive, 0, {}, {}, {}, nullptr, &watch));
    QCOMPARE(watch.calls, 1 + (size + 63999) / 64000);
    QVERIFY2(watch.largestQueue <= 8 * 64000, QByteArray::number(watch.largestQueue).constData());
    QVERIFY(m_server->waitForRequests(1, 30000));
    QCOMPARE(m_server->requests().at(0).bytes.size(), 16 + 8 + 16 + size);
}

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
