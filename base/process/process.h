// Process: one process of the machine, either an owned process handle (a child, a
// process opened by id) or the current process, which holds no handle.
//
//   Process child = LaunchProcess(command, options);
//   int32_t exit_code = 0;
//   if (child.WaitForExitWithTimeout(TimeDelta::FromSeconds(10), &exit_code)) ...
#ifndef BASE_PROCESS_PROCESS_H_
#define BASE_PROCESS_PROCESS_H_

#include <windows.h>
#include <stdint.h>

#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

class Process {
 public:
  // Stands for nothing: not valid.
  Process();
  // Takes ownership of a real process handle. The current-process pseudo handle is a
  // programming error and ends the process: use Current().
  explicit Process(HANDLE handle);
  // Moves keep the handle's tracking and the caller's last error.
  Process(Process&& other);
  Process& operator=(Process&& other);
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  static Process Current();
  // Opened for waiting, querying and terminating; not valid when it cannot be opened.
  [[nodiscard]] static Process Open(DWORD pid);

  bool IsValid() const;
  // The held handle, or the pseudo handle of the current process.
  HANDLE Handle() const;
  DWORD Pid() const;

  // Waits without a time limit.
  [[nodiscard]] bool WaitForExit(int32_t* exit_code) const;
  // True with the exit code (when `exit_code` is given) once the process has ended; false
  // on time-out or error with *exit_code untouched. A negative limit does not wait; a
  // limit beyond 0xFFFFFFFF ms, or TimeDelta::Max(), waits without a limit.
  [[nodiscard]] bool WaitForExitWithTimeout(TimeDelta timeout, int32_t* exit_code) const;

 private:
  bool is_current_;
  ScopedHandle handle_;
};

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_H_
