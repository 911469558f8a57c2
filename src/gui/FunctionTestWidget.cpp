#include "gui/FunctionTestWidget.h"

#include "gui/DoubleClickGuard.h"
#include "gui/FocusKeeper.h"
#include "gui/ReconnectBanner.h"
#include "gui/ReconnectController.h"
#include "gui/Settings.h"
#include "gui/SubmitProgressDialog.h"
#include "gui/Version.h"
#include "gui/WindowJournal.h"
#include "gui/WindowStateStore.h"
#include "protocol/CalvaroClientCommands.h"
#include "protocol/ProjectArchive.h"
#include "protocol/Protocol.h"
#include "ui_FunctionTestWidget.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QTcpSocket>

namespace {
const char *const WindowTitleFormat = "Calvaro Client - %1";

// How long the archiver may run once started.
constexpr int ArchiverFinishTimeoutMs = 30000;
} // namespace

FunctionTestWidget::FunctionTestWidget(QWidget *parent)
    : VLK::CalvaroClientBase(parent)
    , m_ui(new Ui::FunctionTestWidget)
    , m_packer(new VLK::ProjectPacker(ArchiverFinishTimeoutMs, this))
    , m_journal(new VLK::WindowJournal(this, VLK::JobJournal::defaultPath()))
{
    // The icons live in the client library; a static library needs this to keep them.
    Q_INIT_RESOURCE(CalvaroClient);
    m_ui->setupUi(this);
    onUnseenFinishedJobsChanged(0);
    new VLK::FocusKeeper(this);
    VLK::DoubleClickGuard::install(m_ui->pushButtonSubmit);
    m_ui->loginWidget->setClientBase(this);
    m_ui->statusWidget->setClientBase(this);
    m_ui->statusWidget->setJournal(m_journal);
    connect(m_ui->statusWidget, &VLK::StatusWidget::resubmitRequested, this,
            &FunctionTestWidget::onResubmitRequested);
    // Below the login panel, where the user looks for the connection's state.
    m_ui->verticalLayout->insertWidget(
        1, new VLK::ReconnectBanner(new VLK::ReconnectController(this), this));
    connect(this, &FunctionTestWidget::connectionStateChanged, this,
            &FunctionTestWidget::onConnectionStateChanged);
    connect(this, &FunctionTestWidget::msgReceived, this, &FunctionTestWidget::onMsgReceived);
    connect(m_ui->statusWidget, &VLK::StatusWidget::unseenFinishedJobsChanged, this,
            &FunctionTestWidget::onUnseenFinishedJobsChanged);
    connect(m_packer, &VLK::ProjectPacker::finished, this, &FunctionTestWidget::onPackingFinished);
    emit connectionStateChanged(false);
}

FunctionTestWidget::~FunctionTestWidget() = default;

void FunctionTestWidget::setOrganizationAndApplication(const QString &organization,
                                                       const QString &application)
{
    m_organization = organization;
    m_application = application;
}

void FunctionTestWidget::readSettings()
{
    m_ui->loginWidget->readSettings(m_organization, m_application);
    m_ui->statusWidget->readSettings(m_organization, m_application);

    QSettings settings(m_organization, m_application);
    settings.beginGroup(QLatin1String(VLK::Settings::ClientConfigGroup));
    m_ui->lineEditCmdLine->setText(
        settings.value(QLatin1String(VLK::Settings::CommandLineKey), QString()).toString());
    m_rememberedSolver = settings.value(QLatin1String(VLK::Settings::SolverKey)).toString();
    const bool slowQueue = settings.value(QLatin1String(VLK::Settings::SlowQueueKey)).toBool();
    (slowQueue ? m_ui->radioButtonSlow : m_ui->radioButtonFast)->setChecked(true);
    settings.endGroup();

    const VLK::WindowStateStore windowState;
    windowState.restoreGeometry(*this);
    m_ui->statusWidget->restoreJobTableHeaderState(windowState.jobTableHeaderState());
}

