#include "Session.h"

#include "CommandHandler.h"
#include "RequestLog.h"
#include "Upload.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace DevServer {

namespace {
// Read in pieces of this size, and let the socket buffer no more while a
// reply is going out: a client that keeps sending meets TCP's own flow control.
constexpr qint64 ReadChunkSize = qint64(256) * 1024;

QByteArray encodeReply(const Reply &reply)
{
    QByteArray message;
    VLK::encodeHeader(VLK::MessageHeaderSize + reply.payload.size(), reply.type, message);
    message.append(reply.payload);
    return message;
}

} // namespace

Session::Session(QTcpSocket *socket, ServerServices &services, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_services(services)
    , m_parser(services.limits)
    , m_writer(socket, services.shaping)
    , m_peer(QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()))
{
    socket->setParent(this);
    socket->setReadBufferSize(ReadChunkSize);
    connect(socket, &QTcpSocket::readyRead, this, &Session::processInput);
    connect(socket, &QTcpSocket::disconnected, this, &Session::onDisconnected);
    // Queued, so that a client sending many requests at once does not make the
    // answers nest ever deeper on the stack.
    connect(&m_writer, &ReplyWriter::replyWritten, this, &Session::processInput,
            Qt::QueuedConnection);
}

Session::~Session() = default;

void Session::processInput()
{
    while (!m_closing && !m_writer.isBusy()) {
        const RequestParser::Event event = m_parser.next();
        if (event != RequestParser::Event::NeedMoreData) {
            handle(event);
            continue;
        }
        const QByteArray bytes = m_socket->read(ReadChunkSize);
        if (bytes.isEmpty())
            return;
        m_parser.feed(bytes);
    }
}

void Session::handle(RequestParser::Event event)
{
    switch (event) {
    case RequestParser::Event::Request:
        answerRequest();
        break;
    case RequestParser::Event::SubmissionStarted:
        beginSubmission();
        break;
    case RequestParser::Event::ArchiveData:
        storeArchiveData();
        break;
    case RequestParser::Event::SubmissionFinished:
        finishSubmission();
        break;
    case RequestParser::Event::Malformed:
        closeConnection(m_parser.error());
        break;
    case RequestParser::Event::NeedMoreData:
        break;
    }
}

void Session::answerRequest()
{
    const Request &request = m_parser.request();
    // The log names who asked: for a login the name tried, else the user
    // logged in before the request (a logout ends that).
    m_requester = request.type == VLK::MT_Login ? request.userName : m_user;
    const FaultDecision fault = m_services.faults.decide(request.type, ++m_requestCount);
    if (fault.drop) {
        closeConnection(QStringLiteral("dropped on purpose (--drop-after)"));
        return;
    }
    if (fault.failCode) {
        deliver(request, Reply(fault.failCode), fault, QStringLiteral("on purpose (--fail-type)"));
        return;
    }
    deliver(request, m_services.handler.handle(request, m_user), fault);
}

void Session::beginSubmission()
{
    m_requester = m_user;
    m_submissionFault = m_services.faults.decide(VLK::MT_SubmitJob, ++m_requestCount);
    if (m_submissionFault.drop) {
        closeConnection(QStringLiteral("dropped on purpose (--drop-after)"));
        return;
    }
    m_submissionNote.clear();
    m_submissionRefusal = m_submissionFault.failCode;
    if (m_submissionRefusal)
        m_submissionNote = QStringLiteral("on purpose (--fail-type)");
    else
        m_submissionRefusal = m_services.handler.refuseSubmission(m_user, m_parser.jobHeader());
    // A refused archive is read all the same, to stay in step with the client,
    // but it is not kept.
    if (!m_submissionRefusal)
        m_upload = m_services.handler.newUpload();
}

void Session::storeArchiveData()
{
    if (m_upload && !m_upload->append(m_parser.archiveData())) {
        m_submissionNote = QStringLiteral("archive not stored: ") + m_upload->errorString();
        m_submissionRefusal = VLK::MT_CommandError1;
        m_upload.reset();
    }
}

void Session::finishSubmission()
{
    const Reply reply = m_upload
        ? m_services.handler.submit(m_user, m_parser.jobHeader(), *m_upload)
        : Reply(m_submissionRefusal);
    m_upload.reset();
    deliver(m_parser.request(), reply, m_submissionFault, m_submissionNote);
}

void Session::deliver(const Request &request, const Reply &reply, const FaultDecision &fault,
                      const QString &note)
{
    const ReplyWriter::Ending ending
        = fault.cutReply ? ReplyWriter::Ending::CutHalfwayAndClose : ReplyWriter::Ending::KeepOpen;
    QStringList result { VLK::messageTypeName(reply.type) };
    if (!note.isEmpty())
        result << note;
    if (fault.badHeader != BadHeader::None) {
        m_writer.send(FaultInjector::badHeader(fault.badHeader, reply.type), ending);
        result << QStringLiteral("sent with a bad header on purpose (--bad-header)");
    } else if (reply.filePath.isEmpty()) {
        m_writer.send(encodeReply(reply), ending);
    } else if (!m_writer.sendFile(reply.type, reply.filePath, ending)) {
        m_writer.send(encodeReply(Reply(VLK::MT_CommandError1)), ending);
        result = QStringList { VLK::messageTypeName(VLK::MT_CommandError1),
                               QStringLiteral("cannot read ") + reply.filePath };
    }
    if (fault.cutReply) {
        m_closing = true;
        result << QStringLiteral("cut off halfway and closed on purpose (--drop-after)");
    }
    logRequest(m_peer, m_requester, request.type, request.totalSize,
               result.join(QStringLiteral(", ")));
}

void Session::closeConnection(const QString &reason)
{
    const Request &request = m_parser.request();
    logRequest(m_peer, m_user, request.type, request.totalSize,
               QStringLiteral("closed: ") + reason);
    m_closing = true;
    m_upload.reset();
    m_socket->disconnectFromHost();
}

void Session::onDisconnected()
{
    if (m_parser.isInsideRequest()) {
        const Request &request = m_parser.request();
        logRequest(m_peer, m_user, request.type, request.totalSize,
                   QStringLiteral("client left before the request was complete"));
    }
    m_upload.reset();
    deleteLater();
}

} // namespace DevServer
