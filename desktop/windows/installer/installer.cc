#include "desktop/windows/installer/installer.h"

#include <wchar.h>

#include <algorithm>
#include <utility>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/features/feature_states.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/values.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/finalize_installation_steps.h"
#include "desktop/windows/installer/steps/installer_system.h"
#include "desktop/windows/installer/installer_elevation.h"
#include "desktop/windows/installer/run_note_builder.h"
#include "desktop/windows/installer/steps/post_installation_tasks.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/held_delete_operation.h"
#include "desktop/windows/installer/service/held_transfer_operations.h"
#include "desktop/windows/installer/service/registry_entry.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/steps/shortcut_steps.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

// Rights an installation needs on its folder: list, traverse, add files and subfolders,
// read and write attributes, synchronize.
const uint32_t kInstallFolderAccess = 0x1201BF;
const int32_t kMaxStepAttempt = 5;
const char kTestExperiment[] = "installer-experiment-test";

const RegistryEntryDefinition kSetLastInstallPath = {
    L"{CompanyRegistryKey}", L"Last {Stream} Install Path", REG_SZ,
    reinterpret_cast<uintptr_t>(L"{InstallFolder}\\"), 0, nullptr, 0, 0, 0};
const RegistryEntryDefinition kDeleteLastInstallPathX64 = {
    L"{CompanyRegistryKey}", L"Last {Stream} Install Path x64", kRegistryDeleteValue, 0, 0,
    nullptr, 0, 0, 0};

// The non-empty lines of a list file; either line-break character ends a line.
[[nodiscard]] bool ReadListFile(const base::FilePath& path, std::vector<std::string>* lines) {
  std::string text;
  if (!base::ReadFileToString(path, &text)) return false;
  lines->clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines->push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

class StepItself : public Installer::StepRunner {
 public:
  StepResult Run(InstallerStep* step, size_t /*index*/, int32_t attempt) override {
    return step->Run(attempt);
  }
};

}  // namespace

// static
Installer::StepRunner* Installer::DirectStepRunner() {
  static StepItself runner;
  return &runner;
}

Installer::Installer(StepRunner* step_runner, const InstallerSystem* system)
    : task_runner_(base::CurrentThreadTaskRunner::Get()),
      step_runner_(step_runner),
      install_log_(SOURCE_INSTALLER),
      product_version_(GetProductVersion()),
      retry_delay_(base::TimeDelta::FromSeconds(1)),
      system_(system ? *system : RunningInstallerSystem()),
      task_service_(system_.connect_task_service),
      weak_factory_(this) {}

Installer::~Installer() {
  if (running_) Cancel();
  interrupted_watcher_.StopWatching();
}

void Installer::BeginInstallation(Settings* settings) {
  if (settings_) {
    LOG(ERROR) << "An installation is already in progress";
    return;
  }
  LOG(INFO) << "Beginning installation";
  // The request is final from here on: a late status must not change it.
  settings->set_changeable(false);
  settings_ = settings;
  succeeded_ = false;
  task_runner_->PostTask(base::Location("Run", __FILE__, __LINE__, base::GetCallerAddress()),
                         base::Bind(&Installer::Run, weak_factory_.GetWeakPtr()));
}

const base::FilePath& Installer::GetInstallFolder() { return settings_->install_folder(); }

const base::FilePath& Installer::GetTargetFolder() { return settings_->install_folder(); }

void Installer::ReportImportantEvent(const std::string& name) {
  observers_.Notify(&InstallerObserver::OnImportantEvent, name);
}

const InstallLog* Installer::GetExistingInstallLog() {
  return settings_ ? settings_->status().record() : nullptr;
}

bool Installer::HasExistingInstallation() { return GetExistingInstallLog() != nullptr; }

bool Installer::IsBasaltInstallation() {
  const InstallLog* existing = GetExistingInstallLog();
  return existing && existing->source == SOURCE_LEGACY_LOG;
}

std::string Installer::GetServerTrackingData() {
  return base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII(switches::kServerTrackingData);
}

