// The crash reporter cannot report its own crashes through its own pipe. A crashing
// reporter instead starts a fresh copy of its executable with
// "crash-reporter-exception-info" (the address of its CrashInfoBlock), which reads the
// crash out of it, writes and uploads a small dump and releases it. At most one such
// report per user in three days ("Last crash in crash reporter" under the company key).
#ifndef CRASH_REPORTER_REPORTER_SELF_CRASH_H_
#define CRASH_REPORTER_REPORTER_SELF_CRASH_H_

#include <windows.h>
#include <stdint.h>

#include <string>

namespace base {
class CommandLine;
}

namespace crash_reporter {

struct CrashInfoBlock;

// Installs, once per process, the reporter's unhandled-exception filter and its CRT
// invalid-parameter and pure-call handlers.
void InstallReporterExceptionFilter();
// Prepares the relaunch the handlers run; without it a crash only ends the process.
void LaunchExceptionReporter();
// The role of the relaunched copy.
void ReportOwnCrash();

// The handlers. Each ends the process with a non-zero exit code.
LONG WINAPI ReporterExceptionFilter(EXCEPTION_POINTERS* exception_pointers);
void ReporterInvalidParameterHandler(const wchar_t* expression, const wchar_t* function,
                                     const wchar_t* file, unsigned int line, uintptr_t reserved);
void ReporterPurecallHandler();

// Whole days since the last reported reporter crash (since 1601 when none is stored;
// nothing is written); false when it cannot be read or lies in the future.
[[nodiscard]] bool GetDaysSinceLastReporterCrash(uint64_t* days);
// Stores |time|; false for a time of 0.
[[nodiscard]] bool RecordReporterCrashTime(const SYSTEMTIME& time);

namespace internal {

// HKCU\Software\<company>.
std::wstring GetReporterCrashKeyPath();
// The same over any key and a given current time.
[[nodiscard]] bool GetDaysSinceLastCrash(HKEY root, const std::wstring& key_path,
                                         const FILETIME& now, uint64_t* days);
[[nodiscard]] bool RecordCrashTime(HKEY root, const std::wstring& key_path, const FILETIME& time);
// ReportOwnCrash over |command_line|, dropping dumps larger than |dump_size_limit|.
void ReportOwnCrash(const base::CommandLine& command_line, uint64_t dump_size_limit);

}  // namespace internal

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_REPORTER_SELF_CRASH_H_
