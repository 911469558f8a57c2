#include "protocol/ResultFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>

namespace VLK {

bool isWriteProtected(const QString &filePath)
{
    const QFileInfo target(filePath);
    const QFileDevice::Permissions anyWrite
        = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return target.exists() && (!target.isWritable() || !(target.permissions() & anyWrite));
}

bool openResultFile(QSaveFile &file, QString &error)
{
    if (isWriteProtected(file.fileName())) {
        error = QCoreApplication::translate("VLK::ResultFile", "the file is write-protected");
        return false;
    }
    if (file.open(QIODevice::WriteOnly))
        return true;
    error = file.errorString();
    return false;
}

} // namespace VLK
