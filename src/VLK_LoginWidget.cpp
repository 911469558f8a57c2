#include "VLK_LoginWidget.h"

#include "ui_VLK_LoginWidget.h"

namespace VLK {

LoginWidget::LoginWidget(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::LoginWidget)
{
    m_ui->setupUi(this);
}

LoginWidget::~LoginWidget()
{
    delete m_ui;
}

void LoginWidget::setClientBase(CalvaroClientBase *clientBase)
{
    m_clientBase = clientBase;
}

void LoginWidget::readSettings(const QString &, const QString &) {}

void LoginWidget::writeSettings() {}

} // namespace VLK
