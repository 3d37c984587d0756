#include "crash/reporter/crash_client.h"

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/wrapped_window_proc.h"
#include "crash/reporter/crash_client_info.h"
#include "crash/reporter/crash_client_values.h"
#include "crash/reporter/crash_exception_handler.h"
#include "crash/reporter/installer_crash_client_config.h"
#include "crash/util/crash_keys.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"

namespace crash_reporter {

namespace {

constexpr wchar_t kInstallerProcessType[] = L"installer";
// The exception policy bit that lets the system swallow exceptions raised in callbacks.
constexpr DWORD kExceptionSwallowingFlag = 0x1;

uint32_t g_reporter_id = 0;
CrashClientInfo* g_client_info = nullptr;
CrashExceptionHandler* g_handler = nullptr;
volatile LONG g_crash_gate = 0;

CrashClientInfo* GetClientInfo() {
  if (!g_client_info) g_client_info = BuildCrashClientInfo(kInstallerProcessType).release();
  return g_client_info;
}

// The process command line, also before the process-wide one exists.
base::CommandLine GetOwnCommandLine() {
  if (const base::CommandLine* current = base::CommandLine::ForCurrentProcess())
    return *current;
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  command_line.ParseFromString(GetCommandLineW());
  return command_line;
}

// A request the reporter did not answer (dead, abandoned, timed out) is no dump: the
// crash then goes on to whatever handled crashes before.
bool DumpWritten(const wchar_t*, const wchar_t*, void*, EXCEPTION_POINTERS*,
                 const AssertionInfo*, bool succeeded) {
  return succeeded;
}

void SetKeyCallback(base::StringPiece key, base::StringPiece value) {
  GetClientInfo()->SetKey(key, value);
}

void ClearKeyCallback(base::StringPiece key) { GetClientInfo()->ClearKey(key); }

}  // namespace

void DisableExceptionSwallowing() {
  DWORD flags = 0;
  if (!GetProcessExceptionPolicy(&flags)) return;
  // Where the system refuses, exceptions stay swallowed: nothing else can be done.
  (void)SetProcessExceptionPolicy(flags & ~kExceptionSwallowingFlag);
}

bool StartCrashReporter() {
  g_reporter_id = internal::FindOrLaunchCrashReporter(GetOwnCommandLine(),
                                                      installer::GetBuildUbn());
  return g_reporter_id != 0;
}

uint32_t GetCrashReporterProcessId() { return g_reporter_id; }

void ConnectCrashReporter() { internal::ConnectCrashReporterTo(g_reporter_id); }

bool EnterCrashGate(void*, EXCEPTION_POINTERS*, const AssertionInfo*) {
  if (InterlockedCompareExchange(&g_crash_gate, 1, 0) == 0) return true;
  // Another thread is writing the process's dump and will end the process.
  for (;;) Sleep(INFINITE);
}

LONG WINAPI DumpAndTerminate(EXCEPTION_POINTERS* exception_pointers) {
  // The process ends whether or not the dump was written, and a crashing process must not
  // log: a failed dump has nowhere to go.
  if (g_handler) (void)g_handler->WriteMinidump(exception_pointers);
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

void SetCrashKeys() {
  // The custom info exists before the first key reaches it.
  GetClientInfo();
  SetCrashKeyCallbacks(&SetKeyCallback, &ClearKeyCallback);
  GetCrashClientConfig()->RegisterCrashKeys();

  SetCrashKey("BuildID", GetBuildIdKey());
  SetCrashKey("ReleaseChannel", GetReleaseChannelKey());
  SetCrashKey("symbols-package", GetSymbolsPackageName(GetOwnProgramPath()));
  SetCrashKey("UBN", base::IntToString(installer::GetBuildUbn()));
  SetCrashKey("exception_policy", GetExceptionPolicyKey());
  SetCrashKey("is_wow64", GetIsWow64Key());
  const std::string email = GetCrashEmail();
  if (!email.empty()) SetCrashKey("Email", email);

  const std::string harbor_test = GetHarborTestValue();
  if (!harbor_test.empty()) {
    SetCrashKey("harbor_test", harbor_test);
    SetCrashKey("Origin", "Harbor");
  } else {
    const std::string origin = GetCrashOrigin();
    if (!origin.empty()) SetCrashKey("Origin", origin);
  }
}

namespace internal {

uint32_t FindOrLaunchCrashReporter(const base::CommandLine& command_line, int ubn) {
  if (ubn < 0) return 0;
  uint32_t reporter_id = 0;
  if (!base::StringToUint(command_line.GetSwitchValueNative(switches::kCrashReporterPid),
                          &reporter_id)) {
    reporter_id = 0;
  }
  if (reporter_id == 0) reporter_id = LaunchCrashReporter(command_line, kCrashReporterStartWaitMs);
  return reporter_id;
}

uint32_t LaunchCrashReporter(const base::CommandLine& command_line, DWORD wait_ms) {
  const DWORD own_id = GetCurrentProcessId();
  base::CommandLine reporter_command(command_line);
  reporter_command.AppendSwitchNative(switches::kCrashReporterParentId,
                                      base::UintToString16(own_id));

  const std::wstring event_name = GetCrashReporterInitEventName(own_id);
  if (event_name.empty()) return 0;
  // Created before the reporter starts, so its signal cannot be missed. An earlier
  // reporter of this process may have left it set (a handle still open as it ends): only
  // this reporter's signal may count.
  base::ScopedHandle init_event(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  if (!init_event.IsValid() || !ResetEvent(init_event.Get())) return 0;

  std::wstring command_string = reporter_command.GetCommandLineString();
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  PROCESS_INFORMATION process_info = {};
  if (!CreateProcessW(nullptr, &command_string[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup_info, &process_info)) {
    return 0;
  }
  base::ScopedHandle process(process_info.hProcess);
  base::ScopedHandle thread(process_info.hThread);
  const HANDLE waits[] = {init_event.Get(), process.Get()};
  // The event is first in the list: a reporter that signals and exits at once counts.
  if (WaitForMultipleObjects(2, waits, FALSE, wait_ms) != WAIT_OBJECT_0) return 0;
  return process_info.dwProcessId;
}

void ConnectCrashReporterTo(uint32_t reporter_id) {
  if (g_handler || reporter_id == 0) return;
  const std::wstring pipe_name = GetCrashPipeName(reporter_id);
  if (pipe_name.empty()) return;
  g_reporter_id = reporter_id;
  const CustomClientInfo custom_info = GetClientInfo()->custom_info();
  std::unique_ptr<CrashExceptionHandler> handler(new CrashExceptionHandler(
      std::wstring(), &EnterCrashGate, &DumpWritten, nullptr, CrashExceptionHandler::kHandlerAll,
      0, pipe_name, &custom_info));
  if (!handler->IsOutOfProcess()) return;
  handler->set_handle_debug_exceptions(true);
  g_handler = handler.release();
  base::SetWindowProcExceptionFilter(&DumpAndTerminate);
}

CrashExceptionHandler* GetCrashHandler() { return g_handler; }

void ResetCrashClientForTesting() {
  if (g_handler) base::SetWindowProcExceptionFilter(nullptr);
  delete g_handler;
  g_handler = nullptr;
  g_reporter_id = 0;
}

}  // namespace internal

}  // namespace crash_reporter
