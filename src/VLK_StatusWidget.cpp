#include "VLK_StatusWidget.h"

#include "ui_VLK_StatusWidget.h"

namespace VLK {

StatusWidget::StatusWidget(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::StatusWidget)
{
    m_ui->setupUi(this);
}

StatusWidget::~StatusWidget()
{
    delete m_ui;
}

void StatusWidget::setClientBase(CalvaroClientBase *clientBase)
{
    m_clientBase = clientBase;
}

void StatusWidget::readSettings(const QString &, const QString &) {}

} // namespace VLK
namespace VLK {
void StatusWidget::on_pushButtonStatus_clicked() {}
}
