#include "protocol/Protocol.h"

#include "protocol/ResultFile.h"

#include "protocol/MessageReader.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <cstring>

namespace VLK {

namespace {

void appendCountedText(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    appendInt64(out, utf8.size());
    out.append(utf8);
}

// The part of a message that its header claims, never more than it holds.
QByteArray claimedPart(const QByteArray &message, quint64 totalSize)
{
    const int length = int(qMin<quint64>(totalSize, quint64(message.size())));
    return QByteArray::fromRawData(message.constData(), length);
}

// Reads the header and the item count of a text list. False when the message
// is too short to hold a count.
bool openTextList(const QByteArray &message, MessageReader &reader, qint64 &count)
{
    const quint64 totalSize = quint64(reader.readInt64());
    reader.readInt64(); // messageType: the caller knows what it asked for
    if (totalSize < quint64(MessageHeaderSize + CountSize))
        return false;
    reader = MessageReader(claimedPart(message, totalSize), reader.position());
    count = reader.readInt64();
    return true;
}

// The five lines of a submission's job header text, in their wire order.
QString jobHeaderText(const JobHeader &job)
{
    return QStringList { job.zipFileName, job.solverId, job.projectFile, job.commandLine,
                         QString::number(job.slowQueue) }
        .join(QLatin1Char('\n'));
}

// The parts of a job line, split at its line feeds. A line feed byte never
// occurs inside a multi-byte character, so splitting the bytes first gives
// the same fields as converting first, and a list of 100,000 jobs is decoded
// without a string for every whole line and a list for every split.
struct JobLineParts
{
    static constexpr int Max = 6;
    const char *bytes[Max] = {};
    int sizes[Max] = {};
    int count = 0;

