#include "base/trace_event/memory_dump_manager.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/debug/heap_usage_tracker.h"
#include "base/logging.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/sync_event.h"
#include "base/trace_event/heap_context_tracker.h"
#include "base/trace_event/memory_dump_scheduler.h"
#include "base/trace_event/mock_time_task_runner_test_util.h"
#include "base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

// Another test fills the process's category table; the memory-infra category must have
// its own entry before that.
const bool g_memory_infra_category_registered = [] {
  IsMemoryInfraTracingEnabled();
  return true;
}();

class FakeProvider : public MemoryDumpProvider {
 public:
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override { return true; }
  void OnHeapProfilingEnabled(bool enabled) override { heap_profiling_calls += enabled; }
  int heap_profiling_calls = 0;
};

struct DumpResult {
  bool called = false;
  uint64_t guid = 1;
  bool success = true;
};

void KeepResult(DumpResult* result, uint64_t guid, bool success) {
  *result = {true, guid, success};
}

// Fresh managers with their own scheduler and detector; the process's capture mode
// and heap hooks are put back afterwards.
class MemoryDumpManagerTest : public testing::Test {
 protected:
  void TearDown() override {
    HeapContextTracker::SetCaptureMode(HeapContextTracker::CaptureMode::DISABLED);
  }

  std::unique_ptr<MemoryDumpManager> MakeManager(const CommandLine* command_line) {
    return std::make_unique<MemoryDumpManager>(command_line, &scheduler_, &detector_);
  }

  MemoryDumpScheduler scheduler_;
  MemoryPeakDetector detector_;
};

