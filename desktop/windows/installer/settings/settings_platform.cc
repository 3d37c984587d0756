#include "desktop/windows/installer/settings/settings_platform.h"

#include <windows.h>
#include <knownfolders.h>
#include <winioctl.h>

#include <algorithm>

#include "base/base_paths_win.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/rand_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/installation_info.h"
#include "desktop/windows/installer/service/path_names.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

// Whether the drive holds media; a changed medium counts as present. The second form of
// the check works on a handle opened for attributes only, which needs no read access.
bool DriveHasMedia(wchar_t letter) {
  wchar_t device[] = L"\\\\.\\?:";
  device[4] = letter;
  base::ScopedHandle handle(CreateFileW(device, FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  if (!handle.IsValid())
    return false;
  DWORD returned = 0;
  if (DeviceIoControl(handle.Get(), IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, nullptr, 0,
                      &returned, nullptr)) {
    return true;
  }
  return GetLastError() == ERROR_MEDIA_CHANGED;
}

class WindowsSettingsPlatform : public SettingsPlatform {
 public:
  bool IsUserAdmin(bool use_linked_token) override {
    return installer::IsUserAdmin(use_linked_token);
  }
  bool IsBeforeWindows7() override {
    return base::GetWindowsVersion() < base::OS_VERSION_WIN7;
  }
  int32_t GetChannel() override { return installer::GetChannel(); }
  std::wstring SelectSystemLanguage() override { return SelectLanguage(std::wstring()); }
  std::wstring SelectLanguage(const std::wstring& code) override {
    LANGID language = 0;
    std::wstring chosen = code;
    SelectUiLanguage(&language, &chosen);
    return chosen;
  }
  base::FilePath GetStandardInstallFolder(bool all_users, int32_t architecture) override {
    base::FilePath folder;
    if (all_users) {
      int key = architecture == 1 ? base::DIR_PROGRAM_FILES6432 : base::DIR_PROGRAM_FILESX86;
      if (!base::PathRegistry::Get(key, &folder))
        return base::FilePath();
    } else {
      if (IsBeforeWindows7() ||
          !GetKnownFolderPath(FOLDERID_UserProgramFiles, -1, &folder, false)) {
        // Where the known folder lives by default; also when the system cannot name it.
        if (base::PathRegistry::Get(base::DIR_LOCAL_APP_DATA, &folder))
          folder = folder.Append(L"Programs");
      }
      if (folder.empty())
        return base::FilePath();
    }
    return folder.Append(base::UTF8ToWide(installer::GetVisibleProductName()));
  }
  base::FilePath GetRegistryInstallFolder(int32_t architecture) override {
    return ReadRegistryInstallFolder(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath(),
                                     architecture, installer::GetChannel(), GetChannelName(),
                                     GetStreamName());
  }
  std::vector<base::FilePath> GetStandaloneInstallPaths() override {
    std::vector<StandaloneDrive> drives;
    DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
      if (!(mask & (1u << i)))
        continue;
      wchar_t letter = static_cast<wchar_t>(L'A' + i);
      if (!DriveHasMedia(letter))
        continue;
      wchar_t root[] = L"?:\\";
      root[0] = letter;
      drives.push_back({letter, RankOfDriveType(GetDriveTypeW(root))});
    }
    std::vector<base::FilePath> paths = OrderStandalonePaths(
        drives, base::UTF8ToWide(installer::GetVisibleProductName()));
    LOG(INFO) << "Found " << paths.size() << " paths for standalone install mode.";
    for (const base::FilePath& path : paths)
      LOG(INFO) << path.value();
    return paths;
  }
  bool HasSeveralUninstallEntries() override {
    std::wstring product = base::UTF8ToWide(installer::GetProductName());
    int32_t channel = installer::GetChannel();
    int found = 0;
    if (CountUninstallEntries(HKEY_CURRENT_USER, 0, GetUninstallKeyPath(), product, channel,
                              &found)) {
      return true;
    }
    if (base::OsInfo::Instance()->architecture() == base::OsInfo::X64_ARCHITECTURE &&
        CountUninstallEntries(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, GetUninstallKeyPath(),
                              product, channel, &found)) {
      return true;
    }
    return CountUninstallEntries(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, GetUninstallKeyPath(),
                                 product, channel, &found);
  }
  base::FilePath GetInstalledProductFolder() override {
    return InstallationInfo::GetInstance()->GetInstallFolder();
  }
  InstallTarget ExamineInstallTarget(const base::FilePath& folder, bool replace_basalt,
                                     bool autoupdate) override {
    return BuildStatus(folder, replace_basalt, autoupdate)->ToTarget();
  }
  std::unique_ptr<Status> BuildStatus(const base::FilePath& folder, bool replace_basalt,
                                      bool autoupdate) override {
    auto status = std::make_unique<Status>(replace_basalt);
    // Every process of an uninstallation, front end and backend, runs with the switch.
    status->set_finishes_uninstallation(
        base::CommandLine::ForCurrentProcess()->HasSwitch(switches::kUninstall));
    // An automatic update may recover a broken status file from its saved copies.
    status->Initialize(folder, autoupdate ? 1 : 0);
    return status;
  }
};

}  // namespace

