#include "base/allocator/allocator_shim.h"

#include <windows.h>

#include <cstdlib>
#include <new>

#include "base/allocator/allocator_dispatch.h"
#include "base/win/win_util.h"

namespace base {
namespace allocator {

namespace {

bool ProcessIsExiting() {
  // An executable's exit handlers run only when the process ends.
  if (GetCurrentModuleHandle() == GetModuleHandleW(nullptr))
    return true;
  typedef BOOLEAN(WINAPI * ShutdownInProgressFunction)();
  auto shutdown_in_progress = reinterpret_cast<ShutdownInProgressFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"),
                                             "RtlDllShutdownInProgress")));
  return shutdown_in_progress && shutdown_in_progress();
}

// Runs from the runtime's table of C initialisers, which comes before every C++
// constructor of the module, and registers the heap's release as the first exit
// handler, so that it runs after every static destructor.
int InitializeAllocatorAtStartup() {
  // Without the heap the first allocation tries again and creates it itself.
  (void)InitializeAllocatorHeap();
  atexit(&ReleaseAllocatorHeapAtShutdown);
  return 0;
}

typedef int (*StartupInitializer)();
__attribute__((section(".CRT$XIC"), used)) StartupInitializer g_allocator_initializer =
    &InitializeAllocatorAtStartup;

}  // namespace

void* Malloc(size_t size) {
  const AllocatorDispatch* head = GetHeadDispatch();
  return head->alloc_function(head, size, nullptr);
}

void* Calloc(size_t count, size_t size) {
  const AllocatorDispatch* head = GetHeadDispatch();
  return head->alloc_zero_initialized_function(head, count, size, nullptr);
}

void* Realloc(void* address, size_t size) {
  const AllocatorDispatch* head = GetHeadDispatch();
  return head->realloc_function(head, address, size, nullptr);
}

void Free(void* address) {
  const AllocatorDispatch* head = GetHeadDispatch();
  head->free_function(head, address, nullptr);
}

void ReleaseAllocatorHeapAtShutdown() {
  if (!ProcessIsExiting())
    DestroyAllocatorHeap();
}

}  // namespace allocator
}  // namespace base

// The global operator new and delete live in this object file, so every module that
// allocates objects links it, and the start-up initialiser above with it. The aligned
// forms stay the runtime's own pair: nothing in the program uses over-aligned types.
namespace {

void* NewOrThrow(size_t size) {
  for (;;) {
    if (void* block = base::allocator::Malloc(size))
      return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler)
      throw std::bad_alloc();
    handler();
  }
}

}  // namespace

void* operator new(size_t size) { return NewOrThrow(size); }
void* operator new[](size_t size) { return NewOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return base::allocator::Malloc(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return base::allocator::Malloc(size);
}
void operator delete(void* block) noexcept { base::allocator::Free(block); }
void operator delete[](void* block) noexcept { base::allocator::Free(block); }
void operator delete(void* block, size_t) noexcept { base::allocator::Free(block); }
void operator delete[](void* block, size_t) noexcept { base::allocator::Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept {
  base::allocator::Free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  base::allocator::Free(block);
}
