#include "desktop/windows/installer/steps/shortcut_steps.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/installer_test_util.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

using testing::InstallationRun;
using testing::InstallerTest;
using testing::kV1;
using testing::kV2;

const wchar_t kName[] = L"Velum Browser.lnk";

// Shortcuts of the engine's runs: they go to the scratch folder's "Desktop", "Programs"
// and "Quick Launch"; the taskbar pinning helper of the package (the fake program, run
// as "explorer.exe") writes what it pinned to the program log.
class ShortcutStepsTest : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    if (HasFatalFailure()) return;
    UsePackage(CopyPackage());
    program_log_ = scratch_.path().Append(L"programs.log");
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_LOG", program_log_.value().c_str()));
    pins_ = scratch_.path().Append(L"TaskBar");
    ASSERT_TRUE(base::CreateDirectory(pins_));
    // Wine keeps no application ids in shortcuts, so pins of the installation are
    // whatever the test put into `pins_` (by file name, for the launcher's record).
    system_.windows_8_or_later = true;
    system_.find_product_shortcuts = [this](const base::FilePath& target,
                                            const std::string& app_id,
                                            const BY_HANDLE_FILE_INFORMATION*,
                                            std::vector<std::wstring>* shortcuts) {
      const base::FilePath pin = pins_.Append(base::UTF8ToWide(app_id) + L".lnk");
      if (base::FilePath::CompareIgnoreCase(target.BaseName().value(), L"launcher.exe") == 0 &&
          base::PathExists(pin)) {
        shortcuts->push_back(pin.value());
      }
    };
    testing::SetStatusSystemForTesting(&system_);
  }
  void TearDown() override {
    testing::SetStatusSystemForTesting(nullptr);
    SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_LOG", nullptr);
    InstallerTest::TearDown();
  }

  InstallationRun Request(std::vector<std::wstring> switches, const char* version = kV1) {
    InstallationRun run;
    run.switches = std::move(switches);
    run.version = version;
    return run;
  }
  void RunOk(InstallationRun* run) {
    Run(run);
    ASSERT_TRUE(run->succeeded) << ::testing::PrintToString(run->events);
  }
  void Upgrade(std::vector<std::wstring> switches) {
    UsePackage(CopyPackage(L"test_pkg_v2"));
    InstallationRun run = Request(std::move(switches), kV2);
    RunOk(&run);
    ASSERT_EQ(Settings::OPERATION_UPGRADE, run.operation);
  }
  std::unique_ptr<InstallLog> Record() {
    return ReadRecord(install_folder_.Append(L"installation_status.xml"));
  }
  // The lines the pinning helper wrote, each the shortcut it was given.
  std::vector<std::string> Pinned() {
    std::string text;
    // No log: the helper pinned nothing.
    if (!base::ReadFileToString(program_log_, &text)) return {};
    std::vector<std::string> pinned;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      const std::string line = text.substr(start, end - start);
      if (line.compare(0, 13, "explorer.exe ") == 0) pinned.push_back(line.substr(13));
    }
    ResetPinned();
    return pinned;
  }
  void ResetPinned() { EXPECT_TRUE(base::DeleteFile(program_log_, false)); }
  // Back to a machine without the installation and its shortcuts.
  void RemoveEverything() {
    for (const base::FilePath& folder :
         {install_folder_, desktop_, start_menu_, quick_launch_}) {
      ASSERT_TRUE(base::DeleteFile(folder, true));
      if (folder != install_folder_) {
        ASSERT_TRUE(base::CreateDirectory(folder));
      }
    }
    ResetPinned();
  }
  void WriteRecord(const InstallLog& record) {
    ASSERT_TRUE(
        InstallLogWriter().WriteFile(record, install_folder_.Append(L"installation_status.xml")));
  }
  // The desktop shortcut as an earlier version may have named it.
  void RenameDesktopShortcut(const wchar_t* name, const base::FilePath& new_path) {
    std::unique_ptr<InstallLog> record = Record();
    ASSERT_TRUE(base::Move(desktop_.Append(name), new_path));
    record->desktop_shortcut = new_path.value();
    WriteRecord(*record);
  }
  base::FilePath Launcher() const { return install_folder_.Append(L"launcher.exe"); }
  // A previous pin of the installation, as Status finds it.
  base::FilePath AddPreviousPin() {
    const base::FilePath pin = pins_.Append(base::UTF8ToWide(Record()->app_id) + L".lnk");
    EXPECT_TRUE(base::CopyFile(desktop_.Append(kName), pin));
    return pin;
  }

  base::FilePath program_log_;
  base::FilePath pins_;
  Status::System system_;
};