std::unique_ptr<Status> SettingsPlatform::BuildStatus(const base::FilePath& folder,
                                                      bool replace_basalt, bool autoupdate) {
  return Status::FromTarget(ExamineInstallTarget(folder, replace_basalt, autoupdate),
                            replace_basalt);
}

int SettingsPlatform::RandomPercent() { return base::RandInt(0, 99); }

base::FilePath ReadRegistryInstallFolder(HKEY root, const std::wstring& key_path,
                                         int32_t architecture, int32_t channel,
                                         const std::string& channel_name,
                                         const std::string& stream_name) {
  base::RegistryKey key(root, key_path.c_str(), KEY_READ);
  if (!key.Valid())
    return base::FilePath();
  std::vector<std::wstring> names;
  std::wstring channel_wide = base::UTF8ToWide(channel_name);
  if (architecture == 1)
    names.push_back(L"Last " + channel_wide + L" Install Path x64");
  names.push_back(L"Last " + channel_wide + L" Install Path");
  names.push_back(L"Last " + base::UTF8ToWide(stream_name) + L" Install Path");
  if (channel == 4)
    names.push_back(L"Last install path");
  for (const std::wstring& name : names) {
    std::wstring value;
    if (key.ReadValue(name.c_str(), &value) != ERROR_SUCCESS)
      continue;
    base::FilePath folder(value);
    if (folder.IsAbsolute() && base::DirectoryExists(folder))
      return folder.StripTrailingSeparators();
    return base::FilePath();  // the first value that reads decides
  }
  return base::FilePath();
}

bool IsUninstallEntryOfStream(const std::wstring& key_name, const std::wstring& publisher,
                              const std::wstring& display_name,
                              const std::wstring& product_name, int32_t channel) {
  if (key_name.compare(0, 5, L"Velum") != 0 ||
      publisher.compare(0, 14, L"Velum Software") != 0) {
    return false;
  }
  std::wstring prefix = product_name + L" ";
  if (display_name.compare(0, prefix.size(), prefix) != 0)
    return false;
  size_t end = display_name.find(L' ', prefix.size());
  std::wstring word = display_name.substr(prefix.size(), end == std::wstring::npos
                                                             ? std::wstring::npos
                                                             : end - prefix.size());
  switch (channel) {
    case 4:
      return word == L"Stable";
    case 3:
      return word == L"beta" || word == L"Next";
    case 2:
      return word == L"developer" || word == L"Developer";
    case 1:
      return word == L"nightly";
    default:
      return false;
  }
}

bool CountUninstallEntries(HKEY root, REGSAM view, const std::wstring& key_path,
                           const std::wstring& product_name, int32_t channel, int* found) {
  base::RegistryKey uninstall(root, key_path.c_str(), KEY_READ | view);
  if (!uninstall.Valid())
    return *found >= 2;
  wchar_t name[256];
  for (DWORD index = 0; *found < 2; ++index) {
    DWORD length = sizeof(name) / sizeof(name[0]);
    LONG result = RegEnumKeyExW(uninstall.Handle(), index, name, &length, nullptr, nullptr,
                                nullptr, nullptr);
    if (result == ERROR_MORE_DATA)
      continue;  // longer than any of ours
    if (result != ERROR_SUCCESS)
      break;
    base::RegistryKey entry(uninstall.Handle(), name, KEY_READ | view);
    std::wstring publisher, display_name;
    if (entry.ReadValue(L"Publisher", &publisher) != ERROR_SUCCESS) {
      LOG(INFO) << "Cannot read Publisher in an uninstall key";
      continue;
    }
    if (entry.ReadValue(L"DisplayName", &display_name) != ERROR_SUCCESS) {
      LOG(INFO) << "Cannot read Display Name in an uninstall key";
      continue;
    }
    if (display_name.compare(0, product_name.size(), product_name) != 0)
      LOG(INFO) << "DisplayName does not start with Velum";
    if (IsUninstallEntryOfStream(name, publisher, display_name, product_name, channel))
      ++*found;
  }
  return *found >= 2;
}

int RankOfDriveType(UINT drive_type) {
  switch (drive_type) {
    case DRIVE_REMOVABLE:
      return 0;
    case DRIVE_REMOTE:
      return 1;
    case DRIVE_FIXED:
      return 3;
    case DRIVE_RAMDISK:
      return 4;
    case DRIVE_CDROM:
      return 5;
    case DRIVE_NO_ROOT_DIR:
      return 7;
    default:
      return 6;
  }
}

std::vector<base::FilePath> OrderStandalonePaths(std::vector<StandaloneDrive> drives,
                                                 const std::wstring& product_name) {
  std::stable_sort(drives.begin(), drives.end(),
                   [](const StandaloneDrive& a, const StandaloneDrive& b) {
                     return a.rank < b.rank;
                   });
  std::vector<base::FilePath> paths;
  for (size_t i = 0; i < drives.size(); ++i) {
    if (i > 0 && drives[i].rank >= 5)
      continue;
    std::wstring root(1, drives[i].letter);
    root += L":\\";
    paths.push_back(base::FilePath(root + product_name));
  }
  return paths;
}

SettingsPlatform* GetDefaultSettingsPlatform() {
  static WindowsSettingsPlatform* platform = new WindowsSettingsPlatform;
  return platform;
}

}  // namespace installer
