#include "desktop/windows/installer/os_operations.h"

#include <windows.h>
#include <shlobj.h>

#include <memory>

#include "base/logging.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/association_registration.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/status.h"

namespace installer {

void NotifyAssociationsChanged() {
  SendNotifyMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                     reinterpret_cast<LPARAM>(L"Software\\Clients\\StartMenuInternet"));
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

void OsOperationsImpl::SetUpDefaultBrowser(const Settings& settings, const InstallLog* record) {
  if (settings.flag(Settings::COPY_ONLY)) return;
  // Without the association interface Windows 10 asks the user; a silent run or a
  // browser that already handles the web must not make it ask.
  if (base::GetWindowsVersion() >= base::OS_VERSION_WIN10 && !HasAssociationRegistration() &&
      (settings.flag(Settings::SILENT) || settings.status().handles_http()))
    return;
  FolderInstallationInfo info(
      settings.install_folder(),
      std::make_unique<InstallLog>(record ? record->source : static_cast<uint32_t>(SOURCE_NEW)));
  if (settings.flag(Settings::DEFAULT_BROWSER)) {
    if (settings.flag(Settings::ALL_USERS_FLAG)) {
      VLOG(1) << "Storing old default browser settings for all users";
      info.RememberPreviousDefaultBrowser(true);
      info.SetAsDefaultBrowser(true);
    }
    VLOG(1) << "Storing old default browser settings for current users";
    info.RememberPreviousDefaultBrowser(false);
    info.SetAsDefaultBrowser(false);
  } else {
    LOG(INFO) << "Setting up file handlers for the current user.";
    info.RegisterClasses(false);
  }
  NotifyAssociationsChanged();
}

}  // namespace installer
