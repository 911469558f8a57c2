#include "gui/SubmitProgressDialog.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <climits>

namespace VLK {

namespace {

// The dialog counts in int; archives of 2 GiB and more are shown in units of
// a power of two bytes, so that the bar still runs from empty to full.
int unitShift(qint64 totalBytes)
{
    int shift = 0;
    while ((totalBytes >> shift) > INT_MAX)
        ++shift;
    return shift;
}

} // namespace

ProgressDlgNotificationHelper::ProgressDlgNotificationHelper(QProgressDialog *dialog)
    : m_progressDlg(dialog)
    , m_passCounter(QObject::connect(QAbstractEventDispatcher::instance(),
                                     &QAbstractEventDispatcher::awake, dialog,
                                     [this] { ++m_eventPasses; }))
{ }

ProgressDlgNotificationHelper::~ProgressDlgNotificationHelper()
{
    QObject::disconnect(m_passCounter);
}

void ProgressDlgNotificationHelper::notify(qint64 bytesSent, qint64 totalBytes)
{
    const int shift = unitShift(totalBytes);
    const int maximum = int(totalBytes >> shift);
    // Start from empty when a smaller total follows a larger one.
    if (qint64(m_progressDlg->value()) > maximum)
        m_progressDlg->setValue(0);
    m_progressDlg->setMaximum(maximum);
    // Once a modal progress dialog has decided that the work takes long
    // enough to show itself, setting its value processes events already; one
    // pass per block is all the window needs.
    const quint64 passesBefore = m_eventPasses;
    m_progressDlg->setValue(int(bytesSent >> shift));
    if (m_eventPasses == passesBefore)
        QCoreApplication::processEvents();
}

SubmitProgressDialog::SubmitProgressDialog(QWidget *parent)
    : QProgressDialog(parent)
    , m_notificationHelper(std::make_unique<ProgressDlgNotificationHelper>(this))
{
    setLabelText(tr("Sending job..."));
    setWindowModality(Qt::ApplicationModal);
    connect(this, &QProgressDialog::canceled, this, &SubmitProgressDialog::onSubmitMessageAborted);
}

SubmitProgressDialog::~SubmitProgressDialog() = default;

void SubmitProgressDialog::onSubmitMessageAborted()
{
    m_aborted = true;
}

} // namespace VLK
