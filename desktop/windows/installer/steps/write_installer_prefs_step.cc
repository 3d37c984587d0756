#include "desktop/windows/installer/steps/write_installer_prefs_step.h"

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/settings/feature_flags.h"
#include "desktop/windows/installer/steps/file_step.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/service/installer_pref_store.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {

void GetInstallerExperiments(base::List* changed, base::List* all) {
  size_t count = 0;
  const FeatureFlag* flags = GetInstallerFeatureFlags(&count);
  for (size_t i = 0; i < count; ++i) {
    bool enabled = base::IsFeatureEnabled(flags[i].name);
    std::string entry = std::string(flags[i].name) + (enabled ? "@1" : "@2");
    if (enabled != IsFeatureFlagEnabledByDefault(flags[i])) changed->AppendString(entry);
    all->AppendString(entry);
  }
}

StepResult WriteInstallerPrefsStep::Run(int32_t /*attempt*/) {
  const Settings* settings = context_->GetSettings();
  base::FilePath path = context_->GetInstallFolder().Append(kInstallerPrefsFileName);
  LOG(INFO) << "Writing installer prefs to" << path.AsUTF8();
  // The values are written beside the file and copied over it through the transaction,
  // so that a failed installation leaves the earlier file as it was. The staging copy
  // starts from the earlier file to keep the keys this run does not set.
  base::FilePath staging = path.AddExtension(kStagingExtension);
  if (!base::DeleteFile(staging, false))
    LOG(WARNING) << "Could not clear " << staging.AsUTF8() << "; keys of an earlier run may stay";
  if (base::PathExists(path) && !base::CopyFile(path, staging))
    LOG(WARNING) << "Could not copy " << path.AsUTF8();
  PrefsTaskPoolHolder* pool = GetPrefsTaskPool();
  base::scoped_refptr<JsonPrefStore> prefs = CreateInstallerPrefStore(pool, staging);
  base::scoped_refptr<JsonPrefStore> include = CreateInstallerPrefStore(
      pool, context_->GetPackageFolder().Append(L"installer_prefs_include.json"));

  const base::Value* welcome_url = nullptr;
  if (include->GetValue("welcome-url", &welcome_url) &&
      welcome_url->type() == base::Value::Type::STRING) {
    VLOG(1) << "Writing welcome page url pref";
    prefs->SetValue("welcome-url", welcome_url->CreateDeepCopy(), 0);
  }
  prefs->SetValue("single_profile",
                  std::make_unique<base::Value>(settings->flag(Settings::SINGLE_PROFILE)), 0);
  if (!settings->profile_folder().empty()) {
    VLOG(1) << "Writing profile folder pref";
    prefs->SetValue("profile_path",
                    std::make_unique<base::Value>(settings->profile_folder().value()), 0);
  }
  if (!settings->install_language().empty()) {
    VLOG(1) << "Writing install language pref";
    prefs->SetValue("language", std::make_unique<base::Value>(settings->install_language()), 0);
  }
  if (!settings->niuid().empty()) {
    VLOG(1) << "Writing NIUID";
    prefs->SetValue("installer_id", std::make_unique<base::Value>(settings->niuid()), 0);
  }
  std::unique_ptr<base::List> changed(new base::List);
  std::unique_ptr<base::List> all(new base::List);
  GetInstallerExperiments(changed.get(), all.get());
  prefs->SetValue("installer-experiments", std::move(changed), 0);
  prefs->SetValue("all-installer-experiments", std::move(all), 0);
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (command_line->HasSwitch(switches::kTempFolder)) {
    VLOG(1) << "Writing temp folder pref";
    prefs->SetValue(
        "temp_folder",
        std::make_unique<base::Value>(command_line->GetSwitchValueNative(switches::kTempFolder)),
        0);
  }
  VLOG(1) << "Writing autoupdate pref";
  bool autoupdate = settings->flag(Settings::AUTOUPDATE);
  prefs->SetValue("autoupdate", std::make_unique<base::Value>(autoupdate), 0);
  if (!autoupdate) {
    VLOG(1) << "Writing import browser data and enables stats prefs.";
    prefs->SetValue("import_browser_data",
                    std::make_unique<base::Value>(settings->flag(Settings::IMPORT_BROWSER_DATA)),
                    0);
    prefs->SetValue("enable_stats",
                    std::make_unique<base::Value>(settings->flag(Settings::ENABLE_VELUM_STATS)),
                    0);
  }
  // Later steps and the next run read the file back: it must be complete before then.
  CommitInstallerPrefStore(pool, prefs.get(), staging);
  prefs = nullptr;
  const base::Result<> installed = InstallStagedFile(context_, staging, path);
  if (!installed.ok()) {
    LOG(WARNING) << "Could not write " << path.AsUTF8();
    LOG(WARNING) << base::DescribeFailure(installed.failure());
  }
  return StepResult();
}

}  // namespace installer
