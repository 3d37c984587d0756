// In-process fakes of the Task Scheduler 2.0 objects (service, root folder, registered
// tasks, task definitions with their triggers, actions, principal, registration info and
// settings). They keep what the code under test sets, for the tests to read back.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_FAKE_TASK_SERVICE_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_FAKE_TASK_SERVICE_TEST_UTIL_H_

#include <windows.h>

#include <taskschd.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/service/fake_com_object_test_util.h"
#include "desktop/windows/installer/service/task_scheduler_interfaces.h"

namespace installer {
namespace testing {

using Microsoft::WRL::ComPtr;

template <typename Interface>
class FakeTrigger : public FakeDispatch<Interface> {
 public:
  explicit FakeTrigger(TASK_TRIGGER_TYPE2 type) : type_(type) {}
  HRESULT STDMETHODCALLTYPE get_Type(TASK_TRIGGER_TYPE2* type) override {
    *type = type_;
    return S_OK;
  }
  FAKE_TEXT_PROPERTY(Id)
  FAKE_NOT_IMPLEMENTED(get_Repetition, IRepetitionPattern**)
  FAKE_NOT_IMPLEMENTED(put_Repetition, IRepetitionPattern*)
  FAKE_TEXT_PROPERTY(ExecutionTimeLimit)
  FAKE_TEXT_PROPERTY(StartBoundary)
  FAKE_TEXT_PROPERTY(EndBoundary)
  FAKE_NUMBER_PROPERTY(Enabled, VARIANT_BOOL)

 protected:
  void* QueryOther(REFIID iid) override {
    return IsEqualIID(iid, __uuidof(ITrigger)) ? static_cast<ITrigger*>(this) : nullptr;
  }

 private:
  TASK_TRIGGER_TYPE2 type_;
};

class FakeDailyTrigger : public FakeTrigger<IDailyTrigger> {
 public:
  FakeDailyTrigger() : FakeTrigger(TASK_TRIGGER_DAILY) {}
  FAKE_NUMBER_PROPERTY(DaysInterval, short)
  FAKE_TEXT_PROPERTY(RandomDelay)
};

class FakeLogonTrigger : public FakeTrigger<ILogonTrigger> {
 public:
  FakeLogonTrigger() : FakeTrigger(TASK_TRIGGER_LOGON) {}
  FAKE_TEXT_PROPERTY(Delay)
  FAKE_TEXT_PROPERTY(UserId)
};

class FakeBootTrigger : public FakeTrigger<IBootTrigger> {
 public:
  FakeBootTrigger() : FakeTrigger(TASK_TRIGGER_BOOT) {}
  FAKE_TEXT_PROPERTY(Delay)
};

class FakeRegistrationTrigger : public FakeTrigger<IRegistrationTrigger> {
 public:
  FakeRegistrationTrigger() : FakeTrigger(TASK_TRIGGER_REGISTRATION) {}
  FAKE_TEXT_PROPERTY(Delay)
};

class FakeTriggers : public FakeDispatch<ITriggerCollection> {
 public:
  struct Entry {
    TASK_TRIGGER_TYPE2 type;
    ComPtr<ITrigger> trigger;
    FakePropertyBag* properties;
  };

  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(entries.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, ITrigger** trigger) override {
    if (index < 1 || index > static_cast<LONG>(entries.size())) return E_INVALIDARG;
    return entries[index - 1].trigger.CopyTo(trigger);
  }
  FAKE_NOT_IMPLEMENTED(get__NewEnum, IUnknown**)
  HRESULT STDMETHODCALLTYPE Create(TASK_TRIGGER_TYPE2 type, ITrigger** trigger) override {
    if (type == refused_type) return E_NOTIMPL;
    Entry entry = {type, nullptr, nullptr};
    switch (type) {
      case TASK_TRIGGER_DAILY: Add<FakeDailyTrigger>(&entry); break;
      case TASK_TRIGGER_LOGON: Add<FakeLogonTrigger>(&entry); break;
      case TASK_TRIGGER_BOOT: Add<FakeBootTrigger>(&entry); break;
      case TASK_TRIGGER_REGISTRATION: Add<FakeRegistrationTrigger>(&entry); break;
      default: return E_NOTIMPL;
    }
    entries.push_back(entry);
    return entry.trigger.CopyTo(trigger);
  }
  FAKE_NOT_IMPLEMENTED(Remove, VARIANT)
  FAKE_NOT_IMPLEMENTED(Clear)

