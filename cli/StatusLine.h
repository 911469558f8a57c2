#pragma once

#include <QString>

namespace Cli {

// One line on stderr that shows where something stands, rewritten in place
// when it changes, and only when stderr is a terminal: a script's log gets
// none of it.
class StatusLine
{
public:
    StatusLine();
    ~StatusLine();

    void show(const QString &text);
    // Ends the line, so that what follows starts on a line of its own.
    void finish();

private:
    bool m_enabled;
    QString m_shown;
};

} // namespace Cli
