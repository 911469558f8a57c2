#include "WindowFixture.h"
#include "WindowSession.h"
#include "gui/FunctionTestWidget.h"
#include "gui/SubmitProgressDialog.h"
#include "protocol/Protocol.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QChildEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <functional>

using namespace VLK;

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The stand-in for 7z in directory: a shell script that gets 7z's arguments
// ("a", "-r", "-mx7", "-tzip", archive, folder) in the archive's folder.
bool writeStandInArchiver(const QString &directory, const QByteArray &script)
{
    const QString path = directory + QStringLiteral("/7z");
    return writeFile(path, "#!/bin/sh\n" + script)
        && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// PATH for the programs started while this lives, the test's own afterwards.
class PathOverride
{
public:
    explicit PathOverride(const QString &path)
        : m_saved(qgetenv("PATH"))
    {
        qputenv("PATH", path.toLocal8Bit());
    }
    ~PathOverride() { qputenv("PATH", m_saved); }
    Q_DISABLE_COPY(PathOverride)

private:
    const QByteArray m_saved;
};

QString settingsValue(const QString &key)
{
    return QSettings(WindowFixture::Organization, WindowFixture::Application).value(key).toString();
}

QString archiveListing(const QString &archivePath)
{
    QProcess lister;
    lister.start(QStringLiteral("7z"), { QStringLiteral("l"), archivePath });
    lister.waitForFinished(30000);
    return QString::fromLocal8Bit(lister.readAllStandardOutput());
}

// Follows the bar of every upload dialog the window opens, from its first value on.
struct UploadWatcher : QObject
{
    int dialogs = 0;
    QList<QPair<int, int>> shown; // (value, maximum), the empty state left out
    std::function<void(SubmitProgressDialog *, int)> onValue;

    explicit UploadWatcher(QWidget *window) { window->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        auto *dialog = event->type() == QEvent::ChildPolished
            ? qobject_cast<SubmitProgressDialog *>(static_cast<QChildEvent *>(event)->child())
            : nullptr;
        if (QProgressBar *bar = dialog ? dialog->findChild<QProgressBar *>() : nullptr) {
            ++dialogs;
            connect(bar, &QProgressBar::valueChanged, this, [=](int value) {
                if (value >= 0)
                    shown.append({ value, bar->maximum() });
                if (onValue)
                    onValue(dialog, value);
            });
        }
        return false;
    }
};

} // namespace

class TestFunctionTestWidget : public WindowFixture
{
    Q_OBJECT

private slots:
    void titleAndSubmitFollowTheConnectionState();
    void commandLineSurvivesARestart();
    void formAndSortSurviveLoginsAndRestarts();
    void solverListsFillTheBox();
    void undecodableSolverList();
    void createZipPacksTheProjectFolder();
    void createZipFailures_data();
    void createZipFailures();
    void closingStopsThePacking();
    void selectZipDerivesTheProjectFile_data();
    void selectZipDerivesTheProjectFile();
    void submitChecks_data();
    void submitChecks();
    void submitSendsTheJob_data();
    void submitSendsTheJob();
    void cancelEndsTheConnectionQuietly();
    void progressOfHugeArchivesIsScaled();
    void progressProcessesEventsOncePerBlock();
    void doubleClickSubmitsOnce();
    void focusStaysAcrossRefreshesAndActions();
    void noTimeOutBoxAfterTheConnectionIsLost();

private:
    void setUpWindow() override;
    void tearDownWindow() override;
    template<class T> T *child(const char *name)
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    bool connectWithSolvers(const QStringList &solvers);
    QTimer *startFastAutoRefresh();
    void submit() { QMetaObject::invokeMethod(m_window, "on_pushButtonSubmit_clicked"); }

    FunctionTestWidget *m_window = nullptr;
    QSignalSpy *m_status = nullptr;
    QTemporaryDir *m_dir = nullptr;
};

