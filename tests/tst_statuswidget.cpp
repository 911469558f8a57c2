#include "WindowFixture.h"
#include "gui/CalvaroClientBase.h"
#include "gui/StatusWidget.h"
#include "protocol/Protocol.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QtEndian>

#include <algorithm>
#include <functional>

using namespace VLK;
using Box = DialogHelper::Box;

namespace {

const QString Ready = QStringLiteral("Ready for download: r.7z");

QString job(const QString &status, const QString &progress = QStringLiteral("m"),
            const QString &path = QStringLiteral("runs/u1/case7/model.dat"), bool accessible = true)
{
    return QStringList { QStringLiteral("u1"),
                         QStringLiteral("s1"),
                         path,
                         status,
                         progress,
                         accessible ? QStringLiteral("yes") : QStringLiteral("no") }
        .join(u'\n');
}

// Answers the download target without a dialog where the dialog is not the point.
class Panel : public StatusWidget
{
public:
    std::function<QString()> chooseFile;

protected:
    QString saveResultsFileName(int row, const QString &suggested, const QString &jobPath) override
    {
        return chooseFile ? chooseFile()
                          : StatusWidget::saveResultsFileName(row, suggested, jobPath);
    }
};

} // namespace

class TestStatusWidget : public WindowFixture
{
    Q_OBJECT

    std::unique_ptr<CalvaroClientBase> m_client;
    std::unique_ptr<Panel> m_panel;
    QStringList m_statusLines;

    void setUpWindow() override;
    void tearDownWindow() override;

    template<class T = QPushButton> T *child(const QString &name) const
    {
        return m_panel->findChild<T *>(name);
    }
    template<class T = QPushButton> T *child(const char *name) const
    {
        return child<T>(QLatin1String(name));
    }
    QTableWidget *table() const { return child<QTableWidget>("tableWidgetStatus"); }
    QString shownMessages() const { return child<QPlainTextEdit>("plainTextEdit")->toPlainText(); }
    void click(const QString &button) { QTest::mouseClick(child(button), Qt::LeftButton); }

    bool connectClient()
    {
        QSignalSpy established(m_client.get(), &CalvaroClientBase::connectionEstablished);
        m_client->connectToServer(QStringLiteral("127.0.0.1"), m_server->port());
        return established.wait(5000) && m_server->waitForClient();
    }
    bool showJobs(const QStringList &lines)
    {
        m_server->setReply(MT_JobStatus, FakeServer::textList(MT_JobStatusReply, lines));
        QSignalSpy received(m_client.get(), &CalvaroClientBase::msgReceived);
        m_panel->on_pushButtonStatus_clicked();
        return received.wait(5000);
    }
    void selectRow(int row)
    {
        const QRect cell = table()->visualRect(table()->model()->index(row, 1));
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cell.center());
    }
    void clickHeader(int section)
    {
        QHeaderView *header = table()->horizontalHeader();
        const QPoint inSection(header->sectionViewportPosition(section) + 5, 5);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, inSection);
    }
    QStringList column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < table()->rowCount(); ++row)
            texts << table()->item(row, column)->text();
        return texts;
    }
    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (const QModelIndex &index : table()->selectionModel()->selectedRows())
            rows << index.row();
        return rows;
    }
    QStringList enabledActions() const
    {
        QStringList enabled;
        for (const char *name : { "pushButtonKill", "pushButtonRemove", "pushButtonDownload" })
            if (child(name)->isEnabled())
                enabled << child(name)->text();
        return enabled;
    }
    QStringList shownPaths() const
    {
        QStringList paths;
        for (int row = 0; row < table()->rowCount(); ++row)
            if (!table()->isRowHidden(row))
                paths << table()->item(row, 3)->text();
        return paths;
    }
    QStringList selectedPaths() const
    {
        QStringList paths;
        for (int row : selectedRows())
            paths << table()->item(row, 3)->text();
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    void ctrlClickRow(int row)
    {
        const QRect cell = table()->visualRect(table()->model()->index(row, 1));
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, Qt::ControlModifier, cell.center());
    }
    // The job path that each request of this type named.
    QStringList requestedPaths(int type) const
    {
        QStringList paths;
        for (const FakeServer::Request &request : m_server->requests())
            if (request.type == type)
                paths << QString::fromUtf8(request.bytes.mid(24));
        return paths;
    }
    void expectBox(QMessageBox::Icon icon, const QString &title, const QString &text)
    {
        QVERIFY(m_dialogs->waitForBoxes(1));
        const Box box = m_dialogs->boxes.at(0);
        QCOMPARE(box.icon, icon);
        QCOMPARE(box.title, title);
        QCOMPARE(box.text, text);
        QCOMPARE(box.parent.data(), m_panel.get());
    }

private slots:
    void jobListFillsTheTable();
    void columnsFitTheWidestTextOfEveryRow();
    void refreshShowsTheNewListWhateverItChanges();
    void cellsAreCopiedButNeverEdited();
    void actionsFollowTheSelectedJob_data();
    void actionsFollowTheSelectedJob();
    void progressMessages_data();
    void progressMessages();
    void refillKeepsTheSelectedJob();
    void removeClickedTwiceRemovesOneJob();
    void doubleClickActsOnce_data();
    void doubleClickActsOnce();
    void columnsFitTheFirstListWithJobs();
    void actionsFollowTheRefilledRow();
    void progressViewFollowsTheJobOnASortedTable();
    void repliesThatEmptyTheTable_data();
    void repliesThatEmptyTheTable();
    void autoRefreshDropsTicksWhileAReplyIsPending();
    void storedAutoRefreshInterval_data();
    void storedAutoRefreshInterval();
    void buttonsWithoutConnection_data();
    void buttonsWithoutConnection();
    void actionRequestsAndReplies_data();
    void actionRequestsAndReplies();
    void saveDialog_data();
    void saveDialog();
    void largeDownloadWithProgressBar();
    void writeProtectedTargetIsKept_data();
    void writeProtectedTargetIsKept();
    void failedDownloadRequestLeavesThePanelUsable();
    void userWaitsHoldBackAutoRefresh_data();
    void userWaitsHoldBackAutoRefresh();
    void progressBarScalesHugeMessages();
    void refusedActionsLeaveTheSessionAlive();
    void filterShowsMatchingRows_data();
    void filterShowsMatchingRows();
    void filterAndSelectionSurviveAutoRefresh();
    void filterFollowsLinesChangedInPlace();
    void confirmationActsOnTheListedJobs();
    void refusedJobsEndInOneSummary();
    void keyboardFiltersSelectsAndRemoves();
    void resultsOfSeveralJobsGoToOneFolder_data();
    void resultsOfSeveralJobsGoToOneFolder();
    void elidedCellsTellTheirWholeText();
    void rowMenuFromTheKeyboard();
};

void TestStatusWidget::setUpWindow()
{
    m_statusLines.clear();
    m_client = std::make_unique<CalvaroClientBase>();
    connect(m_client.get(), &CalvaroClientBase::addStatusMessage, this,
            [this](const QString &line) { m_statusLines << line; });
    m_panel = std::make_unique<Panel>();
    m_panel->setClientBase(m_client.get());
    m_panel->readSettings(Organization, Application);
    emit m_client->connectionStateChanged(false);
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
    QVERIFY(connectClient());
}

void TestStatusWidget::tearDownWindow()
{
    m_panel.reset();
    m_client.reset();
}

