#include "gui/StatusWidget.h"

#include "gui/CalvaroClientBase.h"
#include "gui/ColumnFit.h"
#include "gui/DoubleClickGuard.h"
#include "gui/JobFinishNotifier.h"
#include "gui/Settings.h"
#include "protocol/CalvaroClientCommands.h"
#include "protocol/JobRules.h"
#include "protocol/Protocol.h"
#include "protocol/ResultFile.h"
#include "protocol/SystemMemory.h"
#include "ui_StatusWidget.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QSettings>
#include <QTcpSocket>
#include <QTimer>

namespace VLK {

namespace {
constexpr int RowHeight = 18;
constexpr int MillisecondsPerSecond = 1000;
} // namespace

StatusWidget::StatusWidget(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::StatusWidget)
    , m_autoRefreshTimer(new QTimer(this))
    , m_finishNotifier(new JobFinishNotifier(this))
{
    m_ui->setupUi(this);
    m_ui->progressBar->setEnabled(false);
    m_ui->pushButtonCancelDownload->hide();
    m_ui->tableWidgetStatus->setTextElideMode(Qt::ElideMiddle);
    m_ui->tableWidgetStatus->verticalHeader()->hide();
    for (QAbstractButton *action :
         { m_ui->pushButtonKill, m_ui->pushButtonRemove, m_ui->pushButtonDownload })
        DoubleClickGuard::install(action);
    on_tableWidgetStatus_itemSelectionChanged();
    m_ui->plainTextEdit->setFont(QFont(QStringLiteral("Courier New"), 8));
    connect(m_autoRefreshTimer, &QTimer::timeout, this, &StatusWidget::onAutoRefreshTimeout);
    connect(&m_resultWriter, &ResultWriter::finished, this, &StatusWidget::onResultStored);
}

StatusWidget::~StatusWidget() = default;

void StatusWidget::setClientBase(CalvaroClientBase *clientBase)
{
    m_clientBase = clientBase;
    connect(clientBase, &CalvaroClientBase::connectionStateChanged, this,
            &StatusWidget::onConnectionStateChanged);
    connect(clientBase, &CalvaroClientBase::newMessageReceived, this,
            &StatusWidget::onNewMessageReceived);
    connect(clientBase, &CalvaroClientBase::progress, this, &StatusWidget::onProgress);
    connect(clientBase, &CalvaroClientBase::msgReceived, this, &StatusWidget::onMsgReceived);
}

void StatusWidget::readSettings(const QString &organization, const QString &application)
{
    m_organization = organization;
    m_application = application;

    QSettings settings(organization, application);
    settings.beginGroup(QLatin1String(Settings::ClientConfigGroup));
    const uint interval
        = settings.value(QLatin1String(Settings::AutoRefreshIntervalKey), 0).toUInt();
    if (interval != 0) {
        // A stored interval beyond the spin box's range runs at the range's
        // end, so that what the user sees is what the timer does.
        const uint maximum = uint(m_ui->spinBoxAutoRefresh->maximum());
        m_ui->spinBoxAutoRefresh->setValue(int(qMin(interval, maximum)));
        startAutoRefresh(m_ui->spinBoxAutoRefresh->value());
    }
    settings.endGroup();
    m_notifyFinishedJobs = JobFinishNotifier::isEnabled(organization, application);
}

QByteArray StatusWidget::jobTableHeaderState() const
{
    if (m_ui->tableWidgetStatus->columnCount() != JobTableItems::ColumnCount)
        return QByteArray();
    return m_ui->tableWidgetStatus->horizontalHeader()->saveState();
}

void StatusWidget::restoreJobTableHeaderState(const QByteArray &state)
{
    m_headerStateToRestore = state;
}

void StatusWidget::assertClientBase() const
{
    Q_ASSERT_X(m_clientBase != nullptr, "src/VLK_StatusWidget", "m_clientBase != NULL");
}

bool StatusWidget::requireConnection()
{
    return m_clientBase->requireConnection(this, staticMetaObject.className());
}

void StatusWidget::on_pushButtonStatus_clicked()
{
    assertClientBase();
    if (!requireConnection())
        return;
    if (CalvaroClientCommands::sendCommand(m_clientBase->m_tcpSocket, MT_JobStatus))
        m_clientBase->awaitReply(false);
}

void StatusWidget::on_spinBoxAutoRefresh_valueChanged(int arg1)
{
    startAutoRefresh(arg1);
}

void StatusWidget::startAutoRefresh(int seconds)
{
    m_autoRefreshTimer->stop();
    if (seconds != 0) {
        m_autoRefreshTimer->setInterval(seconds * MillisecondsPerSecond);
        m_autoRefreshTimer->start();
    }
}

void StatusWidget::onAutoRefreshTimeout()
{
    // Refresh is disabled while there is no connection or a reply is awaited,
    // so ticks never pile requests up.
    if (m_ui->pushButtonStatus->isEnabled() && !m_holdAutoRefresh)
        on_pushButtonStatus_clicked();
}

void StatusWidget::onMsgReceived(int msgType)
{
    assertClientBase();
    switch (msgType) {
    case MT_LoginOk:
        // A resumed session keeps its list, so that what finished meanwhile
        // is announced by the next one.
        if (!m_clientBase->isResumingSession())
            clearJobTable();
        break;
    case MT_LogoutOk:
        clearJobTable();
        break;
    case MT_JobStatusReply:
        if (!fillJobTable())
            return;
        m_listTime = QTime::currentTime();
        markListStale(false);
        // The reply and the records it replaced are freed by now; the
        // allocator would otherwise keep their pages for the next refresh.
        SystemMemory::returnFreeHeapPages();
        // The actions were set from the previous list when the reply came in,
        // and a selection kept on the same row reports no change. This also
        // refreshes the message view, which a long list should fill only once.
        on_tableWidgetStatus_itemSelectionChanged();
        return;
    case MT_SubmitJobOk:
    case MT_RemoveJobOk:
        on_pushButtonStatus_clicked();
        break;
    case MT_DownloadJobReply:
        storeDownloadedResult();
        break;
    case MT_KillJobOk:
        showKillConfirmation();
        on_pushButtonStatus_clicked();
        break;
    default:
        break;
    }
    updateProgressMessageView();
}

void StatusWidget::showKillConfirmation()
{
    const QScopedValueRollback<bool> holding(m_holdAutoRefresh, true);
    QMessageBox::information(this, tr("Job Kill"),
                             tr("Job terminated via signal (may take a second to actually stop)."));
}

void StatusWidget::markListStale(bool stale)
{
    m_ui->label->setText(stale ? tr("Jobs on server (list of %1, not connected):")
                                     .arg(QLocale().toString(m_listTime, QLocale::LongFormat))
                               : tr("Jobs on server:"));
}

void StatusWidget::clearJobTable()
{
    markListStale(false);
    m_ui->tableWidgetStatus->setRowCount(0);
    m_ui->tableWidgetStatus->setColumnCount(0);
    m_currentProgressMsgs.clear();
    m_shownJobList.forget();
    m_columnsFitted = false;
    m_finishWatch.reset();
}

bool StatusWidget::fillJobTable()
{
    QTableWidget *table = m_ui->tableWidgetStatus;
    const bool firstSetup = table->columnCount() != JobTableItems::ColumnCount;
    // Until the user sorts by a column, row i shows line i of the last reply,
    // so only the lines that changed need to be shown anew. Once picked, a
    // sort column stays until the table is set up anew.
    const bool rowsInReplyOrder = !firstSetup && !isSortedByColumn();
    // Rows shown in other colours are shown anew.
    if (m_jobTableItems.usePalette(table->palette()))
        m_shownJobList.forget();

    QVector<int> changedIndexes;
    if (!m_shownJobList.update(m_clientBase->m_messageBuffer, rowsInReplyOrder, changedIndexes)) {
        showInvalidJobList();
        return false;
    }
    const int jobCount = m_shownJobList.jobCount();
    m_clientBase->reportStatus(tr("%1 jobs for this user").arg(jobCount));

    if (firstSetup)
        setUpJobTable();
    else
        rememberSelectedJob();
    table->setRowCount(jobCount);
    fillChangedRows(changedIndexes, rowsInReplyOrder);
    fitColumnsToContentsOnce();
    restoreSelection();
    reportFinishedJobs(changedIndexes);
    return true;
}

void StatusWidget::showInvalidJobList()
{
    m_currentProgressMsgs.clear();
    QMessageBox::critical(this, tr("Invalid server reply"),
                          tr("Invalid server reply (mismatching versions of server and client?)."));
    QTableWidget *table = m_ui->tableWidgetStatus;
    table->setRowCount(0);
    table->setColumnCount(0);
    table->clear();
    m_columnsFitted = false;
}

void StatusWidget::setUpJobTable()
{
    QTableWidget *table = m_ui->tableWidgetStatus;
    table->verticalHeader()->setDefaultSectionSize(RowHeight);
    // Turned on while the table is empty, where it has nothing to sort.
    table->setSortingEnabled(true);
    table->setColumnCount(JobTableItems::ColumnCount);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setHorizontalHeaderLabels(
        { tr("User ID"), tr("Solver ID"), tr("Status"), tr("Path"), tr("Progress Msg") });
}

void StatusWidget::rememberSelectedJob()
{
    const int selectedRow = firstSelectedRow();
    if (selectedRow != -1)
        rememberJob(selectedRow);
}

void StatusWidget::rememberJob(int row)
{
    m_lastSelectedRow = row;
    m_lastSelectedJobPath = cellText(row, JobTableItems::PathColumn);
}

void StatusWidget::fillChangedRows(const QVector<int> &changedIndexes, bool rowsInReplyOrder)
{
    QTableWidget *table = m_ui->tableWidgetStatus;
    // A table sorted by a column would move every cell to its place as it is
    // set. Turning sorting on again sorts all rows, which costs a pass over
    // every cell even without a sort column, so a table that sorts by none
    // keeps sorting on. Its rows have never been moved, so its cells can be
    // reused.
    const bool sortedByColumn = isSortedByColumn();
    if (sortedByColumn)
        table->setSortingEnabled(false);

    trimProgressMsgs(rowsInReplyOrder);
    // Long lists would otherwise repaint after every cell.
    table->setUpdatesEnabled(false);
    if (m_notifyFinishedJobs)
        m_finishWatch.beginComparing(m_shownJobList.jobCount());
    m_shownJobList.decodeChanged(changedIndexes, [&](int index, const JobInfo &job) {
        setProgressMsg(index, job.progressMsg);
        m_jobTableItems.fillRow(*table, index, job, index, !sortedByColumn);
        if (m_notifyFinishedJobs)
            m_finishWatch.compareJob(index, job);
    });
    table->setUpdatesEnabled(true);
    if (!table->isSortingEnabled())
        table->setSortingEnabled(true);
}

// Fitted to the first list that has jobs: fitted to an empty one, the
// columns would stay too narrow for what comes. The columns as the user left
// them at the last exit take the place of the fit, once. Later lists keep the
// widths the user may have chosen.
void StatusWidget::fitColumnsToContentsOnce()
{
    QTableWidget *table = m_ui->tableWidgetStatus;
    if (m_columnsFitted || table->rowCount() == 0)
        return;
    m_columnsFitted = true;
    const QByteArray headerState = m_headerStateToRestore;
    m_headerStateToRestore.clear();
    if (!headerState.isEmpty() && table->horizontalHeader()->restoreState(headerState))
        return;
    for (int column : { JobTableItems::UserIdColumn, JobTableItems::SolverIdColumn,
                        JobTableItems::StatusColumn })
        fitColumnToDistinctTexts(*table, column);
}

// The job selected before stays selected wherever the list put it. Once it is
// gone, nothing is: an action must never reach a job that merely took its row.
void StatusWidget::restoreSelection()
{
    QTableWidget *table = m_ui->tableWidgetStatus;
    const int row = rowOfJob(m_lastSelectedJobPath, m_lastSelectedRow);
    if (row == -1)
        table->selectionModel()->clear();
    else
        table->selectRow(row);
}

// Where jobPath is listed, looked for at likelyRow first: a refreshed list
// mostly keeps its order. -1 if it is not listed.
int StatusWidget::rowOfJob(const QString &jobPath, int likelyRow) const
{
    if (jobPath.isEmpty())
        return -1;
    const int rowCount = m_ui->tableWidgetStatus->rowCount();
    if (likelyRow >= 0 && likelyRow < rowCount
        && cellText(likelyRow, JobTableItems::PathColumn) == jobPath)
        return likelyRow;
    for (int row = 0; row < rowCount; ++row) {
        if (cellText(row, JobTableItems::PathColumn) == jobPath)
            return row;
    }
    return -1;
}

void StatusWidget::reportFinishedJobs(const QVector<int> &changedIndexes)
{
    if (!m_notifyFinishedJobs)
        return;
    const QVector<FinishedJob> finished
        = m_finishWatch.endComparing(m_shownJobList, changedIndexes);
    if (!finished.isEmpty())
        m_finishNotifier->report(finished, jobInView(), m_clientBase);
}

// The job of the selected row while the user can see it.
QString StatusWidget::jobInView() const
{
    const QTableWidget *table = m_ui->tableWidgetStatus;
    const int row = firstSelectedRow();
    if (row == -1 || !isActiveWindow() || !isVisible())
        return QString();
    const QTableWidgetItem *pathCell = table->item(row, JobTableItems::PathColumn);
    if (!pathCell || !table->viewport()->rect().intersects(table->visualItemRect(pathCell)))
        return QString();
    return pathCell->text();
}

// Keeps the messages of unchanged jobs with keepUnchanged and drops those
// past the end of the list; setProgressMsg() then replaces or appends those
// of the changed ones, in reply order.
void StatusWidget::trimProgressMsgs(bool keepUnchanged)
{
    const int jobCount = m_shownJobList.jobCount();
    if (!keepUnchanged)
        m_currentProgressMsgs.clear();
    while (m_currentProgressMsgs.size() > jobCount)
        m_currentProgressMsgs.removeLast();
    m_currentProgressMsgs.reserve(jobCount);
}

void StatusWidget::setProgressMsg(int index, const QString &progressMsg)
{
    if (index < m_currentProgressMsgs.size())
        m_currentProgressMsgs[index] = progressMsg;
    else
        m_currentProgressMsgs.append(progressMsg);
}

// Columns set up after sorting was turned on leave the sort indicator past
// the last column.
bool StatusWidget::isSortedByColumn() const
{
    const int sortColumn = m_ui->tableWidgetStatus->horizontalHeader()->sortIndicatorSection();
    return sortColumn >= 0 && sortColumn < JobTableItems::ColumnCount;
}

int StatusWidget::firstSelectedRow() const
{
    const QModelIndexList selected = m_ui->tableWidgetStatus->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

// Cells may be missing while the table is being refilled.
QString StatusWidget::cellText(int row, int column) const
{
    const QTableWidgetItem *cell = m_ui->tableWidgetStatus->item(row, column);
    return cell ? cell->text() : QString();
}

void StatusWidget::on_tableWidgetStatus_itemSelectionChanged()
{
    m_ui->pushButtonKill->setEnabled(false);
    m_ui->pushButtonDownload->setEnabled(false);
    m_ui->pushButtonRemove->setEnabled(false);

    const int row = m_ui->tableWidgetStatus->rowCount() > 0 ? firstSelectedRow() : -1;
    if (row != -1) {
        const QTableWidgetItem *userCell
            = m_ui->tableWidgetStatus->item(row, JobTableItems::UserIdColumn);
        const bool accessible = userCell && userCell->data(JobTableItems::AccessibleRole).toBool();
        const JobTableItems::Actions actions
            = JobTableItems::actionsFor(accessible, cellText(row, JobTableItems::StatusColumn),
                                        cellText(row, JobTableItems::ProgressColumn));
        m_ui->pushButtonKill->setEnabled(actions.kill);
        m_ui->pushButtonDownload->setEnabled(actions.download);
        m_ui->pushButtonRemove->setEnabled(actions.remove);
    }
    updateProgressMessageView();
}

void StatusWidget::updateProgressMessageView()
{
    const int row = m_ui->tableWidgetStatus->currentRow();
    m_ui->plainTextEdit->clear();
    if (row == -1)
        return;
    // The messages are found through the reply position that the row carries,
    // not through the row number, which changes when the user sorts.
    const QTableWidgetItem *progressCell
        = m_ui->tableWidgetStatus->item(row, JobTableItems::ProgressColumn);
    if (!progressCell)
        return;
    bool valid = false;
    const int replyIndex = progressCell->data(JobTableItems::ReplyIndexRole).toInt(&valid);
    if (valid && replyIndex >= 0 && replyIndex < m_currentProgressMsgs.size())
        m_ui->plainTextEdit->setPlainText(
            JobTableItems::messageLines(m_currentProgressMsgs.at(replyIndex)));
}

void StatusWidget::onConnectionStateChanged(bool connected)
{
    // A download that ended with its connection leaves no temporary file.
    if (!connected && !m_clientBase->isConnected())
        m_pendingResult.reset();
    const bool downloading = !connected && m_clientBase->isDownloading();
    m_ui->pushButtonCancelDownload->setVisible(downloading);
    if (downloading && m_ui->tableWidgetStatus->hasFocus())
        m_ui->pushButtonCancelDownload->setFocus(Qt::OtherFocusReason);
    m_ui->pushButtonStatus->setEnabled(connected);
    m_ui->tableWidgetStatus->setEnabled(connected);
    if (!connected && !m_clientBase->isConnected() && m_clientBase->isSessionKept()
        && m_ui->tableWidgetStatus->rowCount() > 0)
        markListStale(true);
    if (connected) {
        on_tableWidgetStatus_itemSelectionChanged();
    } else {
        m_ui->pushButtonDownload->setEnabled(false);
        m_ui->pushButtonKill->setEnabled(false);
        m_ui->pushButtonRemove->setEnabled(false);
    }
}

int StatusWidget::rowForJobAction()
{
    assertClientBase();
    if (!requireConnection())
        return -1;
    return firstSelectedRow();
}

// Like the refresh, an action waits for its reply only once its request is
// out: a download waits without a time-out, so nothing else would end it.
bool StatusWidget::requestJobAction(int msgType, int row, bool noTimeout)
{
    const QString jobPath = cellText(row, JobTableItems::PathColumn);
    if (!CalvaroClientCommands::sendStringCommand(m_clientBase->m_tcpSocket, msgType, jobPath))
        return false;
    rememberJob(row);
    // The button may stay disabled once its job has changed; the table is
    // where the user goes on from, rather than wherever the focus would fall.
    if (m_ui->pushButtonKill->hasFocus() || m_ui->pushButtonRemove->hasFocus()
        || m_ui->pushButtonDownload->hasFocus())
        m_ui->tableWidgetStatus->setFocus(Qt::OtherFocusReason);
    m_clientBase->awaitReply(noTimeout);
    return true;
}

void StatusWidget::on_pushButtonKill_clicked()
{
    const int row = rowForJobAction();
    if (row != -1)
        requestJobAction(MT_KillJob, row, false);
}

void StatusWidget::on_pushButtonRemove_clicked()
{
    const int row = rowForJobAction();
    if (row != -1)
        requestJobAction(MT_RemoveJob, row, false);
}

void StatusWidget::on_pushButtonDownload_clicked()
{
    const int row = rowForJobAction();
    if (row == -1)
        return;
    const QString jobPath = cellText(row, JobTableItems::PathColumn);
    const QString suggestedFileName = JobRules::resultFileName(
        QFileInfo(jobPath).path(), cellText(row, JobTableItems::ProgressColumn));
    m_clientBase->reportStatus(tr("Downloading job #%1").arg(row + 1));
    {
        const QScopedValueRollback<bool> holding(m_holdAutoRefresh, true);
        m_downloadFilePath = saveResultsFileName(row, suggestedFileName, jobPath);
    }
    if (m_downloadFilePath.isEmpty() || !openResultFile())
        return;
    m_downloadJobPath = jobPath;
    m_clientBase->streamNextDownloadTo(m_pendingResult.get());
    if (!requestJobAction(MT_DownloadJob, row, true)) {
        m_clientBase->streamNextDownloadTo(nullptr);
        m_pendingResult.reset();
    }
}

void StatusWidget::on_pushButtonCancelDownload_clicked()
{
    m_clientBase->cancelDownload();
}

// The result streams into a temporary file beside the target, so a failed
// or cancelled download never costs the user an earlier copy. A target that
// cannot be written is reported before anything is downloaded.
bool StatusWidget::openResultFile()
{
    m_pendingResult = std::make_unique<QSaveFile>(m_downloadFilePath);
    QString error;
    if (VLK::openResultFile(*m_pendingResult, error))
        return true;
    m_clientBase->reportStatus(
        tr("Result not saved to %1: %2").arg(QDir::toNativeSeparators(m_downloadFilePath), error));
    m_pendingResult.reset();
    QMessageBox::critical(this, tr("Download failed"), tr("Job download failed."));
    return false;
}

QString StatusWidget::saveResultsFileName(int, const QString &suggestedFileName, const QString &)
{
    Q_ASSERT_X(!m_organization.isEmpty(), "src/VLK_StatusWidget", "!m_organization.isEmpty()");
    const QString lastDirectory = Settings::recentDirectory(m_organization, m_application,
                                                            Settings::LastSaveAsDirectoryKey);
    QString fileName = QFileDialog::getSaveFileName(
        this, tr("Save results"), lastDirectory + QLatin1Char('/') + suggestedFileName,
        tr("All files (*.*)"));
    if (!fileName.isEmpty())
        Settings::storeRecentDirectory(m_organization, m_application,
                                       Settings::LastSaveAsDirectoryKey,
                                       QFileInfo(fileName).absolutePath());
    return fileName;
}

// The whole result is in its temporary file; it takes the target's place
// once it is safely on disk.
void StatusWidget::storeDownloadedResult()
{
    if (m_pendingResult)
        m_resultWriter.commit(std::move(m_pendingResult));
}

void StatusWidget::onResultStored(const QString &filePath, bool written)
{
    resetProgressBar();
    if (written) {
        m_clientBase->reportStatus(tr("Saved result of %1 to %2")
                                       .arg(m_downloadJobPath, QDir::toNativeSeparators(filePath)));
        emit downloadComplete(filePath);
        return;
    }
    m_clientBase->reportStatus(tr("Result of %1 not saved to %2")
                                   .arg(m_downloadJobPath, QDir::toNativeSeparators(filePath)));
    QMessageBox::critical(this, tr("Download failed"), tr("Job download failed."));
}

void StatusWidget::resetProgressBar()
{
    m_ui->progressBar->setValue(0);
    m_ui->progressBar->setEnabled(false);
}

void StatusWidget::onNewMessageReceived(int, qint64 totalSize)
{
    m_progressScale.start(totalSize);
    m_ui->progressBar->setValue(0);
    m_ui->progressBar->setEnabled(true);
    m_ui->progressBar->setMaximum(m_progressScale.maximum());
}

void StatusWidget::onProgress(int bytesSoFar, bool enabled)
{
    // A finished message reports (0, false): the bar empties for the next one.
    m_ui->progressBar->setValue(enabled ? m_progressScale.valueFor(bytesSoFar) : bytesSoFar);
    m_ui->progressBar->setEnabled(enabled);
}

} // namespace VLK