  std::vector<Entry> entries;
  int refused_type = -1;

 private:
  template <typename Fake>
  void Add(Entry* entry) {
    Fake* fake = new Fake();
    entry->trigger.Attach(static_cast<ITrigger*>(fake));
    entry->properties = &fake->properties();
  }
};

class FakeExecAction : public FakeDispatch<IExecAction> {
 public:
  FAKE_TEXT_PROPERTY(Id)
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override {
    *type = TASK_ACTION_EXEC;
    return S_OK;
  }
  FAKE_TEXT_PROPERTY(Path)
  FAKE_TEXT_PROPERTY(Arguments)
  FAKE_TEXT_PROPERTY(WorkingDirectory)

 protected:
  void* QueryOther(REFIID iid) override {
    return IsEqualIID(iid, __uuidof(IAction)) ? static_cast<IAction*>(this) : nullptr;
  }
};

class FakeActions : public FakeDispatch<IActionCollection> {
 public:
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(actions.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, IAction** action) override {
    if (index < 1 || index > static_cast<LONG>(actions.size())) return E_INVALIDARG;
    return actions[index - 1]->QueryInterface(IID_PPV_ARGS(action));
  }
  FAKE_NOT_IMPLEMENTED(get__NewEnum, IUnknown**)
  FAKE_TEXT_PROPERTY(XmlText)
  HRESULT STDMETHODCALLTYPE Create(TASK_ACTION_TYPE type, IAction** action) override {
    if (type != TASK_ACTION_EXEC) return E_NOTIMPL;
    actions.push_back(ComPtr<FakeExecAction>());
    actions.back().Attach(new FakeExecAction());
    return actions.back()->QueryInterface(IID_PPV_ARGS(action));
  }
  FAKE_NOT_IMPLEMENTED(Remove, VARIANT)
  FAKE_NOT_IMPLEMENTED(Clear)
  FAKE_TEXT_PROPERTY(Context)

  std::vector<ComPtr<FakeExecAction>> actions;
};

class FakePrincipal : public FakeDispatch<IPrincipal> {
 public:
  FAKE_TEXT_PROPERTY(Id)
  FAKE_TEXT_PROPERTY(DisplayName)
  FAKE_TEXT_PROPERTY(UserId)
  FAKE_NUMBER_PROPERTY(LogonType, TASK_LOGON_TYPE)
  FAKE_TEXT_PROPERTY(GroupId)
  FAKE_NUMBER_PROPERTY(RunLevel, TASK_RUNLEVEL_TYPE)
};

class FakeRegistrationInfo : public FakeDispatch<IRegistrationInfo> {
 public:
  FAKE_TEXT_PROPERTY(Description)
  FAKE_TEXT_PROPERTY(Author)
  FAKE_TEXT_PROPERTY(Version)
  FAKE_TEXT_PROPERTY(Date)
  FAKE_TEXT_PROPERTY(Documentation)
  FAKE_TEXT_PROPERTY(XmlText)
  FAKE_TEXT_PROPERTY(URI)
  FAKE_NOT_IMPLEMENTED(get_SecurityDescriptor, VARIANT*)
  FAKE_NOT_IMPLEMENTED(put_SecurityDescriptor, VARIANT)
  FAKE_TEXT_PROPERTY(Source)
};

class FakeSettings : public FakeDispatch<ITaskSettings> {
 public:
  FAKE_NUMBER_PROPERTY(AllowDemandStart, VARIANT_BOOL)
  FAKE_TEXT_PROPERTY(RestartInterval)
  FAKE_NUMBER_PROPERTY(RestartCount, INT)
  FAKE_NUMBER_PROPERTY(MultipleInstances, TASK_INSTANCES_POLICY)
  FAKE_NUMBER_PROPERTY(StopIfGoingOnBatteries, VARIANT_BOOL)
  FAKE_NUMBER_PROPERTY(DisallowStartIfOnBatteries, VARIANT_BOOL)
  FAKE_NUMBER_PROPERTY(AllowHardTerminate, VARIANT_BOOL)
  FAKE_NUMBER_PROPERTY(StartWhenAvailable, VARIANT_BOOL)
  FAKE_TEXT_PROPERTY(XmlText)
  FAKE_NUMBER_PROPERTY(RunOnlyIfNetworkAvailable, VARIANT_BOOL)
  FAKE_TEXT_PROPERTY(ExecutionTimeLimit)
  FAKE_NUMBER_PROPERTY(Enabled, VARIANT_BOOL)
  FAKE_TEXT_PROPERTY(DeleteExpiredTaskAfter)
  FAKE_NUMBER_PROPERTY(Priority, INT)
  FAKE_NUMBER_PROPERTY(Compatibility, TASK_COMPATIBILITY)
  FAKE_NUMBER_PROPERTY(Hidden, VARIANT_BOOL)
  FAKE_NOT_IMPLEMENTED(get_IdleSettings, IIdleSettings**)
  FAKE_NOT_IMPLEMENTED(put_IdleSettings, IIdleSettings*)
  FAKE_NUMBER_PROPERTY(RunOnlyIfIdle, VARIANT_BOOL)
  FAKE_NUMBER_PROPERTY(WakeToRun, VARIANT_BOOL)
  FAKE_NOT_IMPLEMENTED(get_NetworkSettings, INetworkSettings**)
  FAKE_NOT_IMPLEMENTED(put_NetworkSettings, INetworkSettings*)
};

class FakeDefinition : public FakeDispatch<ITaskDefinition> {
 public:
  FakeDefinition()
      : registration(MakeFake<FakeRegistrationInfo>()),
        triggers(MakeFake<FakeTriggers>()),
        settings(MakeFake<FakeSettings>()),
        principal(MakeFake<FakePrincipal>()),
        actions(MakeFake<FakeActions>()) {}

