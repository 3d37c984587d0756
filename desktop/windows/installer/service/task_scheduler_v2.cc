#include "desktop/windows/installer/service/task_scheduler_v2.h"

#include <oleauto.h>

#include <utility>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/service/task_scheduler_interfaces.h"

// The scheduler's class identifier, which the headers only declare, is defined here.
#include <initguid.h>
DEFINE_GUID(CLSID_TaskScheduler, 0x0f87369f, 0xa4e5, 0x4cfc, 0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45,
            0x72, 0xdd);

namespace installer {

namespace {

using Microsoft::WRL::ComPtr;

const wchar_t kRootFolder[] = L"\\";
const wchar_t kDailyTriggerId[] = L"Daily run";
const wchar_t kRunOnceTriggerId[] = L"Run once";
const wchar_t kLogonTriggerId[] = L"Logon run";
const wchar_t kSystemUser[] = L"SYSTEM";
// Authenticated users may read and run the machine-wide task.
const wchar_t kMachineWideTaskSddl[] = L"D:(A;;GRGX;;;AU)";
// A run-once task starts from its registration trigger, which ends this much later.
const int kRunOnceDelaySeconds = 30;

// Scheduler text for `time` as local time.
std::wstring FormatBoundary(base::Time time) {
  base::Time::Exploded exploded = {};
  time.LocalExplode(&exploded);
  return base::StringPrintf(L"%02d-%02d-%02dT%02d:%02d:%02d", exploded.year, exploded.month,
                            exploded.day_of_month, exploded.hour, exploded.minute,
                            exploded.second);
}

// A one-dimensional array of string variants; VT_EMPTY for no arguments.
[[nodiscard]] bool MakeArgumentVariant(const std::vector<std::wstring>& arguments, VARIANT* out) {
  VariantInit(out);
  if (arguments.empty()) return true;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(arguments.size()));
  if (!array) return false;
  for (LONG i = 0; i < static_cast<LONG>(arguments.size()); ++i) {
    base::ScopedVariant item(arguments[i].c_str());
    if (FAILED(SafeArrayPutElement(array, &i, const_cast<VARIANT*>(&item.Get())))) {
      SafeArrayDestroy(array);
      return false;
    }
  }
  V_VT(out) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(out) = array;
  return true;
}

}  // namespace

TaskSchedulerV2::TaskSchedulerV2(TaskSchedulerEnvironment* environment,
                                 const ComObjectFactory& factory, Clock now)
    : environment_(environment), factory_(factory), now_(now) {}

TaskSchedulerV2::~TaskSchedulerV2() {
  root_.Reset();
  service_.Reset();
}

bool TaskSchedulerV2::Init() {
  if (FAILED(factory_(CLSID_TaskScheduler, CLSCTX_INPROC_SERVER, __uuidof(ITaskService),
                      reinterpret_cast<void**>(service_.ReleaseAndGetAddressOf())))) {
    service_.Reset();
    return false;
  }
  // Empty variants: this machine, the current user.
  base::ScopedVariant server, user, domain, password;
  if (FAILED(service_->Connect(server.Get(), user.Get(), domain.Get(), password.Get())))
    return false;
  return SUCCEEDED(
      service_->GetFolder(base::ScopedBstr(kRootFolder).Get(), root_.ReleaseAndGetAddressOf()));
}

std::wstring TaskSchedulerV2::FullName(const std::wstring& name) {
  return BuildTaskName(environment_->GetBuildProductName(), name);
}

ComPtr<IRegisteredTask> TaskSchedulerV2::OpenTask(const std::wstring& name) {
  ComPtr<IRegisteredTask> task;
  if (!root_ ||
      FAILED(root_->GetTask(base::ScopedBstr(FullName(name).c_str()).Get(), task.GetAddressOf())))
    return nullptr;
  return task;
}

