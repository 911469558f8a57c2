#include "protocol/JobRules.h"

#include "protocol/Protocol.h"

#include <QFileInfo>

namespace VLK {

namespace {

QStringView resultOffer()
{
    return u"Ready for download:";
}

QLatin1String messageSeparator()
{
    return QLatin1String(ProgressMessageSeparator);
}

// Whether the separator ends at position end of text, compared as the text is
// held: a refresh scans the last message of every changed line.
bool separatorEndsAt(QStringView text, int end)
{
    const QLatin1String separator = messageSeparator();
    if (end < separator.size())
        return false;
    const int start = end - separator.size();
    for (int i = 0; i < separator.size(); ++i) {
        if (text[start + i] != separator[i])
            return false;
    }
    return true;
}

// The extension of an offered file, with "tar" for a compressed tar archive;
// empty when it has none.
QString extensionOf(QStringView fileName)
{
    const QFileInfo file(fileName.toString());
    QString suffix = file.suffix();
    if (!suffix.isEmpty() && file.completeBaseName().endsWith(QLatin1String(".tar")))
        return QStringLiteral("tar.") + suffix;
    return suffix;
}

} // namespace

JobRules::Status JobRules::statusOf(QStringView status)
{
    if (status.startsWith(u"Queued"))
        return Status::Queued;
    if (status.startsWith(u"Running"))
        return Status::Running;
    if (status.startsWith(u"Processed"))
        return Status::Processed;
    if (status.startsWith(u"Failed"))
        return Status::Failed;
    if (status.startsWith(u"Killed"))
        return Status::Killed;
    return Status::Other;
}

bool JobRules::isFinished(Status status)
{
    return status == Status::Processed || status == Status::Failed || status == Status::Killed;
}

QStringList JobRules::splitMessages(const QString &progressMsg)
{
    return progressMsg.split(messageSeparator());
}

QString JobRules::joinMessages(const QStringList &messages)
{
    return messages.join(messageSeparator());
}

QStringView JobRules::lastMessage(QStringView progressMsg)
{
    int start = progressMsg.size();
    while (start > 0 && !separatorEndsAt(progressMsg, start))
        --start;
    return progressMsg.mid(start);
}

QStringView JobRules::messageTail(QStringView message)
{
    return message.mid(qMax(0, int(message.size()) - MessageTailLength));
}

QStringView JobRules::lastMessageTail(QStringView progressMsg)
{
    return messageTail(lastMessage(progressMsg));
}

int JobRules::lastMessageTailStart(QStringView progressMsg)
{
    return int(progressMsg.size() - lastMessageTail(progressMsg).size());
}

bool JobRules::offersResult(QStringView progressMsg)
{
    return lastMessageTail(progressMsg).startsWith(resultOffer());
}

QStringView JobRules::offeredResultName(QStringView progressMsg)
{
    const QStringView tail = lastMessageTail(progressMsg);
    return tail.startsWith(resultOffer()) ? tail.mid(resultOffer().size()).trimmed()
                                          : QStringView();
}

QString JobRules::resultFileName(const QString &baseName, QStringView progressMsg)
{
    return baseName + QLatin1Char('.') + resultExtension(progressMsg);
}

QString JobRules::resultExtension(QStringView progressMsg)
{
    const QString offered = extensionOf(offeredResultName(progressMsg));
    return offered.isEmpty() ? QStringLiteral("7z") : offered;
}

} // namespace VLK
