#include "crash/reporter/reporter_self_crash.h"

#include <stdlib.h>
#include <wchar.h>

#include <memory>
#include <utility>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_client_values.h"
#include "crash/reporter/crash_exception_handler.h"
#include "crash/reporter/crash_reporter_process.h"
#include "crash/reporter/crash_stats_store.h"
#include "crash/reporter/crash_upload.h"
#include "crash/reporter/minidump_file_writer.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/common/names/switches.h"

namespace crash_reporter {

namespace {

constexpr wchar_t kLastCrashValue[] = L"Last crash in crash reporter";
constexpr DWORD kRelaunchWaitMs = 20000;
constexpr uint64_t kMinDaysBetweenReports = 3;
constexpr uint64_t kFileTimeTicksPerDay = 864000000000ULL;
constexpr DWORD kInvalidParameterCode = 0xC000000D;
constexpr DWORD kPureCallCode = 0xC0000025;  // non-continuable

// Filled by the first crashing thread, read by the copy through ReadProcessMemory.
CrashInfoBlock g_crash_info = {};
volatile LONG g_crash_gate = 0;
bool g_filters_installed = false;
bool g_relaunch_prepared = false;
// Built before any crash: the handlers allocate nothing.
std::wstring* g_relaunch_command = nullptr;
HANDLE g_relaunch_event = nullptr;

std::wstring GetExceptionEventName(uint32_t pid) {
  return kernel_objects::kCrashReporterExceptionEventPrefix + base::UintToString16(pid);
}

// Lets the first crashing thread on; every later one stops here for good.
void PassCrashGate() {
  if (InterlockedCompareExchange(&g_crash_gate, 1, 0) == 0) return;
  for (;;) SuspendThread(GetCurrentThread());
}

void LaunchOwnCrashReporter() {
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  PROCESS_INFORMATION process_info = {};
  if (!CreateProcessW(nullptr, &(*g_relaunch_command)[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup_info, &process_info)) {
    return;
  }
  // Closed by hand, one of the two calls tools/check-hand-closes.py allows: this runs
  // inside a crash, and the owners close through the handle verifier, which takes a lock
  // the crashed thread may hold.
  CloseHandle(process_info.hThread);
  CloseHandle(process_info.hProcess);
  // The copy reads this process's memory until it sets the event.
  if (g_relaunch_event)
    WaitForSingleObject(g_relaunch_event, kRelaunchWaitMs);
  else
    Sleep(kRelaunchWaitMs);
}

// A crashed reporter ends at once, and not with the status of a clean exit.
[[noreturn]] void EndCrashedReporter() {
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
  for (;;) Sleep(INFINITE);
}

void HandleCrtCall(DWORD code, uint32_t assertion_type, const wchar_t* expression,
                   const wchar_t* function, const wchar_t* file, unsigned int line) {
  PassCrashGate();
  if (g_relaunch_prepared) {
    CONTEXT context = {};
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    EXCEPTION_POINTERS pointers = {&record, &context};
    AssertionInfo& assertion = g_crash_info.assertion;
    assertion.type = assertion_type;
    if (assertion_type == kAssertionInvalidParameter) {
      // Cut to 127 characters, NUL-terminated.
      if (expression) wcsncpy(assertion.expression, expression, kAssertionTextLength - 1);
      if (function) wcsncpy(assertion.function, function, kAssertionTextLength - 1);
      if (file) wcsncpy(assertion.file, file, kAssertionTextLength - 1);
      assertion.line = line;
    }
    g_crash_info.thread_id = GetCurrentThreadId();
    g_crash_info.exception_pointers = reinterpret_cast<uintptr_t>(&pointers);
    LaunchOwnCrashReporter();
  }
  EndCrashedReporter();
}

// The crashed reporter waits for this signal before it ends; a failure is logged, as
// nothing else can reach it.
void ReleaseCrashedReporter(uint32_t parent_id) {
  base::ScopedHandle event(
      CreateEventW(nullptr, TRUE, FALSE, GetExceptionEventName(parent_id).c_str()));
  if (!event.IsValid() || !SetEvent(event.Get()))
    PLOG(WARNING) << "Cannot release the crashed reporter";
}

[[nodiscard]] bool ReadOwnCrashInfo(uint32_t parent_id, uint64_t address,
                                    const std::wstring& dump_path, uint64_t size_limit) {
  base::ScopedHandle process(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parent_id));
  if (!process.IsValid()) return false;
  CrashInfoBlock block = {};
  if (!ReadProcessBytes(process.Get(), address, &block, sizeof(block))) return false;
  return WriteMinidumpFile(process.Get(), parent_id, block, dump_path, size_limit);
}

uint64_t FileTimeTicks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

void InstallReporterExceptionFilter() {
  if (g_filters_installed) return;
  g_filters_installed = true;
  SetUnhandledExceptionFilter(&ReporterExceptionFilter);
  _set_invalid_parameter_handler(&ReporterInvalidParameterHandler);
  _set_purecall_handler(&ReporterPurecallHandler);
}

void LaunchExceptionReporter() {
  if (g_relaunch_prepared) return;
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const DWORD own_id = GetCurrentProcessId();
  g_relaunch_event =
      CreateEventW(nullptr, TRUE, FALSE, GetExceptionEventName(own_id).c_str());
  if (!g_relaunch_event) return;
  base::CommandLine command_line(base::FilePath(std::wstring(path, length)));
  command_line.AppendSwitchNative(
      switches::kCrashReporterExceptionInfo,
      base::Uint64ToString16(reinterpret_cast<uintptr_t>(&g_crash_info)));
  command_line.AppendSwitchNative(switches::kCrashReporterParentId, base::UintToString16(own_id));
  g_relaunch_command = new std::wstring(command_line.GetCommandLineString());
  g_relaunch_prepared = true;
}

LONG WINAPI ReporterExceptionFilter(EXCEPTION_POINTERS* exception_pointers) {
  PassCrashGate();
  if (g_relaunch_prepared) {
    g_crash_info.assertion.type = kAssertionNone;
    g_crash_info.thread_id = GetCurrentThreadId();
    g_crash_info.exception_pointers = reinterpret_cast<uintptr_t>(exception_pointers);
    LaunchOwnCrashReporter();
  }
  EndCrashedReporter();
}

void ReporterInvalidParameterHandler(const wchar_t* expression, const wchar_t* function,
                                     const wchar_t* file, unsigned int line, uintptr_t) {
  HandleCrtCall(kInvalidParameterCode, kAssertionInvalidParameter, expression, function, file,
                line);
}

void ReporterPurecallHandler() {
  HandleCrtCall(kPureCallCode, kAssertionPureVirtualCall, nullptr, nullptr, nullptr, 0);
}

void ReportOwnCrash() {
  internal::ReportOwnCrash(*base::CommandLine::ForCurrentProcess(), kReporterDumpSizeLimit);
}

bool GetDaysSinceLastReporterCrash(uint64_t* days) {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  return internal::GetDaysSinceLastCrash(HKEY_CURRENT_USER, internal::GetReporterCrashKeyPath(),
                                         now, days);
}

bool RecordReporterCrashTime(const SYSTEMTIME& time) {
  FILETIME file_time = {};
  if (!SystemTimeToFileTime(&time, &file_time)) return false;
  return internal::RecordCrashTime(HKEY_CURRENT_USER, internal::GetReporterCrashKeyPath(),
                                   file_time);
}

namespace internal {

std::wstring GetReporterCrashKeyPath() {
  return L"Software\\" + base::UTF8ToWide(installer::GetCompanyName());
}

bool GetDaysSinceLastCrash(HKEY root, const std::wstring& key_path, const FILETIME& now,
                           uint64_t* days) {
  // Only read: a crash that was never reported leaves no trace on the machine, and no
  // stored time counts as one long ago.
  uint64_t stored = 0;
  base::RegistryKey key;
  const LONG opened = key.Open(root, key_path.c_str(), KEY_QUERY_VALUE);
  if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) return false;
  if (opened == ERROR_SUCCESS) {
    DWORD type = 0;
    DWORD size = sizeof(stored);
    const LONG result = RegQueryValueExW(key.Handle(), kLastCrashValue, nullptr, &type,
                                         reinterpret_cast<BYTE*>(&stored), &size);
    if (result == ERROR_FILE_NOT_FOUND)
      stored = 0;
    else if (result != ERROR_SUCCESS || type != REG_QWORD || size != sizeof(stored))
      return false;
  }
  const uint64_t now_ticks = FileTimeTicks(now);
  if (now_ticks < stored) return false;
  *days = (now_ticks - stored) / kFileTimeTicksPerDay;
  return true;
}

bool RecordCrashTime(HKEY root, const std::wstring& key_path, const FILETIME& time) {
  const uint64_t ticks = FileTimeTicks(time);
  // 0 is no time: storing it would only mark the machine.
  if (ticks == 0) return false;
  base::RegistryKey key;
  if (key.Create(root, key_path.c_str(), KEY_SET_VALUE) != ERROR_SUCCESS) return false;
  return RegSetValueExW(key.Handle(), kLastCrashValue, 0, REG_QWORD,
                        reinterpret_cast<const BYTE*>(&ticks), sizeof(ticks)) == ERROR_SUCCESS;
}

void ReportOwnCrash(const base::CommandLine& command_line, uint64_t dump_size_limit) {
  uint32_t parent_id = 0;
  if (!GetReporterParentId(command_line, &parent_id)) return;
  uint64_t address = 0;
  uint64_t days = 0;
  if (!base::StringToUint64(base::WideToASCII(command_line.GetSwitchValueNative(
                                switches::kCrashReporterExceptionInfo)),
                            &address) ||
      !GetDaysSinceLastReporterCrash(&days) || days < kMinDaysBetweenReports) {
    ReleaseCrashedReporter(parent_id);
    return;
  }

  ReporterPaths paths;
  std::unique_ptr<CrashStatsStore> stats;
  if (InitReporterPaths(command_line, &paths)) {
    stats.reset(new CrashStatsStore(paths.stats_file));
    stats->Increment("crash_reporter", 1, true);
  }
  base::FilePath temp;
  bool written = false;
  std::wstring dump_path;
  UploadKeys keys;
  if (base::GetTempDir(&temp)) {
    dump_path = temp.Append(base::UTF8ToWide(MakeCrashLogName(NextDumpSequence()))).value();
    written = ReadOwnCrashInfo(parent_id, address, dump_path, dump_size_limit);
    if (written) AddReporterCrashKeys(parent_id, &keys);
  }
  ReleaseCrashedReporter(parent_id);
  if (written) {
    GetCrashServerUrl();
    // Kept, like a client's dump, when the logs are to be kept.
    if (UploadNow(std::move(keys), dump_path, false, !GetKeepLogs(false))) {
      SYSTEMTIME now = {};
      GetSystemTime(&now);
      if (!RecordReporterCrashTime(now)) LOG(WARNING) << "Cannot record the reporter crash";
    }
  }
}

}  // namespace internal

}  // namespace crash_reporter