void FunctionTestWidget::writeSettings()
{
    m_ui->loginWidget->writeSettings();
    m_ui->statusWidget->writeSettings();

    QSettings settings(m_organization, m_application);
    settings.beginGroup(QLatin1String(VLK::Settings::ClientConfigGroup));
    settings.setValue(QLatin1String(VLK::Settings::CommandLineKey), m_ui->lineEditCmdLine->text());
    settings.setValue(QLatin1String(VLK::Settings::SolverKey), chosenSolver());
    settings.setValue(QLatin1String(VLK::Settings::SlowQueueKey),
                      m_ui->radioButtonSlow->isChecked());
    settings.endGroup();

    VLK::WindowStateStore().write(*this, m_ui->statusWidget->jobTableHeaderState());
}

void FunctionTestWidget::onMsgReceived(int msgType)
{
    if (msgType == VLK::MT_SolverListReply)
        fillSolverBox();
}

// Where no desktop notification reaches the user, the title in the task bar
// still tells of jobs that finished while they were away.
void FunctionTestWidget::onUnseenFinishedJobsChanged(int count)
{
    const QString title = QString::fromLatin1(WindowTitleFormat).arg(QLatin1String(VLK::Version));
    setWindowTitle(count > 0 ? tr("(%1 finished) %2").arg(QString::number(count), title) : title);
}

void FunctionTestWidget::on_pushButtonSubmit_clicked()
{
    const QString zipFilePath = m_ui->lineEditZipFile->text();
    if (!requireConnection(this, staticMetaObject.className()))
        return;
    if (zipFilePath.isEmpty()) {
        QMessageBox::critical(this, tr("Missing input"), tr("Select zip file to upload."));
        return;
    }
    if (!QFileInfo(zipFilePath).isFile()) {
        QMessageBox::critical(
            this, tr("Invalid file"),
            tr("Zip file '%1' doesn't exist or cannot be accessed.").arg(zipFilePath));
        return;
    }

    VLK::JobHeader job;
    job.solverId = m_ui->comboBoxSolver->currentData().toString();
    job.projectFile = m_ui->lineEditProjectFile->text();
    job.commandLine = m_ui->lineEditCmdLine->text();
    job.slowQueue = m_ui->radioButtonSlow->isChecked() ? 1 : 0;
    submitJob(zipFilePath, job, packedProjectFile(zipFilePath));
}

void FunctionTestWidget::submitJob(const QString &zipFilePath, const VLK::JobHeader &job,
                                   const QString &localProjectFile)
{
    VLK::SubmitProgressDialog dialog(this);
    dialog.show();
    if (VLK::CalvaroClientCommands::sendJob(m_tcpSocket, zipFilePath, job.slowQueue,
                                            job.projectFile, job.commandLine, job.solverId,
                                            dialog.abortFlag(), dialog.notification())) {
        m_journal->expectSubmittedJob(VLK::SubmissionRecord(zipFilePath, localProjectFile, job));
        awaitReply(false);
    } else {
        reportFailedUpload();
    }
}

// The same archive, solver, command line and queue as the journal recorded;
// the project is packed again where the archive is gone. The form keeps
// what the user entered.
void FunctionTestWidget::onResubmitRequested(const QString &jobPath)
{
    const VLK::JournalEntry *entry = m_journal->entryOf(jobPath);
    if (!entry || !requireConnection(this, staticMetaObject.className()))
        return;
    VLK::JobHeader job;
    job.solverId = entry->solver;
    job.commandLine = entry->commandLine;
    job.slowQueue = entry->queue == QLatin1String("slow") ? 1 : 0;
    const QFileInfo projectFile(entry->projectFile);
    const bool packedHere = projectFile.isAbsolute();
    job.projectFile = packedHere ? VLK::ProjectArchive(entry->projectFile).relativeProjectFile()
                                 : entry->projectFile;
    if (QFileInfo(entry->archive).isFile()) {
        submitJob(entry->archive, job, packedHere ? entry->projectFile : QString());
        return;
    }
    if (!packedHere || !projectFile.isFile() || m_packer->isPacking()) {
        QMessageBox::critical(this, tr("Resubmit"),
                              tr("The archive '%1' is gone, and its project cannot be packed "
                                 "again here.")
                                  .arg(QDir::toNativeSeparators(entry->archive)));
        return;
    }
    m_resubmission = std::make_unique<VLK::JobHeader>(job);
    m_packer->pack(VLK::ProjectArchive(entry->projectFile));
    enableArchiveActions();
}

