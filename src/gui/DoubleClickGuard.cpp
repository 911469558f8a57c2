#include "gui/DoubleClickGuard.h"

#include <QAbstractButton>
#include <QEvent>

namespace VLK {

DoubleClickGuard::DoubleClickGuard(QObject *parent)
    : QObject(parent)
{ }

void DoubleClickGuard::install(QAbstractButton *button)
{
    button->installEventFilter(new DoubleClickGuard(button));
}

// Without its press, the release that follows clicks nothing.
bool DoubleClickGuard::eventFilter(QObject *, QEvent *event)
{
    return event->type() == QEvent::MouseButtonDblClick;
}

} // namespace VLK
