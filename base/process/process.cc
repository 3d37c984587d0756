#include "base/process/process.h"

#include <utility>

#include "base/debug/activity_tracker.h"
#include "base/logging.h"

namespace base {

Process::Process() : is_current_(false) {}

Process::Process(HANDLE handle) : is_current_(false), handle_(handle) {
  CHECK(handle != GetCurrentProcess());
}

Process::Process(Process&& other) : is_current_(false) { *this = std::move(other); }

Process& Process::operator=(Process&& other) {
  const DWORD saved = GetLastError();
  handle_ = std::move(other.handle_);
  is_current_ = other.is_current_;
  other.is_current_ = false;
  SetLastError(saved);
  return *this;
}

Process::~Process() {}

// static
Process Process::Current() {
  Process process;
  process.is_current_ = true;
  return process;
}

// static
Process Process::Open(DWORD pid) {
  return Process(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
}

bool Process::IsValid() const { return is_current_ || handle_.IsValid(); }

HANDLE Process::Handle() const { return is_current_ ? GetCurrentProcess() : handle_.Get(); }

DWORD Process::Pid() const { return GetProcessId(Handle()); }

bool Process::WaitForExit(int32_t* exit_code) const {
  return WaitForExitWithTimeout(TimeDelta::FromMilliseconds(INFINITE), exit_code);
}

bool Process::WaitForExitWithTimeout(TimeDelta timeout, int32_t* exit_code) const {
  debug::ProcessWaitActivityScope activity(__builtin_return_address(0), *this);
  DWORD milliseconds = INFINITE;
  if (!timeout.is_max()) {
    const int64_t requested = timeout.InMicroseconds() / 1000;
    if (requested < 0)
      milliseconds = 0;
    else if (requested > static_cast<int64_t>(INFINITE))
      milliseconds = INFINITE;
    else
      milliseconds = static_cast<DWORD>(requested);
  }
  if (WaitForSingleObject(Handle(), milliseconds) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!GetExitCodeProcess(Handle(), &code)) return false;
  if (exit_code) *exit_code = static_cast<int32_t>(code);
  if (debug::GlobalActivityTracker* tracker = debug::GlobalActivityTracker::Get())
    tracker->RecordProcessExit(Pid(), static_cast<int>(code));
  return true;
}

}  // namespace base
