#include "desktop/windows/installer/service/task_scheduler_v1.h"

#include <aclapi.h>
#include <objbase.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/guid.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/service/fake_com_object_test_util.h"

__CRT_UUID_DECL(ITaskScheduler, 0x148bd527, 0xa2ab, 0x11ce, 0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53,
                0x05, 0x03)

namespace installer {
namespace {

using Microsoft::WRL::ComPtr;

// The system's scheduler with its deletions noted: Wine's scheduler service reads each
// changed job file, and a deletion meanwhile fails, so tests check the requests.
class RecordingScheduler : public testing::FakeUnknown<ITaskScheduler> {
 public:
  explicit RecordingScheduler(ITaskScheduler* system) : system_(system) {}

  HRESULT STDMETHODCALLTYPE SetTargetComputer(LPCWSTR computer) override {
    return system_->SetTargetComputer(computer);
  }
  HRESULT STDMETHODCALLTYPE GetTargetComputer(LPWSTR* computer) override {
    return system_->GetTargetComputer(computer);
  }
  HRESULT STDMETHODCALLTYPE Enum(IEnumWorkItems** items) override { return system_->Enum(items); }
  HRESULT STDMETHODCALLTYPE Activate(LPCWSTR name, REFIID iid, IUnknown** item) override {
    return system_->Activate(name, iid, item);
  }
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR name) override {
    deleted.push_back(name);
    system_->Delete(name);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NewWorkItem(LPCWSTR name, REFCLSID clsid, REFIID iid,
                                        IUnknown** item) override {
    return system_->NewWorkItem(name, clsid, iid, item);
  }
  HRESULT STDMETHODCALLTYPE AddWorkItem(LPCWSTR name, IScheduledWorkItem* item) override {
    return system_->AddWorkItem(name, item);
  }
  HRESULT STDMETHODCALLTYPE IsOfType(LPCWSTR name, REFIID iid) override {
    return system_->IsOfType(name, iid);
  }

  std::vector<std::wstring> deleted;

 private:
  ComPtr<ITaskScheduler> system_;
};

class TestEnvironment : public TaskSchedulerEnvironment {
 public:
  std::string GetBuildProductName() override { return product; }
  int GetScheduledAutoupdateDelayMin() override { return 15; }
  bool GetSamCompatibleUserName(std::wstring* name) override {
    *name = L"VELUMTEST\\tester";
    return true;
  }
  bool IsUserAdmin() override { return false; }

  // Unique per run: job files whose deletion Wine's service refused outlive a run.
  std::string product = "VelumV1Test" + base::GenerateGuid().substr(0, 8);
};

// Task Scheduler 1.0 as the system provides it: work items saved as job files.
class TaskSchedulerV1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_ITaskScheduler,
                                           reinterpret_cast<void**>(system_.GetAddressOf()))));
    recorder_.Attach(new RecordingScheduler(system_.Get()));
    scheduler_.reset(new TaskSchedulerV1(
        &environment_, [this](REFCLSID clsid, DWORD context, REFIID iid, void** object) {
          EXPECT_TRUE(IsEqualCLSID(CLSID_CTaskScheduler, clsid));
          EXPECT_EQ(static_cast<DWORD>(CLSCTX_INPROC_SERVER), context);
          return recorder_->QueryInterface(iid, object);
        }));
    ASSERT_TRUE(scheduler_->Init());
  }
  void TearDown() override {
    for (const wchar_t* name : {L"autoupdate", L"once", L"orphan", L"kept"})
      system_->Delete(FullName(name).c_str());
    scheduler_.reset();
    recorder_.Reset();
    system_.Reset();
    CoUninitialize();
  }

  std::wstring FullName(const wchar_t* name) {
    return BuildTaskName(environment_.product, name);
  }
  ComPtr<ITask> Open(const wchar_t* name) {
    ComPtr<ITask> task;
    system_->Activate(FullName(name).c_str(), IID_ITask,
                      reinterpret_cast<IUnknown**>(task.GetAddressOf()));
    EXPECT_TRUE(task) << name;
    return task;
  }
  static std::wstring Text(ITask* task, HRESULT (STDMETHODCALLTYPE ITask::*get)(LPWSTR*)) {
    base::ScopedCoTaskMem<wchar_t> text;
    EXPECT_TRUE(SUCCEEDED((task->*get)(text.Receive())));
    return text.IsValid() ? text.Get() : L"";
  }
  DWORD Flags(const wchar_t* name) {
    DWORD flags = 0;
    EXPECT_TRUE(SUCCEEDED(Open(name)->GetFlags(&flags)));
    return flags;
  }
  DWORD MaxRunTime(const wchar_t* name) {
    DWORD max_run_time = 0;
    EXPECT_TRUE(SUCCEEDED(Open(name)->GetMaxRunTime(&max_run_time)));
    return max_run_time;
  }
  static TASK_TRIGGER Trigger(ITask* task, WORD index) {
    ComPtr<ITaskTrigger> trigger;
    TASK_TRIGGER description = {};
    description.cbTriggerSize = sizeof(description);
    EXPECT_TRUE(SUCCEEDED(task->GetTrigger(index, trigger.GetAddressOf())));
    EXPECT_TRUE(trigger && SUCCEEDED(trigger->GetTrigger(&description)));
    return description;
  }
  ScheduledTaskInfo Info(const wchar_t* name, uint32_t schedule, const wchar_t* program) {
    base::CommandLine command((base::FilePath(program)));
    command.AppendSwitch("autoupdate");
    ScheduledTaskInfo info(command);
    info.name = name;
    info.description = L"Keeps Velum up to date";
    info.schedule = schedule;
    return info;
  }

  TestEnvironment environment_;
  // Deletion requests for this test's tasks.
  std::vector<std::wstring> OurDeletions() {
    std::vector<std::wstring> ours;
    for (const std::wstring& name : recorder_->deleted)
      if (name.compare(0, environment_.product.size(),
                       std::wstring(environment_.product.begin(), environment_.product.end())) == 0)
        ours.push_back(name);
    return ours;
  }

  ComPtr<ITaskScheduler> system_;
  ComPtr<RecordingScheduler> recorder_;
  std::unique_ptr<TaskSchedulerV1> scheduler_;
};

