// The real window against a server that misbehaves in every way we could think
// of. For each case: no crash, no memory claimed on a header's word alone, the
// user told what happened, the window usable again, and no result file that
// was already on disk damaged.
#include "WindowFixture.h"
#include "gui/FunctionTestWidget.h"
#include "gui/StatusWidget.h"
#include "protocol/Protocol.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace VLK;

namespace {

const QString ProcessedJob
    = QStringLiteral("alice\nfem_static\nalice/job-0001/beam.prja\nProcessed\n"
                     "done\\|Ready for download: job-0001_results.zip\nyes");
const QString RunningJob
    = QStringLiteral("alice\nthermal\nalice/job-0002/plate.prja\nRunning (step 2/5)\n"
                     "step 1\\|step 2\nyes");
const QByteArray OldResult("results of an earlier download, to be kept");

const auto int64 = &FakeServer::int64;
const auto counted = &FakeServer::counted;

QByteArray jobList(const QStringList &jobs)
{
    return FakeServer::textList(MT_JobStatusReply, jobs);
}

// A reply whose payload is given raw, so that counts can lie.
QByteArray rawJobList(const QByteArray &payload)
{
    return FakeServer::reply(MT_JobStatusReply, payload);
}

// The whole of a client's window, logged in through its own login panel.
class Client
{
public:
    explicit Client(FakeServer &server)
        : m_server(server)
    {
        m_window.setOrganizationAndApplication(WindowFixture::Organization,
                                               WindowFixture::Application);
        m_window.readSettings();
        m_window.show();
    }

    template<class T> T *child(const char *name)
    {
        return m_window.findChild<T *>(QLatin1String(name));
    }
    QTableWidget *table() { return child<QTableWidget>("tableWidgetStatus"); }
    QString log() { return child<QPlainTextEdit>("plainTextEditStatus")->toPlainText(); }
    bool isConnected() { return m_window.m_tcpSocket->state() == QAbstractSocket::ConnectedState; }
    bool isIdle() { return child<QPushButton>("pushButtonLogout")->isEnabled(); }

    void startLogin()
    {
        child<QComboBox>("comboBoxServerIP")->setEditText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>("lineEditServerPort")->setText(QString::number(m_server.port()));
        child<QLineEdit>("lineEditUser")->setText(QStringLiteral("alice"));
        child<QLineEdit>("lineEditPassword")->setText(QStringLiteral("secret"));
        QTest::mouseClick(child<QPushButton>("pushButtonLogin"), Qt::LeftButton);
    }

    // Logs in (again) and waits for the job table of a well-behaved server.
    bool logIn()
    {
        startLogin();
        return QTest::qWaitFor([this] { return isIdle() && table()->rowCount() == 2; }, 10000);
    }

    void refresh() { QTest::mouseClick(child<QPushButton>("pushButtonStatus"), Qt::LeftButton); }

    void download(DialogHelper &dialogs, const QString &target)
    {
        table()->selectRow(rowOf(QStringLiteral("alice/job-0001/beam.prja")));
        dialogs.queueFileAnswer(target);
        QTest::mouseClick(child<QPushButton>("pushButtonDownload"), Qt::LeftButton);
    }

    int rowOf(const QString &path)
    {
        for (int row = 0; row < table()->rowCount(); ++row)
            if (table()->item(row, 3)->text() == path)
                return row;
        return -1;
    }

    FunctionTestWidget m_window;

private:
    FakeServer &m_server;
};

void answerLikeAServer(FakeServer &server)
{
    server.clearReplies();
    server.setReply(MT_Login, FakeServer::reply(MT_LoginOk));
    server.setReply(MT_SolverList,
                    FakeServer::textList(MT_SolverListReply, { QStringLiteral("fem_static") }));
    server.setReply(MT_JobStatus, jobList({ ProcessedJob, RunningJob }));
}

} // namespace

class TestHostileServer : public WindowFixture
{
    Q_OBJECT

private slots:
    void badReplies_data();
    void badReplies();
    void replyWithNoRequestOutstanding();
    void twoRepliesInOneSegment();
    void droppedMidDownloadKeepsTheOldResult();
    void announcedGigabyteThenSilence();
    void silentAndTricklingServersTimeOut();
    void downloadsStreamedToTheirFile_data();
    void downloadsStreamedToTheirFile();

private:
    void setUpWindow() override;
    void tearDownWindow() override;
    // The window works again: logged in anew if the connection went, or
    // answering a refresh if it stayed.
    void checkUsableAgain();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Client> m_client;
};

