#include "DevServerProcess.h"
#include "DialogHelper.h"
#include "gui/FunctionTestWidget.h"
#include "gui/JobTableItems.h"
#include "protocol/ApplicationIdentity.h"
#include "protocol/Protocol.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSet>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace VLK;

namespace {

const QString User = QStringLiteral("engineer");
const QString Password = QStringLiteral("s3cret pass");
const QString ReadyPrefix = QStringLiteral("Ready for download: ");
// Jobs move fast, yet slow enough that a job list refreshed every second
// sees each of its states.
const QStringList ServerPace { QStringLiteral("--tick-ms"), QStringLiteral("300"),
                               QStringLiteral("--steps"), QStringLiteral("10") };
constexpr int JobTimeoutMs = 30000;

bool copyFolder(const QString &source, const QString &target)
{
    if (!QDir().mkpath(target))
        return false;
    QDirIterator entries(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        const QString copy = target + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyFolder(entry.filePath(), copy)
                          : !QFile::copy(entry.filePath(), copy))
            return false;
    }
    return true;
}

// The server keeps its files where it likes; they are found by name.
QString findFile(const QString &directory, const QString &fileName)
{
    QDirIterator files(directory, { fileName }, QDir::Files, QDirIterator::Subdirectories);
    return files.hasNext() ? files.next() : QString();
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// One session through the real window against the stand-in server, in the
// order a user goes: every step builds on the ones before it.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void loginFillsSolversAndJobs();
    void selectProjectPacksIt();
    void slowJobRunsToProcessed();
    void resultDownloadsByteForByte();
    void runningJobIsKilled();
    void removedJobLeavesTheServer();
    void logout();
    void loginAgainAfterLogoutAndRefusal();

private:
    template<class T = QAbstractButton> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    QTableWidget *table() const { return child<QTableWidget>("tableWidgetStatus"); }
    void click(const char *button) { QTest::mouseClick(child(button), Qt::LeftButton); }
    int rowOf(const QString &jobPath) const;
    QString cell(const QString &jobPath, int column) const;
    bool selectJob(const QString &jobPath);
    bool clickWhenEnabled(const char *button);
    void typePassword(const QString &password);
    QString submitJob(const char *queueButton);
    void recordStatuses(int msgType);
    QStringList enabledActions() const;

    QTemporaryDir m_dir;
    DevServerProcess *m_server = nullptr;
    DialogHelper *m_dialogs = nullptr;
    FunctionTestWidget *m_window = nullptr;
    QStringList m_statusLines; // every line the window logged
    QHash<QString, QStringList> m_statusPrefixes; // per job path, each change once
    // Per job path, the actions offered as its status changed while selected.
    QHash<QString, QStringList> m_actionsOnChange;
    QString m_archive;
    QString m_firstJob;
    QString m_resultFile;
};

void TestEndToEnd::initTestCase()
{
    QVERIFY(m_dir.isValid());
    VLK::ApplicationIdentity::install();
    QSettings().clear();

    m_server = new DevServerProcess(QStringLiteral(CALVARO_DEVSERVER), m_dir.path());
    const QString users = m_server->writeUsersFile({ { User, Password } });
    QVERIFY(!users.isEmpty());
    QVERIFY2(m_server->start(QStringList { QStringLiteral("--users"), users } + ServerPace),
             qPrintable(m_server->log()));

    m_dialogs = new DialogHelper(this);
    m_window = new FunctionTestWidget;
    m_window->setOrganizationAndApplication(QCoreApplication::organizationName(),
                                            QCoreApplication::applicationName());
    m_window->readSettings();
    connect(m_window, &CalvaroClientBase::addStatusMessage, this,
            [this](const QString &line) { m_statusLines.append(line); });
    // Connected after the panels, so the table is already filled when this runs.
    connect(m_window, &CalvaroClientBase::msgReceived, this, &TestEndToEnd::recordStatuses);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestEndToEnd::cleanupTestCase()
{
    delete m_window;
    delete m_dialogs;
    delete m_server;
}

void TestEndToEnd::cleanup()
{
    if (!QTest::currentTestFailed())
        return;
    qInfo().noquote() << "status log:\n" << m_statusLines.join(QLatin1Char('\n'));
    qInfo().noquote() << "server log:\n" << m_server->log().right(3000);
}

int TestEndToEnd::rowOf(const QString &jobPath) const
{
    for (int row = 0; row < table()->rowCount(); ++row) {
        const QTableWidgetItem *path = table()->item(row, JobTableItems::PathColumn);
        if (path && path->text() == jobPath)
            return row;
    }
    return -1;
}

QString TestEndToEnd::cell(const QString &jobPath, int column) const
{
    const int row = rowOf(jobPath);
    const QTableWidgetItem *item = row == -1 ? nullptr : table()->item(row, column);
    return item ? item->text() : QString();
}

// Clicks the job's row as soon as the table takes clicks (it does not while a
// reply is awaited) and checks the row was selected.
bool TestEndToEnd::selectJob(const QString &jobPath)
{
    if (!QTest::qWaitFor([&] { return table()->isEnabled() && rowOf(jobPath) != -1; }, 10000))
        return false;
    const QRect cellRect
        = table()->visualItemRect(table()->item(rowOf(jobPath), JobTableItems::SolverIdColumn));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cellRect.center());
    return table()->currentRow() == rowOf(jobPath);
}

