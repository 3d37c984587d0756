// Requests periodic memory dumps while memory tracing is on. Each tick picks the level
// of detail from the triggers' periods and hands it to the callback:
//
//   MemoryDumpScheduler::Config config;
//   config.triggers.push_back({MemoryDumpConfig::LIGHT, 250});
//   config.callback = Bind(&MemoryDumpManager::RequestPeriodicDump, manager);
//   MemoryDumpScheduler::GetInstance()->Start(config, dump_thread_runner);
#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_SCHEDULER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_SCHEDULER_H_

#include <cstdint>
#include <vector>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/lock.h"

namespace base {
namespace trace_event {

class MemoryDumpScheduler {
 public:
  struct Trigger {
    uint32_t level_of_detail;
    // A trigger of period 0 is ignored.
    uint32_t period_ms;
  };
  struct Config {
    Config();
    Config(const Config& other);
    ~Config();
    std::vector<Trigger> triggers;
    Callback<void(uint32_t level_of_detail)> callback;
  };

  // Created on first use and never destroyed.
  static MemoryDumpScheduler* GetInstance();

  // Tests make their own.
  MemoryDumpScheduler();
  ~MemoryDumpScheduler();
  MemoryDumpScheduler(const MemoryDumpScheduler&) = delete;
  MemoryDumpScheduler& operator=(const MemoryDumpScheduler&) = delete;

  // May be called from any thread; the work runs on |task_runner|, which must outlive
  // this scheduler's pending tasks.
  void Start(const Config& config, scoped_refptr<SequencedTaskRunner> task_runner);
  void Stop();

  uint32_t period_ms_for_testing() const { return period_ms_; }

 private:
  void StartInternal(const Config& config, scoped_refptr<SequencedTaskRunner> runner);
  void StopInternal();
  void Tick(uint32_t expected_generation);

  // Guards |task_runner_|, which Start and Stop may set from different threads.
  Lock lock_;
  scoped_refptr<SequencedTaskRunner> task_runner_;
  // Everything below is touched only on the runner.
  scoped_refptr<SequencedTaskRunner> tick_runner_;
  Callback<void(uint32_t)> callback_;
  uint32_t generation_ = 0;
  // 0: stopped.
  uint32_t period_ms_ = 0;
  uint32_t tick_count_ = 0;
  // Every how many ticks a light or a detailed dump is due; 0: never.
  uint32_t light_dump_rate_ = 0;
  uint32_t heavy_dump_rate_ = 0;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_SCHEDULER_H_