void TestFunctionTestWidget::setUpWindow()
{
    m_server->setReply(MT_JobStatus, FakeServer::textList(MT_JobStatusReply, {}));
    m_window = new FunctionTestWidget;
    m_window->setOrganizationAndApplication(Organization, Application);
    m_status = new QSignalSpy(m_window, &CalvaroClientBase::addStatusMessage);
    m_dir = new QTemporaryDir;
}

void TestFunctionTestWidget::tearDownWindow()
{
    delete m_status;
    delete m_window;
    delete m_dir;
    m_status = nullptr;
    m_window = nullptr;
    m_dir = nullptr;
}

// Connects without the login panel (which would log in on its own) and
// answers as the server does after a login.
bool TestFunctionTestWidget::connectWithSolvers(const QStringList &solvers)
{
    QObject::disconnect(m_window, &CalvaroClientBase::connectionEstablished,
                        child<QWidget>("loginWidget"), nullptr);
    QSignalSpy established(m_window, &CalvaroClientBase::connectionEstablished);
    m_window->connectToServer(QStringLiteral("127.0.0.1"), m_server->port());
    if (!established.wait(5000) || !m_server->waitForClient())
        return false;
    m_window->awaitReply();
    m_server->send(FakeServer::textList(MT_SolverListReply, solvers));
    return QTest::qWaitFor([this] { return child<QPushButton>("pushButtonSubmit")->isEnabled(); });
}

void TestFunctionTestWidget::titleAndSubmitFollowTheConnectionState()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Calvaro Client - 1.3.1"));
    auto *submitButton = child<QPushButton>("pushButtonSubmit");
    QVERIFY(!submitButton->isEnabled());
    for (bool connected : { true, false, true }) {
        emit m_window->connectionStateChanged(connected);
        QCOMPARE(submitButton->isEnabled(), connected);
    }
}

void TestFunctionTestWidget::commandLineSurvivesARestart()
{
    for (const QString &commandLine : { QStringLiteral("-np 4 --restart"), QString() }) {
        m_window->readSettings();
        child<QLineEdit>("lineEditCmdLine")->setText(commandLine);
        m_window->writeSettings();
        delete m_window;
        m_window = new FunctionTestWidget;
        m_window->setOrganizationAndApplication(Organization, Application);
        m_window->readSettings();
        QCOMPARE(child<QLineEdit>("lineEditCmdLine")->text(), commandLine);
    }
}

// The sort column outlasts a logout and a new login; the solver, the queue
// and the auto-refresh interval outlast a restart, as the command line does.
void TestFunctionTestWidget::formAndSortSurviveLoginsAndRestarts()
{
    const QStringList solvers
        = { QStringLiteral("thermal"), QStringLiteral("modal_steady"), QStringLiteral("struct") };
    const QStringList jobs
        = { WindowSession::jobLine(QStringLiteral("u/b"), QStringLiteral("Queued")),
            WindowSession::jobLine(QStringLiteral("u/c"), QStringLiteral("Queued")),
            WindowSession::jobLine(QStringLiteral("u/a"), QStringLiteral("Queued")) };
    m_server->setReply(MT_JobStatus, FakeServer::textList(MT_JobStatusReply, jobs));
    m_window->readSettings();
    m_window->show();
    QVERIFY(connectWithSolvers(solvers));
    auto *table = child<QTableWidget>("tableWidgetStatus");
    QTRY_COMPARE(table->rowCount(), 3);
    table->sortByColumn(3, Qt::DescendingOrder);
    child<QComboBox>("comboBoxSolver")->setCurrentIndex(1);
    child<QRadioButton>("radioButtonSlow")->setChecked(true);
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(7);

    QSignalSpy received(m_window, &CalvaroClientBase::msgReceived);
    m_window->awaitReply();
    m_server->send(FakeServer::reply(MT_LogoutOk));
    QVERIFY(received.wait(5000));
    QCOMPARE(table->columnCount(), 0);
    QVERIFY(connectWithSolvers(solvers));
    QTRY_COMPARE(table->rowCount(), 3);
    const auto paths = [table] {
        QStringList texts;
        for (int row = 0; row < table->rowCount(); ++row)
            texts << table->item(row, 3)->text();
        return texts;
    };
    QCOMPARE(paths(),
             (QStringList { QStringLiteral("u/c"), QStringLiteral("u/b"), QStringLiteral("u/a") }));
    QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), 3);
    QCOMPARE(child<QComboBox>("comboBoxSolver")->currentData().toString(), solvers.at(1));

    m_window->writeSettings();
    delete m_window;
    m_window = new FunctionTestWidget;
    m_window->setOrganizationAndApplication(Organization, Application);
    m_window->readSettings();
    QVERIFY(child<QRadioButton>("radioButtonSlow")->isChecked());
    QCOMPARE(child<QSpinBox>("spinBoxAutoRefresh")->value(), 7);
    QVERIFY(connectWithSolvers(solvers));
    QCOMPARE(child<QComboBox>("comboBoxSolver")->currentData().toString(), solvers.at(1));
}

