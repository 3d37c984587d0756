#include "base/base_paths_win.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <string>

#include "base/base_paths.h"
#include "base/path_service.h"
#include "base/win/win_util.h"
#include "base/win/windows_version.h"

namespace base {

namespace {

[[nodiscard]] bool GetFolder(int csidl, FilePath* path) {
  wchar_t buffer[MAX_PATH + 1] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return false;
  *path = FilePath(buffer);
  return true;
}

// {A3918781-E5F2-4890-B3D9-A7E54332328C}
const GUID kApplicationShortcutsFolder = {
    0xA3918781, 0xE5F2, 0x4890, {0xB3, 0xD9, 0xA7, 0xE5, 0x43, 0x32, 0x32, 0x8C}};

[[nodiscard]] bool GetKnownFolder(const GUID& id, FilePath* path) {
  wchar_t* text = nullptr;
  const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &text);
  // The system hands out the text even on some failures; it is freed either way.
  const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(text, &CoTaskMemFree);
  if (FAILED(result) || !owned) return false;
  *path = FilePath(owned.get());
  return true;
}

const wchar_t kCrashStatsFileName[] = L"crash_stats.json";
const wchar_t kLocalStateFileName[] = L"Local State";

}  // namespace

// Module paths past MAX_PATH are real (\\?\ paths, long-path aware systems); the buffer
// grows up to the longest path Windows has.
const DWORD kMaxModulePath = 32768;

// A full buffer means GetModuleFileNameW truncated the path (it still reports success):
// retry larger, and fail when even the largest buffer is full.
bool GetModuleFilePath(HMODULE module, FilePath* path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(module, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      *path = FilePath(buffer);
      return true;
    }
    if (buffer.size() >= kMaxModulePath) return false;
    buffer.resize(buffer.size() * 2);
  }
}

namespace {

// The keys that are one shell folder each.
const struct {
  int key;
  int csidl;
} kShellFolders[] = {
    {DIR_USER_DESKTOP, CSIDL_DESKTOPDIRECTORY},
    {DIR_PROGRAM_FILES, CSIDL_PROGRAM_FILES},
    {DIR_PROGRAM_FILES6432, CSIDL_PROGRAM_FILES},
    {DIR_IE_INTERNET_CACHE, CSIDL_INTERNET_CACHE},
    {DIR_COMMON_START_MENU, CSIDL_COMMON_PROGRAMS},
    {DIR_START_MENU, CSIDL_PROGRAMS},
    {DIR_APP_DATA, CSIDL_APPDATA},
    {DIR_LOCAL_APP_DATA, CSIDL_LOCAL_APPDATA},
    {DIR_COMMON_APP_DATA, CSIDL_COMMON_APPDATA},
    {DIR_COMMON_DESKTOP, CSIDL_COMMON_DESKTOPDIRECTORY},
    {DIR_WINDOWS_FONTS, CSIDL_FONTS},
};

// The keys the system answers otherwise, or that lie below another key's path.
[[nodiscard]] bool GetOtherPath(int key, FilePath* path) {
  wchar_t buffer[MAX_PATH + 1] = {};
  switch (key) {
    case FILE_EXE:
      return GetModuleFilePath(nullptr, path);
    case FILE_MODULE:
      return GetModuleFilePath(GetCurrentModuleHandle(), path);
    case DIR_SOURCE_ROOT:
      if (!PathRegistry::Get(DIR_EXE, path)) return false;
      *path = path->DirName().DirName();
      return true;
    case DIR_WINDOWS:
      GetWindowsDirectoryW(buffer, MAX_PATH);
      *path = FilePath(buffer);
      return true;
    case DIR_SYSTEM:
      GetSystemDirectoryW(buffer, MAX_PATH);
      *path = FilePath(buffer);
      return true;
    case DIR_PROGRAM_FILESX86:
      // An x86 system has only the one Program Files.
      return GetFolder(OsInfo::Instance()->architecture() != OsInfo::X86_ARCHITECTURE
                           ? CSIDL_PROGRAM_FILESX86
                           : CSIDL_PROGRAM_FILES,
                       path);
    case DIR_APP_SHORTCUTS:
      if (GetWindowsVersion() < OS_VERSION_WIN8) return false;
      return GetKnownFolder(kApplicationShortcutsFolder, path);
    case DIR_USER_QUICK_LAUNCH:
      if (!PathRegistry::Get(DIR_APP_DATA, path)) return false;
      *path = path->Append(L"Microsoft").Append(L"Internet Explorer").Append(L"Quick Launch");
      return true;
    case DIR_TASKBAR_PINS:
    case DIR_IMPLICIT_APP_SHORTCUTS:
      if (!PathRegistry::Get(DIR_USER_QUICK_LAUNCH, path)) return false;
      *path = path->Append(L"User Pinned")
                  .Append(key == DIR_TASKBAR_PINS ? L"TaskBar" : L"ImplicitAppShortcuts");
      return true;
    case FILE_CRASH_STATS:
    case FILE_LOCAL_STATE:
      if (!PathRegistry::Get(DIR_USER_DATA, path)) return false;
      *path = path->Append(key == FILE_CRASH_STATS ? kCrashStatsFileName : kLocalStateFileName);
      return true;
    default:
      return false;
  }
}

}  // namespace

bool WindowsPathProvider(int key, FilePath* result) {
  FilePath path;
  bool found = false;
  for (const auto& folder : kShellFolders) {
    if (folder.key != key) continue;
    if (!GetFolder(folder.csidl, &path)) return false;
    found = true;
    break;
  }
  if (!found && !GetOtherPath(key, &path)) return false;
  *result = path;
  return true;
}

}  // namespace base