void TestStatusWidget::jobListFillsTheTable()
{
    QStringList lines
        = { job(QStringLiteral("Running on node 3")), job(QStringLiteral("Queued")),
            job(QStringLiteral("Processed")), job(QStringLiteral("running")),
            job(QStringLiteral("Running"), QStringLiteral("m"), QStringLiteral("p"), false) };
    // The second list puts every job into the row of another.
    for (const bool reversed : { false, true }) {
        if (reversed)
            std::reverse(lines.begin(), lines.end());
        QVERIFY(showJobs(lines));
        // Only the user's own jobs are counted.
        QCOMPARE(m_statusLines.last(), QStringLiteral("4 jobs for this user"));
        const auto cell
            = [&](int row, int column) { return table()->item(reversed ? 4 - row : row, column); };
        QCOMPARE(table()->rowCount(), 5);
        QCOMPARE(cell(0, 2)->foreground(), QBrush(QColor(200, 0, 0)));
        QCOMPARE(cell(1, 2)->foreground(), QBrush(QColor(0, 200, 0)));
        QCOMPARE(cell(2, 2)->foreground().style(), Qt::NoBrush);
        QCOMPARE(cell(3, 2)->foreground().style(), Qt::NoBrush);
        QCOMPARE(cell(0, 4)->font().family(), QStringLiteral("Courier New"));
        QCOMPARE(cell(0, 0)->data(Qt::UserRole), QVariant(true));
        QCOMPARE(cell(4, 0)->data(Qt::UserRole), QVariant(false));
        for (int column = 0; column < 5; ++column) {
            QVERIFY(cell(0, column)->flags() & Qt::ItemIsSelectable);
            QCOMPARE(cell(4, column)->flags(), Qt::ItemIsEnabled);
            QCOMPARE(cell(4, column)->foreground(), QBrush(Qt::gray));
        }
    }
    // The same number again is no news.
    QCOMPARE(m_statusLines.count(QStringLiteral("4 jobs for this user")), 1);
    // A value set from outside the fill is kept, whatever its kind.
    QFont bold;
    bold.setBold(true);
    table()->item(0, 4)->setFont(bold);
    QCOMPARE(table()->item(0, 4)->font(), bold);
    QTableWidgetItem *userCell = table()->item(0, 0);
    for (const QVariant &value : { QVariant(QStringLiteral("yes")), QVariant(false) }) {
        userCell->setData(Qt::UserRole, value);
        QCOMPARE(userCell->data(Qt::UserRole), value);
    }
}

// A refresh mostly repeats the list before it: whatever it changes, adds or
// drops, the table ends up showing the new list as if filled afresh.
void TestStatusWidget::columnsFitTheWidestTextOfEveryRow()
{
    // The widest texts of columns 0 to 2 come last, far past any sample of
    // the first rows.
    QStringList lines;
    for (int i = 0; i < 9999; ++i)
        lines << job(i % 2 ? QStringLiteral("Running") : QStringLiteral("Processed"));
    lines << QStringList { QStringLiteral("a-rather-long-user-name"),
                           QStringLiteral("solver-with-a-long-id"),
                           QStringLiteral("runs/u9/m.dat"),
                           QStringLiteral("Queued (fast queue)"),
                           QStringLiteral("m"),
                           QStringLiteral("yes") }
                 .join(u'\n');
    QVERIFY(showJobs(lines));
    QList<int> fitted;
    for (int column = 0; column < 3; ++column)
        fitted << table()->columnWidth(column);
    table()->horizontalHeader()->setResizeContentsPrecision(-1); // every row
    for (int column = 0; column < 3; ++column) {
        table()->resizeColumnToContents(column);
        QCOMPARE(fitted.at(column), table()->columnWidth(column));
    }
}

void TestStatusWidget::refreshShowsTheNewListWhateverItChanges()
{
    QVERIFY(
        showJobs({ job(QStringLiteral("Running"), QStringLiteral("a1"), QStringLiteral("a")),
                   job(QStringLiteral("Queued"), QStringLiteral("b1"), QStringLiteral("b")),
                   job(QStringLiteral("Queued"), QStringLiteral("c1"), QStringLiteral("c")),
                   job(QStringLiteral("Processed"), QStringLiteral("d1"), QStringLiteral("d")) }));
    selectRow(1);
    const QStringList next
        = { job(QStringLiteral("Running"), QStringLiteral("a1"), QStringLiteral("a")),
            job(QStringLiteral("Processed"), QStringLiteral("b1\\|") + Ready, QStringLiteral("b"),
                false),
            job(QStringLiteral("Queued"), QStringLiteral("c1"), QStringLiteral("c")),
            job(QStringLiteral("Queued"), QStringLiteral("e1"), QStringLiteral("e")),
            job(QStringLiteral("Running"), QStringLiteral("f1\\|f2"), QStringLiteral("f")) };
    QVERIFY(showJobs(next));
    QCOMPARE(column(3),
             (QStringList { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                            QStringLiteral("e"), QStringLiteral("f") }));
    QCOMPARE(column(2),
             (QStringList { QStringLiteral("Running"), QStringLiteral("Processed"),
                            QStringLiteral("Queued"), QStringLiteral("Queued"),
                            QStringLiteral("Running") }));
    QCOMPARE(column(4),
             (QStringList { QStringLiteral("a1"), Ready, QStringLiteral("c1"), QStringLiteral("e1"),
                            QStringLiteral("f2") }));
    QCOMPARE(table()->item(1, 0)->data(Qt::UserRole), QVariant(false));
    QCOMPARE(table()->item(1, 2)->flags(), Qt::ItemIsEnabled);
    QCOMPARE(table()->item(1, 2)->foreground(), QBrush(Qt::gray));
    QCOMPARE(table()->item(3, 2)->foreground(), QBrush(QColor(0, 200, 0)));
    QCOMPARE(enabledActions(), QStringList {});
    QCOMPARE(shownMessages(), QStringLiteral("b1\n") + Ready);
    selectRow(4);
    QCOMPARE(shownMessages(), QStringLiteral("f1\nf2"));
    selectRow(3);
    QCOMPARE(shownMessages(), QStringLiteral("e1"));

    // A bad line among unchanged ones still makes the whole list invalid.
    QVERIFY(
        showJobs(next.mid(0, 4) + QStringList { QStringLiteral("five\nparts\nin\nthis\nline") }));
    expectBox(QMessageBox::Critical, QStringLiteral("Invalid server reply"),
              QStringLiteral("Invalid server reply (mismatching versions of server and client?)."));
    QCOMPARE(table()->columnCount(), 0);
    QVERIFY(showJobs(next));
    QCOMPARE(column(4),
             (QStringList { QStringLiteral("a1"), Ready, QStringLiteral("c1"), QStringLiteral("e1"),
                            QStringLiteral("f2") }));
}

// The path names the job in every action, so it is never edited; it can
// still be copied.
void TestStatusWidget::cellsAreCopiedButNeverEdited()
{
    QVERIFY(showJobs({ job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("a")),
                       job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("b")) }));
    QTableWidgetItem *path = table()->item(1, 3);
    QTest::mouseDClick(table()->viewport(), Qt::LeftButton, {},
                       table()->visualItemRect(path).center());
    table()->editItem(path);
    table()->setCurrentItem(path);
    QTest::keyClicks(table(), QStringLiteral("edited"));
    QVERIFY(table()->viewport()->findChildren<QLineEdit *>().isEmpty());
    QCOMPARE(column(3), (QStringList { QStringLiteral("a"), QStringLiteral("b") }));
    QTest::keyClick(table(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("b"));

    m_server->clearReceived();
    m_server->setReply(MT_RemoveJob, FakeServer::reply(MT_RemoveJobOk));
    click(QStringLiteral("pushButtonRemove"));
    QVERIFY(m_server->waitForRequests(1));
    QCOMPARE(m_server->requests().at(0).bytes,
             FakeServer::header(25, MT_RemoveJob) + FakeServer::counted("b"));
}

