#include "desktop/windows/installer/installation_test_util.h"

#include "base/files/file_util.h"

namespace installer {
namespace testing {

namespace {

base::CommandLine MakeCommandLine(const std::vector<std::wstring>& switches) {
  base::CommandLine::StringVector argv(1, L"installer.exe");
  argv.insert(argv.end(), switches.begin(), switches.end());
  return base::CommandLine(argv);
}

}  // namespace

TestSettingsPlatform::TestSettingsPlatform(const base::FilePath& folder) : folder_(folder) {}

InstallTarget TestSettingsPlatform::ExamineInstallTarget(const base::FilePath& folder, bool,
                                                         bool) {
  InstallTarget target;
  target.folder = folder;
  target.valid_install_path = valid;
  target.existing_installation = base::PathExists(folder.Append(L"installation_status.xml"));
  return target;
}

TestSettings::TestSettings(const base::FilePath& install_folder,
                           const std::vector<std::wstring>& switches, bool uninstall,
                           bool autoupdate, bool valid_folder)
    : command_line_(MakeCommandLine(switches)), platform_(install_folder) {
  platform_.valid = valid_folder;
  settings_ = std::make_unique<Settings>(uninstall, true, autoupdate,
                                         uninstall ? base::FilePath() : install_folder, false,
                                         1, &command_line_, &platform_);
}

TestSettings::~TestSettings() = default;

FakeInstallationContext::FakeInstallationContext() : install_log(SOURCE_INSTALLER) {}

FakeInstallationContext::~FakeInstallationContext() = default;

}  // namespace testing
}  // namespace installer
