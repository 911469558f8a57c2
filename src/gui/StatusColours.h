#pragma once

#include <QColor>

class QPalette;

namespace VLK {

// The text colours that tell running and queued jobs apart in the job table.
// On a light palette they are the colours engineers know from every earlier
// release; on a dark one those would vanish against the rows, so the same
// hues are made lighter until they stand out from both row colours.
class StatusColours
{
public:
    static const QColor Running;
    static const QColor Queued;
    // The contrast that text of a status keeps on a dark palette.
    static constexpr double MinimumContrast = 3.0;

    // specified itself on a light palette; on a dark one the darkest shade of
    // its hue that keeps MinimumContrast against the base and the alternate
    // base colour (or the lightest, where none does).
    static QColor readable(const QColor &specified, const QPalette &palette);

    static bool isDark(const QPalette &palette);
    // The contrast ratio of two colours by their relative luminance, from 1
    // (the same) to 21 (black on white).
    static double contrastRatio(const QColor &first, const QColor &second);
};

} // namespace VLK
