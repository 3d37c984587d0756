#include "desktop/windows/installer/steps/installation_test_util.h"

#include "base/callback.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/run_loop.h"
#include "desktop/windows/installer/test_package_test_util.h"

namespace installer {
namespace testing {

namespace {

const Status::System* g_status_system = nullptr;

base::CommandLine MakeCommandLine(const std::vector<std::wstring>& switches) {
  base::CommandLine::StringVector argv(1, L"installer.exe");
  argv.insert(argv.end(), switches.begin(), switches.end());
  return base::CommandLine(argv);
}

class PathObserver : public SettingsObserver {
 public:
  explicit PathObserver(base::Closure on_path) : on_path_(on_path) {}
  void OnFlagChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override { on_path_.Run(); }

 private:
  base::Closure on_path_;
};

}  // namespace

void SetStatusSystemForTesting(const Status::System* system) { g_status_system = system; }

TestSettingsPlatform::TestSettingsPlatform(const base::FilePath& folder) : folder_(folder) {}

InstallTarget TestSettingsPlatform::ExamineInstallTarget(const base::FilePath& folder,
                                                         bool replace_basalt, bool autoupdate) {
  return BuildStatus(folder, replace_basalt, autoupdate)->ToTarget();
}

std::unique_ptr<Status> TestSettingsPlatform::BuildStatus(const base::FilePath& folder,
                                                          bool replace_basalt, bool) {
  if (!valid || !writable) {
    InstallTarget target;
    target.folder = folder;
    target.valid_install_path = valid;
    return Status::FromTarget(target, replace_basalt);
  }
  auto status = std::make_unique<Status>(replace_basalt);
  if (g_status_system) status->set_system_for_testing(*g_status_system);
  status->set_finishes_uninstallation(uninstall);
  status->Initialize(folder, 0);
  return status;
}

TestSettings::TestSettings(const base::FilePath& install_folder,
                           const std::vector<std::wstring>& switches, bool uninstall,
                           bool autoupdate, bool valid_folder, bool writable_folder)
    : command_line_(MakeCommandLine(switches)), platform_(install_folder) {
  platform_.valid = valid_folder;
  platform_.writable = writable_folder;
  platform_.uninstall = uninstall;
  settings_ = std::make_unique<Settings>(uninstall, true, autoupdate,
                                         uninstall ? base::FilePath() : install_folder, false,
                                         1, &command_line_, &platform_);
  // On a thread with a loop the Status is read on a worker and comes back as a task.
  while (settings_->fetching_status()) {
    base::RunLoop run_loop;
    PathObserver observer(run_loop.QuitClosure());
    settings_->AddObserver(&observer);
    run_loop.Run();
    settings_->RemoveObserver(&observer);
  }
}

TestSettings::~TestSettings() = default;

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const wchar_t* name,
                                                     const std::wstring& value)
    : name_(name) {
  std::vector<wchar_t> old(32768);
  const DWORD length = GetEnvironmentVariableW(name, old.data(), static_cast<DWORD>(old.size()));
  had_value_ = length > 0 && length < old.size();
  if (had_value_) saved_.assign(old.data(), length);
  set_ = SetEnvironmentVariableW(name, value.c_str()) != FALSE;
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableW(name_.c_str(), had_value_ ? saved_.c_str() : nullptr);
}

PrivateUserHive::PrivateUserHive() {
  if (scratch_.path().empty() ||
      RegOpenKeyExW(HKEY_CURRENT_USER, scratch_.path().c_str(), 0, KEY_ALL_ACCESS, &key_) !=
          ERROR_SUCCESS) {
    key_ = nullptr;
    return;
  }
  if (RegOverridePredefKey(HKEY_CURRENT_USER, key_) != ERROR_SUCCESS) return;
  HKEY software = nullptr;
  active_ = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &software, nullptr) == ERROR_SUCCESS;
  if (software) RegCloseKey(software);
}

PrivateUserHive::~PrivateUserHive() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  if (key_) RegCloseKey(key_);
}

bool CopyTestPackage(const wchar_t* name, const base::FilePath& target) {
  const base::FilePath source = GetTestPackageFolder(name);
  base::FileEnumerator files(source, base::FileEnumerator::FILES);
  bool copied = true;
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    const base::FilePath copy = target.Append(path.value().substr(source.value().size() + 1));
    copied = base::CreateDirectory(copy.DirName()) && base::CopyFile(path, copy) && copied;
  }
  return copied;
}

FakeInstallationContext::FakeInstallationContext() : install_log(SOURCE_INSTALLER) {}

FakeInstallationContext::~FakeInstallationContext() = default;

}  // namespace testing
}  // namespace installer
