#include "desktop/windows/installer/steps/os_operations.h"

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <string>

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

// Logs a failed part of the set-up and adds it to `failed`, the failure's text.
void Report(bool succeeded, const char* what, bool machine_wide, std::string* failed) {
  if (succeeded) return;
  const std::string part =
      std::string(what) + (machine_wide ? " for all users" : " for the current user");
  LOG(WARNING) << "Could not " << part;
  *failed += (failed->empty() ? "could not " : "; could not ") + part;
}

}  // namespace

base::Result<> OsOperationsImpl::SetUpDefaultBrowser(const Settings& settings,
                                                     const InstallLog* record) {
  if (settings.flag(Settings::COPY_ONLY)) return {};
  // Without the association interface Windows 10 asks the user; a silent run or a
  // browser that already handles the web must not make it ask.
  if (base::GetWindowsVersion() >= base::OS_VERSION_WIN10 && !HasAssociationRegistration() &&
      (settings.flag(Settings::SILENT) || settings.status().handles_http()))
    return {};
  FolderInstallationInfo info(
      settings.install_folder(),
      std::make_unique<InstallLog>(record ? record->source : static_cast<uint32_t>(SOURCE_NEW)));
  std::string failed;
  if (settings.flag(Settings::DEFAULT_BROWSER)) {
    if (settings.flag(Settings::ALL_USERS_FLAG)) {
      VLOG(1) << "Storing old default browser settings for all users";
      Report(info.RememberPreviousDefaultBrowser(true), "store the previous default browser", true,
             &failed);
      Report(info.SetAsDefaultBrowser(true), "set the default browser", true, &failed);
    }
    VLOG(1) << "Storing old default browser settings for current users";
    Report(info.RememberPreviousDefaultBrowser(false), "store the previous default browser", false,
           &failed);
    Report(info.SetAsDefaultBrowser(false), "set the default browser", false, &failed);
  } else {
    LOG(INFO) << "Setting up file handlers for the current user.";
    Report(info.RegisterClasses(false), "register the file handlers", false, &failed);
  }
  NotifyAssociationsChanged();
  if (!failed.empty()) return base::Failure{0, 0, failed, settings.install_folder()};
  return {};
}

}  // namespace installer
