#include "protocol/SystemMemory.h"

#include <cstdlib>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace VLK {
namespace SystemMemory {

void adviseLargePages(char *start, qint64 length)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    // The advice takes whole pages only: the pages that lie entirely inside.
    const quintptr pageSize = quintptr(sysconf(_SC_PAGESIZE));
    const quintptr address = quintptr(start);
    const quintptr headSkip = (pageSize - address % pageSize) % pageSize;
    const quintptr tailSkip = (address + quintptr(length)) % pageSize;
    // Only a hint: where large pages are switched off, the buffer simply
    // fills page by page.
    if (quintptr(length) > headSkip + tailSkip)
        madvise(start + headSkip, size_t(quintptr(length) - headSkip - tailSkip), MADV_HUGEPAGE);
#else
    Q_UNUSED(start);
    Q_UNUSED(length);
#endif
}

void returnFreeHeapPages()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace SystemMemory
} // namespace VLK
