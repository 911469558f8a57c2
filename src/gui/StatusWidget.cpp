#include "gui/StatusWidget.h"

#include "gui/CalvaroClientBase.h"
#include "gui/ColumnFit.h"
#include "gui/DoubleClickGuard.h"
#include "gui/ElidedTextToolTips.h"
#include "gui/JobFinishNotifier.h"
#include "gui/JournalCells.h"
#include "gui/Settings.h"
#include "gui/WindowJournal.h"
#include "protocol/CalvaroClientCommands.h"
#include "protocol/JobRules.h"
#include "protocol/Protocol.h"
#include "protocol/ResultFile.h"
#include "protocol/SystemMemory.h"
#include "ui_StatusWidget.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QShortcut>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace VLK {

namespace {
constexpr int RowHeight = 18;
constexpr int MillisecondsPerSecond = 1000;

int requestTypeOf(JobAction action)
{
    switch (action) {
    case JobAction::Kill:
        return MT_KillJob;
    case JobAction::Remove:
        return MT_RemoveJob;
    case JobAction::Download:
        break;
    }
    return MT_DownloadJob;
}
} // namespace

StatusWidget::StatusWidget(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::StatusWidget)
    , m_autoRefreshTimer(new QTimer(this))
    , m_finishNotifier(new JobFinishNotifier(this))
{
    m_ui->setupUi(this);
    m_unseenJobs = std::make_unique<UnseenJobMarks>(*m_ui->tableWidgetStatus);
    m_ui->progressBar->setEnabled(false);
    m_ui->pushButtonCancelDownload->hide();
    m_ui->tableWidgetStatus->setTextElideMode(Qt::ElideMiddle);
    m_ui->tableWidgetStatus->setItemDelegate(new ElidedTextToolTips(m_ui->tableWidgetStatus));
    m_ui->tableWidgetStatus->verticalHeader()->hide();
    for (QAbstractButton *action :
         { m_ui->pushButtonKill, m_ui->pushButtonRemove, m_ui->pushButtonDownload })
        DoubleClickGuard::install(action);
    on_tableWidgetStatus_itemSelectionChanged();
    m_ui->plainTextEdit->setFont(QFont(QStringLiteral("Courier New"), 8));
    connect(m_autoRefreshTimer, &QTimer::timeout, this, &StatusWidget::onAutoRefreshTimeout);
    connect(&m_resultWriter, &ResultWriter::finished, this, &StatusWidget::onResultStored);
    connect(m_ui->lineEditFilter, &QLineEdit::textChanged, this, &StatusWidget::onFilterChanged);
    connect(m_ui->comboBoxQuickFilter, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &StatusWidget::onFilterChanged);
    connect(m_ui->lineEditFilter, &QLineEdit::returnPressed, this,
            &StatusWidget::focusTableFromFilter);
    // Sorting moves the cells, not the rows' hidden state.
    connect(m_ui->tableWidgetStatus->model(), &QAbstractItemModel::layoutChanged, this, [this] {
        m_filter.forgetRows();
        applyFilter();
    });
    m_ui->tableWidgetStatus->setContextMenuPolicy(Qt::CustomContextMenu);
    m_ui->checkBoxAutoDownload->hide();
    connect(m_ui->tableWidgetStatus->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &StatusWidget::seeShownJobs);
    setUpShortcuts();
}

