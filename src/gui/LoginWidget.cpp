#include "gui/LoginWidget.h"

#include "gui/CalvaroClientBase.h"
#include "gui/Settings.h"
#include "protocol/CalvaroClientCommands.h"
#include "protocol/Protocol.h"
#include "ui_LoginWidget.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QIntValidator>
#include <QMessageBox>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QTcpSocket>

namespace VLK {

namespace {

// Named by the assertions, which a release build leaves out.
[[maybe_unused]] const char *const SourceUnit = "src/VLK_LoginWidget";
const char *const DefaultAddress = "localhost";
const char *const DefaultPort = "10000";

constexpr int MaxLogLines = 10;

// The server compares digests, so the password itself never leaves the panel.
QString digestOfPassword(const QString &password)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
}

// The validator lets intermediate text such as "" or "0" stay in the field, and
// text read from the settings store never passed it; anything that is not a
// port number becomes 0 rather than wrapping round to some other port.
quint16 portFromText(const QString &text)
{
    return text.toUShort(nullptr, 10);
}

} // namespace

LoginWidget::LoginWidget(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::LoginWidget)
    , m_ipAddressesModel(new QStringListModel(this))
    , m_passwordStore(new PasswordStore(this))
{
    m_ui->setupUi(this);
    m_ui->lineEditPassword->setEchoMode(QLineEdit::Password);
    m_ui->lineEditServerPort->setValidator(new QIntValidator(1, 65535, this));
    m_ui->comboBoxServerIP->setModel(m_ipAddressesModel);
    connect(m_passwordStore, &PasswordStore::passwordRead, this, &LoginWidget::onPasswordRead);
    connect(m_passwordStore, &PasswordStore::unavailable, this,
            &LoginWidget::onPasswordStoreUnavailable);
}

LoginWidget::~LoginWidget() = default;

void LoginWidget::setClientBase(CalvaroClientBase *clientBase)
{
    m_clientBase = clientBase;
    connect(m_clientBase, &CalvaroClientBase::addStatusMessage, this,
            &LoginWidget::onAddStatusMessage);
    connect(m_clientBase, &CalvaroClientBase::connectionStateChanged, this,
            &LoginWidget::onConnectionStateChanged);
    connect(m_clientBase, &CalvaroClientBase::connectionEstablished, this,
            &LoginWidget::onConnectionEstablished);
    connect(m_clientBase, &CalvaroClientBase::msgReceived, this, &LoginWidget::onMsgReceived);
}

void LoginWidget::readSettings(const QString &organization, const QString &application)
{
    m_organization = organization;
    m_application = application;

    QSettings settings(m_organization, m_application);
    settings.beginGroup(QLatin1String(Settings::LoginGroup));
    m_ipAddressesModel->setStringList(settings
                                          .value(QLatin1String(Settings::AddressesKey),
                                                 QStringList { QLatin1String(DefaultAddress) })
                                          .toStringList());
    m_ui->comboBoxServerIP->setCurrentIndex(0);
    m_ui->lineEditServerPort->setText(
        settings.value(QLatin1String(Settings::PortKey), QLatin1String(DefaultPort)).toString());
    m_ui->lineEditUser->setText(settings.value(QLatin1String(Settings::UserNameKey)).toString());
    const bool rememberPassword
        = settings.value(QLatin1String(Settings::RememberPasswordKey), false).toBool();
    settings.endGroup();

    // Set quietly: reading the check box back is no request to forget.
    const QSignalBlocker quiet(m_ui->checkBoxRememberPassword);
    m_ui->checkBoxRememberPassword->setChecked(rememberPassword);
    // The answer comes later; the window shows and works meanwhile.
    if (rememberPassword && m_clientBase != nullptr && enteredLogin().isComplete())
        m_passwordStore->read(enteredLogin());
}

void LoginWidget::writeSettings()
{
    Q_ASSERT_X(!m_organization.isEmpty(), SourceUnit, "!m_organization.isEmpty()");

    QSettings settings(m_organization, m_application);
    settings.beginGroup(QLatin1String(Settings::LoginGroup));
    settings.setValue(QLatin1String(Settings::AddressesKey), m_ipAddressesModel->stringList());
    // Stored as typed even beyond 65535 (the validator lets such text stand),
    // so that the next start shows what the user left in the field.
    bool portIsNumber = false;
    const qulonglong port = m_ui->lineEditServerPort->text().toULongLong(&portIsNumber, 10);
    if (portIsNumber)
        settings.setValue(QLatin1String(Settings::PortKey), port);
    settings.setValue(QLatin1String(Settings::UserNameKey), m_ui->lineEditUser->text());
    settings.setValue(QLatin1String(Settings::RememberPasswordKey),
                      m_ui->checkBoxRememberPassword->isChecked());
    settings.endGroup();
}

void LoginWidget::onAddStatusMessage(const QString &msg)
{
    QStringList lines = m_ui->plainTextEditStatus->toPlainText().split(QLatin1Char('\n'));
    lines.append(msg);

    // The limit counts blank lines too, so that text typed into the log cannot
    // keep old lines alive.
    QStringList kept;
    for (int i = qMax(0, lines.size() - MaxLogLines); i < lines.size(); ++i) {
        if (!lines.at(i).trimmed().isEmpty())
            kept.append(lines.at(i));
    }

    // The log follows its end only while the user is there; one who scrolled
    // up to read keeps reading where they were.
    QPlainTextEdit *log = m_ui->plainTextEditStatus;
    QScrollBar *scrollBar = log->verticalScrollBar();
    // Told by the last line being in view: the scroll range grows only once
    // the lines are laid out.
    const QTextCursor bottomLine = log->cursorForPosition(QPoint(0, log->viewport()->height() - 1));
    const bool atEnd = bottomLine.blockNumber() >= log->document()->blockCount() - 1;
    const int readingAt = scrollBar->value();
    m_ui->plainTextEditStatus->setPlainText(kept.join(QLatin1Char('\n')));
    if (atEnd) {
        // Replacing the text puts the cursor at the top; the newest line is the one to show.
        m_ui->plainTextEditStatus->moveCursor(QTextCursor::End);
        m_ui->plainTextEditStatus->ensureCursorVisible();
    } else {
        scrollBar->setValue(readingAt);
    }
}