  HRESULT STDMETHODCALLTYPE get_RegistrationInfo(IRegistrationInfo** info) override {
    return registration.CopyTo(info);
  }
  FAKE_NOT_IMPLEMENTED(put_RegistrationInfo, IRegistrationInfo*)
  HRESULT STDMETHODCALLTYPE get_Triggers(ITriggerCollection** out) override {
    return triggers.CopyTo(out);
  }
  FAKE_NOT_IMPLEMENTED(put_Triggers, ITriggerCollection*)
  HRESULT STDMETHODCALLTYPE get_Settings(ITaskSettings** out) override {
    return settings.CopyTo(out);
  }
  FAKE_NOT_IMPLEMENTED(put_Settings, ITaskSettings*)
  FAKE_TEXT_PROPERTY(Data)
  HRESULT STDMETHODCALLTYPE get_Principal(IPrincipal** out) override {
    return principal.CopyTo(out);
  }
  FAKE_NOT_IMPLEMENTED(put_Principal, IPrincipal*)
  HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** out) override {
    return actions.CopyTo(out);
  }
  FAKE_NOT_IMPLEMENTED(put_Actions, IActionCollection*)
  FAKE_TEXT_PROPERTY(XmlText)

  // A definition whose one action runs `path`.
  static ComPtr<FakeDefinition> Running(const std::wstring& path, int action_count = 1) {
    ComPtr<FakeDefinition> definition = MakeFake<FakeDefinition>();
    for (int i = 0; i < action_count; ++i) {
      ComPtr<IAction> action;
      definition->actions->Create(TASK_ACTION_EXEC, action.GetAddressOf());
      definition->actions->actions.back()->put_Path(base::ScopedBstr(path.c_str()).Get());
    }
    return definition;
  }