TEST_F(TaskSchedulerV1Test, RegistersADailyWorkItem) {
  ScheduledTaskInfo info =
      Info(L"autoupdate", ScheduledTaskInfo::kDaily, L"C:\\Velum\\launcher.exe");
  info.time_limit = 3600;
  info.logon_trigger = true;
  ASSERT_TRUE(scheduler_->RegisterTask(info));

  ComPtr<ITask> task = Open(L"autoupdate");
  ASSERT_TRUE(task);
  EXPECT_EQ(L"C:\\Velum\\launcher.exe", Text(task.Get(), &ITask::GetApplicationName));
  EXPECT_EQ(L"--autoupdate", Text(task.Get(), &ITask::GetParameters));
  EXPECT_EQ(L"Keeps Velum up to date", Text(task.Get(), &ITask::GetComment));
  EXPECT_EQ(static_cast<DWORD>(TASK_FLAG_RUN_ONLY_IF_LOGGED_ON), Flags(L"autoupdate"));
  EXPECT_EQ(3600000u, MaxRunTime(L"autoupdate"));

  WORD count = 0;
  ASSERT_TRUE(SUCCEEDED(task->GetTriggerCount(&count)));
  ASSERT_EQ(2, count);
  EXPECT_EQ(TASK_TIME_TRIGGER_DAILY, Trigger(task.Get(), 0).TriggerType);
  EXPECT_EQ(1, Trigger(task.Get(), 0).Type.Daily.DaysInterval);
  EXPECT_EQ(TASK_EVENT_TRIGGER_AT_LOGON, Trigger(task.Get(), 1).TriggerType);
  EXPECT_EQ(TASK_STATE_IS_READY, scheduler_->GetTaskState(L"autoupdate"));
  EXPECT_TRUE(scheduler_->GetLastRunTime(L"autoupdate").is_null());
}

TEST_F(TaskSchedulerV1Test, LimitTooLongForMillisecondsIsNoLimit) {
  ScheduledTaskInfo info =
      Info(L"autoupdate", ScheduledTaskInfo::kNoTimeTrigger, L"C:\\Velum\\launcher.exe");
  info.time_limit = 5000000;  // 5,000,000,000 ms do not fit 32 bits
  ASSERT_TRUE(scheduler_->RegisterTask(info));
  EXPECT_EQ(INFINITE, MaxRunTime(L"autoupdate"));
}

