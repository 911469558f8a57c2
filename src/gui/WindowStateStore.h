#pragma once

#include <QByteArray>
#include <QSize>

class QWidget;

namespace VLK {

// The main window's place and size and the job table's columns (widths,
// order, sort column), kept between runs in a settings group of their own.
class WindowStateStore
{
public:
    // Room for the login panel, the submission form and eight job rows.
    static QSize defaultSize();

    // Puts window where it was at the last exit. Without a stored geometry,
    // or with one that no screen shows any more (a monitor was removed), the
    // window takes the default size on the primary screen.
    void restoreGeometry(QWidget &window) const;
    QByteArray jobTableHeaderState() const;

    // An empty headerState keeps the stored one: the table had no columns to
    // save in this run.
    void write(const QWidget &window, const QByteArray &headerState) const;

private:
    static bool fitsAScreen(const QByteArray &geometry);
    static void showAtDefaultSize(QWidget &window);
    QByteArray value(const char *key) const;
};

} // namespace VLK