  ComPtr<FakeRegistrationInfo> registration;
  ComPtr<FakeTriggers> triggers;
  ComPtr<FakeSettings> settings;
  ComPtr<FakePrincipal> principal;
  ComPtr<FakeActions> actions;
};

class FakeRegisteredTask : public FakeDispatch<IRegisteredTask> {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override {
    *out = SysAllocString(name.c_str());
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(get_Path, BSTR*)
  HRESULT STDMETHODCALLTYPE get_State(TASK_STATE* out) override {
    *out = state;
    return state_result;
  }
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* out) override {
    *out = enabled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL value) override {
    enabled = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Run(VARIANT parameters, IRunningTask** running) override {
    *running = nullptr;
    ++runs;
    run_arguments.clear();
    if (V_VT(&parameters) == (VT_ARRAY | VT_VARIANT)) {
      LONG low = 0, high = -1;
      SafeArrayGetLBound(V_ARRAY(&parameters), 1, &low);
      SafeArrayGetUBound(V_ARRAY(&parameters), 1, &high);
      for (LONG i = low; i <= high; ++i) {
        base::ScopedVariant item;
        SafeArrayGetElement(V_ARRAY(&parameters), &i, item.Receive());
        run_arguments.push_back(V_VT(&item.Get()) == VT_BSTR ? V_BSTR(&item.Get()) : L"?");
      }
    }
    return run_result;
  }
  FAKE_NOT_IMPLEMENTED(RunEx, VARIANT, LONG, LONG, BSTR, IRunningTask**)
  FAKE_NOT_IMPLEMENTED(GetInstances, LONG, IRunningTaskCollection**)
  HRESULT STDMETHODCALLTYPE get_LastRunTime(DATE* out) override {
    if (last_run_result == S_OK) *out = last_run;
    return last_run_result;
  }
  FAKE_NOT_IMPLEMENTED(get_LastTaskResult, LONG*)
  FAKE_NOT_IMPLEMENTED(get_NumberOfMissedRuns, LONG*)
  FAKE_NOT_IMPLEMENTED(get_NextRunTime, DATE*)
  HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** out) override {
    return definition.CopyTo(out);
  }
  FAKE_NOT_IMPLEMENTED(get_Xml, BSTR*)
  FAKE_NOT_IMPLEMENTED(GetSecurityDescriptor, LONG, BSTR*)
  HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR sddl, LONG) override {
    security_descriptor = sddl;
    return sddl_result;
  }
  FAKE_NOT_IMPLEMENTED(Stop, LONG)
  FAKE_NOT_IMPLEMENTED(GetRunTimes, const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*, LPSYSTEMTIME*)

  std::wstring name;
  TASK_STATE state = TASK_STATE_READY;
  HRESULT state_result = S_OK;
  VARIANT_BOOL enabled = VARIANT_TRUE;
  int runs = 0;
  std::vector<std::wstring> run_arguments;
  HRESULT run_result = S_OK;
  DATE last_run = 0;
  HRESULT last_run_result = S_OK;
  ComPtr<ITaskDefinition> definition;
  std::wstring security_descriptor;
  HRESULT sddl_result = S_OK;
};

class FakeTaskCollection : public FakeDispatch<IRegisteredTaskCollection> {
 public:
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(tasks.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IRegisteredTask** task) override {
    if (V_VT(&index) != VT_I4 || V_I4(&index) < 1 ||
        V_I4(&index) > static_cast<LONG>(tasks.size())) {
      return E_INVALIDARG;
    }
    return tasks[V_I4(&index) - 1]->QueryInterface(IID_PPV_ARGS(task));
  }
  FAKE_NOT_IMPLEMENTED(get__NewEnum, IUnknown**)

  std::vector<ComPtr<FakeRegisteredTask>> tasks;
};

struct Registration {
  std::wstring path;
  LONG flags;
  VARTYPE user_type;
  std::wstring user;
  VARTYPE password_type;
  TASK_LOGON_TYPE logon;
  VARTYPE sddl_type;
};

