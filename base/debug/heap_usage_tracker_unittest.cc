#include "base/debug/heap_usage_tracker.h"

#include <gtest/gtest.h>

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
}

}  // namespace
}  // namespace debug
}  // namespace base