void TestFunctionTestWidget::solverListsFillTheBox()
{
    QVERIFY(connectWithSolvers({ QStringLiteral("Fluid_Solver_2"), QStringLiteral("Thermal") }));
    auto *solverBox = child<QComboBox>("comboBoxSolver");
    QCOMPARE(solverBox->count(), 2);
    QCOMPARE(solverBox->itemText(0), QStringLiteral("Fluid Solver 2"));
    QCOMPARE(solverBox->itemData(0).toString(), QStringLiteral("Fluid_Solver_2"));
    QCOMPARE(solverBox->currentIndex(), 0);
    QVERIFY(m_status->contains({ QStringLiteral("  2 solvers registered") }));
    QCOMPARE(m_server->requestTypes(), QList<qint64> { MT_JobStatus });

    m_server->send(
        FakeServer::textList(MT_SolverListReply, { QStringLiteral("a"), QStringLiteral("b") }));
    QTRY_COMPARE(solverBox->itemText(1), QStringLiteral("b"));
    QCOMPARE(solverBox->count(), 2);
    QCOMPARE(solverBox->currentIndex(), 0);

    m_server->send(FakeServer::textList(MT_SolverListReply, {}));
    QTRY_VERIFY(m_status->contains({ QStringLiteral("  0 solvers registered") }));
    QCOMPARE(solverBox->count(), 0);
    QCOMPARE(solverBox->currentIndex(), -1);
    QVERIFY(m_server->waitForRequests(3));
    QCOMPARE(m_server->requestTypes(),
             (QList<qint64> { MT_JobStatus, MT_JobStatus, MT_JobStatus }));
}

void TestFunctionTestWidget::undecodableSolverList()
{
    QVERIFY(connectWithSolvers({ QStringLiteral("Thermal") }));
    m_server->send(FakeServer::reply(MT_SolverListReply));
    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxes.at(0).title, QStringLiteral("Invalid server reply"));
    QCOMPARE(m_dialogs->boxes.at(0).text,
             QStringLiteral("Invalid server reply (mismatching versions of server and client?)."));
    QCOMPARE(child<QComboBox>("comboBoxSolver")->count(), 0);
    QCOMPARE(m_server->requestTypes(), QList<qint64> { MT_JobStatus });
}

