#include "WindowFixture.h"
#include "gui/CalvaroClientBase.h"
#include "protocol/Protocol.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace VLK;

namespace {

// Writes every signal of a connection object into one ordered log. The log is
// the context of its connections, so a connection object that outlives it
// (and reports its state as it goes) writes into nothing.
struct SignalLog : QObject
{
    QStringList entries;

    explicit SignalLog(CalvaroClientBase &client)
    {
        connect(&client, &CalvaroClientBase::connectionStateChanged, this,
                [this](bool c) { entries << QStringLiteral("state %1").arg(c); });
        connect(&client, &CalvaroClientBase::newMessageReceived, this,
                [this](int t, qint64 s) { entries << QStringLiteral("new %1 %2").arg(t).arg(s); });
        connect(&client, &CalvaroClientBase::progress, this, [this](int n, bool e) {
            entries << QStringLiteral("progress %1 %2").arg(n).arg(e);
        });
        connect(&client, &CalvaroClientBase::addStatusMessage, this,
                [this](const QString &m) { entries << QStringLiteral("status ") + m; });
        connect(&client, &CalvaroClientBase::msgReceived, this,
                [this](int t) { entries << QStringLiteral("msg %1").arg(t); });
    }
    QStringList matching(const QString &prefix) const
    {
        QStringList found;
        for (const QString &entry : entries) {
            if (entry.startsWith(prefix))
                found << entry;
        }
        return found;
    }
};

// A loopback port whose accept queue is full, so that a further connection
// attempt stays pending instead of being accepted or refused.
struct UnansweredPort
{
    int listener = -1;
    QList<QTcpSocket *> fillers;
    quint16 port = 0; // 0: the port could not be set up

    UnansweredPort()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(listener, 0) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        for (int i = 0; i < 4; ++i) {
            auto *filler = new QTcpSocket;
            filler->connectToHost(QHostAddress::LocalHost, port);
            filler->waitForConnected(200);
            fillers << filler;
        }
    }
    ~UnansweredPort()
    {
        qDeleteAll(fillers);
        if (listener >= 0)
            ::close(listener);
    }
};

} // namespace

class TestClientBase : public WindowFixture
{
    Q_OBJECT

private slots:
    void loginOkRunsTheWholeSequence();
    void loginOkAfterTheConnectionIsGone();
    void splitHeaderShowsTheBoxAndThenReadsOn();
    void largeDownloadInSegments();
    void announcedSizes_data();
    void announcedSizes();
    void surplusBytesAreNeverDispatched();
    void headerOnlyReplyFollowedByAnother();
    void unknownReplyTypeIsIgnored();
    void commandErrorsShowTheBox_data();
    void commandErrorsShowTheBox();
    void logoutReportsDisconnected();
    void socketErrors();
    void timersEndWaitsButNotDownloads();

private:
    void setUpWindow() override { m_client = std::make_unique<CalvaroClientBase>(); }
    void tearDownWindow() override { m_client.reset(); }
    bool connectClient(CalvaroClientBase &client, FakeServer &server);

    std::unique_ptr<CalvaroClientBase> m_client;
};

bool TestClientBase::connectClient(CalvaroClientBase &client, FakeServer &server)
{
    QSignalSpy established(&client, &CalvaroClientBase::connectionEstablished);
    client.connectToServer(QStringLiteral("127.0.0.1"), server.port());
    return (established.count() > 0 || established.wait(5000)) && server.waitForClient();
}

