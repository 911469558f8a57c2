#include "gui/ReconnectBanner.h"

#include "gui/ReconnectController.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

namespace VLK {

ReconnectBanner::ReconnectBanner(ReconnectController *controller, QWidget *parent)
    : QWidget(parent)
    , m_text(new QLabel(this))
{
    setObjectName(QStringLiteral("reconnectBanner"));
    m_text->setWordWrap(true);
    auto *reconnectNow = new QPushButton(tr("Reconnect now"), this);
    reconnectNow->setObjectName(QStringLiteral("pushButtonReconnectNow"));
    auto *stop = new QPushButton(tr("Stop"), this);
    stop->setObjectName(QStringLiteral("pushButtonStopReconnecting"));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text, 1);
    layout->addWidget(reconnectNow);
    layout->addWidget(stop);
    hide();

    connect(reconnectNow, &QPushButton::clicked, controller, &ReconnectController::reconnectNow);
    connect(stop, &QPushButton::clicked, controller, &ReconnectController::stop);
    connect(controller, &ReconnectController::reconnecting, this, &ReconnectBanner::onReconnecting);
    connect(controller, &ReconnectController::reconnectingEnded, this, &QWidget::hide);
}

void ReconnectBanner::onReconnecting(const QString &reason, const QDateTime &nextTryAt)
{
    const QString next = nextTryAt.isNull()
        ? tr("Reconnecting...")
        : tr("Next try at %1.").arg(QLocale().toString(nextTryAt.time(), QLocale::LongFormat));
    m_text->setText(tr("Connection lost: %1 %2").arg(reason, next));
    show();
}

} // namespace VLK
