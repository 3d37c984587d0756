#include "desktop/windows/installer/service/shortcut_targets.h"

#include "base/base_paths_win.h"
#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/product_names.h"

namespace installer {

namespace {

bool IsSameFile(const base::FilePath& candidate, const base::FilePath& target,
                const BY_HANDLE_FILE_INFORMATION* target_information) {
  if (base::FilePath::CompareIgnoreCase(candidate.value(), target.value()) == 0) return true;
  if (!target_information) return false;
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileInformation(candidate, &information) &&
         information.dwVolumeSerialNumber == target_information->dwVolumeSerialNumber &&
         information.nFileIndexHigh == target_information->nFileIndexHigh &&
         information.nFileIndexLow == target_information->nFileIndexLow;
}

}  // namespace

bool GetFileInformation(const base::FilePath& path, BY_HANDLE_FILE_INFORMATION* information) {
  base::File file(path, base::File::FLAG_OPEN);
  if (!file.IsValid()) return false;
  return GetFileInformationByHandle(file.GetPlatformFile(), information) != FALSE;
}

bool TestShortcut(const base::FilePath& shortcut_path, const base::FilePath& target,
                  const BY_HANDLE_FILE_INFORMATION* target_information) {
  VLOG(1) << "Testing shortcut" << shortcut_path.value();
  if (shortcut_path.empty() || !base::PathExists(shortcut_path)) return false;
  base::FilePath shortcut_target;
  if (!base::ResolveShortcut(shortcut_path, &shortcut_target)) shortcut_target.clear();
  return IsSameFile(shortcut_target, target, target_information);
}

void FindProductShortcuts(const base::FilePath& target, const std::string& app_id,
                          const BY_HANDLE_FILE_INFORMATION* target_information,
                          std::vector<std::wstring>* shortcuts) {
  if (base::GetWindowsVersion() < base::OS_VERSION_WIN7) return;
  base::FilePath pins;
  if (!base::PathRegistry::Get(base::DIR_TASKBAR_PINS, &pins) || !base::DirectoryExists(pins))
    return;
  const std::wstring suffix = L"." + WidenBytes(app_id);
  base::FileEnumerator links(pins, false, base::FileEnumerator::FILES, L"*.lnk");
  for (base::FilePath link = links.Next(); !link.empty(); link = links.Next()) {
    base::ShortcutProperties properties;
    if (!base::ResolveShortcutProperties(link,
                                         base::ShortcutProperties::PROPERTIES_TARGET |
                                             base::ShortcutProperties::PROPERTIES_APP_ID,
                                         &properties)) {
      continue;
    }
    if (!IsSameFile(properties.target, target, target_information)) continue;
    if (base::EndsWith(properties.app_id, suffix, base::INSENSITIVE_ASCII))
      shortcuts->push_back(link.value());
  }
}

}  // namespace installer