void StatusWidget::setUpShortcuts()
{
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, &StatusWidget::focusFilter);
    auto *clearFilter = new QShortcut(QKeySequence(Qt::Key_Escape), m_ui->lineEditFilter, nullptr,
                                      nullptr, Qt::WidgetShortcut);
    connect(clearFilter, &QShortcut::activated, m_ui->lineEditFilter, &QLineEdit::clear);
    auto *toTable = new QShortcut(QKeySequence(Qt::Key_Down), m_ui->lineEditFilter, nullptr,
                                  nullptr, Qt::WidgetShortcut);
    connect(toTable, &QShortcut::activated, this, &StatusWidget::focusTableFromFilter);
    auto *refresh = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(refresh, &QShortcut::activated, m_ui->pushButtonStatus, &QPushButton::click);
    auto *remove = new QShortcut(QKeySequence::Delete, m_ui->tableWidgetStatus, nullptr, nullptr,
                                 Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, this,
            [this] { actOnSelection(JobAction::Remove, true); });
    // The row menu from the keyboard, at the current row.
    for (const QKeySequence &menuKey :
         { QKeySequence(Qt::Key_Menu),
           QKeySequence(QStringLiteral("Shift+F10"), QKeySequence::PortableText) }) {
        auto *rowMenu
            = new QShortcut(menuKey, m_ui->tableWidgetStatus, nullptr, nullptr, Qt::WidgetShortcut);
        connect(rowMenu, &QShortcut::activated, this,
                [this] { on_tableWidgetStatus_customContextMenuRequested(QPoint(-1, -1)); });
    }
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
    connect(clientBase, &CalvaroClientBase::commandFailed, this, &StatusWidget::onCommandFailed);
}

void StatusWidget::setJournal(WindowJournal *journal)
{
    m_journal = journal;
    connect(journal, &WindowJournal::resultStored, this, &StatusWidget::onJournalResultStored);
    connect(journal, &WindowJournal::automaticDownloadSwitched, m_ui->checkBoxAutoDownload,
            &QCheckBox::setChecked);
    m_ui->checkBoxAutoDownload->setChecked(journal->downloadsAutomatically());
    m_ui->checkBoxAutoDownload->show();
}

void StatusWidget::on_checkBoxAutoDownload_toggled(bool checked)
{
    if (m_journal)
        m_journal->setDownloadsAutomatically(checked);
}

void StatusWidget::readSettings(const QString &organization, const QString &application)
{
    m_organization = organization;
    m_application = application;
    if (m_journal) {
        m_journal->readSettings();
        m_ui->checkBoxAutoDownload->setChecked(m_journal->downloadsAutomatically());
    }

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
    m_notifyFinishedJobs = JobFinishNotifier::isEnabled();
}

void StatusWidget::writeSettings()
{
    Q_ASSERT_X(!m_organization.isEmpty(), "src/VLK_StatusWidget", "!m_organization.isEmpty()");
    QSettings settings(m_organization, m_application);
    settings.beginGroup(QLatin1String(Settings::ClientConfigGroup));
    settings.setValue(QLatin1String(Settings::AutoRefreshIntervalKey),
                      m_ui->spinBoxAutoRefresh->value());
    settings.endGroup();
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
    refreshJobList();
}

void StatusWidget::refreshJobList()
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
    if (m_ui->pushButtonStatus->isEnabled() && !m_holdAutoRefresh && !m_batch)
        refreshJobList();
}