void TestFunctionTestWidget::createZipPacksTheProjectFolder()
{
    const QString project = m_dir->filePath(QStringLiteral("demo"));
    QVERIFY(writeFile(project + QStringLiteral("/model.prja"), "model"));
    QVERIFY(writeFile(project + QStringLiteral("/sub/deep/data.txt"), "data"));
    QVERIFY(writeFile(project + QStringLiteral("/sub/mesh.dat"), "mesh"));
    const QString archive = m_dir->filePath(QStringLiteral("demo.zip"));

    m_dialogs->queueFileAnswer(project + QStringLiteral("/model.prja"));
    child<QPushButton>("pushButtonCreateZip")->click();
    QCOMPARE(child<QLineEdit>("lineEditProjectFile")->text(), QStringLiteral("model.prja"));
    QCOMPARE(child<QLineEdit>("lineEditZipFile")->text(),
             QStringLiteral("<creating project archive>"));
    QVERIFY(!child<QPushButton>("pushButtonCreateZip")->isEnabled());
    QVERIFY(!child<QPushButton>("pushButtonSelect")->isEnabled());
    QTRY_COMPARE(child<QLineEdit>("lineEditZipFile")->text(), archive);
    QVERIFY(child<QPushButton>("pushButtonCreateZip")->isEnabled());
    QVERIFY(child<QPushButton>("pushButtonSelect")->isEnabled());
    QCOMPARE(settingsValue(QStringLiteral("RecentDirectories/LastZipDirectory")), project);
    QCOMPARE(m_dialogs->fileDialogs.at(0).caption,
             QStringLiteral("Select project file (*.prja *.prjb *.prjc *.prjd"));
    QCOMPARE(m_dialogs->fileDialogs.at(0).nameFilters,
             QStringList { QStringLiteral("All files (*.*)") });
    QString listing = archiveListing(archive);
    for (const char *packed : { "demo/model.prja", "demo/sub/deep/data.txt", "demo/sub/mesh.dat" })
        QVERIFY2(listing.contains(QLatin1String(packed)), packed);

    // An archive that were only updated would still hold the removed file.
    QVERIFY(QFile::remove(project + QStringLiteral("/sub/mesh.dat")));
    m_dialogs->queueFileAnswer(project + QStringLiteral("/model.prja"));
    child<QPushButton>("pushButtonCreateZip")->click();
    QTRY_COMPARE(child<QLineEdit>("lineEditZipFile")->text(), archive);
    QCOMPARE(m_dialogs->fileDialogs.at(1).directory, project);
    listing = archiveListing(archive);
    QVERIFY(listing.contains(QLatin1String("demo/model.prja")));
    QVERIFY(!listing.contains(QLatin1String("mesh.dat")));
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestFunctionTestWidget::createZipFailures_data()
{
    QTest::addColumn<QString>("archiver"); // "7z", "missing" or "failing" (a stand-in)
    QTest::addColumn<QString>("text"); // ARCHIVE and PROJECT stand for the paths
    QTest::newRow("7z not on the PATH")
        << "missing"
        << "Cannot run '7z' to create project archive (make sure it is installed its location is "
           "in the PATH variable).";
    QTest::newRow("old archive undeletable") << "7z"
                                             << "Error removing existing zip file 'ARCHIVE'.";
    QTest::newRow("7z fails") << "failing"
                              << "'7z' could not pack 'PROJECT' (exit code 2): ERROR: No space "
                                 "left on device.";
}

// After any failure Submit refuses instead of sending the archive packed before.
void TestFunctionTestWidget::createZipFailures()
{
    QFETCH(QString, archiver);
    QFETCH(QString, text);
    QVERIFY(connectWithSolvers({ QStringLiteral("Thermal") }));
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("earlier/model.prja")), "model"));
    m_dialogs->queueFileAnswer(m_dir->filePath(QStringLiteral("earlier/model.prja")));
    child<QPushButton>("pushButtonCreateZip")->click();
    QTRY_COMPARE(child<QLineEdit>("lineEditZipFile")->text(),
                 m_dir->filePath(QStringLiteral("earlier.zip")));

    const QString project = m_dir->filePath(QStringLiteral("demo"));
    const QString archive = m_dir->filePath(QStringLiteral("demo.zip"));
    QVERIFY(writeFile(project + QStringLiteral("/model.prjb"), "model"));
    QString path = QString::fromLocal8Bit(qgetenv("PATH"));
    if (archiver == QLatin1String("7z")) {
        // Root may remove any file, but no one removes a full directory as a file.
        QVERIFY(
            writeFile(archive + QStringLiteral("/blocker"), "a directory in the archive's place"));
    } else if (archiver == QLatin1String("missing")) {
        path = project;
    } else {
        path = m_dir->filePath(QStringLiteral("bin"));
        QVERIFY(writeStandInArchiver(path,
                                     "echo 'Scanning the drive:'\n"
                                     "echo partial > \"$5\"\n"
                                     "echo 'ERROR: No space left on device' >&2\n"
                                     "echo >&2\n"
                                     "exit 2\n"));
    }
    m_dialogs->queueFileAnswer(project + QStringLiteral("/model.prjb"));
    {
        const PathOverride pathOverride(path);
        child<QPushButton>("pushButtonCreateZip")->click();
    }

    QVERIFY(m_dialogs->waitForBoxes(1));
    QCOMPARE(m_dialogs->boxes.at(0).icon, QMessageBox::Critical);
    QCOMPARE(m_dialogs->boxes.at(0).title, QStringLiteral("Creating project archive"));
    QCOMPARE(
        m_dialogs->boxes.at(0).text,
        text.replace(QLatin1String("ARCHIVE"), archive).replace(QLatin1String("PROJECT"), project));
    QCOMPARE(m_dialogs->boxes.at(0).parent.data(), m_window);
    QCOMPARE(child<QLineEdit>("lineEditZipFile")->text(),
             QStringLiteral("<select project archive>"));
    QCOMPARE(child<QLineEdit>("lineEditProjectFile")->text(), QStringLiteral("model.prjb"));
    QVERIFY(!QFileInfo(archive).isFile());
    QVERIFY(child<QPushButton>("pushButtonCreateZip")->isEnabled());

    m_server->clearReceived();
    submit();
    QCOMPARE(m_dialogs->boxTitles(),
             (QStringList { QStringLiteral("Creating project archive"),
                            QStringLiteral("Invalid file") }));
    QVERIFY(!m_server->waitForRequests(1, 500));
}