void TestClientBase::loginOkRunsTheWholeSequence()
{
    QVERIFY(connectClient(*m_client, *m_server));
    m_client->m_solvers = QStringList { QStringLiteral("stale") };
    SignalLog log(*m_client);
    m_client->awaitReply();
    m_server->send(FakeServer::reply(MT_LoginOk));
    QVERIFY(m_server->waitForRequests(1));
    QCOMPARE(log.entries,
             (QStringList { QStringLiteral("state 0"), QStringLiteral("new 100 16"),
                            QStringLiteral("progress 16 1"), QStringLiteral("progress 0 0"),
                            QStringLiteral("state 1"), QStringLiteral("status Login successful"),
                            QStringLiteral("msg 100"),
                            QStringLiteral("status Requesting solver list..."),
                            QStringLiteral("state 0") }));
    QCOMPARE(m_server->requestTypes(), QList<qint64> { MT_SolverList });
    QVERIFY(m_client->m_solvers.isEmpty());
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestClientBase::loginOkAfterTheConnectionIsGone()
{
    QVERIFY(connectClient(*m_client, *m_server));
    m_client->awaitReply();
    SignalLog log(*m_client);
    // The reply and the close arrive together; the solver request cannot go out.
    m_server->send(FakeServer::reply(MT_LoginOk));
    m_server->dropClient();
    QVERIFY(m_dialogs->waitForBoxes(1));
    QTRY_VERIFY(log.entries.contains(QStringLiteral("status Not connected")));
    QVERIFY(log.entries.contains(QStringLiteral("msg 100")));
    QCOMPARE(log.matching(QStringLiteral("state ")).last(), QStringLiteral("state 0"));
    QCOMPARE(m_dialogs->boxes.at(0).text, QStringLiteral("Remote host closed the connection."));
}

void TestClientBase::splitHeaderShowsTheBoxAndThenReadsOn()
{
    QVERIFY(connectClient(*m_client, *m_server));
    m_client->awaitReply();
    QSignalSpy received(m_client.get(), &CalvaroClientBase::msgReceived);
    const QByteArray reply
        = FakeServer::textList(MT_JobStatusReply, { QStringLiteral("s\np\nQueued\nm") });
    m_server->send(reply.left(10));
    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxes.at(0).icon, QMessageBox::Critical);
    QCOMPARE(m_dialogs->boxes.at(0).title, QStringLiteral("Receiving message"));
    QCOMPARE(m_dialogs->boxes.at(0).text,
             QStringLiteral("Minimum message size of 16 Bytes expected, only got 10 Bytes."));
    QCOMPARE(m_dialogs->boxes.at(0).parent.data(), m_client.get());
    m_server->send(reply.mid(10));
    QVERIFY(received.wait(5000));
    QCOMPARE(received.at(0).at(0).toInt(), int(MT_JobStatusReply));
    QCOMPARE(m_client->m_messageBuffer, reply);
    QCOMPARE(m_dialogs->boxes.size(), 1);
}

