#pragma once

#include <QByteArray>
#include <QHash>

namespace DevServer {

enum class BadHeader { None, Oversize, Undersize };

struct FaultSettings
{
    QHash<qint64, int> failTypes; // request type -> error reply
    int dropAfter = 0; // answer this many requests per connection, then drop it; 0 = never
    bool dropMidReply = false; // drop by cutting the next reply in half instead of not answering
    BadHeader badHeader = BadHeader::None;
};

// What to do wrong with one request.
struct FaultDecision
{
    bool drop = false; // close without answering
    bool cutReply = false; // send half the reply, then close
    int failCode = 0; // answer with this error instead of doing the request
    BadHeader badHeader = BadHeader::None; // do the request, but answer with a bad header
};

// Misbehaves on purpose, as asked on the command line, so that the client's
// handling of a faulty server can be seen.
class FaultInjector final
{
public:
    explicit FaultInjector(const FaultSettings &settings);

    // requestNumber counts the requests of one connection from 1.
    FaultDecision decide(qint64 requestType, int requestNumber);

    // A reply header whose size no receiver can accept.
    static QByteArray badHeader(BadHeader kind, int replyType);

private:
    FaultSettings m_settings;
    // The bad header goes out once per server run: with every connection its
    // first reply would be a bad header, and nobody could ever log in.
    bool m_badHeaderSent = false;
};

} // namespace DevServer