// Closing the window stops the archiver at once and leaves no partial archive.
void TestFunctionTestWidget::closingStopsThePacking()
{
    const QString project = m_dir->filePath(QStringLiteral("demo"));
    const QString archive = m_dir->filePath(QStringLiteral("demo.zip"));
    QVERIFY(writeFile(project + QStringLiteral("/model.prja"), "model"));
    const QString bin = m_dir->filePath(QStringLiteral("bin"));
    QVERIFY(writeStandInArchiver(bin, "echo partial > \"$5\"\nexec /bin/sleep 60\n"));
    m_dialogs->queueFileAnswer(project + QStringLiteral("/model.prja"));
    {
        const PathOverride pathOverride(bin);
        child<QPushButton>("pushButtonCreateZip")->click();
    }
    QTRY_VERIFY(QFileInfo(archive).isFile());

    m_window->close();
    QTRY_COMPARE(child<QLineEdit>("lineEditZipFile")->text(),
                 QStringLiteral("<select project archive>"));
    QVERIFY(!QFileInfo::exists(archive));
    QVERIFY(child<QPushButton>("pushButtonCreateZip")->isEnabled());
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestFunctionTestWidget::selectZipDerivesTheProjectFile_data()
{
    QTest::addColumn<QString>("archiveName");
    QTest::addColumn<QString>("projectFile");
    QTest::newRow("pkga") << "run1.pkga"
                          << "run1.prja";
    QTest::newRow("pkgb") << "run1.pkgb"
                          << "run1.prjb";
    QTest::newRow("zip") << "run1.zip"
                         << "run1";
    QTest::newRow("base name ends at the first dot") << "a.b.pkga"
                                                     << "a.prja";
    QTest::newRow("suffix is case-sensitive") << "run1.PKGA"
                                              << "run1";
}

void TestFunctionTestWidget::selectZipDerivesTheProjectFile()
{
    QFETCH(QString, archiveName);
    QFETCH(QString, projectFile);
    const QString archive = m_dir->filePath(QStringLiteral("jobs/") + archiveName);
    QVERIFY(writeFile(archive, "zip"));
    m_dialogs->queueFileAnswer(archive);
    child<QPushButton>("pushButtonSelect")->click();
    QCOMPARE(child<QLineEdit>("lineEditZipFile")->text(), archive);
    QCOMPARE(child<QLineEdit>("lineEditProjectFile")->text(), projectFile);
    QCOMPARE(settingsValue(QStringLiteral("RecentDirectories/LastProjectDirectory")),
             m_dir->filePath(QStringLiteral("jobs")));
    QCOMPARE(settingsValue(QStringLiteral("RecentDirectories/LastZipDirectory")), QString());
    QCOMPARE(m_dialogs->fileDialogs.at(0).caption, QStringLiteral("Select project zip file"));
    QCOMPARE(m_dialogs->fileDialogs.at(0).nameFilters,
             (QStringList { QStringLiteral("Project archives (*.zip *.pkga *.pkgb)"),
                            QStringLiteral("All files (*.*)") }));
}

void TestFunctionTestWidget::submitChecks_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("zipFile");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("not connected") << false << ""
                                   << "Not connected"
                                   << "Login and connection required.";
    QTest::newRow("no archive") << true << ""
                                << "Missing input"
                                << "Select zip file to upload.";
    QTest::newRow("placeholder")
        << true << "<select project archive>"
        << "Invalid file"
        << "Zip file '<select project archive>' doesn't exist or cannot be accessed.";
}