void TestClientBase::largeDownloadInSegments()
{
    QVERIFY(connectClient(*m_client, *m_server));
    m_client->awaitReply(true);
    SignalLog log(*m_client);
    QByteArray payload(1000000, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i % 251);
    const QByteArray reply = FakeServer::reply(MT_DownloadJobReply, payload);
    m_server->sendInSegments(reply, { 16, 100000, 300000, 250000, 200000 }, 40);
    QTRY_VERIFY(log.entries.contains(QStringLiteral("msg 104")));

    QCOMPARE(log.matching(QStringLiteral("new ")),
             QStringList { QStringLiteral("new 104 1000016") });
    QCOMPARE(log.matching(QStringLiteral("msg ")), QStringList { QStringLiteral("msg 104") });
    const QStringList progress = log.matching(QStringLiteral("progress "));
    QVERIFY(progress.size() >= 3);
    QCOMPARE(progress.last(), QStringLiteral("progress 0 0"));
    QCOMPARE(progress.at(progress.size() - 2), QStringLiteral("progress 1000016 1"));
    int previous = 0;
    for (int i = 0; i < progress.size() - 1; ++i) {
        const int bytes = progress.at(i).section(u' ', 1, 1).toInt();
        QVERIFY(bytes > previous);
        previous = bytes;
    }
    QVERIFY(m_client->m_messageBuffer == reply);
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestClientBase::announcedSizes_data()
{
    QTest::addColumn<qint64>("totalSize");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("16") << qint64(16) << true;
    QTest::newRow("1 GByte") << qint64(1073741824) << true;
    QTest::newRow("1 GByte + 1") << qint64(1073741825) << false;
    QTest::newRow("sign bit") << qint64(-16) << false;
    QTest::newRow("0") << qint64(0) << false;
    QTest::newRow("1") << qint64(1) << false;
    QTest::newRow("15") << qint64(15) << false;
}

void TestClientBase::announcedSizes()
{
    QFETCH(qint64, totalSize);
    QFETCH(bool, accepted);
    QVERIFY(connectClient(*m_client, *m_server));
    m_client->awaitReply();
    SignalLog log(*m_client);
    m_server->send(FakeServer::header(totalSize, MT_DownloadJobReply));

    if (accepted) {
        QTRY_VERIFY(!log.matching(QStringLiteral("new ")).isEmpty());
        QCOMPARE(log.matching(QStringLiteral("new ")),
                 QStringList { QStringLiteral("new 104 %1").arg(totalSize) });
        // An announcement alone reserves next to nothing.
        QVERIFY(m_client->m_messageBuffer.capacity() <= 1 << 20);
        QVERIFY(m_dialogs->boxes.isEmpty());
        return;
    }
    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxes.at(0).title, QStringLiteral("Message error"));
    if (totalSize > 16 || totalSize < 0)
        QCOMPARE(
            m_dialogs->boxes.at(0).text,
            QStringLiteral("Cannot download message, limit for 32bit applications is 1GByte."));
    else
        QCOMPARE(
            m_dialogs->boxes.at(0).text,
            QStringLiteral("Invalid message size of %1 Bytes received, at least 16 Bytes expected.")
                .arg(totalSize));
    QTRY_COMPARE(m_client->m_tcpSocket->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(log.matching(QStringLiteral("new ")).isEmpty());
    QVERIFY(log.matching(QStringLiteral("msg ")).isEmpty());
    QCOMPARE(log.entries.last(), QStringLiteral("state 0"));
    QVERIFY(log.entries.contains(QStringLiteral("status Not connected")));
    // The client can connect again at once.
    QVERIFY(connectClient(*m_client, *m_server));
}

void TestClientBase::surplusBytesAreNeverDispatched()
{
    QVERIFY(connectClient(*m_client, *m_server));
    m_client->awaitReply();
    SignalLog log(*m_client);
    const QByteArray first = FakeServer::textList(MT_SolverListReply, { QStringLiteral("fem") });
    const QByteArray second = FakeServer::reply(MT_SubmitJobOk);
    m_server->send(first.left(20));
    QTRY_VERIFY(!log.matching(QStringLiteral("progress 20")).isEmpty());
    QTest::ignoreMessage(QtDebugMsg, "Bad request, message size mismatch.");
    m_server->send(first.mid(20) + second);
    QTRY_COMPARE(m_client->m_tcpSocket->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxes.at(0).title, QStringLiteral("Message error"));
    QCOMPARE(m_dialogs->boxes.at(0).text,
             QStringLiteral(
                 "The server sent more data than its reply announced; the connection was closed."));
    QVERIFY(log.matching(QStringLiteral("msg ")).isEmpty());
    QCOMPARE(log.entries.mid(log.entries.size() - 3),
             (QStringList { QStringLiteral("progress 0 0"), QStringLiteral("status Not connected"),
                            QStringLiteral("state 0") }));
    QVERIFY(m_client->m_messageBuffer.size() <= first.size());
}

void TestClientBase::headerOnlyReplyFollowedByAnother()
{
    QVERIFY(connectClient(*m_client, *m_server));
    m_client->awaitReply();
    SignalLog log(*m_client);
    m_server->send(FakeServer::reply(MT_SubmitJobOk) + FakeServer::reply(MT_RemoveJobOk));
    QTRY_VERIFY(log.entries.contains(QStringLiteral("msg 103")));
    QTest::qWait(50);
    // The second reply waits in the socket until more data arrives.
    QCOMPARE(log.matching(QStringLiteral("msg ")), QStringList { QStringLiteral("msg 103") });
    QCOMPARE(m_client->m_tcpSocket->bytesAvailable(), qint64(16));
    m_server->send(FakeServer::reply(MT_KillJobOk));
    QTRY_VERIFY(log.entries.contains(QStringLiteral("msg 106")));
}

void TestClientBase::unknownReplyTypeIsIgnored()
{
    QVERIFY(connectClient(*m_client, *m_server));
    m_client->awaitReply();
    SignalLog log(*m_client);
    m_server->send(FakeServer::reply(150, "whatever"));
    QTRY_VERIFY(log.entries.contains(QStringLiteral("state 1")));
    QTest::qWait(20);
    QCOMPARE(log.entries,
             (QStringList { QStringLiteral("new 150 24"), QStringLiteral("progress 24 1"),
                            QStringLiteral("progress 0 0"), QStringLiteral("state 1") }));
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestClientBase::commandErrorsShowTheBox_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("answersLogin");
    QTest::addColumn<QAbstractSocket::SocketState>("socketState");
    QTest::addColumn<QStringList>("lastEntries");
    const QStringList refused { QStringLiteral("state 1"), QStringLiteral("status Login refused"),
                                QStringLiteral("state 0") };
    QTest::newRow("204") << int(MT_CommandError1) << false << QAbstractSocket::ConnectedState
                         << QStringList { QStringLiteral("state 1") };
    QTest::newRow("205") << int(MT_CommandError2) << false << QAbstractSocket::ConnectedState
                         << QStringList { QStringLiteral("state 1") };
    // A refused login closes the connection, so that the next Login starts afresh.
    QTest::newRow("204 to the login")
        << int(MT_CommandError1) << true << QAbstractSocket::UnconnectedState << refused;
    QTest::newRow("205 to the login")
        << int(MT_CommandError2) << true << QAbstractSocket::UnconnectedState << refused;
}

void TestClientBase::commandErrorsShowTheBox()
{
    QFETCH(int, type);
    QFETCH(bool, answersLogin);
    QFETCH(QAbstractSocket::SocketState, socketState);
    QFETCH(QStringList, lastEntries);
    QVERIFY(connectClient(*m_client, *m_server));
    if (!answersLogin) {
        QSignalSpy received(m_client.get(), &CalvaroClientBase::msgReceived);
        m_client->awaitReply();
        m_server->send(FakeServer::reply(MT_SubmitJobOk));
        QVERIFY(received.wait(5000));
    }
    m_client->awaitReply();
    SignalLog log(*m_client);
    m_server->send(FakeServer::reply(type));
    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxes.at(0).icon, QMessageBox::Critical);
    QCOMPARE(m_dialogs->boxes.at(0).title, QStringLiteral("Command failed"));
    QCOMPARE(m_dialogs->boxes.at(0).text,
             QStringLiteral("Error processing command, see server log."));
    QVERIFY(log.matching(QStringLiteral("msg ")).isEmpty());
    QCOMPARE(m_client->m_tcpSocket->state(), socketState);
    QCOMPARE(log.entries.mid(log.entries.size() - lastEntries.size()), lastEntries);
}

