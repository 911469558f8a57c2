#pragma once

#include <QtGlobal>

// Hints to the operating system about memory, where it takes them. Elsewhere
// they are no-ops and the program behaves the same, only with the system's
// default allocator.
namespace VLK {
namespace SystemMemory {

// Gives the heap's free pages back to the system, so that memory freed by a
// large piece of work is no longer counted against the program. glibc only.
void returnFreeHeapPages();

} // namespace SystemMemory
} // namespace VLK
