// The library's allocation entry points, all served by the head allocator dispatch
// (allocator_dispatch.h). The global operator new and delete of every module that links
// the library go through them as well.
//
// The C runtime's own malloc and free stay untouched: msvcrt hands out blocks from its
// heap (_strdup, _wfullpath with a null buffer, ...) that callers release with free, so
// replacing free would release them into the wrong heap. Code of the library that needs
// raw blocks calls these instead.
#ifndef BASE_ALLOCATOR_ALLOCATOR_SHIM_H_
#define BASE_ALLOCATOR_ALLOCATOR_SHIM_H_

#include <cstddef>

namespace base {
namespace allocator {

// Null when refused or exhausted; no retry.
void* Malloc(size_t size);
// Null when count * size overflows or is refused.
void* Calloc(size_t count, size_t size);
// A null |address| allocates; size 0 frees and gives null; a refused size gives null
// and leaves the old block valid.
void* Realloc(void* address, size_t size);
void Free(void* address);

// The exit handler that start-up registers. When the process ends, other threads may
// still allocate after the exit handlers, and the system reclaims the heap anyway, so
// the heap is destroyed only when the library is unloaded from a process that goes on.
void ReleaseAllocatorHeapAtShutdown();

}  // namespace allocator
}  // namespace base

#endif  // BASE_ALLOCATOR_ALLOCATOR_SHIM_H_
