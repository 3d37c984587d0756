#include "base/test/test_helper_process.h"

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

}  // namespace base
