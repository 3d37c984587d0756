#include "base/process/launch.h"

#include <userenv.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

#include "base/debug/activity_tracker.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

typedef BOOL(WINAPI* InitializeProcThreadAttributeListFunction)(
    LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD attribute_count, DWORD flags, PSIZE_T size);
typedef BOOL(WINAPI* UpdateProcThreadAttributeFunction)(
    LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute, PVOID value,
    SIZE_T size, PVOID previous_value, PSIZE_T return_size);
typedef VOID(WINAPI* DeleteProcThreadAttributeListFunction)(LPPROC_THREAD_ATTRIBUTE_LIST list);

// Looked up without a lock: racing first uses store the same values.
InitializeProcThreadAttributeListFunction g_initialize_list = nullptr;
UpdateProcThreadAttributeFunction g_update_attribute = nullptr;
DeleteProcThreadAttributeListFunction g_delete_list = nullptr;

const DWORD_PTR kHandleListAttribute = 0x20002;  // PROC_THREAD_ATTRIBUTE_HANDLE_LIST
const size_t kMaxHandlesToInherit = 0x20000000;
const DWORD kJobAssignmentWaitMs = 60000;
const DWORD kCaptureChunkSize = 1024;
// A timed capture reads only after the child ended, so the pipe holds its whole output.
const DWORD kTimedCapturePipeSize = 64 * 1024;

// The name of the calling thread's desktop; empty when it cannot be read.
std::wstring CurrentDesktopName() {
  HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
  if (!desktop) return std::wstring();
  DWORD size = 0;
  GetUserObjectInformationW(desktop, UOI_NAME, nullptr, 0, &size);
  if (size < sizeof(wchar_t)) return std::wstring();
  std::wstring name(size / sizeof(wchar_t), L'\0');
  if (!GetUserObjectInformationW(desktop, UOI_NAME, &name[0], size, &size))
    return std::wstring();
  name.resize(wcsnlen(name.c_str(), name.size()));
  return name;
}

}  // namespace

LaunchOptions::LaunchOptions()
    : wait(false),
      start_hidden(false),
      handles_to_inherit(nullptr),
      inherit_handles(false),
      as_user(nullptr),
      empty_desktop_name(false),
      use_current_desktop(false),
      job_handle(nullptr),
      stdin_handle(nullptr),
      stdout_handle(nullptr),
      stderr_handle(nullptr),
      force_breakaway_from_job(false),
      environment(nullptr) {}

ProcThreadAttributeList::ProcThreadAttributeList() {
  ZeroMemory(&startup_info_, sizeof(startup_info_));
}

ProcThreadAttributeList::~ProcThreadAttributeList() { Free(); }

void ProcThreadAttributeList::Free() {
  if (!startup_info_.lpAttributeList) return;
  if (g_delete_list) g_delete_list(startup_info_.lpAttributeList);
  list_block_.Reset();
  startup_info_.lpAttributeList = nullptr;
}

void ProcThreadAttributeList::Initialize(OsVersion version) {
  Free();
  ZeroMemory(&startup_info_, sizeof(startup_info_));
  if (version < OS_VERSION_VISTA) {
    startup_info_.StartupInfo.cb = sizeof(STARTUPINFOW);
    return;
  }
  startup_info_.StartupInfo.cb = sizeof(STARTUPINFOEXW);
  if (g_initialize_list && g_update_attribute && g_delete_list) return;
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return;
  g_initialize_list = reinterpret_cast<InitializeProcThreadAttributeListFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "InitializeProcThreadAttributeList")));
  g_update_attribute = reinterpret_cast<UpdateProcThreadAttributeFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "UpdateProcThreadAttribute")));
  g_delete_list = reinterpret_cast<DeleteProcThreadAttributeListFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "DeleteProcThreadAttributeList")));
}

bool ProcThreadAttributeList::SetHandleList(const HandlesToInheritVector& handles) {
  if (!extended() || startup_info_.lpAttributeList) return false;
  if (!g_initialize_list || !g_update_attribute || !g_delete_list) return false;
  SIZE_T size = 0;
  g_initialize_list(nullptr, 1, 0, &size);
  if (size == 0) return false;
  ScopedProcessHeapBlock<_PROC_THREAD_ATTRIBUTE_LIST> block(
      static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, size)));
  if (!block.IsValid()) return false;
  if (!g_initialize_list(block.Get(), 1, 0, &size)) return false;
  LPPROC_THREAD_ATTRIBUTE_LIST list = block.Get();
  list_block_ = std::move(block);
  startup_info_.lpAttributeList = list;
  handles_ = handles;
  if (!g_update_attribute(list, 0, kHandleListAttribute, &handles_[0],
                          handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
    Free();
    return false;
  }
  return true;
}