std::wstring Installer::Resolve(const std::wstring& name) {
  if (name == L"InstallFolder") return GetInstallFolder().value();
  if (name == L"Version") return base::UTF8ToWide(product_version_);
  if (name == L"Executable") return base::UTF8ToWide(GetExecutableFileName());
  if (name == L"Product") return base::UTF8ToWide(GetProductName());
  if (name == L"Company") return base::UTF8ToWide(GetCompanyName());
  if (name == L"CompanyRegistryKey") return GetCompanyRegistryKeyPath();
  if (name == L"Stream") return base::UTF8ToWide(GetChannelName());
  if (name == L"Uninstall") return uninstall_key_;
  if (name == L"HelpURL") return base::UTF8ToWide(GetProductUrl("help"));
  if (name == L"CompanyURL") return base::UTF8ToWide(GetProductUrl("homepage"));
  if (name == L"DownloadsURL") return base::UTF8ToWide(GetProductUrl("download"));
  return name;
}

std::vector<InstallLog::RegistryKey>* Installer::GetRegistryLog(HKEY root) {
  if (!registry_logging_) return nullptr;
  return root == HKEY_LOCAL_MACHINE ? &install_log_.machine_registry
                                    : &install_log_.user_registry;
}

void Installer::OnObjectSignaled(HANDLE object) {
  if (object == interrupted_event_.Get() && running_) {
    LOG(INFO) << "Installation was interrupted";
    Cancel();
  }
}

// final: deleted through its own type, never through the interfaces it implements.
class Installer::HandOver final : public ElevationDelegate, public PackageHandOver::Delegate {
 public:
  explicit HandOver(Installer* installer)
      : installer_(installer),
        package_(installer->GetInstallFolder(), base::CommandLine::ForCurrentProcess(), this,
                 installer->package_unpacker_) {
    package_.set_interrupted_event(installer->interrupted_event_.Get());
  }

  PackageHandOver* package() { return &package_; }

  // ElevationDelegate and PackageHandOver::Delegate:
  void OnStartingNewMainProcess(bool value) override {
    installer_->observers_.Notify(&InstallerObserver::OnStartingNewMainProcess, value);
  }
  void OnReturnedToPreviousMainProcess() override {
    installer_->observers_.Notify(&InstallerObserver::OnReturnedToPreviousMainProcess);
  }
  void RunPostElevationTasks() override { installer_->RunPostElevationTasks(); }
  void WaitForPackage(bool post_elevation_tasks) override {
    installer_->WaitForPackage(post_elevation_tasks);
  }
  base::CommandLine GetSettingsCommandLine() override {
    return installer_->settings_->ToCommandLine(false);
  }
  void Finish() override { installer_->Finish(); }
  // The package's installer runs after Finish, which leaves this run's own changes (the
  // last install path) in the transaction: a failed or interrupted hand-over undoes them
  // too, as Cancel no longer does once the run has finished.
  void ReportError(uint32_t code, const std::string& message) override {
    installer_->Fail(code, message);
    installer_->transaction_.Rollback();
  }
  void OnInstallationSucceeded() override { installer_->OnInstallationSucceeded(); }
  void Cancel() override {
    installer_->Cancel();
    installer_->transaction_.Rollback();
  }
  void ReportImportantEvent(const std::string& name) override {
    installer_->ReportImportantEvent(name);
  }

 private:
  Installer* installer_;
  PackageHandOver package_;
};

Installer::HandOver* Installer::GetHandOver() {
  if (!hand_over_) hand_over_.reset(new HandOver(this));
  return hand_over_.get();
}

HandOverResult Installer::RunElevated() {
  return installer::RunElevated(settings_->ToCommandLine(true),
                                *base::CommandLine::ForCurrentProcess(), GetHandOver());
}

HandOverResult Installer::ObtainFolderPermission(bool permanent) {
  FolderPermission permission;
  const HandOverResult result = installer::ObtainFolderPermission(
      GetInstallFolder(), permanent, settings_->operation() == Settings::OPERATION_UNINSTALL,
      *base::CommandLine::ForCurrentProcess(), &permission);
  if (result == HAND_OVER_SUCCEEDED) {
    permission_undo_event_ = std::move(permission.undo_event);
    second_installer_pid_ = permission.helper_pid;
  }
  return result;
}

