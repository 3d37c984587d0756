#include "base/test/test_helper_process.h"

#include <algorithm>
#include <set>
#include <vector>

#include "base/process/launch.h"

namespace base {

std::wstring TestExeSibling(const wchar_t* file_name) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/") + 1) + file_name;
}

bool StartTestHelper(const wchar_t* helper, const std::wstring& arguments,
                     DWORD creation_flags, ScopedHandle* process, ScopedHandle* thread) {
  const std::wstring program = TestExeSibling(helper);
  std::wstring command_line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, FALSE,
                      creation_flags, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  process->Set(info.hProcess);
  thread->Set(info.hThread);
  return true;
}

int RunTestHelper(const wchar_t* helper, const std::wstring& arguments) {
  ScopedHandle process, thread;
  if (!StartTestHelper(helper, arguments, 0, &process, &thread)) return -1;
  if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) return -1;
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.Get(), &exit_code)) return -1;
  return static_cast<int>(exit_code);
}

namespace {

ScopedHandle& DescendantsJob() {
  static ScopedHandle job;
  return job;
}

// The ids of the job's processes other than this one; false when they cannot be read.
[[nodiscard]] bool GetDescendantIds(HANDLE job, std::vector<DWORD>* ids) {
  if (!GetJobProcessIds(job, ids)) return false;
  ids->erase(std::remove(ids->begin(), ids->end(), GetCurrentProcessId()), ids->end());
  return true;
}

}  // namespace

bool TrackDescendantProcesses() {
  ScopedHandle& job = DescendantsJob();
  if (job.IsValid()) return true;
  ScopedHandle created(CreateJobObjectW(nullptr, nullptr));
  if (!created.IsValid() || !AssignProcessToJobObject(created.Get(), GetCurrentProcess()))
    return false;
  job = std::move(created);
  return true;
}

bool GetRunningDescendantIds(std::vector<DWORD>* ids) {
  const ScopedHandle& job = DescendantsJob();
  std::vector<DWORD> listed;
  if (!job.IsValid() || !GetDescendantIds(job.Get(), &listed)) return false;
  ids->clear();
  for (DWORD id : listed) {
    const ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (process.IsValid() && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT)
      ids->push_back(id);
  }
  return true;
}

bool WaitForDescendantProcesses(DWORD timeout_ms) {
  const ScopedHandle& job = DescendantsJob();
  if (!job.IsValid()) return false;
  const DWORD start = GetTickCount();
  // One that ended may stay listed a moment: each is waited for once. One started
  // meanwhile shows in the next round.
  std::set<DWORD> ended;
  for (;;) {
    std::vector<DWORD> ids;
    if (!GetDescendantIds(job.Get(), &ids)) return false;
    bool waited = false;
    for (DWORD id : ids) {
      if (ended.count(id)) continue;
      const DWORD spent = GetTickCount() - start;
      if (spent >= timeout_ms) return false;
      ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
      if (process.IsValid() &&
          WaitForSingleObject(process.Get(), timeout_ms - spent) != WAIT_OBJECT_0)
        return false;
      ended.insert(id);
      waited = true;
    }
    if (!waited) return true;
  }
}

}  // namespace base
