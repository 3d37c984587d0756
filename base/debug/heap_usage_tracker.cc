#include "base/debug/heap_usage_tracker.h"

#include <atomic>

#include "base/allocator/allocator_dispatch.h"
#include "base/lazy_instance.h"
#include "base/threading/thread_local_storage.h"

namespace base {
namespace debug {

namespace {

// Slot values besides a record: while the record itself is allocated (so that
// allocation is not counted) and after the thread's record was freed.
ThreadHeapUsage* const kBeingCreated = reinterpret_cast<ThreadHeapUsage*>(1);
ThreadHeapUsage* const kDestroyed = reinterpret_cast<ThreadHeapUsage*>(2);

std::atomic<uintptr_t> g_usage_slot{0};

void DestroyUsage(void* value);

TlsSlot* UsageSlot() {
  return GetOrCreateLazyPointer<TlsSlot>(
      &g_usage_slot,
      [] {
        TlsSlot* slot = new TlsSlot;
        slot->Initialize(&DestroyUsage);
        return slot;
      },
      nullptr, nullptr);
}

void DestroyUsage(void* value) {
  ThreadHeapUsage* usage = static_cast<ThreadHeapUsage*>(value);
  if (usage == kBeingCreated || usage == kDestroyed) return;
  delete usage;
  UsageSlot()->Set(kDestroyed);
}

// The thread's record, created on demand; null while being created or after it ended.
ThreadHeapUsage* GetOrCreateThreadUsage() {
  TlsSlot* slot = UsageSlot();
  ThreadHeapUsage* usage = static_cast<ThreadHeapUsage*>(slot->Get());
  if (usage == kBeingCreated || usage == kDestroyed) return nullptr;
  if (usage) return usage;
  slot->Set(kBeingCreated);
  usage = new ThreadHeapUsage();
  slot->Set(usage);
  return usage;
}

// The thread's record for a hook, created on the first counted call. While the slot
// itself is being made (its own allocation may be the call being counted, on this very
// thread) nothing is counted rather than waiting for it.
ThreadHeapUsage* GetThreadUsageForHook() {
  if (g_usage_slot.load(std::memory_order_acquire) == kLazyInstanceStateCreating) return nullptr;
  return GetOrCreateThreadUsage();
}

void RecordAllocationTo(ThreadHeapUsage* usage, size_t requested_size, size_t estimate) {
  ++usage->alloc_ops;
  if (requested_size != 0 && estimate != 0) {
    usage->alloc_bytes += estimate;
    usage->alloc_overhead_bytes += estimate - requested_size;
    if (usage->alloc_bytes > usage->free_bytes &&
        usage->alloc_bytes - usage->free_bytes > usage->max_allocated_bytes) {
      usage->max_allocated_bytes = usage->alloc_bytes - usage->free_bytes;
    }
  } else {
    usage->alloc_bytes += requested_size;
  }
}

void RecordFreeTo(ThreadHeapUsage* usage, size_t estimate) {
  ++usage->free_ops;
  usage->free_bytes += estimate;
}

using allocator::AllocatorDispatch;

size_t SizeEstimate(const AllocatorDispatch* self, void* address, void* context) {
  if (!address) return 0;
  const AllocatorDispatch* next = self->next;
  return next->get_size_estimate_function(next, address, context);
}

// The estimate is asked for only when the thread is counting.
void RecordAllocationHook(const AllocatorDispatch* self, void* address, size_t size,
                          void* context) {
  ThreadHeapUsage* usage = GetThreadUsageForHook();
  if (usage) RecordAllocationTo(usage, size, SizeEstimate(self, address, context));
}

void RecordFreeHook(const AllocatorDispatch* self, void* address, void* context) {
  ThreadHeapUsage* usage = GetThreadUsageForHook();
  if (usage) RecordFreeTo(usage, SizeEstimate(self, address, context));
}

void* AllocHook(const AllocatorDispatch* self, size_t size, void* context) {
  const AllocatorDispatch* next = self->next;
  void* address = next->alloc_function(next, size, context);
  if (address) RecordAllocationHook(self, address, size, context);
  return address;
}

void* AllocZeroInitializedHook(const AllocatorDispatch* self, size_t count, size_t size,
                               void* context) {
  const AllocatorDispatch* next = self->next;
  void* address = next->alloc_zero_initialized_function(next, count, size, context);
  // A non-null result means count * size did not overflow.
  if (address) RecordAllocationHook(self, address, count * size, context);
  return address;
}

void* AllocAlignedHook(const AllocatorDispatch* self, size_t alignment, size_t size,
                       void* context) {
  const AllocatorDispatch* next = self->next;
  void* address = next->alloc_aligned_function(next, alignment, size, context);
  if (address) RecordAllocationHook(self, address, size, context);
  return address;
}

void* ReallocHook(const AllocatorDispatch* self, void* address, size_t size, void* context) {
  const AllocatorDispatch* next = self->next;
  ThreadHeapUsage* usage = GetThreadUsageForHook();
  // Estimated before the block may go away.
  const size_t old_estimate = usage && address ? SizeEstimate(self, address, context) : 0;
  void* result = next->realloc_function(next, address, size, context);
  // A refused reallocation leaves the old block in place: it is freed later, once.
  if (usage && address && (result || size == 0)) RecordFreeTo(usage, old_estimate);
  if (result && size != 0) RecordAllocationHook(self, result, size, context);
  return result;
}

void FreeHook(const AllocatorDispatch* self, void* address, void* context) {
  if (address) RecordFreeHook(self, address, context);
  const AllocatorDispatch* next = self->next;
  next->free_function(next, address, context);
}

size_t GetSizeEstimateHook(const AllocatorDispatch* self, void* address, void* context) {
  const AllocatorDispatch* next = self->next;
  return next->get_size_estimate_function(next, address, context);
}

AllocatorDispatch g_hooks = {&AllocHook,   &AllocZeroInitializedHook, &AllocAlignedHook,
                             &ReallocHook, &FreeHook,                 &GetSizeEstimateHook,
                             nullptr};

std::atomic<bool> g_heap_tracking_enabled{false};

}  // namespace

HeapUsageTracker::HeapUsageTracker() : usage_() {}

HeapUsageTracker::~HeapUsageTracker() {
  if (thread_usage_) Stop(false);
}

void HeapUsageTracker::Start() {
  thread_usage_ = GetOrCreateThreadUsage();
  if (!thread_usage_) return;
  usage_ = *thread_usage_;
  *thread_usage_ = ThreadHeapUsage();
}

void HeapUsageTracker::Stop(bool usage_is_exclusive) {
  if (!thread_usage_) {
    usage_ = ThreadHeapUsage();
    return;
  }
  ThreadHeapUsage current = *thread_usage_;
  if (usage_is_exclusive) {
    *thread_usage_ = usage_;
  } else {
    // The outer scope's peak includes what it had outstanding when this one started.
    if (current.max_allocated_bytes != 0) {
      // An outer scope may have freed more than it allocated: nothing outstanding then.
      uint64_t outer_outstanding =
          usage_.alloc_bytes > usage_.free_bytes ? usage_.alloc_bytes - usage_.free_bytes : 0;
      uint64_t peak = outer_outstanding + current.max_allocated_bytes;
      thread_usage_->max_allocated_bytes =
          usage_.max_allocated_bytes > peak ? usage_.max_allocated_bytes : peak;
    } else {
      thread_usage_->max_allocated_bytes = usage_.max_allocated_bytes;
    }
    thread_usage_->alloc_ops += usage_.alloc_ops;
    thread_usage_->alloc_bytes += usage_.alloc_bytes;
    thread_usage_->alloc_overhead_bytes += usage_.alloc_overhead_bytes;
    thread_usage_->free_ops += usage_.free_ops;
    thread_usage_->free_bytes += usage_.free_bytes;
  }
  usage_ = current;
  thread_usage_ = nullptr;
}

ThreadHeapUsage HeapUsageTracker::GetUsageSnapshot() {
  ThreadHeapUsage* usage = GetThreadUsageForHook();
  return usage ? *usage : ThreadHeapUsage();
}

void HeapUsageTracker::RecordAllocation(size_t requested_size, size_t estimate) {
  ThreadHeapUsage* usage = GetThreadUsageForHook();
  if (usage) RecordAllocationTo(usage, requested_size, estimate);
}

void HeapUsageTracker::RecordFree(size_t estimate) {
  ThreadHeapUsage* usage = GetThreadUsageForHook();
  if (usage) RecordFreeTo(usage, estimate);
}

void HeapUsageTracker::EnableHeapTracking() {
  if (!g_heap_tracking_enabled.exchange(true)) allocator::InsertAllocatorDispatch(&g_hooks);
}

bool HeapUsageTracker::IsHeapTrackingEnabled() { return g_heap_tracking_enabled.load(); }

bool HeapUsageTracker::DisableHeapTrackingForTesting() {
  if (!g_heap_tracking_enabled.load()) return true;
  if (!allocator::RemoveAllocatorDispatchForTesting(&g_hooks)) return false;
  g_heap_tracking_enabled.store(false);
  return true;
}

allocator::AllocatorDispatch* HeapUsageTracker::GetDispatchForTesting() { return &g_hooks; }

}  // namespace debug
}  // namespace base
