#include "protocol/ApplicationIdentity.h"

#include <QCoreApplication>
#include <QStandardPaths>

namespace VLK {
namespace ApplicationIdentity {

QString organization()
{
    return QStringLiteral("Orvand");
}

QString application()
{
    return QStringLiteral("CalvaroClient");
}

void install()
{
    QCoreApplication::setOrganizationName(organization());
    QCoreApplication::setApplicationName(application());
}

QString dataFolder()
{
    // What the window's own application data location is, spelled out so
    // that a process under another name finds the same folder.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u'/'
        + organization() + u'/' + application();
}

} // namespace ApplicationIdentity
} // namespace VLK