void TestStatusWidget::actionsFollowTheSelectedJob_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("enabled");
    const QString readyInTail = QString(20, u'x') + Ready + QString(80 - Ready.size(), u'y');
    QTest::newRow("running, more words")
        << job(QStringLiteral("Running on node 3")) << QStringList { QStringLiteral("Kill") };
    QTest::newRow("lower-case running") << job(QStringLiteral("running")) << QStringList {};
    QTest::newRow("queued") << job(QStringLiteral("Queued"))
                            << QStringList { QStringLiteral("Remove") };
    QTest::newRow("ready") << job(QStringLiteral("Processed"), QStringLiteral("done\\|") + Ready)
                           << QStringList { QStringLiteral("Remove"),
                                            QStringLiteral("Get Results") };
    QTest::newRow("ready not last")
        << job(QStringLiteral("Processed"), Ready + QStringLiteral("\\|x"))
        << QStringList { QStringLiteral("Remove") };
    QTest::newRow("ready in the last 80")
        << job(QStringLiteral("Processed"), readyInTail)
        << QStringList { QStringLiteral("Remove"), QStringLiteral("Get Results") };
    QTest::newRow("ready cut off") << job(QStringLiteral("Processed"), Ready + QString(80, u'z'))
                                   << QStringList { QStringLiteral("Remove") };
    QTest::newRow("inaccessible") << job(QStringLiteral("Running"), QStringLiteral("m"),
                                         QStringLiteral("p"), false)
                                  << QStringList {};
}

void TestStatusWidget::actionsFollowTheSelectedJob()
{
    QFETCH(QString, line);
    QVERIFY(showJobs({ line }));
    QCOMPARE(enabledActions(), QStringList {});
    selectRow(0);
    QTEST(enabledActions(), "enabled");
    QCOMPARE(table()->selectionModel()->selectedRows().size(),
             line.endsWith(QStringLiteral("yes")) ? 1 : 0);
}

void TestStatusWidget::progressMessages_data()
{
    QTest::addColumn<QString>("progress");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("view");
    const QString hundred = QString(20, u'a') + QString(80, u'b');
    const QString tail = hundred.right(80);
    QTest::newRow("one message") << "started"
                                 << "started"
                                 << "started";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("several") << "a\\|b\\|c"
                             << "c"
                             << "a\nb\nc";
    QTest::newRow("empty parts kept") << "a\\|\\|"
                                      << ""
                                      << "a\n\n";
    QTest::newRow("tails of 80") << hundred + QStringLiteral("\\|") + hundred << tail
                                 << tail + QStringLiteral("\n") + tail;
}

void TestStatusWidget::progressMessages()
{
    QFETCH(QString, progress);
    QVERIFY(showJobs({ job(QStringLiteral("Queued"), progress) }));
    QTEST(table()->item(0, 4)->text(), "cell");
    QCOMPARE(shownMessages(), QString());
    selectRow(0);
    QTEST(shownMessages(), "view");
}

void TestStatusWidget::refillKeepsTheSelectedJob()
{
    QStringList ten;
    for (int i = 0; i < 10; ++i)
        ten << job(QStringLiteral("Queued"), QString::number(i),
                   QStringLiteral("p") + QString::number(i));
    QVERIFY(showJobs(ten));
    selectRow(7);
    QStringList reversed = ten;
    std::reverse(reversed.begin(), reversed.end());
    QVERIFY(showJobs(reversed));
    QCOMPARE(selectedRows(), QList<int> { 2 });
    QCOMPARE(shownMessages(), QStringLiteral("7"));
    // Nothing selected now: the remembered job is selected again.
    table()->setCurrentItem(nullptr);
    QVERIFY(showJobs(ten.mid(5)));
    QCOMPARE(selectedRows(), QList<int> { 2 });
    // Gone: no row at all rather than the job that took its place.
    QVERIFY(showJobs(ten.mid(0, 3)));
    QCOMPARE(selectedRows(), QList<int> {});
    QCOMPARE(enabledActions(), QStringList {});
    QCOMPARE(shownMessages(), QString());

    QVERIFY(showJobs({}));
    QCOMPARE(m_statusLines.last(), QStringLiteral("0 jobs for this user"));
    QCOMPARE(table()->columnCount(), 7);
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(enabledActions(), QStringList {});
    QCOMPARE(shownMessages(), QString());
}

// The second of two clicks on Remove comes after the refreshed list; the job
// that moved into the removed one's row is not selected for it.
void TestStatusWidget::removeClickedTwiceRemovesOneJob()
{
    QVERIFY(showJobs({ job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("a")),
                       job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("b")),
                       job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("c")) }));
    selectRow(1);
    m_server->clearReceived();
    m_server->setReply(MT_RemoveJob, FakeServer::reply(MT_RemoveJobOk));
    m_server->setReply(
        MT_JobStatus,
        FakeServer::textList(
            MT_JobStatusReply,
            { job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("a")),
              job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("c")) }));
    QSignalSpy received(m_client.get(), &CalvaroClientBase::msgReceived);
    click(QStringLiteral("pushButtonRemove"));
    QTRY_VERIFY(received.contains({ int(MT_JobStatusReply) }));
    click(QStringLiteral("pushButtonRemove"));
    QCOMPARE(m_server->requestTypes(), (QList<qint64> { MT_RemoveJob, MT_JobStatus }));
    QCOMPARE(selectedRows(), QList<int> {});
    QCOMPARE(enabledActions(), QStringList {});
}

// The second press of a double-click comes once the reply to the first click
// is in and the button is enabled again.
void TestStatusWidget::doubleClickActsOnce_data()
{
    actionRequestsAndReplies_data();
}

void TestStatusWidget::doubleClickActsOnce()
{
    QFETCH(QString, button);
    QFETCH(QString, status);
    QFETCH(int, request);
    QFETCH(QByteArray, reply);
    QTemporaryDir dir;
    m_panel->chooseFile = [&] { return dir.filePath(QStringLiteral("r.7z")); };
    QVERIFY(showJobs({ job(status, Ready) }));
    selectRow(0);
    m_server->clearReceived();
    m_server->setReply(request, reply);
    QSignalSpy received(m_client.get(), &CalvaroClientBase::msgReceived);
    click(button);
    QTRY_VERIFY(!received.isEmpty() && child(button)->isEnabled()
                && child("pushButtonStatus")->isEnabled());
    QTest::mouseDClick(child(button), Qt::LeftButton);
    QTest::mouseRelease(child(button), Qt::LeftButton);
    // A request sent would wait for its reply with Refresh disabled.
    QVERIFY(child("pushButtonStatus")->isEnabled());
    QCOMPARE(m_server->requestTypes().count(request), 1);
}

// Fitted to an empty first list, the columns would stay too narrow.
void TestStatusWidget::columnsFitTheFirstListWithJobs()
{
    const QString status = QStringLiteral("Running (step 12/48)");
    QVERIFY(showJobs({}));
    QVERIFY(showJobs({ job(status) }));
    QVERIFY(table()->columnWidth(2) > table()->fontMetrics().horizontalAdvance(status));
    table()->setColumnWidth(2, 30);
    QVERIFY(showJobs({ job(status), job(status) }));
    QCOMPARE(table()->columnWidth(2), 30);
}

