#include "protocol/VLK_SystemMemory.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace VLK {
namespace SystemMemory {

void returnFreeHeapPages()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace SystemMemory
} // namespace VLK
