#pragma once

#include "FaultInjector.h"
#include "ReplyWriter.h"
#include "RequestParser.h"

#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;

namespace DevServer {

class CommandHandler;
class Upload;
struct Reply;

// What every connection shares.
struct ServerServices
{
    CommandHandler &handler;
    FaultInjector &faults;
    RequestLimits limits;
    ReplyShaping shaping;
};

// One client connection: reads requests in order, answers each before it reads
// the next, streams submitted archives to disk, and logs every request. It
// deletes itself when the connection ends.
class Session final : public QObject
{
    Q_OBJECT

public:
    // Takes over the socket.
    Session(QTcpSocket *socket, ServerServices &services, QObject *parent = nullptr);
    ~Session() override;

private:
    void processInput();
    void handle(RequestParser::Event event);
    void answerRequest();
    void beginSubmission();
    void storeArchiveData();
    void finishSubmission();
    void deliver(const Request &request, const Reply &reply, const FaultDecision &fault,
                 const QString &note = QString());
    void closeConnection(const QString &reason);
    void onDisconnected();

    QTcpSocket *m_socket;
    ServerServices &m_services;
    RequestParser m_parser;
    ReplyWriter m_writer;
    QString m_peer;
    QString m_user;
    QString m_requester; // of the request being answered, for the log
    int m_requestCount = 0;
    bool m_closing = false;

    // The submission being received.
    FaultDecision m_submissionFault;
    int m_submissionRefusal = 0;
    QString m_submissionNote;
    std::unique_ptr<Upload> m_upload;
};

} // namespace DevServer
