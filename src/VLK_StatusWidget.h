#pragma once

#include <QWidget>

namespace Ui {
class StatusWidget;
}

namespace VLK {

class CalvaroClientBase;

// Job table at the bottom of the main window.
class StatusWidget : public QWidget
{
    Q_OBJECT

public:
    explicit StatusWidget(QWidget *parent = nullptr);
    ~StatusWidget() override;

    void setClientBase(CalvaroClientBase *clientBase);
    void readSettings(const QString &organization, const QString &application);

public slots:
    void on_pushButtonStatus_clicked();

private:
    Ui::StatusWidget *m_ui;
    CalvaroClientBase *m_clientBase = nullptr;
};

} // namespace VLK