void TestFunctionTestWidget::submitChecks()
{
    QFETCH(bool, connected);
    QFETCH(QString, zipFile);
    QFETCH(QString, title);
    QFETCH(QString, text);
    if (connected)
        QVERIFY(connectWithSolvers({ QStringLiteral("Thermal") }));
    child<QLineEdit>("lineEditZipFile")->setText(zipFile);
    UploadWatcher watcher(m_window);
    submit();
    QCOMPARE(m_dialogs->boxes.size(), 1);
    QCOMPARE(m_dialogs->boxes.at(0).title, title);
    QCOMPARE(m_dialogs->boxes.at(0).text, text);
    QCOMPARE(m_dialogs->boxes.at(0).parent.data(), m_window);
    QCOMPARE(watcher.dialogs, 0);
}

void TestFunctionTestWidget::submitSendsTheJob_data()
{
    QTest::addColumn<QStringList>("solvers");
    QTest::addColumn<bool>("slow");
    QTest::addColumn<int>("archiveSize");
    QTest::addColumn<QString>("headerText");
    QTest::newRow("fast, one block")
        << QStringList { QStringLiteral("Fluid_Solver_2"), QStringLiteral("b") } << false << 1000
        << "job.zip\nFluid_Solver_2\nsub/model.prja\n-np 4\n0";
    QTest::newRow("slow, three blocks") << QStringList { QStringLiteral("Thermal") } << true
                                        << 128005 << "job.zip\nThermal\nsub/model.prja\n-np 4\n1";
    QTest::newRow("no solver") << QStringList() << false << 10
                               << "job.zip\n\nsub/model.prja\n-np 4\n0";
    QTest::newRow("empty archive") << QStringList { QStringLiteral("Thermal") } << false << 0
                                   << QStringLiteral("job.zip\nThermal\nsub/model.prja\n-np 4\n0");
}