class FakeFolder : public FakeDispatch<ITaskFolder> {
 public:
  FAKE_NOT_IMPLEMENTED(get_Name, BSTR*)
  FAKE_NOT_IMPLEMENTED(get_Path, BSTR*)
  FAKE_NOT_IMPLEMENTED(GetFolder, BSTR, ITaskFolder**)
  FAKE_NOT_IMPLEMENTED(GetFolders, LONG, ITaskFolderCollection**)
  FAKE_NOT_IMPLEMENTED(CreateFolder, BSTR, VARIANT, ITaskFolder**)
  FAKE_NOT_IMPLEMENTED(DeleteFolder, BSTR, LONG)
  HRESULT STDMETHODCALLTYPE GetTask(BSTR path, IRegisteredTask** task) override {
    FakeRegisteredTask* found = Find(path);
    if (!found) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    return found->QueryInterface(IID_PPV_ARGS(task));
  }
  HRESULT STDMETHODCALLTYPE GetTasks(LONG flags, IRegisteredTaskCollection** out) override {
    enumeration_flags = flags;
    ComPtr<FakeTaskCollection> collection = MakeFake<FakeTaskCollection>();
    collection->tasks = tasks;
    return collection.CopyTo(out);
  }
  HRESULT STDMETHODCALLTYPE DeleteTask(BSTR name, LONG) override {
    deleted.push_back(name);
    for (auto it = tasks.begin(); it != tasks.end(); ++it) {
      if ((*it)->name == name) {
        tasks.erase(it);
        return S_OK;
      }
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  FAKE_NOT_IMPLEMENTED(RegisterTask, BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT,
      IRegisteredTask**)
  HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(BSTR path, ITaskDefinition* definition,
                                                   LONG flags, VARIANT user, VARIANT password,
                                                   TASK_LOGON_TYPE logon, VARIANT sddl,
                                                   IRegisteredTask** task) override {
    registrations.push_back({path, flags, V_VT(&user),
                             V_VT(&user) == VT_BSTR ? V_BSTR(&user) : L"", V_VT(&password),
                             logon, V_VT(&sddl)});
    if (FAILED(register_result)) return register_result;
    FakeRegisteredTask* existing = Find(path);
    if (!existing) {
      tasks.push_back(MakeFake<FakeRegisteredTask>());
      existing = tasks.back().Get();
      existing->name = path;
      existing->sddl_result = sddl_result;
    }
    existing->definition = definition;
    return existing->QueryInterface(IID_PPV_ARGS(task));
  }
  FAKE_NOT_IMPLEMENTED(GetSecurityDescriptor, LONG, BSTR*)
  FAKE_NOT_IMPLEMENTED(SetSecurityDescriptor, BSTR, LONG)

  FakeRegisteredTask* Find(const std::wstring& name) {
    for (const ComPtr<FakeRegisteredTask>& task : tasks)
      if (task->name == name) return task.Get();
    return nullptr;
  }
  FakeRegisteredTask* AddTask(const std::wstring& name, ComPtr<FakeDefinition> definition) {
    tasks.push_back(MakeFake<FakeRegisteredTask>());
    tasks.back()->name = name;
    tasks.back()->definition = definition;
    return tasks.back().Get();
  }

  std::vector<ComPtr<FakeRegisteredTask>> tasks;
  std::vector<Registration> registrations;
  std::vector<std::wstring> deleted;
  HRESULT register_result = S_OK;
  HRESULT sddl_result = S_OK;
  LONG enumeration_flags = -1;
};

class FakeService : public FakeDispatch<ITaskService> {
 public:
  FakeService() : folder(MakeFake<FakeFolder>()) {}

  HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** out) override {
    folder_path = path;
    return folder.CopyTo(out);
  }
  FAKE_NOT_IMPLEMENTED(GetRunningTasks, LONG, IRunningTaskCollection**)
  HRESULT STDMETHODCALLTYPE NewTask(DWORD, ITaskDefinition** out) override {
    definitions.push_back(MakeFake<FakeDefinition>());
    definitions.back()->triggers->refused_type = refused_trigger;
    return definitions.back().CopyTo(out);
  }
  HRESULT STDMETHODCALLTYPE Connect(VARIANT server, VARIANT user, VARIANT domain,
                                    VARIANT password) override {
    connect_types = {V_VT(&server), V_VT(&user), V_VT(&domain), V_VT(&password)};
    return connect_result;
  }
  FAKE_NOT_IMPLEMENTED(get_Connected, VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(get_TargetServer, BSTR*)
  FAKE_NOT_IMPLEMENTED(get_ConnectedUser, BSTR*)
  FAKE_NOT_IMPLEMENTED(get_ConnectedDomain, BSTR*)
  FAKE_NOT_IMPLEMENTED(get_HighestVersion, DWORD*)

  ComPtr<FakeFolder> folder;
  std::wstring folder_path;
  std::vector<ComPtr<FakeDefinition>> definitions;
  std::vector<VARTYPE> connect_types;
  HRESULT connect_result = S_OK;
  int refused_trigger = -1;
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_FAKE_TASK_SERVICE_TEST_UTIL_H_
