#include "RequestParser.h"

#include "protocol/MessageReader.h"

#include <QStringList>

namespace DevServer {

using VLK::CountSize;
using VLK::MessageHeaderSize;

namespace {

constexpr int JobHeaderLineCount = 5;

// The payload must be exactly one counted text: a count that disagrees with
// the message size means the two sides are out of step.
bool decodeCountedText(const QByteArray &payload, QString &text)
{
    if (payload.size() < CountSize
        || VLK::MessageReader(payload).readInt64() != payload.size() - CountSize)
        return false;
    text = VLK::MessageReader(payload).readCountedText();
    return true;
}

// A login without a line feed is well framed, just not a valid login: it gets
// an empty digest, which no user has.
void decodeLogin(const QByteArray &payload, Request &request)
{
    const int lineFeed = payload.indexOf('\n');
    request.userName = QString::fromUtf8(payload.left(lineFeed < 0 ? payload.size() : lineFeed));
    request.passwordDigest
        = lineFeed < 0 ? QString() : QString::fromUtf8(payload.mid(lineFeed + 1));
}

} // namespace

RequestParser::RequestParser(const RequestLimits &limits)
    : m_limits(limits)
{ }

void RequestParser::feed(const QByteArray &bytes)
{
    if (m_state != State::Failed)
        m_buffer.append(bytes);
}

RequestParser::Event RequestParser::next()
{
    switch (m_state) {
    case State::Header:
        return readHeader();
    case State::Payload:
        return readPayload();
    case State::JobHeaderText:
        return readJobHeader();
    case State::Archive:
        return readArchive();
    case State::Failed:
        break;
    }
    return Event::Malformed;
}

RequestParser::Event RequestParser::readHeader()
{
    if (m_buffer.size() < MessageHeaderSize)
        return Event::NeedMoreData;
    VLK::MessageReader reader(m_buffer);
    m_request = Request();
    m_request.totalSize = reader.readInt64();
    m_request.type = reader.readInt64();
    consume(MessageHeaderSize);

    if (m_request.totalSize < MessageHeaderSize)
        return fail(
            QStringLiteral("message size %1 below the 16-byte header").arg(m_request.totalSize));
    if (m_request.type == VLK::MT_SubmitJob) {
        if (m_request.totalSize < MessageHeaderSize + CountSize)
            return fail(QStringLiteral("submission of %1 bytes has no room for its job header")
                            .arg(m_request.totalSize));
        m_state = State::JobHeaderText;
        return readJobHeader();
    }
    if (m_request.totalSize > m_limits.maxRequestSize)
        return fail(QStringLiteral("request of %1 bytes exceeds the limit of %2 bytes")
                        .arg(m_request.totalSize)
                        .arg(m_limits.maxRequestSize));
    m_state = State::Payload;
    return readPayload();
}

RequestParser::Event RequestParser::readPayload()
{
    const qint64 payloadSize = m_request.totalSize - MessageHeaderSize;
    if (m_buffer.size() < payloadSize)
        return Event::NeedMoreData;
    const QByteArray payload = m_buffer.left(int(payloadSize));
    consume(payloadSize);
    m_state = State::Header;

    switch (m_request.type) {
    case VLK::MT_Login:
        decodeLogin(payload, m_request);
        break;
    case VLK::MT_DownloadJob:
    case VLK::MT_KillJob:
    case VLK::MT_RemoveJob:
        if (!decodeCountedText(payload, m_request.argument))
            return fail(QStringLiteral("the job path's count does not match the request size"));
        break;
    default:
        // Other requests carry nothing we read; unknown types are answered as such.
        break;
    }
    return Event::Request;
}

RequestParser::Event RequestParser::readJobHeader()
{
    if (m_buffer.size() < CountSize)
        return Event::NeedMoreData;
    const qint64 textSize = VLK::MessageReader(m_buffer).readInt64();
    if (textSize < 0 || textSize > m_limits.maxJobHeaderText)
        return fail(QStringLiteral("job header text of %1 bytes").arg(textSize));
    const qint64 headerPart = MessageHeaderSize + CountSize + textSize;
    if (headerPart > m_request.totalSize)
        return fail(QStringLiteral("job header text runs past the end of the message"));
    m_archiveSize = m_request.totalSize - headerPart;
    if (m_archiveSize > m_limits.maxArchiveSize)
        return fail(QStringLiteral("archive of %1 bytes exceeds the upload limit of %2 bytes")
                        .arg(m_archiveSize)
                        .arg(m_limits.maxArchiveSize));
    if (m_buffer.size() < CountSize + textSize)
        return Event::NeedMoreData;

    const QStringList lines = QString::fromUtf8(m_buffer.constData() + CountSize, int(textSize))
                                  .split(QLatin1Char('\n'));
    consume(CountSize + textSize);
    if (lines.size() != JobHeaderLineCount)
        return fail(QStringLiteral("job header of %1 lines instead of %2")
                        .arg(lines.size())
                        .arg(JobHeaderLineCount));
    const QString &queueFlag = lines.at(4);
    if (queueFlag != QLatin1String("0") && queueFlag != QLatin1String("1"))
        return fail(QStringLiteral("queue flag \"%1\" is neither 0 nor 1").arg(queueFlag.left(20)));

    m_jobHeader.zipFileName = lines.at(0);
    m_jobHeader.solverId = lines.at(1);
    m_jobHeader.projectFile = lines.at(2);
    m_jobHeader.commandLine = lines.at(3);
    m_jobHeader.slowQueue = queueFlag.toInt();
    m_archiveRemaining = m_archiveSize;
    m_state = State::Archive;
    return Event::SubmissionStarted;
}

RequestParser::Event RequestParser::readArchive()
{
    if (m_archiveRemaining == 0) {
        m_archiveData.clear();
        m_state = State::Header;
        return Event::SubmissionFinished;
    }
    if (m_buffer.isEmpty())
        return Event::NeedMoreData;
    const qint64 n = qMin<qint64>(m_buffer.size(), m_archiveRemaining);
    if (n == m_buffer.size()) {
        m_archiveData = m_buffer;
        m_buffer.clear();
    } else {
        m_archiveData = m_buffer.left(int(n));
        consume(n);
    }
    m_archiveRemaining -= n;
    return Event::ArchiveData;
}

RequestParser::Event RequestParser::fail(const QString &error)
{
    m_state = State::Failed;
    m_error = error;
    m_buffer.clear();
    m_archiveData.clear();
    return Event::Malformed;
}

void RequestParser::consume(qint64 byteCount)
{
    m_buffer.remove(0, int(byteCount));
}

} // namespace DevServer
