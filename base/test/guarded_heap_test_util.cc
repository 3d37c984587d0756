#include "base/test/guarded_heap_test_util.h"

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <atomic>

#include "base/allocator/allocator_dispatch.h"

namespace base {

namespace {

using allocator::AllocatorDispatch;

constexpr size_t kPage = 4096;
// Address space for every guarded allocation of the process; never reused.
constexpr size_t kRegionSize = size_t{1} << 32;
constexpr size_t kAlignment = 16;

struct Header {
  char* span;
  size_t pages;
  size_t size;
  size_t padding;
};

std::atomic<int> g_scopes{0};
std::atomic<char*> g_region{nullptr};
std::atomic<size_t> g_next_page{0};

char* Region() {
  char* region = g_region.load();
  if (region) return region;
  char* reserved =
      static_cast<char*>(VirtualAlloc(nullptr, kRegionSize, MEM_RESERVE, PAGE_NOACCESS));
  if (!reserved) return nullptr;
  if (!g_region.compare_exchange_strong(region, reserved)) {
    VirtualFree(reserved, 0, MEM_RELEASE);
    return region;
  }
  return reserved;
}

bool InRegion(const void* pointer) {
  const char* region = g_region.load();
  const char* p = static_cast<const char*>(pointer);
  return region && p >= region && p < region + kRegionSize;
}

Header* HeaderOf(void* pointer) {
  return reinterpret_cast<Header*>(static_cast<char*>(pointer) - sizeof(Header));
}

// The block ends at the end of its last page, the next page never committed; a header
// just before it names its span.
void* GuardedAllocate(size_t size) {
  char* region = Region();
  if (!region || size >= allocator::kMaxAllocationSize) return nullptr;
  const size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
  const size_t pages = (rounded + sizeof(Header) + kPage - 1) / kPage;
  const size_t first = g_next_page.fetch_add(pages + 1);
  if ((first + pages + 1) * kPage > kRegionSize) return nullptr;
  char* span = region + first * kPage;
  if (!VirtualAlloc(span, pages * kPage, MEM_COMMIT, PAGE_READWRITE)) return nullptr;
  char* block = span + pages * kPage - rounded;
  *HeaderOf(block) = Header{span, pages, size, 0};
  return block;
}

void GuardedFree(void* pointer) {
  const Header header = *HeaderOf(pointer);
  VirtualFree(header.span, header.pages * kPage, MEM_DECOMMIT);
}

bool Active() { return g_scopes.load() > 0; }

void* Allocate(const AllocatorDispatch* self, size_t size, void* context) {
  if (Active()) {
    if (void* block = GuardedAllocate(size)) return block;
  }
  return self->next->alloc_function(self->next, size, context);
}

void* AllocateZeroed(const AllocatorDispatch* self, size_t count, size_t size, void* context) {
  size_t total = 0;
  if (Active() && !__builtin_mul_overflow(count, size, &total)) {
    // Fresh pages are zeroed.
    if (void* block = GuardedAllocate(total)) return block;
  }
  return self->next->alloc_zero_initialized_function(self->next, count, size, context);
}

void* AllocateAligned(const AllocatorDispatch* self, size_t alignment, size_t size,
                      void* context) {
  return self->next->alloc_aligned_function(self->next, alignment, size, context);
}

void* Reallocate(const AllocatorDispatch* self, void* address, size_t size, void* context) {
  if (!address || !InRegion(address))
    return address || !Active() ? self->next->realloc_function(self->next, address, size, context)
                                : Allocate(self, size, context);
  if (size == 0) {
    GuardedFree(address);
    return nullptr;
  }
  void* moved = Allocate(self, size, context);
  if (!moved) return nullptr;
  const size_t old_size = HeaderOf(address)->size;
  memcpy(moved, address, old_size < size ? old_size : size);
  GuardedFree(address);
  return moved;
}

void Free(const AllocatorDispatch* self, void* address, void* context) {
  if (address && InRegion(address))
    GuardedFree(address);
  else
    self->next->free_function(self->next, address, context);
}

size_t GetSizeEstimate(const AllocatorDispatch* self, void* address, void* context) {
  if (address && InRegion(address)) return HeaderOf(address)->size;
  return self->next->get_size_estimate_function(self->next, address, context);
}

// Stays at the head once inserted: guarded blocks may be freed after the last scope.
AllocatorDispatch g_guarded_dispatch = {
    &Allocate, &AllocateZeroed, &AllocateAligned, &Reallocate, &Free, &GetSizeEstimate, nullptr,
};
std::atomic<bool> g_inserted{false};

}  // namespace

ScopedGuardedHeap::ScopedGuardedHeap() {
  if (!g_inserted.exchange(true)) allocator::InsertAllocatorDispatch(&g_guarded_dispatch);
  ++g_scopes;
}

ScopedGuardedHeap::~ScopedGuardedHeap() { --g_scopes; }

bool ScopedGuardedHeap::IsGuarded(const void* pointer) { return InRegion(pointer); }

}  // namespace base