    bool equal(const JobLineParts &other, int part) const
    {
        return sizes[part] == other.sizes[part]
            && memcmp(bytes[part], other.bytes[part], size_t(sizes[part])) == 0;
    }
    QString text(int part) const { return QString::fromUtf8(bytes[part], sizes[part]); }
};

// False unless the line has six or four parts.
bool splitJobLine(const QByteArray &message, TextSpan line, JobLineParts &out)
{
    const char *partStart = message.constData() + line.offset;
    const char *const end = partStart + line.length;
    out.count = 0;
    for (;;) {
        const char *feed
            = static_cast<const char *>(memchr(partStart, '\n', size_t(end - partStart)));
        const char *partEnd = feed ? feed : end;
        if (out.count == JobLineParts::Max)
            return false;
        out.bytes[out.count] = partStart;
        out.sizes[out.count] = int(partEnd - partStart);
        ++out.count;
        if (!feed)
            break;
        partStart = feed + 1;
    }
    return out.count == 6 || out.count == 4;
}

// The text fields of a six-part line in their order; a four-part line lacks
// the user ID.
QString JobInfo::*const TextFields[] = { &JobInfo::userId, &JobInfo::solverId, &JobInfo::path,
                                         &JobInfo::status, &JobInfo::progressMsg };
constexpr int TextFieldCount = 5;

// Converts the text fields of parts into record, except those whose bytes
// are equal in shownParts, which record already holds.
void assignJobFields(const JobLineParts &parts, const JobLineParts *shownParts, JobInfo &record)
{
    const bool hasUserId = parts.count == 6;
    if (!hasUserId)
        record.userId.clear();
    const int firstField = hasUserId ? 0 : 1;
    for (int field = firstField; field < TextFieldCount; ++field) {
        const int part = field - firstField;
        if (!shownParts || !parts.equal(*shownParts, part))
            record.*TextFields[field] = parts.text(part);
    }
    record.accessible = !hasUserId
        || QLatin1String(parts.bytes[5], parts.sizes[5]) == QLatin1String(AccessibleFlag);
}

} // namespace

QString messageTypeName(qint64 type)
{
    const char *name = nullptr;
    switch (type) {
    case MT_Login:
        name = "MT_Login";
        break;
    case MT_Logout:
        name = "MT_Logout";
        break;
    case MT_SubmitJob:
        name = "MT_SubmitJob";
        break;
    case MT_JobStatus:
        name = "MT_JobStatus";
        break;
    case MT_DownloadJob:
        name = "MT_DownloadJob";
        break;
    case MT_KillJob:
        name = "MT_KillJob";
        break;
    case MT_RemoveJob:
        name = "MT_RemoveJob";
        break;
    case MT_SolverList:
        name = "MT_SolverList";
        break;
    case MT_LoginOk:
        name = "MT_LoginOk";
        break;
    case MT_LogoutOk:
        name = "MT_LogoutOk";
        break;
    case MT_JobStatusReply:
        name = "MT_JobStatusReply";
        break;
    case MT_SubmitJobOk:
        name = "MT_SubmitJobOk";
        break;
    case MT_DownloadJobReply:
        name = "MT_DownloadJobReply";
        break;
    case MT_KillJobOk:
        name = "MT_KillJobOk";
        break;
    case MT_RemoveJobOk:
        name = "MT_RemoveJobOk";
        break;
    case MT_SolverListReply:
        name = "MT_SolverListReply";
        break;
    case MT_CommandError1:
        name = "MT_CommandError1";
        break;
    case MT_CommandError2:
        name = "MT_CommandError2";
        break;
    }
    return name ? QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(type)
                : QString::number(type);
}

void encodeHeader(qint64 totalSize, qint64 messageType, QByteArray &out)
{
    out.clear();
    appendInt64(out, totalSize);
    appendInt64(out, messageType);
}

void appendInt64(QByteArray &out, qint64 value)
{
    char bytes[CountSize];
    qToBigEndian<qint64>(value, bytes);
    out.append(bytes, int(sizeof bytes));
}

void setTotalSize(QByteArray &message, qint64 totalSize)
{
    Q_ASSERT_X(message.size() >= MessageHeaderSize, "src/protocol/Protocol",
               "message.size() >= MessageHeaderSize");
    qToBigEndian<qint64>(totalSize, message.data());
}

void encodeCommand(int messageType, QByteArray &out)
{
    encodeHeader(MessageHeaderSize, messageType, out);
}

void encodeLogin(const QString &userName, const QString &passwordDigest, QByteArray &out)
{
    encodeHeader(0, MT_Login, out);
    out.append(userName.toUtf8());
    out.append('\n');
    out.append(passwordDigest.toUtf8());
    setTotalSize(out, out.size());
}

void encodeStringCommand(const QString &text, int messageType, QByteArray &out)
{
    encodeHeader(0, messageType, out);
    appendCountedText(out, text);
    setTotalSize(out, out.size());
}

void encodeJobHeader(const JobHeader &job, QByteArray &out)
{
    encodeHeader(0, MT_SubmitJob, out);
    appendCountedText(out, jobHeaderText(job));
}

void appendStringList(const QStringList &items, QByteArray &out)
{
    appendInt64(out, items.size());
    for (const QString &item : items)
        appendCountedText(out, item);
}

void encodeStringList(const QStringList &items, int messageType, QByteArray &out)
{
    encodeHeader(0, messageType, out);
    appendStringList(items, out);
    setTotalSize(out, out.size());
}

QString encodeJobLine(const JobInfo &job)
{
    return QStringList {
        job.userId,      job.solverId,
        job.path,        job.status,
        job.progressMsg, QLatin1String(job.accessible ? AccessibleFlag : InaccessibleFlag)
    }
        .join(QLatin1Char('\n'));
}

bool decodeStringList(const QByteArray &message, QStringList &out)
{
    MessageReader reader(message);
    qint64 count = 0;
    if (!openTextList(message, reader, count))
        return false;
    out.clear();
    // Counts are untrusted: a list ends where the message ends, whatever it claims.
    for (qint64 i = 0; i < count && !reader.atEnd(); ++i)
        out.append(reader.readCountedText());
    return true;
}

bool decodeJobList(const QByteArray &message, QList<JobInfo> &out)
{
    QVector<TextSpan> lines;
    if (!findJobLines(message, lines))
        return false;
    out.clear();
    out.reserve(lines.size());
    for (const TextSpan &line : qAsConst(lines)) {
        JobInfo job;
        if (!decodeJobLine(message, line, job))
            return false;
        out.append(job);
    }
    return true;
}

bool findJobLines(const QByteArray &message, QVector<TextSpan> &out)
{
    MessageReader reader(message);
    qint64 count = 0;
    if (!openTextList(message, reader, count))
        return false;
    out.clear();
    // Each item takes at least its 8-byte count, whatever the count claims.
    out.reserve(int(qBound<qint64>(0, count, reader.remaining() / CountSize)));
    for (qint64 i = 0; i < count && !reader.atEnd(); ++i)
        out.append(reader.readCountedSpan());
    return true;
}

bool decodeJobLine(const QByteArray &message, TextSpan line, JobInfo &out)
{
    JobLineParts parts;
    if (!splitJobLine(message, line, parts))
        return false;
    assignJobFields(parts, nullptr, out);
    return true;
}

bool isJobLine(const QByteArray &message, TextSpan line)
{
    JobLineParts parts;
    return splitJobLine(message, line, parts);
}

bool updateJobLine(const QByteArray &message, TextSpan line, const QByteArray &shownMessage,
                   TextSpan shownLine, JobInfo &record)
{
    JobLineParts parts;
    if (!splitJobLine(message, line, parts))
        return false;
    JobLineParts shownParts;
    const bool comparable
        = splitJobLine(shownMessage, shownLine, shownParts) && shownParts.count == parts.count;
    assignJobFields(parts, comparable ? &shownParts : nullptr, record);
    return true;
}

bool writePayloadToFile(const QByteArray &message, const QString &filePath)
{
    MessageReader reader(message);
    const qint64 totalSize = reader.readInt64();
    if (totalSize < MessageHeaderSize || totalSize > message.size())
        return false;

    QSaveFile file(filePath);
    QString error;
    if (!openResultFile(file, error))
        return false;
    const qint64 payloadSize = totalSize - MessageHeaderSize;
    if (file.write(message.constData() + MessageHeaderSize, payloadSize) != payloadSize) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace VLK