void TestClientBase::logoutReportsDisconnected()
{
    QVERIFY(connectClient(*m_client, *m_server));
    m_client->awaitReply();
    SignalLog log(*m_client);
    m_server->send(FakeServer::reply(MT_LogoutOk));
    QTRY_VERIFY(log.entries.contains(QStringLiteral("msg 101")));
    QCOMPARE(log.entries.mid(3),
             (QStringList { QStringLiteral("state 1"), QStringLiteral("status Logged out"),
                            QStringLiteral("msg 101"), QStringLiteral("state 0") }));
    // Closed by the client, so that the next Login starts afresh; no error report.
    QCOMPARE(m_client->m_tcpSocket->state(), QAbstractSocket::UnconnectedState);
    QTRY_VERIFY(!m_server->hasClient());
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestClientBase::socketErrors()
{
    // Refused: nothing listens on the port any more.
    const quint16 port = m_server->port();
    m_server->stopListening();
    SignalLog log(*m_client);
    m_client->connectToServer(QStringLiteral("127.0.0.1"), port);
    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxes.at(0).icon, QMessageBox::Information);
    QCOMPARE(m_dialogs->boxes.at(0).title, QStringLiteral("Client"));
    QCOMPARE(
        m_dialogs->boxes.at(0).text,
        QStringLiteral("The connection was refused by the peer. Make sure the server is running."));
    // Not connected already while the box is open.
    QTRY_COMPARE(log.entries,
                 (QStringList { QStringLiteral("state 0"), QStringLiteral("state 0"),
                                QStringLiteral("status Not connected") }));

    // Closed by the server while connected.
    QVERIFY(m_server->listen());
    QVERIFY(connectClient(*m_client, *m_server));
    m_dialogs->clear();
    m_server->dropClient();
    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxes.at(0).text, QStringLiteral("Remote host closed the connection."));
}

