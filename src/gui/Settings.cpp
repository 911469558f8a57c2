#include "gui/Settings.h"

#include <QSettings>

namespace VLK {
namespace Settings {

QString recentDirectory(const char *directoryKey)
{
    QSettings settings;
    settings.beginGroup(QLatin1String(RecentDirectoriesGroup));
    return settings.value(QLatin1String(directoryKey)).toString();
}

void storeRecentDirectory(const char *directoryKey, const QString &directory)
{
    QSettings settings;
    settings.beginGroup(QLatin1String(RecentDirectoriesGroup));
    settings.setValue(QLatin1String(directoryKey), directory);
}

} // namespace Settings
} // namespace VLK
