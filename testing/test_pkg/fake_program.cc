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
// it go on. As "launcher.exe" given "/uninstall" it keeps the launcher's side of the
// uninstall entry: it runs the newest version folder's "installer.exe --uninstall"
// ("--silent" passed through) and waits for it. Asked "--internal-version" alone while
// VELUM_FAKE_PROGRAM_VERSION is set, it prints that value and does nothing else. Run
// without arguments as "<type>_sfx.exe" it acts as a component's self-extracting archive:
// it copies itself beside it as "<type>_installer.exe".
#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
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
  // Made when missing: a test that never releases it holds the caller until it kills
  // it (the five minutes bound it).
  const std::wstring name = GetEnvironment(L"VELUM_FAKE_PROGRAM_HOLD_EVENT");
  HANDLE event = name.empty() ? nullptr : CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  SignalReady();
  if (!event) return;
  WaitForSingleObject(event, 5 * 60 * 1000);
  CloseHandle(event);
}

// The version numbers of a version folder's name ("1.0.100.0", "1.0.100.0_2": the
// suffix counts as a fifth number); false for other names.
bool ParseVersionFolder(const std::wstring& name, unsigned numbers[5]) {
  unsigned count = 0;
  numbers[4] = 0;
  const wchar_t* c = name.c_str();
  for (;;) {
    if (*c < L'0' || *c > L'9') return false;
    unsigned value = 0;
    while (*c >= L'0' && *c <= L'9') value = value * 10 + static_cast<unsigned>(*c++ - L'0');
    if (count == 4) {
      numbers[4] = value + 1;
      return *c == 0;
    }
    numbers[count++] = value;
    if (count == 4 && *c == 0) return true;
    if (count == 4 ? *c != L'_' : *c != L'.') return false;
    ++c;
  }
}

// The launcher's side of the uninstall entry ("<install folder>\launcher.exe" /uninstall):
// the installer of the newest version folder beside it uninstalls, and its exit code is
// the launcher's. 9 when there is none.
int Uninstall(const std::wstring& own_path, bool silent) {
  const std::wstring folder = own_path.substr(0, own_path.find_last_of(L'\\') + 1);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 9;
  std::wstring newest;
  unsigned newest_numbers[5] = {};
  do {
    unsigned numbers[5];
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !ParseVersionFolder(found.cFileName, numbers) ||
        GetFileAttributesW((folder + found.cFileName + L"\\installer.exe").c_str()) ==
            INVALID_FILE_ATTRIBUTES)
      continue;
    if (newest.empty() || std::lexicographical_compare(newest_numbers, newest_numbers + 5,
                                                       numbers, numbers + 5)) {
      newest = found.cFileName;
      std::copy(numbers, numbers + 5, newest_numbers);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  if (newest.empty()) return 9;
  std::wstring command = L"\"" + folder + newest + L"\\installer.exe\" --uninstall";
  if (silent) command += L" --silent";
  AppendToLog(L"starting " + command);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return 9;
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 9;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

// The self-extractor's part: "<folder>\\<type>_sfx.exe" copies itself to
// "<folder>\\<type>_installer.exe"; 4 when it cannot.
int ExtractComponent(const std::wstring& own_path) {
  const std::wstring suffix = L"_sfx.exe";
  const std::wstring stem = own_path.substr(0, own_path.size() - suffix.size());
  return CopyFileW(own_path.c_str(), (stem + L"_installer.exe").c_str(), FALSE) ? 0 : 4;
}

bool EndsWith(const std::wstring& text, const wchar_t* suffix) {
  const size_t length = wcslen(suffix);
  return text.size() > length && _wcsicmp(text.c_str() + text.size() - length, suffix) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t module_path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, module_path, MAX_PATH);
  const std::wstring own_path(module_path, length < MAX_PATH ? length : 0);
  std::wstring role = own_path;
  size_t slash = role.find_last_of(L"\\/");
  if (slash != std::wstring::npos) role.erase(0, slash + 1);

  const std::wstring version = GetEnvironment(L"VELUM_FAKE_PROGRAM_VERSION");
  if (argc == 2 && wcscmp(argv[1], L"--internal-version") == 0 && !version.empty()) {
    const std::string text = ToUtf8(version);
    DWORD written = 0;
    return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                     static_cast<DWORD>(text.size()), &written, nullptr) ? 0 : 5;
  }
  if (argc == 1 && EndsWith(own_path, L"_sfx.exe")) {
    AppendToLog(role);
    return ExtractComponent(own_path);
  }

  std::wstring line = role;
  bool sleep = false;
  bool uninstall = false;
  bool silent = false;
  const wchar_t* hold = nullptr;
  for (int i = 1; i < argc; ++i) {
    line += L" ";
    line += argv[i];
    if (wcscmp(argv[i], L"--sleep") == 0) sleep = true;
    if (_wcsicmp(argv[i], L"/uninstall") == 0) uninstall = true;
    if (_wcsicmp(argv[i], L"/silent") == 0 || wcscmp(argv[i], L"--silent") == 0) silent = true;
    if (wcscmp(argv[i], L"--hold") == 0 && i + 1 < argc) hold = argv[i + 1];
  }
  AppendToLog(line);
  if (uninstall && _wcsicmp(role.c_str(), L"launcher.exe") == 0) return Uninstall(own_path, silent);

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