void TestHostileServer::setUpWindow()
{
    // Bad lists drop the running job; the log is to end with what they show.
    QSettings(WindowFixture::Organization, WindowFixture::Application)
        .setValue(QStringLiteral("Notifications/Enabled"), false);
    m_dir = std::make_unique<QTemporaryDir>();
    answerLikeAServer(*m_server);
    m_client = std::make_unique<Client>(*m_server);
    QVERIFY(m_client->logIn());
    m_dialogs->clear();
}

void TestHostileServer::tearDownWindow()
{
    m_client.reset();
    m_dir.reset();
}

void TestHostileServer::checkUsableAgain()
{
    answerLikeAServer(*m_server);
    m_dialogs->clear();
    if (!m_client->isConnected()) {
        QVERIFY(m_client->child<QPushButton>("pushButtonLogin")->isEnabled());
        QVERIFY(m_client->logIn());
    } else {
        QTRY_VERIFY(m_client->isIdle());
        m_client->table()->setRowCount(0);
        m_client->refresh();
        QTRY_COMPARE(m_client->table()->rowCount(), 2);
    }
    QVERIFY2(m_dialogs->boxes.isEmpty(), qPrintable(m_dialogs->boxTexts().join(u'\n')));
}

void TestHostileServer::badReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("closeAfterwards");
    QTest::addColumn<QString>("told"); // box "title: text", or the status line
    QTest::addColumn<int>("rowsShown"); // -1: the table is not looked at

    const QString tooLarge = QStringLiteral(
        "Message error: Cannot download message, limit for 32bit applications is 1GByte.");
    const QString tooSmall = QStringLiteral(
        "Message error: Invalid message size of %1 Bytes received, at least 16 Bytes expected.");
    const QString invalid
        = QStringLiteral("Invalid server reply: Invalid server reply (mismatching versions of "
                         "server and client?).");
    // A logged-in window shows no box for a connection that broke, and
    // reconnects by itself.
    const QString closed;

    QTest::newRow("size 0") << FakeServer::header(0, MT_JobStatusReply) << false << tooSmall.arg(0)
                            << -1;
    QTest::newRow("size 1") << FakeServer::header(1, MT_JobStatusReply) << false << tooSmall.arg(1)
                            << -1;
    QTest::newRow("size 15") << FakeServer::header(15, MT_JobStatusReply) + "x" << false
                             << tooSmall.arg(15) << -1;
    QTest::newRow("size 16") << FakeServer::header(16, MT_JobStatusReply) << false << invalid << 0;
    QTest::newRow("size 2^30 + 1")
        << FakeServer::header((1 << 30) + 1, MT_JobStatusReply) << false << tooLarge << -1;
    QTest::newRow("negative size")
        << FakeServer::header(-24, MT_JobStatusReply) << false << tooLarge << -1;
    QTest::newRow("item count past the end")
        << rawJobList(int64(3) + counted(ProcessedJob.toUtf8())) << false << "1 jobs for this user"
        << 1;
    QTest::newRow("2^62 items") << rawJobList(int64(qint64(1) << 62) + counted(RunningJob.toUtf8()))
                                << false << "1 jobs for this user" << 1;
    QTest::newRow("byte count past the end")
        << rawJobList(int64(1) + int64(5000) + ProcessedJob.toUtf8()) << false
        << "1 jobs for this user" << 1;
    QTest::newRow("byte count cuts a line")
        << rawJobList(int64(1) + int64(5000) + "fem\npath") << false << invalid << 0;
    QTest::newRow("invalid UTF-8")
        << rawJobList(int64(1) + counted("fem\n\xff\xfe/p\nQueued\n\xc3")) << false
        << "1 jobs for this user" << 1;
    QTest::newRow("zero byte") << rawJobList(int64(1)
                                             + counted(QByteArray("fem\np\0\nQueued\nm", 15)))
                               << false << invalid << 0;
    QTest::newRow("unknown type") << FakeServer::reply(150, "surprise") << false << QString() << 2;
    QTest::newRow("error reply") << FakeServer::reply(MT_CommandError2) << false
                                 << "Command failed: Error processing command, see server log."
                                 << 2;
    QTest::newRow("dropped mid-message")
        << jobList({ ProcessedJob }).left(40) << true << closed << -1;
    QTest::newRow("dropped after the header")
        << FakeServer::header(1 << 30, MT_JobStatusReply) << true << closed << -1;
}

