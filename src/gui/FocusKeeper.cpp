#include "gui/FocusKeeper.h"

#include "gui/CalvaroClientBase.h"

#include <QApplication>
#include <QEvent>

namespace VLK {

FocusKeeper::FocusKeeper(CalvaroClientBase *window)
    : QObject(window)
    , m_window(window)
{
    connect(window, &CalvaroClientBase::connectionStateChanged, this,
            &FocusKeeper::onConnectionStateChanged);
    connect(qApp, &QApplication::focusChanged, this, &FocusKeeper::onFocusChanged);
}

// The window's own focus widget, which follows the focus also while the
// window is not active and the application hears of no change.
void FocusKeeper::onConnectionStateChanged(bool connected)
{
    if (connected || m_focused)
        return;
    m_focused = m_window->focusWidget();
    if (m_focused)
        m_focused->installEventFilter(this);
}

// A disabled widget passes the focus on, and a window that is left or
// entered moves it out and back: none of that is the user's choice. Any
// other move is, a dialog taking the focus included.
void FocusKeeper::onFocusChanged(QWidget *old, QWidget *now)
{
    if (old && now && old->isEnabled())
        forget();
}

bool FocusKeeper::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::EnabledChange && watched == m_focused && m_focused->isEnabled()) {
        QWidget *focused = m_focused;
        forget();
        if (!focused->hasFocus())
            focused->setFocus(Qt::OtherFocusReason);
    }
    return false;
}

void FocusKeeper::forget()
{
    if (m_focused)
        m_focused->removeEventFilter(this);
    m_focused = nullptr;
}

} // namespace VLK
