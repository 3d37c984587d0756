#include "base/trace_event/memory_dump_manager.h"

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/debug/heap_usage_tracker.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/threading/thread.h"
#include "base/time/time.h"
#include "base/trace_event/heap_context_tracker.h"
#include "base/trace_event/heap_profiler_stack_frame_deduplicator.h"
#include "base/trace_event/heap_profiler_type_name_deduplicator.h"
#include "base/trace_event/memory_dump_scheduler.h"
#include "base/trace_event/trace_event.h"

namespace base {
namespace trace_event {

const char kMemoryInfraCategory[] = "disabled-by-default-memory-infra";

namespace {

// The name this file's log lines and posted tasks go by.
const char kThisFile[] = "base/trace_event/memory_dump_manager";

const char kEnableHeapProfilingSwitch[] = "enable-heap-profiling";
const char kNativeStackValue[] = "native";
const char kTaskProfilerValue[] = "task-profiler";
// The peak detector's polling interval.
constexpr uint32_t kPeakPollingIntervalMs = 10;

// Dump ids; advanced once when the manager is created.
std::atomic<uint64_t> g_next_dump_guid{0};

std::atomic<MemoryDumpManager*> g_instance{nullptr};
std::atomic<int> g_instance_claimed{0};

const uint8_t* MemoryInfraCategoryState() {
  static const uint8_t* state = TraceLog::GetCategoryGroupEnabled(kMemoryInfraCategory);
  return state;
}

// Forwards to a deduplicator of the session, which outlives this metadata event.
class SessionStateConvertableProxy : public ConvertableToTraceFormat {
 public:
  SessionStateConvertableProxy(scoped_refptr<MemoryDumpSessionState> session_state,
                               const ConvertableToTraceFormat* target)
      : session_state_(std::move(session_state)), target_(target) {}

  void AppendAsTraceFormat(std::string* out) const override {
    target_->AppendAsTraceFormat(out);
  }