bool TaskSchedulerV2::RegisterTask(const ScheduledTaskInfo& info) {
  if (!service_ || !root_) return false;
  std::wstring user;
  if (!environment_->GetSamCompatibleUserName(&user)) return false;
  ComPtr<ITaskDefinition> definition;
  if (FAILED(service_->NewTask(0, definition.GetAddressOf()))) return false;
  if (!BuildDefinition(info, user, definition.Get())) return false;

  const std::wstring full_name = FullName(info.name);
  const base::ScopedBstr path(full_name.c_str());
  base::ScopedVariant no_password, empty_sddl;
  ComPtr<IRegisteredTask> registered;
  HRESULT result;
  if (info.machine_wide) {
    base::ScopedVariant system_user(kSystemUser);
    result = root_->RegisterTaskDefinition(path.Get(), definition.Get(), TASK_CREATE_OR_UPDATE,
                                           system_user.Get(), no_password.Get(),
                                           TASK_LOGON_SERVICE_ACCOUNT, empty_sddl.Get(),
                                           registered.GetAddressOf());
    if (SUCCEEDED(result)) {
      const HRESULT sddl_result =
          registered->SetSecurityDescriptor(base::ScopedBstr(kMachineWideTaskSddl).Get(), 0);
      if (FAILED(sddl_result))
        LOG(ERROR) << "Failed setting SDDL: " << static_cast<long>(sddl_result);
    }
  } else {
    base::ScopedVariant no_user;
    result = root_->RegisterTaskDefinition(path.Get(), definition.Get(), TASK_CREATE_OR_UPDATE,
                                           no_user.Get(), no_password.Get(),
                                           TASK_LOGON_INTERACTIVE_TOKEN, empty_sddl.Get(),
                                           registered.GetAddressOf());
  }
  if (FAILED(result)) {
    LOG(ERROR) << "Failed task registration: " << static_cast<long>(result);
    return false;
  }
  // The registration trigger has started it already.
  if (info.schedule == ScheduledTaskInfo::kRunOnceNow) root_->DeleteTask(path.Get(), 0);
  return true;
}

bool TaskSchedulerV2::BuildDefinition(const ScheduledTaskInfo& info, const std::wstring& user,
                                      ITaskDefinition* definition) {
  ComPtr<IRegistrationInfo> registration;
  if (FAILED(definition->get_RegistrationInfo(registration.GetAddressOf())) ||
      FAILED(registration->put_Author(base::ScopedBstr(user.c_str()).Get())) ||
      FAILED(registration->put_Description(base::ScopedBstr(info.description.c_str()).Get()))) {
    return false;
  }

  ComPtr<ITaskSettings> settings;
  const std::wstring limit = base::StringPrintf(L"PT%uS", info.time_limit);  // PT0S: none
  if (FAILED(definition->get_Settings(settings.GetAddressOf())) ||
      FAILED(settings->put_ExecutionTimeLimit(base::ScopedBstr(limit.c_str()).Get())) ||
      FAILED(settings->put_MultipleInstances(TASK_INSTANCES_IGNORE_NEW)) ||
      FAILED(settings->put_RunOnlyIfNetworkAvailable(info.network_only ? VARIANT_TRUE
                                                                       : VARIANT_FALSE)) ||
      FAILED(settings->put_StopIfGoingOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_StartWhenAvailable(VARIANT_TRUE))) {
    return false;
  }
  const bool run_once = info.schedule == ScheduledTaskInfo::kRunOnceNow;
  if (run_once && FAILED(settings->put_DeleteExpiredTaskAfter(base::ScopedBstr(L"PT0S").Get())))
    return false;

  base::Time boundary_time = now_();
  if (run_once) boundary_time += base::TimeDelta::FromSeconds(kRunOnceDelaySeconds);
  if (!AddTriggers(info, user, FormatBoundary(boundary_time), definition)) return false;

  ComPtr<IActionCollection> actions;
  ComPtr<IAction> action;
  ComPtr<IExecAction> exec_action;
  if (FAILED(definition->get_Actions(actions.GetAddressOf())) ||
      FAILED(actions->Create(TASK_ACTION_EXEC, action.GetAddressOf())) ||
      FAILED(action.As(&exec_action)) ||
      FAILED(exec_action->put_Path(
          base::ScopedBstr(info.command.GetProgram().value().c_str()).Get())) ||
      FAILED(exec_action->put_Arguments(
          base::ScopedBstr(info.command.GetArgumentsString().c_str()).Get()))) {
    return false;
  }

  if (environment_->IsUserAdmin()) {
    ComPtr<IPrincipal> principal;
    if (FAILED(definition->get_Principal(principal.GetAddressOf())) ||
        FAILED(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST))) {
      return false;
    }
  }
  return true;
}