// The shortcut at `path` starts the launcher of the installation in its folder.
::testing::AssertionResult StartsLauncher(const base::FilePath& path,
                                          const base::FilePath& launcher) {
  base::ShortcutProperties properties;
  if (!base::ResolveShortcutProperties(path,
                                       base::ShortcutProperties::PROPERTIES_TARGET |
                                           base::ShortcutProperties::PROPERTIES_WORKING_DIR |
                                           base::ShortcutProperties::PROPERTIES_ARGUMENTS,
                                       &properties)) {
    return ::testing::AssertionFailure() << path.AsUTF8() << " cannot be read";
  }
  if (base::FilePath::CompareIgnoreCase(properties.target.value(), launcher.value()) != 0 ||
      base::FilePath::CompareIgnoreCase(properties.working_dir.value(),
                                        launcher.DirName().value()) != 0 ||
      !properties.arguments.empty()) {
    return ::testing::AssertionFailure()
           << path.AsUTF8() << ": target " << properties.target.AsUTF8() << ", folder "
           << properties.working_dir.AsUTF8() << ", arguments \""
           << base::WideToUTF8(properties.arguments) << "\"";
  }
  return ::testing::AssertionSuccess();
}

TEST_F(ShortcutStepsTest, InstallMakesTheRequestedShortcutsAndPinsTheMaster) {
  InstallationRun run = Request({});
  RunOk(&run);
  EXPECT_TRUE(StartsLauncher(desktop_.Append(kName), Launcher()));
  EXPECT_TRUE(StartsLauncher(start_menu_.Append(kName), Launcher()));
  EXPECT_FALSE(base::PathExists(quick_launch_.Append(kName)));
  EXPECT_TRUE(StartsLauncher(package_.Append(kName), Launcher()));
  EXPECT_EQ(std::vector<std::string>{package_.Append(kName).AsUTF8()}, Pinned());
  std::unique_ptr<InstallLog> record = Record();
  ASSERT_TRUE(record);
  EXPECT_EQ(desktop_.Append(kName).value(), record->desktop_shortcut);
  EXPECT_EQ(start_menu_.Append(kName).value(), record->menu_shortcut);
  EXPECT_EQ(L"", record->quick_launch_shortcut);
  EXPECT_TRUE(record->pinned);
  // The application id cannot be read back under Wine, which does not keep it.
}

TEST_F(ShortcutStepsTest, QuickLaunchOnlyWhenAsked) {
  // Hidden from Windows 7 on: the folder may be missing.
  ASSERT_TRUE(base::DeleteFile(quick_launch_, true));
  InstallationRun run = Request({L"--desktopshortcut=0", L"--startmenushortcut=0",
                                 L"--quicklaunchshortcut=1", L"--pintotaskbar=0"});
  RunOk(&run);
  EXPECT_TRUE(StartsLauncher(quick_launch_.Append(kName), Launcher()));
  EXPECT_FALSE(base::PathExists(desktop_.Append(kName)));
  EXPECT_FALSE(base::PathExists(start_menu_.Append(kName)));
  EXPECT_TRUE(Pinned().empty());
  std::unique_ptr<InstallLog> record = Record();
  EXPECT_EQ(quick_launch_.Append(kName).value(), record->quick_launch_shortcut);
  EXPECT_EQ(L"", record->desktop_shortcut);
  EXPECT_FALSE(record->pinned);
}

