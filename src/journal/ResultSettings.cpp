#include "journal/ResultSettings.h"

#include "journal/ResultPlacement.h"
#include "protocol/ApplicationIdentity.h"

#include <QSettings>

namespace VLK {

namespace {
constexpr char Group[] = "Results";
constexpr char AutomaticKey[] = "DownloadAutomatically";
constexpr char PatternKey[] = "PathPattern";
} // namespace

// Each opens the window's own store, whichever program asks.

bool ResultSettings::downloadsAutomatically()
{
    QSettings settings(ApplicationIdentity::organization(), ApplicationIdentity::application());
    settings.beginGroup(QLatin1String(Group));
    const bool on = settings.value(QLatin1String(AutomaticKey), true).toBool();
    settings.endGroup();
    return on;
}

void ResultSettings::setDownloadsAutomatically(bool on)
{
    QSettings settings(ApplicationIdentity::organization(), ApplicationIdentity::application());
    settings.beginGroup(QLatin1String(Group));
    settings.setValue(QLatin1String(AutomaticKey), on);
    settings.endGroup();
}

QString ResultSettings::resultPathPattern()
{
    QSettings settings(ApplicationIdentity::organization(), ApplicationIdentity::application());
    settings.beginGroup(QLatin1String(Group));
    const QString pattern = settings.value(QLatin1String(PatternKey)).toString();
    settings.endGroup();
    return pattern.trimmed().isEmpty() ? ResultPlacement::defaultPattern() : pattern;
}

} // namespace VLK
