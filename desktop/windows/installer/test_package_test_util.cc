#include "desktop/windows/installer/test_package_test_util.h"

#include <windows.h>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/rand_util.h"

namespace installer {
namespace testing {

namespace {

// The EXE's own folder, asked of the system: tests override the path service's answer
// to make a package folder the installer's own.
base::FilePath GetExeFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return base::FilePath();
  return base::FilePath(std::wstring(path, length)).DirName();
}

}  // namespace

base::FilePath GetTestPackageFolder(const wchar_t* name) {
  return GetExeFolder().Append(L"test_packages").Append(name);
}

std::string GetTestPackageVersion(const wchar_t* name) {
  std::string version;
  if (!base::ReadFileToString(GetTestPackageFolder(name).Append(L"VERSION"), &version))
    return std::string();
  return version;
}

base::ScopedHandle StartSleepingFakeProgram(const base::FilePath& program) {
  std::wstring event_name =
      L"VelumFakeProgramReady" + std::to_wstring(GetCurrentProcessId()) + L"_" +
      std::to_wstring(base::RandUint64());
  base::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  if (!ready.IsValid()) return base::ScopedHandle();
  SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_READY_EVENT", event_name.c_str());
  std::wstring command = L"\"" + program.value() + L"\" --sleep";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(program.value().c_str(), &command[0], nullptr, nullptr, FALSE,
                                0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_READY_EVENT", nullptr);
  if (!started) return base::ScopedHandle();
  CloseHandle(process.hThread);
  base::ScopedHandle handle(process.hProcess);
  // Bounded: a program that never signals has died or hangs.
  HANDLE waits[] = {ready.Get(), handle.Get()};
  if (WaitForMultipleObjects(2, waits, FALSE, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(handle.Get(), 1);
    return base::ScopedHandle();
  }
  return handle;
}

}  // namespace testing
}  // namespace installer
