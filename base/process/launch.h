// Starting child processes: handle inheritance limited to a list, job objects, another
// user's token, desktops and standard handles; and running a program to capture its
// standard output.
//
//   LaunchOptions options;
//   options.start_hidden = true;
//   Process child = LaunchProcess(command, options);
//   if (!child.IsValid()) ...
#ifndef BASE_PROCESS_LAUNCH_H_
#define BASE_PROCESS_LAUNCH_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/process/process.h"
#include "base/synchronization/lock.h"
#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"

namespace base {

typedef std::vector<HANDLE> HandlesToInheritVector;

struct LaunchOptions {
  LaunchOptions();

  // Wait without limit for the child to end before returning.
  bool wait;
  // Empty: the caller's current directory.
  FilePath current_directory;
  bool start_hidden;
  // Not owned. When set the child inherits exactly these handles (none for an empty list).
  const HandlesToInheritVector* handles_to_inherit;
  // Inherit every inheritable handle; used when no list is given.
  bool inherit_handles;
  // Not owned. Start the child as this token's user, with that user's environment.
  HANDLE as_user;
  bool empty_desktop_name;
  // Start the child on the calling thread's desktop, by name.
  bool use_current_desktop;
  // Not owned. The child joins this job before it runs.
  HANDLE job_handle;
  // Not owned; null = not redirected.
  HANDLE stdin_handle;
  HANDLE stdout_handle;
  HANDLE stderr_handle;
  bool force_breakaway_from_job;
  // Not owned. The child's environment, a block of "name=value" strings ended by an
  // empty one; null: the caller's. Ignored with `as_user`.
  const wchar_t* environment;
};

enum TerminationStatus {
  TERMINATION_STATUS_NORMAL_TERMINATION = 0,
  TERMINATION_STATUS_ABNORMAL_TERMINATION = 1,
  TERMINATION_STATUS_PROCESS_WAS_KILLED = 2,
  TERMINATION_STATUS_PROCESS_CRASHED = 3,
  TERMINATION_STATUS_STILL_RUNNING = 4,
  TERMINATION_STATUS_OOM = 6,
};

// The extended start-up information of a launch and its attribute list, freed with it.
class ProcThreadAttributeList {
 public:
  ProcThreadAttributeList();
  ~ProcThreadAttributeList();
  ProcThreadAttributeList(const ProcThreadAttributeList&) = delete;
  ProcThreadAttributeList& operator=(const ProcThreadAttributeList&) = delete;

  // Zero-fills the start-up information; from Vista on (`version`) it is the extended
  // kind and the attribute-list functions are looked up.
  void Initialize(OsVersion version);
  // Sets the handle-list attribute; false on a system without attribute lists, when a
  // list is already set, or when the system refuses.
  [[nodiscard]] bool SetHandleList(const HandlesToInheritVector& handles);

  bool extended() const { return startup_info_.StartupInfo.cb == sizeof(STARTUPINFOEXW); }
  STARTUPINFOEXW* startup_info() { return &startup_info_; }

 private:
  void Free();

  STARTUPINFOEXW startup_info_;
  // The block startup_info_.lpAttributeList points to.
  ScopedProcessHeapBlock<_PROC_THREAD_ATTRIBUTE_LIST> list_block_;
  // Kept alive for the list, which points into it.
  HandlesToInheritVector handles_;
};

// The command line's string form launched by the overload below.
[[nodiscard]] Process LaunchProcess(const CommandLine& command_line, const LaunchOptions& options);
// An invalid Process on failure; nothing is logged.
[[nodiscard]] Process LaunchProcess(const std::wstring& command_line, const LaunchOptions& options);

// Runs the program to its end and appends its standard output to `output` (kept also
// after a read failure). False when it cannot be run, ended abnormally or crashed.
[[nodiscard]] bool RunAndCaptureOutput(const CommandLine& command_line, std::string* output);
[[nodiscard]] bool RunAndCaptureOutput(const std::wstring& command_line, std::string* output);
// The same for a program that must end within `timeout`: one that does not is ended,
// `timed_out` is set and the result is false. Output past the pipe's buffer (64 KiB)
// keeps the program waiting until it is ended. `launch_lock` (may be null) is held from
// the pipe's creation to the child's, so no other launch passes the pipe on.
[[nodiscard]] bool RunAndCaptureOutputWithTimeout(const std::wstring& command_line,
                                                  TimeDelta timeout, Lock* launch_lock,
                                                  std::string* output, bool* timed_out);

// How `process` ended (or that it still runs); `exit_code` (may be null) receives its
// exit code, 258 while it runs.
TerminationStatus GetProcessTerminationStatus(HANDLE process, int* exit_code);

// The classification of an exit code of an ended process.
TerminationStatus TerminationStatusFromExitCode(DWORD exit_code);

// The ids of the processes `job` lists (an ended one may stay listed a moment); false
// when the job cannot be asked.
[[nodiscard]] bool GetJobProcessIds(HANDLE job, std::vector<DWORD>* ids);

// Ends every process of `job`, also those started while it is ended, with `exit_code`,
// and returns once each has ended. False when the job cannot be ended or listed.
[[nodiscard]] bool EndJobProcesses(HANDLE job, UINT exit_code);

}  // namespace base

#endif  // BASE_PROCESS_LAUNCH_H_
