#pragma once

#include "protocol/CalvaroClientCommands.h"

#include <QProgressDialog>

#include <memory>

namespace VLK {

// Shows the upload's byte counts on a progress dialog and keeps the window
// alive between blocks, which is also when a click on Cancel gets through.
class ProgressDlgNotificationHelper final : public CalvaroClientCommands::ProgressNotification
{
public:
    explicit ProgressDlgNotificationHelper(QProgressDialog *dialog);
    ~ProgressDlgNotificationHelper() override;
    Q_DISABLE_COPY(ProgressDlgNotificationHelper)

    void notify(qint64 bytesSent, qint64 totalBytes) override;

private:
    QProgressDialog *m_progressDlg;
    // Passes of the event loop so far, wherever they were made.
    quint64 m_eventPasses = 0;
    QMetaObject::Connection m_passCounter;
};

// The modal dialog in front of a job upload; Cancel raises m_aborted, which
// the upload reads after every block.
class SubmitProgressDialog final : public QProgressDialog
{
    Q_OBJECT

public:
    explicit SubmitProgressDialog(QWidget *parent);
    ~SubmitProgressDialog() override;

    // What an upload needs of the dialog: the flag that Cancel raises and the
    // callback that shows each block.
    bool *abortFlag() { return &m_aborted; }
    CalvaroClientCommands::ProgressNotification *notification()
    {
        return m_notificationHelper.get();
    }

    bool m_aborted = false;
    const std::unique_ptr<ProgressDlgNotificationHelper> m_notificationHelper;

public slots:
    void onSubmitMessageAborted();
};

} // namespace VLK
