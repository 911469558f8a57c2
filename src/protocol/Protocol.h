#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

// Wire format shared by the client and the stand-in server: framing, message
// types, and the codecs that build requests and read replies. QtCore only.
namespace VLK {

enum MessageType {
    MT_Login = 1,
    MT_Logout = 2,
    MT_SubmitJob = 3,
    MT_JobStatus = 4,
    MT_DownloadJob = 5,
    MT_KillJob = 6,
    MT_RemoveJob = 7,
    MT_SolverList = 8,

    MT_LoginOk = 100,
    MT_LogoutOk = 101,
    MT_JobStatusReply = 102,
    MT_SubmitJobOk = 103,
    MT_DownloadJobReply = 104,
    MT_KillJobOk = 105,
    MT_RemoveJobOk = 106,
    MT_SolverListReply = 107,

    MT_CommandError1 = 204,
    MT_CommandError2 = 205
};

// The name of a message type for logs, "MT_Login(1)"; an unknown type is
// shown as its number alone.
QString messageTypeName(qint64 type);

// Every integer on the wire (a size, a type, a count) is big-endian and this long.
constexpr qint64 CountSize = 8;
// Every message starts with totalSize and messageType.
constexpr qint64 MessageHeaderSize = 2 * CountSize;
// The largest message a receiver accepts (1 GByte), header included.
constexpr qint64 MaxMessageSize = 1073741824;

// A job list line holds six fields, each on a line of its own: user ID,
// solver ID, path, status, progress messages, and whether the job may be acted
// on. Its progress messages are joined by this separator.
constexpr char ProgressMessageSeparator[] = "\\|";
// The last field of a job line for a job its user may act on ("no" otherwise).
constexpr char AccessibleFlag[] = "yes";
constexpr char InaccessibleFlag[] = "no";

struct JobInfo
{
    bool accessible = true;
    QString userId;
    QString solverId;
    QString path;
    QString status;
    QString progressMsg;
};

struct JobHeader
{
    QString solverId;
    QString projectFile;
    QString zipFileName;
    QString commandLine;
    int slowQueue = 0;
};

void encodeHeader(qint64 totalSize, qint64 messageType, QByteArray &out);
// Appends value as a big-endian integer of CountSize bytes.
void appendInt64(QByteArray &out, qint64 value);
// Writes totalSize into the header of message, which starts with one.
void setTotalSize(QByteArray &message, qint64 totalSize);
void encodeCommand(int messageType, QByteArray &out);
void encodeLogin(const QString &userName, const QString &passwordDigest, QByteArray &out);
void encodeStringCommand(const QString &text, int messageType, QByteArray &out);
// Leaves totalSize at 0: the sender adds the archive size once it knows it.
void encodeJobHeader(const JobHeader &job, QByteArray &out);

// What the server sends. A text list (solvers, job lines) is a count followed
// by each item as a count and its UTF-8 bytes; appendStringList writes the
// payload alone, encodeStringList the whole message.
void appendStringList(const QStringList &items, QByteArray &out);
void encodeStringList(const QStringList &items, int messageType, QByteArray &out);
// The line of a job in a job list reply.
QString encodeJobLine(const JobInfo &job);

// Where the text of one list item lies in its message: the bytes before the
// item's first zero byte.
struct TextSpan
{
    int offset = 0;
    int length = 0;
};

bool decodeStringList(const QByteArray &message, QStringList &out);
bool decodeJobList(const QByteArray &message, QList<JobInfo> &out);

// The two steps of decodeJobList, for a reader that decodes only some lines:
// finding the lines of a job list (false when the message cannot hold a
// count), and decoding one of them (false unless it has six or four parts).
bool findJobLines(const QByteArray &message, QVector<TextSpan> &out);
bool decodeJobLine(const QByteArray &message, TextSpan line, JobInfo &out);
// Whether decodeJobLine would take line, without converting anything.
bool isJobLine(const QByteArray &message, TextSpan line);
// Like decodeJobLine, for a record that holds the decoding of shownLine: the
// fields whose bytes are the same in line are kept rather than converted.
bool updateJobLine(const QByteArray &message, TextSpan line, const QByteArray &shownMessage,
                   TextSpan shownLine, JobInfo &record);

// Replaces the file at filePath with the payload of a complete message. An
// existing file is only replaced once the whole payload has been written.
bool writePayloadToFile(const QByteArray &message, const QString &filePath);

} // namespace VLK

// A job list holds one per line: a long list is moved as plain memory.
Q_DECLARE_TYPEINFO(VLK::TextSpan, Q_PRIMITIVE_TYPE);
