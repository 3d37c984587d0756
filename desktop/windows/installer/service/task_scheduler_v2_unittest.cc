#include "desktop/windows/installer/service/task_scheduler_v2.h"

#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/service/fake_task_service_test_util.h"

namespace installer {
namespace {

using Microsoft::WRL::ComPtr;
using testing::FakeDefinition;
using testing::FakeFolder;
using testing::FakePropertyBag;
using testing::FakeRegisteredTask;
using testing::FakeService;
using testing::FakeTriggers;
using testing::MakeFake;
using testing::Registration;

const wchar_t kUser[] = L"VELUMTEST\\tester";
const wchar_t kFullName[] = L"Velum scheduled autoupdate";
const wchar_t kMissingLauncher[] = L"C:\\velum-missing\\launcher.exe";

class FakeEnvironment : public TaskSchedulerEnvironment {
 public:
  std::string GetBuildProductName() override { return "Velum"; }
  int GetScheduledAutoupdateDelayMin() override { return 15; }
  bool GetSamCompatibleUserName(std::wstring* name) override {
    *name = kUser;
    return has_user;
  }
  bool IsUserAdmin() override { return admin; }

  bool has_user = true;
  bool admin = false;
};

// 2026-03-04 05:06:07 local time: single-digit fields show the zero padding.
base::Time FixedNow() {
  base::Time::Exploded exploded = {2026, 3, 3, 4, 5, 6, 7, 0};
  base::Time time;
  EXPECT_TRUE(base::Time::FromExploded(exploded, &time));
  return time;
}

class TaskSchedulerV2Test : public ::testing::Test {
 protected:
  TaskSchedulerV2Test() : service_(MakeFake<FakeService>()) {}

  std::unique_ptr<TaskSchedulerV2> MakeScheduler() {
    return std::unique_ptr<TaskSchedulerV2>(new TaskSchedulerV2(
        &environment_,
        [this](REFCLSID clsid, DWORD context, REFIID iid, void** object) -> HRESULT {
          clsid_ = clsid;
          context_ = context;
          if (FAILED(create_result_)) return create_result_;
          return service_->QueryInterface(iid, object);
        },
        FixedNow));
  }

  std::unique_ptr<TaskSchedulerV2> Ready() {
    std::unique_ptr<TaskSchedulerV2> scheduler = MakeScheduler();
    EXPECT_TRUE(scheduler->Init());
    return scheduler;
  }

  ScheduledTaskInfo Info(uint32_t schedule) {
    base::CommandLine command(base::FilePath(L"C:\\Velum\\launcher.exe"));
    command.AppendSwitch("autoupdate");
    command.AppendArg("two words");
    ScheduledTaskInfo info(command);
    info.name = L"autoupdate";
    info.description = L"Keeps Velum up to date";
    info.schedule = schedule;
    return info;
  }

  FakeDefinition* Definition() { return service_->definitions.back().Get(); }
  FakeRegisteredTask* AddAutoupdate() {
    return Folder()->AddTask(kFullName, FakeDefinition::Running(kMissingLauncher));
  }
  FakeFolder* Folder() { return service_->folder.Get(); }
  std::vector<int> TriggerTypes() {
    std::vector<int> types;
    for (const FakeTriggers::Entry& entry : Definition()->triggers->entries)
      types.push_back(entry.type);
    return types;
  }

