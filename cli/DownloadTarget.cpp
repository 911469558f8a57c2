#include "DownloadTarget.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace Cli {

DownloadTarget::DownloadTarget(const QString &path)
    : m_path(path)
    , m_file(path)
{ }

bool DownloadTarget::check(bool force, QString &error) const
{
    const QFileInfo target(m_path);
    if (target.isDir()) {
        error = tr("'%1' is a folder; give the file to write with -o.").arg(m_path);
        return false;
    }
    if (target.exists() && !force) {
        error = tr("'%1' exists already; use --force to replace it.").arg(m_path);
        return false;
    }
    // A rename would replace even a write-protected file: honour its mode.
    if (target.exists() && !target.isWritable()) {
        error = tr("'%1' is write-protected.").arg(m_path);
        return false;
    }
    return true;
}

bool DownloadTarget::open(bool force, QString &error)
{
    if (!check(force, error))
        return false;
    if (!m_file.open(QIODevice::WriteOnly)) {
        error = tr("Cannot write into the folder of '%1': %2.").arg(m_path, m_file.errorString());
        return false;
    }
    return true;
}

bool DownloadTarget::commit(QString &error)
{
    if (m_file.commit())
        return true;
    error = tr("Cannot store the result as '%1': %2.").arg(m_path, m_file.errorString());
    return false;
}

} // namespace Cli
