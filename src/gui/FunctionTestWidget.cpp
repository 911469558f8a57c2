#include "gui/FunctionTestWidget.h"

#include "gui/VLK_DoubleClickGuard.h"
#include "gui/VLK_FocusKeeper.h"
#include "gui/VLK_Settings.h"
#include "gui/VLK_SubmitProgressDialog.h"
#include "gui/VLK_Version.h"
#include "gui/VLK_WindowStateStore.h"
#include "protocol/VLK_CalvaroClientCommands.h"
#include "protocol/VLK_ProjectArchive.h"
#include "protocol/VLK_Protocol.h"
#include "ui_FunctionTestWidget.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>

namespace {
const char *const WindowTitleFormat = "Calvaro Client - %1";

// How long the archiver may take to start, and then to finish.
constexpr int ArchiverTimeoutMs = 30000;
} // namespace

FunctionTestWidget::FunctionTestWidget(QWidget *parent)
    : VLK::CalvaroClientBase(parent)
    , m_ui(new Ui::FunctionTestWidget)
{
    // The icons live in the client library; a static library needs this to keep them.
    Q_INIT_RESOURCE(CalvaroClient);
    m_ui->setupUi(this);
    setWindowTitle(QString::fromLatin1(WindowTitleFormat).arg(QLatin1String(VLK::Version)));
    new VLK::FocusKeeper(this);
    VLK::DoubleClickGuard::install(m_ui->pushButtonSubmit);
    m_ui->loginWidget->setClientBase(this);
    m_ui->statusWidget->setClientBase(this);
    connect(this, &FunctionTestWidget::connectionStateChanged, this,
            &FunctionTestWidget::onConnectionStateChanged);
    connect(this, &FunctionTestWidget::msgReceived, this, &FunctionTestWidget::onMsgReceived);
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
    settings.endGroup();

    const VLK::WindowStateStore windowState(m_organization, m_application);
    windowState.restoreGeometry(*this);
    m_ui->statusWidget->restoreJobTableHeaderState(windowState.jobTableHeaderState());
}

void FunctionTestWidget::writeSettings()
{
    m_ui->loginWidget->writeSettings();

    QSettings settings(m_organization, m_application);
    settings.beginGroup(QLatin1String(VLK::Settings::ClientConfigGroup));
    settings.setValue(QLatin1String(VLK::Settings::CommandLineKey), m_ui->lineEditCmdLine->text());
    settings.endGroup();

    VLK::WindowStateStore(m_organization, m_application)
        .write(*this, m_ui->statusWidget->jobTableHeaderState());
}

void FunctionTestWidget::onMsgReceived(int msgType)
{
    if (msgType == VLK::MT_SolverListReply)
        fillSolverBox();
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

    VLK::SubmitProgressDialog dialog(this);
    dialog.show();
    const int slowQueue = m_ui->radioButtonSlow->isChecked() ? 1 : 0;
    const QString solverId = m_ui->comboBoxSolver->currentData().toString();
    if (VLK::CalvaroClientCommands::sendJob(m_tcpSocket, zipFilePath, slowQueue,
                                            m_ui->lineEditProjectFile->text(),
                                            m_ui->lineEditCmdLine->text(), solverId,
                                            &dialog.m_aborted, dialog.m_notificationHelper.get()))
        awaitReply(false);
    else
        reportFailedUpload();
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
    VLK::Settings::storeRecentDirectory(m_organization, m_application,
                                        VLK::Settings::LastProjectDirectoryKey,
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
    VLK::Settings::storeRecentDirectory(m_organization, m_application,
                                        VLK::Settings::LastZipDirectoryKey,
                                        archive.projectDirectory());
    m_ui->lineEditProjectFile->setText(archive.relativeProjectFile());
    if (removeOldArchive(archive.archivePath()))
        runArchiver(archive);
}

void FunctionTestWidget::onConnectionStateChanged(bool connected)
{
    m_ui->pushButtonSubmit->setEnabled(connected);
}

void FunctionTestWidget::fillSolverBox()
{
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
        m_ui->comboBoxSolver->setCurrentIndex(0);
    m_ui->statusWidget->on_pushButtonStatus_clicked();
}

QString FunctionTestWidget::chooseRecentFile(const char *directoryKey, const QString &caption,
                                             const QString &filter)
{
    const QString startDirectory
        = VLK::Settings::recentDirectory(m_organization, m_application, directoryKey);
    return QFileDialog::getOpenFileName(this, caption, startDirectory, filter);
}

bool FunctionTestWidget::removeOldArchive(const QString &archivePath)
{
    if (!QFile::exists(archivePath) || QFile::remove(archivePath))
        return true;
    showArchiveError(tr("Error removing existing zip file '%1'.").arg(archivePath));
    return false;
}

// Blocks for up to twice the archiver time-out; the archiver is killed if it
// is still running when this returns.
void FunctionTestWidget::runArchiver(const VLK::ProjectArchive &archive)
{
    const QString program = VLK::ProjectArchive::archiverProgram();
    QProcess archiver;
    archiver.setWorkingDirectory(archive.parentDirectory());
    archiver.start(program, archive.archiverArguments());
    if (!archiver.waitForStarted(ArchiverTimeoutMs)) {
        showArchiveError(tr("Cannot run '%1' to create project archive (make sure it is installed "
                            "its location is in the PATH variable).")
                             .arg(program));
        return;
    }

    m_ui->lineEditZipFile->setText(QStringLiteral("<creating project archive>"));
    QCoreApplication::processEvents();

    // A quick archiver may already have ended while the events were processed;
    // waiting for it then would report a failure.
    if (archiver.state() == QProcess::NotRunning || archiver.waitForFinished(ArchiverTimeoutMs)) {
        m_ui->lineEditZipFile->setText(archive.archivePath());
        return;
    }
    showArchiveError(tr("'%1' process takes too long to run. You will have to compress the "
                        "archive yourself!")
                         .arg(program));
    m_ui->lineEditZipFile->setText(QStringLiteral("<select project archive>"));
}

void FunctionTestWidget::showArchiveError(const QString &text)
{
    QMessageBox::critical(this, tr("Creating project archive"), text);
}

// The upload fails quietly by design; the log says why. When it ended the
// connection (a cancel does), the panels are told, so that the user can log
// in again instead of facing buttons for a connection that is gone.
void FunctionTestWidget::reportFailedUpload()
{
    emit addStatusMessage(tr("Job not sent: %1").arg(VLK::CalvaroClientCommands::lastErrorMessage));
    if (isConnected())
        return;
    emit addStatusMessage(tr("Not connected"));
    emit connectionStateChanged(false);
}