  FakeEnvironment environment_;
  ComPtr<FakeService> service_;
  HRESULT create_result_ = S_OK;
  CLSID clsid_ = {};
  DWORD context_ = 0;
};

TEST_F(TaskSchedulerV2Test, InitConnectsToThisMachineAndOpensTheRoot) {
  std::unique_ptr<TaskSchedulerV2> scheduler = MakeScheduler();
  ASSERT_TRUE(scheduler->Init());
  const CLSID expected = {0x0F87369F, 0xA4E5, 0x4CFC,
                          {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
  EXPECT_TRUE(IsEqualCLSID(expected, clsid_));
  EXPECT_EQ(static_cast<DWORD>(CLSCTX_INPROC_SERVER), context_);
  EXPECT_EQ(std::vector<VARTYPE>(4, VT_EMPTY), service_->connect_types);
  EXPECT_EQ(L"\\", service_->folder_path);

  service_->connect_result = E_ACCESSDENIED;
  EXPECT_FALSE(MakeScheduler()->Init());
  create_result_ = REGDB_E_CLASSNOTREG;
  std::unique_ptr<TaskSchedulerV2> unavailable = MakeScheduler();
  EXPECT_FALSE(unavailable->Init());
  EXPECT_FALSE(unavailable->RegisterTask(Info(ScheduledTaskInfo::kDaily)));
  EXPECT_EQ(TASK_STATE_CANNOT_OPEN, unavailable->GetTaskState(L"autoupdate"));
}

TEST_F(TaskSchedulerV2Test, PerUserDailyTaskWithLogonTrigger) {
  ScheduledTaskInfo info = Info(ScheduledTaskInfo::kDaily);
  info.logon_trigger = true;
  info.time_limit = 3600;
  info.network_only = true;
  ASSERT_TRUE(Ready()->RegisterTask(info));

  FakeDefinition* definition = Definition();
  EXPECT_EQ(kUser, definition->registration->properties().Text("Author"));
  EXPECT_EQ(L"Keeps Velum up to date", definition->registration->properties().Text("Description"));
  const FakePropertyBag& settings = definition->settings->properties();
  EXPECT_EQ(L"PT3600S", settings.Text("ExecutionTimeLimit"));
  EXPECT_EQ(TASK_INSTANCES_IGNORE_NEW, settings.Number("MultipleInstances"));
  EXPECT_EQ(VARIANT_TRUE, settings.Number("RunOnlyIfNetworkAvailable"));
  for (const char* name : {"StopIfGoingOnBatteries", "DisallowStartIfOnBatteries"}) {
    EXPECT_TRUE(settings.Has(name) && settings.Number(name) == VARIANT_FALSE) << name;
  }
  EXPECT_EQ(VARIANT_TRUE, settings.Number("StartWhenAvailable"));
  EXPECT_FALSE(settings.Has("DeleteExpiredTaskAfter"));

  const std::vector<FakeTriggers::Entry>& triggers = definition->triggers->entries;
  ASSERT_EQ((std::vector<int>{TASK_TRIGGER_DAILY, TASK_TRIGGER_LOGON}), TriggerTypes());
  EXPECT_EQ(L"Daily run", triggers[0].properties->Text("Id"));
  EXPECT_EQ(L"2026-03-04T05:06:07", triggers[0].properties->Text("StartBoundary"));
  EXPECT_EQ(1, triggers[0].properties->Number("DaysInterval"));
  EXPECT_EQ(L"Logon run", triggers[1].properties->Text("Id"));
  EXPECT_EQ(L"2026-03-04T05:06:07", triggers[1].properties->Text("StartBoundary"));
  EXPECT_EQ(kUser, triggers[1].properties->Text("UserId"));
  EXPECT_EQ(L"PT15M", triggers[1].properties->Text("Delay"));

  ASSERT_EQ(1u, definition->actions->actions.size());
  const FakePropertyBag& action = definition->actions->actions[0]->properties();
  EXPECT_EQ(L"C:\\Velum\\launcher.exe", action.Text("Path"));
  EXPECT_EQ(L"--autoupdate \"two words\"", action.Text("Arguments"));
  // Not an administrator: the run level stays as it is.
  EXPECT_FALSE(definition->principal->properties().Has("RunLevel"));

  ASSERT_EQ(1u, Folder()->registrations.size());
  const Registration& registration = Folder()->registrations[0];
  EXPECT_EQ(kFullName, registration.path);
  EXPECT_EQ(TASK_CREATE_OR_UPDATE, registration.flags);
  EXPECT_EQ(VT_EMPTY, registration.user_type);
  EXPECT_EQ(VT_EMPTY, registration.password_type);
  EXPECT_EQ(TASK_LOGON_INTERACTIVE_TOKEN, registration.logon);
  EXPECT_EQ(VT_EMPTY, registration.sddl_type);
  ASSERT_NE(nullptr, Folder()->Find(kFullName));
  EXPECT_EQ(L"", Folder()->Find(kFullName)->security_descriptor);
}

TEST_F(TaskSchedulerV2Test, MachineWideTaskBootsAsSystemForAuthenticatedUsers) {
  environment_.admin = true;
  ScheduledTaskInfo info = Info(ScheduledTaskInfo::kDaily);
  info.machine_wide = 1;
  info.logon_trigger = true;
  ASSERT_TRUE(Ready()->RegisterTask(info));

  FakeDefinition* definition = Definition();
  EXPECT_EQ(L"PT0S", definition->settings->properties().Text("ExecutionTimeLimit"));
  const std::vector<FakeTriggers::Entry>& triggers = definition->triggers->entries;
  ASSERT_EQ((std::vector<int>{TASK_TRIGGER_DAILY, TASK_TRIGGER_BOOT}), TriggerTypes());
  EXPECT_EQ(L"Logon run", triggers[1].properties->Text("Id"));
  EXPECT_EQ(L"PT15M", triggers[1].properties->Text("Delay"));
  EXPECT_EQ(L"2026-03-04T05:06:07", triggers[1].properties->Text("StartBoundary"));
  EXPECT_EQ(TASK_RUNLEVEL_HIGHEST, definition->principal->properties().Number("RunLevel"));

  ASSERT_EQ(1u, Folder()->registrations.size());
  const Registration& registration = Folder()->registrations[0];
  EXPECT_EQ(VT_BSTR, registration.user_type);
  EXPECT_EQ(L"SYSTEM", registration.user);
  EXPECT_EQ(VT_EMPTY, registration.password_type);
  EXPECT_EQ(TASK_LOGON_SERVICE_ACCOUNT, registration.logon);
  EXPECT_EQ(VT_EMPTY, registration.sddl_type);
  EXPECT_EQ(L"D:(A;;GRGX;;;AU)", Folder()->Find(kFullName)->security_descriptor);

  // A refused security descriptor is logged, not a failed registration.
  Folder()->tasks.clear();
  Folder()->sddl_result = E_ACCESSDENIED;
  EXPECT_TRUE(Ready()->RegisterTask(info));
}

TEST_F(TaskSchedulerV2Test, RunOnceTaskStartsFromRegistrationAndIsGone) {
  ScheduledTaskInfo info = Info(ScheduledTaskInfo::kRunOnceNow);
  info.logon_trigger = true;
  ASSERT_TRUE(Ready()->RegisterTask(info));

  FakeDefinition* definition = Definition();
  EXPECT_EQ(L"PT0S", definition->settings->properties().Text("DeleteExpiredTaskAfter"));
  const std::vector<FakeTriggers::Entry>& triggers = definition->triggers->entries;
  ASSERT_EQ(std::vector<int>{TASK_TRIGGER_REGISTRATION}, TriggerTypes());
  EXPECT_EQ(L"Run once", triggers[0].properties->Text("Id"));
  EXPECT_EQ(L"2026-03-04T05:06:37", triggers[0].properties->Text("EndBoundary"));
  EXPECT_FALSE(triggers[0].properties->Has("StartBoundary"));
  EXPECT_EQ(1u, Folder()->registrations.size());
  EXPECT_EQ(nullptr, Folder()->Find(kFullName));
  EXPECT_EQ(std::vector<std::wstring>{kFullName}, Folder()->deleted);
}

TEST_F(TaskSchedulerV2Test, OtherScheduleHasOnlyTheLogonTrigger) {
  ScheduledTaskInfo info = Info(ScheduledTaskInfo::kNoTimeTrigger);
  info.logon_trigger = true;
  ASSERT_TRUE(Ready()->RegisterTask(info));
  EXPECT_EQ(std::vector<int>{TASK_TRIGGER_LOGON}, TriggerTypes());
  EXPECT_NE(nullptr, Folder()->Find(kFullName));
}

TEST_F(TaskSchedulerV2Test, RegistrationFailures) {
  struct Case {
    const char* what;
    bool has_user;
    int refused_trigger;
    HRESULT register_result;
    uint32_t machine_wide;
  } cases[] = {
      {"no user name", false, -1, S_OK, 0},
      {"logon trigger refused", true, TASK_TRIGGER_LOGON, S_OK, 0},
      {"boot trigger refused", true, TASK_TRIGGER_BOOT, S_OK, 1},
      {"daily trigger refused", true, TASK_TRIGGER_DAILY, S_OK, 0},
      {"registration refused", true, -1, E_ACCESSDENIED, 0},
  };
  for (const Case& c : cases) {
    service_ = MakeFake<FakeService>();
    service_->refused_trigger = c.refused_trigger;
    environment_.has_user = c.has_user;
    std::unique_ptr<TaskSchedulerV2> scheduler = Ready();
    Folder()->register_result = c.register_result;
    ScheduledTaskInfo info = Info(ScheduledTaskInfo::kDaily);
    info.logon_trigger = true;
    info.machine_wide = c.machine_wide;
    EXPECT_FALSE(scheduler->RegisterTask(info)) << c.what;
    EXPECT_EQ(nullptr, Folder()->Find(kFullName)) << c.what;
  }
}

TEST_F(TaskSchedulerV2Test, DeleteOrphanedTasksRemovesOnlyEnabledProductTasksWithoutLauncher) {
  // An executable that exists: this test program, with text after a NUL that is cut off.
  wchar_t self[MAX_PATH];
  ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
  std::wstring present(self);
  std::wstring present_with_tail = present;
  present_with_tail.push_back(L'\0');
  present_with_tail += L"tail";

  FakeFolder* folder = Folder();
  folder->AddTask(L"Velum scheduled autoupdate", FakeDefinition::Running(present));
  folder->AddTask(L"Velum SCHEDULED orphan", FakeDefinition::Running(kMissingLauncher));
  folder->AddTask(L"Velum scheduled tail", FakeDefinition::Running(present_with_tail));
  folder->AddTask(L"Velum scheduled disabled", FakeDefinition::Running(kMissingLauncher))
      ->enabled = VARIANT_FALSE;
  folder->AddTask(L"Someone else's task", FakeDefinition::Running(kMissingLauncher));
  folder->AddTask(L"Velum scheduled two actions",
                  FakeDefinition::Running(kMissingLauncher, 2));
  folder->AddTask(L"Velum scheduled second orphan", FakeDefinition::Running(kMissingLauncher));

  Ready()->DeleteOrphanedTasks();
  EXPECT_EQ(0, folder->enumeration_flags);  // hidden tasks left out
  const std::vector<std::wstring> deleted = {L"Velum SCHEDULED orphan",
                                             L"Velum scheduled second orphan"};
  EXPECT_EQ(deleted, folder->deleted);
  EXPECT_EQ(5u, folder->tasks.size());
}

TEST_F(TaskSchedulerV2Test, SetDailyIntervalChangesOnlyADifferentInterval) {
  ComPtr<FakeDefinition> definition = FakeDefinition::Running(kMissingLauncher);
  ComPtr<ITrigger> trigger;
  definition->triggers->Create(TASK_TRIGGER_LOGON, trigger.GetAddressOf());
  definition->triggers->Create(TASK_TRIGGER_DAILY, trigger.ReleaseAndGetAddressOf());
  ASSERT_EQ(S_OK, definition->triggers->entries[1].properties->PutNumber("DaysInterval", 1));
  Folder()->AddTask(kFullName, definition);
  std::unique_ptr<TaskSchedulerV2> scheduler = Ready();

  EXPECT_TRUE(scheduler->SetDailyInterval(L"autoupdate", 1));
  EXPECT_TRUE(Folder()->registrations.empty());

  EXPECT_TRUE(scheduler->SetDailyInterval(L"autoupdate", 2));
  EXPECT_EQ(2, definition->triggers->entries[1].properties->Number("DaysInterval"));
  ASSERT_EQ(1u, Folder()->registrations.size());
  EXPECT_EQ(kFullName, Folder()->registrations[0].path);
  EXPECT_EQ(TASK_UPDATE, Folder()->registrations[0].flags);
  EXPECT_EQ(TASK_LOGON_NONE, Folder()->registrations[0].logon);

  // Nothing to open: nothing happens, and the caller hears of it.
  EXPECT_FALSE(scheduler->SetDailyInterval(L"missing", 2));
  EXPECT_EQ(1u, Folder()->registrations.size());

  // A change the service refuses to keep is no success either.
  Folder()->register_result = E_ACCESSDENIED;
  EXPECT_FALSE(scheduler->SetDailyInterval(L"autoupdate", 3));
}

TEST_F(TaskSchedulerV2Test, EnableRunAndDelete) {
  FakeRegisteredTask* task = AddAutoupdate();
  std::unique_ptr<TaskSchedulerV2> scheduler = Ready();

  scheduler->SetTaskEnabled(L"autoupdate", false);
  EXPECT_EQ(VARIANT_FALSE, task->enabled);
  scheduler->SetTaskEnabled(L"autoupdate", true);
  EXPECT_EQ(VARIANT_TRUE, task->enabled);

  EXPECT_TRUE(scheduler->RunTask(L"autoupdate", {L"--from-task", L"two words"}));
  EXPECT_EQ((std::vector<std::wstring>{L"--from-task", L"two words"}), task->run_arguments);
  EXPECT_TRUE(scheduler->RunTask(L"autoupdate", {}));
  EXPECT_EQ(2, task->runs);
  task->run_result = E_NOTIMPL;
  EXPECT_FALSE(scheduler->RunTask(L"autoupdate", {}));
  EXPECT_FALSE(scheduler->RunTask(L"missing", {}));

  scheduler->DeleteTask(L"autoupdate");
  EXPECT_EQ(std::vector<std::wstring>{kFullName}, Folder()->deleted);
  EXPECT_EQ(nullptr, Folder()->Find(kFullName));
}

TEST_F(TaskSchedulerV2Test, TaskStates) {
  FakeRegisteredTask* task = AddAutoupdate();
  std::unique_ptr<TaskSchedulerV2> scheduler = Ready();
  const struct {
    TASK_STATE state;
    HRESULT result;
    TaskState expected;
  } cases[] = {
      {TASK_STATE_DISABLED, S_OK, TASK_STATE_IS_DISABLED},
      {TASK_STATE_QUEUED, S_OK, TASK_STATE_IS_READY},
      {TASK_STATE_READY, S_OK, TASK_STATE_IS_READY},
      {TASK_STATE_RUNNING, S_OK, TASK_STATE_IS_RUNNING},
      {TASK_STATE_UNKNOWN, S_OK, TASK_STATE_INDETERMINATE},
      {TASK_STATE_READY, E_FAIL, TASK_STATE_INDETERMINATE},
  };
  for (const auto& c : cases) {
    task->state = c.state;
    task->state_result = c.result;
    EXPECT_EQ(c.expected, scheduler->GetTaskState(L"autoupdate")) << c.state;
  }
  EXPECT_EQ(TASK_STATE_CANNOT_OPEN, scheduler->GetTaskState(L"missing"));
}

TEST_F(TaskSchedulerV2Test, LastRunTime) {
  FakeRegisteredTask* task = AddAutoupdate();
  std::unique_ptr<TaskSchedulerV2> scheduler = Ready();
  // 2020-01-02 03:04:05 as an OLE date.
  SYSTEMTIME when = {2020, 1, 4, 2, 3, 4, 5, 0};
  ASSERT_TRUE(SystemTimeToVariantTime(&when, &task->last_run));
  base::Time::Exploded exploded = {};
  scheduler->GetLastRunTime(L"autoupdate").UTCExplode(&exploded);
  EXPECT_EQ(2020, exploded.year);
  EXPECT_EQ(2, exploded.day_of_month);
  EXPECT_EQ(3, exploded.hour);
  EXPECT_EQ(5, exploded.second);

  task->last_run_result = 0x00041303;  // SCHED_S_TASK_HAS_NOT_RUN: success, no date
  EXPECT_TRUE(scheduler->GetLastRunTime(L"autoupdate").is_null());
  task->last_run_result = E_FAIL;
  EXPECT_TRUE(scheduler->GetLastRunTime(L"autoupdate").is_null());
  EXPECT_TRUE(scheduler->GetLastRunTime(L"missing").is_null());
}

TEST(TaskSchedulerTest, TaskNames) {
  EXPECT_EQ(L"Velum scheduled autoupdate", BuildTaskName("Velum", L"autoupdate"));
  EXPECT_TRUE(IsProductTaskName(L"Velum SCHEDULED autoupdate"));
  EXPECT_FALSE(IsProductTaskName(L"Velum scheduled"));
  EXPECT_FALSE(IsProductTaskName(L"Velum\tscheduled autoupdate"));
}

// Against the system's own Task Scheduler, for what Wine implements: connecting,
// registering a task without triggers, reading its state and deleting it.
TEST(TaskSchedulerSystemTest, RegistersQueriesAndDeletesAPlainTask) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    FakeEnvironment environment;
    environment.admin = false;
    std::unique_ptr<TaskScheduler> scheduler = CreateTaskScheduler(&environment);
    ASSERT_TRUE(scheduler);
    ASSERT_TRUE(scheduler->Init());
    const std::wstring name = L"smoke-" + std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(TASK_STATE_CANNOT_OPEN, scheduler->GetTaskState(name));

    ScheduledTaskInfo info(base::CommandLine(base::FilePath(L"C:\\velum-smoke\\launcher.exe")));
    info.name = name;
    info.schedule = ScheduledTaskInfo::kNoTimeTrigger;
    ASSERT_TRUE(scheduler->RegisterTask(info));
    EXPECT_NE(TASK_STATE_CANNOT_OPEN, scheduler->GetTaskState(name));
    EXPECT_TRUE(scheduler->GetLastRunTime(name).is_null());
    scheduler->DeleteTask(name);
    EXPECT_EQ(TASK_STATE_CANNOT_OPEN, scheduler->GetTaskState(name));
  }
  CoUninitialize();
}

}  // namespace
}  // namespace installer
