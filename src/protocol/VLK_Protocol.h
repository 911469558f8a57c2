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

// Every message starts with totalSize and messageType, two big-endian 64-bit integers.
constexpr qint64 MessageHeaderSize = 16;
// The largest message a receiver accepts (1 GByte), header included.
constexpr qint64 MaxMessageSize = 1073741824;

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
void encodeCommand(int messageType, QByteArray &out);
void encodeLogin(const QString &userName, const QString &passwordDigest, QByteArray &out);
void encodeStringCommand(const QString &text, int messageType, QByteArray &out);
// Leaves totalSize at 0: the sender adds the archive size once it knows it.
void encodeJobHeader(const JobHeader &job, QByteArray &out);

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
// Like decodeJobLine, for a record that holds the decoding of shownLine: the
// fields whose bytes are the same in line are kept rather than converted.
bool updateJobLine(const QByteArray &message, TextSpan line, const QByteArray &shownMessage,
                   TextSpan shownLine, JobInfo &record);

// Replaces the file at filePath with the payload of a complete message. An
// existing file is only replaced once the whole payload has been written.
bool writePayloadToFile(const QByteArray &message, const QString &filePath);

} // namespace VLK
