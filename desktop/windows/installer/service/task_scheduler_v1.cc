#include "desktop/windows/installer/service/task_scheduler_v1.h"

#include <aclapi.h>
#include <objbase.h>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

namespace {

using Microsoft::WRL::ComPtr;


// A string the task scheduler allocated with CoTaskMemAlloc.
typedef base::ScopedCoTaskMem<wchar_t> TaskMemString;

// Lets authenticated users read and run the saved job file; failures are ignored.
void GrantAuthenticatedUsers(ITask* task) {
  ComPtr<IPersistFile> file;
  TaskMemString path;
  if (FAILED(task->QueryInterface(IID_PPV_ARGS(file.GetAddressOf()))) ||
      FAILED(file->GetCurFile(path.Receive())) || !path.Get()) {
    return;
  }
  PACL old_acl = nullptr;
  base::ScopedLocalAlloc<> descriptor;
  if (GetNamedSecurityInfoW(path.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &old_acl, nullptr, descriptor.Receive()) != ERROR_SUCCESS) {
    return;
  }
  ScopedLocalAcl new_acl = GrantAuthenticatedUsersReadExecute(old_acl);
  if (new_acl.IsValid()) {
    SetNamedSecurityInfoW(path.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, new_acl.Get(), nullptr);
  }
}

// Enumerated work items are job file names.
std::wstring WorkItemName(const wchar_t* enumerated) {
  std::wstring name = enumerated;
  const size_t length = name.size();
  if (length > 4 && _wcsicmp(name.c_str() + length - 4, L".job") == 0) name.resize(length - 4);
  return name;
}

[[nodiscard]] bool SaveTask(ITask* task) {
  ComPtr<IPersistFile> file;
  return SUCCEEDED(task->QueryInterface(IID_PPV_ARGS(file.GetAddressOf()))) &&
         SUCCEEDED(file->Save(nullptr, TRUE));
}

}  // namespace

ScopedLocalAcl GrantAuthenticatedUsersReadExecute(PACL acl) {
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  base::ScopedSid authenticated_users;
  if (!AllocateAndInitializeSid(&nt_authority, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0,
                                0, 0, 0, authenticated_users.Receive())) {
    return ScopedLocalAcl();
  }
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = GENERIC_READ | GENERIC_EXECUTE;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = NO_INHERITANCE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(authenticated_users.Get());
  ScopedLocalAcl merged;
  if (SetEntriesInAclW(1, &access, acl, merged.Receive()) != ERROR_SUCCESS) return ScopedLocalAcl();
  return merged;
}

TaskSchedulerV1::TaskSchedulerV1(TaskSchedulerEnvironment* environment,
                                 const ComObjectFactory& factory)
    : environment_(environment), factory_(factory) {}

TaskSchedulerV1::~TaskSchedulerV1() = default;

bool TaskSchedulerV1::Init() {
  if (FAILED(factory_(CLSID_CTaskScheduler, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                      reinterpret_cast<void**>(scheduler_.ReleaseAndGetAddressOf())))) {
    scheduler_.Reset();
    return false;
  }
  return true;
}

ComPtr<ITask> TaskSchedulerV1::OpenTask(const std::wstring& full_name) {
  ComPtr<ITask> task;
  if (!scheduler_ ||
      FAILED(scheduler_->Activate(full_name.c_str(), IID_ITask,
                                  reinterpret_cast<IUnknown**>(task.GetAddressOf())))) {
    return nullptr;
  }
  return task;
}

