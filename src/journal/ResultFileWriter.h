#pragma once

#include "journal/Sha256.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QSaveFile>
#include <QString>

namespace VLK {

// Receives a downloaded result into a temporary file beside its target,
// counting and hashing the bytes as they pass. Only a result of the announced
// size takes the target's name, and never the name of a different file
// that is already there: a file left by an earlier run of the same download
// (the same bytes) is taken as it is.
class ResultFileWriter : public QIODevice
{
    Q_OBJECT

public:
    explicit ResultFileWriter(QString targetPath);

    bool openTarget(QString &error);
    // Renames the temporary file into place once size bytes have arrived;
    // otherwise, or when another file holds the name, drops it.
    bool finish(qint64 announcedSize, QString &error);
    void discard();

    QString targetPath() const { return m_targetPath; }
    qint64 bytesWritten() const { return m_bytes; }
    QByteArray sha256() const { return m_sha256; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    bool targetHoldsTheSameBytes() const;

    QString m_targetPath;
    QSaveFile m_file;
    Sha256 m_hash;
    QByteArray m_sha256;
    qint64 m_bytes = 0;
};

} // namespace VLK