// Buttons are disabled while a reply is awaited, which the auto-refresh makes
// happen every second; the click comes at once when the button is ready.
bool TestEndToEnd::clickWhenEnabled(const char *button)
{
    if (!QTest::qWaitFor([&] { return child(button)->isEnabled(); }, 10000))
        return false;
    click(button);
    return true;
}

// Returns the path of the job that the submission added to the table.
QString TestEndToEnd::submitJob(const char *queueButton)
{
    QSet<QString> known;
    for (int row = 0; row < table()->rowCount(); ++row)
        known.insert(table()->item(row, JobTableItems::PathColumn)->text());
    // A radio button takes clicks on its circle and label only, not on the
    // rest of its width.
    QAbstractButton *queue = child(queueButton);
    QTest::mouseClick(queue, Qt::LeftButton, {}, QPoint(queue->height() / 2, queue->height() / 2));
    if (!queue->isChecked() || !clickWhenEnabled("pushButtonSubmit"))
        return QString();
    QString added;
    const auto newJobShown = [&] {
        for (int row = 0; row < table()->rowCount(); ++row) {
            const QString path = table()->item(row, JobTableItems::PathColumn)->text();
            if (!known.contains(path))
                added = path;
        }
        return !added.isEmpty();
    };
    return QTest::qWaitFor(newJobShown, 10000) ? added : QString();
}

// Runs as each job list has been shown, as the user would look at it.
void TestEndToEnd::recordStatuses(int msgType)
{
    if (msgType != MT_JobStatusReply)
        return;
    for (int row = 0; row < table()->rowCount(); ++row) {
        const QString path = table()->item(row, JobTableItems::PathColumn)->text();
        const QString prefix = table()
                                   ->item(row, JobTableItems::StatusColumn)
                                   ->text()
                                   .section(QLatin1Char(' '), 0, 0);
        QStringList &seen = m_statusPrefixes[path];
        if (!seen.isEmpty() && seen.last() == prefix)
            continue;
        seen.append(prefix);
        if (row == table()->currentRow())
            m_actionsOnChange[path].append(prefix + QStringLiteral(" [")
                                           + enabledActions().join(QLatin1String(", "))
                                           + QLatin1Char(']'));
    }
}

QStringList TestEndToEnd::enabledActions() const
{
    QStringList enabled;
    for (const char *name : { "pushButtonKill", "pushButtonRemove", "pushButtonDownload" }) {
        if (child(name)->isEnabled())
            enabled.append(child(name)->text());
    }
    return enabled;
}

