#include "gui/StatusColours.h"

#include <QPalette>
#include <QtMath>

#include <algorithm>

namespace VLK {

namespace {

double linearChannel(double value)
{
    return value <= 0.03928 ? value / 12.92 : qPow((value + 0.055) / 1.055, 2.4);
}

double relativeLuminance(const QColor &colour)
{
    return 0.2126 * linearChannel(colour.redF()) + 0.7152 * linearChannel(colour.greenF())
        + 0.0722 * linearChannel(colour.blueF());
}

} // namespace

const QColor StatusColours::Running(200, 0, 0);
const QColor StatusColours::Queued(0, 200, 0);

QColor StatusColours::readable(const QColor &specified, const QPalette &palette)
{
    if (!isDark(palette))
        return specified;
    const QColor base = palette.color(QPalette::Base);
    const QColor alternateBase = palette.color(QPalette::AlternateBase);
    const QColor hsl = specified.toHsl();
    QColor shade = specified;
    for (int lightness = hsl.lightness(); lightness <= 255; ++lightness) {
        shade = QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), lightness);
        if (std::min(contrastRatio(shade, base), contrastRatio(shade, alternateBase))
            >= MinimumContrast)
            break;
    }
    return shade;
}

// Light text on a darker base, whatever the theme calls itself.
bool StatusColours::isDark(const QPalette &palette)
{
    return relativeLuminance(palette.color(QPalette::Base))
        < relativeLuminance(palette.color(QPalette::Text));
}

double StatusColours::contrastRatio(const QColor &first, const QColor &second)
{
    const double a = relativeLuminance(first);
    const double b = relativeLuminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

} // namespace VLK
