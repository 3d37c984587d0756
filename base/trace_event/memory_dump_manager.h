// The process-wide registry of memory-dump providers, and the coordinator of dump
// requests while "disabled-by-default-memory-infra" is traced. The trace log creates it
// by registering itself; in the installer no tracing run ever enables it, so every
// request fails at once:
//
//   MemoryDumpManager::GetInstance()->RequestMemoryDump(
//       MemoryDumpManager::EXPLICITLY_TRIGGERED, MemoryDumpConfig::DETAILED,
//       Bind(&OnDumpDone));   // OnDumpDone(0, false) while not tracing
#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/memory_peak_detector.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_log.h"

namespace base {

class CommandLine;
class Thread;

namespace trace_event {

class MemoryDumpScheduler;
class StackFrameDeduplicator;
class TypeNameDeduplicator;

extern const char kMemoryInfraCategory[];

// Whether kMemoryInfraCategory is on for recording, ETW export or filtering.
bool IsMemoryInfraTracingEnabled();

// Adds an event of kMemoryInfraCategory on the calling thread, now.
void AddMemoryInfraEvent(char phase, const char* name, uint64_t id, unsigned flags,
                         int num_args, const char* const* arg_names, const uint8_t* arg_types,
                         const uint64_t* arg_values);

// "periodic_interval", "explicitly_triggered", "peak_memory_usage"; "unknown" otherwise.
const char* MemoryDumpTypeToString(uint32_t dump_type);
// "background", "light", "detailed"; "unknown" otherwise.
const char* MemoryDumpLevelOfDetailToString(uint32_t level_of_detail);

// A registered provider; shared with work in flight, so it outlives unregistration.
struct MemoryDumpProviderInfo : public RefCountedThreadSafe<MemoryDumpProviderInfo> {
  // Descending by task runner, then by provider address.
  struct Comparator {
    bool operator()(const scoped_refptr<MemoryDumpProviderInfo>& a,
                    const scoped_refptr<MemoryDumpProviderInfo>& b) const;
  };
  using OrderedSet = std::set<scoped_refptr<MemoryDumpProviderInfo>, Comparator>;

  MemoryDumpProviderInfo(MemoryDumpProvider* dump_provider, const char* name,
                         scoped_refptr<SequencedTaskRunner> task_runner,
                         const MemoryDumpProvider::Options& options);

  MemoryDumpProvider* const dump_provider;
  const MemoryDumpProvider::Options options;
  // A static text.
  const char* const name;
  // Null: any thread.
  const scoped_refptr<SequencedTaskRunner> task_runner;
  uint32_t consecutive_failures = 0;
  bool disabled = false;

 private:
  friend class RefCountedThreadSafe<MemoryDumpProviderInfo>;
  ~MemoryDumpProviderInfo();
};

// What one tracing run knows about dumps.
class MemoryDumpSessionState : public RefCountedThreadSafe<MemoryDumpSessionState> {
 public:
  explicit MemoryDumpSessionState(const MemoryDumpConfig& config);

  bool IsDumpModeAllowed(uint32_t level_of_detail) const;

  // Present only while heap profiling is on.
  std::unique_ptr<StackFrameDeduplicator> stack_frame_deduplicator;
  std::unique_ptr<TypeNameDeduplicator> type_name_deduplicator;
  const MemoryDumpConfig config;

 private:
  friend class RefCountedThreadSafe<MemoryDumpSessionState>;
  ~MemoryDumpSessionState();
};

class MemoryDumpManager : public TraceLog::EnabledStateObserver {
 public:
  enum DumpType : uint32_t {
    PERIODIC_INTERVAL = 0,
    EXPLICITLY_TRIGGERED = 1,
    PEAK_MEMORY_USAGE = 2,
  };

  using RequestCallback = Callback<void(uint64_t dump_guid, bool success)>;

  // Performs global dumps. None is installed in the installer.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // Must run |done| once, on any thread.
    virtual void RequestGlobalMemoryDump(uint64_t dump_guid, uint32_t dump_type,
                                         uint32_t level_of_detail,
                                         const RequestCallback& done) = 0;
    // Whether this process schedules dumps.
    virtual bool IsCoordinator() const = 0;
  };

  // Created on first use, reading the process's command line; never destroyed.
  static MemoryDumpManager* GetInstance();

  // Tests make their own, with their own command line (may be null), scheduler and
  // peak detector.
  MemoryDumpManager(const CommandLine* command_line, MemoryDumpScheduler* scheduler,
                    MemoryPeakDetector* peak_detector);
  ~MemoryDumpManager() override;
  MemoryDumpManager(const MemoryDumpManager&) = delete;
  MemoryDumpManager& operator=(const MemoryDumpManager&) = delete;

  // |task_runner| null: the provider may be called on any thread. Registering the same
  // provider with the same runner again keeps one entry.
  void RegisterDumpProvider(MemoryDumpProvider* provider, const char* name,
                            scoped_refptr<SequencedTaskRunner> task_runner);
  void RegisterDumpProvider(MemoryDumpProvider* provider, const char* name,
                            scoped_refptr<SequencedTaskRunner> task_runner,
                            MemoryDumpProvider::Options options);
  void UnregisterDumpProvider(MemoryDumpProvider* provider);

  // |callback| (may be null) gets the dump's id and whether it succeeded; (0, false)
  // when memory-infra tracing is off or its configuration does not allow the level.
  void RequestMemoryDump(uint32_t dump_type, uint32_t level_of_detail,
                         const RequestCallback& callback);
  void RequestPeakDump(uint32_t level_of_detail);
  void RequestPeriodicDump(uint32_t level_of_detail);

  // Starts the "MemoryInfra" thread, the scheduler and the peak detector for the
  // current tracing run when it records kMemoryInfraCategory.
  void OnTraceLogEnabled();
  // TraceLog::EnabledStateObserver:
  void OnTraceLogDisabled() override;

  // Takes ownership; set before tracing starts.
  void SetDelegate(std::unique_ptr<Delegate> delegate);

  // The providers that answer fast polls, in set order.
  void GetDumpProvidersForPolling(MemoryPeakDetector::DumpProvidersList* providers);

  bool IsDumpProviderRegisteredForTesting(const char* name);
  // Registered providers in set order.
  std::vector<MemoryDumpProvider*> GetDumpProvidersForTesting();
  bool is_enabled_for_testing() const { return is_enabled_.load() != 0; }
  bool heap_profiling_enabled_for_testing() const { return heap_profiling_enabled_; }
  void set_ignore_registrations_for_testing(bool ignore) { ignore_registrations_ = ignore; }

 private:
  // Applies "enable-heap-profiling" of |command_line|.
  void ReadHeapProfilingSwitch(const CommandLine* command_line);
  void OnGlobalDumpDone(const RequestCallback& callback, uint64_t dump_guid, bool success);

  MemoryDumpScheduler* const scheduler_;
  MemoryPeakDetector* const peak_detector_;
  // Guards the fields up to |dump_thread_|.
  Lock lock_;
  MemoryDumpProviderInfo::OrderedSet dump_providers_;
  scoped_refptr<MemoryDumpSessionState> session_state_;
  std::unique_ptr<Delegate> delegate_;
  std::unique_ptr<Thread> dump_thread_;
  // Read without the lock.
  std::atomic<int> is_enabled_{0};
  bool ignore_registrations_ = false;
  bool heap_profiling_enabled_ = false;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