bool TaskSchedulerV1::RegisterTask(const ScheduledTaskInfo& info) {
  if (!scheduler_) return false;
  std::wstring user;
  if (!environment_->GetSamCompatibleUserName(&user)) return false;
  const std::wstring full_name = BuildTaskName(environment_->GetBuildProductName(), info.name);
  scheduler_->Delete(full_name.c_str());

  const bool run_once = info.schedule == ScheduledTaskInfo::kRunOnceNow;
  ComPtr<ITask> task;
  HRESULT result = scheduler_->NewWorkItem(full_name.c_str(), CLSID_CTask, IID_ITask,
                                           reinterpret_cast<IUnknown**>(task.GetAddressOf()));
  if (FAILED(result)) {
    LOG(ERROR) << "Failed task registration: " << static_cast<long>(result);
    return false;
  }
  // An empty account name is the system account.
  const std::wstring account = info.machine_wide ? std::wstring() : user;
  const DWORD flags = TASK_FLAG_RUN_ONLY_IF_LOGGED_ON | (run_once ? TASK_FLAG_DELETE_WHEN_DONE : 0);
  // A limit beyond what the milliseconds can count (about 49 days) would wrap to a short
  // one; it is no limit instead.
  const DWORD max_run_time = info.time_limit && info.time_limit < INFINITE / 1000
                                 ? info.time_limit * 1000
                                 : INFINITE;
  if (FAILED(task->SetAccountInformation(account.c_str(), nullptr)) ||
      FAILED(task->SetApplicationName(info.command.GetProgram().value().c_str())) ||
      FAILED(task->SetParameters(info.command.GetArgumentsString().c_str())) ||
      FAILED(task->SetComment(info.description.c_str())) ||
      FAILED(task->SetCreator(user.c_str())) || FAILED(task->SetFlags(flags)) ||
      FAILED(task->SetMaxRunTime(max_run_time)) ||
      !AddTrigger(task.Get(), info.schedule, false) ||
      (info.logon_trigger && !run_once && !AddTrigger(task.Get(), info.schedule, true))) {
    LOG(ERROR) << "Failed task registration: could not describe the task";
    return false;
  }
  if (!SaveTask(task.Get())) {
    LOG(ERROR) << "Failed task registration: could not save the task";
    return false;
  }
  if (info.machine_wide && !run_once) GrantAuthenticatedUsers(task.Get());
  if (run_once) task->Run();
  return true;
}

bool TaskSchedulerV1::AddTrigger(ITask* task, uint32_t schedule, bool at_logon) {
  WORD index = 0;
  ComPtr<ITaskTrigger> trigger;
  if (FAILED(task->CreateTrigger(&index, trigger.GetAddressOf()))) return false;
  if (!at_logon && schedule == ScheduledTaskInfo::kNoTimeTrigger) return true;  // left unset
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  TASK_TRIGGER description = {};
  description.cbTriggerSize = sizeof(description);
  description.wBeginYear = now.wYear;
  description.wBeginMonth = now.wMonth;
  description.wBeginDay = now.wDay;
  description.wStartHour = now.wHour;
  description.wStartMinute = now.wMinute;
  if (at_logon) {
    description.TriggerType = TASK_EVENT_TRIGGER_AT_LOGON;
  } else if (schedule == ScheduledTaskInfo::kDaily) {
    description.TriggerType = TASK_TIME_TRIGGER_DAILY;
    description.Type.Daily.DaysInterval = 1;
  } else {
    description.TriggerType = TASK_TIME_TRIGGER_ONCE;
  }
  return SUCCEEDED(trigger->SetTrigger(&description));
}

void TaskSchedulerV1::DeleteOrphanedTasks() {
  ComPtr<IEnumWorkItems> items;
  if (!scheduler_ || FAILED(scheduler_->Enum(items.GetAddressOf()))) return;
  std::vector<std::wstring> orphans;
  for (;;) {
    base::ScopedCoTaskMem<LPWSTR> names;
    ULONG fetched = 0;
    if (items->Next(1, names.Receive(), &fetched) != S_OK || fetched != 1 || !names.IsValid())
      break;
    const TaskMemString first(names.Get()[0]);
    const std::wstring name = WorkItemName(first.Get());
    if (!IsProductTaskName(name)) continue;
    ComPtr<ITask> task = OpenTask(name);
    HRESULT status = S_OK;
    TaskMemString application;
    if (!task || FAILED(task->GetStatus(&status)) || status == SCHED_S_TASK_DISABLED ||
        FAILED(task->GetApplicationName(application.Receive())) || !application.Get()) {
      continue;
    }
    if (!base::PathExists(base::FilePath(application.Get()))) orphans.push_back(name);
  }
  for (const std::wstring& orphan : orphans) scheduler_->Delete(orphan.c_str());
}