Process LaunchProcess(const CommandLine& command_line, const LaunchOptions& options) {
  return LaunchProcess(command_line.GetCommandLineString(), options);
}

namespace {

// Makes the handles to inherit inheritable and lists them in |attributes|; false fails
// the launch.
[[nodiscard]] bool PrepareInheritedHandles(const LaunchOptions& options,
                                           ProcThreadAttributeList* attributes, BOOL* inherit,
                                           DWORD* flags) {
  *inherit = options.inherit_handles ? TRUE : FALSE;
  if (!options.handles_to_inherit) return true;
  const HandlesToInheritVector& handles = *options.handles_to_inherit;
  if (handles.empty()) {
    *inherit = FALSE;
    return true;
  }
  if (handles.size() >= kMaxHandlesToInherit) return false;
  for (HANDLE handle : handles) {
    // A handle that cannot be passed on fails the launch rather than the process.
    if (!SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
      PLOG(ERROR) << "Could not make a handle inheritable";
      return false;
    }
  }
  if (!attributes->SetHandleList(handles)) return false;
  *inherit = TRUE;
  *flags |= EXTENDED_STARTUPINFO_PRESENT;
  return true;
}

// The desktop, window and standard handles of the child; |desktop_name| holds the name
// |startup| points to. False fails the launch.
[[nodiscard]] bool FillStartupInfo(const LaunchOptions& options, STARTUPINFOW* startup,
                                   std::wstring* desktop_name) {
  if (options.empty_desktop_name) {
    startup->lpDesktop = const_cast<wchar_t*>(L"");
  } else if (options.use_current_desktop) {
    *desktop_name = CurrentDesktopName();
    if (desktop_name->empty()) {
      LOG(ERROR) << "Could not read the name of the current desktop";
      return false;
    }
    startup->lpDesktop = &(*desktop_name)[0];
  }

  startup->dwFlags = STARTF_USESHOWWINDOW;
  startup->wShowWindow = options.start_hidden ? SW_HIDE : SW_SHOWNORMAL;

  if (options.stdin_handle || options.stdout_handle || options.stderr_handle) {
    startup->dwFlags |= STARTF_USESTDHANDLES;
    startup->hStdInput = options.stdin_handle;
    startup->hStdOutput = options.stdout_handle;
    startup->hStdError = options.stderr_handle;
  }
  return true;
}

DWORD JobCreationFlags(const LaunchOptions& options, OsVersion version) {
  DWORD flags = 0;
  if (options.job_handle) {
    flags |= CREATE_SUSPENDED;
    // Before Windows 8 a process can be in one job only, so it must leave ours.
    if (version < OS_VERSION_WIN8) flags |= CREATE_BREAKAWAY_FROM_JOB;
  }
  if (options.force_breakaway_from_job) flags |= CREATE_BREAKAWAY_FROM_JOB;
  return flags;
}

// CreateProcessW, or CreateProcessAsUserW with the user's environment.
[[nodiscard]] bool CreateChild(const std::wstring& command_line, const LaunchOptions& options,
                               BOOL inherit, DWORD flags, STARTUPINFOW* startup,
                               PROCESS_INFORMATION* info) {
  const wchar_t* current_directory =
      options.current_directory.empty() ? nullptr : options.current_directory.value().c_str();
  std::wstring writable_command_line = command_line;
  writable_command_line.push_back(L'\0');
  if (!options.as_user) {
    void* environment = const_cast<wchar_t*>(options.environment);
    if (environment) flags |= CREATE_UNICODE_ENVIRONMENT;
    return CreateProcessW(nullptr, &writable_command_line[0], nullptr, nullptr, inherit, flags,
                          environment, current_directory, startup, info) != FALSE;
  }
  ScopedEnvironmentBlock environment;
  if (!CreateEnvironmentBlock(environment.Receive(), options.as_user, FALSE)) return false;
  return CreateProcessAsUserW(options.as_user, nullptr, &writable_command_line[0], nullptr,
                              nullptr, inherit, flags | CREATE_UNICODE_ENVIRONMENT,
                              environment.Get(), current_directory, startup, info) != FALSE;
}

// Puts a child started suspended into the job and lets it run; false, with the child
// ended, when the job refuses it.
[[nodiscard]] bool AssignToJobAndResume(HANDLE job, const ScopedHandle& process,
                                        const ScopedHandle& thread, DWORD process_id) {
  if (!AssignProcessToJobObject(job, process.Get())) {
    // Never leave a suspended child behind.
    if (TerminateProcess(process.Get(), 1)) {
      WaitForSingleObject(process.Get(), kJobAssignmentWaitMs);
      if (debug::GlobalActivityTracker* tracker = debug::GlobalActivityTracker::Get())
        tracker->RecordProcessExit(process_id, 1);
    }
    return false;
  }
  ResumeThread(thread.Get());
  return true;
}

}  // namespace