void TestStatusWidget::actionsFollowTheRefilledRow()
{
    QVERIFY(showJobs({ job(QStringLiteral("Running"), QStringLiteral("step 1")) }));
    selectRow(0);
    QCOMPARE(enabledActions(), QStringList { QStringLiteral("Kill") });
    QVERIFY(showJobs({ job(QStringLiteral("Processed"), QStringLiteral("step 1\\|") + Ready) }));
    QCOMPARE(enabledActions(),
             (QStringList { QStringLiteral("Remove"), QStringLiteral("Get Results") }));
    QCOMPARE(shownMessages(), QStringLiteral("step 1\n") + Ready);
}

void TestStatusWidget::progressViewFollowsTheJobOnASortedTable()
{
    const QStringList lines
        = { job(QStringLiteral("Queued"), QStringLiteral("msg c"), QStringLiteral("c")),
            job(QStringLiteral("Queued"), QStringLiteral("msg a"), QStringLiteral("a")),
            job(QStringLiteral("Queued"), QStringLiteral("msg b"), QStringLiteral("b")) };
    QVERIFY(showJobs(lines));
    clickHeader(3);
    selectRow(0);
    QCOMPARE(shownMessages(), QStringLiteral("msg a"));

    clickHeader(3); // descending now
    QVERIFY(showJobs(lines
                     + QStringList { job(QStringLiteral("Queued"), QStringLiteral("msg d"),
                                         QStringLiteral("d")) }));
    QCOMPARE(column(3),
             (QStringList { QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("b"),
                            QStringLiteral("a") }));
    selectRow(1);
    QCOMPARE(shownMessages(), QStringLiteral("msg c"));

    // Equal statuses keep the order of the reply.
    clickHeader(2);
    QVERIFY(showJobs(lines));
    QCOMPARE(column(3),
             (QStringList { QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b") }));
}

void TestStatusWidget::repliesThatEmptyTheTable_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("invalid");
    QTest::newRow("login") << FakeServer::reply(MT_LoginOk) << false;
    QTest::newRow("logout") << FakeServer::reply(MT_LogoutOk) << false;
    QTest::newRow("undecodable list") << FakeServer::textList(
        MT_JobStatusReply,
        { QStringLiteral("s\np\nQueued\nm"), QStringLiteral("five\nparts\nin\nthis\nline") })
                                      << true;
}

void TestStatusWidget::repliesThatEmptyTheTable()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, invalid);
    QVERIFY(showJobs({ job(QStringLiteral("Queued")), job(QStringLiteral("Queued")) }));
    selectRow(1);
    QSignalSpy received(m_client.get(), &CalvaroClientBase::msgReceived);
    m_client->awaitReply();
    m_server->send(reply);
    QVERIFY(received.wait(5000));
    if (invalid)
        expectBox(
            QMessageBox::Critical, QStringLiteral("Invalid server reply"),
            QStringLiteral("Invalid server reply (mismatching versions of server and client?)."));
    QCOMPARE(m_dialogs->boxes.size(), invalid ? 1 : 0);
    QCOMPARE(table()->columnCount(), 0);
    QCOMPARE(table()->rowCount(), 0);
    // The next list sets the table up anew (after a logout, on a new connection).
    if (m_client->m_tcpSocket->state() != QAbstractSocket::ConnectedState)
        QVERIFY(connectClient());
    QVERIFY(showJobs({ job(QStringLiteral("Queued")) }));
    QCOMPARE(table()->horizontalHeaderItem(0)->text(), QStringLiteral("User ID"));
}

void TestStatusWidget::autoRefreshDropsTicksWhileAReplyIsPending()
{
    QVERIFY(showJobs({ job(QStringLiteral("Queued")) }));
    m_server->clearReceived();
    m_server->clearReplies();
    auto *timer = m_panel->findChild<QTimer *>();
    QSignalSpy ticks(timer, &QTimer::timeout);
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(1);
    QCOMPARE(timer->interval(), 1000);
    QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 3, 5000);
    QCOMPARE(m_server->requestTypes(), QList<qint64> { MT_JobStatus });
    QVERIFY(m_dialogs->boxes.isEmpty());

    m_server->send(FakeServer::textList(MT_JobStatusReply, {}));
    QVERIFY(m_server->waitForRequests(2));
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(0);
    QVERIFY(!timer->isActive());
}

void TestStatusWidget::storedAutoRefreshInterval_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("shown");
    QTest::newRow("off") << 0 << 0;
    QTest::newRow("five seconds") << 5 << 5;
    QTest::newRow("beyond the spin box") << 90 << 60;
}

void TestStatusWidget::storedAutoRefreshInterval()
{
    QFETCH(int, stored);
    QFETCH(int, shown);
    QSettings(Organization, Application)
        .setValue(QStringLiteral("ClientConfig/AutoRefreshInterval"), stored);
    StatusWidget panel;
    panel.readSettings(Organization, Application);
    QCOMPARE(panel.findChild<QSpinBox *>(QStringLiteral("spinBoxAutoRefresh"))->value(), shown);
    auto *timer = panel.findChild<QTimer *>();
    QCOMPARE(timer->isActive(), shown != 0);
    QCOMPARE(timer->isActive() ? timer->interval() : 0, shown * 1000);
}

void TestStatusWidget::buttonsWithoutConnection_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("status");
    QTest::newRow("refresh") << "pushButtonStatus"
                             << "Queued";
    QTest::newRow("kill") << "pushButtonKill"
                          << "Running";
    QTest::newRow("remove") << "pushButtonRemove"
                            << "Queued";
    QTest::newRow("get results") << "pushButtonDownload"
                                 << "Processed";
}

void TestStatusWidget::buttonsWithoutConnection()
{
    QFETCH(QString, button);
    QFETCH(QString, status);
    QVERIFY(showJobs({ job(status, Ready) }));
    selectRow(0);
    // Gone without an error report, so the panel still offers its buttons.
    m_client->m_tcpSocket->abort();
    click(button);
    expectBox(QMessageBox::Critical, QStringLiteral("Not connected"),
              QStringLiteral("Login and connection required."));
}

void TestStatusWidget::actionRequestsAndReplies_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("refreshes");
    QTest::newRow("kill") << "pushButtonKill"
                          << "Running" << int(MT_KillJob) << FakeServer::reply(MT_KillJobOk) << 1;
    QTest::newRow("remove") << "pushButtonRemove"
                            << "Queued" << int(MT_RemoveJob) << FakeServer::reply(MT_RemoveJobOk)
                            << 1;
    QTest::newRow("get results") << "pushButtonDownload"
                                 << "Processed" << int(MT_DownloadJob)
                                 << FakeServer::reply(MT_DownloadJobReply, "result") << 0;
}

