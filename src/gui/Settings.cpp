#include "gui/Settings.h"

#include <QSettings>

namespace VLK {
namespace Settings {

QString recentDirectory(const QString &organization, const QString &application,
                        const char *directoryKey)
{
    QSettings settings(organization, application);
    settings.beginGroup(QLatin1String(RecentDirectoriesGroup));
    return settings.value(QLatin1String(directoryKey)).toString();
}

void storeRecentDirectory(const QString &organization, const QString &application,
                          const char *directoryKey, const QString &directory)
{
    QSettings settings(organization, application);
    settings.beginGroup(QLatin1String(RecentDirectoriesGroup));
    settings.setValue(QLatin1String(directoryKey), directory);
}

} // namespace Settings
} // namespace VLK
