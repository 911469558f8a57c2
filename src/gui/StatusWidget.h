#pragma once

#include "gui/JobActionPlan.h"
#include "gui/JobBatch.h"
#include "gui/JobFilter.h"
#include "gui/JobTableItems.h"
#include "gui/ProgressScale.h"
#include "gui/ResultFolder.h"
#include "gui/ResultWriter.h"
#include "gui/UnseenJobMarks.h"
#include "protocol/JobFinishWatch.h"
#include "protocol/ShownJobList.h"

#include <QElapsedTimer>
#include <QHash>
#include <QStringList>
#include <QTime>
#include <QWidget>

#include <memory>

class QMenu;
class QSaveFile;
class QTimer;

namespace VLK {
class JobFinishNotifier;
}

namespace Ui {
class StatusWidget;
}

namespace VLK {

class CalvaroClientBase;
class WindowJournal;

// The job table of the main window: the user's jobs on the server, refreshed
// on request or on a timer, with each job's progress messages, the actions
// kill, remove and get results, and a bar that follows every incoming reply.
class StatusWidget : public QWidget
{
    Q_OBJECT

public:
    explicit StatusWidget(QWidget *parent = nullptr);
    ~StatusWidget() override;

    void setClientBase(CalvaroClientBase *clientBase);
    // The journal whose cells the table shows and which fetches results by
    // itself; without one the table shows the server's list alone.
    void setJournal(WindowJournal *journal);
    void readSettings(const QString &organization, const QString &application);
    // The auto-refresh interval, for the next start.
    void writeSettings();

    // The job table's column widths, order and sort column, empty while no
    // list is shown; a state restored before the first list is applied to it
    // in place of fitting the columns to their contents.
    QByteArray jobTableHeaderState() const;
    void restoreJobTableHeaderState(const QByteArray &state);

protected:
    bool event(QEvent *event) override;
    // The file to store the result of the job in row into, or an empty string
    // to cancel the download. Asks the user with a save dialog.
    virtual QString saveResultsFileName(int row, const QString &suggestedFileName,
                                        const QString &jobPath);

signals:
    void downloadComplete(QString filePath);
    // The user asked to submit a journalled job again.
    void resubmitRequested(const QString &jobPath);
    // The number of the user's jobs that finished while nobody looked.
    void unseenFinishedJobsChanged(int count);

public slots:
    // Asks the server for the job list, as the Refresh button does.
    void refreshJobList();
    void on_pushButtonStatus_clicked();

private slots:
    void onAutoRefreshTimeout();
    void onNewMessageReceived(int msgType, qint64 totalSize);
    void onProgress(int bytesSoFar, bool enabled);
    void onMsgReceived(int msgType);
    void onConnectionStateChanged(bool connected);
    void on_tableWidgetStatus_itemSelectionChanged();
    void on_pushButtonDownload_clicked();
    void on_pushButtonKill_clicked();
    void on_pushButtonRemove_clicked();
    void on_pushButtonCancelDownload_clicked();
    void on_spinBoxAutoRefresh_valueChanged(int arg1);
    void onResultStored(const QString &filePath, bool written);
    void onCommandFailed();
    void onFilterChanged();
    void on_tableWidgetStatus_customContextMenuRequested(const QPoint &pos);
    void on_checkBoxAutoDownload_toggled(bool checked);
    void onJournalResultStored(const QString &jobPath, const QString &filePath);

private:
    void assertClientBase() const;
    bool requireConnection();
    void startAutoRefresh(int seconds);
    void showKillConfirmation();
    void clearJobTable();
    bool fillJobTable();
    void showInvalidJobList();
    void setUpJobTable();
    void rememberSelectedJob();
    void rememberJob(int row);
    void fillChangedRows(const QVector<int> &changedIndexes, bool rowsInReplyOrder);
    bool readJournal();
    bool endJournalList();
    bool journalChangedSinceShown();
    void showAllJournalCells();
    void showJournalCellsOfRow(int row);
    void fitColumnsToContentsOnce();
    void restoreSelection();
    int rowOfJob(const QString &jobPath, int likelyRow) const;
    void trimProgressMsgs(bool keepUnchanged);
    void setProgressMsg(int index, const QString &progressMsg);
    void reportFinishedJobs(const QVector<int> &changedIndexes);
    void reportOwnJobCount();
    void seeShownJobs();
    QString jobInView() const;
    bool isSortedByColumn() const;
    int firstSelectedRow() const;
    QString cellText(int row, int column) const;
    void updateProgressMessageView();
    void setUpShortcuts();
    void applyFilter();
    void focusFilter();
    void focusTableFromFilter();
    QList<int> selectedShownRows() const;
    void copySelectedPaths() const;
    void addJournalActions(QMenu &menu);
    void actOnSelection(JobAction action, bool confirmAlways);
    bool confirm(const JobActionPlan &plan);
    void startBatch(const JobActionPlan &plan);
    void requestNextOfBatch();
    bool openBatchResultFile(const QString &jobPath);
    void finishBatchIfDone();
    void finishBatch();
    void downloadRow(int row);
    bool requestDownload(const QString &jobPath, int row);
    // row is remembered to be selected again, unless -1.
    bool requestJobAction(int msgType, const QString &jobPath, int row, bool noTimeout);
    bool openResultFile();
    bool openPendingResult(QString &error);
    QString chooseResultsFolder();
    void storeDownloadedResult();
    void resetProgressBar();
    // Names the time of the list in its heading while the connection is gone.
    void markListStale(bool stale);
    // The sort column outlasts the table's set-up anew after a logout or login.
    void keepSortColumn();

