#include "base/allocator/allocator_shim.h"

#include <cstdlib>
#include <new>

#include "base/allocator/allocator_dispatch.h"

namespace base {
namespace allocator {

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

}  // namespace allocator
}  // namespace base

namespace {

// Runs from the runtime's table of C initialisers, which comes before every C++
// constructor of the module, and registers the heap's destruction as the first exit
// handler, so that it runs after every static destructor.
int InitializeAllocatorAtStartup() {
  base::allocator::InitializeAllocatorHeap();
  atexit(&base::allocator::DestroyAllocatorHeap);
  return 0;
}

typedef int (*StartupInitializer)();
__attribute__((section(".CRT$XIC"), used)) StartupInitializer g_allocator_initializer =
    &InitializeAllocatorAtStartup;

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

// This object file holds the global operator new, so it is linked into every module that
// allocates objects, and its start-up initialiser with it.
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