void TestStatusWidget::actionRequestsAndReplies()
{
    QFETCH(QString, button);
    QFETCH(QString, status);
    QFETCH(int, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, refreshes);
    QTemporaryDir dir;
    m_panel->chooseFile = [&] { return dir.filePath(QStringLiteral("r.7z")); };
    const QString path = QStringLiteral("runs/ü1/case7/model.dat");
    QVERIFY(showJobs({ job(QStringLiteral("Queued")), job(status, Ready, path) }));
    selectRow(1);
    m_server->clearReceived();
    m_server->setReply(request, reply);
    QSignalSpy completed(m_panel.get(), &StatusWidget::downloadComplete);

    click(button);
    QVERIFY(!child("pushButtonStatus")->isEnabled());
    QVERIFY(m_server->waitForRequests(1 + refreshes));
    const QByteArray utf8 = path.toUtf8();
    QByteArray count(8, '\0');
    qToBigEndian<qint64>(utf8.size(), count.data());
    QCOMPARE(m_server->requests().at(0).bytes,
             FakeServer::header(24 + utf8.size(), request) + count + utf8);
    QTRY_VERIFY(child("pushButtonStatus")->isEnabled());
    if (request == MT_KillJob)
        expectBox(
            QMessageBox::Information, QStringLiteral("Job Kill"),
            QStringLiteral("Job terminated via signal (may take a second to actually stop)."));
    QCOMPARE(m_dialogs->boxes.size(), request == MT_KillJob ? 1 : 0);
    QCOMPARE(m_server->requestTypes().count(MT_JobStatus), refreshes);
    QCOMPARE(completed.count(), request == MT_DownloadJob ? 1 : 0);
    if (request == MT_DownloadJob) {
        QCOMPARE(m_statusLines.last(),
                 QStringLiteral("Saved result of %1 to %2")
                     .arg(path, dir.filePath(QStringLiteral("r.7z"))));
        QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);
        QVERIFY(!child<QProgressBar>("progressBar")->isEnabled());
    }
}

void TestStatusWidget::saveDialog_data()
{
    QTest::addColumn<bool>("storedDirectory");
    QTest::addColumn<QString>("jobPath");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<QString>("initialPath"); // below the stored directory, if any
    QTest::newRow("stored directory")
        << true << "runs/u1/case7/model.dat" << Ready << "/runs/u1/case7.7z";
    QTest::newRow("stored, no job directory") << true << "model.dat" << Ready << "/..7z";
    QTest::newRow("nothing stored, no job directory") << false << "model.dat" << Ready << "/..7z";
    QTest::newRow("announced zip") << true << "runs/u1/case7/model.dat"
                                   << "step 5\\|Ready for download: job-0001_results.zip"
                                   << "/runs/u1/case7.zip";
}

void TestStatusWidget::saveDialog()
{
    QFETCH(bool, storedDirectory);
    QFETCH(QString, jobPath);
    QFETCH(QString, progress);
    QFETCH(QString, initialPath);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("runs/u1"))
            && QDir(dir.path()).mkpath(QStringLiteral("out")));
    const QString stored = storedDirectory ? dir.path() : QString();
    QSettings(Organization, Application)
        .setValue(QStringLiteral("RecentDirectories/LastSaveAsDirectory"), stored);
    QVERIFY(showJobs(
        { job(QStringLiteral("Processed"), progress, jobPath), job(QStringLiteral("Queued")) }));
    selectRow(0);
    m_server->clearReceived();

    m_dialogs->queueFileAnswer(QString());
    click(QStringLiteral("pushButtonDownload"));
    QCOMPARE(m_statusLines.last(), QStringLiteral("Downloading job #1"));
    QCOMPARE(m_dialogs->fileDialogs.size(), 1);
    const DialogHelper::FileDialog dialog = m_dialogs->fileDialogs.at(0);
    QCOMPARE(dialog.caption, QStringLiteral("Save results"));
    QCOMPARE(dialog.nameFilters, QStringList { QStringLiteral("All files (*.*)") });
    QVERIFY(dialog.saving);
    QCOMPARE(dialog.selectedFiles, QStringList { stored + initialPath });
    QCOMPARE(enabledActions(),
             (QStringList { QStringLiteral("Remove"), QStringLiteral("Get Results") }));

    // Cancelled: nothing went out, and the row acted on was not remembered.
    table()->clearSelection();
    QVERIFY(showJobs({ job(QStringLiteral("Queued")) }));
    QCOMPARE(m_server->requestTypes(), QList<qint64> { MT_JobStatus });
    QVERIFY(table()->selectionModel()->selectedIndexes().isEmpty());

    QVERIFY(showJobs({ job(QStringLiteral("Processed"), progress, jobPath) }));
    selectRow(0);
    m_dialogs->queueFileAnswer(dir.filePath(QStringLiteral("out/r7.7z")));
    click(QStringLiteral("pushButtonDownload"));
    QCOMPARE(QSettings(Organization, Application)
                 .value(QStringLiteral("RecentDirectories/LastSaveAsDirectory"))
                 .toString(),
             dir.filePath(QStringLiteral("out")));
    QVERIFY(m_server->waitForRequests(3));
    QCOMPARE(m_server->requestTypes().last(), qint64(MT_DownloadJob));
}

void TestStatusWidget::largeDownloadWithProgressBar()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("r.7z"));
    m_panel->chooseFile = [&] { return target; };
    QVERIFY(showJobs({ job(QStringLiteral("Processed"), Ready) }));
    selectRow(0);
    click(QStringLiteral("pushButtonDownload"));
    QVERIFY(m_server->waitForRequests(2));

    auto *bar = child<QProgressBar>("progressBar");
    QList<int> values; // -1 for a disabled bar
    QObject recording; // ends the recording before values goes
    connect(m_client.get(), &CalvaroClientBase::progress, &recording, [&] {
        values << (bar->isEnabled() ? bar->value() : -1);
        QCOMPARE(bar->maximum(), 5000000);
    });
    QSignalSpy completed(m_panel.get(), &StatusWidget::downloadComplete);
    QByteArray payload(5000000 - 16, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7 % 251);
    m_server->sendInSegments(FakeServer::reply(MT_DownloadJobReply, payload),
                             { 16, 1000000, 1500000 }, 40);
    QVERIFY(completed.count() == 1 || completed.wait(10000));
    QCOMPARE(completed.at(0).at(0).toString(), target);
    QVERIFY(values.size() >= 3);
    QCOMPARE(values.mid(values.size() - 2), (QList<int> { 5000000, -1 }));
    QVERIFY(std::is_sorted(values.begin(), values.end() - 1));
    QCOMPARE(bar->value(), 0);
    QFile written(target);
    QVERIFY(written.open(QIODevice::ReadOnly) && written.readAll() == payload);
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestStatusWidget::writeProtectedTargetIsKept_data()
{
    QTest::addColumn<int>("resultSize");
    QTest::newRow("small result") << 10;
    QTest::newRow("result stored in the background") << 3000000;
}

void TestStatusWidget::writeProtectedTargetIsKept()
{
    QFETCH(int, resultSize);
    QTemporaryDir dir;
    QFile old(dir.filePath(QStringLiteral("r.7z")));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    QVERIFY(old.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup
                               | QFileDevice::ReadOther));
    m_panel->chooseFile = [&] { return old.fileName(); };
    QVERIFY(showJobs({ job(QStringLiteral("Processed"), Ready) }));
    selectRow(0);
    m_server->setReply(MT_DownloadJob,
                       FakeServer::reply(MT_DownloadJobReply, QByteArray(resultSize, 'n')));
    QSignalSpy completed(m_panel.get(), &StatusWidget::downloadComplete);
    click(QStringLiteral("pushButtonDownload"));
    expectBox(QMessageBox::Critical, QStringLiteral("Download failed"),
              QStringLiteral("Job download failed."));
    QCOMPARE(completed.count(), 0);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
}

void TestStatusWidget::failedDownloadRequestLeavesThePanelUsable()
{
    QVERIFY(showJobs({ job(QStringLiteral("Processed"), Ready) }));
    selectRow(0);
    // The connection goes while the user picks the file.
    m_panel->chooseFile = [&] {
        m_client->m_tcpSocket->abort();
        return QStringLiteral("r.7z");
    };
    click(QStringLiteral("pushButtonDownload"));
    QVERIFY(child("pushButtonStatus")->isEnabled());
    QCOMPARE(enabledActions(),
             (QStringList { QStringLiteral("Remove"), QStringLiteral("Get Results") }));
}

