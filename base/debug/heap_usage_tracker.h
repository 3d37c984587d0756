// Per-thread heap usage over a measured scope (for example one task run). Scopes nest:
// an inner measurement is added to the outer one unless it is stopped as exclusive.
// The counters are fed by allocator hooks in the dispatch chain; until
// EnableHeapTracking inserts them (the installer never does) every measurement reads
// zero.
#ifndef BASE_DEBUG_HEAP_USAGE_TRACKER_H_
#define BASE_DEBUG_HEAP_USAGE_TRACKER_H_

#include <cstddef>
#include <cstdint>

namespace base {
namespace allocator {
struct AllocatorDispatch;
}  // namespace allocator

namespace debug {

struct ThreadHeapUsage {
  uint64_t alloc_ops;
  uint64_t alloc_bytes;
  uint64_t alloc_overhead_bytes;
  uint64_t free_ops;
  uint64_t free_bytes;
  uint64_t max_allocated_bytes;
};

class HeapUsageTracker {
 public:
  HeapUsageTracker();
  // Ends a still running measurement as Stop(false) would.
  ~HeapUsageTracker();
  HeapUsageTracker(const HeapUsageTracker&) = delete;
  HeapUsageTracker& operator=(const HeapUsageTracker&) = delete;

  // Saves the thread's counters and zeroes them.
  void Start();
  // Keeps this scope's usage as the result; restores the outer counters when
  // |usage_is_exclusive|, else adds this scope's usage to them.
  void Stop(bool usage_is_exclusive);

  const ThreadHeapUsage& usage() const { return usage_; }

  // The calling thread's counters (zeros when it has no record).
  static ThreadHeapUsage GetUsageSnapshot();

  // Hook reports. |estimate| is the allocator's size estimate of the block.
  static void RecordAllocation(size_t requested_size, size_t estimate);
  static void RecordFree(size_t estimate);

  // Inserts the hooks at the head of the allocator dispatch chain, once per process.
  static void EnableHeapTracking();
  static bool IsHeapTrackingEnabled();
  // Takes the hooks off the chain again; false when another table was put above them.
  [[nodiscard]] static bool DisableHeapTrackingForTesting();
  // The hooks' own table; tests point its next at a fake allocator and call it.
  static allocator::AllocatorDispatch* GetDispatchForTesting();

 private:
  ThreadHeapUsage usage_;
  ThreadHeapUsage* thread_usage_ = nullptr;
};

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_HEAP_USAGE_TRACKER_H_
