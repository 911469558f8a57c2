// Two job lists, the second refreshing the first: the records of the first
// with the second's changes applied must be exactly what decoding the second
// from scratch gives, and a second list that cannot be decoded must be refused.
#include "VLK_Protocol.h"
#include "VLK_ShownJobList.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool operator!=(const VLK::JobInfo &a, const VLK::JobInfo &b)
{
    return a.accessible != b.accessible || a.userId != b.userId || a.solverId != b.solverId
        || a.path != b.path || a.status != b.status || a.progressMsg != b.progressMsg;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t firstSize = qMin<size_t>(size - 2, size_t(data[0]) | size_t(data[1]) << 8);
    const char *bytes = reinterpret_cast<const char *>(data) + 2;
    // Copies, as the shown list keeps the bytes of its reply.
    const QByteArray first(bytes, int(firstSize));
    const QByteArray second(bytes + firstSize, int(size - 2 - firstSize));

    VLK::ShownJobList shown;
    QVector<VLK::ShownJobList::Change> changes;
    QList<VLK::JobInfo> jobs;
    if (!shown.update(first, false, changes) || !VLK::decodeJobList(first, jobs))
        return 0;
    if (changes.size() != jobs.size())
        abort();

    QList<VLK::JobInfo> expected;
    const bool valid = VLK::decodeJobList(second, expected);
    if (shown.update(second, true, changes) != valid)
        abort();
    if (!valid)
        return 0;
    if (shown.jobCount() != expected.size())
        abort();
    while (jobs.size() > expected.size())
        jobs.removeLast();
    for (const VLK::ShownJobList::Change &change : qAsConst(changes)) {
        if (change.index < jobs.size())
            jobs[change.index] = change.job;
        else if (change.index == jobs.size())
            jobs.append(change.job);
        else
            abort();
    }
    for (int i = 0; i < expected.size(); ++i)
        if (jobs.at(i) != expected.at(i))
            abort();
    return 0;
}
