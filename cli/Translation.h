#pragma once

#include <QCoreApplication>
#include <QString>

namespace Cli {

// The program's texts outside its classes share one translation context.
inline QString tr(const char *text)
{
    return QCoreApplication::translate("calvaro", text);
}

} // namespace Cli
