#pragma once

#include "keyring/PasswordStore.h"

#include <QString>
#include <QWidget>

#include <memory>

class QStringListModel;

namespace Ui {
class LoginWidget;
}

namespace VLK {

class CalvaroClientBase;

// Login strip at the top of the main window: server address history, port,
// user name and password, Login and Logout, and the running status log. It
// owns no connection; it drives the one it is handed and follows its signals.
class LoginWidget final : public QWidget
{
    Q_OBJECT

public:
    explicit LoginWidget(QWidget *parent = nullptr);
    ~LoginWidget() override;

    void setClientBase(CalvaroClientBase *clientBase);
    void readSettings(const QString &organization, const QString &application);
    void writeSettings();

public slots:
    void onAddStatusMessage(const QString &msg);
    void onConnectionStateChanged(bool connected);
    void onConnectionEstablished();

private slots:
    void on_pushButtonLogin_clicked();
    void on_pushButtonLogout_clicked();
    void on_lineEditPassword_returnPressed();
    void on_checkBoxRememberPassword_toggled(bool checked);
    void onMsgReceived(int msgType);
    void onPasswordRead(const VLK::PasswordEntry &entry, const QString &password);
    void onPasswordStoreUnavailable(const QString &reason);

private:
    void takeLoginData();
    PasswordEntry enteredLogin() const;
    bool isReconnecting() const;
    void rememberAddress(const QString &host);

    const std::unique_ptr<Ui::LoginWidget> m_ui;
    CalvaroClientBase *m_clientBase = nullptr;
    QString m_organization;
    QString m_application;
    QStringListModel *m_ipAddressesModel;
    // What Login last took from the fields; a session resumed after its
    // connection broke logs in with it again.
    QString m_loginUser;
    QString m_loginDigest;
    // The same login for the keyring, if the user asks to remember it.
    PasswordEntry m_loginEntry;
    QString m_loginPassword;
    PasswordStore *const m_passwordStore;
};

} // namespace VLK