void TestHostileServer::badReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, closeAfterwards);
    QFETCH(QString, told);
    QFETCH(int, rowsShown);

    m_server->setReply(MT_JobStatus, reply);
    if (closeAfterwards) // once the reply is out
        connect(m_server.get(), &FakeServer::requestReceived, m_server.get(),
                &FakeServer::dropClient, Qt::QueuedConnection);
    m_client->refresh();

    if (told.contains(QLatin1String(": "))) {
        QVERIFY(m_dialogs->waitForBoxes(1));
        QCOMPARE(m_dialogs->boxTexts(), QStringList { told });
    } else if (!told.isEmpty()) {
        QTRY_VERIFY(m_client->log().endsWith(told));
        QVERIFY(m_dialogs->boxes.isEmpty());
    }
    if (closeAfterwards) {
        QTRY_VERIFY(m_client->log().contains(QLatin1String("Connection lost: ")));
        QVERIFY(m_dialogs->boxes.isEmpty());
    }
    QTRY_VERIFY(m_client->isIdle() || !m_client->isConnected());
    if (rowsShown >= 0)
        QTRY_COMPARE(m_client->table()->rowCount(), rowsShown);
    QVERIFY(m_client->m_window.m_messageBuffer.capacity() <= 1 << 20);
    disconnect(m_server.get(), &FakeServer::requestReceived, m_server.get(), nullptr);
    checkUsableAgain();
}

void TestHostileServer::replyWithNoRequestOutstanding()
{
    // A removal confirmation nobody asked for: the job list is simply fetched again.
    m_server->clearReceived();
    m_server->send(FakeServer::reply(MT_RemoveJobOk));
    QVERIFY(m_server->waitForRequests(1));
    QCOMPARE(m_server->requestTypes(), QList<qint64> { MT_JobStatus });
    QTRY_VERIFY(m_client->isIdle());
    QVERIFY(m_dialogs->boxes.isEmpty());
    checkUsableAgain();
}

void TestHostileServer::twoRepliesInOneSegment()
{
    // After a reply with a payload, the next one's bytes are taken for surplus:
    // the stream is out of step and the connection ends.
    m_server->setReply(MT_JobStatus, jobList({ ProcessedJob }) + FakeServer::reply(MT_KillJobOk));
    QTest::ignoreMessage(QtDebugMsg, "Bad request, message size mismatch.");
    m_client->refresh();
    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxTexts(),
             QStringList { QStringLiteral(
                 "Message error: The server sent more data than its reply announced; the "
                 "connection was closed.") });
    QTRY_VERIFY(!m_client->isConnected());
    QVERIFY(m_client->log().endsWith(QLatin1String("Not connected")));
    checkUsableAgain();
}

void TestHostileServer::droppedMidDownloadKeepsTheOldResult()
{
    const QString target = m_dir->filePath(QStringLiteral("beam.7z"));
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(OldResult);
    file.close();

    QSignalSpy completed(m_client->child<StatusWidget>("statusWidget"),
                         &StatusWidget::downloadComplete);
    const QByteArray reply = FakeServer::reply(MT_DownloadJobReply, QByteArray(3000000, 'r'));
    m_server->setReply(MT_DownloadJob, reply.left(1500000));
    connect(m_server.get(), &FakeServer::requestReceived, m_server.get(), [this](qint64 type) {
        if (type == MT_DownloadJob)
            QTimer::singleShot(100, m_server.get(), &FakeServer::dropClient);
    });
    m_client->download(*m_dialogs, target);

    QTRY_VERIFY(m_client->log().contains(
        QLatin1String("The download was cut and is not repeated by itself")));
    // Only the question whether to replace the old file.
    QCOMPARE(m_dialogs->boxTitles(), QStringList { QStringLiteral("Save results") });
    QCOMPARE(completed.count(), 0);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), OldResult);
    file.close();
    disconnect(m_server.get(), &FakeServer::requestReceived, m_server.get(), nullptr);
    checkUsableAgain();
}

void TestHostileServer::announcedGigabyteThenSilence()
{
    // A download may take any time, so only the server can end this one; while
    // it waits, the announcement alone has cost the client next to nothing.
    m_server->setReply(MT_DownloadJob, FakeServer::header(1 << 30, MT_DownloadJobReply) + "abc");
    m_client->download(*m_dialogs, m_dir->filePath(QStringLiteral("big.7z")));
    QTRY_COMPARE(m_client->m_window.m_messageBuffer.size() > 0, true);
    QVERIFY(m_client->m_window.m_messageBuffer.capacity() <= 1 << 20);
    QVERIFY(!m_client->isIdle());
    m_server->dropClient();
    QTRY_VERIFY(m_client->log().contains(QLatin1String("Connection lost: ")));
    QVERIFY(m_dialogs->boxes.isEmpty());
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("big.7z"))));
    checkUsableAgain();
}