// The project file whose folder was packed into the archive, where this
// window packed it; empty for an archive chosen as it was.
QString FunctionTestWidget::packedProjectFile(const QString &archivePath) const
{
    return QFileInfo(archivePath).absoluteFilePath() == m_packedArchive ? m_packedProjectFile
                                                                        : QString();
}

void FunctionTestWidget::on_pushButtonSelect_clicked()
{
    const QString archivePath
        = chooseRecentFile(VLK::Settings::LastProjectDirectoryKey, tr("Select project zip file"),
                           tr("Project archives (*.zip *.pkga *.pkgb);;All files (*.*)"));
    if (archivePath.isEmpty())
        return;
    m_ui->lineEditZipFile->setText(archivePath);
    m_ui->lineEditProjectFile->setText(VLK::ProjectArchive::projectFileForArchive(archivePath));
    VLK::Settings::storeRecentDirectory(VLK::Settings::LastProjectDirectoryKey,
                                        QFileInfo(archivePath).absolutePath());
}

void FunctionTestWidget::on_pushButtonCreateZip_clicked()
{
    const QString projectFilePath = chooseRecentFile(
        VLK::Settings::LastZipDirectoryKey, tr("Select project file (*.prja *.prjb *.prjc *.prjd"),
        tr("All files (*.*)"));
    if (projectFilePath.isEmpty())
        return;
    const VLK::ProjectArchive archive(projectFilePath);
    VLK::Settings::storeRecentDirectory(VLK::Settings::LastZipDirectoryKey,
                                        archive.projectDirectory());
    m_ui->lineEditProjectFile->setText(archive.relativeProjectFile());
    m_ui->lineEditZipFile->setText(QStringLiteral("<creating project archive>"));
    m_packer->pack(archive);
    enableArchiveActions();
}

void FunctionTestWidget::onConnectionStateChanged(bool connected)
{
    m_readyToSubmit = connected;
    enableArchiveActions();
}

// After a failure the field names no archive, so that Submit cannot send
// the archive of the project packed before.
void FunctionTestWidget::onPackingFinished(const VLK::ProjectPacker::Result &result)
{
    enableArchiveActions();
    const std::unique_ptr<VLK::JobHeader> resubmission = std::move(m_resubmission);
    if (result.outcome == VLK::ProjectPacker::Outcome::Packed) {
        const VLK::ProjectArchive &archive = m_packer->archive();
        m_packedArchive = QFileInfo(archive.archivePath()).absoluteFilePath();
        m_packedProjectFile
            = QDir(archive.projectDirectory()).filePath(archive.relativeProjectFile());
    }
    if (resubmission && result.outcome == VLK::ProjectPacker::Outcome::Packed) {
        if (requireConnection(this, staticMetaObject.className()))
            submitJob(m_packedArchive, *resubmission, m_packedProjectFile);
        return;
    }
    if (result.outcome == VLK::ProjectPacker::Outcome::Packed) {
        m_ui->lineEditZipFile->setText(m_packer->archive().archivePath());
        return;
    }
    m_ui->lineEditZipFile->setText(QStringLiteral("<select project archive>"));
    if (result.outcome != VLK::ProjectPacker::Outcome::Cancelled)
        QMessageBox::critical(this, tr("Creating project archive"), packingFailureText(result));
}

void FunctionTestWidget::closeEvent(QCloseEvent *event)
{
    m_packer->cancel();
    endSession();
    VLK::CalvaroClientBase::closeEvent(event);
}