TEST_F(TaskSchedulerV1Test, IntervalAndEnable) {
  ASSERT_TRUE(scheduler_->RegisterTask(
      Info(L"autoupdate", ScheduledTaskInfo::kDaily, L"C:\\Velum\\launcher.exe")));
  EXPECT_TRUE(scheduler_->SetDailyInterval(L"autoupdate", 2));
  EXPECT_FALSE(scheduler_->SetDailyInterval(L"missing", 2));
  ComPtr<ITask> task = Open(L"autoupdate");
  ASSERT_TRUE(task);
  EXPECT_EQ(2, Trigger(task.Get(), 0).Type.Daily.DaysInterval);
  scheduler_->SetTaskEnabled(L"autoupdate", false);
  EXPECT_TRUE(Flags(L"autoupdate") & TASK_FLAG_DISABLED);
  scheduler_->SetTaskEnabled(L"autoupdate", true);
  EXPECT_FALSE(Flags(L"autoupdate") & TASK_FLAG_DISABLED);
}

TEST_F(TaskSchedulerV1Test, DeleteTaskAndReplacedRegistration) {
  ScheduledTaskInfo info = Info(L"autoupdate", ScheduledTaskInfo::kDaily, L"C:\\Velum\\a.exe");
  ASSERT_TRUE(scheduler_->RegisterTask(info));
  // A registration first removes a work item of the same name.
  EXPECT_EQ(std::vector<std::wstring>{FullName(L"autoupdate")}, OurDeletions());
  scheduler_->DeleteTask(L"autoupdate");
  EXPECT_EQ(std::vector<std::wstring>(2, FullName(L"autoupdate")), OurDeletions());
  EXPECT_EQ(TASK_STATE_CANNOT_OPEN, scheduler_->GetTaskState(L"never registered"));
  EXPECT_FALSE(scheduler_->RunTask(L"never registered", {}));
}

TEST_F(TaskSchedulerV1Test, DeleteOrphanedTasksKeepsTasksWithTheirLauncher) {
  wchar_t self[MAX_PATH];
  ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
  ASSERT_TRUE(scheduler_->RegisterTask(Info(L"kept", ScheduledTaskInfo::kDaily, self)));
  ASSERT_TRUE(scheduler_->RegisterTask(
      Info(L"orphan", ScheduledTaskInfo::kDaily, L"C:\\velum-missing\\launcher.exe")));
  recorder_->deleted.clear();
  scheduler_->DeleteOrphanedTasks();
  EXPECT_EQ(std::vector<std::wstring>{FullName(L"orphan")}, OurDeletions());
}

// The job file's access list itself cannot be read back under Wine, which accepts but
// does not keep file access lists; the merge is checked on its own.
TEST(GrantAuthenticatedUsersTest, AddsReadAndExecuteToTheExistingEntries) {
  BYTE buffer[256];
  PACL existing = reinterpret_cast<PACL>(buffer);
  ASSERT_TRUE(InitializeAcl(existing, sizeof(buffer), ACL_REVISION));
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  base::ScopedSid system;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt_authority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0,
                                       0, 0, 0, system.Receive()));
  ASSERT_TRUE(AddAccessAllowedAce(existing, ACL_REVISION, GENERIC_ALL, system.Get()));

  ScopedLocalAcl merged = GrantAuthenticatedUsersReadExecute(existing);
  ASSERT_TRUE(merged.IsValid());
  base::ScopedSid authenticated_users;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt_authority, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0,
                                       0, 0, 0, 0, 0, authenticated_users.Receive()));
  bool kept_system = false;
  ACCESS_MASK granted = 0;
  for (WORD i = 0; i < merged.Get()->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(merged.Get(), i, reinterpret_cast<void**>(&ace)));
    ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
    PSID sid = reinterpret_cast<PSID>(&ace->SidStart);
    if (EqualSid(sid, system.Get())) kept_system = true;
    if (EqualSid(sid, authenticated_users.Get())) granted |= ace->Mask;
  }
  EXPECT_TRUE(kept_system);
  EXPECT_EQ(static_cast<ACCESS_MASK>(GENERIC_READ | GENERIC_EXECUTE), granted);

  EXPECT_TRUE(GrantAuthenticatedUsersReadExecute(nullptr).IsValid()) << "no list yet";
}

TEST_F(TaskSchedulerV1Test, RunOnceWorkItemDeletesItselfWhenDone) {
  ASSERT_TRUE(scheduler_->RegisterTask(
      Info(L"once", ScheduledTaskInfo::kRunOnceNow, L"C:\\velum-missing\\launcher.exe")));
  EXPECT_EQ(static_cast<DWORD>(TASK_FLAG_RUN_ONLY_IF_LOGGED_ON | TASK_FLAG_DELETE_WHEN_DONE),
            Flags(L"once"));
  EXPECT_EQ(INFINITE, MaxRunTime(L"once"));
}

}  // namespace
}  // namespace installer