Process LaunchProcess(const std::wstring& command_line, const LaunchOptions& options) {
  const OsVersion version = GetWindowsVersion();
  ProcThreadAttributeList attributes;
  attributes.Initialize(version);
  STARTUPINFOW* startup = &attributes.startup_info()->StartupInfo;
  BOOL inherit = FALSE;
  DWORD flags = 0;
  if (!PrepareInheritedHandles(options, &attributes, &inherit, &flags)) return Process();
  std::wstring desktop_name;
  if (!FillStartupInfo(options, startup, &desktop_name)) return Process();
  flags |= JobCreationFlags(options, version);

  PROCESS_INFORMATION info = {};
  if (!CreateChild(command_line, options, inherit, flags, startup, &info)) return Process();
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  if (options.job_handle &&
      !AssignToJobAndResume(options.job_handle, process, thread, info.dwProcessId)) {
    return Process();
  }

  if (options.wait) WaitForSingleObject(process.Get(), INFINITE);
  if (debug::GlobalActivityTracker* tracker = debug::GlobalActivityTracker::Get())
    tracker->RecordProcessLaunch(info.dwProcessId, command_line);
  return Process(process.Take());
}

bool RunAndCaptureOutput(const CommandLine& command_line, std::string* output) {
  return RunAndCaptureOutput(command_line.GetCommandLineString(), output);
}

namespace {

// A child started with its standard output on a pipe whose read end is ours.
struct CapturedChild {
  ScopedHandle process;
  ScopedHandle read_end;
  DWORD pid = 0;
};

[[nodiscard]] bool StartCapturedChild(const std::wstring& command_line, DWORD pipe_size,
                                      CapturedChild* child) {
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof(security);
  security.bInheritHandle = TRUE;
  HANDLE read_handle = nullptr;
  HANDLE write_handle = nullptr;
  if (!CreatePipe(&read_handle, &write_handle, &security, pipe_size)) return false;
  ScopedHandle read_end(read_handle);
  ScopedHandle write_end(write_handle);
  if (!SetHandleInformation(read_end.Get(), HANDLE_FLAG_INHERIT, 0)) return false;

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end.Get();
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring writable_command_line = command_line;
  writable_command_line.push_back(L'\0');
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &writable_command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return false;
  }
  child->process.Set(info.hProcess);
  ScopedHandle thread(info.hThread);
  child->read_end = std::move(read_end);
  child->pid = info.dwProcessId;
  debug::GlobalActivityTracker* tracker = debug::GlobalActivityTracker::Get();
  if (tracker) tracker->RecordProcessLaunch(info.dwProcessId, command_line);
  // Only the child may hold the write end, or a read never sees its end.
  return true;
}

[[nodiscard]] bool FinishCapturedChild(const CapturedChild& child) {
  int exit_code = 0;
  const TerminationStatus status = GetProcessTerminationStatus(child.process.Get(), &exit_code);
  debug::GlobalActivityTracker* tracker = debug::GlobalActivityTracker::Get();
  if (tracker) tracker->RecordProcessExit(child.pid, exit_code);
  return status != TERMINATION_STATUS_ABNORMAL_TERMINATION &&
         status != TERMINATION_STATUS_PROCESS_CRASHED;
}

}  // namespace

bool RunAndCaptureOutput(const std::wstring& command_line, std::string* output) {
  CapturedChild child;
  if (!StartCapturedChild(command_line, 0, &child)) return false;

  char buffer[kCaptureChunkSize];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(child.read_end.Get(), buffer, kCaptureChunkSize, &read, nullptr) ||
        read == 0)
      break;
    output->append(buffer, read);
  }

  WaitForSingleObject(child.process.Get(), INFINITE);
  return FinishCapturedChild(child);
}

