#include "DevServerProcess.h"
#include "DialogHelper.h"
#include "gui/FunctionTestWidget.h"
#include "gui/JobActionPlan.h"
#include "gui/JobTableItems.h"
#include "gui/JournalCells.h"
#include "gui/StatusWidget.h"
#include "journal/JobJournal.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace VLK;

namespace {

const QString User = QStringLiteral("engineer");
const QString Password = QStringLiteral("study");
constexpr int JobTimeoutMs = 30000;

bool copyFolder(const QString &source, const QString &target)
{
    if (!QDir().mkpath(target))
        return false;
    QDirIterator entries(source, QDir::Files);
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        if (!QFile::copy(entry.filePath(), target + QLatin1Char('/') + entry.fileName()))
            return false;
    }
    return true;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The result the stand-in server made for the job in jobFolder.
QString serverResult(const QString &dataDirectory, const QString &jobFolder)
{
    QDirIterator files(dataDirectory, { jobFolder + QStringLiteral("_results*") }, QDir::Files,
                       QDirIterator::Subdirectories);
    return files.hasNext() ? files.next() : QString();
}

} // namespace

// The window and the job journal against the stand-in server: results come
// home without a click, and the table tells which are on disk.
class TestJournalWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void resultsComeHomeWithoutAClick();
    void removeAsksOnlyWhenAResultWouldBeLost_data();
    void removeAsksOnlyWhenAResultWouldBeLost();

private:
    template<class T = QAbstractButton> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    QTableWidget *table() const { return child<QTableWidget>("tableWidgetStatus"); }
    void openWindowAndLogIn();
    QString cell(const QString &jobPath, int column, QString *toolTip = nullptr) const;
    bool isShown(const QString &jobPath) const;
    QString newJob(const QSet<QString> &known) const;
    QString submitWithCommandLine(const QString &commandLine);
    int downloadsOnServer() const
    {
        return m_server->log().count(QStringLiteral("MT_DownloadJob("));
    }

    QTemporaryDir m_dir;
    std::unique_ptr<DevServerProcess> m_server;
    std::unique_ptr<DialogHelper> m_dialogs;
    std::unique_ptr<FunctionTestWidget> m_window;
    QStringList m_statusLines;
};

void TestJournalWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings(QStringLiteral("Orvand"), QStringLiteral("CalvaroClient")).clear();
    QFile::remove(JobJournal::defaultPath());
    m_server = std::make_unique<DevServerProcess>(QStringLiteral(CALVARO_DEVSERVER), m_dir.path());
    const QString users = m_server->writeUsersFile({ { User, Password } });
    QVERIFY(m_server->start({ QStringLiteral("--users"), users, QStringLiteral("--tick-ms"),
                              QStringLiteral("100"), QStringLiteral("--steps"), QStringLiteral("3"),
                              QStringLiteral("--result-size"), QStringLiteral("300K") }));
    m_dialogs = std::make_unique<DialogHelper>();
}

void TestJournalWindow::cleanupTestCase()
{
    m_window.reset();
    m_server.reset();
}

void TestJournalWindow::cleanup()
{
    if (!QTest::currentTestFailed())
        return;
    qInfo().noquote() << "status log:\n" << m_statusLines.join(QLatin1Char('\n'));
    qInfo().noquote() << "server log:\n" << m_server->log().right(3000);
}

