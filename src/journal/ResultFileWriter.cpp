#include "journal/ResultFileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace VLK {

ResultFileWriter::ResultFileWriter(QString targetPath)
    : m_targetPath(std::move(targetPath))
    , m_file(m_targetPath)
{
    // A half-written result must never stand under the target's name.
    m_file.setDirectWriteFallback(false);
}

bool ResultFileWriter::openTarget(QString &error)
{
    const QString folder = QFileInfo(m_targetPath).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = tr("Cannot create the folder '%1'.").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    if (!m_file.open(QIODevice::WriteOnly)) {
        error = tr("Cannot write into '%1': %2")
                    .arg(QDir::toNativeSeparators(m_targetPath), m_file.errorString());
        return false;
    }
    m_hash.reset();
    m_bytes = 0;
    return QIODevice::open(QIODevice::WriteOnly);
}

qint64 ResultFileWriter::readData(char *, qint64)
{
    return -1;
}

qint64 ResultFileWriter::writeData(const char *data, qint64 size)
{
    const qint64 written = m_file.write(data, size);
    if (written > 0) {
        m_hash.addData(data, written);
        m_bytes += written;
    }
    return written;
}

bool ResultFileWriter::targetHoldsTheSameBytes() const
{
    QFile existing(m_targetPath);
    if (existing.size() != m_bytes || !existing.open(QIODevice::ReadOnly))
        return false;
    Sha256 hash;
    return hash.addData(existing) && hash.result() == m_sha256;
}

bool ResultFileWriter::finish(qint64 announcedSize, QString &error)
{
    QIODevice::close();
    m_sha256 = m_hash.result();
    if (m_bytes != announcedSize) {
        discard();
        error = tr("The result of %1 bytes arrived with %2 bytes; it was not kept.")
                    .arg(announcedSize)
                    .arg(m_bytes);
        return false;
    }
    if (QFileInfo::exists(m_targetPath)) {
        discard();
        if (targetHoldsTheSameBytes())
            return true;
        error = tr("'%1' exists already and holds something else; it is left as it is.")
                    .arg(QDir::toNativeSeparators(m_targetPath));
        return false;
    }
    if (!m_file.commit()) {
        error = tr("Cannot save '%1': %2")
                    .arg(QDir::toNativeSeparators(m_targetPath), m_file.errorString());
        return false;
    }
    return true;
}

void ResultFileWriter::discard()
{
    QIODevice::close();
    if (m_file.isOpen()) {
        m_file.cancelWriting();
        m_file.commit();
    }
}

} // namespace VLK
