#include "gui/ReconnectController.h"

#include "gui/CalvaroClientBase.h"
#include "protocol/Protocol.h"

#include <QTimer>

#include <utility>

namespace VLK {

ReconnectController::ReconnectController(CalvaroClientBase *clientBase, ReconnectBackoff backoff)
    : QObject(clientBase)
    , m_clientBase(clientBase)
    , m_backoff(std::move(backoff))
    , m_tryTimer(new QTimer(this))
{
    m_tryTimer->setSingleShot(true);
    m_clientBase->setKeepsSessions(true);
    connect(m_tryTimer, &QTimer::timeout, this, &ReconnectController::reconnectNow);
    connect(m_clientBase, &CalvaroClientBase::connectionLost, this,
            &ReconnectController::onConnectionLost);
    connect(m_clientBase, &CalvaroClientBase::msgReceived, this,
            &ReconnectController::onMsgReceived);
    connect(m_clientBase, &CalvaroClientBase::sessionEnded, this,
            &ReconnectController::onSessionEnded);
}

QDateTime ReconnectController::nextTryAt() const
{
    if (!m_tryTimer->isActive())
        return QDateTime();
    return QDateTime::currentDateTime().addMSecs(m_tryTimer->remainingTime());
}

void ReconnectController::reconnectNow()
{
    if (!m_reconnecting)
        return;
    m_tryTimer->stop();
    emit reconnecting(m_reason, QDateTime());
    m_clientBase->resumeSession();
}

void ReconnectController::stop()
{
    if (m_reconnecting)
        m_clientBase->endSession();
}

void ReconnectController::onConnectionLost(const QString &reason, bool transferCut)
{
    m_reason = reason;
    if (!m_reconnecting) {
        m_reconnecting = true;
        m_clientBase->reportStatus(tr("Connection lost: %1 Reconnecting by itself").arg(reason));
        if (transferCut)
            m_clientBase->reportStatus(
                tr("The download was cut and is not repeated by itself; the file there "
                   "before is kept"));
    }
    scheduleNextTry();
}

void ReconnectController::onMsgReceived(int msgType)
{
    if (msgType != MT_LoginOk)
        return;
    m_backoff.reset();
    if (m_reconnecting)
        finish(tr("Reconnected"));
}

void ReconnectController::onSessionEnded()
{
    if (m_reconnecting)
        finish(tr("Stopped reconnecting"));
    m_backoff.reset();
}

void ReconnectController::scheduleNextTry()
{
    m_tryTimer->start(m_backoff.nextDelayMs());
    emit reconnecting(m_reason, nextTryAt());
}

void ReconnectController::finish(const QString &statusLine)
{
    m_tryTimer->stop();
    m_reconnecting = false;
    m_clientBase->reportStatus(statusLine);
    emit reconnectingEnded();
}

} // namespace VLK