bool TaskSchedulerV2::AddTriggers(const ScheduledTaskInfo& info, const std::wstring& user,
                                  const std::wstring& boundary, ITaskDefinition* definition) {
  ComPtr<ITriggerCollection> triggers;
  if (FAILED(definition->get_Triggers(triggers.GetAddressOf()))) return false;
  const base::ScopedBstr boundary_text(boundary.c_str());

  if (info.schedule == ScheduledTaskInfo::kDaily) {
    ComPtr<ITrigger> trigger;
    ComPtr<IDailyTrigger> daily;
    if (FAILED(triggers->Create(TASK_TRIGGER_DAILY, trigger.GetAddressOf())) ||
        FAILED(trigger.As(&daily)) ||
        FAILED(daily->put_Id(base::ScopedBstr(kDailyTriggerId).Get())) ||
        FAILED(daily->put_StartBoundary(boundary_text.Get())) ||
        FAILED(daily->put_DaysInterval(1))) {
      return false;
    }
  } else if (info.schedule == ScheduledTaskInfo::kRunOnceNow) {
    ComPtr<ITrigger> trigger;
    ComPtr<IRegistrationTrigger> registration;
    if (FAILED(triggers->Create(TASK_TRIGGER_REGISTRATION, trigger.GetAddressOf())) ||
        FAILED(trigger.As(&registration)) ||
        FAILED(registration->put_Id(base::ScopedBstr(kRunOnceTriggerId).Get())) ||
        FAILED(registration->put_EndBoundary(boundary_text.Get()))) {
      return false;
    }
  }

  if (!info.logon_trigger || info.schedule == ScheduledTaskInfo::kRunOnceNow) return true;
  const base::ScopedBstr delay(
      base::StringPrintf(L"PT%dM", environment_->GetScheduledAutoupdateDelayMin()).c_str());
  const base::ScopedBstr id(kLogonTriggerId);
  ComPtr<ITrigger> trigger;
  if (info.machine_wide) {
    // No user is logged on for a machine-wide task: it starts with the system.
    ComPtr<IBootTrigger> boot;
    return SUCCEEDED(triggers->Create(TASK_TRIGGER_BOOT, trigger.GetAddressOf())) &&
           SUCCEEDED(trigger.As(&boot)) && SUCCEEDED(boot->put_Id(id.Get())) &&
           SUCCEEDED(boot->put_StartBoundary(boundary_text.Get())) &&
           SUCCEEDED(boot->put_Delay(delay.Get()));
  }
  ComPtr<ILogonTrigger> logon;
  return SUCCEEDED(triggers->Create(TASK_TRIGGER_LOGON, trigger.GetAddressOf())) &&
         SUCCEEDED(trigger.As(&logon)) && SUCCEEDED(logon->put_Id(id.Get())) &&
         SUCCEEDED(logon->put_StartBoundary(boundary_text.Get())) &&
         SUCCEEDED(logon->put_UserId(base::ScopedBstr(user.c_str()).Get())) &&
         SUCCEEDED(logon->put_Delay(delay.Get()));
}

void TaskSchedulerV2::DeleteOrphanedTasks() {
  if (!root_) return;
  ComPtr<IRegisteredTaskCollection> tasks;
  LONG count = 0;
  if (FAILED(root_->GetTasks(0, tasks.GetAddressOf())) || FAILED(tasks->get_Count(&count)))
    return;
  // Deleted after the walk, so the collection does not change under it.
  std::vector<std::wstring> orphans;
  for (LONG i = 1; i <= count; ++i) {
    VARIANT index;
    VariantInit(&index);
    V_VT(&index) = VT_I4;
    V_I4(&index) = i;
    ComPtr<IRegisteredTask> task;
    base::ScopedBstr name;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(tasks->get_Item(index, task.GetAddressOf())) ||
        FAILED(task->get_Name(name.Receive())) || !name.Get() ||
        !IsProductTaskName(name.Get()) || FAILED(task->get_Enabled(&enabled)) || !enabled) {
      continue;
    }
    ComPtr<ITaskDefinition> definition;
    ComPtr<IActionCollection> actions;
    LONG action_count = 0;
    ComPtr<IAction> action;
    TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
    ComPtr<IExecAction> exec_action;
    base::ScopedBstr path;
    if (FAILED(task->get_Definition(definition.GetAddressOf())) ||
        FAILED(definition->get_Actions(actions.GetAddressOf())) ||
        FAILED(actions->get_Count(&action_count)) || action_count != 1 ||
        FAILED(actions->get_Item(1, action.GetAddressOf())) || FAILED(action->get_Type(&type)) ||
        type != TASK_ACTION_EXEC || FAILED(action.As(&exec_action)) ||
        FAILED(exec_action->get_Path(path.Receive())) || !path.Get()) {
      continue;
    }
    // The path is cut at its first NUL.
    if (!base::PathExists(base::FilePath(std::wstring(path.Get()))))
      orphans.push_back(name.Get());
  }
  for (const std::wstring& orphan : orphans)
    root_->DeleteTask(base::ScopedBstr(orphan.c_str()).Get(), 0);
}

