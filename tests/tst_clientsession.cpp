// The connection core that the window and calvaro both stand on, against a
// server that misbehaves: every reply either completes whole or ends in one
// typed failure that names the server, with the connection closed.
#include "FakeServer.h"
#include "protocol/CalvaroClientCommands.h"
#include "protocol/ClientSession.h"
#include "protocol/Protocol.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

using namespace VLK;
using Kind = ClientSession::FailureKind;

Q_DECLARE_METATYPE(ClientSession::FailureKind)

namespace {

QByteArray resultBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 31 % 253);
    return bytes;
}

} // namespace

class TestClientSession : public QObject
{
    Q_OBJECT

private slots:
    void hostileReplies_data();
    void hostileReplies();
};

void TestClientSession::hostileReplies_data()
{
    QTest::addColumn<bool>("download"); // streamed into a file, no reply time-out
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("then"); // what happens once the reply is under way
    QTest::addColumn<int>("failure"); // -1: the reply completes

    const QByteArray result = resultBytes(3 << 20);
    const QByteArray download = FakeServer::reply(MT_DownloadJobReply, result);
    QTest::newRow("result above the in-memory limit") << true << download << QString() << -1;
    QTest::newRow("reply held in memory above the limit")
        << false << FakeServer::textList(MT_JobStatusReply, { QString(2 << 20, u'j') }) << QString()
        << int(Kind::MessageTooLarge);
    QTest::newRow("negative size, even for a result")
        << true << FakeServer::header(-24, MT_DownloadJobReply) << QString()
        << int(Kind::MessageTooLarge);
    QTest::newRow("a web server's page")
        << false << QByteArrayLiteral("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
        << QString() << int(Kind::NotASolverServer);
    QTest::newRow("size below the header")
        << false << FakeServer::header(5, MT_JobStatusReply) + "abc" << QString()
        << int(Kind::MessageTooSmall);
    QTest::newRow("more than announced")
        << false << FakeServer::reply(MT_JobStatusReply, FakeServer::int64(0)) + "surplus"
        << QString() << int(Kind::SizeMismatch);
    QTest::newRow("result stops coming")
        << true << download.left(1 << 20) << QString() << int(Kind::DownloadStalled);
    QTest::newRow("result cancelled")
        << true << download.left(1 << 20) << "cancel" << int(Kind::Cancelled);
    QTest::newRow("server leaves mid-result")
        << true << download.left(1 << 20) << "drop" << int(Kind::RemoteHostClosed);
    QTest::newRow("result file refuses its bytes")
        << true << download << "read-only sink" << int(Kind::ResultNotWritten);
}

void TestClientSession::hostileReplies()
{
    QFETCH(bool, download);
    QFETCH(QByteArray, reply);
    QFETCH(QString, then);
    QFETCH(int, failure);

    FakeServer server;
    QVERIFY(server.listen());
    ClientSession session;
    session.setLimitsForTesting(1 << 20, 300);
    QSignalSpy connected(&session, &ClientSession::connected);
    session.connectToServer(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(connected.wait(5000) && server.waitForClient());

    QBuffer sink;
    QVERIFY(sink.open(then == QStringLiteral("read-only sink") ? QIODevice::ReadOnly
                                                               : QIODevice::WriteOnly));
    const int request = download ? MT_DownloadJob : MT_JobStatus;
    server.setReply(request, reply);
    if (then == QStringLiteral("drop"))
        connect(&server, &FakeServer::requestReceived, &server, &FakeServer::dropClient,
                Qt::QueuedConnection);
    if (then == QStringLiteral("cancel"))
        connect(&session, &ClientSession::messageData, &session,
                [&session] { session.cancelTransfer(); });
    if (download)
        session.streamNextDownloadTo(&sink);
    QVERIFY(download ? CalvaroClientCommands::sendStringCommand(session.socket(), request,
                                                                QStringLiteral("p"))
                     : CalvaroClientCommands::sendCommand(session.socket(), request));
    QSignalSpy completed(&session, &ClientSession::messageCompleted);
    QSignalSpy failed(&session, &ClientSession::failed);
    session.awaitReply(download);

    QTRY_VERIFY_WITH_TIMEOUT(completed.count() + failed.count() > 0, 10000);
    if (failure == -1) {
        QCOMPARE(completed.count(), 1);
        QVERIFY(failed.isEmpty());
        QVERIFY(session.isConnected());
        QVERIFY(sink.data() == reply.mid(MessageHeaderSize));
        QCOMPARE(session.messageBuffer().size(), int(MessageHeaderSize));
        return;
    }
    QCOMPARE(failed.count(), 1);
    QVERIFY(completed.isEmpty());
    const auto reported = failed.at(0).at(0).value<ClientSession::Failure>();
    QCOMPARE(int(reported.kind), failure);
    // A failure of the connection says which server it was.
    if (reported.kind != Kind::ResultNotWritten)
        QVERIFY2(reported.text.contains(QStringLiteral("127.0.0.1, port %1").arg(server.port())),
                 qPrintable(reported.text));
    QVERIFY(!session.isConnected());
    // Nothing of a refused reply is kept in memory on its header's word.
    QVERIFY(session.messageBuffer().capacity() <= 1 << 20);
}

QTEST_MAIN(TestClientSession)
#include "tst_clientsession.moc"