 private:
  const scoped_refptr<MemoryDumpSessionState> session_state_;
  const ConvertableToTraceFormat* const target_;
};

void AddSessionMetadataEvent(const char* name, scoped_refptr<MemoryDumpSessionState> session,
                             const ConvertableToTraceFormat* deduplicator) {
  static const uint8_t* metadata_state = TraceLog::GetCategoryGroupEnabled("__metadata");
  const char* const arg_names[] = {name};
  const uint8_t arg_types[] = {TRACE_VALUE_TYPE_CONVERTABLE};
  const uint64_t arg_values[] = {0};
  std::unique_ptr<ConvertableToTraceFormat> convertables[] = {
      std::make_unique<SessionStateConvertableProxy>(std::move(session), deduplicator)};
  TraceLog::GetInstance()->AddMetadataEvent(metadata_state, name, 1, arg_names, arg_types,
                                            arg_values, convertables, TRACE_EVENT_FLAG_NONE);
}

}  // namespace

bool IsMemoryInfraTracingEnabled() {
  return (*MemoryInfraCategoryState() & TraceLog::kEnabledMask) != 0;
}

void AddMemoryInfraEvent(char phase, const char* name, uint64_t id, unsigned flags,
                         int num_args, const char* const* arg_names, const uint8_t* arg_types,
                         const uint64_t* arg_values) {
  TraceLog::GetInstance()->AddEvent(phase, MemoryInfraCategoryState(), name, nullptr, id, 0,
                                    static_cast<int>(GetCurrentThreadId()), TimeTicks::Now(),
                                    num_args, arg_names, arg_types, arg_values, nullptr, flags);
}

const char* MemoryDumpTypeToString(uint32_t dump_type) {
  switch (dump_type) {
    case MemoryDumpManager::PERIODIC_INTERVAL:
      return "periodic_interval";
    case MemoryDumpManager::EXPLICITLY_TRIGGERED:
      return "explicitly_triggered";
    case MemoryDumpManager::PEAK_MEMORY_USAGE:
      return "peak_memory_usage";
  }
  return "unknown";
}

const char* MemoryDumpLevelOfDetailToString(uint32_t level_of_detail) {
  switch (level_of_detail) {
    case MemoryDumpConfig::BACKGROUND:
      return "background";
    case MemoryDumpConfig::LIGHT:
      return "light";
    case MemoryDumpConfig::DETAILED:
      return "detailed";
  }
  return "unknown";
}

// ------------------------------------------------------------------ provider info

bool MemoryDumpProviderInfo::Comparator::operator()(
    const scoped_refptr<MemoryDumpProviderInfo>& a,
    const scoped_refptr<MemoryDumpProviderInfo>& b) const {
  if (a->task_runner != b->task_runner)
    return std::greater<const SequencedTaskRunner*>()(a->task_runner.get(),
                                                      b->task_runner.get());
  return std::greater<const MemoryDumpProvider*>()(a->dump_provider, b->dump_provider);
}

MemoryDumpProviderInfo::MemoryDumpProviderInfo(MemoryDumpProvider* provider,
                                               const char* provider_name,
                                               scoped_refptr<SequencedTaskRunner> runner,
                                               const MemoryDumpProvider::Options& provider_options)
    : dump_provider(provider),
      options(provider_options),
      name(provider_name),
      task_runner(std::move(runner)) {}

MemoryDumpProviderInfo::~MemoryDumpProviderInfo() = default;

// ------------------------------------------------------------------ session state

MemoryDumpSessionState::MemoryDumpSessionState(const MemoryDumpConfig& memory_dump_config)
    : config(memory_dump_config) {}

MemoryDumpSessionState::~MemoryDumpSessionState() = default;

bool MemoryDumpSessionState::IsDumpModeAllowed(uint32_t level_of_detail) const {
  return config.allowed_dump_modes.count(level_of_detail) != 0;
}

// ------------------------------------------------------------------ manager

MemoryDumpManager* MemoryDumpManager::GetInstance() {
  MemoryDumpManager* instance = g_instance.load(std::memory_order_acquire);
  if (instance) return instance;
  int expected = 0;
  if (g_instance_claimed.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
    instance = new MemoryDumpManager(CommandLine::ForCurrentProcess(),
                                     MemoryDumpScheduler::GetInstance(),
                                     MemoryPeakDetector::GetInstance());
    g_instance.store(instance, std::memory_order_release);
    return instance;
  }
  while (!(instance = g_instance.load(std::memory_order_acquire))) Sleep(0);
  return instance;
}

MemoryDumpManager::MemoryDumpManager(const CommandLine* command_line,
                                     MemoryDumpScheduler* scheduler,
                                     MemoryPeakDetector* peak_detector)
    : scheduler_(scheduler), peak_detector_(peak_detector) {
  g_next_dump_guid.fetch_add(1);
  ReadHeapProfilingSwitch(command_line);
}

MemoryDumpManager::~MemoryDumpManager() { OnTraceLogDisabled(); }

void MemoryDumpManager::ReadHeapProfilingSwitch(const CommandLine* command_line) {
  if (heap_profiling_enabled_ || !command_line ||
      !command_line->HasSwitch(kEnableHeapProfilingSwitch)) {
    return;
  }
  const std::string mode = command_line->GetSwitchValueASCII(kEnableHeapProfilingSwitch);
  if (mode.empty()) {
    HeapContextTracker::SetCaptureMode(HeapContextTracker::CaptureMode::PSEUDO_STACK);
  } else if (mode == kNativeStackValue) {
    HeapContextTracker::SetCaptureMode(HeapContextTracker::CaptureMode::NATIVE_STACK);
  } else if (mode == kTaskProfilerValue) {
    if (!debug::HeapUsageTracker::IsHeapTrackingEnabled())
      debug::HeapUsageTracker::EnableHeapTracking();
  }
  std::vector<MemoryDumpProvider*> providers;
  {
    AutoLock lock(lock_);
    for (const scoped_refptr<MemoryDumpProviderInfo>& info : dump_providers_)
      providers.push_back(info->dump_provider);
    heap_profiling_enabled_ = true;
  }
  for (MemoryDumpProvider* provider : providers) provider->OnHeapProfilingEnabled(true);
}

void MemoryDumpManager::RegisterDumpProvider(MemoryDumpProvider* provider, const char* name,
                                             scoped_refptr<SequencedTaskRunner> task_runner) {
  MemoryDumpProvider::Options options;
  options.dumps_on_single_thread_task_runner = task_runner != nullptr;
  RegisterDumpProvider(provider, name, std::move(task_runner), options);
}

void MemoryDumpManager::RegisterDumpProvider(MemoryDumpProvider* provider, const char* name,
                                             scoped_refptr<SequencedTaskRunner> task_runner,
                                             MemoryDumpProvider::Options options) {
  if (ignore_registrations_) return;
  scoped_refptr<MemoryDumpProviderInfo> info =
      MakeRefCounted<MemoryDumpProviderInfo>(provider, name, std::move(task_runner), options);
  bool heap_profiling_enabled;
  {
    AutoLock lock(lock_);
    if (!dump_providers_.insert(info).second) return;
    heap_profiling_enabled = heap_profiling_enabled_;
  }
  if (options.is_fast_polling_supported) peak_detector_->NotifyMemoryDumpProvidersChanged();
  // Outside the lock: the provider may call back into the manager.
  if (heap_profiling_enabled) provider->OnHeapProfilingEnabled(true);
}

void MemoryDumpManager::UnregisterDumpProvider(MemoryDumpProvider* provider) {
  bool notify_peak_detector = false;
  {
    AutoLock lock(lock_);
    for (auto it = dump_providers_.begin(); it != dump_providers_.end(); ++it) {
      if ((*it)->dump_provider != provider) continue;
      notify_peak_detector = (*it)->options.is_fast_polling_supported;
      (*it)->disabled = true;
      dump_providers_.erase(it);
      break;
    }
  }
  if (!notify_peak_detector) return;
  // Synchronously: the caller may delete the provider as soon as this returns, while a
  // poll posted before the reload below would still find it listed.
  peak_detector_->RemoveDumpProvider(provider);
  peak_detector_->NotifyMemoryDumpProvidersChanged();
}

void MemoryDumpManager::RequestMemoryDump(uint32_t dump_type, uint32_t level_of_detail,
                                          const RequestCallback& callback) {
  Delegate* delegate = nullptr;
  bool allowed = false;
  if (is_enabled_.load()) {
    AutoLock lock(lock_);
    allowed = session_state_ && session_state_->IsDumpModeAllowed(level_of_detail);
    delegate = delegate_.get();
  }
  if (!allowed) {
    if (GetVerboseLevelForFile(kThisFile, sizeof(kThisFile)) >= 1) {
      LogMessage(kThisFile, 448, -1).stream()
          << "Memory-infra dump" << " failed because " << kMemoryInfraCategory
          << " tracing category is not enabled or the requested dump mode is not allowed "
             "by trace config.";
    }
    if (callback) callback.Run(0, false);
    return;
  }

  const uint64_t guid =
      (g_next_dump_guid.fetch_add(1) + 1) ^ TraceLog::GetInstance()->process_id_hash();
  if (IsMemoryInfraTracingEnabled()) {
    const char* const arg_names[] = {"dump_type", "level_of_detail"};
    const uint8_t arg_types[] = {TRACE_VALUE_TYPE_COPY_STRING, TRACE_VALUE_TYPE_COPY_STRING};
    const uint64_t arg_values[] = {
        reinterpret_cast<uint64_t>(MemoryDumpTypeToString(dump_type)),
        reinterpret_cast<uint64_t>(MemoryDumpLevelOfDetailToString(level_of_detail))};
    AddMemoryInfraEvent('b', "GlobalMemoryDump", guid, TRACE_EVENT_FLAG_HAS_LOCAL_ID, 2,
                        arg_names, arg_types, arg_values);
  }

  const RequestCallback done = Bind(&MemoryDumpManager::OnGlobalDumpDone, this, callback);
  // Without a performer the dump cannot be taken; its requester still hears so.
  if (!delegate) {
    done.Run(guid, false);
    return;
  }
  delegate->RequestGlobalMemoryDump(guid, dump_type, level_of_detail, done);
}

void MemoryDumpManager::RequestPeakDump(uint32_t level_of_detail) {
  RequestMemoryDump(PEAK_MEMORY_USAGE, level_of_detail, RequestCallback());
}

void MemoryDumpManager::RequestPeriodicDump(uint32_t level_of_detail) {
  RequestMemoryDump(PERIODIC_INTERVAL, level_of_detail, RequestCallback());
}

void MemoryDumpManager::OnGlobalDumpDone(const RequestCallback& callback, uint64_t dump_guid,
                                         bool success) {
  if (IsMemoryInfraTracingEnabled()) {
    const std::string guid_text =
        StringPrintf("0x%llx", static_cast<unsigned long long>(dump_guid));
    const char* const arg_names[] = {"dump_guid", "success"};
    const uint8_t arg_types[] = {TRACE_VALUE_TYPE_COPY_STRING, TRACE_VALUE_TYPE_BOOL};
    const uint64_t arg_values[] = {reinterpret_cast<uint64_t>(guid_text.c_str()),
                                   static_cast<uint64_t>(success)};
    AddMemoryInfraEvent('e', "GlobalMemoryDump", dump_guid, TRACE_EVENT_FLAG_HAS_LOCAL_ID, 2,
                        arg_names, arg_types, arg_values);
  }
  if (callback) callback.Run(dump_guid, success);
}

void MemoryDumpManager::OnTraceLogEnabled() {
  const uint8_t state = *MemoryInfraCategoryState();
  if (!(state & (TraceLog::ENABLED_FOR_RECORDING | TraceLog::ENABLED_FOR_ETW_EXPORT))) return;
  // A second run's start without an end in between keeps the first run's thread.
  if (is_enabled_.load()) return;

  std::unique_ptr<Thread> dump_thread = std::make_unique<Thread>("MemoryInfra");
  if (!dump_thread->Start()) {
    if (ShouldLog(LOG_ERROR)) {
      LogMessage(kThisFile, 830, LOG_ERROR).stream()
          << "Failed to start the memory-infra thread for tracing";
    }
    return;
  }
  scoped_refptr<SequencedTaskRunner> dump_runner = dump_thread->GetTaskRunner();

  const TraceConfig trace_config = TraceLog::GetInstance()->GetCurrentTraceConfig();
  scoped_refptr<MemoryDumpSessionState> session =
      MakeRefCounted<MemoryDumpSessionState>(trace_config.memory_dump_config);
  if (heap_profiling_enabled_) {
    session->stack_frame_deduplicator = std::make_unique<StackFrameDeduplicator>();
    session->type_name_deduplicator = std::make_unique<TypeNameDeduplicator>();
    AddSessionMetadataEvent("stackFrames", session, session->stack_frame_deduplicator.get());
    AddSessionMetadataEvent("typeNames", session, session->type_name_deduplicator.get());
  }

  bool is_coordinator;
  {
    AutoLock lock(lock_);
    session_state_ = session;
    dump_thread_ = std::move(dump_thread);
    is_enabled_.store(1);
    is_coordinator = delegate_ && delegate_->IsCoordinator();
  }

  // Outside the lock: posting may emit trace events, whose thread buffer registers
  // itself as a provider.
  MemoryDumpScheduler::Config periodic_config;
  bool peak_detector_configured = false;
  for (const MemoryDumpConfig::Trigger& trigger : session->config.triggers) {
    if (!session->IsDumpModeAllowed(trigger.level_of_detail)) continue;
    if (trigger.trigger_type == MemoryDumpConfig::PEAK_MEMORY_USAGE) {
      // Only one peak trigger is meaningful; later ones are ignored.
      if (peak_detector_configured) continue;
      peak_detector_configured = true;
      peak_detector_->Setup(Bind(&MemoryDumpManager::GetDumpProvidersForPolling, this),
                            dump_runner,
                            Bind(&MemoryDumpManager::RequestPeakDump, this,
                                 trigger.level_of_detail));
      peak_detector_->Start({kPeakPollingIntervalMs, trigger.min_time_between_dumps_ms,
                             trigger.level_of_detail == MemoryDumpConfig::DETAILED});
      if (is_coordinator) {
        dump_runner->PostTask(Location("OnTraceLogEnabled", kThisFile, 910, GetCallerAddress()),
                              Bind(&MemoryDumpManager::RequestPeakDump, this,
                                   trigger.level_of_detail));
      }
    } else if (trigger.trigger_type == MemoryDumpConfig::PERIODIC_INTERVAL) {
      periodic_config.triggers.push_back(
          {trigger.level_of_detail, trigger.min_time_between_dumps_ms});
    }
  }
  if (is_coordinator && !periodic_config.triggers.empty()) {
    periodic_config.callback = Bind(&MemoryDumpManager::RequestPeriodicDump, this);
    scheduler_->Start(periodic_config, dump_runner);
  }
}

void MemoryDumpManager::OnTraceLogDisabled() {
  if (!is_enabled_.load()) return;
  is_enabled_.store(0);
  std::unique_ptr<Thread> dump_thread;
  {
    AutoLock lock(lock_);
    dump_thread = std::move(dump_thread_);
    session_state_ = nullptr;
  }
  // Outside the lock, as at the start; the thread's last tasks may request dumps.
  scheduler_->Stop();
  peak_detector_->TearDown();
  if (dump_thread) dump_thread->Stop();
}

void MemoryDumpManager::SetDelegate(std::unique_ptr<Delegate> delegate) {
  AutoLock lock(lock_);
  delegate_ = std::move(delegate);
}

void MemoryDumpManager::GetDumpProvidersForPolling(
    MemoryPeakDetector::DumpProvidersList* providers) {
  AutoLock lock(lock_);
  for (const scoped_refptr<MemoryDumpProviderInfo>& info : dump_providers_) {
    if (info->options.is_fast_polling_supported) providers->push_back(info->dump_provider);
  }
}

bool MemoryDumpManager::IsDumpProviderRegisteredForTesting(const char* name) {
  AutoLock lock(lock_);
  for (const scoped_refptr<MemoryDumpProviderInfo>& info : dump_providers_) {
    if (std::string(info->name) == name) return true;
  }
  return false;
}

std::vector<MemoryDumpProvider*> MemoryDumpManager::GetDumpProvidersForTesting() {
  std::vector<MemoryDumpProvider*> providers;
  AutoLock lock(lock_);
  for (const scoped_refptr<MemoryDumpProviderInfo>& info : dump_providers_)
    providers.push_back(info->dump_provider);
  return providers;
}

}  // namespace trace_event
}  // namespace base