void TaskSchedulerV2::DeleteTask(const std::wstring& name) {
  if (root_) root_->DeleteTask(base::ScopedBstr(FullName(name).c_str()).Get(), 0);
}

bool TaskSchedulerV2::SetDailyInterval(const std::wstring& name, int days) {
  ComPtr<IRegisteredTask> task = OpenTask(name);
  ComPtr<ITaskDefinition> definition;
  ComPtr<ITriggerCollection> triggers;
  LONG count = 0;
  if (!task || FAILED(task->get_Definition(definition.GetAddressOf())) ||
      FAILED(definition->get_Triggers(triggers.GetAddressOf())) ||
      FAILED(triggers->get_Count(&count))) {
    return false;
  }
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<ITrigger> trigger;
    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    if (FAILED(triggers->get_Item(i, trigger.GetAddressOf())) || FAILED(trigger->get_Type(&type)) ||
        type != TASK_TRIGGER_DAILY) {
      continue;
    }
    ComPtr<IDailyTrigger> daily;
    short interval = 0;
    if (FAILED(trigger.As(&daily)) || FAILED(daily->get_DaysInterval(&interval))) return false;
    if (interval == days) return true;
    if (FAILED(daily->put_DaysInterval(static_cast<short>(days)))) return false;
    base::ScopedVariant no_user, no_password, no_sddl;
    ComPtr<IRegisteredTask> updated;
    return SUCCEEDED(root_->RegisterTaskDefinition(
        base::ScopedBstr(FullName(name).c_str()).Get(), definition.Get(), TASK_UPDATE,
        no_user.Get(), no_password.Get(), TASK_LOGON_NONE, no_sddl.Get(),
        updated.GetAddressOf()));
  }
  return false;
}

void TaskSchedulerV2::SetTaskEnabled(const std::wstring& name, bool enabled) {
  ComPtr<IRegisteredTask> task = OpenTask(name);
  if (task) task->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
}

bool TaskSchedulerV2::RunTask(const std::wstring& name,
                              const std::vector<std::wstring>& arguments) {
  ComPtr<IRegisteredTask> task = OpenTask(name);
  if (!task) return false;
  base::ScopedVariant parameters;
  if (!MakeArgumentVariant(arguments, parameters.Receive())) return false;
  ComPtr<IRunningTask> running;
  return SUCCEEDED(task->Run(parameters.Get(), running.GetAddressOf()));
}

TaskState TaskSchedulerV2::GetTaskState(const std::wstring& name) {
  ComPtr<IRegisteredTask> task = OpenTask(name);
  if (!task) return TASK_STATE_CANNOT_OPEN;
  TASK_STATE state = TASK_STATE_UNKNOWN;
  if (FAILED(task->get_State(&state))) return TASK_STATE_INDETERMINATE;
  switch (state) {
    case TASK_STATE_DISABLED:
      return TASK_STATE_IS_DISABLED;
    case TASK_STATE_QUEUED:
    case TASK_STATE_READY:
      return TASK_STATE_IS_READY;
    case TASK_STATE_RUNNING:
      return TASK_STATE_IS_RUNNING;
    default:
      return TASK_STATE_INDETERMINATE;
  }
}

base::Time TaskSchedulerV2::GetLastRunTime(const std::wstring& name) {
  ComPtr<IRegisteredTask> task = OpenTask(name);
  if (!task) return base::Time();
  DATE date = 0;
  // Other success codes (a task that has not run) come without a date.
  if (task->get_LastRunTime(&date) != S_OK || date == 0) return base::Time();
  SYSTEMTIME system_time = {};
  FILETIME file_time = {};
  if (!VariantTimeToSystemTime(date, &system_time) ||
      !SystemTimeToFileTime(&system_time, &file_time)) {
    return base::Time();
  }
  return base::Time::FromFileTime(file_time);
}

}  // namespace installer