bool RunAndCaptureOutputWithTimeout(const std::wstring& command_line, TimeDelta timeout,
                                    Lock* launch_lock, std::string* output, bool* timed_out) {
  *timed_out = false;
  CapturedChild child;
  {
    std::unique_ptr<AutoLock> hold(launch_lock ? new AutoLock(*launch_lock) : nullptr);
    if (!StartCapturedChild(command_line, kTimedCapturePipeSize, &child)) return false;
  }

  const DWORD wait = static_cast<DWORD>(std::max<int64_t>(0, timeout.InMilliseconds()));
  if (WaitForSingleObject(child.process.Get(), wait) != WAIT_OBJECT_0) {
    *timed_out = true;
    TerminateProcess(child.process.Get(), 1);
    WaitForSingleObject(child.process.Get(), INFINITE);
    return false;
  }
  // Only what is already in the pipe: a grandchild may still hold its write end.
  char buffer[kCaptureChunkSize];
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(child.read_end.Get(), nullptr, 0, nullptr, &available, nullptr) ||
        available == 0)
      break;
    DWORD read = 0;
    if (!ReadFile(child.read_end.Get(), buffer,
                  std::min<DWORD>(available, kCaptureChunkSize), &read, nullptr) ||
        read == 0)
      break;
    output->append(buffer, read);
  }
  return FinishCapturedChild(child);
}

TerminationStatus TerminationStatusFromExitCode(DWORD exit_code) {
  switch (exit_code) {
    case 0:
      return TERMINATION_STATUS_NORMAL_TERMINATION;
    case 1:           // TerminateProcess by a task manager
    case 0x40010004:  // the debugger ended it
    case 0xC000013A:  // Ctrl+C or end of session
    case 0xC0000354:  // debugger inactive
      return TERMINATION_STATUS_PROCESS_WAS_KILLED;
    case 0xE0000008:  // out-of-memory exception
    case 7012:        // a job's memory limit was exceeded
      return TERMINATION_STATUS_OOM;
  }
  // Warning- and error-severity status codes are unhandled exceptions (a breakpoint,
  // 0x80000003, is how a failed check ends a process); any other code is the program's
  // own exit status.
  if (exit_code & 0x80000000) return TERMINATION_STATUS_PROCESS_CRASHED;
  return TERMINATION_STATUS_NORMAL_TERMINATION;
}

TerminationStatus GetProcessTerminationStatus(HANDLE process, int* exit_code) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) {
    // Nothing is known about the process: never report that as a clean exit.
    if (exit_code) *exit_code = 0;
    return TERMINATION_STATUS_ABNORMAL_TERMINATION;
  }
  if (code == STILL_ACTIVE) {
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
      if (exit_code) *exit_code = WAIT_TIMEOUT;
      return TERMINATION_STATUS_STILL_RUNNING;
    }
    if (exit_code) *exit_code = static_cast<int>(code);
    return TERMINATION_STATUS_ABNORMAL_TERMINATION;
  }
  if (exit_code) *exit_code = static_cast<int>(code);
  return TerminationStatusFromExitCode(code);
}

bool GetJobProcessIds(HANDLE job, std::vector<DWORD>* ids) {
  const size_t kMaxIds = 256;
  std::vector<ULONG_PTR> buffer(kMaxIds + 2);
  JOBOBJECT_BASIC_PROCESS_ID_LIST* list =
      reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
  list->NumberOfAssignedProcesses = kMaxIds;
  if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                 static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)), nullptr))
    return false;
  ids->clear();
  for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i)
    ids->push_back(static_cast<DWORD>(list->ProcessIdList[i]));
  return true;
}

bool EndJobProcesses(HANDLE job, UINT exit_code) {
  // A process the job still lists after its end is waited for once; one that a dying
  // process started meanwhile shows in the next round and is ended with it.
  std::set<DWORD> ended;
  for (;;) {
    if (!TerminateJobObject(job, exit_code)) return false;
    std::vector<DWORD> ids;
    if (!GetJobProcessIds(job, &ids)) return false;
    bool waited = false;
    for (DWORD id : ids) {
      if (!ended.insert(id).second) continue;
      // Gone already when it cannot be opened, or when its id now names a process
      // outside the job.
      const ScopedHandle process(
          OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
      BOOL in_job = FALSE;
      if (process.IsValid() && IsProcessInJob(process.Get(), job, &in_job) && in_job &&
          WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0)
        return false;
      waited = true;
    }
    if (!waited) return true;
  }
}

}  // namespace base
