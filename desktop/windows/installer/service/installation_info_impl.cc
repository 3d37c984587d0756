#include "desktop/windows/installer/service/installation_info_impl.h"

#include <utility>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/channel_info.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/path_service.h"
#include "base/sequenced_task_runner.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note.h"
#include "desktop/windows/installer/service/product_names.h"

namespace installer {

namespace {

const wchar_t kUserNamePlaceholder[] = L"<USERNAME>";

// Takes no work: a store on it reads but never writes on its own.
class DiscardingTaskRunner : public base::SequencedTaskRunner {
 public:
  bool PostDelayedTask(const base::Location&, base::Closure, base::TimeDelta) override {
    return false;
  }
  bool PostNonNestableDelayedTask(const base::Location&, base::Closure,
                                  base::TimeDelta) override {
    return false;
  }
  bool RunsTasksOnCurrentThread() const override { return false; }

 private:
  ~DiscardingTaskRunner() override = default;
};

// Only a syntax error makes a store move the file aside.
bool ParsesAsJson(const base::FilePath& path) {
  base::JsonFileReader reader(path, 0);
  int code = 0;
  std::string message;
  return reader.Deserialize(&code, &message) != nullptr;
}

base::FilePath FindInstallFolder() {
  base::FilePath folder;
  if (!base::PathRegistry::Get(base::DIR_EXE, &folder)) return folder;
  // An installer run from a subfolder belongs to the installation above it.
  const base::FilePath parent = folder.DirName();
  // The launcher may be set aside by a run cut short, as its note says.
  const base::FilePath launcher = parent.Append(kLauncherFileName);
  if (!base::PathExists(folder.Append(kLauncherFileName)) &&
      (base::PathExists(launcher) || IsSetAsideByInterruptedRun(parent, launcher, false))) {
    return parent;
  }
  return folder;
}

InstallationInfo* g_instance = nullptr;

void DeleteInstance(void*) {
  delete g_instance;
  g_instance = nullptr;
}

}  // namespace

InstallationInfo* InstallationInfo::GetInstance() {
  if (!g_instance) {
    g_instance = CreateInstallationInfo();
    base::ExitCallbackStack::Register(&DeleteInstance, nullptr);
  }
  return g_instance;
}

InstallationInfo* CreateInstallationInfo() { return new InstallationInfoImpl(); }

std::unique_ptr<InstallationInfo> CreateInstallationInfoFor(const base::FilePath& install_folder) {
  return std::make_unique<InstallationInfoImpl>(install_folder);
}

InstallationInfoImpl::InstallationInfoImpl()
    : InstallationInfoImpl(FindInstallFolder()) {}

InstallationInfoImpl::InstallationInfoImpl(const base::FilePath& install_folder)
    : install_folder_(install_folder),
      install_log_loaded_(false),
      install_log_(new InstallLog(SOURCE_NEW)),
      system_(AssociationSystem::Current()) {
  LoadProfileSettings();
}

InstallationInfoImpl::InstallationInfoImpl(const base::FilePath& install_folder,
                                           std::unique_ptr<InstallLog> install_log)
    : install_folder_(install_folder),
      install_log_loaded_(true),
      install_log_(install_log ? std::move(install_log)
                               : std::unique_ptr<InstallLog>(new InstallLog(SOURCE_NEW))),
      system_(AssociationSystem::Current()) {
  LoadProfileSettings();
}

InstallationInfoImpl::InstallationInfoImpl(const base::FilePath& install_folder,
                                           LeaveBrokenPrefsAlone)
    : leave_broken_prefs_alone_(true),
      install_folder_(install_folder),
      install_log_loaded_(false),
      install_log_(new InstallLog(SOURCE_NEW)),
      system_(AssociationSystem::Current()) {
  LoadProfileSettings();
}

InstallationInfoImpl::~InstallationInfoImpl() = default;

void InstallationInfoImpl::LoadProfileSettings() {
  if (!GetPrefWideString("profile_path", &profile_path_template_))
    profile_path_template_.clear();
  registered_application_name_ =
      base::UTF8ToWide(GetBuildProductName() + " " + GetChannelName());
}

void InstallationInfoImpl::LoadInstallLog() {
  if (install_log_loaded_) return;
  install_log_loaded_ = true;
  std::unique_ptr<InstallLog> log;
  InstallLogReader reader;
  reader.ParseFile(&log, install_folder_.Append(kStatusFileName), SOURCE_STATUS_FILE);
  install_log_ = log ? std::move(log) : std::unique_ptr<InstallLog>(new InstallLog(SOURCE_NEW));
}

void InstallationInfoImpl::OpenInstallerPrefs(base::scoped_refptr<JsonPrefStore>* store) {
  if (!installer_prefs_) {
    const base::FilePath path = install_folder_.Append(kInstallerPrefsFileName);
    installer_prefs_ = new JsonPrefStore(path, new DiscardingTaskRunner);
    if (!leave_broken_prefs_alone_ || !base::PathExists(path) || ParsesAsJson(path))
      installer_prefs_->ReadPrefs();
  }
  *store = installer_prefs_;
}

bool InstallationInfoImpl::GetPrefBool(const std::string& key, bool* out) {
  base::scoped_refptr<JsonPrefStore> store;
  OpenInstallerPrefs(&store);
  const base::Value* value = nullptr;
  bool result = false;
  if (!store->GetValue(key, &value) || !value->GetAsBoolean(&result)) return false;
  if (out) *out = result;
  return true;
}

bool InstallationInfoImpl::GetPrefString(const std::string& key, std::string* out) {
  base::scoped_refptr<JsonPrefStore> store;
  OpenInstallerPrefs(&store);
  const base::Value* value = nullptr;
  std::string result;
  if (!store->GetValue(key, &value) || !value->GetAsString(&result)) return false;
  if (out) *out = result;
  return true;
}

bool InstallationInfoImpl::GetPrefWideString(const std::string& key, std::wstring* out) {
  std::string text;
  if (!GetPrefString(key, &text)) return false;
  if (out) *out = base::UTF8ToWide(text);
  return true;
}

bool InstallationInfoImpl::GetPrefInt64(const std::string& key, int64_t* out) {
  std::string text;
  int64_t number = 0;
  if (!GetPrefString(key, &text) || !base::StringToInt64(text, &number)) return false;
  if (out) *out = number;
  return true;
}

bool InstallationInfoImpl::IsCopyOnly() {
  LoadInstallLog();
  return install_log_->copy_only;
}

bool InstallationInfoImpl::IsSingleProfile() {
  bool single_profile = false;
  return GetPrefBool("single_profile", &single_profile) && single_profile;
}

std::wstring InstallationInfoImpl::GetAppUserModelId() {
  LoadInstallLog();
  return L"VelumSoftware.VelumWebBrowser." + base::UTF8ToWide(install_log_->app_id);
}

std::wstring InstallationInfoImpl::GetAutoupdateTaskName() {
  LoadInstallLog();
  return L"Autoupdate " + base::UTF8ToWide(install_log_->app_id);
}

bool InstallationInfoImpl::GetSingleProfileFolder(base::FilePath* out) {
  if (!IsSingleProfile()) return false;
  *out = install_folder_.Append(L"profile");
  return true;
}

bool InstallationInfoImpl::GetProfileFolder(base::FilePath* out) {
  if (install_folder_.empty()) return false;
  if (GetSingleProfileFolder(out)) return true;
  base::FilePath app_data;
  if (!base::PathRegistry::Get(base::DIR_APP_DATA, &app_data)) return false;
  const base::FilePath parent = install_folder_.DirName();
  const bool has_parent = parent != install_folder_;
  *out = app_data.Append(L"Velum").Append(
      has_parent ? install_folder_.BaseName().value() : std::wstring(L"Velum"));
  return true;
}

bool InstallationInfoImpl::GetUserDataFolder(base::FilePath* out) {
  return GetUserDataFolderForStream(out, base::GetChannel());
}

bool InstallationInfoImpl::GetUserDataFolderForStream(base::FilePath* out, int32_t stream) {
  if (install_folder_.empty()) return false;
  base::FilePath profile;
  if (GetSingleProfileFolder(&profile)) {
    *out = profile.Append(L"data");
    return true;
  }
  return BuildUserDataFolder(out, stream);
}

bool InstallationInfoImpl::BuildUserDataFolder(base::FilePath* out, int32_t stream) {
  if (profile_path_template_.empty()) {
    base::FilePath app_data;
    if (!base::PathRegistry::Get(base::DIR_APP_DATA, &app_data)) return false;
    std::string relative = GetDefaultProfilePathTemplate();
    base::ReplaceSubstringsAfterOffset(&relative, 0, "{InternalStream}",
                                       GetStreamNameFor(stream), true);
    std::wstring wide = base::UTF8ToWide(relative);
    for (wchar_t& c : wide) {
      if (c == L'/') c = L'\\';
    }
    *out = app_data.Append(wide);
    return true;
  }
  std::wstring path = profile_path_template_;
  const size_t placeholder = path.find(kUserNamePlaceholder);
  if (placeholder != std::wstring::npos) {
    std::wstring user_name;
    if (!GetCurrentUserName(&user_name)) return false;
    path.replace(placeholder, wcslen(kUserNamePlaceholder), user_name);
  }
  const size_t nul = path.find(L'\0');
  if (nul != std::wstring::npos) path.resize(nul);
  *out = base::FilePath(path);
  return true;
}

bool InstallationInfoImpl::GetUserDataFolderForAllUsers(base::FilePath* out) {
  base::FilePath folder;
  if (!GetUserDataFolder(&folder)) return false;
  if (!IsSingleProfile()) {
    // Only a user-name component at the end names one user's folder among many.
    const size_t placeholder = profile_path_template_.find(kUserNamePlaceholder);
    if (placeholder != std::wstring::npos) {
      const size_t separator = profile_path_template_.find_first_of(L"\\/", placeholder);
      if (separator == std::wstring::npos ||
          separator == profile_path_template_.size() - 1) {
        folder = folder.DirName();
      }
    }
  }
  *out = folder;
  return true;
}

void InstallationInfoImpl::RebaseAppDataPath(const base::FilePath& in, base::FilePath* out) {
  *out = in;
  if (!profile_path_template_.empty()) return;
  base::FilePath roaming, local, rebased;
  if (!base::PathRegistry::Get(base::DIR_APP_DATA, &roaming) ||
      !base::PathRegistry::Get(base::DIR_LOCAL_APP_DATA, &local)) {
    return;
  }
  rebased = local;
  if (roaming.AppendRelativePath(in, &rebased)) *out = rebased;
}

}  // namespace installer
