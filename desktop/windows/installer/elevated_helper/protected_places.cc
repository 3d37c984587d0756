#include "desktop/windows/installer/elevated_helper/protected_places.h"

#include <shlobj.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/string_util.h"
#include "base/win/registry.h"

namespace installer {

namespace {

// Each user's folders that run or offer code at logon, on a click or by lookup.
const int kUserFolders[] = {
    CSIDL_PROFILE,  CSIDL_STARTUP,        CSIDL_PROGRAMS,  CSIDL_STARTMENU, CSIDL_DESKTOPDIRECTORY,
    CSIDL_PERSONAL, CSIDL_APPDATA,        CSIDL_LOCAL_APPDATA, CSIDL_SENDTO, CSIDL_TEMPLATES,
};
// The same for all users, and the system's own.
const int kCommonFolders[] = {
    CSIDL_WINDOWS,         CSIDL_SYSTEM,           CSIDL_SYSTEMX86,
    CSIDL_COMMON_APPDATA,  CSIDL_COMMON_STARTUP,   CSIDL_COMMON_PROGRAMS,
    CSIDL_COMMON_STARTMENU, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS,
    CSIDL_COMMON_TEMPLATES,
};
// Folders that hold other programs' folders: refused themselves, not what they hold.
const int kProgramFolders[] = {
    CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_PROGRAM_FILES_COMMONX86,
};
// The values of User Shell Folders for the folders above.
const wchar_t* const kShellFolderValues[] = {
    L"Startup", L"Programs", L"Start Menu", L"Desktop",  L"Personal",
    L"AppData", L"Local AppData", L"SendTo", L"Templates",
};

const wchar_t kShellFoldersKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kProfileListKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kMachineEnvironmentKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

base::Failure Unreadable(LONG error, const std::wstring& what) {
  return base::Failure{static_cast<DWORD>(error), 0,
                       "a protected place cannot be read: " + base::FilePath(what).AsUTF8(),
                       base::FilePath(what)};
}

// A string value as stored (an expandable one not expanded); false when it is absent.
base::Result<bool> ReadRawString(HKEY key, const wchar_t* name, std::wstring* value) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG result = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (result == ERROR_FILE_NOT_FOUND) return false;
  for (int attempt = 0; attempt < 4 && result == ERROR_SUCCESS; ++attempt) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) return Unreadable(ERROR_CANTREAD, name);
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                              &bytes);
    if (result == ERROR_MORE_DATA) {
      size = bytes;
      result = ERROR_SUCCESS;
      continue;  // it grew meanwhile
    }
    if (result != ERROR_SUCCESS) break;
    value->assign(buffer.data(), wcsnlen(buffer.data(), bytes / sizeof(wchar_t)));
    return true;
  }
  return Unreadable(result == ERROR_SUCCESS ? ERROR_MORE_DATA : result, name);
}

// `text` with %USERPROFILE% as `profile` and the rest of the variables as this process
// has them.
std::wstring Expand(std::wstring text, const base::FilePath& profile) {
  static const wchar_t kProfileVariable[] = L"%USERPROFILE%";
  const size_t variable_length = wcslen(kProfileVariable);
  if (!profile.empty()) {
    for (size_t at = 0; at + variable_length <= text.size(); ++at) {
      if (_wcsnicmp(text.c_str() + at, kProfileVariable, variable_length) == 0) {
        text.replace(at, variable_length, profile.value());
        at += profile.value().size() - 1;
      }
    }
  }
  const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) return text;
  std::vector<wchar_t> expanded(needed + 1);
  if (ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed + 1) == 0) return text;
  return std::wstring(expanded.data());
}

void Add(const std::wstring& text, bool bars_below, std::vector<ProtectedPlace>* places) {
  const base::FilePath path = ResolvePlace(text);
  if (!path.empty()) places->push_back(ProtectedPlace{path, bars_below});
}

void AddKnownFolder(int csidl, HANDLE token, bool bars_below,
                    std::vector<ProtectedPlace>* places) {
  wchar_t path[MAX_PATH] = {};
  // A folder the shell does not know here (Wine lacks a few) has no place to protect.
  if (SHGetFolderPathW(nullptr, csidl, token, SHGFP_TYPE_CURRENT, path) == S_OK)
    Add(path, bars_below, places);
}

