#include "desktop/windows/installer/elevated_helper/protected_places.h"

#include <shlobj.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/string_util.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/elevated_helper/long_path.h"

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

const wchar_t kMachineName[] = L"HKEY_LOCAL_MACHINE\\";
const wchar_t kUsersName[] = L"HKEY_USERS\\";
const wchar_t kHiveFileName[] = L"NTUSER.DAT";

// `what` names the hive, key and value (or the file) that could not be read.
base::Failure Unreadable(LONG error, const std::wstring& what) {
  return base::Failure{static_cast<DWORD>(error), 0,
                       "a protected place cannot be read: " + base::FilePath(what).AsUTF8(),
                       base::FilePath(what)};
}

// A string value as stored (an expandable one not expanded); false when it is absent.
// `key_name` names the key in a refusal.
base::Result<bool> ReadRawString(HKEY key, const std::wstring& key_name, const wchar_t* name,
                                 std::wstring* value) {
  const std::wstring what = key_name + L"\\" + name;
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG result = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (result == ERROR_FILE_NOT_FOUND) return false;
  for (int attempt = 0; attempt < 4 && result == ERROR_SUCCESS; ++attempt) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) return Unreadable(ERROR_CANTREAD, what);
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
  return Unreadable(result == ERROR_SUCCESS ? ERROR_MORE_DATA : result, what);
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

// A profile the machine lists: its account and its folder (empty when none is named).
struct Profile {
  std::wstring sid;
  base::FilePath folder;
};

bool SameSid(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

// The subkey names of `key` (named `key_name` in a refusal).
base::Result<std::vector<std::wstring>> SubkeysOf(HKEY key, const std::wstring& key_name) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = {};
    DWORD length = 256;
    const LONG result = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return names;
    if (result != ERROR_SUCCESS) return Unreadable(result, key_name);
    names.emplace_back(name, length);
  }
}

// Every profile the machine knows, wherever it lies, and the profiles' root; `profiles`
// receives the listed ones.
base::Result<> AddProfiles(HKEY machine, std::vector<Profile>* profiles,
                           std::vector<ProtectedPlace>* places) {
  const std::wstring list_name = kMachineName + std::wstring(kProfileListKey);
  base::RegistryKey list;
  const LONG opened = list.Open(machine, kProfileListKey, KEY_READ);
  if (opened == ERROR_FILE_NOT_FOUND) return {};
  if (opened != ERROR_SUCCESS) return Unreadable(opened, list_name);
  for (const wchar_t* name : {L"ProfilesDirectory", L"Default", L"Public", L"ProgramData"}) {
    std::wstring value;
    const base::Result<bool> read = ReadRawString(list.Handle(), list_name, name, &value);
    if (!read.ok()) return read.failure();
    if (read.value()) Add(Expand(value, base::FilePath()), true, places);
  }
  const base::Result<std::vector<std::wstring>> sids = SubkeysOf(list.Handle(), list_name);
  if (!sids.ok()) return sids.failure();
  for (const std::wstring& sid : sids.value()) {
    const std::wstring profile_name = list_name + L"\\" + sid;
    base::RegistryKey profile;
    const LONG profile_opened = profile.Open(list.Handle(), sid.c_str(), KEY_READ);
    if (profile_opened != ERROR_SUCCESS) return Unreadable(profile_opened, profile_name);
    std::wstring image;
    const base::Result<bool> read =
        ReadRawString(profile.Handle(), profile_name, L"ProfileImagePath", &image);
    if (!read.ok()) return read.failure();
    Profile listed{sid, base::FilePath()};
    if (read.value()) listed.folder = ResolvePlace(Expand(image, base::FilePath()));
    if (!listed.folder.empty()) places->push_back(ProtectedPlace{listed.folder, true});
    profiles->push_back(std::move(listed));
  }
  return {};
}

base::FilePath FolderOf(const std::wstring& sid, const std::vector<Profile>& profiles) {
  for (const Profile& profile : profiles) {
    if (SameSid(profile.sid, sid)) return profile.folder;
  }
  return base::FilePath();
}

// Every hive loaded under `users`: the users logged on, services' accounts, .DEFAULT;
// `loaded` receives their names.
base::Result<> AddLoadedHives(HKEY users, const std::vector<Profile>& profiles,
                              std::vector<std::wstring>* loaded,
                              std::vector<ProtectedPlace>* places) {
  const base::Result<std::vector<std::wstring>> sids = SubkeysOf(users, L"HKEY_USERS");
  if (!sids.ok()) return sids.failure();
  for (const std::wstring& sid : sids.value()) {
    if (base::EndsWith(base::StringPiece16(sid), L"_Classes", base::CompareCase::INSENSITIVE_ASCII))
      continue;
    base::RegistryKey hive;
    const LONG opened = hive.Open(users, sid.c_str(), KEY_READ);
    if (opened != ERROR_SUCCESS) return Unreadable(opened, kUsersName + sid);
    const base::Result<> added =
        AddHivePlaces(hive.Handle(), kUsersName + sid, FolderOf(sid, profiles), places);
    if (!added.ok()) return added;
    loaded->push_back(sid);
  }
  return {};
}