void Installer::WaitForPackage(bool post_elevation_tasks) {
  GetHandOver()->package()->WaitForPackage(post_elevation_tasks);
}

void Installer::RunPostElevationTasks() { installer::RunPostElevationTasks(this); }

void Installer::FinalizeSuccessfulInstallation() { installer::FinalizeSuccessfulInstallation(this); }

void Installer::Run() {
  running_ = true;
  run_start_ = base::Time::Now().ToTimeT();
  install_folder_existed_ = base::DirectoryExists(GetInstallFolder());
  const int32_t operation = settings_->operation();
  if (operation != Settings::OPERATION_REGISTER_PROTOCOL_HANDLER) {
    if ((operation == Settings::OPERATION_INSTALL || operation == Settings::OPERATION_UPGRADE) &&
        !PackageFitsInstallFolder())
      return;
    if (CheckRequest() != RequestCheck::kContinue) return;
    observers_.Notify(&InstallerObserver::OnStarted);
    const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
    if (command_line->HasSwitch(switches::kWaitForPackage)) {
      VLOG(2) << "Need to wait for package";
      WaitForPackage(false);
      return;
    }
    install_log_.copy_only = settings_->flag(Settings::COPY_ONLY);
    install_log_.all_users = settings_->flag(Settings::ALL_USERS_FLAG);
    install_log_.install_path = GetInstallFolder().value();
    install_log_.version = product_version_;
    const InstallLog* existing = GetExistingInstallLog();
    if (operation == Settings::OPERATION_UPGRADE && existing && !existing->app_id.empty()) {
      install_log_.app_id = existing->app_id;
    } else {
      install_log_.app_id = std::to_string(base::Time::NowFromSystemTime().ToTimeT());
      VLOG(1) << "AppId for new installation: " << install_log_.app_id;
    }
    if (operation != Settings::OPERATION_UNINSTALL) {
      // This copy's own folder is an unpacked package that a standard user may change:
      // elevated, only a package taken out of a signed full-package installer is
      // installed (the hand-over of a run that waits for its package), since nothing
      // signed names what the folder's files must be.
      if (command_line->HasSwitch(switches::kRunElevated) && IsUserAdmin(false)) {
        Fail(INSTALLER_ERROR_GENERAL,
             "An elevated installation takes its package only from a signed full-package "
             "installer");
        return;
      }
      if (!PrepareFiles()) return;
    } else if (!NoteRun(RunNote::Operation::kUninstall) || !SetExecutableAside()) {
      return;
    }
    if (operation == Settings::OPERATION_UPGRADE) ReadInstallerExperiments();
    if (settings_->status().experiments().IsEnabled(kTestExperiment) !=
        base::IsFeatureEnabled(kTestExperiment))
      LOG(INFO) << "Changing the status of the test experiment.";
  } else if (!base::PathRegistry::Get(base::DIR_EXE, &package_folder_)) {
    // The preferences step reads the package's include file: never one of the current
    // directory.
    Fail(INSTALLER_ERROR_GENERAL, "Failed getting our own path");
    return;
  }
  BuildStepList();
  // The scheduler's service may take a while to start: it does so while files are copied.
  if ((operation == Settings::OPERATION_INSTALL || operation == Settings::OPERATION_UPGRADE) &&
      RegistersAutoupdateTask(this)) {
    task_service_.Start();
  }
  if (operation != Settings::OPERATION_REGISTER_PROTOCOL_HANDLER) {
    int32_t total = static_cast<int32_t>(steps_.size()) + 1;
    if (operation != Settings::OPERATION_UNINSTALL)
      total += static_cast<int32_t>(root_files_.size()) - 2 + static_cast<int32_t>(files_.size());
    observers_.Notify(&InstallerObserver::OnTotalSteps, total);
  }
  next_step_ = 0;
  ScheduleNextStep();
}

