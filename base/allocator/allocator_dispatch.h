// The table of allocation functions that every allocation of the library goes through,
// and the one table of this process: a private Windows heap.
//
// The heap keeps the library's memory apart from the host's and puts one size limit on
// every request. Memory that the C runtime allocates itself (_wcsdup, _wfullpath with a
// null buffer, stdio buffers) comes from the runtime's heap: it must be released with
// the runtime's free, never through this table, and blocks of this table must never be
// handed to the runtime to release.
#ifndef BASE_ALLOCATOR_ALLOCATOR_DISPATCH_H_
#define BASE_ALLOCATOR_ALLOCATOR_DISPATCH_H_

#include <windows.h>

#include <cstddef>

namespace base {
namespace allocator {

// Requests of this many bytes or more are refused.
constexpr size_t kMaxAllocationSize = 0x7FFFEFFF;

struct AllocatorDispatch {
  // Each function gets the table itself and a context pointer (always null).
  typedef void* AllocFn(const AllocatorDispatch* self, size_t size, void* context);
  typedef void* AllocZeroInitializedFn(const AllocatorDispatch* self, size_t count,
                                       size_t size, void* context);
  typedef void* AllocAlignedFn(const AllocatorDispatch* self, size_t alignment, size_t size,
                               void* context);
  typedef void* ReallocFn(const AllocatorDispatch* self, void* address, size_t size,
                          void* context);
  typedef void FreeFn(const AllocatorDispatch* self, void* address, void* context);
  typedef size_t GetSizeEstimateFn(const AllocatorDispatch* self, void* address,
                                   void* context);

  AllocFn* const alloc_function;
  AllocZeroInitializedFn* const alloc_zero_initialized_function;
  AllocAlignedFn* const alloc_aligned_function;
  ReallocFn* const realloc_function;
  FreeFn* const free_function;
  GetSizeEstimateFn* const get_size_estimate_function;
  // Set when the table is inserted into the chain.
  const AllocatorDispatch* next;
};

// The head of the process's chain. At start-up (and for good in the installer) it is
// the private heap's table, whose next is null.
const AllocatorDispatch* GetHeadDispatch();

// Puts |dispatch| (which must live for the rest of the process) at the head of the
// chain, its next being the former head. Hooks that observe allocations use it.
void InsertAllocatorDispatch(AllocatorDispatch* dispatch);

// Takes |dispatch| off the head again; false when another table is at the head. Calls
// already inside it still reach its next.
[[nodiscard]] bool RemoveAllocatorDispatchForTesting(AllocatorDispatch* dispatch);

// Creates the private heap (growable, serialised) unless it exists; true when it does.
// Runs from the runtime's start-up initialisers, before any static constructor; an
// allocation that comes even earlier creates the heap itself.
[[nodiscard]] bool InitializeAllocatorHeap();

// Destroys the private heap at runtime shutdown. Every block dies with it: later frees
// are ignored, and later allocations get a new heap that lives until the process ends.
void DestroyAllocatorHeap();

// The private heap, or null before it exists and after it is destroyed.
HANDLE GetAllocatorHeap();

}  // namespace allocator
}  // namespace base

#endif  // BASE_ALLOCATOR_ALLOCATOR_DISPATCH_H_