void TestClientBase::timersEndWaitsButNotDownloads()
{
    // Four waits run side by side so the slow timers cost their time once.
    UnansweredPort unanswered;
    QVERIFY(unanswered.port != 0);
    CalvaroClientBase connecting;
    SignalLog connectingLog(connecting);
    connecting.connectToServer(QStringLiteral("127.0.0.1"), unanswered.port);
    QCOMPARE(connecting.m_tcpSocket->state(), QAbstractSocket::ConnectingState);

    CalvaroClientBase silent;
    FakeServer silentServer;
    QVERIFY(silentServer.listen());
    QVERIFY(connectClient(silent, silentServer));
    SignalLog silentLog(silent);
    silent.awaitReply();

    CalvaroClientBase downloading;
    FakeServer downloadServer;
    QVERIFY(downloadServer.listen());
    QVERIFY(connectClient(downloading, downloadServer));
    SignalLog downloadLog(downloading);
    downloading.awaitReply(true);

    CalvaroClientBase refused;
    const quint16 closedPort = unanswered.port + 1 == silentServer.port() ? 1 : unanswered.port + 1;
    refused.connectToServer(QStringLiteral("127.0.0.1"), closedPort);

    const QByteArray reply = FakeServer::reply(MT_DownloadJobReply, QByteArray(11000, 'x'));
    for (int second = 0; second < 11; ++second) {
        downloadServer.send(reply.mid(second * 1000, 1000));
        QTest::qWait(1000);
    }
    downloadServer.send(reply.mid(11000));

    QTRY_VERIFY(downloadLog.entries.contains(QStringLiteral("msg 104")));
    QVERIFY(downloading.m_messageBuffer == reply);

    QCOMPARE(m_dialogs->boxTexts(&connecting),
             QStringList { QStringLiteral("Connection time out: Timeout on server connection.") });
    QCOMPARE(connectingLog.entries.last(), QStringLiteral("state 0"));
    QCOMPARE(connecting.m_tcpSocket->state(), QAbstractSocket::UnconnectedState);

    QCOMPARE(m_dialogs->boxTexts(&silent),
             QStringList { QStringLiteral("Server timeout: Server timed out.") });
    QVERIFY(silentLog.entries.contains(QStringLiteral("status Server timeout")));
    QCOMPARE(silentLog.entries.last(), QStringLiteral("state 0"));
    QTRY_COMPARE(silent.m_tcpSocket->state(), QAbstractSocket::UnconnectedState);

    QVERIFY(m_dialogs->boxTexts(&downloading).isEmpty());
    QCOMPARE(m_dialogs->boxTexts(&refused).size(), 1); // refused, and no time-out after it
}

QTEST_MAIN(TestClientBase)
#include "tst_clientbase.moc"