Installer::RequestCheck Installer::CheckRequest() {
  if (!CheckOperation()) return RequestCheck::kFailed;
  if (base::CommandLine::ForCurrentProcess()->HasSwitch(switches::kPostElevatedInstallTasks)) {
    LOG(INFO) << "Post elevation installation tasks only";
    RunPostElevationTasks();
    OnInstallationSucceeded();
    return RequestCheck::kHandedOver;
  }
  if (!WatchInterruptedEvent()) return RequestCheck::kFailed;
  ReadSecondInstallerPid();
  const bool admin = IsUserAdmin(false);
  VLOG(1) << "is_elevated_admin: " << admin;
  if (settings_->flag(Settings::ALL_USERS_FLAG) && settings_->flag(Settings::SILENT) && !admin) {
    Fail(INSTALLER_ERROR_GENERAL, "Installation requires elevation, but cannot elevate when silent");
    return RequestCheck::kFailed;
  }
  bool write = true;
  if (!CreateFolderTheStatusFoundWritable(admin, &write)) return RequestCheck::kFailed;
  const int32_t operation = settings_->operation();
  if (operation != Settings::OPERATION_UNINSTALL && !settings_->flag(Settings::COPY_ONLY) &&
      !settings_->flag(Settings::AUTOUPDATE))
    SaveLastInstallPath();
  const RequestCheck access = EnsureWriteAccess(admin, write);
  if (access != RequestCheck::kContinue) return access;
  if (!transaction_.Execute(std::make_unique<CreateFolderOperation>(GetInstallFolder()))) {
    Fail(INSTALLER_ERROR_CREATE_FOLDER, "Could not create installation folder",
         GetInstallFolder().value());
    return RequestCheck::kFailed;
  }
  return RequestCheck::kContinue;
}

bool Installer::CheckOperation() {
  const int32_t operation = settings_->operation();
  if (operation != Settings::OPERATION_UPGRADE && !IsBasaltInstallation() &&
      settings_->flag(Settings::AUTOUPDATE)) {
    Fail(INSTALLER_ERROR_INVALID_FOR_AUTOUPDATE, "Settings operation invalid for autoupdate");
    return false;
  }
  if (operation == Settings::OPERATION_INVALID) {
    Fail(INSTALLER_ERROR_INVALID_OPERATION, "Settings operation invalid");
    return false;
  }
  if (!base::PathRegistry::Get(base::DIR_EXE, &package_folder_)) {
    Fail(INSTALLER_ERROR_GENERAL, "Failed getting our own path");
    return false;
  }
  return true;
}

bool Installer::WatchInterruptedEvent() {
  std::wstring event_name = GetKernelObjectName(
      GetInstallFolder().value(), kernel_objects::kInstallationInterruptedEventPrefix, true);
  VLOG(1) << "Event name for interrupted installation: " << base::WideToUTF8(event_name);
  interrupted_event_.Set(OpenEventW(SYNCHRONIZE, FALSE, event_name.c_str()));
  if (!interrupted_event_.IsValid()) {
    Fail(INSTALLER_ERROR_GENERAL, "Failed to open a handle to the installation interrupted event");
    return false;
  }
  if (!interrupted_watcher_.StartWatching(interrupted_event_.Get(), this)) {
    Fail(INSTALLER_ERROR_GENERAL, "Failed to watch the installation interrupted event");
    return false;
  }
  return true;
}

void Installer::ReadSecondInstallerPid() {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (!command_line->HasSwitch(switches::kParentPid)) return;
  unsigned value = 0;
  if (base::StringToUint(command_line->GetSwitchValueASCII(switches::kParentPid), &value))
    second_installer_pid_ = value;
  VLOG(1) << "Second installer pid: " << second_installer_pid_;
}

bool Installer::CreateFolderTheStatusFoundWritable(bool admin, bool* write) {
  const base::FilePath& install_folder = GetInstallFolder();
  const Status& status = settings_->status();
  if (status.existing_folder() == install_folder ||
      (settings_->flag(Settings::ALL_USERS_FLAG) && !admin))
    return true;
  VLOG(2) << "Using write permissions from the status";
  *write = status.write_access() != 0;
  if (*write && !transaction_.Execute(std::make_unique<CreateFolderOperation>(install_folder))) {
    Fail(INSTALLER_ERROR_CREATE_FOLDER, "Could not create installation folder",
         install_folder.value());
    return false;
  }
  return true;
}