void TestStatusWidget::userWaitsHoldBackAutoRefresh_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("status");
    QTest::newRow("save dialog") << "pushButtonDownload"
                                 << "Processed";
    QTest::newRow("kill confirmation") << "pushButtonKill"
                                       << "Running";
}

void TestStatusWidget::userWaitsHoldBackAutoRefresh()
{
    QFETCH(QString, button);
    QFETCH(QString, status);
    QVERIFY(showJobs({ job(status, Ready) }));
    selectRow(0);
    m_server->setReply(MT_KillJob, FakeServer::reply(MT_KillJobOk));
    int ticks = 0;
    bool released = false;
    bool idleMeanwhile = false;
    QObject watching; // ends the watch before the flags go
    connect(m_panel->findChild<QTimer *>(), &QTimer::timeout, &watching, [&] {
        if (++ticks == 2) {
            // The panel has seen this tick: a request would be awaiting its reply now.
            idleMeanwhile = child("pushButtonStatus")->isEnabled();
            released = true;
            m_dialogs->holdBoxes(false);
        }
    });
    m_panel->chooseFile = [&] {
        (void)QTest::qWaitFor([&] { return released; }, 5000); // checked below
        return QString();
    };
    m_dialogs->holdBoxes(true);
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(1);
    click(button);
    QTRY_VERIFY_WITH_TIMEOUT(released, 5000);
    QVERIFY(idleMeanwhile);
}

void TestStatusWidget::progressBarScalesHugeMessages()
{
    const qint64 total = qint64(5) << 30;
    ProgressScale scale;
    scale.start(total);
    QVERIFY(scale.maximum() > (1 << 30));
    int previous = 0;
    // The counts arrive as ints that wrap; one notification per 256 MiB.
    for (qint64 received = 16; received <= total; received += qint64(1) << 28) {
        const int value = scale.valueFor(int(received));
        QVERIFY(value >= previous);
        previous = value;
    }
    QCOMPARE(scale.valueFor(int(total)), scale.maximum());
    scale.start(5000000);
    QCOMPARE(scale.maximum(), 5000000);
    QCOMPARE(scale.valueFor(1234567), 1234567);
}

// While the "Command failed" box is open, auto-refresh goes on: each of its
// replies must be taken in at once, or its reply time-out would end the
// session once the box is closed.
void TestStatusWidget::refusedActionsLeaveTheSessionAlive()
{
    QTemporaryDir dir;
    m_panel->chooseFile = [&] { return dir.filePath(QStringLiteral("r.zip")); };
    const QStringList actions
        = { QStringLiteral("pushButtonKill"), QStringLiteral("pushButtonRemove"),
            QStringLiteral("pushButtonDownload") };
    QVERIFY(showJobs({ job(QStringLiteral("Running")), job(QStringLiteral("Queued")),
                       job(QStringLiteral("Processed"), Ready) }));
    for (int type : { MT_KillJob, MT_RemoveJob, MT_DownloadJob })
        m_server->setReply(type, FakeServer::reply(MT_CommandError1));
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(1);
    // A box is released by the first job list that arrives while it is open,
    // or after four seconds if none does.
    int listsWhileBoxOpen = 0;
    QObject watching; // ends the watch before the counter goes
    connect(m_client.get(), &CalvaroClientBase::msgReceived, &watching, [&](int type) {
        if (type == MT_JobStatusReply && m_dialogs->boxes.size() > listsWhileBoxOpen) {
            ++listsWhileBoxOpen;
            m_dialogs->holdBoxes(false);
        }
    });
    for (int row = 0; row < actions.size(); ++row) {
        QTRY_VERIFY(child("pushButtonStatus")->isEnabled());
        selectRow(row);
        m_dialogs->holdBoxes(true);
        QTimer::singleShot(4000, &watching, [&] { m_dialogs->holdBoxes(false); });
        click(actions.at(row));
        QVERIFY(m_dialogs->waitForBoxes(row + 1));
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }
    QCOMPARE(listsWhileBoxOpen, actions.size());
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(0);
    // Longer than the reply time-out: nothing may still be waiting for its reply.
    QVERIFY(!m_dialogs->waitForBoxes(actions.size() + 1, 11000));
    QCOMPARE(m_dialogs->boxTitles(),
             (QStringList { QStringLiteral("Command failed"), QStringLiteral("Command failed"),
                            QStringLiteral("Command failed") }));
    QVERIFY(m_client->isConnected());
    QVERIFY(child("pushButtonStatus")->isEnabled());
    QVERIFY(!m_statusLines.contains(QStringLiteral("Server timeout")));
}

namespace {
// Jobs of a study beside another user's, in reply order.
const QStringList MixedJobs = {
    job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("study/a/model.dat")),
    job(QStringLiteral("Running (step 3)"), QStringLiteral("m"),
        QStringLiteral("study/b/model.dat")),
    job(QStringLiteral("Processed"), Ready, QStringLiteral("study/c/model.dat")),
    job(QStringLiteral("Failed"), QStringLiteral("m"), QStringLiteral("study/d/model.dat")),
    job(QStringLiteral("Killed"), QStringLiteral("m"), QStringLiteral("other/e/model.dat")),
    job(QStringLiteral("Running"), QStringLiteral("m"), QStringLiteral("other/f/model.dat"), false),
};
const QStringList MixedPaths
    = { QStringLiteral("study/a/model.dat"), QStringLiteral("study/b/model.dat"),
        QStringLiteral("study/c/model.dat"), QStringLiteral("study/d/model.dat"),
        QStringLiteral("other/e/model.dat"), QStringLiteral("other/f/model.dat") };
} // namespace

void TestStatusWidget::filterShowsMatchingRows_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("quick");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("count");
    const auto row = [](const char *name, const char *text, int quick, const QStringList &shown,
                        const char *count) {
        QTest::newRow(name) << QString::fromUtf8(text) << quick << shown
                            << QString::fromUtf8(count);
    };
    const QStringList study = MixedPaths.mid(0, 4);
    row("none", "", 0, MixedPaths, "6 jobs");
    row("any column, any case", "STUDY", 0, study, "4 of 6 jobs shown");
    row("status text", "step 3", 0, { MixedPaths.at(1) }, "1 of 6 jobs shown");
    row("mine", "", 1, MixedPaths.mid(0, 5), "5 of 6 jobs shown");
    row("queued", "", 2, { MixedPaths.at(0) }, "1 of 6 jobs shown");
    row("running", "", 3, { MixedPaths.at(1), MixedPaths.at(5) }, "2 of 6 jobs shown");
    row("finished", "", 4, MixedPaths.mid(2, 3), "3 of 6 jobs shown");
    row("failed and text", "study", 5, { MixedPaths.at(3) }, "1 of 6 jobs shown");
    row("nothing", "nowhere", 0, {}, "0 of 6 jobs shown");
}