void TestEndToEnd::loginFillsSolversAndJobs()
{
    auto *server = child<QComboBox>("comboBoxServerIP");
    server->lineEdit()->clear();
    QTest::keyClicks(server->lineEdit(), QStringLiteral("127.0.0.1"));
    child<QLineEdit>("lineEditServerPort")->clear();
    QTest::keyClicks(child<QLineEdit>("lineEditServerPort"), QString::number(m_server->port()));
    QTest::keyClicks(child<QLineEdit>("lineEditUser"), User);
    QTest::keyClicks(child<QLineEdit>("lineEditPassword"), Password);
    click("pushButtonLogin");

    auto *solvers = child<QComboBox>("comboBoxSolver");
    QTRY_COMPARE_WITH_TIMEOUT(solvers->count(), 3, 10000);
    QCOMPARE(solvers->itemText(1), QStringLiteral("cfd transient 3"));
    QCOMPARE(solvers->itemData(1).toString(), QStringLiteral("cfd_transient_3"));
    QTRY_VERIFY(m_statusLines.contains(QStringLiteral("0 jobs for this user")));
    QCOMPARE(child<QPlainTextEdit>("plainTextEditStatus")->toPlainText(),
             QStringLiteral("Connecting to server...\nConnected\nLogin successful\n"
                            "Requesting solver list...\n  3 solvers registered\n"
                            "0 jobs for this user"));
    QTRY_VERIFY(child("pushButtonSubmit")->isEnabled());
    QVERIFY(!child("pushButtonLogin")->isEnabled());
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestEndToEnd::selectProjectPacksIt()
{
    const QString project = m_dir.filePath(QStringLiteral("beam-demo"));
    QVERIFY(copyFolder(qEnvironmentVariable("CALVARO_SOURCE_DIR")
                           + QStringLiteral("/samples/beam-demo"),
                       project));
    m_dialogs->queueFileAnswer(project + QStringLiteral("/beam.prja"));
    click("pushButtonCreateZip");

    m_archive = m_dir.filePath(QStringLiteral("beam-demo.zip"));
    QTRY_COMPARE(child<QLineEdit>("lineEditZipFile")->text(), m_archive);
    QCOMPARE(child<QLineEdit>("lineEditProjectFile")->text(), QStringLiteral("beam.prja"));
    QVERIFY(contents(m_archive).startsWith("PK\x03\x04"));
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestEndToEnd::slowJobRunsToProcessed()
{
    QVERIFY(!m_archive.isEmpty());
    child<QComboBox>("comboBoxSolver")->setCurrentIndex(1);
    m_firstJob = submitJob("radioButtonSlow");
    QVERIFY(!m_firstJob.isEmpty());
    QVERIFY2(m_firstJob.startsWith(User + u'/') && m_firstJob.endsWith(QLatin1String("/beam.prja")),
             qPrintable(m_firstJob));
    QCOMPARE(cell(m_firstJob, JobTableItems::UserIdColumn), User);
    QCOMPARE(cell(m_firstJob, JobTableItems::SolverIdColumn), QStringLiteral("cfd_transient_3"));
    QCOMPARE(cell(m_firstJob, JobTableItems::StatusColumn), QStringLiteral("Queued (slow queue)"));
    // What arrived on the server is the archive as it was packed.
    QCOMPARE(contents(findFile(m_server->dataDirectory(), QStringLiteral("beam-demo.zip"))),
             contents(m_archive));

    QVERIFY(selectJob(m_firstJob));
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(1);
    QTRY_VERIFY_WITH_TIMEOUT(
        cell(m_firstJob, JobTableItems::ProgressColumn).startsWith(ReadyPrefix), JobTimeoutMs);
    QCOMPARE(m_statusPrefixes.value(m_firstJob),
             (QStringList { QStringLiteral("Queued"), QStringLiteral("Running"),
                            QStringLiteral("Processed") }));
    QCOMPARE(cell(m_firstJob, JobTableItems::StatusColumn), QStringLiteral("Processed"));
    // The selection survived the refreshes, and the actions followed the job.
    QCOMPARE(table()->currentRow(), rowOf(m_firstJob));
    QCOMPARE(m_actionsOnChange.value(m_firstJob),
             (QStringList { QStringLiteral("Running [Kill]"),
                            QStringLiteral("Processed [Remove, Get Results]") }));
    const QStringList messages
        = child<QPlainTextEdit>("plainTextEdit")->toPlainText().split(QLatin1Char('\n'));
    QVERIFY2(messages.size() > 20, qPrintable(messages.join(u'\n')));
    QVERIFY(messages.contains(QStringLiteral("Step 20/20: Writing results")));
    QCOMPARE(messages.last(), cell(m_firstJob, JobTableItems::ProgressColumn));
}

void TestEndToEnd::resultDownloadsByteForByte()
{
    QVERIFY(!m_firstJob.isEmpty());
    const QString resultName
        = cell(m_firstJob, JobTableItems::ProgressColumn).mid(ReadyPrefix.size());
    m_resultFile = findFile(m_server->dataDirectory(), resultName);
    QVERIFY2(!m_resultFile.isEmpty(), qPrintable(resultName));

    const QString target = m_dir.filePath(QStringLiteral("downloaded-results.7z"));
    m_dialogs->queueFileAnswer(target);
    QVERIFY(selectJob(m_firstJob));
    QVERIFY(clickWhenEnabled("pushButtonDownload"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(target), 10000);

    QCOMPARE(m_dialogs->fileDialogs.size(), 2);
    QVERIFY(m_dialogs->fileDialogs.last().saving);
    const QByteArray downloaded = contents(target);
    QVERIFY(downloaded.startsWith("PK\x03\x04"));
    QCOMPARE(downloaded, contents(m_resultFile));
    QVERIFY(
        m_statusLines.contains(QStringLiteral("Downloading job #%1").arg(rowOf(m_firstJob) + 1)));
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestEndToEnd::runningJobIsKilled()
{
    QVERIFY(!m_archive.isEmpty());
    const QString job = submitJob("radioButtonFast");
    QVERIFY(!job.isEmpty());
    QVERIFY(job != m_firstJob);
    QTRY_VERIFY_WITH_TIMEOUT(
        cell(job, JobTableItems::StatusColumn).startsWith(QLatin1String("Running (step")),
        JobTimeoutMs);
    QVERIFY(selectJob(job));
    QVERIFY(clickWhenEnabled("pushButtonKill"));

    QVERIFY(m_dialogs->waitForBoxes(1, 10000));
    QCOMPARE(m_dialogs->boxes.first().icon, QMessageBox::Information);
    QCOMPARE(m_dialogs->boxes.first().title, QStringLiteral("Job Kill"));
    QCOMPARE(m_dialogs->boxes.first().text,
             QStringLiteral("Job terminated via signal (may take a second to actually stop)."));
    QTRY_COMPARE_WITH_TIMEOUT(cell(job, JobTableItems::StatusColumn), QStringLiteral("Killed"),
                              10000);
    QCOMPARE(cell(job, JobTableItems::ProgressColumn), QStringLiteral("Killed on request"));
    QCOMPARE(m_actionsOnChange.value(job), QStringList { QStringLiteral("Killed []") });
    QCOMPARE(m_dialogs->boxes.size(), 1);
}

void TestEndToEnd::removedJobLeavesTheServer()
{
    QVERIFY(!m_resultFile.isEmpty());
    const QString jobFolder = QFileInfo(m_resultFile).absolutePath();
    const QString uploadedArchive = findFile(jobFolder, QStringLiteral("beam-demo.zip"));
    QVERIFY(!uploadedArchive.isEmpty());

    QVERIFY(selectJob(m_firstJob));
    QVERIFY(clickWhenEnabled("pushButtonRemove"));
    QTRY_COMPARE_WITH_TIMEOUT(rowOf(m_firstJob), -1, 10000);
    QCOMPARE(table()->rowCount(), 1);
    QVERIFY(!QFileInfo::exists(m_resultFile));
    QVERIFY(!QFileInfo::exists(uploadedArchive));
    QVERIFY(!QFileInfo::exists(jobFolder));
    QCOMPARE(m_dialogs->boxes.size(), 1);
}

void TestEndToEnd::logout()
{
    QVERIFY(clickWhenEnabled("pushButtonLogout"));
    QTRY_VERIFY_WITH_TIMEOUT(child<QPlainTextEdit>("plainTextEditStatus")
                                 ->toPlainText()
                                 .endsWith(QLatin1String("\nLogged out")),
                             10000);
    QCOMPARE(table()->rowCount(), 0);
    QVERIFY(!child("pushButtonSubmit")->isEnabled());
    QVERIFY(!child("pushButtonStatus")->isEnabled());
    QVERIFY(!child("pushButtonLogout")->isEnabled());
    QCOMPARE(m_dialogs->boxes.size(), 1);
}

void TestEndToEnd::typePassword(const QString &password)
{
    child<QLineEdit>("lineEditPassword")->clear();
    QTest::keyClicks(child<QLineEdit>("lineEditPassword"), password);
}

// Neither a logout nor a wrong password leaves the user without a way to log
// in; each Login reaches a logged-in window with its job list.
void TestEndToEnd::loginAgainAfterLogoutAndRefusal()
{
    typePassword(QStringLiteral("wrong"));
    QVERIFY(clickWhenEnabled("pushButtonLogin"));
    QVERIFY(m_dialogs->waitForBoxes(2, 10000));
    QCOMPARE(m_dialogs->boxTexts().last(),
             QStringLiteral("Command failed: Error processing command, see server log."));
    QVERIFY(m_statusLines.contains(QStringLiteral("Login refused")));
    QVERIFY(child("pushButtonLogin")->isEnabled());
    for (const char *idle : { "pushButtonLogout", "pushButtonStatus", "pushButtonSubmit" })
        QVERIFY2(!child(idle)->isEnabled(), idle);

    typePassword(Password);
    for (const bool logOutFirst : { false, true }) {
        if (logOutFirst) {
            QVERIFY(clickWhenEnabled("pushButtonLogout"));
            QTRY_COMPARE(table()->columnCount(), 0);
        }
        QVERIFY(clickWhenEnabled("pushButtonLogin"));
        QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 1, 10000);
        QTRY_VERIFY(child("pushButtonLogout")->isEnabled());
        QVERIFY(!child("pushButtonLogin")->isEnabled());
    }
    QCOMPARE(m_dialogs->boxes.size(), 2);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