Installer::RequestCheck Installer::EnsureWriteAccess(bool admin, bool write) {
  const base::FilePath& install_folder = GetInstallFolder();
  if (write) write = HasAccess(install_folder.value(), kFileObject, kInstallFolderAccess);
  const int32_t operation = settings_->operation();
  const bool single_profile = settings_->flag(Settings::SINGLE_PROFILE) &&
                              settings_->target().single_profile != 1;
  if (operation == Settings::OPERATION_INSTALL && !write && single_profile) {
    Fail(INSTALLER_ERROR_NO_WRITE_ACCESS,
         "Single profile installations are only allowed to locations where the user has "
         "write access");
    return RequestCheck::kFailed;
  }
  if (settings_->flag(Settings::ALL_USERS_FLAG) && !admin) {
    VLOG(1) << "All users is set but we have no admin privs -> elevate";
    return HandOverToElevatedRun();
  }
  if (operation == Settings::OPERATION_INSTALL && admin && single_profile) {
    std::unique_ptr<SavedSecurity> permanent;
    if (!GrantAccessToCurrentUser(install_folder.value(), kFileObject, GENERIC_ALL, true,
                                  &permanent))
      LOG(WARNING) << "Could not grant full access to the installation folder";
  }
  LOG(INFO) << "Write privileges for install folder: " << write;
  if (write || GrantAccessToCurrentUser(install_folder.value(), kFileObject,
                                        kInstallFolderAccess, true, &saved_folder_security_))
    return RequestCheck::kContinue;
  if (admin) {
    Fail(INSTALLER_ERROR_NO_WRITE_ACCESS,
         "Could not obtain write permissions to installation folder");
    return RequestCheck::kFailed;
  }
  if (IsUserAdmin(true)) {
    VLOG(1) << "Running elevated because of folder privileges";
    return HandOverToElevatedRun();
  }
  return ObtainWriteAccessFromHelper() ? RequestCheck::kContinue : RequestCheck::kFailed;
}

Installer::RequestCheck Installer::HandOverToElevatedRun() {
  HandleElevatedRunResult(RunElevated());
  return RequestCheck::kHandedOver;
}

bool Installer::ObtainWriteAccessFromHelper() {
  LOG(INFO) << "Need temporary write permissions from administrative user";
  const bool permanent = settings_->flag(Settings::SINGLE_PROFILE) ||
                         base::CommandLine::ForCurrentProcess()->HasSwitch(switches::kComponents);
  const HandOverResult result = ObtainFolderPermission(permanent);
  if (result != HAND_OVER_SUCCEEDED) {
    const HandOverError error = GetFolderPermissionError(result);
    Fail(error.code, error.message);
    return false;
  }
  VLOG(2) << "Temporary write permission obtained";
  if (!HasAccess(GetInstallFolder().value(), kFileObject, kInstallFolderAccess)) {
    Fail(INSTALLER_ERROR_NO_WRITE_ACCESS,
         "No write access to installation folder after attempting to get it via "
         "elevated process");
    return false;
  }
  return true;
}

void Installer::SaveLastInstallPath() {
  VLOG(1) << "Saving last installation path.";
  std::unique_ptr<TransactionOperation> operation;
  if (!RegistryEntry(kSetLastInstallPath, this).Apply(HKEY_CURRENT_USER, &operation) ||
      !operation) {
    LOG(ERROR) << "Could not convert kSetLastInstallPathRegOp";
  } else if (!transaction_.Execute(std::move(operation))) {
    LOG(WARNING) << "Could not write last installation path";
  }
  if (settings_->architecture() != 1) return;
  operation.reset();
  if (!RegistryEntry(kDeleteLastInstallPathX64, this).Apply(HKEY_CURRENT_USER, &operation) ||
      !operation || !transaction_.Execute(std::move(operation)))
    LOG(WARNING) << "Could not delete legacy x64 last install path";
}

