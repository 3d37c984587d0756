#include "desktop/windows/installer/steps/finalize_installation_steps.h"

#include <memory>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/steps/installer_system.h"
#include "desktop/windows/installer/steps/os_operations.h"
#include "desktop/windows/installer/service/association_registration.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/service/installer_pref_store.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {

namespace {

const int kAutoupdateTaskDescription = 37052;
const uint32_t kAutoupdateTaskTimeLimitSeconds = 3600;
const char kTaskErrorCount[] = "au_task_error_count";

int GetAutoupdateIntervalDays() { return GetScheduleAutoupdateTask() ? 1 : 2; }

// One failed run fewer counts against the task once it is registered again.
void LowerTaskErrorCount(const base::FilePath& install_folder) {
  const base::FilePath path = install_folder.Append(kInstallerPrefsFileName);
  PrefsTaskPoolHolder* pool = GetPrefsTaskPool();
  base::scoped_refptr<JsonPrefStore> prefs = CreateInstallerPrefStore(pool, path);
  const base::Value* value = nullptr;
  int count = 0;
  if (!prefs->GetValue(kTaskErrorCount, &value) || !value->GetAsInteger(&count) || count <= 0)
    return;
  prefs->SetValue(kTaskErrorCount, std::make_unique<base::Value>(count - 1), 0);
  VLOG(1) << "Setting autoupdate task error counter to : " << count - 1;
  CommitInstallerPrefStore(pool, prefs.get(), path);
}

}  // namespace

ScheduledTaskInfo BuildAutoupdateTaskInfo(const base::FilePath& install_folder,
                                          const std::string& app_id, bool all_users) {
  base::CommandLine command(install_folder.Append(kLauncherFileName));
  command.AppendSwitch(switches::kScheduledAutoupdate);
  command.AppendArg("$(Arg0)");
  ScheduledTaskInfo info(command);
  info.name = GetAutoupdateTaskBaseName(app_id);
  info.description = GetLocalizedString(kAutoupdateTaskDescription);
  info.machine_wide = all_users ? 1 : 0;
  info.time_limit = kAutoupdateTaskTimeLimitSeconds;
  info.schedule = ScheduledTaskInfo::kDaily;
  info.logon_trigger = GetScheduleAutoupdateTask();
  info.network_only = true;
  return info;
}

const InstallLog::RegistryKey* FindRecordedKey(const std::vector<InstallLog::RegistryKey>& keys,
                                               const std::string& path) {
  // The registry ignores case, and the registration writes "UrlAssociations".
  for (const InstallLog::RegistryKey& key : keys) {
    if (base::EqualsCaseInsensitiveASCII(key.path, path)) return &key;
  }
  return nullptr;
}

base::FilePath GetProductExecutablePath(const base::FilePath& install_folder,
                                        const std::wstring& subfolder) {
  return install_folder.Append(subfolder).Append(base::UTF8ToWide(GetExecutableFileName()));
}

StepResult SetupProtocolHandlersStep::Run(int32_t /*attempt*/) {
  VLOG(1) << "Setting up protocol handlers.";
  // The elevated copy cannot ask the user; the installer that started it does.
  if (base::GetWindowsVersion() >= base::OS_VERSION_WIN10 && !HasAssociationRegistration() &&
      base::CommandLine::ForCurrentProcess()->HasSwitch(switches::kParentPid))
    return StepResult();
  OsOperations* operations = context_->GetOsOperations();
  // The browser works without its associations; the user can set them later.
  if (operations &&
      !operations->SetUpDefaultBrowser(*context_->GetSettings(), context_->GetInstallLog()).ok())
    LOG(WARNING) << "Going on with an incomplete default-browser set-up.";
  return StepResult();
}

StepResult RegisterProtocolHandlerStep::Run(int32_t /*attempt*/) {
  const InstallLog* existing = context_->GetSettings()->status().record();
  if (!existing) return StepResult();
  const std::wstring protocol = base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(
      switches::kRegisterAsProtocolHandler);
  // An empty name would overwrite the key's default value.
  if (protocol.empty()) return StepResult();
  const std::wstring client = base::UTF8ToWide(GetProductName() + GetChannelName());
  const std::wstring key_path =
      L"SOFTWARE\\Clients\\StartMenuInternet\\" + client + L"\\Capabilities\\URLAssociations";
  if (!FindRecordedKey(existing->machine_registry, base::WideToUTF8(key_path)))
    return StepResult();
  base::RegistryKey key;
  LONG written = key.Open(machine_root_, key_path.c_str(), KEY_SET_VALUE);
  if (written == ERROR_SUCCESS) written = key.WriteValue(protocol.c_str(), client.c_str());
  if (written != ERROR_SUCCESS) {
    LOG(WARNING) << "Could not register the protocol " << base::WideToUTF8(protocol);
    LOG(WARNING) << "Writing " << base::WideToUTF8(key_path) << " failed: "
                 << base::Win32ErrorToString(static_cast<DWORD>(written));
    return StepResult();
  }
  FolderInstallationInfo info(context_->GetInstallFolder());
  if (!info.SetAsDefaultHandlerWherePossible(protocol))
    LOG(WARNING) << "Could not make the browser the handler of " << base::WideToUTF8(protocol);
  return StepResult();
}

bool RegistersAutoupdateTask(InstallationContext* context) {
  const Settings* settings = context->GetSettings();
  // A per-user installation with the permission helper has no task of its own.
  return !settings->flag(Settings::COPY_ONLY) &&
         (settings->flag(Settings::ALL_USERS_FLAG) || !context->HasPermissionHelper());
}

StepResult FinalizeInstallationStep::Run(int32_t /*attempt*/) {
  VLOG(1) << "Finalizing the installation";
  if (RegistersAutoupdateTask(context_)) {
    // The browser still runs without its task: it updates when started.
    const base::Result<> registered = RegisterAutoupdateTask();
    if (!registered.ok()) LOG(ERROR) << registered.failure().text;
  }
  const InstallerSystem& system = context_->GetSystem();
  if (system.is_user_admin()) {
    CreateFirewallRules(
        system, GetProductExecutablePath(context_->GetInstallFolder(), context_->GetInstallLog()->subfolder),
        false);
  }
  return StepResult();
}

base::Result<> FinalizeInstallationStep::RegisterAutoupdateTask() {
  context_->WaitForTaskService();
  std::unique_ptr<TaskScheduler> scheduler = context_->GetSystem().create_task_scheduler();
  if (!scheduler || !scheduler->Init())
    return base::Failure{0, 0, "Could not initialize task scheduler", {}};
  scheduler->DeleteOrphanedTasks();
  LOG(INFO) << "Creating scheduled task";
  const ScheduledTaskInfo info =
      BuildAutoupdateTaskInfo(context_->GetInstallFolder(), context_->GetInstallLog()->app_id,
                              context_->GetSettings()->flag(Settings::ALL_USERS_FLAG));
  if (!scheduler->RegisterTask(info))
    return base::Failure{0, 0, "Could not create scheduled task", {}};
  // Left at its daily default the task would update more often than the product says.
  if (!scheduler->SetDailyInterval(info.name, GetAutoupdateIntervalDays()))
    LOG(ERROR) << "Could not set the day interval of the scheduled task";
  LowerTaskErrorCount(context_->GetInstallFolder());
  return {};
}

}  // namespace installer