// Until a solver list came, the one remembered from before.
QString FunctionTestWidget::chosenSolver() const
{
    return m_ui->comboBoxSolver->count() > 0 ? m_ui->comboBoxSolver->currentData().toString()
                                             : m_rememberedSolver;
}

void FunctionTestWidget::fillSolverBox()
{
    // A new login lists the solvers again; the user's choice stays.
    m_rememberedSolver = chosenSolver();
    m_ui->comboBoxSolver->clear();
    if (!VLK::decodeStringList(m_messageBuffer, m_solvers)) {
        QMessageBox::critical(
            this, tr("Invalid server reply"),
            tr("Invalid server reply (mismatching versions of server and client?)."));
        return;
    }
    // The events processed below may bring further replies; fill from this one.
    const QStringList solvers = m_solvers;
    emit addStatusMessage(tr("  %1 solvers registered").arg(solvers.size()));
    QCoreApplication::processEvents();

    for (const QString &solver : solvers)
        m_ui->comboBoxSolver->addItem(QString(solver).replace(QLatin1Char('_'), QLatin1Char(' ')),
                                      solver);
    if (m_ui->comboBoxSolver->count() > 0)
        m_ui->comboBoxSolver->setCurrentIndex(
            qMax(m_ui->comboBoxSolver->findData(m_rememberedSolver), 0));
    m_ui->statusWidget->refreshJobList();
}

QString FunctionTestWidget::chooseRecentFile(const char *directoryKey, const QString &caption,
                                             const QString &filter)
{
    const QString startDirectory = VLK::Settings::recentDirectory(directoryKey);
    return QFileDialog::getOpenFileName(this, caption, startDirectory, filter);
}

// Choosing another project or archive while one is packed would race the
// archiver for the field, and Submit would find no archive yet.
void FunctionTestWidget::enableArchiveActions()
{
    const bool packing = m_packer->isPacking();
    m_ui->pushButtonCreateZip->setEnabled(!packing);
    m_ui->pushButtonSelect->setEnabled(!packing);
    m_ui->pushButtonSubmit->setEnabled(m_readyToSubmit && !packing);
}

QString FunctionTestWidget::packingFailureText(const VLK::ProjectPacker::Result &result) const
{
    const VLK::ProjectArchive &archive = m_packer->archive();
    const QString program = VLK::ProjectArchive::archiverProgram();
    switch (result.outcome) {
    case VLK::ProjectPacker::Outcome::CannotRemoveOld:
        return tr("Error removing existing zip file '%1'.").arg(archive.archivePath());
    case VLK::ProjectPacker::Outcome::CannotStart:
        return tr("Cannot run '%1' to create project archive (make sure it is installed its "
                  "location is in the PATH variable).")
            .arg(program);
    case VLK::ProjectPacker::Outcome::TimedOut:
        return tr("'%1' process takes too long to run. You will have to compress the archive "
                  "yourself!")
            .arg(program);
    case VLK::ProjectPacker::Outcome::Failed:
        return tr("'%1' could not pack '%2' (exit code %3): %4.")
            .arg(program, archive.projectDirectory())
            .arg(result.exitCode)
            .arg(result.lastErrorLine.isEmpty() ? tr("no archive was made") : result.lastErrorLine);
    case VLK::ProjectPacker::Outcome::Packed:
    case VLK::ProjectPacker::Outcome::Cancelled:
        break;
    }
    return QString(); // neither is a failure to tell
}

// The upload fails quietly by design; the log says why. When it ended the
// connection (a cancel does), the panels are told, so that the user can log
// in again instead of facing buttons for a connection that is gone.
void FunctionTestWidget::reportFailedUpload()
{
    emit addStatusMessage(tr("Job not sent: %1").arg(VLK::CalvaroClientCommands::lastErrorMessage));
    if (isConnected())
        return;
    // The server may have the job all the same, so it is not sent again.
    if (isSessionKept()) {
        emit addStatusMessage(
            tr("The upload is not repeated by itself; the job list shows whether the server "
               "has the job"));
        return;
    }
    emit addStatusMessage(tr("Not connected"));
    emit connectionStateChanged(false);
}
