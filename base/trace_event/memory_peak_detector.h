// Polls the process's memory total through the dump providers that support fast
// polling and calls back when it jumps: by more than a fixed threshold since the last
// dump, or far above the mean of a window of recent samples.
//
//   MemoryPeakDetector* detector = MemoryPeakDetector::GetInstance();
//   detector->Setup(list_providers, dump_thread_runner, request_peak_dump);
//   detector->Start({10, 5000, false});
#ifndef BASE_TRACE_EVENT_MEMORY_PEAK_DETECTOR_H_
#define BASE_TRACE_EVENT_MEMORY_PEAK_DETECTOR_H_

#include <cstdint>
#include <vector>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/lock.h"

namespace base {
namespace trace_event {

class MemoryDumpProvider;

class MemoryPeakDetector {
 public:
  enum State : uint32_t {
    NOT_INITIALIZED = 0,
    DISABLED = 1,
    // Started, but no provider to poll yet.
    ENABLED = 2,
    RUNNING = 3,
  };

  struct Config {
    uint32_t polling_interval_ms;
    uint32_t min_time_between_peaks_ms;
    bool enable_verbose_poll_tracing;
  };

  using DumpProvidersList = std::vector<MemoryDumpProvider*>;
  using GetDumpProvidersFunction = Callback<void(DumpProvidersList*)>;

  static constexpr uint32_t kSlidingWindowNumSamples = 50;
  static constexpr uint64_t kMinStaticThresholdBytes = 5 * 1024 * 1024;

  // Created on first use and never destroyed.
  static MemoryPeakDetector* GetInstance();

  // Tests make their own.
  MemoryPeakDetector();
  ~MemoryPeakDetector();
  MemoryPeakDetector(const MemoryPeakDetector&) = delete;
  MemoryPeakDetector& operator=(const MemoryPeakDetector&) = delete;

  // Setup, Start, TearDown, NotifyMemoryDumpProvidersChanged and RemoveDumpProvider may
  // be called from any thread; all but the last only post to |task_runner|.
  void Setup(const GetDumpProvidersFunction& get_dump_providers,
             scoped_refptr<SequencedTaskRunner> task_runner, const Closure& on_peak);
  void TearDown();
  // An interval of 0 does nothing.
  void Start(const Config& config);
  // On the task runner.
  void Stop();
  void NotifyMemoryDumpProvidersChanged();
  // Drops |provider| from the polled list at once: when this returns, no poll or
  // suspension reaches it any more, so its owner may delete it. A provider must not
  // call this from its own PollFastMemoryTotal or SuspendFastMemoryPolling.
  void RemoveDumpProvider(MemoryDumpProvider* provider);

  // Stores |total| in the window; true when it lies more than 3.69 standard deviations
  // above the window's mean.
  bool DetectPeakUsingSlidingWindowStdDev(uint64_t total);

  State state_for_testing() {
    AutoLock lock(lock_);
    return state_;
  }
  uint32_t poll_count_for_testing() const { return poll_count_; }
  uint64_t static_threshold_for_testing() const { return static_threshold_bytes_; }
  void set_static_threshold_for_testing(uint64_t bytes) { static_threshold_bytes_ = bytes; }

 private:
  void StartInternal(Config config);
  void TearDownInternal();
  void ReloadDumpProvidersAndStartPollingIfNeeded();
  void PollMemoryAndDetectPeak(uint32_t expected_generation);
  void ResetPollHistory(bool keep_last_sample);
  void StopWhileLocked();
  // The posting runner, or null before Setup and after TearDown.
  scoped_refptr<SequencedTaskRunner> GetTaskRunner();

  // Guards the posting runner, the provider list and the polling state: a poll calls
  // the providers with it held, so removing one under it is final.
  Lock lock_;
  scoped_refptr<SequencedTaskRunner> task_runner_;
  DumpProvidersList dump_providers_;
  uint32_t generation_ = 0;
  State state_ = NOT_INITIALIZED;
  // Everything below is touched only on the runner after Setup.
  scoped_refptr<SequencedTaskRunner> poll_runner_;
  GetDumpProvidersFunction get_dump_providers_;
  Closure on_peak_;
  Config config_ = {0, 0, false};
  uint64_t static_threshold_bytes_ = 0;
  uint32_t skip_polls_ = 0;
  // 0: no dump yet.
  uint64_t last_dump_memory_total_ = 0;
  // 0: no sample yet.
  uint64_t samples_bytes_[kSlidingWindowNumSamples] = {};
  uint32_t samples_index_ = 0;
  uint32_t poll_count_ = 0;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_PEAK_DETECTOR_H_
