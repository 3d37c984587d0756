// Crash reporting of an installer process: starts or joins the crash-reporter process,
// connects the exception handler to it and sets the process's crash keys.
//
// At start-up, in every mode but the reporter's own:
//   DisableExceptionSwallowing();
//   if (StartCrashReporter()) ConnectCrashReporter();
//   SetCrashKeys();
// and pass GetCrashReporterProcessId() on as "crash-reporter-pid" to child installers.
#ifndef CRASH_REPORTER_CRASH_CLIENT_H_
#define CRASH_REPORTER_CRASH_CLIENT_H_

#include <windows.h>
#include <stdint.h>

#include "crash/reporter/crash_pipe_message.h"

namespace base {
class CommandLine;
}

namespace crash_reporter {

class CrashExceptionHandler;

// How long a new reporter may take to signal that it is ready.
constexpr DWORD kCrashReporterStartWaitMs = 2000;

// Makes exceptions in callbacks from the system reach the crash handler instead of
// being swallowed, where the system offers the exception policy.
void DisableExceptionSwallowing();

// Finds the reporter named by "crash-reporter-pid" or launches one; false when there
// is none (a build with a negative UBN uses none).
[[nodiscard]] bool StartCrashReporter();
// The reporter's process id; 0 when there is none.
uint32_t GetCrashReporterProcessId();

// Registers the exception handler with the reporter. Without a registration the
// process runs on without a handler.
void ConnectCrashReporter();

// Declares the crash keys and sets the build and environment ones.
void SetCrashKeys();

// The dump filter: lets the first crashing thread through and blocks every later one
// for good, so one process writes one dump.
[[nodiscard]] bool EnterCrashGate(void* context, EXCEPTION_POINTERS* exception_pointers,
                                  const AssertionInfo* assertion);

// Has the handler dump |exception_pointers|, then ends the process with exit code 1.
// Also the exception filter of wrapped window procedures.
LONG WINAPI DumpAndTerminate(EXCEPTION_POINTERS* exception_pointers);

namespace internal {

// StartCrashReporter over |command_line| (the switch "crash-reporter-pid"; the program
// and switches a new reporter is launched with) and the build's |ubn|.
[[nodiscard]] uint32_t FindOrLaunchCrashReporter(const base::CommandLine& command_line, int ubn);
// Runs |command_line| plus "crash-reporter-parent-id" and waits up to |wait_ms| for it
// to signal its init event. The reporter's id, or 0.
[[nodiscard]] uint32_t LaunchCrashReporter(const base::CommandLine& command_line, DWORD wait_ms);
// ConnectCrashReporter with |reporter_id| as the reporter.
void ConnectCrashReporterTo(uint32_t reporter_id);
// The handler ConnectCrashReporter made; null when none registered.
CrashExceptionHandler* GetCrashHandler();
// Destroys the handler and forgets the reporter, putting back the handlers it replaced.
void ResetCrashClientForTesting();

}  // namespace internal

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_CLIENT_H_
