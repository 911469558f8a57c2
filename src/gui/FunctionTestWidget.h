#pragma once

#include "gui/CalvaroClientBase.h"
#include "protocol/ProjectPacker.h"
#include "protocol/Protocol.h"

#include <memory>

namespace VLK {
class WindowJournal;
}

namespace Ui {
class FunctionTestWidget;
}

// The program's one window, and in the same object its connection to the
// server: the login panel on top, the submission form, the job table below.
class FunctionTestWidget final : public VLK::CalvaroClientBase
{
    Q_OBJECT

public:
    explicit FunctionTestWidget(QWidget *parent = nullptr);
    ~FunctionTestWidget() override;

    void setOrganizationAndApplication(const QString &organization, const QString &application);
    void readSettings();
    void writeSettings();

private slots:
    void onMsgReceived(int msgType);
    void on_pushButtonSubmit_clicked();
    void on_pushButtonSelect_clicked();
    void on_pushButtonCreateZip_clicked();
    void onConnectionStateChanged(bool connected);
    void onPackingFinished(const VLK::ProjectPacker::Result &result);
    void onResubmitRequested(const QString &jobPath);
    void onUnseenFinishedJobsChanged(int count);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void fillSolverBox();
    QString chosenSolver() const;
    QString chooseRecentFile(const char *directoryKey, const QString &caption,
                             const QString &filter);
    void enableArchiveActions();
    QString packingFailureText(const VLK::ProjectPacker::Result &result) const;
    void reportFailedUpload();
    void submitJob(const QString &zipFilePath, const VLK::JobHeader &job,
                   const QString &localProjectFile);
    QString packedProjectFile(const QString &archivePath) const;

    const std::unique_ptr<Ui::FunctionTestWidget> m_ui;
    QString m_organization;
    QString m_application;
    VLK::ProjectPacker *const m_packer;
    VLK::WindowJournal *const m_journal;
    // The solver chosen last, selected again once the server lists it.
    QString m_rememberedSolver;
    // What the connection last allowed; Submit also waits for a running pack.
    bool m_readyToSubmit = false;
    // The archive this window packed last, and the project file packed into it.
    QString m_packedArchive;
    QString m_packedProjectFile;
    // A journalled job to submit again once its project is packed anew.
    std::unique_ptr<VLK::JobHeader> m_resubmission;
};
