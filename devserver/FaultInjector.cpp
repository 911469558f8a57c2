#include "FaultInjector.h"

#include "protocol/Protocol.h"

namespace DevServer {

FaultInjector::FaultInjector(const FaultSettings &settings)
    : m_settings(settings)
{ }

FaultDecision FaultInjector::decide(qint64 requestType, int requestNumber)
{
    FaultDecision decision;
    if (m_settings.dropAfter > 0 && requestNumber > m_settings.dropAfter) {
        decision.cutReply = m_settings.dropMidReply;
        decision.drop = !m_settings.dropMidReply;
        if (decision.drop)
            return decision;
    }
    decision.failCode = m_settings.failTypes.value(requestType, 0);
    if (m_settings.badHeader != BadHeader::None && !m_badHeaderSent) {
        decision.badHeader = m_settings.badHeader;
        m_badHeaderSent = true;
    }
    return decision;
}

QByteArray FaultInjector::badHeader(BadHeader kind, int replyType)
{
    const qint64 totalSize
        = kind == BadHeader::Oversize ? VLK::MaxMessageSize + 1 : VLK::MessageHeaderSize / 2;
    QByteArray header;
    VLK::encodeHeader(totalSize, replyType, header);
    return header;
}

} // namespace DevServer
