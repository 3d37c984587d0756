#include "base/trace_event/memory_peak_detector.h"

#include <algorithm>
#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/sys_info.h"
#include "base/time/time.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_event.h"

namespace base {
namespace trace_event {

namespace {

// 3.69 standard deviations, squared.
constexpr double kPeakVarianceFactor = 13.6161;

void AddPolledMemoryEvent(char phase, const char* name, unsigned flags, const char* arg_name,
                          uint64_t total_mb) {
  const char* const arg_names[] = {arg_name};
  const uint8_t arg_types[] = {TRACE_VALUE_TYPE_UINT};
  const uint64_t arg_values[] = {total_mb};
  AddMemoryInfraEvent(phase, name, 0, flags, 1, arg_names, arg_types, arg_values);
}

}  // namespace

MemoryPeakDetector* MemoryPeakDetector::GetInstance() {
  static MemoryPeakDetector* instance = new MemoryPeakDetector;
  return instance;
}

MemoryPeakDetector::MemoryPeakDetector() = default;
MemoryPeakDetector::~MemoryPeakDetector() = default;

void MemoryPeakDetector::Setup(const GetDumpProvidersFunction& get_dump_providers,
                               scoped_refptr<SequencedTaskRunner> task_runner,
                               const Closure& on_peak) {
  AutoLock lock(lock_);
  task_runner_ = task_runner;
  poll_runner_ = std::move(task_runner);
  get_dump_providers_ = get_dump_providers;
  on_peak_ = on_peak;
  state_ = DISABLED;
  config_ = {0, 0, false};
  ResetPollHistory(false);
  const int64_t physical_bytes = QueryPhysicalMemoryBytes();
  static_threshold_bytes_ =
      std::max(physical_bytes > 0 ? static_cast<uint64_t>(physical_bytes) / 100 : 0,
               kMinStaticThresholdBytes);
}

scoped_refptr<SequencedTaskRunner> MemoryPeakDetector::GetTaskRunner() {
  AutoLock lock(lock_);
  return task_runner_;
}

void MemoryPeakDetector::TearDown() {
  scoped_refptr<SequencedTaskRunner> task_runner;
  {
    AutoLock lock(lock_);
    task_runner = task_runner_;
    task_runner_ = nullptr;
  }
  // Posted outside the lock: posting may trace, and tracing may register providers.
  if (!task_runner) return;
  task_runner->PostTask(FROM_HERE, Bind(&MemoryPeakDetector::TearDownInternal, this));
}

void MemoryPeakDetector::Start(const Config& config) {
  if (config.polling_interval_ms == 0) return;
  scoped_refptr<SequencedTaskRunner> task_runner = GetTaskRunner();
  if (!task_runner) return;
  task_runner->PostTask(FROM_HERE, Bind(&MemoryPeakDetector::StartInternal, this, config));
}

void MemoryPeakDetector::Stop() {
  AutoLock lock(lock_);
  StopWhileLocked();
}

void MemoryPeakDetector::StopWhileLocked() {
  state_ = DISABLED;
  ++generation_;
  for (MemoryDumpProvider* provider : dump_providers_) provider->SuspendFastMemoryPolling();
  dump_providers_.clear();
}

void MemoryPeakDetector::NotifyMemoryDumpProvidersChanged() {
  scoped_refptr<SequencedTaskRunner> task_runner = GetTaskRunner();
  if (!task_runner) return;
  task_runner->PostTask(
      FROM_HERE, Bind(&MemoryPeakDetector::ReloadDumpProvidersAndStartPollingIfNeeded, this));
}

void MemoryPeakDetector::RemoveDumpProvider(MemoryDumpProvider* provider) {
  AutoLock lock(lock_);
  dump_providers_.erase(std::remove(dump_providers_.begin(), dump_providers_.end(), provider),
                        dump_providers_.end());
}

void MemoryPeakDetector::StartInternal(Config config) {
  {
    AutoLock lock(lock_);
    state_ = ENABLED;
  }
  config_ = config;
  ResetPollHistory(false);
  ReloadDumpProvidersAndStartPollingIfNeeded();
}

void MemoryPeakDetector::TearDownInternal() {
  {
    AutoLock lock(lock_);
    StopWhileLocked();
    state_ = NOT_INITIALIZED;
  }
  get_dump_providers_.Reset();
  on_peak_.Reset();
  poll_runner_ = nullptr;
}

void MemoryPeakDetector::ReloadDumpProvidersAndStartPollingIfNeeded() {
  uint32_t first_poll_generation = 0;
  bool start_polling = false;
  {
    AutoLock lock(lock_);
    if (state_ == NOT_INITIALIZED || state_ == DISABLED) return;
    // Listed under the lock: a provider removed meanwhile is either not listed yet or
    // removed from this list once the lock is free.
    dump_providers_.clear();
    if (get_dump_providers_) get_dump_providers_.Run(&dump_providers_);
    if (state_ == ENABLED && !dump_providers_.empty()) {
      ++generation_;
      state_ = RUNNING;
      start_polling = true;
      first_poll_generation = generation_;
    } else if (state_ == RUNNING && dump_providers_.empty()) {
      ++generation_;
      state_ = ENABLED;
    }
  }
  if (start_polling) {
    poll_runner_->PostTask(FROM_HERE, Bind(&MemoryPeakDetector::PollMemoryAndDetectPeak, this,
                                           first_poll_generation));
  }
}

void MemoryPeakDetector::PollMemoryAndDetectPeak(uint32_t expected_generation) {
  uint64_t total = 0;
  {
    AutoLock lock(lock_);
    if (state_ != RUNNING || generation_ != expected_generation) return;
    for (MemoryDumpProvider* provider : dump_providers_) {
      uint64_t provider_total = 0;
      provider->PollFastMemoryTotal(&provider_total);
      total += provider_total;
    }
  }
  ++poll_count_;

  const uint64_t total_mb = total / (1024 * 1024);
  if (config_.enable_verbose_poll_tracing && IsMemoryInfraTracingEnabled()) {
    AddPolledMemoryEvent('C', "PolledMemoryMB", TRACE_EVENT_FLAG_NONE, "value", total_mb);
  }

  bool is_peak = false;
  if (skip_polls_ > 0) {
    --skip_polls_;
  } else if (last_dump_memory_total_ == 0) {
    last_dump_memory_total_ = total;
  } else if (total != 0) {
    is_peak = static_cast<int64_t>(total - last_dump_memory_total_) >
              static_cast<int64_t>(static_threshold_bytes_);
    if (!is_peak) is_peak = DetectPeakUsingSlidingWindowStdDev(total);
  }

  poll_runner_->PostDelayedTask(
      FROM_HERE, Bind(&MemoryPeakDetector::PollMemoryAndDetectPeak, this, expected_generation),
      TimeDelta::FromMilliseconds(config_.polling_interval_ms));

  if (!is_peak) return;
  if (IsMemoryInfraTracingEnabled()) {
    AddPolledMemoryEvent('I', "Peak memory detected", TRACE_EVENT_FLAG_SCOPE_PROCESS,
                         "PolledMemoryMB", total_mb);
  }
  ResetPollHistory(true);
  last_dump_memory_total_ = total;
  if (on_peak_) on_peak_.Run();
}

bool MemoryPeakDetector::DetectPeakUsingSlidingWindowStdDev(uint64_t total) {
  samples_bytes_[samples_index_] = total;
  samples_index_ = (samples_index_ + 1) % kSlidingWindowNumSamples;
  float mean = 0;
  for (uint64_t sample : samples_bytes_) {
    // The window is not full yet.
    if (sample == 0) return false;
    mean += static_cast<float>(sample);
  }
  mean /= kSlidingWindowNumSamples;
  float variance = 0;
  for (uint64_t sample : samples_bytes_) {
    const float deviation = static_cast<float>(sample) - mean;
    variance += deviation * deviation;
  }
  variance /= kSlidingWindowNumSamples;

  // Below 0.2 % of the mean the process is idle and its noise is no peak.
  if (variance < (mean / 500) * (mean / 500)) return false;

  // Only a rise is a peak: a sharp drop is just as far from the mean.
  const float total_float = static_cast<float>(total);
  if (total_float <= mean) return false;
  const float deviation = total_float - mean;
  return deviation * deviation > kPeakVarianceFactor * static_cast<double>(variance);
}

void MemoryPeakDetector::ResetPollHistory(bool keep_last_sample) {
  last_dump_memory_total_ = 0;
  if (keep_last_sample) {
    const uint32_t previous =
        (samples_index_ + kSlidingWindowNumSamples - 1) % kSlidingWindowNumSamples;
    last_dump_memory_total_ = samples_bytes_[previous];
  }
  std::fill(std::begin(samples_bytes_), std::end(samples_bytes_), 0);
  samples_index_ = 0;
  skip_polls_ = 0;
  if (config_.polling_interval_ms > 0) {
    const uint64_t interval = config_.polling_interval_ms;
    skip_polls_ = static_cast<uint32_t>(
        (config_.min_time_between_peaks_ms + interval - 1) / interval);
  }
}

}  // namespace trace_event
}  // namespace base
