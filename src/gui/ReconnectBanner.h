#pragma once

#include <QWidget>

class QLabel;

namespace VLK {

class ReconnectController;

// The line above the job table while a lost connection is being brought
// back: what happened, when the next try is, "Reconnect now" and "Stop".
// Hidden otherwise.
class ReconnectBanner : public QWidget
{
    Q_OBJECT

public:
    explicit ReconnectBanner(ReconnectController *controller, QWidget *parent = nullptr);

private slots:
    void onReconnecting(const QString &reason, const QDateTime &nextTryAt);

private:
    QLabel *const m_text;
};

} // namespace VLK
