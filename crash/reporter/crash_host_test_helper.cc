// An installer host for the crash reporter's end-to-end tests. It enters the roles the
// host's entry does, from its switches:
//   "crash-reporter-parent-id": the crash reporter, exactly as the host's entry runs it
//       (exit code 0, or 3 when CrashReporterMain returned -1); with the test switch
//       "reporter-self-crash=<access-violation|pure-call>" it prepares its own crash
//       relaunch and crashes instead of serving; its relaunched copy takes the largest
//       dump it uploads from VELUM_TEST_REPORTER_DUMP_LIMIT when that is set (under Wine
//       a reporter's dump is larger than the product's limit);
//   otherwise an installer process: starts or joins a reporter (the real client start,
//       which launches this program with "crash-reporter-parent-id"), connects, sets its
//       crash keys and writes "reporter=", "pid=" and "thread=" lines into --info; then
//       sets --ready-event, waits for --crash-event and, with "--crash", dereferences a
//       null pointer; without it, it exits with code 0.
// VELUM_TEST_HOLD_DUMP="<before-file|while-writing>:<name>" holds the reporter at that
// point of each client dump: it sets the event "<name>Held" and goes on once
// "<name>Resume" is set.
// VELUM_TEST_USER_HIVE names a key under HKEY_CURRENT_USER that stands in for the whole
// hive in every role, so that runs in parallel do not share the user's keys.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_client.h"
#include "crash/reporter/crash_reporter_process.h"
#include "crash/reporter/dump_write_pauses.h"
#include "crash/reporter/named_event_test_util.h"
#include "crash/reporter/reporter_self_crash.h"

namespace {

using crash_reporter::SetNamedEvent;
using crash_reporter::WaitNamedEvent;

enum ExitCode {
  kOk = 0,
  kReporterFailed = 3,
  kBadArguments = 20,
  kNotConnected,
  kInfoFailed,
  kNoCrashSignal,
  kNotCrashed,
};

[[nodiscard]] bool WriteInfo(const std::wstring& path) {
  std::string text = "reporter=" + base::Int64ToString(crash_reporter::GetCrashReporterProcessId()) +
                     "\npid=" + base::Int64ToString(GetCurrentProcessId()) +
                     "\nthread=" + base::Int64ToString(GetCurrentThreadId()) + "\n";
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (!file) return false;
  const bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  return fclose(file) == 0 && written;
}

[[nodiscard]] bool UsePrivateUserHive(HKEY* key) {
  wchar_t path[512] = {};
  const DWORD length = GetEnvironmentVariableW(L"VELUM_TEST_USER_HIVE", path, 512);
  if (length == 0) return true;
  if (length >= 512) return false;
  return RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, key) == ERROR_SUCCESS &&
         RegOverridePredefKey(HKEY_CURRENT_USER, *key) == ERROR_SUCCESS;
}

// Holds the reporter at one point of a client's dump on the test's events.
class NamedEventPauses : public crash_reporter::DumpWritePauses {
 public:
  NamedEventPauses(const std::string& point, const std::wstring& name)
      : point_(point), name_(name) {}

  void BeforeDumpFile(uint32_t) override { Hold("before-file"); }
  void WhileWriting(uint32_t) override { Hold("while-writing"); }

 private:
  void Hold(const char* point) {
    if (point_ == point && SetNamedEvent(name_ + L"Held")) WaitNamedEvent(name_ + L"Resume");
  }

  const std::string point_;
  const std::wstring name_;
};

void CrashNow() {
  volatile int* volatile null_pointer = nullptr;
  *null_pointer = 42;
}

int RunReporter(const base::CommandLine& command_line) {
  crash_reporter::InstallReporterExceptionFilter();
  if (command_line.HasSwitch("crash-reporter-exception-info")) {
    uint64_t limit = 0;
    const char* test_limit = getenv("VELUM_TEST_REPORTER_DUMP_LIMIT");
    if (test_limit && base::StringToUint64(test_limit, &limit))
      crash_reporter::internal::ReportOwnCrash(command_line, limit);
    else
      crash_reporter::ReportOwnCrash();
    return kOk;
  }
  const std::string self_crash = command_line.GetSwitchValueASCII("reporter-self-crash");
  if (!self_crash.empty()) {
    crash_reporter::LaunchExceptionReporter();
    if (self_crash == "pure-call") crash_reporter::ReporterPurecallHandler();
    CrashNow();
    return kNotCrashed;
  }
  const char* hold = getenv("VELUM_TEST_HOLD_DUMP");
  const char* colon = hold ? strchr(hold, ':') : nullptr;
  if (!colon) return crash_reporter::CrashReporterMain() == 0 ? kOk : kReporterFailed;
  NamedEventPauses pauses(std::string(hold, colon), base::UTF8ToWide(colon + 1));
  return crash_reporter::internal::RunCrashReporter(command_line, &pauses) == 0
             ? kOk
             : kReporterFailed;
}

}  // namespace

int wmain() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  base::CommandLine::Init();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  // Kept open for the process's life: the override refers to it.
  HKEY hive = nullptr;
  if (!UsePrivateUserHive(&hive)) return kBadArguments;
  if (command_line.HasSwitch("crash-reporter-parent-id")) return RunReporter(command_line);

  crash_reporter::DisableExceptionSwallowing();
  if (crash_reporter::StartCrashReporter()) crash_reporter::ConnectCrashReporter();
  crash_reporter::SetCrashKeys();
  const std::wstring info = command_line.GetSwitchValueNative("info");
  if (!info.empty() && !WriteInfo(info)) return kInfoFailed;
  const std::wstring ready = command_line.GetSwitchValueNative("ready-event");
  if (!ready.empty() && !SetNamedEvent(ready)) return kBadArguments;
  const std::wstring crash_event = command_line.GetSwitchValueNative("crash-event");
  if (!crash_event.empty() && !WaitNamedEvent(crash_event)) return kNoCrashSignal;
  if (!command_line.HasSwitch("crash")) return kOk;
  if (!crash_reporter::GetCrashReporterProcessId()) return kNotConnected;
  CrashNow();
  return kNotCrashed;
}
