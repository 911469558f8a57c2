#include "FunctionTestWidget.h"

#include "ui_FunctionTestWidget.h"

namespace {
const char *const VersionText = "1.3.1";
const char *const WindowTitleFormat = "Calvaro Client - %1";
} // namespace

FunctionTestWidget::FunctionTestWidget(QWidget *parent)
    : VLK::CalvaroClientBase(parent)
    , m_ui(new Ui::FunctionTestWidget)
{
    // The icons live in the client library; a static library needs this to keep them.
    Q_INIT_RESOURCE(CalvaroClient);
    m_ui->setupUi(this);
    setWindowTitle(QString::fromLatin1(WindowTitleFormat).arg(QLatin1String(VersionText)));
    m_ui->loginWidget->setClientBase(this);
    m_ui->statusWidget->setClientBase(this);
    connect(this, &FunctionTestWidget::connectionStateChanged, this,
            &FunctionTestWidget::onConnectionStateChanged);
    connect(this, &FunctionTestWidget::msgReceived, this, &FunctionTestWidget::onMsgReceived);
    emit connectionStateChanged(false);
}

FunctionTestWidget::~FunctionTestWidget()
{
    delete m_ui;
}

void FunctionTestWidget::setOrganizationAndApplication(const QString &organization,
                                                       const QString &application)
{
    m_organization = organization;
    m_application = application;
}

void FunctionTestWidget::readSettings()
{
    m_ui->loginWidget->readSettings(m_organization, m_application);
    m_ui->statusWidget->readSettings(m_organization, m_application);
}

void FunctionTestWidget::writeSettings()
{
    m_ui->loginWidget->writeSettings();
}

void FunctionTestWidget::onMsgReceived(int) {}

void FunctionTestWidget::on_pushButtonSubmit_clicked() {}

void FunctionTestWidget::on_pushButtonSelect_clicked() {}

void FunctionTestWidget::on_pushButtonCreateZip_clicked() {}

void FunctionTestWidget::onConnectionStateChanged(bool connected)
{
    m_ui->pushButtonSubmit->setEnabled(connected);
}
