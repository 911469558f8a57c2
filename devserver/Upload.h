#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

namespace DevServer {

// An archive on its way in: written to a private file in the upload directory
// chunk by chunk as it arrives, so its size never matters for memory. The file
// disappears with the object unless it was moved into place.
class Upload final
{
public:
    explicit Upload(const QString &directory);

    // False once anything could not be written; later chunks are then ignored.
    bool append(const QByteArray &bytes);
    bool moveTo(const QString &filePath);
    QString errorString() const { return m_file.errorString(); }

private:
    QTemporaryFile m_file;
    bool m_ok;
};

} // namespace DevServer
