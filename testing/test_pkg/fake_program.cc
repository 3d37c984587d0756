// A stand-in for every program of the test package (launcher, browser, installer
// helpers, component installers). It appends one line, its own file name and its
// arguments, to the file named by VELUM_FAKE_PROGRAM_LOG and exits with the code in
// VELUM_FAKE_PROGRAM_EXIT_CODE (0 without it). With "--sleep" it stays running after
// signalling the event named by VELUM_FAKE_PROGRAM_READY_EVENT, so that tests can hold
// the executable in use; with "--hold <file>" it opens that file sharing nothing, logs
// "holding", and stays running, so that no one else can open, replace or delete it. Run
// under the file name VELUM_FAKE_PROGRAM_HOLD_ROLE it signals that event too and then
// waits (at most five minutes) for the event named by VELUM_FAKE_PROGRAM_HOLD_EVENT before
// it exits: the program that started it stands still at a known point until the test lets
// it go on.
#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#include <string>

namespace {

std::wstring GetEnvironment(const wchar_t* name) {
  wchar_t buffer[1024];
  DWORD length = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
  if (length == 0 || length >= ARRAYSIZE(buffer)) return std::wstring();
  return std::wstring(buffer, length);
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                 nullptr, 0, nullptr, nullptr);
  std::string result(size > 0 ? size : 0, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0],
                        size, nullptr, nullptr);
  return result;
}

void AppendToLog(const std::wstring& line) {
  std::wstring log_path = GetEnvironment(L"VELUM_FAKE_PROGRAM_LOG");
  if (log_path.empty()) return;
  // Several fake programs may log at once: append-only writes land whole.
  HANDLE file = CreateFileW(log_path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string text = ToUtf8(line) + "\r\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

void SignalReady() {
  std::wstring event_name = GetEnvironment(L"VELUM_FAKE_PROGRAM_READY_EVENT");
  if (event_name.empty()) return;
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name.c_str());
  if (!event) return;
  SetEvent(event);
  CloseHandle(event);
}

void WaitForRelease() {
  HANDLE event =
      OpenEventW(SYNCHRONIZE, FALSE, GetEnvironment(L"VELUM_FAKE_PROGRAM_HOLD_EVENT").c_str());
  SignalReady();
  if (!event) return;
  WaitForSingleObject(event, 5 * 60 * 1000);
  CloseHandle(event);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t module_path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, module_path, MAX_PATH);
  std::wstring role(module_path, length < MAX_PATH ? length : 0);
  size_t slash = role.find_last_of(L"\\/");
  if (slash != std::wstring::npos) role.erase(0, slash + 1);

  std::wstring line = role;
  bool sleep = false;
  const wchar_t* hold = nullptr;
  for (int i = 1; i < argc; ++i) {
    line += L" ";
    line += argv[i];
    if (wcscmp(argv[i], L"--sleep") == 0) sleep = true;
    if (wcscmp(argv[i], L"--hold") == 0 && i + 1 < argc) hold = argv[i + 1];
  }
  AppendToLog(line);

  if (hold) {
    HANDLE file = CreateFileW(hold, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    AppendToLog(L"holding");
    Sleep(INFINITE);
  }

  if (sleep) {
    SignalReady();
    Sleep(INFINITE);
  }
  const std::wstring hold_role = GetEnvironment(L"VELUM_FAKE_PROGRAM_HOLD_ROLE");
  if (!role.empty() && _wcsicmp(role.c_str(), hold_role.c_str()) == 0) WaitForRelease();
  std::wstring code = GetEnvironment(L"VELUM_FAKE_PROGRAM_EXIT_CODE");
  return code.empty() ? 0 : _wtoi(code.c_str());
}
