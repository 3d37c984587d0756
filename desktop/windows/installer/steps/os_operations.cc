#include "desktop/windows/installer/steps/os_operations.h"

#include <windows.h>
#include <shlobj.h>

#include <memory>

#include "base/logging.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/association_registration.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

void NotifyAssociationsChanged() {
  SendNotifyMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                     reinterpret_cast<LPARAM>(L"Software\\Clients\\StartMenuInternet"));
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

namespace {

// Logs a failed part of the set-up; gives `succeeded` back so the parts read as a chain.
bool Reported(bool succeeded, const char* what, bool machine_wide) {
  if (!succeeded)
    LOG(WARNING) << "Could not " << what << (machine_wide ? " for all users" : " for the current user");
  return succeeded;
}

}  // namespace

bool OsOperationsImpl::SetUpDefaultBrowser(const Settings& settings, const InstallLog* record) {
  if (settings.flag(Settings::COPY_ONLY)) return true;
  // Without the association interface Windows 10 asks the user; a silent run or a
  // browser that already handles the web must not make it ask.
  if (base::GetWindowsVersion() >= base::OS_VERSION_WIN10 && !HasAssociationRegistration() &&
      (settings.flag(Settings::SILENT) || settings.status().handles_http()))
    return true;
  FolderInstallationInfo info(
      settings.install_folder(),
      std::make_unique<InstallLog>(record ? record->source : static_cast<uint32_t>(SOURCE_NEW)));
  bool succeeded = true;
  if (settings.flag(Settings::DEFAULT_BROWSER)) {
    if (settings.flag(Settings::ALL_USERS_FLAG)) {
      VLOG(1) << "Storing old default browser settings for all users";
      succeeded &= Reported(info.RememberPreviousDefaultBrowser(true),
                            "store the previous default browser", true);
      succeeded &= Reported(info.SetAsDefaultBrowser(true), "set the default browser", true);
    }
    VLOG(1) << "Storing old default browser settings for current users";
    succeeded &= Reported(info.RememberPreviousDefaultBrowser(false),
                          "store the previous default browser", false);
    succeeded &= Reported(info.SetAsDefaultBrowser(false), "set the default browser", false);
  } else {
    LOG(INFO) << "Setting up file handlers for the current user.";
    succeeded &= Reported(info.RegisterClasses(false), "register the file handlers", false);
  }
  NotifyAssociationsChanged();
  return succeeded;
}

}  // namespace installer
