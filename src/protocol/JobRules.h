#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace VLK {

// What a job's status and progress messages mean, for the window and calvaro
// alike. The job table asks these of every line of a refreshed list, so the
// questions about a single job take views and allocate nothing.
class JobRules final
{
public:
    // What a status says, by how it begins (case-sensitive: "Running (step 3)"
    // is Running, "running" is Other).
    enum class Status : quint8 { Queued, Running, Processed, Failed, Killed, Other };

    // How many characters at the end of a message are shown of it.
    static constexpr int MessageTailLength = 80;

    static Status statusOf(QStringView status);
    // Processed, failed or killed: the job will not change any more.
    static bool isFinished(Status status);

    // A job's progress messages are one text on the wire. Splitting keeps
    // empty messages.
    static QStringList splitMessages(const QString &progressMsg);
    static QString joinMessages(const QStringList &messages);
    static QStringView lastMessage(QStringView progressMsg);
    // The part of a message that is shown: its last MessageTailLength characters.
    static QStringView messageTail(QStringView message);
    static QStringView lastMessageTail(QStringView progressMsg);
    // Where lastMessageTail() begins in progressMsg.
    static int lastMessageTailStart(QStringView progressMsg);

    // Whether the shown tail of the last message offers the job's result,
    // "Ready for download: <file>".
    static bool offersResult(QStringView progressMsg);
    // The file that the offer names, trimmed; empty without an offer.
    static QStringView offeredResultName(QStringView progressMsg);
    // The name suggested for a job's downloaded result: baseName, then the
    // extension of the offered file ("tar.gz" for a compressed tar archive),
    // or ".7z" when no offered file has one.
    static QString resultFileName(const QString &baseName, QStringView progressMsg);
    // That extension alone, without its dot.
    static QString resultExtension(QStringView progressMsg);
};

} // namespace VLK