void TestStatusWidget::filterShowsMatchingRows()
{
    QFETCH(QString, text);
    QFETCH(int, quick);
    QFETCH(QStringList, shown);
    QFETCH(QString, count);
    QVERIFY(showJobs(MixedJobs));
    // Rows that are selected and then hidden are not acted on.
    table()->selectAll();
    child<QLineEdit>("lineEditFilter")->setText(text);
    child<QComboBox>("comboBoxQuickFilter")->setCurrentIndex(quick);
    QCOMPARE(shownPaths(), shown);
    QCOMPARE(child<QLabel>("labelJobCount")->text(), count);
    const bool anyRemovable = shown.contains(QStringLiteral("study/a/model.dat"))
        || shown.contains(QStringLiteral("study/c/model.dat"));
    QCOMPARE(child("pushButtonRemove")->isEnabled(), anyRemovable);
}

void TestStatusWidget::filterAndSelectionSurviveAutoRefresh()
{
    QStringList many = MixedJobs;
    for (int index = 0; index < 60; ++index)
        many << job(QStringLiteral("Queued"), QStringLiteral("m"),
                    QString(QStringLiteral("bulk/%1/model.dat")).arg(index));
    QVERIFY(showJobs(many));
    child<QLineEdit>("lineEditFilter")->setText(QStringLiteral("bulk/"));
    table()->scrollToBottom();
    const int scrolled = table()->verticalScrollBar()->value();
    QVERIFY(scrolled > 0);
    selectRow(table()->rowAt(table()->viewport()->height() / 2));
    ctrlClickRow(table()->rowAt(table()->viewport()->height() / 2) + 1);
    const QStringList selected = selectedPaths();
    QCOMPARE(selected.size(), 2);
    QCOMPARE(child("pushButtonRemove")->text(), QString(QStringLiteral("Remove (2)")));

    // The list comes back in another order, one job longer.
    std::reverse(many.begin(), many.end());
    many.prepend(
        job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("bulk/new/model.dat")));
    m_server->setReply(MT_JobStatus, FakeServer::textList(MT_JobStatusReply, many));
    QSignalSpy received(m_client.get(), &CalvaroClientBase::msgReceived);
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(1);
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 2, 5000);
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(0);
    QCOMPARE(shownPaths().size(), 61);
    QCOMPARE(child<QLabel>("labelJobCount")->text(),
             QString(QStringLiteral("61 of 67 jobs shown")));
    QCOMPARE(selectedPaths(), selected);
    QCOMPARE(table()->verticalScrollBar()->value(), scrolled);
}

// The same jobs in the same order, three of their lines changed: a hidden
// row whose new status holds the text is shown, a shown row whose status no
// longer does is hidden, and a row that the quick filter hid is looked at
// whole once its status lets it pass.
void TestStatusWidget::filterFollowsLinesChangedInPlace()
{
    const auto jobs = [](const char *a, const char *b, const char *c) {
        return QStringList { job(QString::fromUtf8(a), QStringLiteral("m"), QStringLiteral("p/a")),
                             job(QString::fromUtf8(b), QStringLiteral("m"), QStringLiteral("p/b")),
                             job(QString::fromUtf8(c), QStringLiteral("m"),
                                 QStringLiteral("p/step 4")) };
    };
    QVERIFY(showJobs(jobs("Running (step 3 of 5)", "Running (step 4 of 5)", "Queued")));
    child<QLineEdit>("lineEditFilter")->setText(QStringLiteral("step 4"));
    child<QComboBox>("comboBoxQuickFilter")->setCurrentIndex(3); // Running
    QCOMPARE(shownPaths(), QStringList { QStringLiteral("p/b") });
    QVERIFY(showJobs(jobs("Running (step 4 of 5)", "Running (step 5 of 5)", "Running")));
    QCOMPARE(shownPaths(), (QStringList { QStringLiteral("p/a"), QStringLiteral("p/step 4") }));
}

void TestStatusWidget::confirmationActsOnTheListedJobs()
{
    const QStringList running
        = { job(QStringLiteral("Running"), QStringLiteral("m"), QStringLiteral("p/a")),
            job(QStringLiteral("Running"), QStringLiteral("m"), QStringLiteral("p/b")),
            job(QStringLiteral("Running"), QStringLiteral("m"), QStringLiteral("p/c")),
            job(QStringLiteral("Running"), QStringLiteral("m"), QStringLiteral("p/d")),
            job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("p/e")) };
    QVERIFY(showJobs(running));
    m_server->setReply(MT_KillJob, FakeServer::reply(MT_KillJobOk));
    selectRow(0);
    ctrlClickRow(1);
    ctrlClickRow(4);
    QCOMPARE(child("pushButtonKill")->text(), QString(QStringLiteral("Kill (2)")));
    // A refresh while the user reads puts other jobs into the rows listed.
    m_dialogs->holdBoxes(true);
    QStringList rowsWhileOpen;
    QTimer::singleShot(0, this, [&] {
        if (m_dialogs->waitForBoxes(1)
            && showJobs({ running.at(3), running.at(2), running.at(0), running.at(1) }))
            rowsWhileOpen = column(3);
        m_server->clearReceived();
        m_dialogs->holdBoxes(false);
    });
    click(QStringLiteral("pushButtonKill"));
    QCOMPARE(rowsWhileOpen,
             (QStringList { QStringLiteral("p/d"), QStringLiteral("p/c"), QStringLiteral("p/a"),
                            QStringLiteral("p/b") }));
    QCOMPARE(m_dialogs->boxes.at(0).icon, QMessageBox::Question);
    QCOMPARE(m_dialogs->boxes.at(0).text,
             QStringLiteral("Kill 2 jobs?\n\np/a\np/b\n\n"
                            "Left out, as only running jobs can be killed: 1\np/e (Queued)"));
    QVERIFY(m_dialogs->waitForBoxes(2));
    QCOMPARE(requestedPaths(MT_KillJob),
             (QStringList { QStringLiteral("p/a"), QStringLiteral("p/b") }));
    QCOMPARE(m_dialogs->boxes.at(1).text, QString(QStringLiteral("2 killed")));
    QTRY_COMPARE(m_server->requestTypes().count(MT_JobStatus), 1);
}

void TestStatusWidget::refusedJobsEndInOneSummary()
{
    QVERIFY(
        showJobs({ job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("p/a")),
                   job(QStringLiteral("Processed"), Ready, QStringLiteral("p/b")),
                   job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("p/c")) }));
    m_server->clearReplies();
    connect(m_server.get(), &FakeServer::requestReceived, m_panel.get(), [this](qint64 type) {
        if (type != MT_RemoveJob)
            return;
        const bool refused = m_server->requests().last().bytes.endsWith("p/b");
        m_server->send(FakeServer::reply(refused ? MT_CommandError2 : MT_RemoveJobOk));
    });
    m_server->setReply(MT_JobStatus,
                       FakeServer::textList(MT_JobStatusReply, { job(QStringLiteral("Queued")) }));
    table()->selectAll();
    click(QStringLiteral("pushButtonRemove"));
    QVERIFY(m_dialogs->waitForBoxes(2));
    expectBox(QMessageBox::Question, QStringLiteral("Remove jobs"),
              QStringLiteral("Remove 3 jobs?\n\np/a\np/b\np/c"));
    QCOMPARE(m_dialogs->boxes.at(1).icon, QMessageBox::Warning);
    QCOMPARE(m_dialogs->boxes.at(1).text, QString(QStringLiteral("2 removed, 1 refused: p/b")));
    QCOMPARE(requestedPaths(MT_RemoveJob),
             (QStringList { QStringLiteral("p/a"), QStringLiteral("p/b"), QStringLiteral("p/c") }));
    QTRY_COMPARE(table()->rowCount(), 1);
    QCOMPARE(m_server->requestTypes().count(MT_JobStatus), 2);
    QVERIFY(!m_dialogs->waitForBoxes(3, 500));
}

