#include "UserDirectory.h"

#include <QFile>
#include <QRegularExpression>

namespace DevServer {

bool UserDirectory::isValidName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._@-]{1,64}$"));
    return pattern.match(name).hasMatch();
}

bool UserDirectory::isValidDigest(const QString &digest)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{32}$"));
    return pattern.match(digest).hasMatch();
}

bool UserDirectory::load(const QString &filePath, QString &error)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error
            = QStringLiteral("cannot read the users file %1: %2").arg(filePath, file.errorString());
        return false;
    }
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString name = line.section(QLatin1Char(':'), 0, 0);
        const QString digest = line.section(QLatin1Char(':'), 1);
        if (!isValidName(name) || !isValidDigest(digest)) {
            error = QStringLiteral("%1:%2: expected name:md5hex (32 lowercase hex digits)")
                        .arg(filePath)
                        .arg(lineNumber);
            return false;
        }
        m_digests.insert(name, digest);
    }
    m_loaded = true;
    return true;
}

bool UserDirectory::accepts(const QString &name, const QString &passwordDigest) const
{
    if (!isValidName(name) || !isValidDigest(passwordDigest))
        return false;
    return acceptsAnyone() || m_digests.value(name) == passwordDigest;
}

} // namespace DevServer
