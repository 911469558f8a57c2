// The stand-in server's request parsing, fed what a client might send in
// arbitrary segments (records of one length byte, then that many bytes).
//
// Checked: a submission delivers exactly the archive bytes it announced, in
// order of events that make sense, and nothing follows a malformed request.
#include "RequestParser.h"

#include <cstdint>
#include <cstdlib>

using DevServer::RequestParser;

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DevServer::RequestLimits limits;
    limits.maxArchiveSize = 1 << 20;
    RequestParser parser(limits);
    bool inSubmission = false;
    qint64 archiveBytes = 0;

    size_t pos = 0;
    while (pos < size) {
        const size_t lengthByte = data[pos++];
        const size_t length = qMin(lengthByte, size - pos);
        parser.feed(QByteArray(reinterpret_cast<const char *>(data + pos), int(length)));
        pos += length;

        for (;;) {
            const RequestParser::Event event = parser.next();
            if (event == RequestParser::Event::NeedMoreData)
                break;
            switch (event) {
            case RequestParser::Event::Malformed:
                check(!parser.error().isEmpty());
                return 0; // the connection is closed
            case RequestParser::Event::Request:
                check(!inSubmission);
                break;
            case RequestParser::Event::SubmissionStarted:
                check(!inSubmission);
                check(parser.archiveSize() >= 0 && parser.archiveSize() <= limits.maxArchiveSize);
                inSubmission = true;
                archiveBytes = 0;
                break;
            case RequestParser::Event::ArchiveData:
                check(inSubmission && !parser.archiveData().isEmpty());
                archiveBytes += parser.archiveData().size();
                check(archiveBytes <= parser.archiveSize());
                break;
            case RequestParser::Event::SubmissionFinished:
                check(inSubmission && archiveBytes == parser.archiveSize());
                inSubmission = false;
                break;
            case RequestParser::Event::NeedMoreData:
                break;
            }
        }
    }
    return 0;
}
