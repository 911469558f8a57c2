// Any byte string handed to the job-list decoder: no crash, no read past the
// end, and every decoded record follows the four- or six-part rule.
#include "protocol/Protocol.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QList<VLK::JobInfo> jobs;
    VLK::decodeJobList(message, jobs);
    if (qint64(jobs.size()) * 8 > qint64(size))
        abort();
    for (const VLK::JobInfo &job : jobs) {
        for (const QString *field :
             { &job.userId, &job.solverId, &job.path, &job.status, &job.progressMsg })
            if (field->contains(QLatin1Char('\n')))
                abort();
    }
    return 0;
}