    const std::unique_ptr<Ui::StatusWidget> m_ui;
    CalvaroClientBase *m_clientBase = nullptr;
    WindowJournal *m_journal = nullptr;
    // The journal's generation that the table's journal cells show.
    int m_shownJournalGeneration = -1;
    QString m_organization;
    QString m_application;
    QString m_downloadFilePath;
    // The job whose result is being downloaded, and the temporary file beside
    // m_downloadFilePath that the result streams into.
    QString m_downloadJobPath;
    std::unique_ptr<QSaveFile> m_pendingResult;
    QTimer *m_autoRefreshTimer;
    int m_lastSelectedRow = -1;
    // The job to select again after a refill, by the path that names it, and
    // the other jobs selected with it.
    QString m_lastSelectedJobPath;
    QStringList m_otherSelectedJobPaths;
    JobFilter m_filter;
    // The action under way on several jobs, one request at a time.
    std::unique_ptr<JobBatch> m_batch;
    // Where a batch of downloads puts its results.
    std::unique_ptr<ResultFolder> m_resultFolder;
    // The job of each result still being written, by its file.
    QHash<QString, QString> m_jobsOfStoredResults;
    QStringList m_currentProgressMsgs;

    JobTableItems m_jobTableItems;
    ShownJobList m_shownJobList;
    ProgressScale m_progressScale;
    // When the progress bar last showed a new value.
    QElapsedTimer m_progressShown;
    static constexpr int ProgressIntervalMs = 40;
    ResultWriter m_resultWriter;
    JobFinishWatch m_finishWatch;
    JobFinishNotifier *m_finishNotifier;
    // Off until the settings have been read.
    bool m_notifyFinishedJobs = false;
    QByteArray m_headerStateToRestore;
    // Set while the panel waits on the user before a request of its own (the
    // download target, the kill confirmation): a job list request sent by a
    // tick meanwhile would have its reply wait reset by that request.
    bool m_holdAutoRefresh = false;
    bool m_columnsFitted = false;
    int m_keptSortColumn = -1;
    Qt::SortOrder m_keptSortOrder = Qt::AscendingOrder;
    // When the shown list arrived; named while its connection is gone and
    // the list stays, greyed, until the session is back.
    QTime m_listTime;
    // The number of the user's own jobs last written to the log, -1 before
    // the first list of a login.
    int m_reportedOwnJobCount = -1;
    std::unique_ptr<UnseenJobMarks> m_unseenJobs;
    int m_reportedUnseenCount = 0;
};

} // namespace VLK