// Every profile the machine knows, wherever it lies, and the profiles' root.
base::Result<> AddProfiles(std::vector<ProtectedPlace>* places) {
  base::RegistryKey list;
  const LONG opened = list.Open(HKEY_LOCAL_MACHINE, kProfileListKey, KEY_READ);
  if (opened == ERROR_FILE_NOT_FOUND) return {};
  if (opened != ERROR_SUCCESS) return Unreadable(opened, kProfileListKey);
  for (const wchar_t* name : {L"ProfilesDirectory", L"Default", L"Public", L"ProgramData"}) {
    std::wstring value;
    const base::Result<bool> read = ReadRawString(list.Handle(), name, &value);
    if (!read.ok()) return read.failure();
    if (read.value()) Add(Expand(value, base::FilePath()), true, places);
  }
  for (DWORD index = 0;; ++index) {
    wchar_t sid[256] = {};
    DWORD length = 256;
    const LONG result =
        RegEnumKeyExW(list.Handle(), index, sid, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return {};
    if (result != ERROR_SUCCESS) return Unreadable(result, kProfileListKey);
    base::RegistryKey profile;
    if (profile.Open(list.Handle(), sid, KEY_READ) != ERROR_SUCCESS)
      return Unreadable(ERROR_CANTREAD, sid);
    std::wstring image;
    const base::Result<bool> read = ReadRawString(profile.Handle(), L"ProfileImagePath", &image);
    if (!read.ok()) return read.failure();
    if (read.value()) Add(Expand(image, base::FilePath()), true, places);
  }
}

// The profile folder of the account `sid`; empty when the machine lists none.
base::FilePath ProfileOf(const std::wstring& sid) {
  base::RegistryKey profile;
  std::wstring image;
  if (profile.Open(HKEY_LOCAL_MACHINE, (std::wstring(kProfileListKey) + L"\\" + sid).c_str(),
                   KEY_READ) != ERROR_SUCCESS) {
    return base::FilePath();
  }
  const base::Result<bool> read = ReadRawString(profile.Handle(), L"ProfileImagePath", &image);
  if (!read.ok() || !read.value()) return base::FilePath();
  return ResolvePlace(Expand(image, base::FilePath()));
}

// Every hive loaded under HKEY_USERS: the users logged on, services' accounts, .DEFAULT.
base::Result<> AddLoadedHives(std::vector<ProtectedPlace>* places) {
  for (DWORD index = 0;; ++index) {
    wchar_t sid[256] = {};
    DWORD length = 256;
    const LONG result =
        RegEnumKeyExW(HKEY_USERS, index, sid, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return {};
    if (result != ERROR_SUCCESS) return Unreadable(result, L"HKEY_USERS");
    if (base::EndsWith(base::StringPiece16(sid), L"_Classes", base::CompareCase::INSENSITIVE_ASCII)) continue;
    base::RegistryKey hive;
    const LONG opened = hive.Open(HKEY_USERS, sid, KEY_READ);
    if (opened != ERROR_SUCCESS) return Unreadable(opened, sid);
    const base::Result<> added = AddHivePlaces(hive.Handle(), ProfileOf(sid), places);
    if (!added.ok()) return added;
  }
}

}  // namespace

base::FilePath ResolvePlace(const std::wstring& text) {
  // A relative entry (".", "bin", "C:tools") names wherever the current folder is, not a
  // place of its own.
  if (text.size() < 3 || !iswalpha(text[0]) || text[1] != L':' ||
      (text[2] != L'\\' && text[2] != L'/')) {
    return base::FilePath();
  }
  wchar_t full[MAX_PATH] = {};
  const DWORD length = GetFullPathNameW(text.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH || !iswalpha(full[0]) || full[1] != L':' ||
      full[2] != L'\\') {
    return base::FilePath();
  }
  base::FilePath path = base::FilePath(full).StripTrailingSeparators();
  // Short names would slip past comparisons: make the existing part long.
  std::vector<std::wstring> missing;
  base::FilePath existing = path;
  while (!base::PathExists(existing) && existing.DirName() != existing) {
    missing.push_back(existing.BaseName().value());
    existing = existing.DirName();
  }
  wchar_t long_path[MAX_PATH] = {};
  const DWORD long_length = GetLongPathNameW(existing.value().c_str(), long_path, MAX_PATH);
  if (long_length > 0 && long_length < MAX_PATH) {
    path = base::FilePath(long_path).StripTrailingSeparators();
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) path = path.Append(*it);
  }
  std::wstring value = path.value();
  value[0] = towupper(value[0]);
  if (value.size() == 2) value += L"\\";
  return base::FilePath(value);
}

