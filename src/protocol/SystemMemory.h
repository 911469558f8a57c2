#pragma once

#include <QtGlobal>

// Hints to the operating system about memory, where it takes them. Elsewhere
// both are no-ops and the program behaves the same, only with the system's
// default paging and allocator.
namespace VLK {
namespace SystemMemory {

// Asks for large pages behind [start, start + length): filling a buffer of a
// gigabyte then costs hundreds of page faults instead of hundreds of
// thousands. Linux only.
void adviseLargePages(char *start, qint64 length);

// Gives the heap's free pages back to the system, so that memory freed by a
// large piece of work is no longer counted against the program. glibc only.
void returnFreeHeapPages();

} // namespace SystemMemory
} // namespace VLK