void StatusWidget::onMsgReceived(int msgType)
{
    assertClientBase();
    if (m_batch && (msgType == MT_KillJobOk || msgType == MT_RemoveJobOk)) {
        m_batch->succeeded();
        requestNextOfBatch();
        return;
    }
    if (m_batch && msgType == MT_DownloadJobReply) {
        // The next result is asked for once this one has its file's name.
        m_batch->storing();
        storeDownloadedResult();
        if (m_batch)
            requestNextOfBatch();
        return;
    }
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
        refreshJobList();
        break;
    case MT_DownloadJobReply:
        storeDownloadedResult();
        break;
    case MT_KillJobOk:
        showKillConfirmation();
        refreshJobList();
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

void StatusWidget::keepSortColumn()
{
    if (m_ui->tableWidgetStatus->columnCount() != JobTableItems::ColumnCount)
        return;
    const QHeaderView *header = m_ui->tableWidgetStatus->horizontalHeader();
    m_keptSortColumn = isSortedByColumn() ? header->sortIndicatorSection() : -1;
    m_keptSortOrder = header->sortIndicatorOrder();
}

void StatusWidget::clearJobTable()
{
    markListStale(false);
    keepSortColumn();
    m_ui->tableWidgetStatus->setRowCount(0);
    m_ui->tableWidgetStatus->setColumnCount(0);
    m_currentProgressMsgs.clear();
    m_shownJobList.forget();
    m_columnsFitted = false;
    m_finishWatch.reset();
    m_reportedOwnJobCount = -1;
    m_unseenJobs->clear();
    seeShownJobs();
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

    if (firstSetup)
        setUpJobTable();
    else
        rememberSelectedJob();
    const int scrollPosition = table->verticalScrollBar()->value();
    if (!rowsInReplyOrder)
        m_filter.forgetRows();
    table->setRowCount(jobCount);
    fillChangedRows(changedIndexes, rowsInReplyOrder);
    fitColumnsToContentsOnce();
    applyFilter();
    restoreSelection();
    table->verticalScrollBar()->setValue(scrollPosition);
    reportFinishedJobs(changedIndexes);
    m_unseenJobs->markRows();
    seeShownJobs();
    reportOwnJobCount();
    return true;
}

// Only a changed number is news: written after every refresh, the line would
// push everything else out of the log.
void StatusWidget::reportOwnJobCount()
{
    int ownJobs = 0;
    for (int index = 0; index < m_shownJobList.jobCount(); ++index)
        ownJobs += m_shownJobList.job(index).accessible ? 1 : 0;
    if (ownJobs == m_reportedOwnJobCount)
        return;
    m_reportedOwnJobCount = ownJobs;
    m_clientBase->reportStatus(tr("%1 jobs for this user").arg(ownJobs));
}

void StatusWidget::showInvalidJobList()
{
    m_currentProgressMsgs.clear();
    QMessageBox::critical(this, tr("Invalid server reply"),
                          tr("Invalid server reply (mismatching versions of server and client?)."));
    keepSortColumn();
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
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setHorizontalHeaderLabels({ tr("User ID"), tr("Solver ID"), tr("Status"), tr("Path"),
                                       tr("Progress Msg"), tr("Result"), tr("Command line") });
    if (m_keptSortColumn != -1)
        table->horizontalHeader()->setSortIndicator(m_keptSortColumn, m_keptSortOrder);
}

void StatusWidget::rememberSelectedJob()
{
    const int selectedRow = firstSelectedRow();
    if (selectedRow == -1)
        return;
    rememberJob(selectedRow);
    m_otherSelectedJobPaths.clear();
    const QModelIndexList selectedRows = m_ui->tableWidgetStatus->selectionModel()->selectedRows();
    for (const QModelIndex &index : selectedRows) {
        if (index.row() != selectedRow)
            m_otherSelectedJobPaths << cellText(index.row(), JobTableItems::PathColumn);
    }
}

void StatusWidget::rememberJob(int row)
{
    m_lastSelectedRow = row;
    m_lastSelectedJobPath = cellText(row, JobTableItems::PathColumn);
    m_otherSelectedJobPaths.clear();
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
    const bool journalChanged = readJournal();
    m_shownJobList.decodeChanged(changedIndexes, [&](int index, const JobInfo &job) {
        setProgressMsg(index, job.progressMsg);
        JobTableItems::Columns changedColumns
            = m_jobTableItems.fillRow(*table, index, job, index, !sortedByColumn);
        if (m_journal) {
            const WindowJournal::FollowedJob followed = m_journal->followJob(
                index, job, changedColumns & JobTableItems::columnBit(JobTableItems::StatusColumn));
            // Where every row's journal cells are shown after the fill anyway,
            // they are not filled twice; made in a pass of their own, they
            // leave the job cells lying together in memory.
            if (followed.shownChanged && !journalChanged)
                changedColumns
                    |= JournalCells::fillRow(*table, index, followed.entry, followed.offersResult);
        }
        m_filter.showIfAccepted(*table, index, job, changedColumns);
        if (m_notifyFinishedJobs)
            m_finishWatch.compareJob(index, job);
    });
    if (endJournalList() || journalChanged) {
        showAllJournalCells();
        // Text the filter looks for may have come or gone in any row.
        m_filter.forgetRows();
    }
    table->setUpdatesEnabled(true);
    if (!table->isSortingEnabled())
        table->setSortingEnabled(true);
}

// True when what the journal knows changed since the table showed it, as it
// does between two lists that do not differ when a result is stored or
// calvaro submits a job: then every row's journal cells are shown anew,
// else only those of the changed rows.
bool StatusWidget::readJournal()
{
    if (!m_journal)
        return false;
    m_journal->beginList(m_shownJobList.jobCount());
    return journalChangedSinceShown();
}

bool StatusWidget::endJournalList()
{
    if (!m_journal)
        return false;
    m_journal->endList(m_shownJobList);
    return journalChangedSinceShown();
}

bool StatusWidget::journalChangedSinceShown()
{
    if (m_journal->generation() == m_shownJournalGeneration)
        return false;
    m_shownJournalGeneration = m_journal->generation();
    return true;
}

void StatusWidget::showAllJournalCells()
{
    for (int row = 0; row < m_ui->tableWidgetStatus->rowCount(); ++row)
        showJournalCellsOfRow(row);
}

void StatusWidget::showJournalCellsOfRow(int row)
{
    // Most rows are other jobs than the journal's: their messages are not read.
    const JournalEntry *entry = m_journal->entryOf(cellText(row, JobTableItems::PathColumn));
    JournalCells::fillRow(
        *m_ui->tableWidgetStatus, row, entry,
        entry && JobRules::offersResult(cellText(row, JobTableItems::ProgressColumn)));
}

void StatusWidget::onJournalResultStored(const QString &jobPath, const QString &filePath)
{
    // The journal changed with it, so the next refresh shows every row's
    // journal cells to the filter again.
    const int row = rowOfJob(jobPath, -1);
    if (row != -1)
        showJournalCellsOfRow(row);
    if (m_notifyFinishedJobs)
        m_finishNotifier->reportStoredResult(jobPath, filePath);
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

// The jobs selected before stay selected wherever the list put them. Once the
// first is gone, none is: an action must never reach a job that merely took
// its row.
void StatusWidget::restoreSelection()
{
    QTableWidget *table = m_ui->tableWidgetStatus;
    const int row = rowOfJob(m_lastSelectedJobPath, m_lastSelectedRow);
    if (row == -1) {
        table->selectionModel()->clear();
        return;
    }
    const QAbstractItemModel *model = table->model();
    const int lastColumn = JobTableItems::ColumnCount - 1;
    QItemSelection selection(model->index(row, 0), model->index(row, lastColumn));
    if (!m_otherSelectedJobPaths.isEmpty()) {
        // Several jobs are looked for in one pass over the list.
        const QSet<QString> others(m_otherSelectedJobPaths.cbegin(),
                                   m_otherSelectedJobPaths.cend());
        for (int otherRow = 0; otherRow < table->rowCount(); ++otherRow) {
            if (others.contains(cellText(otherRow, JobTableItems::PathColumn)))
                selection.select(model->index(otherRow, 0), model->index(otherRow, lastColumn));
        }
    }
    table->selectionModel()->setCurrentIndex(model->index(row, 0), QItemSelectionModel::NoUpdate);
    table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
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
    QStringList unseen;
    for (const FinishedJob &job : finished) {
        if (job.outcome != FinishedJob::Vanished)
            unseen << job.path;
    }
    m_unseenJobs->add(unseen);
}

// Called whenever rows may have come into the user's view.
void StatusWidget::seeShownJobs()
{
    if (isActiveWindow() && isVisible())
        m_unseenJobs->seeShownRows();
    if (m_unseenJobs->count() == m_reportedUnseenCount)
        return;
    m_reportedUnseenCount = m_unseenJobs->count();
    emit unseenFinishedJobsChanged(m_reportedUnseenCount);
}

// The window hands its activation down to its children as this event.
bool StatusWidget::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate)
        seeShownJobs();
    return handled;
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

    const QList<int> rows = selectedShownRows();
    const std::pair<QPushButton *, JobAction> buttons[] = {
        { m_ui->pushButtonKill, JobAction::Kill },
        { m_ui->pushButtonRemove, JobAction::Remove },
        { m_ui->pushButtonDownload, JobAction::Download },
    };
    for (const auto &button : buttons) {
        const int jobCount = rows.isEmpty()
            ? 0
            : JobActionPlan::forRows(*m_ui->tableWidgetStatus, rows, button.second)
                  .targets()
                  .size();
        button.first->setEnabled(jobCount > 0);
        button.first->setText(JobActionPlan::buttonText(button.second, jobCount));
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
    if (m_batch && !m_clientBase->isConnected()) {
        m_batch->abandon();
        finishBatchIfDone();
    }
    if (connected) {
        on_tableWidgetStatus_itemSelectionChanged();
    } else {
        m_ui->pushButtonDownload->setEnabled(false);
        m_ui->pushButtonKill->setEnabled(false);
        m_ui->pushButtonRemove->setEnabled(false);
    }
}

// The selected rows that the filter shows: a hidden row is never acted on.
QList<int> StatusWidget::selectedShownRows() const
{
    const QTableWidget *table = m_ui->tableWidgetStatus;
    QList<int> rows;
    if (table->rowCount() == 0)
        return rows;
    const QModelIndexList selectedRows = table->selectionModel()->selectedRows();
    for (const QModelIndex &index : selectedRows) {
        if (!table->isRowHidden(index.row()))
            rows << index.row();
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Like the refresh, an action waits for its reply only once its request is
// out: a download waits without a time-out, so nothing else would end it.
bool StatusWidget::requestJobAction(int msgType, const QString &jobPath, int row, bool noTimeout)
{
    if (!CalvaroClientCommands::sendStringCommand(m_clientBase->m_tcpSocket, msgType, jobPath))
        return false;
    if (row != -1)
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
    actOnSelection(JobAction::Kill, false);
}

void StatusWidget::on_pushButtonRemove_clicked()
{
    actOnSelection(JobAction::Remove, false);
}

void StatusWidget::on_pushButtonDownload_clicked()
{
    actOnSelection(JobAction::Download, false);
}

// One job is acted on at once, unless confirmAlways; several only once the
// user has confirmed the list, and then exactly the jobs listed, wherever a
// refresh meanwhile has moved them.
void StatusWidget::actOnSelection(JobAction action, bool confirmAlways)
{
    assertClientBase();
    // The last results of a batch may still be on their way to their files.
    if (m_batch || !requireConnection())
        return;
    const QList<int> rows = selectedShownRows();
    if (rows.isEmpty())
        return;
    const JobActionPlan plan = JobActionPlan::forRows(*m_ui->tableWidgetStatus, rows, action);
    if (plan.targets().isEmpty())
        return;
    const bool several = plan.targets().size() > 1;
    const bool losesResults = !plan.unsaved().isEmpty();
    if ((several || confirmAlways || losesResults) && (!confirm(plan) || !requireConnection()))
        return;
    if (several) {
        startBatch(plan);
        return;
    }
    const QString jobPath = plan.targets().first();
    const int row = rowOfJob(jobPath, rows.first());
    if (row == -1)
        return;
    if (action == JobAction::Download)
        downloadRow(row);
    else
        requestJobAction(requestTypeOf(action), jobPath, row, false);
}

// A result that would be lost makes No the answer that a hasty Enter gives.
bool StatusWidget::confirm(const JobActionPlan &plan)
{
    const QScopedValueRollback<bool> holding(m_holdAutoRefresh, true);
    const bool losesResults = !plan.unsaved().isEmpty();
    return QMessageBox::question(this, JobActionPlan::title(plan.action()), plan.confirmationText(),
                                 QMessageBox::Yes
                                     | (losesResults ? QMessageBox::No : QMessageBox::Cancel),
                                 losesResults ? QMessageBox::No : QMessageBox::Yes)
        == QMessageBox::Yes;
}

void StatusWidget::startBatch(const JobActionPlan &plan)
{
    if (plan.action() == JobAction::Download) {
        const QString folder = chooseResultsFolder();
        if (folder.isEmpty() || !requireConnection())
            return;
        m_resultFolder = std::make_unique<ResultFolder>(folder, plan);
    }
    m_batch = std::make_unique<JobBatch>(plan.action(), plan.targets());
    m_clientBase->collectCommandFailures(true);
    m_ui->tableWidgetStatus->setFocus(Qt::OtherFocusReason);
    requestNextOfBatch();
}

void StatusWidget::requestNextOfBatch()
{
    while (m_batch->hasNext()) {
        const QString jobPath = m_batch->takeNext();
        if (m_batch->action() != JobAction::Download) {
            if (requestJobAction(requestTypeOf(m_batch->action()), jobPath, -1, false))
                return;
        } else if (!openBatchResultFile(jobPath)) {
            continue;
        } else if (requestDownload(jobPath, -1)) {
            return;
        }
        m_batch->abandon();
    }
    finishBatchIfDone();
}

// A result that cannot get a file is left out; the others are still fetched.
bool StatusWidget::openBatchResultFile(const QString &jobPath)
{
    m_downloadFilePath = m_resultFolder->claimFreePath(jobPath);
    QString error;
    if (openPendingResult(error))
        return true;
    m_batch->notSaved(error);
    return false;
}

void StatusWidget::onCommandFailed()
{
    if (!m_batch)
        return;
    if (m_resultFolder)
        m_resultFolder->release(m_downloadFilePath);
    m_pendingResult.reset();
    m_batch->refused();
    requestNextOfBatch();
}

// Results still being written are waited for, so that the summary counts them.
void StatusWidget::finishBatchIfDone()
{
    if (m_batch->isDone())
        finishBatch();
}

// The list is refreshed once, after the last reply, and the user is told
// once how every job went.
void StatusWidget::finishBatch()
{
    const std::unique_ptr<JobBatch> batch = std::move(m_batch);
    m_resultFolder.reset();
    m_clientBase->collectCommandFailures(false);
    m_clientBase->reportStatus(batch->summary());
    // Downloads leave the list as it was.
    if (batch->action() != JobAction::Download && m_clientBase->isConnected())
        refreshJobList();
    const QString title = JobActionPlan::title(batch->action());
    if (batch->anyFailed())
        QMessageBox::warning(this, title, batch->summary());
    else
        QMessageBox::information(this, title, batch->summary());
}

void StatusWidget::downloadRow(int row)
{
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
    requestDownload(jobPath, row);
}

// The result streams into m_pendingResult as it arrives.
bool StatusWidget::requestDownload(const QString &jobPath, int row)
{
    m_downloadJobPath = jobPath;
    m_clientBase->streamNextDownloadTo(m_pendingResult.get());
    if (requestJobAction(MT_DownloadJob, jobPath, row, true))
        return true;
    m_clientBase->streamNextDownloadTo(nullptr);
    m_pendingResult.reset();
    return false;
}

void StatusWidget::onFilterChanged()
{
    m_filter.setText(m_ui->lineEditFilter->text());
    m_filter.setQuick(JobFilter::Quick(m_ui->comboBoxQuickFilter->currentIndex()));
    applyFilter();
    on_tableWidgetStatus_itemSelectionChanged();
}

void StatusWidget::applyFilter()
{
    QTableWidget *table = m_ui->tableWidgetStatus;
    const int shown = m_filter.apply(*table);
    const int jobCount = table->rowCount();
    m_ui->labelJobCount->setText(m_filter.isActive()
                                     ? tr("%1 of %2 jobs shown").arg(shown).arg(jobCount)
                                     : tr("%1 jobs").arg(jobCount));
    seeShownJobs();
}

void StatusWidget::focusFilter()
{
    m_ui->lineEditFilter->setFocus(Qt::ShortcutFocusReason);
    m_ui->lineEditFilter->selectAll();
}

// From the filter the user goes on to the rows it found.
void StatusWidget::focusTableFromFilter()
{
    QTableWidget *table = m_ui->tableWidgetStatus;
    table->setFocus(Qt::ShortcutFocusReason);
    if (!selectedShownRows().isEmpty())
        return;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (!table->isRowHidden(row) && table->item(row, 0)
            && (table->item(row, 0)->flags() & Qt::ItemIsSelectable)) {
            table->selectRow(row);
            return;
        }
    }
}

void StatusWidget::on_tableWidgetStatus_customContextMenuRequested(const QPoint &pos)
{
    QTableWidget *table = m_ui->tableWidgetStatus;
    QMenu menu(this);
    for (QPushButton *button :
         { m_ui->pushButtonKill, m_ui->pushButtonRemove, m_ui->pushButtonDownload }) {
        QAction *action = menu.addAction(button->text(), button, &QPushButton::click);
        action->setEnabled(button->isEnabled());
    }
    menu.addSeparator();
    QAction *copy = menu.addAction(tr("Copy path"), this, &StatusWidget::copySelectedPaths);
    copy->setEnabled(!selectedShownRows().isEmpty());
    addJournalActions(menu);
    // Opened from the keyboard, the menu shows at the current row.
    QPoint at = pos;
    if (!table->indexAt(pos).isValid() && table->currentIndex().isValid())
        at = table->visualRect(table->currentIndex()).center();
    menu.exec(table->viewport()->mapToGlobal(at));
}

// For the one job the menu is about: the current row, if it is selected.
void StatusWidget::addJournalActions(QMenu &menu)
{
    if (!m_journal)
        return;
    const QTableWidget *table = m_ui->tableWidgetStatus;
    const QList<int> rows = selectedShownRows();
    const int row = rows.size() == 1 ? rows.constFirst() : -1;
    const QString folder = row == -1 ? QString() : JournalCells::resultFolder(*table, row);
    QAction *open = menu.addAction(tr("Open results folder"), this, [folder] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    });
    open->setEnabled(!folder.isEmpty());
    const QString jobPath = row == -1 ? QString() : cellText(row, JobTableItems::PathColumn);
    QAction *resubmit = menu.addAction(tr("Resubmit"), this,
                                       [this, jobPath] { emit resubmitRequested(jobPath); });
    resubmit->setEnabled(!jobPath.isEmpty() && m_journal->entryOf(jobPath)
                         && m_ui->pushButtonStatus->isEnabled());
}

void StatusWidget::copySelectedPaths() const
{
    QStringList paths;
    const QList<int> rows = selectedShownRows();
    for (int row : rows)
        paths << cellText(row, JobTableItems::PathColumn);
    QApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
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
    QString error;
    if (openPendingResult(error))
        return true;
    m_clientBase->reportStatus(
        tr("Result not saved to %1: %2").arg(QDir::toNativeSeparators(m_downloadFilePath), error));
    QMessageBox::critical(this, tr("Download failed"), tr("Job download failed."));
    return false;
}

bool StatusWidget::openPendingResult(QString &error)
{
    m_pendingResult = std::make_unique<QSaveFile>(m_downloadFilePath);
    if (VLK::openResultFile(*m_pendingResult, error))
        return true;
    m_pendingResult.reset();
    return false;
}

QString StatusWidget::saveResultsFileName(int, const QString &suggestedFileName, const QString &)
{
    Q_ASSERT_X(!m_organization.isEmpty(), "src/VLK_StatusWidget", "!m_organization.isEmpty()");
    const QString lastDirectory = Settings::recentDirectory(Settings::LastSaveAsDirectoryKey);
    QString fileName = QFileDialog::getSaveFileName(
        this, tr("Save results"), lastDirectory + QLatin1Char('/') + suggestedFileName,
        tr("All files (*.*)"));
    if (!fileName.isEmpty())
        Settings::storeRecentDirectory(Settings::LastSaveAsDirectoryKey,
                                       QFileInfo(fileName).absolutePath());
    return fileName;
}

// One folder for the results of several jobs, asked for once.
QString StatusWidget::chooseResultsFolder()
{
    Q_ASSERT_X(!m_organization.isEmpty(), "src/VLK_StatusWidget", "!m_organization.isEmpty()");
    const QString lastDirectory = Settings::recentDirectory(Settings::LastSaveAsDirectoryKey);
    QString folder;
    {
        const QScopedValueRollback<bool> holding(m_holdAutoRefresh, true);
        folder
            = QFileDialog::getExistingDirectory(this, tr("Save results in folder"), lastDirectory);
    }
    if (!folder.isEmpty())
        Settings::storeRecentDirectory(Settings::LastSaveAsDirectoryKey,
                                       QDir(folder).absolutePath());
    return folder;
}

// The whole result is in its temporary file; it takes the target's place
// once it is safely on disk.
void StatusWidget::storeDownloadedResult()
{
    if (!m_pendingResult)
        return;
    m_jobsOfStoredResults.insert(m_pendingResult->fileName(), m_downloadJobPath);
    m_resultWriter.commit(std::move(m_pendingResult));
}

// A batch goes on downloading while a large result is written, so the
// result is told apart by its file.
void StatusWidget::onResultStored(const QString &filePath, bool written)
{
    const QString jobPath = m_jobsOfStoredResults.take(filePath);
    const bool ofBatch = m_batch && m_batch->stored(jobPath, written);
    if (!ofBatch)
        resetProgressBar();
    if (written) {
        m_clientBase->reportStatus(
            tr("Saved result of %1 to %2").arg(jobPath, QDir::toNativeSeparators(filePath)));
        emit downloadComplete(filePath);
    } else {
        m_clientBase->reportStatus(
            tr("Result of %1 not saved to %2").arg(jobPath, QDir::toNativeSeparators(filePath)));
        if (!ofBatch)
            QMessageBox::critical(this, tr("Download failed"), tr("Job download failed."));
    }
    if (ofBatch)
        finishBatchIfDone();
}

void StatusWidget::resetProgressBar()
{
    m_ui->progressBar->setValue(0);
    m_ui->progressBar->setEnabled(false);
}

void StatusWidget::onNewMessageReceived(int, qint64 totalSize)
{
    m_progressScale.start(totalSize);
    m_progressShown.invalidate();
    m_ui->progressBar->setValue(0);
    m_ui->progressBar->setEnabled(true);
    m_ui->progressBar->setMaximum(m_progressScale.maximum());
}

void StatusWidget::onProgress(int bytesSoFar, bool enabled)
{
    // A finished message reports (0, false): the bar empties for the next one.
    if (!enabled) {
        m_ui->progressBar->setValue(bytesSoFar);
        m_ui->progressBar->setEnabled(false);
        return;
    }
    // Every count goes to the scale, which follows them to unwrap them. The
    // bar repaints at once whenever its value moves a pixel: a result that
    // arrives at a gigabyte a second would otherwise be painted hundreds of
    // times a second, so it is shown at most every ProgressIntervalMs, and
    // always when full.
    const int value = m_progressScale.valueFor(bytesSoFar);
    if (value != m_progressScale.maximum() && m_progressShown.isValid()
        && m_progressShown.elapsed() < ProgressIntervalMs)
        return;
    m_progressShown.start();
    m_ui->progressBar->setValue(value);
    m_ui->progressBar->setEnabled(true);
}

} // namespace VLK