bool Installer::PrepareFiles() {
  VLOG(1) << "Reading files list";
  if (!ReadListFile(package_folder_.Append(L"files_list"), &files_)) {
    Fail(INSTALLER_ERROR_GENERAL, "Could not read files list");
    return false;
  }
  if (files_.empty()) {
    Fail(INSTALLER_ERROR_GENERAL, "No files in files list");
    return false;
  }
  if (ReadListFile(package_folder_.Append(L"root_files_list"), &root_files_))
    LOG(INFO) << "Read root files list";
  else
    root_files_.clear();
  const bool upgrade = settings_->operation() == Settings::OPERATION_UPGRADE;
  if (!NoteRun(upgrade ? RunNote::Operation::kUpgrade : RunNote::Operation::kInstall)) return false;
  const std::wstring& subfolder = install_log_.subfolder;
  VLOG(1) << "Installation subfolder" << base::WideToUTF8(subfolder);
  // Made through the held install folder: a link put at its name fails the run.
  if (!transaction_.Execute(std::make_unique<HeldFolderOperation>(
          GetHeldTree(), GetInstallFolder().Append(subfolder), &version_folder_made_))) {
    Fail(INSTALLER_ERROR_CREATE_FOLDER, "Creating installation subfolder failed", subfolder);
    return false;
  }
  return true;
}

std::wstring Installer::ChooseSubfolder() {
  const std::wstring version = base::UTF8ToWide(product_version_);
  std::wstring subfolder = version;
  for (int n = 0; base::PathExists(GetInstallFolder().Append(subfolder)); ++n)
    subfolder = version + L"_" + std::to_wstring(n);
  return subfolder;
}

bool Installer::PackageFitsInstallFolder() {
  // Without the package's lists (still to come, or missing) the steps report it.
  base::FilePath package;
  std::vector<std::string> files, root_files;
  if (!base::PathRegistry::Get(base::DIR_EXE, &package) ||
      !ReadListFile(package.Append(L"files_list"), &files))
    return true;
  if (!ReadListFile(package.Append(L"root_files_list"), &root_files)) root_files.clear();
  const size_t folder = GetInstallFolder().StripTrailingSeparators().value().size() + 1;
  const size_t version_folder = folder + ChooseSubfolder().size() + 1;
  size_t longest = 0;
  for (const std::string& file : files) longest = std::max(longest, version_folder + file.size());
  for (const std::string& file : root_files) longest = std::max(longest, folder + file.size());
  const char* what = "the package's deepest path";
  if (folder + kLongestOwnFileNameSize > longest) {
    longest = folder + kLongestOwnFileNameSize;
    what = "the installation record's names";
  }
  // Each may be set aside under a longer name before it is replaced or deleted, which
  // fails past MAX_PATH: an upgrade would keep the old version, an uninstallation leave it.
  longest += LongestSetAsideSuffixSize();
  if (longest < MAX_PATH) return true;
  // Found before anything is made: the copy would fail only after every retry.
  LOG(ERROR) << "Invalid install folder: too long for " << what << " (" << longest
             << " characters with a set-aside name)";
  Fail(INSTALLER_ERROR_CREATE_FOLDER, "Invalid install folder", GetInstallFolder().value());
  return false;
}

bool Installer::SetExecutableAside() {
  const InstallLog* existing = GetExistingInstallLog();
  const base::FilePath path = GetProductExecutablePath(
      GetInstallFolder(), existing ? existing->subfolder : std::wstring());
  // Set aside now and restored if the uninstallation fails later. Removed last at the
  // commit: while its copy is there, the uninstaller beside it still runs.
  if (!transaction_.ExecuteCommittedLast(
          std::make_unique<HeldDeleteOperation>(GetHeldTree(), path, true, true))) {
    Fail(INSTALLER_ERROR_BROWSER_IN_USE,
         "Can't uninstall when " + path.BaseName().AsUTF8() + " is in use");
    return false;
  }
  return true;
}

void Installer::ReadInstallerExperiments() {
  // Read as a plain file: a preference store would move a broken file aside, a change
  // that a failed or cancelled upgrade could not undo.
  base::JsonFileReader reader(GetInstallFolder().Append(kInstallerPrefsFileName), 0);
  int code = 0;
  std::string message;
  const std::unique_ptr<base::Dictionary> prefs =
      base::Dictionary::From(reader.Deserialize(&code, &message));
  const base::List* list = nullptr;
  if (!prefs || !prefs->GetList("installer-experiments", &list)) return;
  base::FeatureStates* states = base::FeatureRegistry::GetInstance()->GetFeatureStates();
  base::ListFeatureReader list_reader(*list);
  states->ApplyReader(&list_reader);
  // Switches of this run win over what the earlier installation chose.
  base::CommandLineFeatureReader command_line_reader(*base::CommandLine::ForCurrentProcess());
  states->ApplyReader(&command_line_reader);
}

