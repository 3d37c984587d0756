#include "desktop/windows/installer/steps/post_installation_tasks.h"

#include <memory>

#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/component_steps.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/steps/os_operations.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installer_pref_store.h"
#include "desktop/windows/installer/service/status_file_loader.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

const char kPartnerContentFeature[] = "keep-custom-partner-content-file-in-profile";

// A preference file of the profile; null when it does not exist.
base::scoped_refptr<JsonPrefStore> OpenProfileStore(const base::FilePath& path) {
  if (!base::PathExists(path)) return nullptr;
  return CreateInstallerPrefStore(GetPrefsTaskPool(), path);
}

void SaveProfileStore(base::scoped_refptr<JsonPrefStore>* store, const base::FilePath& path) {
  if (!*store) return;
  CommitInstallerPrefStore(GetPrefsTaskPool(), store->get(), path);
  *store = nullptr;
}

// The package's partner files replace or remove those of the profile; `subfolder` is the
// version folder of the installation just made.
void UpdatePartnerContent(InstallationContext* context, const std::wstring& subfolder,
                          const base::FilePath& profile, JsonPrefStore* local_state) {
  const base::FilePath resources =
      context->GetInstallFolder().Append(subfolder).Append(L"resources");
  const base::FilePath profile_partner = profile.Append(L"custom_partner_content.json");
  const base::FilePath profile_agent = profile.Append(L"tracking_user_agent.json");
  const base::FilePath new_partner = resources.Append(L"custom_partner_content.json");
  const base::FilePath new_agent = resources.Append(L"tracking_user_agent.json");
  bool updated = false;
  if (!base::PathExists(new_partner) && !base::PathExists(new_agent)) {
    updated = base::PathExists(profile_partner) && base::DeleteFile(profile_partner, false);
    if (!base::DeleteFile(profile_agent, false))
      LOG(WARNING) << "Could not remove " << profile_agent.AsUTF8();
    VLOG(1) << "Removing tracking ua file from the user profile";
  } else if (!base::PathExists(profile_partner) && !base::PathExists(profile_agent) &&
             base::IsFeatureEnabled(kPartnerContentFeature) && base::PathExists(new_partner)) {
    VLOG(1) << "Installed new cutsom edition to the user profile";
    updated = base::CopyFile(new_partner, profile_partner);
    if (!updated) LOG(WARNING) << "Failed to copy new custom edition file.";
  }
  if (updated) {
    VLOG(1) << "Flag the fact that custom content was updated in profile.";
    local_state->SetValue("custom_partner_content.updated", std::make_unique<base::Value>(true),
                          0);
  }
}

void UpdateProfile(InstallationContext* context, const std::wstring& subfolder,
                   const base::FilePath& profile) {
  VLOG(1) << "User profile modifications";
  const Settings* settings = context->GetSettings();
  const base::FilePath local_state_path = profile.Append(L"Local State");
  base::scoped_refptr<JsonPrefStore> local_state = OpenProfileStore(local_state_path);
  const base::Value* value = nullptr;
  if (local_state && local_state->GetValue("intl.app_locale", &value)) {
    VLOG(1) << "Updating user profile language";
    local_state->SetValue("intl.app_locale",
                          std::make_unique<base::Value>(settings->install_language()), 0);
  }
  const bool autoupdate = settings->flag(Settings::AUTOUPDATE);
  if (!autoupdate) {
    const base::FilePath preferences_path = profile.Append(L"Preferences");
    base::scoped_refptr<JsonPrefStore> preferences = OpenProfileStore(preferences_path);
    if (preferences) {
      VLOG(1) << "Removing stat pref from the user profile";
      preferences->RemoveValue("statistics.collection_enabled", 0);
      SaveProfileStore(&preferences, preferences_path);
    }
    if (local_state) UpdatePartnerContent(context, subfolder, profile, local_state.get());
  }
  SaveProfileStore(&local_state, local_state_path);
}

void Finalize(InstallationContext* context, const std::wstring& subfolder) {
  LOG(INFO) << "Finalizing successful installation";
  Settings* settings = context->GetSettings();
  const base::FilePath& profile = settings->status().user_data_folder();
  if (!profile.empty()) UpdateProfile(context, subfolder, profile);
  if (!settings->flag(Settings::LAUNCH_VELUM)) return;
  base::CommandLine command(context->GetInstallFolder().Append(kLauncherFileName));
  static const char* const kImportSwitches[] = {
      switches::kImportBookmarks, switches::kImportSession, switches::kImportTopsitesToStartPage};
  command.CopySwitchesFrom(*base::CommandLine::ForCurrentProcess(), kImportSwitches,
                           sizeof(kImportSwitches) / sizeof(kImportSwitches[0]));
  if (settings->operation() != Settings::OPERATION_UPGRADE)
    command.AppendSwitch(switches::kStartMaximized);
  LOG(INFO) << "Launching velum with command line "
            << base::WideToUTF8(command.GetCommandLineString());
  base::Process launcher = base::LaunchProcess(command, base::LaunchOptions());
  int32_t exit_code = 0;
  if (!launcher.IsValid() || !launcher.WaitForExit(&exit_code))
    LOG(WARNING) << "Could not run the launcher";
}

}  // namespace

void RunPostElevationTasks(InstallationContext* context) {
  VLOG(1) << "Running post elevation installation tasks.";
  Settings* settings = context->GetSettings();
  const bool uninstall = settings->operation() == Settings::OPERATION_UNINSTALL;
  OsOperations* operations = context->GetOsOperations();
  if (!uninstall && operations && !operations->SetUpDefaultBrowser(*settings, nullptr).ok())
    LOG(WARNING) << "Going on with an incomplete default-browser set-up.";
  // After an elevated copy did the work in this same run, the status and this process's
  // own record predate it: the record that copy has just written names the version
  // folder and the components. An uninstallation has removed it.
  std::string error;
  const std::unique_ptr<InstallLog> written =
      LoadInstallLog(context->GetInstallFolder(), SOURCE_STATUS_FILE, &error);
  if (!written && !error.empty())
    LOG(WARNING) << "Could not read the new installation record: " << error;
  const InstallLog* record = written ? written.get() : settings->status().record();
  if (record) {
    for (const InstallLog::Component& component : record->components) {
      const base::FilePath folder(component.path);
      base::CommandLine command(
          GetComponentInstallerPath(folder, base::UTF8ToWide(component.name)));
      command.AppendSwitch(switches::kPostElevatedInstallTasks);
      command.AppendSwitchPath(switches::kInstallFolder, folder);
      LOG(INFO) << "Launching " << component.name << " component subinstaller with command line "
                << base::WideToUTF8(command.GetCommandLineString());
      if (!base::LaunchProcess(command, base::LaunchOptions()).IsValid())
        LOG(WARNING) << "Could not start the " << component.name << " component subinstaller";
    }
  }
  if (!uninstall) Finalize(context, record ? record->subfolder : std::wstring());
}

void FinalizeSuccessfulInstallation(InstallationContext* context) {
  Finalize(context, context->GetInstallLog()->subfolder);
}

}  // namespace installer
