#include "Upload.h"

#include <QFile>

namespace DevServer {

Upload::Upload(const QString &directory)
    : m_file(directory + QStringLiteral("/upload-XXXXXX.part"))
    , m_ok(m_file.open())
{ }

bool Upload::append(const QByteArray &bytes)
{
    if (m_ok)
        m_ok = m_file.write(bytes) == bytes.size();
    return m_ok;
}

bool Upload::moveTo(const QString &filePath)
{
    if (!m_ok || !m_file.flush())
        return false;
    // Once renamed, the file belongs to the job; a failed rename leaves it to
    // the temporary file's own clean-up.
    m_file.setAutoRemove(false);
    if (m_file.rename(filePath))
        return true;
    m_file.setAutoRemove(true);
    return false;
}

} // namespace DevServer
