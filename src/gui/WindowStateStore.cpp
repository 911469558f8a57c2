#include "gui/WindowStateStore.h"

#include "gui/Settings.h"

#include <QDataStream>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace VLK {

using Settings::GeometryKey;
using Settings::JobTableHeaderKey;
using Settings::WindowStateGroup;

namespace {
// What the toolkit's saved geometry starts with, in every version so far.
constexpr quint32 GeometryMagic = 0x1D9D0CB;
constexpr int DefaultWidth = 1000;
constexpr int DefaultHeight = 860;
} // namespace

QSize WindowStateStore::defaultSize()
{
    return QSize(DefaultWidth, DefaultHeight);
}

void WindowStateStore::restoreGeometry(QWidget &window) const
{
    const QByteArray geometry = value(GeometryKey);
    if (geometry.isEmpty() || !fitsAScreen(geometry) || !window.restoreGeometry(geometry))
        showAtDefaultSize(window);
}

QByteArray WindowStateStore::jobTableHeaderState() const
{
    return value(JobTableHeaderKey);
}

void WindowStateStore::write(const QWidget &window, const QByteArray &headerState) const
{
    QSettings settings;
    settings.beginGroup(QLatin1String(WindowStateGroup));
    settings.setValue(QLatin1String(GeometryKey), window.saveGeometry());
    if (!headerState.isEmpty())
        settings.setValue(QLatin1String(JobTableHeaderKey), headerState);
    settings.endGroup();
}

// The toolkit moves a window restored off every screen back onto one, but
// keeps its size, which may not fit there; a window whose middle is on no
// screen is better started afresh. The frame geometry follows the magic
// number and two version numbers.
bool WindowStateStore::fitsAScreen(const QByteArray &geometry)
{
    QDataStream stream(geometry);
    stream.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 majorVersion = 0;
    quint16 minorVersion = 0;
    QRect frame;
    stream >> magic >> majorVersion >> minorVersion >> frame;
    if (stream.status() != QDataStream::Ok || magic != GeometryMagic || !frame.isValid())
        return false;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens) {
        const QRect available = screen->availableGeometry();
        if (available.contains(frame.center()) && frame.width() <= available.width()
            && frame.height() <= available.height())
            return true;
    }
    return false;
}

void WindowStateStore::showAtDefaultSize(QWidget &window)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        window.resize(defaultSize());
        return;
    }
    const QRect available = screen->availableGeometry();
    QRect frame(QPoint(), defaultSize().boundedTo(available.size()));
    frame.moveCenter(available.center());
    window.resize(frame.size());
    window.move(frame.topLeft());
}

QByteArray WindowStateStore::value(const char *key) const
{
    QSettings settings;
    settings.beginGroup(QLatin1String(WindowStateGroup));
    QByteArray stored = settings.value(QLatin1String(key)).toByteArray();
    settings.endGroup();
    return stored;
}

} // namespace VLK