void TestJournalWindow::openWindowAndLogIn()
{
    m_window = std::make_unique<FunctionTestWidget>();
    m_window->setOrganizationAndApplication(QStringLiteral("Orvand"),
                                            QStringLiteral("CalvaroClient"));
    m_window->readSettings();
    m_statusLines.clear();
    connect(m_window.get(), &CalvaroClientBase::addStatusMessage, this,
            [this](const QString &line) { m_statusLines.append(line); });
    m_window->show();
    child<QComboBox>("comboBoxServerIP")->setEditText(QStringLiteral("127.0.0.1"));
    child<QLineEdit>("lineEditServerPort")->setText(QString::number(m_server->port()));
    child<QLineEdit>("lineEditUser")->setText(User);
    child<QLineEdit>("lineEditPassword")->setText(Password);
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(1);
    QTest::mouseClick(child("pushButtonLogin"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(child("pushButtonSubmit")->isEnabled(), 10000);
}

bool TestJournalWindow::isShown(const QString &jobPath) const
{
    for (int row = 0; row < table()->rowCount(); ++row) {
        if (table()->item(row, JobTableItems::PathColumn)->text() == jobPath)
            return !table()->isRowHidden(row);
    }
    return false;
}

QString TestJournalWindow::cell(const QString &jobPath, int column, QString *toolTip) const
{
    for (int row = 0; row < table()->rowCount(); ++row) {
        const QTableWidgetItem *path = table()->item(row, JobTableItems::PathColumn);
        const QTableWidgetItem *item = table()->item(row, column);
        if (!path || path->text() != jobPath || !item)
            continue;
        if (toolTip)
            *toolTip = item->toolTip();
        return item->text();
    }
    return QString();
}

// A job in the table that known lacks, else an empty text.
QString TestJournalWindow::newJob(const QSet<QString> &known) const
{
    for (int row = 0; row < table()->rowCount(); ++row) {
        const QString path = table()->item(row, JobTableItems::PathColumn)->text();
        if (!known.contains(path))
            return path;
    }
    return QString();
}

QString TestJournalWindow::submitWithCommandLine(const QString &commandLine)
{
    QSet<QString> known;
    for (int row = 0; row < table()->rowCount(); ++row)
        known.insert(table()->item(row, JobTableItems::PathColumn)->text());
    child<QLineEdit>("lineEditCmdLine")->setText(commandLine);
    if (!QTest::qWaitFor([this] { return child("pushButtonSubmit")->isEnabled(); }, 10000))
        return QString();
    QTest::mouseClick(child("pushButtonSubmit"), Qt::LeftButton);
    QString added;
    return QTest::qWaitFor([&] { return !(added = newJob(known)).isEmpty(); }, 10000) ? added
                                                                                      : QString();
}

// Two jobs of a study finish while nobody clicks; both results land in the
// results folder beside the project, each fetched once, and a restarted
// window knows them from the journal alone.
void TestJournalWindow::resultsComeHomeWithoutAClick()
{
    const QString project = m_dir.filePath(QStringLiteral("beam-demo"));
    QVERIFY(copyFolder(qEnvironmentVariable("CALVARO_SOURCE_DIR")
                           + QStringLiteral("/samples/beam-demo"),
                       project));
    openWindowAndLogIn();
    m_dialogs->queueFileAnswer(project + QStringLiteral("/beam.prja"));
    QTest::mouseClick(child("pushButtonCreateZip"), Qt::LeftButton);
    QTRY_COMPARE(child<QLineEdit>("lineEditZipFile")->text(),
                 m_dir.filePath(QStringLiteral("beam-demo.zip")));

    const QStringList commandLines { QStringLiteral("--load 10"), QStringLiteral("--load 20") };
    QStringList jobs;
    for (const QString &commandLine : commandLines)
        jobs << submitWithCommandLine(commandLine);
    QVERIFY(!jobs.contains(QString()));

    QStringList folders;
    QStringList files;
    for (const QString &job : qAsConst(jobs)) {
        const QString folder = job.section(QLatin1Char('/'), -2, -2);
        folders << folder;
        files << project + QStringLiteral("/results/") + folder + QLatin1Char('_') + folder
                + QStringLiteral("_results.bin");
    }
    for (int index = 0; index < jobs.size(); ++index) {
        QTRY_COMPARE_WITH_TIMEOUT(cell(jobs[index], JobTableItems::ResultColumn),
                                  QStringLiteral("on disk"), JobTimeoutMs);
        QString toolTip;
        cell(jobs[index], JobTableItems::ResultColumn, &toolTip);
        QCOMPARE(toolTip, QDir::toNativeSeparators(files[index]));
        QCOMPARE(cell(jobs[index], JobTableItems::CommandLineColumn), commandLines[index]);
        QVERIFY(
            m_statusLines.contains(QStringLiteral("Saved result of %1 to %2")
                                       .arg(jobs[index], QDir::toNativeSeparators(files[index]))));
        QCOMPARE(contents(files[index]),
                 contents(serverResult(m_server->dataDirectory(), folders[index])));
    }
    QCOMPARE(QDir(project + QStringLiteral("/results")).entryList(QDir::Files).size(), 2);
    QCOMPARE(downloadsOnServer(), 2);
    QCOMPARE(m_dialogs->boxes.size(), 0);
    // The journal holds the status that the window saw last.
    JobJournal journal(JobJournal::defaultPath());
    QList<JournalEntry> entries;
    QVERIFY(journal.open() && journal.entries(entries));
    QCOMPARE(entries.size(), jobs.size());
    for (const JournalEntry &entry : qAsConst(entries))
        QVERIFY2(entry.lastStatus.startsWith(QLatin1String("Processed")),
                 qPrintable(entry.lastStatus));

    // After a restart the journal alone tells which results are on disk.
    m_window.reset();
    openWindowAndLogIn();
    QTRY_COMPARE(cell(jobs.constFirst(), JobTableItems::ResultColumn), QStringLiteral("on disk"));
    QCOMPARE(cell(jobs.constLast(), JobTableItems::ResultColumn), QStringLiteral("on disk"));
    QCOMPARE(cell(jobs.constLast(), JobTableItems::CommandLineColumn), commandLines.constLast());
    // A few refreshes more, and still nothing is fetched again.
    const int listsBefore = m_server->log().count(QStringLiteral("MT_JobStatus("));
    QTRY_VERIFY(m_server->log().count(QStringLiteral("MT_JobStatus(")) >= listsBefore + 2);
    QCOMPARE(downloadsOnServer(), 2);
    // What another program writes to the journal meanwhile, as calvaro
    // does, shows at a later refresh.
    const auto last = std::find_if(entries.begin(), entries.end(), [&](const JournalEntry &entry) {
        return entry.key.jobPath == jobs.constLast();
    });
    QVERIFY(last != entries.end());
    last->commandLine = QStringLiteral("--load 25");
    QVERIFY(journal.record(*last));
    QTRY_COMPARE(cell(jobs.constLast(), JobTableItems::CommandLineColumn), last->commandLine);

    // Resubmitted as the journal recorded it, the job comes home as well.
    // A filter on its command line, which only the journal knows, shows it
    // from the first list that names it on, whatever its line shows.
    child<QLineEdit>("lineEditFilter")->setText(commandLines.constFirst());
    QSet<QString> known(jobs.cbegin(), jobs.cend());
    emit child<StatusWidget>("statusWidget")->resubmitRequested(jobs.constFirst());
    QString again;
    QTRY_VERIFY_WITH_TIMEOUT(!(again = newJob(known)).isEmpty(), 10000);
    QTRY_COMPARE(cell(again, JobTableItems::CommandLineColumn), commandLines.constFirst());
    QTRY_VERIFY(isShown(again));
    QTRY_COMPARE_WITH_TIMEOUT(cell(again, JobTableItems::ResultColumn), QStringLiteral("on disk"),
                              JobTimeoutMs);
    QCOMPARE(downloadsOnServer(), 3);
    QVERIFY(isShown(again) && isShown(jobs.constFirst()) && !isShown(jobs.constLast()));
}

void TestJournalWindow::removeAsksOnlyWhenAResultWouldBeLost_data()
{
    QTest::addColumn<QStringList>("resultCells"); // per job: "offered", "on disk" or "none"
    QTest::addColumn<QString>("question");

    QTest::newRow("offered, not on disk") << QStringList { QStringLiteral("offered") }
                                          << QStringLiteral("Remove job u/j0/p? Its result was "
                                                            "never downloaded.");
    QTest::newRow("on disk") << QStringList { QStringLiteral("on disk") } << QString();
    QTest::newRow("no result") << QStringList { QStringLiteral("none") } << QString();
    QTest::newRow("several, one not on disk")
        << QStringList { QStringLiteral("on disk"), QStringLiteral("offered") }
        << QStringLiteral("Remove 2 jobs?\n\nu/j0/p\nu/j1/p\n\nThe results of 1 of them were "
                          "never downloaded:\nu/j1/p");
}

// The question comes from the plan the window acts on; one job asks only
// when its result would be lost.
void TestJournalWindow::removeAsksOnlyWhenAResultWouldBeLost()
{
    QFETCH(QStringList, resultCells);
    QFETCH(QString, question);

    QTableWidget table(resultCells.size(), JobTableItems::ColumnCount);
    const JobTableItems items;
    QList<int> rows;
    for (int row = 0; row < resultCells.size(); ++row) {
        const bool offered = resultCells[row] != QLatin1String("none");
        JobInfo job;
        job.accessible = true;
        job.userId = QStringLiteral("u");
        job.path = QStringLiteral("u/j%1/p").arg(row);
        job.status = QStringLiteral("Processed");
        job.progressMsg = offered ? QStringLiteral("Ready for download: r.bin") : QString();
        items.fillRow(table, row, job, row, false);
        JournalEntry entry;
        entry.key.jobPath = job.path;
        if (resultCells[row] == QLatin1String("on disk"))
            entry.resultPath = QStringLiteral("/results/r.bin");
        JournalCells::fillRow(table, row, &entry, offered);
        rows << row;
    }
    const JobActionPlan plan = JobActionPlan::forRows(table, rows, JobAction::Remove);
    QCOMPARE(plan.targets().size(), resultCells.size());
    QCOMPARE(plan.unsaved().isEmpty(), question.isEmpty());
    if (!question.isEmpty())
        QCOMPARE(plan.confirmationText(), question);
}

QTEST_MAIN(TestJournalWindow)
#include "tst_journalwindow.moc"
