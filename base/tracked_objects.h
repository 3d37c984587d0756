// Per-thread task statistics: for every posting site, how many tasks were posted
// (births) and how many ran and for how long (deaths). Records of named threads are
// reused by the next thread of the same (digit-sanitised) name once the first ends.
// The tallies live for the whole process.
#ifndef BASE_TRACKED_OBJECTS_H_
#define BASE_TRACKED_OBJECTS_H_

#include <stdint.h>

#include <map>
#include <string>
#include <unordered_map>

#include "base/location.h"
#include "base/debug/heap_usage_tracker.h"
#include "base/synchronization/lock.h"

namespace base {

struct PendingTask;
class TaskStopwatch;
class TrackedThreadData;

// Milliseconds of the tick clock, or 0 while timing is off.
typedef uint32_t TrackedTime;

// The posting site's tally on the posting thread. Never freed.
class Births {
 public:
  Births(const Location& location, TrackedThreadData* birth_thread);

  const Location& location() const { return location_; }
  TrackedThreadData* birth_thread() const { return birth_thread_; }
  int birth_count() const { return birth_count_; }
  void RecordBirth() { ++birth_count_; }

 private:
  Location location_;
  TrackedThreadData* birth_thread_;
  int birth_count_;
};

// What the runs of one posting site's tasks cost on one thread.
struct DeathData {
  int32_t count = 0;
  int32_t sample_probability_count = 0;
  int32_t run_duration_sum = 0;
  int32_t queue_duration_sum = 0;
  int32_t run_duration_max = 0;
  int32_t queue_duration_max = 0;
  int32_t alloc_ops = 0;
  int32_t free_ops = 0;
  int32_t allocated_bytes = 0;
  int32_t freed_bytes = 0;
  int32_t alloc_overhead_bytes = 0;
  int32_t max_allocated_bytes = 0;
  int32_t run_duration_sample = 0;
  int32_t queue_duration_sample = 0;
  DeathData* last_phase_snapshot = nullptr;
};

class TrackedThreadData {
 public:
  // Gives the calling thread its record (a retired one of the same sanitised name when
  // there is one). Called when a thread names itself.
  static void InitializeThreadContext(const std::string& name);

  // The calling thread's record; a thread that never named itself gets a shared
  // "WorkerThread-*" record. Null while the statistics were never started.
  static TrackedThreadData* Get();

  // True once the statistics are started (births are then tallied).
  static bool IsActive();

  // Tick-clock milliseconds, 0 while timing is off or the statistics are not active.
  static TrackedTime Now();

  // Tallies the run of a message-loop task, whose queue time counts from its delayed run
  // time (or its posting time).
  static void TallyRunOnNamedThread(const PendingTask& task, const TaskStopwatch& stopwatch,
                                    Births* births);

  // A run of digits ending the name becomes one "*": "Worker-12" -> "Worker-*".
  static std::string SanitizeThreadName(const std::string& name);

  Births* TallyABirth(const Location& location);
  void TallyADeath(const Births& births, int32_t queue_duration,
                   const TaskStopwatch& stopwatch);

  const std::string& thread_name() const { return thread_name_; }

  // Read-back for tests; the system itself never reads the tallies.
  const DeathData* FindDeathDataForTesting(const Births* births);

  TrackedThreadData(const TrackedThreadData&) = delete;
  TrackedThreadData& operator=(const TrackedThreadData&) = delete;

 private:
  friend class TaskStopwatch;

  struct LocationHash {
    size_t operator()(const Location& location) const;
  };
  struct LocationEqual {
    bool operator()(const Location& a, const Location& b) const;
  };

  explicit TrackedThreadData(const std::string& sanitized_name);
  ~TrackedThreadData() = delete;  // records are never freed

  static void EnsureInitialized();
  static TrackedThreadData* GetRetiredOrCreate(const std::string& sanitized_name);
  static void OnThreadTermination(void* thread_data);
  static bool TimingEnabled();

  TrackedThreadData* next_ = nullptr;
  TrackedThreadData* next_retired_ = nullptr;
  const std::string thread_name_;
  std::unordered_map<Location, Births*, LocationHash, LocationEqual> birth_map_;
  std::map<const Births*, DeathData> death_map_;
  // Guards inserts into both maps; only this record's thread writes them.
  Lock map_lock_;
  uint32_t random_number_ = 0;
  int32_t incarnation_ = -1;
  TaskStopwatch* current_stopwatch_ = nullptr;
};

// Times one task run; nested stopwatches' time is excluded from the outer one's.
class TaskStopwatch {
 public:
  TaskStopwatch();
  ~TaskStopwatch();

  void Start();
  void Stop();

  TrackedTime StartTime() const { return start_time_; }
  int32_t RunDurationMs() const { return wallclock_duration_ms_ - excluded_duration_ms_; }
  int32_t WallClockDurationMs() const { return wallclock_duration_ms_; }
  TrackedThreadData* GetThreadData() const { return current_thread_data_; }
  bool heap_tracking_enabled() const { return heap_tracking_enabled_; }
  const debug::ThreadHeapUsage& heap_usage() const { return heap_usage_.usage(); }

  TaskStopwatch(const TaskStopwatch&) = delete;
  TaskStopwatch& operator=(const TaskStopwatch&) = delete;

 private:
  TrackedTime start_time_ = 0;
  debug::HeapUsageTracker heap_usage_;
  bool heap_tracking_enabled_;
  int32_t wallclock_duration_ms_ = 0;
  TrackedThreadData* current_thread_data_ = nullptr;
  int32_t excluded_duration_ms_ = 0;
  TaskStopwatch* parent_ = nullptr;
};

}  // namespace base

#endif  // BASE_TRACKED_OBJECTS_H_