TEST_F(MemoryDumpManagerTest, HeapProfilingSwitchSelectsTheCaptureMode) {
  using Mode = HeapContextTracker::CaptureMode;
  struct Case {
    const char* value;  // null: no switch
    Mode mode;
    bool profiling;
  };
  const Case cases[] = {
      {nullptr, Mode::DISABLED, false},
      {"", Mode::PSEUDO_STACK, true},
      {"native", Mode::NATIVE_STACK, true},
      {"something-else", Mode::DISABLED, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(none)");
    CommandLine command_line(CommandLine::NO_PROGRAM);
    if (c.value) command_line.AppendSwitchASCII("enable-heap-profiling", c.value);
    std::unique_ptr<MemoryDumpManager> manager = MakeManager(&command_line);
    EXPECT_EQ(c.mode, HeapContextTracker::capture_mode());
    EXPECT_EQ(c.profiling, manager->heap_profiling_enabled_for_testing());
    HeapContextTracker::SetCaptureMode(Mode::DISABLED);
  }
  // No command line at all.
  EXPECT_FALSE(MakeManager(nullptr)->heap_profiling_enabled_for_testing());
}

TEST_F(MemoryDumpManagerTest, TaskProfilerSwitchTurnsOnTheHeapHooks) {
  const bool hooks_were_on = debug::HeapUsageTracker::IsHeapTrackingEnabled();
  CommandLine command_line(CommandLine::NO_PROGRAM);
  command_line.AppendSwitchASCII("enable-heap-profiling", "task-profiler");
  std::unique_ptr<MemoryDumpManager> manager = MakeManager(&command_line);
  EXPECT_TRUE(debug::HeapUsageTracker::IsHeapTrackingEnabled());
  EXPECT_EQ(HeapContextTracker::CaptureMode::DISABLED, HeapContextTracker::capture_mode());
  if (!hooks_were_on) {
    EXPECT_TRUE(debug::HeapUsageTracker::DisableHeapTrackingForTesting());
  }
}

TEST_F(MemoryDumpManagerTest, ProvidersHearOfHeapProfilingOnRegistration) {
  CommandLine command_line(CommandLine::NO_PROGRAM);
  command_line.AppendSwitch("enable-heap-profiling");
  std::unique_ptr<MemoryDumpManager> manager = MakeManager(&command_line);
  FakeProvider provider;
  manager->RegisterDumpProvider(&provider, "Fake", nullptr);
  manager->RegisterDumpProvider(&provider, "Fake", nullptr);
  EXPECT_EQ(1, provider.heap_profiling_calls);
}

std::string* g_log_lines = nullptr;

// Each line as "<file>(<line>): <message>".
bool CaptureLogLine(int, const char* file, int line, size_t message_start,
                    const std::string& text) {
  g_log_lines->append(std::string(file) + "(" + std::to_string(line) + "): " +
                      text.substr(message_start));
  return true;
}

TEST_F(MemoryDumpManagerTest, RequestWhileNotTracingFails) {
  std::string log_lines;
  g_log_lines = &log_lines;
  const int min_log_level = GetMinLogLevel();
  SetMinLogLevel(-1);
  SetLogMessageHandler(&CaptureLogLine);
  for (MemoryDumpManager* manager : {MemoryDumpManager::GetInstance(),
                                     MakeManager(nullptr).release()}) {
    for (uint32_t level : {0u, 1u, 2u}) {
      DumpResult result;
      manager->RequestMemoryDump(MemoryDumpManager::EXPLICITLY_TRIGGERED, level,
                                 Bind(&KeepResult, &result));
      EXPECT_TRUE(result.called);
      EXPECT_EQ(0u, result.guid);
      EXPECT_FALSE(result.success);
    }
    // Without a callback nothing is left to tell.
    manager->RequestPeakDump(2);
    manager->RequestPeriodicDump(1);
    if (manager != MemoryDumpManager::GetInstance()) delete manager;
  }
  SetLogMessageHandler(nullptr);
  SetMinLogLevel(min_log_level);
  g_log_lines = nullptr;
  EXPECT_NE(std::string::npos,
            log_lines.find("base/trace_event/memory_dump_manager(448): "
                           "Memory-infra dump failed because disabled-by-default-memory-infra "
                           "tracing category is not enabled or the requested dump mode is not "
                           "allowed by trace config."))
      << log_lines;
}

TEST_F(MemoryDumpManagerTest, ProvidersAreOrderedByRunnerThenAddressDescending) {
  std::unique_ptr<MemoryDumpManager> manager = MakeManager(nullptr);
  scoped_refptr<MockTimeTaskRunner> runners[] = {MakeRefCounted<MockTimeTaskRunner>(),
                                                 MakeRefCounted<MockTimeTaskRunner>()};
  FakeProvider providers[4];
  struct Registration {
    MemoryDumpProvider* provider;
    SequencedTaskRunner* runner;
  };
  const std::vector<Registration> registrations = {
      {&providers[0], runners[1].get()}, {&providers[1], nullptr},
      {&providers[2], runners[0].get()}, {&providers[3], runners[1].get()},
      {&providers[1], runners[0].get()},
      // The same provider on the same runner again: still one entry.
      {&providers[2], runners[0].get()}};
  for (const Registration& registration : registrations)
    manager->RegisterDumpProvider(registration.provider, "Fake", registration.runner);

  std::vector<Registration> expected(registrations.begin(), registrations.end() - 1);
  std::sort(expected.begin(), expected.end(), [](const Registration& a, const Registration& b) {
    if (a.runner != b.runner) return std::greater<SequencedTaskRunner*>()(a.runner, b.runner);
    return std::greater<MemoryDumpProvider*>()(a.provider, b.provider);
  });
  std::vector<MemoryDumpProvider*> expected_providers;
  for (const Registration& registration : expected)
    expected_providers.push_back(registration.provider);
  EXPECT_EQ(expected_providers, manager->GetDumpProvidersForTesting());

  manager->UnregisterDumpProvider(&providers[3]);
  expected_providers.erase(
      std::find(expected_providers.begin(), expected_providers.end(), &providers[3]));
  EXPECT_EQ(expected_providers, manager->GetDumpProvidersForTesting());
}

TEST_F(MemoryDumpManagerTest, TheTraceLogIsRegisteredWithTheProcessManager) {
  TraceLog::GetInstance();
  EXPECT_TRUE(IsDumpProviderRegisteredForTesting("TraceLog"));
  EXPECT_TRUE(MemoryDumpManager::GetInstance()->IsDumpProviderRegisteredForTesting("TraceLog"));
}

// Counts its polls, and any call that comes after its owner was told it is gone.
class PollingProvider : public MemoryDumpProvider {
 public:
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override { return true; }
  void PollFastMemoryTotal(uint64_t* total) override {
    ++polls;
    calls_after_gone += gone;
    *total = 100 << 20;
  }
  void SuspendFastMemoryPolling() override { calls_after_gone += gone; }
  bool gone = false;
  int polls = 0;
  int calls_after_gone = 0;
};

TEST_F(MemoryDumpManagerTest, UnregisteredProviderIsNeverPolledAgain) {
  scoped_refptr<MockTimeTaskRunner> runner = MakeRefCounted<MockTimeTaskRunner>();
  std::unique_ptr<MemoryDumpManager> manager = MakeManager(nullptr);
  PollingProvider provider;
  MemoryDumpProvider::Options options;
  options.is_fast_polling_supported = true;
  manager->RegisterDumpProvider(&provider, "Polling", nullptr, options);
  // Posted before any poll, the unregistration runs first among the tasks due at 30 ms:
  // after the poll of 30 ms was queued, before the reload it asks for.
  runner->PostDelayedTask(FROM_HERE, Bind([&] {
                            manager->UnregisterDumpProvider(&provider);
                            provider.gone = true;
                          }),
                          TimeDelta::FromMilliseconds(30));
  detector_.Setup(Bind(&MemoryDumpManager::GetDumpProvidersForPolling, manager.get()), runner,
                  Closure());
  detector_.Start({10, 0, false});
  runner->FastForwardBy(100);
  detector_.TearDown();
  runner->RunUntilIdle();
  EXPECT_EQ(3, provider.polls) << "at 0, 10 and 20 ms";
  EXPECT_EQ(0, provider.calls_after_gone);
}

// Performs every dump at once with success and says when periodic and peak ones come.
class FakeDelegate : public MemoryDumpManager::Delegate {
 public:
  FakeDelegate(SyncEvent* periodic_seen, SyncEvent* peak_seen)
      : periodic_seen_(periodic_seen), peak_seen_(peak_seen) {}
  void RequestGlobalMemoryDump(uint64_t guid, uint32_t dump_type, uint32_t,
                               const MemoryDumpManager::RequestCallback& done) override {
    if (dump_type == MemoryDumpManager::PERIODIC_INTERVAL) periodic_seen_->Signal();
    if (dump_type == MemoryDumpManager::PEAK_MEMORY_USAGE) peak_seen_->Signal();
    done.Run(guid, true);
  }
  bool IsCoordinator() const override { return true; }

 private:
  SyncEvent* periodic_seen_;
  SyncEvent* peak_seen_;
};

TEST_F(MemoryDumpManagerTest, TracingRunSchedulesAndAllowsItsLevels) {
  TraceLog* log = TraceLog::GetInstance();
  SyncEvent periodic_seen(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  SyncEvent peak_seen(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  std::unique_ptr<MemoryDumpManager> manager = MakeManager(nullptr);
  manager->SetDelegate(std::make_unique<FakeDelegate>(&periodic_seen, &peak_seen));

  // Memory-infra not traced: nothing starts.
  manager->OnTraceLogEnabled();
  EXPECT_FALSE(manager->is_enabled_for_testing());

  TraceConfig config;
  // The dump thread's tasks are recorded with their posting sites.
  config.category_filter.included_categories = {"toplevel"};
  config.category_filter.disabled_categories = {kMemoryInfraCategory};
  config.memory_dump_config.allowed_dump_modes = {MemoryDumpConfig::LIGHT,
                                                  MemoryDumpConfig::DETAILED};
  config.memory_dump_config.triggers = {
      {1, MemoryDumpConfig::LIGHT, MemoryDumpConfig::PERIODIC_INTERVAL},
      // Not allowed: never scheduled.
      {1, MemoryDumpConfig::BACKGROUND, MemoryDumpConfig::PERIODIC_INTERVAL},
      {60000, MemoryDumpConfig::DETAILED, MemoryDumpConfig::PEAK_MEMORY_USAGE}};
  log->SetEnabledForTesting(config, TraceLog::RECORDING_MODE, TraceLog::kRecordUntilFull);
  manager->OnTraceLogEnabled();
  ASSERT_TRUE(manager->is_enabled_for_testing());
  // The scheduler ticks on the "MemoryInfra" thread, where the coordinator's first peak
  // dump is asked for at once.
  periodic_seen.Wait();
  peak_seen.Wait();

  DumpResult allowed;
  manager->RequestMemoryDump(MemoryDumpManager::EXPLICITLY_TRIGGERED,
                             MemoryDumpConfig::DETAILED, Bind(&KeepResult, &allowed));
  EXPECT_TRUE(allowed.called);
  EXPECT_NE(0u, allowed.guid);
  EXPECT_TRUE(allowed.success);
  // Ids come from one counter, told apart per process by the trace log's hash.
  DumpResult next;
  manager->RequestMemoryDump(MemoryDumpManager::EXPLICITLY_TRIGGERED,
                             MemoryDumpConfig::LIGHT, Bind(&KeepResult, &next));
  EXPECT_GT(next.guid ^ log->process_id_hash(), allowed.guid ^ log->process_id_hash());
  DumpResult background;
  manager->RequestMemoryDump(MemoryDumpManager::EXPLICITLY_TRIGGERED,
                             MemoryDumpConfig::BACKGROUND, Bind(&KeepResult, &background));
  EXPECT_EQ(0u, background.guid);
  EXPECT_FALSE(background.success);

  manager->OnTraceLogDisabled();
  EXPECT_FALSE(manager->is_enabled_for_testing());
  const std::string events = log->RecordedEventsAsJsonForTesting();
  log->ResetForTesting();
  EXPECT_NE(std::string::npos, events.find("\"explicitly_triggered\"")) << events;
  EXPECT_NE(std::string::npos, events.find("\"name\":\"GlobalMemoryDump\"")) << events;
  EXPECT_NE(std::string::npos, events.find("\"src_file\":\"base/trace_event/memory_dump_manager\","
                                           "\"src_func\":\"OnTraceLogEnabled\""))
      << "the first peak dump's posting site: " << events;

  DumpResult after;
  manager->RequestMemoryDump(MemoryDumpManager::EXPLICITLY_TRIGGERED,
                             MemoryDumpConfig::DETAILED, Bind(&KeepResult, &after));
  EXPECT_EQ(0u, after.guid);
  EXPECT_FALSE(after.success);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