void LoginWidget::onConnectionStateChanged(bool connected)
{
    m_ui->pushButtonLogin->setEnabled(!connected);
    // Logout also ends a session whose connection is being brought back.
    m_ui->pushButtonLogout->setEnabled(connected || isReconnecting());
}

void LoginWidget::onConnectionEstablished()
{
    Q_ASSERT_X(m_clientBase != nullptr, SourceUnit, "m_clientBase != NULL");

    m_ui->pushButtonLogin->setEnabled(false);
    onAddStatusMessage(tr("Connected"));
    QCoreApplication::processEvents();

    if (CalvaroClientCommands::sendLogin(m_clientBase->m_tcpSocket, m_loginUser, m_loginDigest)) {
        m_clientBase->awaitReply();
        return;
    }
    QMessageBox::critical(this, tr("Login failure"), tr("Error sending login message."));
    onAddStatusMessage(tr("Not connected"));
}

void LoginWidget::on_pushButtonLogin_clicked()
{
    Q_ASSERT_X(m_clientBase != nullptr, SourceUnit, "m_clientBase != NULL");

    rememberAddress(m_ui->comboBoxServerIP->currentText().trimmed());
    if (m_clientBase->isConnected()) {
        QMessageBox::critical(this, tr("Already connected"),
                              tr("Already connected, logout first."));
        return;
    }

    // A new login begins a new session, and no reconnect of the old one.
    m_clientBase->endSession();
    takeLoginData();
    m_ui->pushButtonLogin->setEnabled(true);
    onAddStatusMessage(tr("Connecting to server..."));
    QCoreApplication::processEvents();

    m_clientBase->connectToServer(m_ui->comboBoxServerIP->currentText(),
                                  portFromText(m_ui->lineEditServerPort->text()));
    writeSettings();
}

void LoginWidget::on_pushButtonLogout_clicked()
{
    Q_ASSERT_X(m_clientBase != nullptr, SourceUnit, "m_clientBase != NULL");

    if (isReconnecting()) {
        m_clientBase->endSession();
        onAddStatusMessage(tr("Logged out"));
        onConnectionStateChanged(false);
        return;
    }
    if (!m_clientBase->requireConnection(this, staticMetaObject.className()))
        return;
    if (CalvaroClientCommands::sendCommand(m_clientBase->m_tcpSocket, MT_Logout))
        m_clientBase->awaitReply();
}

void LoginWidget::on_lineEditPassword_returnPressed()
{
    m_ui->pushButtonLogin->setFocus(Qt::OtherFocusReason);
    on_pushButtonLogin_clicked();
}

void LoginWidget::on_checkBoxRememberPassword_toggled(bool checked)
{
    if (!checked) {
        m_passwordStore->forget(enteredLogin());
        return;
    }
    // Asked while logged in: the password of this session is the one to keep.
    if (m_clientBase != nullptr && m_clientBase->isSessionKept())
        m_passwordStore->write(m_loginEntry, m_loginPassword);
}

void LoginWidget::onMsgReceived(int msgType)
{
    // A resumed session logs in with what is stored already.
    if (msgType == MT_LoginOk && m_ui->checkBoxRememberPassword->isChecked()
        && !m_clientBase->isResumingSession())
        m_passwordStore->write(m_loginEntry, m_loginPassword);
}

// Logs in by itself with the remembered password, unless the user has begun
// to log in or changed the login meanwhile.
void LoginWidget::onPasswordRead(const PasswordEntry &entry, const QString &password)
{
    if (entry.key() != enteredLogin().key() || !m_ui->lineEditPassword->text().isEmpty()
        || !m_ui->pushButtonLogin->isEnabled() || m_clientBase->isConnected()
        || m_clientBase->isSessionKept())
        return;
    m_ui->lineEditPassword->setText(password);
    onAddStatusMessage(tr("Logging in with the remembered password"));
    on_pushButtonLogin_clicked();
}

void LoginWidget::onPasswordStoreUnavailable(const QString &reason)
{
    onAddStatusMessage(tr("The password cannot be remembered: %1").arg(reason));
}

// The connection of the session is gone and is being brought back.
bool LoginWidget::isReconnecting() const
{
    return m_clientBase != nullptr && m_clientBase->isSessionKept() && !m_clientBase->isConnected();
}

void LoginWidget::takeLoginData()
{
    m_loginUser = m_ui->lineEditUser->text();
    m_loginDigest = digestOfPassword(m_ui->lineEditPassword->text());
    m_loginEntry = enteredLogin();
    m_loginPassword = m_ui->lineEditPassword->text();
    m_clientBase->setLoginUser(m_loginUser, m_loginDigest);
}

PasswordEntry LoginWidget::enteredLogin() const
{
    return { m_ui->comboBoxServerIP->currentText().trimmed(),
             portFromText(m_ui->lineEditServerPort->text()), m_ui->lineEditUser->text() };
}

// New addresses go to the top; one used again keeps its place.
void LoginWidget::rememberAddress(const QString &host)
{
    if (m_ipAddressesModel->stringList().contains(host))
        return;
    m_ipAddressesModel->insertRow(0);
    m_ipAddressesModel->setData(m_ipAddressesModel->index(0), host);
}

} // namespace VLK