void TestHostileServer::silentAndTricklingServersTimeOut()
{
    // Both wait for the ten-second reply timer, so they run side by side.
    FakeServer silentServer;
    QVERIFY(silentServer.listen());
    Client silent(silentServer); // connects, sends its login, never hears back
    silent.startLogin();
    QVERIFY(silentServer.waitForRequests(1));

    m_server->clearReplies();
    QElapsedTimer clock;
    clock.start();
    m_client->refresh();
    QVERIFY(m_server->waitForRequests(1));
    const QByteArray reply = jobList({ ProcessedJob, RunningJob });
    int sent = 0;
    // Until the window gives the connection up, as it then makes a new one.
    while (clock.elapsed() < 11500 && sent < reply.size()
           && !m_client->log().contains(QLatin1String("Connection lost: "))) {
        m_server->send(reply.mid(sent++, 1));
        QTest::qWait(1000);
    }

    // Every byte of an incomplete header is reported as it comes, then the
    // timer ends the wait: without a box for the window that had logged in.
    const QStringList trickled = m_dialogs->boxTexts(&m_client->m_window);
    QVERIFY(trickled.size() >= 1);
    for (int i = 0; i < trickled.size(); ++i)
        QCOMPARE(trickled.at(i),
                 QStringLiteral("Receiving message: Minimum message size of 16 Bytes "
                                "expected, only got %1 Bytes.")
                     .arg(i + 1));
    QCOMPARE(m_dialogs->boxTexts(&silent.m_window),
             QStringList { QStringLiteral("Server timeout: Server timed out.") });
    QTRY_VERIFY(!silent.isConnected());
    QTRY_VERIFY(m_client->log().contains(QLatin1String("Connection lost: ")));
    QVERIFY(silent.log().endsWith(QLatin1String("Server timeout")));
    // The try under way waits for a login reply that this server never sends.
    answerLikeAServer(*m_server);
    QTest::mouseClick(m_client->child<QPushButton>("pushButtonReconnectNow"), Qt::LeftButton);
    QTRY_VERIFY(m_client->log().contains(QLatin1String("Reconnected")));
    checkUsableAgain();
}

void TestHostileServer::downloadsStreamedToTheirFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("lastLogLines");
    QTest::newRow("larger than a reply held in memory")
        << "complete" << QStringList()
        << QStringList { QStringLiteral("Saved result of alice/job-0001/beam.prja to %1") };
    QTest::newRow("server stops sending")
        << "stall"
        << QStringList { QStringLiteral(
               "Download failed: The server sent nothing for 1 seconds, so the "
               "download was ended and the connection closed.") }
        << QStringList { QStringLiteral("Not connected") };
    QTest::newRow("cancelled by the user")
        << "cancel" << QStringList()
        << QStringList { QStringLiteral("Download cancelled; the connection was closed"),
                         QStringLiteral("Not connected") };
}

// A result goes into a temporary file beside its target as it arrives:
// its size is not bounded by memory, and a download that ends early leaves
// the earlier file as it was and nothing beside it.
void TestHostileServer::downloadsStreamedToTheirFile()
{
    QFETCH(QString, how);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, lastLogLines);
    m_client->m_window.session().setLimitsForTesting(1 << 20, 1000);
    const QString target = m_dir->filePath(QStringLiteral("beam.7z"));
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(OldResult) == OldResult.size());
    file.close();
    QByteArray result(3 << 20, '\0');
    for (int i = 0; i < result.size(); ++i)
        result[i] = char(i * 31 % 253);
    const QByteArray reply = FakeServer::reply(MT_DownloadJobReply, result);
    m_server->setReply(MT_DownloadJob,
                       how == QStringLiteral("complete") ? reply : reply.left(1 << 20));
    auto *statusWidget = m_client->child<StatusWidget>("statusWidget");
    QSignalSpy completed(statusWidget, &StatusWidget::downloadComplete);
    m_client->download(*m_dialogs, target);
    m_dialogs->clear(); // the question whether to replace the old file

    if (how == QStringLiteral("cancel")) {
        auto *cancel = m_client->child<QPushButton>("pushButtonCancelDownload");
        QTRY_VERIFY(cancel->isVisible() && cancel->focusPolicy() & Qt::TabFocus);
        QTest::keyClick(cancel, Qt::Key_Space);
    }
    if (how == QStringLiteral("complete")) {
        QVERIFY(completed.wait(10000));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == result);
    } else {
        QTRY_VERIFY(!m_client->isConnected());
        QTRY_VERIFY(m_client->child<QPushButton>("pushButtonLogin")->isEnabled());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), OldResult);
    }
    file.close();
    QTRY_COMPARE(m_dialogs->boxTexts(), boxes);
    lastLogLines.replaceInStrings(QStringLiteral("%1"), target);
    QTRY_COMPARE(
        m_client->log().split(u'\n').mid(m_client->log().count(u'\n') + 1 - lastLogLines.size()),
        lastLogLines);
    QCOMPARE(completed.count(), how == QStringLiteral("complete") ? 1 : 0);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList { QStringLiteral("beam.7z") });
    checkUsableAgain();
}

QTEST_MAIN(TestHostileServer)
#include "tst_hostileserver.moc"