void TaskSchedulerV1::DeleteTask(const std::wstring& name) {
  if (scheduler_)
    scheduler_->Delete(BuildTaskName(environment_->GetBuildProductName(), name).c_str());
}

bool TaskSchedulerV1::SetDailyInterval(const std::wstring& name, int days) {
  ComPtr<ITask> task = OpenTask(BuildTaskName(environment_->GetBuildProductName(), name));
  WORD count = 0;
  if (!task || FAILED(task->GetTriggerCount(&count))) return false;
  for (WORD i = 0; i < count; ++i) {
    ComPtr<ITaskTrigger> trigger;
    TASK_TRIGGER description = {};
    description.cbTriggerSize = sizeof(description);
    if (FAILED(task->GetTrigger(i, trigger.GetAddressOf())) ||
        FAILED(trigger->GetTrigger(&description)) ||
        description.TriggerType != TASK_TIME_TRIGGER_DAILY) {
      continue;
    }
    if (description.Type.Daily.DaysInterval == days) return true;
    description.Type.Daily.DaysInterval = static_cast<WORD>(days);
    return SUCCEEDED(trigger->SetTrigger(&description)) && SaveTask(task.Get());
  }
  return false;
}

void TaskSchedulerV1::SetTaskEnabled(const std::wstring& name, bool enabled) {
  ComPtr<ITask> task = OpenTask(BuildTaskName(environment_->GetBuildProductName(), name));
  DWORD flags = 0;
  if (!task || FAILED(task->GetFlags(&flags))) return;
  flags = enabled ? (flags & ~TASK_FLAG_DISABLED) : (flags | TASK_FLAG_DISABLED);
  // Saved, or the change would last only as long as this object.
  if (FAILED(task->SetFlags(flags)) || !SaveTask(task.Get()))
    LOG(ERROR) << "Cannot " << (enabled ? "enable" : "disable") << " the task";
}

bool TaskSchedulerV1::RunTask(const std::wstring& name, const std::vector<std::wstring>&) {
  ComPtr<ITask> task = OpenTask(BuildTaskName(environment_->GetBuildProductName(), name));
  return task && SUCCEEDED(task->Run());
}

TaskState TaskSchedulerV1::GetTaskState(const std::wstring& name) {
  ComPtr<ITask> task = OpenTask(BuildTaskName(environment_->GetBuildProductName(), name));
  if (!task) return TASK_STATE_CANNOT_OPEN;
  HRESULT status = S_OK;
  if (FAILED(task->GetStatus(&status))) return TASK_STATE_INDETERMINATE;
  switch (status) {
    case SCHED_S_TASK_READY:
    case SCHED_S_TASK_HAS_NOT_RUN:
      return TASK_STATE_IS_READY;
    case SCHED_S_TASK_RUNNING:
      return TASK_STATE_IS_RUNNING;
    case SCHED_S_TASK_DISABLED:
      return TASK_STATE_IS_DISABLED;
    case SCHED_S_TASK_NO_MORE_RUNS:
    case SCHED_S_TASK_NOT_SCHEDULED:
    case SCHED_S_TASK_NO_VALID_TRIGGERS:
      return TASK_STATE_NO_MORE_RUNS;
    default:
      return TASK_STATE_INDETERMINATE;
  }
}

base::Time TaskSchedulerV1::GetLastRunTime(const std::wstring& name) {
  ComPtr<ITask> task = OpenTask(BuildTaskName(environment_->GetBuildProductName(), name));
  SYSTEMTIME local = {};
  if (!task || task->GetMostRecentRunTime(&local) != S_OK) return base::Time();
  // Task Scheduler 1.0 keeps local times.
  SYSTEMTIME utc = {};
  FILETIME file_time = {};
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
      !SystemTimeToFileTime(&utc, &file_time)) {
    return base::Time();
  }
  return base::Time::FromFileTime(file_time);
}

}  // namespace installer
