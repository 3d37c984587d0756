// Test helper: stands in for another installer process (an elevated copy, the folder
// permission helper, a package's installer.exe). What it does comes from its environment,
// which "runas" and plain launches both hand down:
//   VELUM_TEST_RECORD=<file>           writes its command line to the file
//   VELUM_TEST_EXIT_CODE=<n>           exits with n (default 0)
//   VELUM_TEST_SWAP=<file>             overwrites the file, then records the content of the
//                                      file of its name beside itself ("<missing>" when
//                                      there is none) in <record>.beside
//   VELUM_TEST_TRY_WRITE=<name>        opens <name> (a path from the folder above its own)
//                                      for writing and records "written" or "refused" in
//                                      <record>.write
//   VELUM_TEST_SIGNAL_PERMISSION=1     with "--set-folder-permission=<folder>": sets the
//                                      folder's GiveInstallPermission event and waits for
//                                      its Undo event
//   VELUM_TEST_HANG=1                  starts a copy of itself with "--hang-child", which
//                                      waits a minute, writes <record>.hang, then waits a
//                                      minute before it goes on
//   VELUM_TEST_HANG=child              the same, but goes on at once, its copy left waiting
// Asked "--internal-version" alone, it answers VELUM_TEST_INTERNAL_VERSION on its standard
// output and does nothing else,
// and, from its arguments, "--hold-file=<path>": keeps the file open without delete
// sharing until it ends (opened before the record is written), then sets the event
// "--held-event=<name>" when one is given, and "--wait-event=<name>": waits until that
// event is set.
#include <windows.h>

#include <cwchar>
#include <string>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/process/launch.h"

namespace {

const DWORD kBoundMs = 60000;  // never outlive a test that forgot to signal

std::wstring GetEnvironment(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// The value of "--<name>=" among the arguments, without quotes.
std::wstring GetSwitch(int argc, wchar_t** argv, const std::wstring& name) {
  const std::wstring prefix = L"--" + name + L"=";
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument.compare(0, prefix.size(), prefix) == 0) return argument.substr(prefix.size());
  }
  return std::wstring();
}

std::wstring EventName(const wchar_t* prefix, const std::wstring& folder) {
  std::wstring name = std::wstring(L"Local\\") + prefix + L"/" + folder;
  for (size_t i = 6; i < name.size(); ++i) {
    if (name[i] == L'\\') name[i] = L'/';
  }
  return name;
}

bool WriteText(const std::wstring& path, const std::string& text) {
  return base::WriteFile(base::FilePath(path), text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

bool Record(const std::wstring& path) {
  const std::wstring line = GetCommandLineW();
  std::string text;
  for (wchar_t c : line) text.push_back(static_cast<char>(c));
  return WriteText(path, text);
}

// Plays the user who changes a package file once the installer runs: what the
// installer then reads beside itself goes to `record`.
bool SwapThenReadBeside(const std::wstring& swapped, const std::wstring& record) {
  if (!WriteText(swapped, "swapped")) return false;
  wchar_t own[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring beside(own, length);
  beside.erase(beside.rfind(L'\\') + 1);
  beside += swapped.substr(swapped.rfind(L'\\') + 1);
  std::string content;
  if (!base::ReadFileToString(base::FilePath(beside), &content)) content = "<missing>";
  return WriteText(record + L".beside", content);
}

// Plays a program that would change a file beside the package it was started from.
bool TryWrite(const std::wstring& name, const std::wstring& record) {
  wchar_t own[MAX_PATH] = {};
  std::wstring path(own, GetModuleFileNameW(nullptr, own, MAX_PATH));
  path.erase(path.rfind(L'\\'));
  path.erase(path.rfind(L'\\') + 1);
  path += name;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return WriteText(record + L".write", file != INVALID_HANDLE_VALUE ? "written" : "refused");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--internal-version") {
    const std::wstring version = GetEnvironment(L"VELUM_TEST_INTERNAL_VERSION");
    const std::string text(version.begin(), version.end());
    DWORD written = 0;
    return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                     static_cast<DWORD>(text.size()), &written, nullptr) ? 0 : 94;
  }
  if (argc == 2 && std::wstring(argv[1]) == L"--hang-child") {
    Sleep(kBoundMs);
    return 0;
  }
  const std::wstring record = GetEnvironment(L"VELUM_TEST_RECORD");
  const std::wstring hang = GetEnvironment(L"VELUM_TEST_HANG");
  if (hang == L"1" || hang == L"child") {
    base::FilePath own;
    if (!base::PathRegistry::Get(base::FILE_EXE, &own)) return 95;
    base::CommandLine child(own);
    child.AppendSwitch("hang-child");
    if (!base::LaunchProcess(child, base::LaunchOptions()).IsValid()) return 95;
    if (!record.empty() && !WriteText(record + L".hang", "started")) return 95;
    if (hang == L"1") Sleep(kBoundMs);
  }
  const std::wstring held = GetSwitch(argc, argv, L"hold-file");
  // Closed by the process's end.
  if (!held.empty() && CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE)
    return 93;
  const std::wstring held_event = GetSwitch(argc, argv, L"held-event");
  if (!held_event.empty()) {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, held_event.c_str());
    if (!event) return 94;
    SetEvent(event);
    CloseHandle(event);
  }
  if (!record.empty() && !Record(record)) return 90;
  const std::wstring swap = GetEnvironment(L"VELUM_TEST_SWAP");
  if (!swap.empty() && !SwapThenReadBeside(swap, record)) return 93;
  const std::wstring try_write = GetEnvironment(L"VELUM_TEST_TRY_WRITE");
  if (!try_write.empty() && !TryWrite(try_write, record)) return 94;

  const std::wstring wait_event = GetSwitch(argc, argv, L"wait-event");
  if (!wait_event.empty()) {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, wait_event.c_str());
    if (!event) return 91;
    WaitForSingleObject(event, kBoundMs);
    CloseHandle(event);
  }

  const std::wstring folder = GetSwitch(argc, argv, L"set-folder-permission");
  if (GetEnvironment(L"VELUM_TEST_SIGNAL_PERMISSION") == L"1" && !folder.empty()) {
    HANDLE granted = OpenEventW(EVENT_MODIFY_STATE, FALSE,
                                EventName(L"VelumInstaller/GiveInstallPermission", folder).c_str());
    HANDLE undo =
        OpenEventW(SYNCHRONIZE, FALSE,
                   EventName(L"VelumInstaller/GiveInstallPermission/Undo", folder).c_str());
    if (!granted || !undo) return 92;
    SetEvent(granted);
    WaitForSingleObject(undo, kBoundMs);
    CloseHandle(granted);
    CloseHandle(undo);
  }

  const std::wstring exit_code = GetEnvironment(L"VELUM_TEST_EXIT_CODE");
  return exit_code.empty() ? 0 : _wtoi(exit_code.c_str());
}