// The hives of the listed profiles whose users are not logged on, read from their files:
// a user's redirected folders hold code that runs at that user's next logon.
base::Result<> AddUnloadedHives(const PlaceSources& sources, const std::vector<Profile>& profiles,
                                const std::vector<std::wstring>& loaded,
                                std::vector<ProtectedPlace>* places) {
  // A loaded hive's file is read already, and locked: another entry naming its folder
  // (a profile's ".bak" entry) is not read again.
  const auto is_loaded = [&](const Profile& profile) {
    return std::any_of(loaded.begin(), loaded.end(), [&](const std::wstring& sid) {
      return SameSid(sid, profile.sid) ||
             base::FilePath::CompareIgnoreCase(FolderOf(sid, profiles).value(),
                                               profile.folder.value()) == 0;
    });
  };
  for (const Profile& profile : profiles) {
    if (profile.folder.empty() || is_loaded(profile)) continue;
    const base::FilePath hive_file = profile.folder.Append(kHiveFileName);
    base::ScopedHKEY hive;
    const LONG opened = sources.hive_opener->Open(profile.sid, hive_file, &hive);
    if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND) continue;
    if (opened != ERROR_SUCCESS) return Unreadable(opened, hive_file.value());
    const base::Result<> added = AddHivePlaces(hive.Get(), hive_file.value(), profile.folder,
                                               places);
    if (!added.ok()) return added;
  }
  return {};
}

// The folders of the machine's PATH.
base::Result<> AddMachineSearchPath(HKEY machine, std::vector<ProtectedPlace>* places) {
  const std::wstring key_name = kMachineName + std::wstring(kMachineEnvironmentKey);
  base::RegistryKey environment;
  const LONG opened = environment.Open(machine, kMachineEnvironmentKey, KEY_READ);
  if (opened == ERROR_FILE_NOT_FOUND) return {};
  if (opened != ERROR_SUCCESS) return Unreadable(opened, key_name);
  std::wstring search_path;
  const base::Result<bool> read =
      ReadRawString(environment.Handle(), key_name, L"Path", &search_path);
  if (!read.ok()) return read.failure();
  if (read.value()) AddSearchPathPlaces(Expand(search_path, base::FilePath()), places);
  return {};
}

class SystemHiveOpener : public ProfileHiveOpener {
 public:
  LONG Open(const std::wstring& /*sid*/, const base::FilePath& hive_file,
            base::ScopedHKEY* hive) const override {
    if (GetFileAttributesW(hive_file.value().c_str()) == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return static_cast<LONG>(error);
    }
    // Loaded for this process alone and unloaded when the key closes: nothing is left
    // loaded, and no privilege is needed.
    return RegLoadAppKeyW(hive_file.value().c_str(), hive->Receive(), KEY_READ,
                          REG_PROCESS_APPKEY, 0);
  }
};

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
  const base::Result<base::FilePath> long_path = WithLongNames(path);
  if (long_path.ok()) path = long_path.value();
  std::wstring value = path.value();
  value[0] = towupper(value[0]);
  if (value.size() == 2) value += L"\\";
  return base::FilePath(value);
}

void AddSearchPathPlaces(const std::wstring& path_value, std::vector<ProtectedPlace>* places) {
  // As cmd reads it: a ";" inside quotes belongs to the entry.
  std::wstring entry;
  bool quoted = false;
  for (const wchar_t c : path_value) {
    if (c == L'"') {
      quoted = !quoted;
    } else if (c == L';' && !quoted) {
      Add(entry, true, places);
      entry.clear();
    } else {
      entry += c;
    }
  }
  Add(entry, true, places);
}

const ProfileHiveOpener& SystemProfileHiveOpener() {
  static const SystemHiveOpener opener;
  return opener;
}

base::Result<> AddHivePlaces(HKEY user_key, const std::wstring& hive_name,
                             const base::FilePath& profile, std::vector<ProtectedPlace>* places) {
  if (!profile.empty()) places->push_back(ProtectedPlace{profile, true});
  const std::wstring shell_folders_name = hive_name + L"\\" + kShellFoldersKey;
  base::RegistryKey shell_folders;
  LONG opened = shell_folders.Open(user_key, kShellFoldersKey, KEY_READ);
  if (opened == ERROR_SUCCESS) {
    for (const wchar_t* name : kShellFolderValues) {
      std::wstring value;
      const base::Result<bool> read =
          ReadRawString(shell_folders.Handle(), shell_folders_name, name, &value);
      if (!read.ok()) return read.failure();
      if (read.value()) Add(Expand(value, profile), true, places);
    }
  } else if (opened != ERROR_FILE_NOT_FOUND) {
    return Unreadable(opened, shell_folders_name);
  }
  const std::wstring environment_name = hive_name + L"\\Environment";
  base::RegistryKey environment;
  opened = environment.Open(user_key, L"Environment", KEY_READ);
  if (opened == ERROR_FILE_NOT_FOUND) return {};
  if (opened != ERROR_SUCCESS) return Unreadable(opened, environment_name);
  std::wstring search_path;
  const base::Result<bool> read =
      ReadRawString(environment.Handle(), environment_name, L"Path", &search_path);
  if (!read.ok()) return read.failure();
  if (read.value()) AddSearchPathPlaces(Expand(search_path, profile), places);
  return {};
}

base::Result<std::vector<ProtectedPlace>> ListProtectedPlaces(HANDLE requester_token,
                                                              const PlaceSources& sources) {
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
  std::vector<Profile> profiles;
  std::vector<std::wstring> loaded;
  base::Result<> added = AddProfiles(sources.machine, &profiles, &places);
  if (added.ok()) added = AddLoadedHives(sources.users, profiles, &loaded, &places);
  if (added.ok()) added = AddUnloadedHives(sources, profiles, loaded, &places);
  if (added.ok()) added = AddMachineSearchPath(sources.machine, &places);
  if (!added.ok()) return added.failure();
  return places;
}

}  // namespace installer