void TestFunctionTestWidget::submitSendsTheJob()
{
    QFETCH(QStringList, solvers);
    QFETCH(bool, slow);
    QFETCH(int, archiveSize);
    QFETCH(QString, headerText);
    QByteArray content(archiveSize, '\0');
    for (int i = 0; i < archiveSize; ++i)
        content[i] = char(i * 7 + (i >> 9));
    const QString archive = m_dir->filePath(QStringLiteral("job.zip"));
    QVERIFY(writeFile(archive, content));
    QVERIFY(connectWithSolvers(solvers));
    m_server->setReply(MT_SubmitJob, FakeServer::reply(MT_SubmitJobOk));
    child<QLineEdit>("lineEditZipFile")->setText(archive);
    child<QLineEdit>("lineEditProjectFile")->setText(QStringLiteral("sub/model.prja"));
    child<QLineEdit>("lineEditCmdLine")->setText(QStringLiteral("-np 4"));
    child<QRadioButton>(slow ? "radioButtonSlow" : "radioButtonFast")->setChecked(true);
    UploadWatcher watcher(m_window);
    m_server->clearReceived();

    submit();
    QVERIFY(!child<QPushButton>("pushButtonSubmit")->isEnabled());
    QVERIFY(m_server->waitForRequests(1));
    const FakeServer::Request job = m_server->requests().at(0);
    const QByteArray text = headerText.toUtf8();
    QCOMPARE(job.type, qint64(MT_SubmitJob));
    QCOMPARE(job.totalSize, qint64(24 + text.size() + archiveSize));
    QCOMPARE(qFromBigEndian<qint64>(job.bytes.constData() + 16), qint64(text.size()));
    QCOMPARE(job.bytes.mid(24, text.size()), text);
    QVERIFY(job.bytes.mid(24 + text.size()) == content);
    QCOMPARE(watcher.shown.last(), qMakePair(archiveSize, archiveSize));
    QTRY_VERIFY(child<QPushButton>("pushButtonSubmit")->isEnabled());
    QCOMPARE(child<QLineEdit>("lineEditZipFile")->text(), archive);
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestFunctionTestWidget::cancelEndsTheConnectionQuietly()
{
    const QString archive = m_dir->filePath(QStringLiteral("big.zip"));
    QVERIFY(writeFile(archive, QByteArray(10 * 64000, 'x')));
    QVERIFY(connectWithSolvers({ QStringLiteral("Thermal") }));
    child<QLineEdit>("lineEditZipFile")->setText(archive);
    UploadWatcher watcher(m_window);
    bool hiddenAtOnce = false;
    watcher.onValue = [&](SubmitProgressDialog *dialog, int value) {
        if (value != 64000)
            return;
        dialog->findChild<QPushButton *>()->click();
        hiddenAtOnce = dialog->isHidden();
    };

    m_server->clearReceived();

    submit();
    QVERIFY(hiddenAtOnce);
    QTRY_VERIFY(!m_server->hasClient());
    const QByteArray received = m_server->received();
    QCOMPARE(qint64(received.size()),
             24 + qFromBigEndian<qint64>(received.constData() + 16) + 64000);
    QVERIFY(m_status->contains({ QStringLiteral("Job not sent: User aborted sending.") }));
    QVERIFY(!child<QPushButton>("pushButtonSubmit")->isEnabled());
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void TestFunctionTestWidget::progressOfHugeArchivesIsScaled()
{
    SubmitProgressDialog dialog(nullptr);
    dialog.setAutoReset(false);
    const qint64 total = Q_INT64_C(6000000000);
    for (qint64 sent : { qint64(0), total / 4, total }) {
        dialog.m_notificationHelper->notify(sent, total);
        QCOMPARE(double(dialog.value()) / dialog.maximum(), double(sent) / total);
    }
    dialog.m_notificationHelper->notify(5, 10);
    QCOMPARE(dialog.value(), 5);
    QCOMPARE(dialog.maximum(), 10);
}

// However long the upload looks, every block costs one pass of the event
// loop: also once the dialog has shown itself and its own value setter
// processes events.
void TestFunctionTestWidget::progressProcessesEventsOncePerBlock()
{
    SubmitProgressDialog dialog(nullptr);
    dialog.show();
    int passes = 0;
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &dialog,
            [&passes] { ++passes; });
    const qint64 total = 1000 * 64000;
    dialog.m_notificationHelper->notify(0, total);
    // Slow enough at the start for the dialog to expect a long upload.
    QTest::qWait(100);
    for (qint64 sent = 64000; sent <= 4 * 64000; sent += 64000) {
        passes = 0;
        dialog.m_notificationHelper->notify(sent, total);
        QCOMPARE(passes, 1);
    }
}

// Auto-refresh on, ticking much faster than the spin box allows.
QTimer *TestFunctionTestWidget::startFastAutoRefresh()
{
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(1);
    auto *timer = child<QWidget>("statusWidget")->findChild<QTimer *>();
    timer->setInterval(20);
    return timer;
}

// The second press of a double-click comes once the submission has been
// answered and the button is enabled again.
void TestFunctionTestWidget::doubleClickSubmitsOnce()
{
    const QString archive = m_dir->filePath(QStringLiteral("job.zip"));
    QVERIFY(writeFile(archive, "zip"));
    QVERIFY(connectWithSolvers({ QStringLiteral("Thermal") }));
    m_server->setReply(MT_SubmitJob, FakeServer::reply(MT_SubmitJobOk));
    child<QLineEdit>("lineEditZipFile")->setText(archive);
    auto *submitButton = child<QPushButton>("pushButtonSubmit");
    m_server->clearReceived();

    QTest::mouseClick(submitButton, Qt::LeftButton);
    QVERIFY(m_server->waitForRequests(2));
    QTRY_VERIFY(submitButton->isEnabled());
    QTest::mouseDClick(submitButton, Qt::LeftButton);
    QTest::mouseRelease(submitButton, Qt::LeftButton);
    QVERIFY(submitButton->isEnabled());
    QCOMPARE(m_server->requestTypes(), (QList<qint64> { MT_SubmitJob, MT_JobStatus }));
}

// The panels are disabled while each reply is awaited, which moves the
// focus on; it comes back to the job table every time.
void TestFunctionTestWidget::focusStaysAcrossRefreshesAndActions()
{
    m_server->setReply(MT_JobStatus,
                       FakeServer::textList(MT_JobStatusReply,
                                            { QStringLiteral("u1\ns1\na\nQueued\nm\nyes"),
                                              QStringLiteral("u1\ns1\nb\nQueued\nm\nyes") }));
    m_server->setReply(MT_RemoveJob, FakeServer::reply(MT_RemoveJobOk));
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QVERIFY(connectWithSolvers({}));
    auto *table = child<QTableWidget>("tableWidgetStatus");
    QTRY_COMPARE(table->rowCount(), 2);
    QTRY_VERIFY(table->isEnabled());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualItemRect(table->item(0, 1)).center());
    QCOMPARE(QApplication::focusWidget(), table);

    QList<bool> focusedAfterReply;
    connect(m_window, &CalvaroClientBase::msgReceived, this, [&](int type) {
        if (type == MT_JobStatusReply)
            focusedAfterReply << (QApplication::focusWidget() == table);
    });
    m_server->clearReceived();
    startFastAutoRefresh();
    QTRY_VERIFY(focusedAfterReply.size() >= 10);
    child<QSpinBox>("spinBoxAutoRefresh")->setValue(0);
    QVERIFY(!focusedAfterReply.contains(false));
    QTRY_VERIFY(table->isEnabled());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(table->currentRow(), 1);

    focusedAfterReply.clear();
    m_server->clearReceived();
    QTest::mouseClick(child<QPushButton>("pushButtonRemove"), Qt::LeftButton);
    QTRY_COMPARE(focusedAfterReply.size(), 1);
    QCOMPARE(focusedAfterReply, QList<bool> { true });
    QCOMPARE(m_server->requestTypes(), (QList<qint64> { MT_RemoveJob, MT_JobStatus }));
}

// Auto-refresh ticks while the box about the lost connection is open send
// nothing, so no reply is awaited on the connection that is gone.
void TestFunctionTestWidget::noTimeOutBoxAfterTheConnectionIsLost()
{
    QVERIFY(connectWithSolvers({}));
    QTRY_VERIFY(child<QPushButton>("pushButtonStatus")->isEnabled());
    // The box runs the event loop from here on until it is closed.
    int ticksWhileOpen = 0;
    connect(startFastAutoRefresh(), &QTimer::timeout, this, [&] {
        if (!m_dialogs->boxes.isEmpty() && ++ticksWhileOpen == 5)
            m_dialogs->holdBoxes(false);
    });
    m_dialogs->holdBoxes(true);
    m_server->dropClient();
    QVERIFY(m_dialogs->waitForBoxes(1));
    QTRY_COMPARE(ticksWhileOpen, 5);
    QVERIFY(!m_dialogs->waitForBoxes(2, 11000));
    QCOMPARE(m_dialogs->boxTexts(),
             QStringList { QStringLiteral("Client: Remote host closed the connection.") });
}

QTEST_MAIN(TestFunctionTestWidget)
#include "tst_functiontestwidget.moc"
