#include "StatusLine.h"

#include "Terminal.h"

#include <cstdio>

namespace Cli {

namespace {

// Narrower than any terminal, so that the line never wraps and \r finds its start.
constexpr int MaxWidth = 78;

} // namespace

StatusLine::StatusLine()
    : m_enabled(isTerminal(stderr))
{ }

StatusLine::~StatusLine()
{
    finish();
}

void StatusLine::show(const QString &text)
{
    if (!m_enabled || text == m_shown)
        return;
    m_shown = text;
    const QString line
        = text.size() > MaxWidth ? text.left(MaxWidth - 3) + QLatin1String("...") : text;
    // \033[K clears what a longer text left behind.
    std::fprintf(stderr, "\r%s\033[K", qPrintable(line));
    std::fflush(stderr);
}

void StatusLine::finish()
{
    if (m_shown.isEmpty())
        return;
    std::fputs("\n", stderr);
    m_shown.clear();
}

} // namespace Cli