void AddSearchPathPlaces(const std::wstring& path_value, std::vector<ProtectedPlace>* places) {
  size_t start = 0;
  while (start <= path_value.size()) {
    size_t end = path_value.find(L';', start);
    if (end == std::wstring::npos) end = path_value.size();
    std::wstring entry = path_value.substr(start, end - start);
    start = end + 1;
    entry.erase(std::remove(entry.begin(), entry.end(), L'"'), entry.end());
    Add(entry, true, places);
  }
}

base::Result<> AddHivePlaces(HKEY user_key, const base::FilePath& profile,
                             std::vector<ProtectedPlace>* places) {
  if (!profile.empty()) places->push_back(ProtectedPlace{profile, true});
  base::RegistryKey shell_folders;
  LONG opened = shell_folders.Open(user_key, kShellFoldersKey, KEY_READ);
  if (opened == ERROR_SUCCESS) {
    for (const wchar_t* name : kShellFolderValues) {
      std::wstring value;
      const base::Result<bool> read = ReadRawString(shell_folders.Handle(), name, &value);
      if (!read.ok()) return read.failure();
      if (read.value()) Add(Expand(value, profile), true, places);
    }
  } else if (opened != ERROR_FILE_NOT_FOUND) {
    return Unreadable(opened, kShellFoldersKey);
  }
  base::RegistryKey environment;
  opened = environment.Open(user_key, L"Environment", KEY_READ);
  if (opened == ERROR_FILE_NOT_FOUND) return {};
  if (opened != ERROR_SUCCESS) return Unreadable(opened, L"Environment");
  std::wstring search_path;
  const base::Result<bool> read = ReadRawString(environment.Handle(), L"Path", &search_path);
  if (!read.ok()) return read.failure();
  if (read.value()) AddSearchPathPlaces(Expand(search_path, profile), places);
  return {};
}

base::Result<std::vector<ProtectedPlace>> ListProtectedPlaces(HANDLE requester_token) {
  std::vector<ProtectedPlace> places;
  for (int csidl : kCommonFolders) AddKnownFolder(csidl, nullptr, true, &places);
  for (int csidl : kProgramFolders) AddKnownFolder(csidl, nullptr, false, &places);
  for (int csidl : kUserFolders) AddKnownFolder(csidl, nullptr, true, &places);
  if (requester_token) {
    for (int csidl : kUserFolders) AddKnownFolder(csidl, requester_token, true, &places);
  }
  // The profiles' root holds every profile, also one that is made later.
  wchar_t profile[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile) == S_OK)
    Add(base::FilePath(profile).DirName().value(), true, &places);
  base::Result<> added = AddProfiles(&places);
  if (added.ok()) added = AddLoadedHives(&places);
  if (!added.ok()) return added.failure();
  base::RegistryKey machine;
  const LONG opened = machine.Open(HKEY_LOCAL_MACHINE, kMachineEnvironmentKey, KEY_READ);
  if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND)
    return Unreadable(opened, kMachineEnvironmentKey);
  std::wstring search_path;
  if (opened == ERROR_SUCCESS) {
    const base::Result<bool> read = ReadRawString(machine.Handle(), L"Path", &search_path);
    if (!read.ok()) return read.failure();
    if (read.value()) AddSearchPathPlaces(Expand(search_path, base::FilePath()), &places);
  }
  return places;
}

}  // namespace installer
