#pragma once

#include <QString>

class QSaveFile;

namespace VLK {

// A downloaded result goes into a temporary file beside its target and
// replaces the target only once complete (QSaveFile). Such a rename would
// replace even a write-protected file, and an administrator may write
// anything, so the target's own mode bits are honoured here.
bool isWriteProtected(const QString &filePath);

// Opens the temporary file of a result unless its target is write-protected;
// false with the reason in error otherwise.
bool openResultFile(QSaveFile &file, QString &error);

} // namespace VLK
