#pragma once

#include <QWidget>

namespace Ui {
class LoginWidget;
}

namespace VLK {

class CalvaroClientBase;

// Login strip at the top of the main window.
class LoginWidget : public QWidget
{
    Q_OBJECT

public:
    explicit LoginWidget(QWidget *parent = nullptr);
    ~LoginWidget() override;

    void setClientBase(CalvaroClientBase *clientBase);
    void readSettings(const QString &organization, const QString &application);
    void writeSettings();

private:
    Ui::LoginWidget *m_ui;
    CalvaroClientBase *m_clientBase = nullptr;
};

} // namespace VLK
