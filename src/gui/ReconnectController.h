#pragma once

#include "protocol/ReconnectBackoff.h"

#include <QDateTime>
#include <QObject>

class QTimer;

namespace VLK {

class CalvaroClientBase;

// Brings a logged-in session back after its connection broke by itself: one
// try at a time, spaced by a ReconnectBackoff, until a login succeeds, the
// server refuses it, or the user stops. The status log hears of each change
// of state, not of each try.
class ReconnectController : public QObject
{
    Q_OBJECT

public:
    explicit ReconnectController(CalvaroClientBase *clientBase,
                                 ReconnectBackoff backoff = ReconnectBackoff());

    bool isReconnecting() const { return m_reconnecting; }
    // When the next try starts; null while one is under way.
    QDateTime nextTryAt() const;

public slots:
    void reconnectNow();
    void stop();

signals:
    // The connection is gone and tries go on: why, and when the next one is
    // (null while a try is under way).
    void reconnecting(const QString &reason, const QDateTime &nextTryAt);
    void reconnectingEnded();

private slots:
    void onConnectionLost(const QString &reason, bool transferCut);
    void onMsgReceived(int msgType);
    void onSessionEnded();

private:
    void scheduleNextTry();
    void finish(const QString &statusLine);

    CalvaroClientBase *const m_clientBase;
    ReconnectBackoff m_backoff;
    QTimer *const m_tryTimer;
    QString m_reason;
    bool m_reconnecting = false;
};

} // namespace VLK
