#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace VLK {

class CalvaroClientBase;

// Gives the keyboard focus back to the widget of the window that had it once
// that widget is enabled again. The window disables its panels while a reply
// is awaited, and a disabled widget passes the focus on to the next one in the
// tab order: a job table refreshed every second would otherwise lose it to
// the text box below it, so that arrow keys stopped working and typing went
// there. Nothing is given back once the user has moved the focus meanwhile.
class FocusKeeper : public QObject
{
    Q_OBJECT

public:
    // To be created before the panels connect to the window's state: the
    // focus is noted before any of them disables a widget.
    explicit FocusKeeper(CalvaroClientBase *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onConnectionStateChanged(bool connected);
    void onFocusChanged(QWidget *old, QWidget *now);
    void forget();

    CalvaroClientBase *m_window;
    QPointer<QWidget> m_focused;
};

} // namespace VLK
