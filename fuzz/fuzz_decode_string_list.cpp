// Any byte string handed to the solver-list decoder: no crash, no read past
// the end, and on success never more texts than the message could hold.
#include "protocol/Protocol.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QStringList names { QStringLiteral("before") };
    if (VLK::decodeStringList(message, names)) {
        // Every text costs at least its 8-byte count.
        if (qint64(names.size()) * 8 > qint64(size))
            abort();
    } else if (names != QStringList { QStringLiteral("before") }) {
        abort(); // a refused message leaves the list alone
    }
    return 0;
}
