#include "journal/ResultSettings.h"

#include "journal/ResultPlacement.h"

#include <QSettings>

#include <utility>

namespace VLK {

namespace {
constexpr char Group[] = "Results";
constexpr char AutomaticKey[] = "DownloadAutomatically";
constexpr char PatternKey[] = "PathPattern";
} // namespace

ResultSettings::ResultSettings()
    : ResultSettings(QStringLiteral("Orvand"), QStringLiteral("CalvaroClient"))
{ }

ResultSettings::ResultSettings(QString organization, QString application)
    : m_organization(std::move(organization))
    , m_application(std::move(application))
{ }

bool ResultSettings::downloadsAutomatically() const
{
    QSettings settings(m_organization, m_application);
    settings.beginGroup(QLatin1String(Group));
    const bool on = settings.value(QLatin1String(AutomaticKey), true).toBool();
    settings.endGroup();
    return on;
}

void ResultSettings::setDownloadsAutomatically(bool on) const
{
    QSettings settings(m_organization, m_application);
    settings.beginGroup(QLatin1String(Group));
    settings.setValue(QLatin1String(AutomaticKey), on);
    settings.endGroup();
}

QString ResultSettings::resultPathPattern() const
{
    QSettings settings(m_organization, m_application);
    settings.beginGroup(QLatin1String(Group));
    const QString pattern = settings.value(QLatin1String(PatternKey)).toString();
    settings.endGroup();
    return pattern.trimmed().isEmpty() ? ResultPlacement::defaultPattern() : pattern;
}

} // namespace VLK
