#pragma once

#include "protocol/Protocol.h"

#include <QByteArray>
#include <QString>

namespace DevServer {

struct Request
{
    qint64 type = 0;
    qint64 totalSize = 0;
    QString argument; // the job path of a download, kill or remove
    QString userName; // login
    QString passwordDigest; // login
};

struct RequestLimits
{
    qint64 maxRequestSize = 1 << 20; // every request but a submission, header included
    qint64 maxArchiveSize = qint64(1) << 30;
    qint64 maxJobHeaderText = qint64(64) * 1024;
};

// Cuts the bytes a client sends into requests, without any socket: feed it
// bytes in pieces of any size, then take events until it needs more. A
// submission comes as its job header first, then its archive in the pieces it
// arrived in, so an archive is never held whole. Anything malformed ends the
// stream for good: the connection cannot be trusted to be in step any more.
class RequestParser final
{
public:
    enum class Event {
        NeedMoreData,
        Request, // request()
        SubmissionStarted, // request(), jobHeader(), archiveSize()
        ArchiveData, // archiveData()
        SubmissionFinished, // request(), jobHeader()
        Malformed // error()
    };

    explicit RequestParser(const RequestLimits &limits);

    void feed(const QByteArray &bytes);
    Event next();

    const Request &request() const { return m_request; }
    const VLK::JobHeader &jobHeader() const { return m_jobHeader; }
    qint64 archiveSize() const { return m_archiveSize; }
    const QByteArray &archiveData() const { return m_archiveData; }
    const QString &error() const { return m_error; }
    // True between the header of a request and its last byte.
    bool isInsideRequest() const { return m_state != State::Header && m_state != State::Failed; }

private:
    enum class State { Header, Payload, JobHeaderText, Archive, Failed };

    Event readHeader();
    Event readPayload();
    Event readJobHeader();
    Event readArchive();
    Event fail(const QString &error);
    void consume(qint64 byteCount);

    RequestLimits m_limits;
    State m_state = State::Header;
    QByteArray m_buffer;
    Request m_request;
    VLK::JobHeader m_jobHeader;
    qint64 m_archiveSize = 0;
    qint64 m_archiveRemaining = 0;
    QByteArray m_archiveData;
    QString m_error;
};

} // namespace DevServer