void Installer::BuildStepList() {
  steps_.clear();
  StepSources sources;
  sources.context = this;
  sources.files = &files_;
  sources.root_files = &root_files_;
  sources.existing = GetExistingInstallLog();
  sources.uninstall_key = &uninstall_key_;
  for (InstallerStepKind kind : GetInstallerStepKinds(settings_->operation()))
    AppendInstallerSteps(kind, sources, &steps_);
}

void Installer::ScheduleNextStep() {
  if (next_step_ < steps_.size()) {
    task_runner_->PostTask(FROM_HERE,
                           base::Bind(&Installer::Step, weak_factory_.GetWeakPtr(), next_step_, 0));
    observers_.Notify(&InstallerObserver::OnStep);
    ++next_step_;
    return;
  }
  const int32_t operation = settings_->operation();
  if (operation == Settings::OPERATION_INSTALL || operation == Settings::OPERATION_UPGRADE)
    FinalizeSuccessfulInstallation();
  if (CommitRun()) OnInstallationSucceeded();
}

void Installer::Step(size_t index, int32_t attempt) {
  // A cancelled run leaves its queued steps behind.
  if (!running_ || index >= steps_.size()) return;
  const StepResult result = step_runner_->Run(steps_[index].get(), index, attempt);
  const bool retry = result.status == StepResult::STATUS_RETRY_THEN_FAIL ||
                     result.status == StepResult::STATUS_RETRY_THEN_SKIP;
  if (attempt < kMaxStepAttempt && retry) {
    task_runner_->PostDelayedTask(
        FROM_HERE, base::Bind(&Installer::Step, weak_factory_.GetWeakPtr(), index, attempt + 1),
        retry_delay_);
    return;
  }
  if (result.status == StepResult::STATUS_OK ||
      result.status == StepResult::STATUS_RETRY_THEN_SKIP) {
    ScheduleNextStep();
    return;
  }
  LOG(ERROR) << ReportError(result.code, result.argument, result.message);
}

std::string Installer::ReportError(uint32_t code, const std::wstring& argument,
                                   const std::string& message) {
  observers_.Notify(&InstallerObserver::OnError, code, argument, message);
  Cancel();
  return message;
}

void Installer::Fail(uint32_t code, const std::string& message, const std::wstring& argument) {
  LOG(ERROR) << ReportError(code, argument, message);
}

void Installer::HandleElevatedRunResult(HandOverResult result) {
  if (result == HAND_OVER_SUCCEEDED) {
    VLOG(2) << "Succeeded elevated run";
    // After waiting for the package, the package's installer has reported already.
    if (hand_over_ && hand_over_->package()->outcome_reported()) return;
    OnInstallationSucceeded();
    return;
  }
  const HandOverError error = GetRunElevatedError(result);
  Fail(error.code, error.message);
}

void Installer::OnInstallationSucceeded() {
  LOG(INFO) << "Installation succeeded";
  succeeded_ = true;
  observers_.Notify(&InstallerObserver::OnSuccess);
  Finish();
}

void Installer::Cancel() {
  // Once succeeded, even an observer of the success cannot undo the installation.
  if (!running_ || succeeded_) return;
  LOG(INFO) << "Installation cancelled";
  transaction_.Rollback();
  RemoveNoteAfterRollback();
  Finish();
  observers_.Notify(&InstallerObserver::OnInstallationDone, false);
}

void Installer::Finish() {
  if (saved_folder_security_ && !RestoreSecurity(&saved_folder_security_))
    LOG(WARNING) << "Could not restore the installation folder's permissions";
  saved_folder_security_.reset();
  if (permission_undo_event_.IsValid()) {
    SetEvent(permission_undo_event_.Get());
    permission_undo_event_.Close();
  }
  interrupted_watcher_.StopWatching();
  task_service_.Wait();
  settings_ = nullptr;
  uninstall_key_.clear();
  running_ = false;
}

}  // namespace installer