TEST_F(ShortcutStepsTest, ATakenNameGetsTheVersion) {
  ASSERT_TRUE(base::CreateDirectory(desktop_));
  ASSERT_EQ(5, base::WriteFile(desktop_.Append(kName), "other", 5));
  InstallationRun run = Request({L"--pintotaskbar=0"});
  RunOk(&run);
  const wchar_t versioned[] = L"Velum Browser 1.0.100.0.lnk";
  EXPECT_TRUE(StartsLauncher(desktop_.Append(versioned), Launcher()));
  EXPECT_TRUE(StartsLauncher(start_menu_.Append(versioned), Launcher()));
  std::string other;
  EXPECT_TRUE(base::ReadFileToString(desktop_.Append(kName), &other));
  EXPECT_EQ("other", other);
  EXPECT_EQ(desktop_.Append(versioned).value(), Record()->desktop_shortcut);
}

// A run that ended before its record left the shortcuts: the next run made versioned
// second ones beside them, and uninstalling it left the first pointing at nothing.
TEST_F(ShortcutStepsTest, AShortcutLeftForThisFolderIsReplacedInPlace) {
  InstallationRun first = Request({L"--pintotaskbar=0"});
  RunOk(&first);
  ASSERT_TRUE(base::DeleteFile(install_folder_.Append(L"installation_status.xml"), false));
  InstallationRun again = Request({L"--pintotaskbar=0"});
  RunOk(&again);
  EXPECT_TRUE(StartsLauncher(desktop_.Append(kName), Launcher()));
  EXPECT_TRUE(StartsLauncher(start_menu_.Append(kName), Launcher()));
  EXPECT_FALSE(base::PathExists(desktop_.Append(L"Velum Browser 1.0.100.0.lnk")));
  EXPECT_FALSE(base::PathExists(start_menu_.Append(L"Velum Browser 1.0.100.0.lnk")));
  EXPECT_EQ(desktop_.Append(kName).value(), Record()->desktop_shortcut);
}

TEST_F(ShortcutStepsTest, TheStableNameIsLocalized) {
  // The host's texts, in Russian.
  HMODULE host = LoadLibraryExW(base::TestExeSibling(L"velum_installer.exe").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, host);
  SetResourceModuleForTesting(host);
  SetCurrentLanguageId(LanguageCodeToLcid(L"ru"));
  InstallationRun run = Request({L"--startmenushortcut=0", L"--pintotaskbar=0"});
  Run(&run);
  SetCurrentLanguageId(0);
  SetResourceModuleForTesting(nullptr);
  FreeLibrary(host);
  ASSERT_TRUE(run.succeeded) << ::testing::PrintToString(run.events);
  EXPECT_TRUE(StartsLauncher(desktop_.Append(L"Браузер Velum.lnk"), Launcher()));
}