void TestStatusWidget::keyboardFiltersSelectsAndRemoves()
{
    QVERIFY(
        showJobs({ job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("p/a")),
                   job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("p/b")),
                   job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("p/c")) }));
    m_server->setReply(MT_RemoveJob, FakeServer::reply(MT_RemoveJobOk));
    m_panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_panel.get()));
    QTest::keyClick(table(), Qt::Key_F, Qt::ControlModifier);
    auto *filter = child<QLineEdit>("lineEditFilter");
    QTRY_VERIFY(filter->hasFocus());
    QTest::keyClicks(filter, QStringLiteral("P/"));
    QTest::keyClick(filter, Qt::Key_Down);
    QTRY_VERIFY(table()->hasFocus());
    QCOMPARE(selectedPaths(), QStringList { QStringLiteral("p/a") });
    QTest::keyClick(table(), Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(selectedPaths(), (QStringList { QStringLiteral("p/a"), QStringLiteral("p/b") }));
    m_dialogs->holdBoxes(true);
    QTimer::singleShot(0, this, [&] {
        if (m_dialogs->waitForBoxes(1))
            QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
        m_dialogs->holdBoxes(false);
    });
    QTest::keyClick(table(), Qt::Key_Delete);
    QVERIFY(m_dialogs->waitForBoxes(2));
    QCOMPARE(requestedPaths(MT_RemoveJob),
             (QStringList { QStringLiteral("p/a"), QStringLiteral("p/b") }));
    // Escape empties the filter.
    QTRY_VERIFY(child("pushButtonStatus")->isEnabled());
    m_panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_panel.get()));
    QTest::keyClick(table(), Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(filter->hasFocus());
    QCOMPARE(filter->selectedText(), QString(QStringLiteral("P/")));
    QTest::keyClick(filter, Qt::Key_Escape);
    QCOMPARE(filter->text(), QString());
}

void TestStatusWidget::resultsOfSeveralJobsGoToOneFolder_data()
{
    QTest::addColumn<QString>("refused");
    QTest::addColumn<bool>("fileThereBefore");
    QTest::addColumn<QStringList>("folder"); // "name: content" of every file, by name
    QTest::addColumn<QString>("summary");
    QTest::newRow("all saved") << QString() << false
                               << QStringList { QStringLiteral("a.zip: result of study/a/m"),
                                                QStringLiteral("b (2).7z: result of other/b/m"),
                                                QStringLiteral("b.7z: result of study/b/m") }
                               << QStringLiteral("3 saved");
    QTest::newRow("one refused, a file there before")
        << QStringLiteral("study/b/m") << true
        << QStringList { QStringLiteral("a (2).zip: result of study/a/m"),
                         QStringLiteral("a.zip: earlier"),
                         QStringLiteral("b.7z: result of other/b/m") }
        << QStringLiteral("2 saved, 1 refused: study/b/m");
}

void TestStatusWidget::resultsOfSeveralJobsGoToOneFolder()
{
    QFETCH(QString, refused);
    QFETCH(bool, fileThereBefore);
    QFETCH(QStringList, folder);
    QFETCH(QString, summary);
    QTemporaryDir dir;
    if (fileThereBefore) {
        QFile earlier(dir.filePath(QStringLiteral("a.zip")));
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
    }
    const QString zip = QStringLiteral("Ready for download: r.zip");
    QVERIFY(showJobs({ job(QStringLiteral("Processed"), zip, QStringLiteral("study/a/m")),
                       job(QStringLiteral("Processed"), Ready, QStringLiteral("study/b/m")),
                       job(QStringLiteral("Queued"), Ready, QStringLiteral("study/c/m")),
                       job(QStringLiteral("Processed"), Ready, QStringLiteral("other/b/m")) }));
    m_server->clearReceived();
    connect(m_server.get(), &FakeServer::requestReceived, m_panel.get(), [&](qint64 type) {
        if (type != MT_DownloadJob)
            return;
        const QByteArray path = m_server->requests().last().bytes.mid(24);
        m_server->send(path == refused.toUtf8()
                           ? FakeServer::reply(MT_CommandError2)
                           : FakeServer::reply(MT_DownloadJobReply, "result of " + path));
    });
    table()->selectAll();
    QCOMPARE(child(QStringLiteral("pushButtonDownload"))->text(),
             QStringLiteral("Get Results (3)"));
    m_dialogs->queueFileAnswer(dir.path());
    click(QStringLiteral("pushButtonDownload"));
    QVERIFY(m_dialogs->waitForBoxes(2));
    QCOMPARE(m_dialogs->boxes.at(0).text,
             QStringLiteral("Get the results of 3 jobs?\n\nstudy/a/m\nstudy/b/m\nother/b/m\n\n"
                            "Left out, as they offer no result: 1\nstudy/c/m (Queued)"));
    QCOMPARE(m_dialogs->boxes.at(1).text, summary);
    QCOMPARE(m_dialogs->fileDialogs.size(), 1);
    QStringList stored;
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        stored << name + QStringLiteral(": ") + QString::fromUtf8(file.readAll());
    }
    QCOMPARE(stored, folder);
    QCOMPARE(requestedPaths(MT_DownloadJob),
             (QStringList { QStringLiteral("study/a/m"), QStringLiteral("study/b/m"),
                            QStringLiteral("other/b/m") }));
    QVERIFY(!m_server->requestTypes().contains(MT_JobStatus));
}

void TestStatusWidget::elidedCellsTellTheirWholeText()
{
    const QString longPath
        = QStringLiteral("study/") + QString(200, QLatin1Char('x')) + QStringLiteral("/model.dat");
    const QString queued = QStringLiteral("Queued");
    QVERIFY(showJobs({ job(queued, QStringLiteral("m"), longPath),
                       job(queued, QStringLiteral("m"), QStringLiteral("p/a")) }));
    const auto askForTip = [this](int row) {
        const QPoint at = table()->visualRect(table()->model()->index(row, 3)).center();
        QHelpEvent help(QEvent::ToolTip, at, table()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(table()->viewport(), &help);
        return help.isAccepted();
    };
    QVERIFY(askForTip(0));
    QCOMPARE(QToolTip::text(), longPath);
    QVERIFY(!askForTip(1));
}

void TestStatusWidget::rowMenuFromTheKeyboard()
{
    QVERIFY(
        showJobs({ job(QStringLiteral("Queued"), QStringLiteral("m"), QStringLiteral("p/a")),
                   job(QStringLiteral("Processed"), Ready, QStringLiteral("p/b")),
                   job(QStringLiteral("Running"), QStringLiteral("m"), QStringLiteral("p/c")) }));
    selectRow(0);
    ctrlClickRow(1);
    QStringList offered;
    QTimer answering;
    connect(&answering, &QTimer::timeout, this, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        answering.stop();
        for (QAction *action : menu->actions()) {
            if (!action->isSeparator())
                offered << action->text()
                        + (action->isEnabled() ? QString() : QStringLiteral(" (off)"));
            if (action->text() == QLatin1String("Copy path"))
                action->trigger();
        }
        menu->close();
    });
    answering.start(10);
    QTest::keyClick(table(), Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(!answering.isActive());
    QCOMPARE(offered,
             (QStringList { QStringLiteral("Kill (off)"), QStringLiteral("Remove (2)"),
                            QStringLiteral("Get Results"), QStringLiteral("Copy path") }));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("p/a\np/b"));
}

QTEST_MAIN(TestStatusWidget)
#include "tst_statuswidget.moc"
