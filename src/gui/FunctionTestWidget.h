#pragma once

#include "gui/VLK_CalvaroClientBase.h"

#include <memory>

namespace Ui {
class FunctionTestWidget;
}

namespace VLK {
class ProjectArchive;
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

private:
    void fillSolverBox();
    QString chooseRecentFile(const char *directoryKey, const QString &caption,
                             const QString &filter);
    bool removeOldArchive(const QString &archivePath);
    void runArchiver(const VLK::ProjectArchive &archive);
    void showArchiveError(const QString &text);
    void reportFailedUpload();

    const std::unique_ptr<Ui::FunctionTestWidget> m_ui;
    QString m_organization;
    QString m_application;
};