TEST_F(ShortcutStepsTest, PartnerBuildsPinThePartnerOfTheLanguage) {
  const struct {
    const wchar_t* language;
    const wchar_t* partner;
  } cases[] = {{L"ru", L"vk"}, {L"en-US", L"facebook"}, {L"uk", L"facebook"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(base::WideToUTF8(c.language));
    RemoveEverything();
    InstallationRun run =
        Request({L"--medium=pb", std::wstring(L"--language=") + c.language});
    RunOk(&run);
    const base::FilePath partner = package_.Append(std::wstring(c.partner) + L".lnk");
    EXPECT_EQ((std::vector<std::string>{package_.Append(kName).AsUTF8(), partner.AsUTF8()}),
              Pinned());
    base::ShortcutProperties properties;
    ASSERT_TRUE(base::ResolveShortcutProperties(
        partner,
        base::ShortcutProperties::PROPERTIES_TARGET |
            base::ShortcutProperties::PROPERTIES_ARGUMENTS,
        &properties));
    EXPECT_EQ(GetPartnerAddress(c.partner), properties.arguments);
    EXPECT_EQ(0, base::FilePath::CompareIgnoreCase(properties.target.value(),
                                                   Launcher().value()));
  }
  // Without the pin there is no partner pin either.
  RemoveEverything();
  InstallationRun unpinned = Request({L"--medium=pb", L"--pintotaskbar=0"});
  RunOk(&unpinned);
  EXPECT_TRUE(Pinned().empty());
}

TEST_F(ShortcutStepsTest, UpgradeKeepsMovesRecreatesRemovesAndAdds) {
  InstallationRun install = Request({L"--pintotaskbar=0"});
  RunOk(&install);
  // The Start Menu shortcut counts as the executable's from Windows 8 on, so it is made
  // anew; the desktop one is kept; Quick Launch is added.
  const std::string desktop_before = testing::SnapshotFileTree(desktop_);
  Upgrade({L"--pintotaskbar=0", L"--quicklaunchshortcut=1"});
  std::unique_ptr<InstallLog> record = Record();
  EXPECT_EQ(desktop_.Append(kName).value(), record->desktop_shortcut);
  EXPECT_EQ(desktop_before, testing::SnapshotFileTree(desktop_));
  EXPECT_EQ(start_menu_.Append(kName).value(), record->menu_shortcut);
  EXPECT_TRUE(StartsLauncher(start_menu_.Append(kName), Launcher()));
  EXPECT_TRUE(StartsLauncher(quick_launch_.Append(kName), Launcher()));
  EXPECT_EQ(quick_launch_.Append(kName).value(), record->quick_launch_shortcut);

  // A desktop shortcut turned off goes.
  UsePackage(CopyPackage(L"test_pkg"));
  InstallationRun next = Request({L"--pintotaskbar=0", L"--desktopshortcut=0",
                                  L"--quicklaunchshortcut=1"},
                                 "1.0.102.0");
  RunOk(&next);
  EXPECT_FALSE(base::PathExists(desktop_.Append(kName)));
  EXPECT_EQ(L"", Record()->desktop_shortcut);
  EXPECT_TRUE(base::PathExists(quick_launch_.Append(kName)));
}

TEST_F(ShortcutStepsTest, UpgradeMovesShortcutsOfAnotherNameAndKeepsVersionedNames) {
  InstallationRun install =
      Request({L"--pintotaskbar=0", L"--startmenushortcut=0", L"--quicklaunchshortcut=1"});
  RunOk(&install);
  // An earlier name for the shortcut.
  const base::FilePath old_name = desktop_.Append(L"Velum.lnk");
  ASSERT_NO_FATAL_FAILURE(RenameDesktopShortcut(kName, old_name));
  Upgrade({L"--pintotaskbar=0", L"--startmenushortcut=0"});
  EXPECT_FALSE(base::PathExists(old_name));
  EXPECT_TRUE(StartsLauncher(desktop_.Append(kName), Launcher()));
  EXPECT_EQ(desktop_.Append(kName).value(), Record()->desktop_shortcut);
  // The Quick Launch shortcut had the name already.
  EXPECT_TRUE(StartsLauncher(quick_launch_.Append(kName), Launcher()));
  EXPECT_EQ(quick_launch_.Append(kName).value(), Record()->quick_launch_shortcut);

  // A name with a version stays a name with a version.
  const base::FilePath versioned = desktop_.Append(L"Velum Browser 1.0.101.0.lnk");
  ASSERT_NO_FATAL_FAILURE(RenameDesktopShortcut(kName, versioned));
  UsePackage(CopyPackage(L"test_pkg"));
  // An upgrade asks for what was there unless told otherwise.
  InstallationRun next = Request({L"--pintotaskbar=0", L"--startmenushortcut=1"}, "1.0.102.0");
  RunOk(&next);
  const base::FilePath moved = desktop_.Append(L"Velum Browser 1.0.102.0.lnk");
  EXPECT_FALSE(base::PathExists(versioned));
  EXPECT_TRUE(StartsLauncher(moved, Launcher()));
  EXPECT_TRUE(StartsLauncher(start_menu_.Append(L"Velum Browser 1.0.102.0.lnk"), Launcher()));
  EXPECT_EQ(moved.value(), Record()->desktop_shortcut);
}

// The name the shortcut would move to is taken by another installation's shortcut: that
// one stays, and so does this installation's under its old name.
TEST_F(ShortcutStepsTest, UpgradeNeverMovesOverAnotherInstallationsShortcut) {
  InstallationRun install = Request({L"--pintotaskbar=0", L"--startmenushortcut=0"});
  RunOk(&install);
  const base::FilePath old_name = desktop_.Append(L"Velum.lnk");
  ASSERT_NO_FATAL_FAILURE(RenameDesktopShortcut(kName, old_name));
  const base::FilePath other_launcher = scratch_.path().Append(L"Other\\launcher.exe");
  base::ShortcutProperties properties;
  properties.set_target(other_launcher);
  properties.set_working_dir(other_launcher.DirName());
  ASSERT_TRUE(base::CreateOrUpdateShortcut(desktop_.Append(kName), properties,
                                           base::SHORTCUT_CREATE_ALWAYS));
  Upgrade({L"--pintotaskbar=0", L"--startmenushortcut=0"});
  EXPECT_TRUE(StartsLauncher(desktop_.Append(kName), other_launcher));
  EXPECT_TRUE(StartsLauncher(old_name, Launcher()));
  EXPECT_EQ(old_name.value(), Record()->desktop_shortcut);
}

TEST_F(ShortcutStepsTest, UpgradeRecreatesAShortcutToTheBrowserExecutable) {
  InstallationRun install = Request({L"--pintotaskbar=0", L"--startmenushortcut=0"});
  RunOk(&install);
  base::ShortcutProperties old;
  old.set_target(install_folder_.Append(L"1.0.100.0").Append(L"velum.exe"));
  ASSERT_TRUE(base::CreateOrUpdateShortcut(desktop_.Append(kName), old,
                                           base::SHORTCUT_CREATE_ALWAYS));
  Upgrade({L"--pintotaskbar=0", L"--startmenushortcut=0"});
  EXPECT_TRUE(StartsLauncher(desktop_.Append(kName), Launcher()));
  EXPECT_EQ(desktop_.Append(kName).value(), Record()->desktop_shortcut);
}

TEST_F(ShortcutStepsTest, UpgradePinsUnpinsOrLeavesThePin) {
  const struct {
    const char* what;
    bool previous_pin;
    bool pin_requested;
    bool pinned_again;
    bool previous_pin_stays;
  } cases[] = {
      {"no pin, pin asked", false, true, true, false},
      {"pin kept", true, true, false, true},
      {"pin no longer asked", true, false, false, false},
      {"no pin, none asked", false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveEverything();
    UsePackage(CopyPackage(L"test_pkg"));
    InstallationRun install = Request({L"--pintotaskbar=0"});
    RunOk(&install);
    const base::FilePath pin = c.previous_pin ? AddPreviousPin() : base::FilePath();
    ResetPinned();
    const std::wstring pin_switch =
        std::wstring(L"--pintotaskbar=") + (c.pin_requested ? L"1" : L"0");
    Upgrade({pin_switch});
    EXPECT_EQ(c.pinned_again ? 1u : 0u, Pinned().size());
    if (c.previous_pin) {
      EXPECT_EQ(c.previous_pin_stays, base::PathExists(pin));
    }
    EXPECT_EQ(c.pinned_again || c.previous_pin_stays, Record()->pinned);
    EXPECT_TRUE(base::DeleteFile(pin, false));
  }
}

TEST_F(ShortcutStepsTest, UpgradeOfARenamedShortcutPinsAgain) {
  InstallationRun install = Request({L"--pintotaskbar=0", L"--startmenushortcut=0"});
  RunOk(&install);
  const base::FilePath pin = AddPreviousPin();
  const base::FilePath old_name = desktop_.Append(L"Velum.lnk");
  ASSERT_NO_FATAL_FAILURE(RenameDesktopShortcut(kName, old_name));
  Upgrade({L"--pintotaskbar=1", L"--startmenushortcut=0"});
  EXPECT_FALSE(base::PathExists(pin));
  EXPECT_EQ(std::vector<std::string>{package_.Append(kName).AsUTF8()}, Pinned());
}

TEST_F(ShortcutStepsTest, AnAllUsersAutoupdateLeavesTheTaskbarAlone) {
  InstallationRun install = Request({L"--pintotaskbar=0"});
  RunOk(&install);
  // An installation for all users, as far as its record goes.
  std::unique_ptr<InstallLog> record = Record();
  record->all_users = true;
  ASSERT_NO_FATAL_FAILURE(WriteRecord(*record));
  for (bool previous_pin : {false, true}) {
    SCOPED_TRACE(previous_pin);
    const base::FilePath pin = previous_pin ? AddPreviousPin() : base::FilePath();
    testing::TestSettings settings(install_folder_, {L"--allusers=1", L"--pintotaskbar=1"},
                                   false, true);
    ASSERT_TRUE(settings.get()->flag(Settings::ALL_USERS_FLAG));
    ASSERT_TRUE(settings.get()->flag(Settings::AUTOUPDATE));
    ASSERT_TRUE(settings.get()->flag(Settings::PINNED_SHORTCUT));
    testing::FakeInstallationContext context;
    context.system = &system_services_.system;
    context.settings = settings.get();
    context.install_folder = install_folder_;
    context.package_folder = package_;
    context.install_log.version = kV2;
    context.install_log.app_id = Record()->app_id;
    ResetPinned();
    EXPECT_EQ(StepResult::STATUS_OK, UpdateShortcutsStep(&context).Run(0).status);
    EXPECT_TRUE(Pinned().empty());
    if (previous_pin) {
      EXPECT_TRUE(base::PathExists(pin));
    }
    context.transaction.Rollback();
  }
}

TEST_F(ShortcutStepsTest, UninstallRemovesShortcutsPinsAndTheProgramsFolder) {
  InstallationRun install = Request({L"--quicklaunchshortcut=1"});
  RunOk(&install);
  const base::FilePath pin = AddPreviousPin();
  const base::FilePath extra_pin =
      pins_.Append(base::UTF8ToWide(Record()->GetSuffixedAppId()) + L".lnk");
  ASSERT_TRUE(base::CopyFile(pin, extra_pin));
  const base::FilePath folder = start_menu_.Append(L"Velum Software");
  ASSERT_TRUE(base::CreateDirectory(folder));
  InstallationRun uninstall;
  uninstall.uninstall = true;
  RunOk(&uninstall);
  for (const base::FilePath& path : {desktop_.Append(kName), start_menu_.Append(kName),
                                     quick_launch_.Append(kName), pin, extra_pin, folder}) {
    EXPECT_FALSE(base::PathExists(path)) << path.AsUTF8();
  }
}

TEST_F(ShortcutStepsTest, AFailedInstallationTakesItsShortcutsAway) {
  InstallationRun run = Request({L"--quicklaunchshortcut=1"});
  // The step after the shortcuts fails.
  run.failing_step = 12;
  Run(&run);
  ASSERT_FALSE(run.succeeded);
  EXPECT_FALSE(base::PathExists(desktop_.Append(kName)));
  EXPECT_FALSE(base::PathExists(start_menu_.Append(kName)));
  EXPECT_FALSE(base::PathExists(quick_launch_.Append(kName)));
}

}  // namespace
}  // namespace installer
