#include "base/debug/heap_usage_tracker.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/allocator/allocator_dispatch.h"

namespace base {
namespace debug {
namespace {

TEST(HeapUsageTrackerTest, CountsAllocationsAndFreesInsideTheMeasurementOnly) {
  HeapUsageTracker::RecordAllocation(100, 112);
  HeapUsageTracker tracker;
  tracker.Start();
  HeapUsageTracker::RecordAllocation(100, 112);
  HeapUsageTracker::RecordAllocation(50, 0);  // no estimate: the requested size counts
  HeapUsageTracker::RecordFree(112);
  tracker.Stop(false);
  HeapUsageTracker::RecordAllocation(100, 112);
  const ThreadHeapUsage& usage = tracker.usage();
  EXPECT_EQ(2u, usage.alloc_ops);
  EXPECT_EQ(162u, usage.alloc_bytes);
  EXPECT_EQ(12u, usage.alloc_overhead_bytes);
  EXPECT_EQ(1u, usage.free_ops);
  EXPECT_EQ(112u, usage.free_bytes);
  EXPECT_EQ(112u, usage.max_allocated_bytes);
}

TEST(HeapUsageTrackerTest, NestedScopes) {
  HeapUsageTracker outer;
  outer.Start();
  HeapUsageTracker::RecordAllocation(10, 16);
  {
    HeapUsageTracker inner;
    inner.Start();
    HeapUsageTracker::RecordAllocation(30, 32);
    inner.Stop(false);
    EXPECT_EQ(1u, inner.usage().alloc_ops);
  }
  {
    HeapUsageTracker exclusive;
    exclusive.Start();
    HeapUsageTracker::RecordAllocation(1000, 1024);
    exclusive.Stop(true);
    EXPECT_EQ(1024u, exclusive.usage().alloc_bytes);
  }
  {
    // A nested scope without allocations must not erase the outer peak.
    HeapUsageTracker idle;
    idle.Start();
  }
  outer.Stop(false);
  EXPECT_EQ(2u, outer.usage().alloc_ops);  // the exclusive scope's usage is not charged
  EXPECT_EQ(48u, outer.usage().alloc_bytes);
  EXPECT_EQ(48u, outer.usage().max_allocated_bytes);

  // An outer scope that freed more than it allocated has nothing outstanding: the peak
  // is the inner scope's own.
  HeapUsageTracker freeing;
  freeing.Start();
  HeapUsageTracker::RecordFree(100);
  {
    HeapUsageTracker inner;
    inner.Start();
    HeapUsageTracker::RecordAllocation(10, 16);
  }
  freeing.Stop(false);
  EXPECT_EQ(16u, freeing.usage().max_allocated_bytes);
}

// The allocator below the hooks: hands out slots of one array, every block estimated
// at 64 bytes.
using allocator::AllocatorDispatch;

char g_fake_blocks[8][64];
int g_fake_used = 0;
int g_fake_frees = 0;

void* FakeAlloc(const AllocatorDispatch*, size_t size, void*) {
  return size && g_fake_used < 8 ? g_fake_blocks[g_fake_used++] : nullptr;
}
void* FakeAllocZeroed(const AllocatorDispatch* self, size_t count, size_t size, void* context) {
  return FakeAlloc(self, count * size, context);
}
void* FakeAllocAligned(const AllocatorDispatch* self, size_t, size_t size, void* context) {
  return FakeAlloc(self, size, context);
}
void FakeFree(const AllocatorDispatch*, void* address, void*) {
  if (address) ++g_fake_frees;
}
// Sizes above this are refused, the old block staying valid.
constexpr size_t kFakeReallocLimit = 1000;

void* FakeRealloc(const AllocatorDispatch* self, void* address, size_t size, void* context) {
  if (size > kFakeReallocLimit) return nullptr;
  if (size == 0) {
    FakeFree(self, address, context);
    return nullptr;
  }
  return FakeAlloc(self, size, context);
}
size_t FakeEstimate(const AllocatorDispatch*, void* address, void*) { return address ? 64 : 0; }

const AllocatorDispatch kFakeNext = {&FakeAlloc,   &FakeAllocZeroed, &FakeAllocAligned,
                                     &FakeRealloc, &FakeFree,        &FakeEstimate,
                                     nullptr};

TEST(HeapUsageTrackerTest, HooksCountThroughTheNextDispatchEntry) {
  AllocatorDispatch* hooks = HeapUsageTracker::GetDispatchForTesting();
  const AllocatorDispatch* saved_next = hooks->next;
  hooks->next = &kFakeNext;
  g_fake_used = g_fake_frees = 0;

  HeapUsageTracker tracker;
  tracker.Start();
  void* first = hooks->alloc_function(hooks, 40, nullptr);
  void* zeroed = hooks->alloc_zero_initialized_function(hooks, 4, 10, nullptr);
  EXPECT_EQ(nullptr, hooks->alloc_function(hooks, 0, nullptr));  // null: not counted
  EXPECT_EQ(nullptr, hooks->realloc_function(hooks, first, 0, nullptr));  // only the free
  EXPECT_EQ(nullptr, hooks->realloc_function(hooks, zeroed, kFakeReallocLimit + 1, nullptr));
  void* grown = hooks->realloc_function(hooks, zeroed, 50, nullptr);
  hooks->free_function(hooks, grown, nullptr);
  hooks->free_function(hooks, nullptr, nullptr);
  tracker.Stop(false);
  hooks->next = saved_next;

  const ThreadHeapUsage& usage = tracker.usage();
  EXPECT_EQ(3u, usage.alloc_ops);
  EXPECT_EQ(3u * 64, usage.alloc_bytes);
  EXPECT_EQ(24u + 24u + 14u, usage.alloc_overhead_bytes);
  EXPECT_EQ(3u, usage.free_ops);
  EXPECT_EQ(3u * 64, usage.free_bytes);
  EXPECT_EQ(128u, usage.max_allocated_bytes);
  EXPECT_EQ(2, g_fake_frees) << "the frees reached the next entry";

  // A thread that never measured gets its record from its first counted allocation.
  hooks->next = &kFakeNext;
  g_fake_used = 0;
  ThreadHeapUsage seen;
  std::thread([&] {
    hooks->alloc_function(hooks, 40, nullptr);
    seen = HeapUsageTracker::GetUsageSnapshot();
  }).join();
  hooks->next = saved_next;
  EXPECT_EQ(1u, seen.alloc_ops);
  EXPECT_EQ(64u, seen.alloc_bytes);
}

}  // namespace
}  // namespace debug
}  // namespace base
