#pragma once

#include <QHash>
#include <QString>

namespace DevServer {

// Who may log in. Without a users file anyone may, under any well-formed name,
// with any password.
class UserDirectory final
{
public:
    // Reads lines of the form name:md5hex; blank lines and lines starting
    // with # are skipped.
    bool load(const QString &filePath, QString &error);

    bool acceptsAnyone() const { return !m_loaded; }
    int size() const { return m_digests.size(); }
    bool accepts(const QString &name, const QString &passwordDigest) const;

    // Names end up in job paths, so they are kept plain.
    static bool isValidName(const QString &name);
    static bool isValidDigest(const QString &digest);

private:
    QHash<QString, QString> m_digests;
    bool m_loaded = false;
};

} // namespace DevServer
