// Two job lists, the second refreshing the first: the records after the
// refresh must be exactly what decoding the second from scratch gives, each
// changed record must be handed on once and in order as it is decoded, the
// records it leaves out of its changes must be those shown before, and a
// second list that cannot be decoded must be refused.
#include "protocol/Protocol.h"
#include "protocol/ShownJobList.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool operator!=(const VLK::JobInfo &a, const VLK::JobInfo &b)
{
    return a.accessible != b.accessible || a.userId != b.userId || a.solverId != b.solverId
        || a.path != b.path || a.status != b.status || a.progressMsg != b.progressMsg;
}

// Decodes the changes of the last update and checks that each record is
// handed on once, in the order reported, as the list then holds it.
void decodeChanged(VLK::ShownJobList &shown, const QVector<int> &changed)
{
    int next = 0;
    shown.decodeChanged(changed, [&](int index, const VLK::JobInfo &job) {
        if (next >= changed.size() || changed.at(next++) != index || &job != &shown.job(index))
            abort();
    });
    if (next != changed.size())
        abort();
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
    QVector<int> changed;
    QList<VLK::JobInfo> jobs;
    if (!shown.update(first, false, changed) || !VLK::decodeJobList(first, jobs))
        return 0;
    if (changed.size() != jobs.size())
        abort();
    decodeChanged(shown, changed);

    QList<VLK::JobInfo> expected;
    const bool valid = VLK::decodeJobList(second, expected);
    if (shown.update(second, true, changed) != valid)
        abort();
    if (!valid)
        return 0;
    decodeChanged(shown, changed);
    if (shown.jobCount() != expected.size())
        abort();
    for (int i = 0; i < expected.size(); ++i) {
        if (shown.job(i) != expected.at(i))
            abort();
        // A record left out of the changes must be the one shown before.
        if (!changed.contains(i) && (i >= jobs.size() || jobs.at(i) != expected.at(i)))
            abort();
    }
    return 0;
}
