#pragma once

#include <QCoreApplication>
#include <QSaveFile>
#include <QString>

namespace Cli {

// The file a result is downloaded into. The bytes go to a temporary file in
// the target's folder as they arrive; only a complete download is renamed
// into place, so an existing file is either kept as it was or replaced whole,
// and an interrupted download leaves nothing behind.
class DownloadTarget
{
    Q_DECLARE_TR_FUNCTIONS(Cli::DownloadTarget)

public:
    explicit DownloadTarget(const QString &path);

    // May the target be written? An existing file only with force, and not
    // when it is write-protected.
    bool check(bool force, QString &error) const;
    // Checks again and opens the temporary file.
    bool open(bool force, QString &error);
    QIODevice &device() { return m_file; }
    bool commit(QString &error);
    QString path() const { return m_path; }

private:
    QString m_path;
    QSaveFile m_file;
};

} // namespace Cli
