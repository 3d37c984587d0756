#include "base/trace_event/memory_dump_scheduler.h"

#include <algorithm>
#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/time/time.h"
#include "base/trace_event/trace_config.h"

namespace base {
namespace trace_event {

MemoryDumpScheduler::Config::Config() = default;
MemoryDumpScheduler::Config::Config(const Config& other) = default;
MemoryDumpScheduler::Config::~Config() = default;

MemoryDumpScheduler* MemoryDumpScheduler::GetInstance() {
  static MemoryDumpScheduler* instance = new MemoryDumpScheduler;
  return instance;
}

MemoryDumpScheduler::MemoryDumpScheduler() = default;
MemoryDumpScheduler::~MemoryDumpScheduler() = default;

void MemoryDumpScheduler::Start(const Config& config,
                                scoped_refptr<SequencedTaskRunner> task_runner) {
  {
    AutoLock lock(lock_);
    task_runner_ = task_runner;
  }
  // Posted outside the lock: posting may trace, and tracing may come back here.
  task_runner->PostTask(FROM_HERE,
                        Bind(&MemoryDumpScheduler::StartInternal, this, config, task_runner));
}

void MemoryDumpScheduler::Stop() {
  scoped_refptr<SequencedTaskRunner> task_runner;
  {
    AutoLock lock(lock_);
    task_runner = task_runner_;
    task_runner_ = nullptr;
  }
  if (!task_runner) return;
  task_runner->PostTask(FROM_HERE, Bind(&MemoryDumpScheduler::StopInternal, this));
}

void MemoryDumpScheduler::StartInternal(const Config& config,
                                        scoped_refptr<SequencedTaskRunner> runner) {
  uint32_t light_period_ms = 0;
  uint32_t heavy_period_ms = 0;
  uint32_t min_period_ms = 0xFFFFFFFF;
  bool any_trigger = false;
  for (const Trigger& trigger : config.triggers) {
    // A period of 0 would tick without pause and divide the rates by zero.
    if (trigger.period_ms == 0) continue;
    any_trigger = true;
    if (trigger.level_of_detail == MemoryDumpConfig::LIGHT) light_period_ms = trigger.period_ms;
    if (trigger.level_of_detail == MemoryDumpConfig::DETAILED)
      heavy_period_ms = trigger.period_ms;
    min_period_ms = std::min(min_period_ms, trigger.period_ms);
  }

  // A restart ends the ticks of the earlier run.
  ++generation_;
  tick_count_ = 0;
  if (!any_trigger) {
    // Nothing to tick for.
    period_ms_ = 0;
    callback_.Reset();
    tick_runner_ = nullptr;
    return;
  }
  callback_ = config.callback;
  tick_runner_ = std::move(runner);
  period_ms_ = min_period_ms;
  light_dump_rate_ = light_period_ms / min_period_ms;
  heavy_dump_rate_ = heavy_period_ms / min_period_ms;
  // The scheduler is never destroyed outside tests, and tests drain their runners first.
  tick_runner_->PostDelayedTask(FROM_HERE, Bind(&MemoryDumpScheduler::Tick, this, generation_),
                                TimeDelta::FromMilliseconds(period_ms_));
}

void MemoryDumpScheduler::StopInternal() {
  ++generation_;
  period_ms_ = 0;
  callback_.Reset();
  tick_runner_ = nullptr;
}

void MemoryDumpScheduler::Tick(uint32_t expected_generation) {
  if (period_ms_ == 0 || generation_ != expected_generation) return;
  tick_runner_->PostDelayedTask(FROM_HERE,
                                Bind(&MemoryDumpScheduler::Tick, this, expected_generation),
                                TimeDelta::FromMilliseconds(period_ms_));
  uint32_t level = MemoryDumpConfig::BACKGROUND;
  if (light_dump_rate_ > 0 && tick_count_ % light_dump_rate_ == 0)
    level = MemoryDumpConfig::LIGHT;
  if (heavy_dump_rate_ > 0 && tick_count_ % heavy_dump_rate_ == 0)
    level = MemoryDumpConfig::DETAILED;
  ++tick_count_;
  callback_.Run(level);
}

}  // namespace trace_event
}  // namespace base
