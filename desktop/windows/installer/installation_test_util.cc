#include "desktop/windows/installer/installation_test_util.h"

#include "base/callback.h"
#include "base/files/file_util.h"
#include "base/run_loop.h"

namespace installer {
namespace testing {

namespace {

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
  status->Initialize(folder, 0);
  return status;
}

TestSettings::TestSettings(const base::FilePath& install_folder,
                           const std::vector<std::wstring>& switches, bool uninstall,
                           bool autoupdate, bool valid_folder, bool writable_folder)
    : command_line_(MakeCommandLine(switches)), platform_(install_folder) {
  platform_.valid = valid_folder;
  platform_.writable = writable_folder;
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

FakeInstallationContext::FakeInstallationContext() : install_log(SOURCE_INSTALLER) {}

FakeInstallationContext::~FakeInstallationContext() = default;

}  // namespace testing
}  // namespace installer
