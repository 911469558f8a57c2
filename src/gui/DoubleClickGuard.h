#pragma once

#include <QObject>

class QAbstractButton;

namespace VLK {

// Makes a double-click on a button one click. The second press of a
// double-click reaches a button as a double-click event, which it would take
// as a press of its own; by then the reply to the first click may be in and
// the button enabled again, so a request the user meant once would go twice.
class DoubleClickGuard : public QObject
{
    Q_OBJECT

public:
    // The guard is a child of the button.
    static void install(QAbstractButton *button);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit DoubleClickGuard(QObject *parent);
};

} // namespace VLK
