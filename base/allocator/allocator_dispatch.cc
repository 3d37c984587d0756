#include "base/allocator/allocator_dispatch.h"

#include <atomic>

#include "base/immediate_crash.h"

namespace base {
namespace allocator {

namespace {

// Constant-initialised, so usable before any constructor has run.
std::atomic<HANDLE> g_heap{nullptr};
std::atomic<bool> g_heap_destroyed{false};

HANDLE GetOrCreateHeap() {
  HANDLE heap = g_heap.load(std::memory_order_acquire);
  if (heap)
    return heap;
  HANDLE created = HeapCreate(0, 0, 0);
  if (!created)
    return nullptr;
  if (g_heap.compare_exchange_strong(heap, created, std::memory_order_acq_rel))
    return created;
  HeapDestroy(created);  // another thread won
  return heap;
}

// The heap that holds live blocks, or null once they died with a destroyed heap.
HANDLE GetHeapOfLiveBlocks() {
  if (g_heap_destroyed.load(std::memory_order_acquire))
    return nullptr;
  return g_heap.load(std::memory_order_acquire);
}

void* HeapAllocate(const AllocatorDispatch*, size_t size, void*) {
  if (size >= kMaxAllocationSize)
    return nullptr;
  HANDLE heap = GetOrCreateHeap();
  return heap ? HeapAlloc(heap, 0, size) : nullptr;
}

void* HeapAllocateZeroed(const AllocatorDispatch*, size_t count, size_t size, void*) {
  size_t total;
  if (__builtin_mul_overflow(count, size, &total) || total >= kMaxAllocationSize)
    return nullptr;
  HANDLE heap = GetOrCreateHeap();
  return heap ? HeapAlloc(heap, HEAP_ZERO_MEMORY, total) : nullptr;
}

void* HeapAllocateAligned(const AllocatorDispatch*, size_t, size_t, void*) {
  // Nothing in the program asks for aligned blocks; one that does is a bug.
  ImmediateCrash();
}

void* HeapReallocate(const AllocatorDispatch* self, void* address, size_t size,
                     void* context) {
  if (!address)
    return HeapAllocate(self, size, context);
  HANDLE heap = GetHeapOfLiveBlocks();
  if (size == 0) {
    if (heap)
      HeapFree(heap, 0, address);
    return nullptr;
  }
  if (size >= kMaxAllocationSize || !heap)
    return nullptr;
  return HeapReAlloc(heap, 0, address, size);
}

void HeapRelease(const AllocatorDispatch*, void* address, void*) {
  HANDLE heap = GetHeapOfLiveBlocks();
  if (address && heap)
    HeapFree(heap, 0, address);
}

size_t HeapGetSizeEstimate(const AllocatorDispatch*, void* address, void*) {
  HANDLE heap = GetHeapOfLiveBlocks();
  if (!address || !heap)
    return 0;
  // The block plus the heap's 8-byte header, in the heap's 8-byte granules.
  return (HeapSize(heap, 0, address) + 15) & ~static_cast<size_t>(7);
}

const AllocatorDispatch kPrivateHeapDispatch = {
    &HeapAllocate,       &HeapAllocateZeroed,  &HeapAllocateAligned, &HeapReallocate,
    &HeapRelease,        &HeapGetSizeEstimate, nullptr,
};

// Constant-initialised like the heap handle: allocations come before any constructor.
std::atomic<const AllocatorDispatch*> g_head{&kPrivateHeapDispatch};

}  // namespace

const AllocatorDispatch* GetHeadDispatch() { return g_head.load(std::memory_order_acquire); }

void InsertAllocatorDispatch(AllocatorDispatch* dispatch) {
  const AllocatorDispatch* head = g_head.load(std::memory_order_acquire);
  do {
    dispatch->next = head;
  } while (!g_head.compare_exchange_weak(head, dispatch, std::memory_order_acq_rel));
}

bool RemoveAllocatorDispatchForTesting(AllocatorDispatch* dispatch) {
  const AllocatorDispatch* expected = dispatch;
  return g_head.compare_exchange_strong(expected, dispatch->next, std::memory_order_acq_rel);
}

bool InitializeAllocatorHeap() { return GetOrCreateHeap() != nullptr; }

void DestroyAllocatorHeap() {
  g_heap_destroyed.store(true, std::memory_order_release);
  HANDLE heap = g_heap.exchange(nullptr, std::memory_order_acq_rel);
  if (heap)
    HeapDestroy(heap);
}

HANDLE GetAllocatorHeap() { return g_heap.load(std::memory_order_acquire); }

}  // namespace allocator
}  // namespace base
