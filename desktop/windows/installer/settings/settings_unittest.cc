#include "desktop/windows/installer/settings/settings.h"

#include <map>
#include <string>
#include <vector>

#include "base/base_paths_win.h"
#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/threading/worker_pool.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/settings/settings_status_request.h"
#include "desktop/windows/installer/statistics/stats_node_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class FakePlatform : public SettingsPlatform {
 public:
  bool IsUserAdmin(bool use_linked_token) override {
    asked_linked_token = use_linked_token;
    return admin;
  }
  bool IsBeforeWindows7() override { return before_windows_7; }
  int32_t GetChannel() override { return channel; }
  base::FilePath GetStandardInstallFolder(bool all_users, int32_t architecture) override {
    if (all_users && architecture == 0)
      return base::FilePath(L"C:\\Program Files (x86)\\Velum");
    return base::FilePath(all_users ? L"C:\\Program Files\\Velum"
                                    : L"C:\\Users\\u\\Programs\\Velum");
  }
  InstallTarget ExamineInstallTarget(const base::FilePath& folder, bool, bool) override {
    InstallTarget target = existing;
    target.existing_installation = folder == existing.folder;
    if (!target.existing_installation)
      target = InstallTarget();
    target.folder = folder;
    target.valid_install_path = folder.IsAbsolute();
    return target;
  }
  base::FilePath GetRegistryInstallFolder(int32_t) override { return registry_folder; }
  bool HasSeveralUninstallEntries() override { return several_uninstall_entries; }
  base::FilePath GetInstalledProductFolder() override {
    return base::FilePath(L"C:\\Program Files\\Velum");
  }
  std::vector<base::FilePath> GetStandaloneInstallPaths() override {
    return {base::FilePath(L"E:\\Velum"), base::FilePath(L"D:\\Velum")};
  }

  int RandomPercent() override { return percent; }

  bool admin = true;
  int percent = 50;
  bool before_windows_7 = false;
  int32_t channel = 4;
  bool asked_linked_token = false;
  base::FilePath registry_folder;
  bool several_uninstall_entries = false;
  // The one folder that holds an installation, with its facts.
  InstallTarget existing;
};

base::CommandLine MakeCommandLine(const std::vector<std::wstring>& switches) {
  base::CommandLine::StringVector argv(1, L"installer.exe");
  argv.insert(argv.end(), switches.begin(), switches.end());
  return base::CommandLine(argv);
}

class CountingObserver : public SettingsObserver {
 public:
  void OnFlagChanged() override {
    ++flag_changes;
    if (remove_from)
      remove_from->RemoveObserver(this);
  }
  void OnLanguageChanged() override { ++language_changes; }
  void OnPathChanged() override { ++path_changes; }

  int flag_changes = 0;
  int language_changes = 0;
  int path_changes = 0;
  Settings* remove_from = nullptr;
};

class SettingsTest : public ::testing::Test {
 protected:
  std::unique_ptr<Settings> Make(const std::vector<std::wstring>& switches,
                                 bool silent = false) {
    command_line_ = MakeCommandLine(switches);
    return std::make_unique<Settings>(false, silent, false,
                                      command_line_.GetSwitchValuePath("installfolder"),
                                      false, 1, &command_line_, &platform_);
  }

  FakePlatform platform_;
  base::CommandLine command_line_{base::CommandLine::NO_PROGRAM};
};

TEST_F(SettingsTest, BooleanValues) {
  const struct {
    const wchar_t* value;
    bool expected;
  } kCases[] = {
      {L"yes", true}, {L"YeS", true}, {L"TRUE", true}, {L"1", true},  {L"2", true},
      {L"2abc", true}, {L"-1", true}, {L"no", false},  {L"", false},  {L"0", false},
      {L"false", false}, {L"abc", false}, {L"0x1", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, Settings::ReadBooleanValue(c.value)) << c.value;
}

// The defaults of each installation mode and where each puts the install folder.
TEST_F(SettingsTest, DefaultsPerInstallationMode) {
  const struct {
    const char* name;
    bool admin;
    std::vector<std::wstring> switches;
    Settings::Mode mode;
    const wchar_t* folder;
    bool default_browser;
    bool shortcuts;
    bool single_profile;
  } kCases[] = {
      {"admin", true, {}, Settings::MODE_ALL_USERS, L"C:\\Program Files\\Velum", true, true,
       false},
      {"user", false, {}, Settings::MODE_CURRENT_USER, L"C:\\Users\\u\\Programs\\Velum", true,
       true, false},
      {"admin chooses user", true, {L"--allusers=0"}, Settings::MODE_CURRENT_USER,
       L"C:\\Users\\u\\Programs\\Velum", true, true, false},
      {"user asks all", false, {L"--allusers=yes"}, Settings::MODE_ALL_USERS,
       L"C:\\Program Files\\Velum", true, true, false},
      {"standalone", true, {L"--copyonly=1"}, Settings::MODE_STANDALONE, L"E:\\Velum", false,
       false, true},
      {"standalone ignores allusers", false, {L"--copyonly=1", L"--allusers=1"},
       Settings::MODE_STANDALONE, L"E:\\Velum", false, false, true},
      {"given folder", true, {L"--installfolder=F:/apps/velum"}, Settings::MODE_ALL_USERS,
       L"F:\\apps\\velum", true, true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    platform_.admin = c.admin;
    std::unique_ptr<Settings> settings = Make(c.switches);
    EXPECT_EQ(c.mode, settings->mode());
    EXPECT_EQ(c.folder, settings->install_folder().value());
    EXPECT_EQ(Settings::OPERATION_INSTALL, settings->operation());
    EXPECT_EQ(c.default_browser, settings->flag(Settings::DEFAULT_BROWSER));
    EXPECT_EQ(c.shortcuts, settings->flag(Settings::DESKTOP_SHORTCUT));
    EXPECT_EQ(c.shortcuts, settings->flag(Settings::START_MENU_SHORTCUT));
    EXPECT_EQ(c.shortcuts, settings->flag(Settings::PINNED_SHORTCUT));
    EXPECT_FALSE(settings->flag(Settings::QUICK_LAUNCH_SHORTCUT));
    EXPECT_EQ(c.single_profile, settings->flag(Settings::SINGLE_PROFILE));
    EXPECT_TRUE(settings->flag(Settings::LAUNCH_VELUM));
    EXPECT_TRUE(settings->flag(Settings::IMPORT_BROWSER_DATA));
    EXPECT_TRUE(settings->flag(Settings::ENABLE_VELUM_STATS));
    EXPECT_TRUE(settings->flag(Settings::ENABLE_INSTALLER_STATS));
  }
}

TEST_F(SettingsTest, SystemDependentDefaults) {
  platform_.channel = 2;
  platform_.before_windows_7 = true;
  std::unique_ptr<Settings> settings = Make({});
  EXPECT_FALSE(settings->flag(Settings::DEFAULT_BROWSER));
  EXPECT_TRUE(settings->flag(Settings::QUICK_LAUNCH_SHORTCUT));
  EXPECT_TRUE(platform_.asked_linked_token);
  EXPECT_TRUE(settings->SetCopyOnly(true));
  EXPECT_FALSE(settings->flag(Settings::QUICK_LAUNCH_SHORTCUT));
  EXPECT_TRUE(settings->SetCopyOnly(false));
  EXPECT_TRUE(settings->flag(Settings::QUICK_LAUNCH_SHORTCUT));

  // A silent run does not count the elevated twin of a limited token.
  settings = Make({}, true);
  EXPECT_FALSE(platform_.asked_linked_token);
}

TEST_F(SettingsTest, SwitchInteractions) {
  const struct {
    const char* name;
    std::vector<std::wstring> switches;
    int flag;
    bool expected;
  } kCases[] = {
      {"stats off turns both off", {L"--enable-stats=0"}, Settings::ENABLE_INSTALLER_STATS,
       false},
      {"installer stats back on", {L"--enable-stats=0", L"--enable-installer-stats=1"},
       Settings::ENABLE_INSTALLER_STATS, true},
      {"velum stats stay off", {L"--enable-stats=0", L"--enable-installer-stats=1"},
       Settings::ENABLE_VELUM_STATS, false},
      {"copy-only drops shortcut", {L"--copyonly=1", L"--desktopshortcut=1"},
       Settings::DESKTOP_SHORTCUT, false},
      {"copy-only single profile", {L"--copyonly=1", L"--desktopshortcut=1"},
       Settings::SINGLE_PROFILE, true},
      {"singleprofile 0 wins", {L"--copyonly=1", L"--singleprofile=0"},
       Settings::SINGLE_PROFILE, false},
      {"launchbrowser ignored", {L"--launchvelum=1", L"--launchbrowser=0"},
       Settings::LAUNCH_VELUM, true},
      {"launchbrowser alone", {L"--launchbrowser=0"}, Settings::LAUNCH_VELUM, false},
      {"empty value is false", {L"--import-browser-data="}, Settings::IMPORT_BROWSER_DATA,
       false},
      {"install-assistant", {L"--install-assistant"}, Settings::INSTALL_ASSISTANT, true},
      {"no assistant standalone", {L"--install-assistant", L"--copyonly=1"},
       Settings::INSTALL_ASSISTANT, false},
      {"default browser off", {L"--setdefaultbrowser=no"}, Settings::DEFAULT_BROWSER, false},
      {"bare allusers is false", {L"--allusers"}, Settings::ALL_USERS_FLAG, false},
      {"assistant by presence", {L"--install-assistant=0"}, Settings::INSTALL_ASSISTANT, true},
      {"TRUE in capitals", {L"--pintotaskbar=TRUE"}, Settings::PINNED_SHORTCUT, true},
      {"number 2 is true", {L"--singleprofile=2"}, Settings::SINGLE_PROFILE, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, Make(c.switches)->flag(c.flag));
  }
}

TEST_F(SettingsTest, ObserversNotifiedAndRemovableDuringNotification) {
  std::unique_ptr<Settings> settings = Make({});
  CountingObserver first, second;
  first.remove_from = settings.get();
  settings->AddObserver(&first);
  settings->AddObserver(&second);

  EXPECT_TRUE(settings->SetFlag(Settings::DEFAULT_BROWSER, false));
  EXPECT_EQ(1, first.flag_changes);
  EXPECT_EQ(1, second.flag_changes);
  EXPECT_TRUE(settings->SetFlag(Settings::DEFAULT_BROWSER, true));
  EXPECT_EQ(1, first.flag_changes);  // removed itself during the first notification
  EXPECT_EQ(2, second.flag_changes);

  settings->SetInstallLanguage(L"de");
  settings->SetInstallLanguage(L"de");  // unchanged: no news
  EXPECT_EQ(1, second.language_changes);
  EXPECT_EQ(L"de", settings->install_language());

  InstallTarget target;
  target.folder = base::FilePath(L"C:\\elsewhere");
  settings->ApplyTarget(target);  // invalid, still reported
  EXPECT_EQ(1, second.path_changes);
  EXPECT_EQ(Settings::OPERATION_INVALID, settings->operation());
  settings->RemoveObserver(&second);
}

TEST_F(SettingsTest, RefusedChangesNotifyNobody) {
  std::unique_ptr<Settings> settings = Make({L"--copyonly=1"});
  CountingObserver observer;
  settings->AddObserver(&observer);
  EXPECT_FALSE(settings->SetAllUsers(true));
  EXPECT_FALSE(settings->SetDefaultBrowser(true));
  EXPECT_FALSE(settings->SetDeleteProfile(true));
  EXPECT_FALSE(settings->SetFlag(Settings::FLAG_COUNT, true));
  EXPECT_FALSE(settings->SetMode(3));

  settings->set_changeable(false);
  EXPECT_FALSE(settings->SetFlag(Settings::SILENT, true));
  EXPECT_FALSE(settings->SetCopyOnly(false));
  EXPECT_FALSE(settings->SetMode(Settings::MODE_ALL_USERS));
  settings->SetInstallLanguage(L"fr");
  InstallTarget target;
  target.folder = base::FilePath(L"C:\\other");
  target.valid_install_path = true;
  settings->ApplyTarget(target);
  EXPECT_EQ(L"E:\\Velum", settings->install_folder().value());
  EXPECT_EQ(0, observer.flag_changes + observer.language_changes + observer.path_changes);
  EXPECT_FALSE(settings->flag(Settings::SILENT));
  settings->RemoveObserver(&observer);
}

TEST_F(SettingsTest, ModeChangesMoveASuggestedFolderOnly) {
  std::unique_ptr<Settings> settings = Make({});
  EXPECT_TRUE(settings->SetMode(Settings::MODE_STANDALONE));
  EXPECT_EQ(Settings::MODE_STANDALONE, settings->mode());
  EXPECT_EQ(L"E:\\Velum", settings->install_folder().value());
  EXPECT_TRUE(settings->flag(Settings::SINGLE_PROFILE));
  EXPECT_FALSE(settings->flag(Settings::DESKTOP_SHORTCUT));

  EXPECT_TRUE(settings->SetMode(Settings::MODE_CURRENT_USER));
  EXPECT_EQ(L"C:\\Users\\u\\Programs\\Velum", settings->install_folder().value());
  EXPECT_FALSE(settings->flag(Settings::SINGLE_PROFILE));
  EXPECT_TRUE(settings->flag(Settings::DESKTOP_SHORTCUT));
  // Leaving standalone restores defaults, not "everything on".
  EXPECT_FALSE(settings->flag(Settings::QUICK_LAUNCH_SHORTCUT));

  settings = Make({L"--installfolder=F:\\mine"});
  EXPECT_TRUE(settings->SetMode(Settings::MODE_STANDALONE));
  EXPECT_EQ(L"F:\\mine", settings->install_folder().value());
}

// The last word observers hear of a mode change is the new mode, also where the folder
// stays (the user's own): a mode box refreshed from it shows what will be installed.
TEST_F(SettingsTest, ObserversHearTheModeThatApplies) {
  class ModeObserver : public SettingsObserver {
   public:
    explicit ModeObserver(const Settings* settings) : settings_(settings) {}
    void OnFlagChanged() override { heard = settings_->mode(); }
    void OnLanguageChanged() override {}
    void OnPathChanged() override { heard = settings_->mode(); }
    int heard = -1;

   private:
    const Settings* settings_;
  };
  std::unique_ptr<Settings> settings = Make({L"--installfolder=F:\\mine"});
  ModeObserver observer(settings.get());
  settings->AddObserver(&observer);
  for (int mode : {Settings::MODE_ALL_USERS, Settings::MODE_CURRENT_USER,
                   Settings::MODE_STANDALONE, Settings::MODE_ALL_USERS}) {
    EXPECT_TRUE(settings->SetMode(mode));
    EXPECT_EQ(mode, settings->mode());
    EXPECT_EQ(mode, observer.heard);
  }
  settings->RemoveObserver(&observer);
}

TEST_F(SettingsTest, UpgradeAndElevatedCommandLines) {
  std::unique_ptr<Settings> settings = Make({L"--launchvelum=1"});
  std::wstring elevated = settings->ToCommandLine(true).GetArgumentsString();
  EXPECT_NE(std::wstring::npos, elevated.find(L"--launchvelum=0"));
  EXPECT_NE(std::wstring::npos, elevated.find(L"--allusers=1"));

  InstallTarget target;
  target.folder = settings->install_folder();
  target.valid_install_path = true;
  target.existing_installation = true;
  target.all_users = true;
  settings->ApplyTarget(target);
  ASSERT_EQ(Settings::OPERATION_UPGRADE, settings->operation());
  base::CommandLine upgrade = settings->ToCommandLine(false);
  EXPECT_TRUE(upgrade.HasSwitch("install"));
  EXPECT_FALSE(upgrade.HasSwitch("allusers"));
  EXPECT_FALSE(upgrade.HasSwitch("singleprofile"));
  EXPECT_FALSE(upgrade.HasSwitch("copyonly"));
  EXPECT_EQ(L"1", upgrade.GetSwitchValueNative("launchvelum"));
  EXPECT_FALSE(settings->SetCopyOnly(true));  // an upgrade keeps its mode
  EXPECT_FALSE(settings->SetAllUsers(false));
}

TEST_F(SettingsTest, InstallCommandLineForm) {
  std::unique_ptr<Settings> settings =
      Make({L"--silent", L"--initial-pid=12", L"--niuid=n1", L"--language=de",
            L"--import-session", L"--import-topsites-to-start-page", L"--unrelated=1"}, true);
  EXPECT_EQ(
      L"--backend --silent --initial-pid=12 --install --import-browser-data=1 "
      L"--enable-stats=1 --enable-installer-stats=1 --launchvelum=1 "
      L"--installfolder=\"C:\\Program Files\\Velum\" --profile-folder --niuid=n1 --medium "
      L"--language=de --singleprofile=0 --copyonly=0 --allusers=1 --setdefaultbrowser=1 "
      L"--startmenushortcut=1 --desktopshortcut=1 --quicklaunchshortcut=0 --pintotaskbar=1 "
      L"--import-session --import-topsites-to-start-page",
      settings->ToCommandLine(false).GetArgumentsString());
}

TEST_F(SettingsTest, NotReadyRequestWritesOnlyTheBackendSwitches) {
  std::unique_ptr<Settings> settings = Make({});
  InstallTarget invalid;
  settings->ApplyTarget(invalid);
  EXPECT_EQ(L"--backend", settings->ToCommandLine(false).GetArgumentsString());
}

// Settings -> backend command line -> Settings give the same request.
TEST_F(SettingsTest, CommandLineRoundTrip) {
  const struct {
    const char* name;
    bool admin;
    std::vector<std::wstring> switches;
  } kCases[] = {
      {"all users", true, {L"--niuid=abc", L"--medium=pb", L"--language=pl"}},
      {"current user", false, {L"--setdefaultbrowser=0", L"--pintotaskbar=0"}},
      {"standalone", true, {L"--copyonly=1", L"--launchvelum=0", L"--enable-stats=0"}},
      {"odd folder", false, {L"--installfolder=G:\\a b\\c", L"--quicklaunchshortcut=1",
                             L"--profile-folder=G:\\p", L"--import-browser-data=0"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    platform_.admin = c.admin;
    std::unique_ptr<Settings> original = Make(c.switches);
    ASSERT_EQ(Settings::OPERATION_INSTALL, original->operation());
    base::CommandLine backend = original->ToCommandLine(false);

    // The backend runs as someone else: its defaults must not leak into the request.
    platform_.admin = !c.admin;
    base::CommandLine::StringVector argv = backend.argv();
    argv[0] = L"installer.exe";
    base::CommandLine reread(argv);
    Settings copy(false, false, false, reread.GetSwitchValuePath("installfolder"), false, 1,
                  &reread, &platform_);
    EXPECT_EQ(original->operation(), copy.operation());
    for (int flag = 0; flag < Settings::FLAG_COUNT; ++flag)
      EXPECT_EQ(original->flag(flag), copy.flag(flag)) << Settings::GetFlagName(flag);
    EXPECT_EQ(original->install_folder(), copy.install_folder());
    EXPECT_EQ(original->profile_folder(), copy.profile_folder());
    EXPECT_EQ(original->install_language(), copy.install_language());
    EXPECT_EQ(original->niuid(), copy.niuid());
    EXPECT_EQ(original->medium(), copy.medium());
    EXPECT_EQ(backend.GetArgumentsString(), copy.ToCommandLine(false).GetArgumentsString());
  }
}

TEST_F(SettingsTest, UninstallReadsDeleteProfile) {
  platform_.several_uninstall_entries = true;
  command_line_ = MakeCommandLine({L"--deleteuserprofile=true", L"--backend"});
  {
    Settings backend(true, false, false, base::FilePath(), false, 0, &command_line_,
                     &platform_);
    EXPECT_TRUE(backend.can_delete_profile());  // the front end decided that already
  }
  command_line_ = MakeCommandLine({L"--deleteuserprofile=true"});
  Settings settings(true, false, false, base::FilePath(), false, 0, &command_line_, &platform_);
  EXPECT_FALSE(settings.can_delete_profile());
  EXPECT_TRUE(settings.flag(Settings::DELETE_PROFILE));
  EXPECT_EQ(L"C:\\Program Files\\Velum", settings.install_folder().value());
  InstallTarget target;
  target.folder = base::FilePath(L"C:\\Program Files\\Velum");
  target.valid_install_path = true;
  settings.ApplyTarget(target);  // nothing installed there
  EXPECT_EQ(Settings::OPERATION_INVALID, settings.operation());
  target.existing_installation = true;
  settings.ApplyTarget(target);
  EXPECT_EQ(Settings::OPERATION_UNINSTALL, settings.operation());
  EXPECT_TRUE(settings.SetDeleteProfile(false));
  EXPECT_EQ(L"--backend --uninstall --deleteuserprofile=0",
            settings.ToCommandLine(false).GetArgumentsString());
}

TEST_F(SettingsTest, X64InstallerFollowsA32BitFolderOnlyToUpgrade) {
  platform_.registry_folder = base::FilePath(L"C:\\Program Files (x86)\\Velum");
  std::unique_ptr<Settings> settings = Make({});
  EXPECT_EQ(L"C:\\Program Files\\Velum", settings->install_folder().value());
  EXPECT_EQ(Settings::OPERATION_INSTALL, settings->operation());

  platform_.existing.folder = platform_.registry_folder;
  settings = Make({});
  EXPECT_EQ(platform_.registry_folder, settings->install_folder());
  EXPECT_EQ(Settings::OPERATION_UPGRADE, settings->operation());

  platform_.registry_folder = base::FilePath(L"D:\\Velum");
  settings = Make({});
  EXPECT_EQ(L"D:\\Velum", settings->install_folder().value());
}

// An upgrade takes its options from the installation unless the command line names them.
TEST_F(SettingsTest, UpgradeTakesOptionsFromTheInstallation) {
  InstallTarget& existing = platform_.existing;
  existing.folder = base::FilePath(L"C:\\Program Files\\Velum");
  existing.all_users = false;
  existing.single_profile = 1;
  existing.desktop_shortcut_found = false;
  existing.start_menu_shortcut_found = true;
  existing.quick_launch_shortcut_found = true;
  existing.enable_stats = 0;
  existing.import_browser_data = -1;

  std::unique_ptr<Settings> settings = Make({L"--startmenushortcut=0"});
  EXPECT_EQ(Settings::OPERATION_UPGRADE, settings->operation());
  EXPECT_EQ(Settings::MODE_CURRENT_USER, settings->mode());
  EXPECT_TRUE(settings->flag(Settings::SINGLE_PROFILE));
  EXPECT_FALSE(settings->flag(Settings::DESKTOP_SHORTCUT));
  EXPECT_FALSE(settings->flag(Settings::START_MENU_SHORTCUT));  // the switch wins
  EXPECT_TRUE(settings->flag(Settings::QUICK_LAUNCH_SHORTCUT));
  EXPECT_TRUE(settings->flag(Settings::PINNED_SHORTCUT));
  EXPECT_TRUE(settings->flag(Settings::IMPORT_BROWSER_DATA));  // unknown counts as yes
  EXPECT_FALSE(settings->flag(Settings::ENABLE_VELUM_STATS));
  EXPECT_FALSE(settings->flag(Settings::ENABLE_INSTALLER_STATS));

  settings = Make({L"--enable-installer-stats=1"});
  EXPECT_FALSE(settings->flag(Settings::ENABLE_VELUM_STATS));
  EXPECT_TRUE(settings->flag(Settings::ENABLE_INSTALLER_STATS));

  settings = Make({L"--register-velum-as-protocol-handler"});
  EXPECT_EQ(Settings::OPERATION_REGISTER_PROTOCOL_HANDLER, settings->operation());
}

TEST_F(SettingsTest, AutoupdateKeepsUnpinnedAndLegacyDefaultBrowser) {
  platform_.channel = 2;  // not the default browser by default
  InstallTarget& existing = platform_.existing;
  existing.folder = base::FilePath(L"C:\\Program Files\\Velum");
  existing.all_users = true;
  existing.record_kind = 4;
  existing.handles_http = true;
  command_line_ = MakeCommandLine({});
  Settings update(false, true, true, base::FilePath(), false, 1, &command_line_, &platform_);
  EXPECT_EQ(Settings::OPERATION_UPGRADE, update.operation());
  EXPECT_FALSE(update.flag(Settings::PINNED_SHORTCUT));
  EXPECT_TRUE(update.flag(Settings::DEFAULT_BROWSER));

  existing.handles_http = false;
  Settings other(false, true, true, base::FilePath(), false, 1, &command_line_, &platform_);
  EXPECT_FALSE(other.flag(Settings::DEFAULT_BROWSER));
}

TEST_F(SettingsTest, SameFolderIsNotFetchedAgain) {
  std::unique_ptr<Settings> settings = Make({L"--installfolder=F:\\mine"});
  CountingObserver observer;
  settings->AddObserver(&observer);
  settings->SetInstallFolder(base::FilePath(L"f:\\mine"));
  EXPECT_EQ(0, observer.path_changes);
  settings->SetInstallFolder(base::FilePath(L"F:\\Mine"));
  EXPECT_EQ(1, observer.path_changes);
  settings->SetInstallFolder(base::FilePath(L"relative"));
  EXPECT_EQ(2, observer.path_changes);
  EXPECT_EQ(Settings::OPERATION_INVALID, settings->operation());
  settings->RemoveObserver(&observer);
}

TEST(UninstallEntriesTest, MatchesOnlyThisStream) {
  const struct {
    const wchar_t* key;
    const wchar_t* publisher;
    const wchar_t* display;
    int32_t channel;
    bool expected;
  } kCases[] = {
      {L"Velum Stable", L"Velum Software AS", L"Velum Stable 1.2", 4, true},
      {L"Velum", L"Velum Software", L"Velum Stable", 4, true},
      {L"Velum x", L"Velum Software", L"Velum Next 1.2", 4, false},
      {L"Velum x", L"Velum Software", L"Velum beta", 3, true},
      {L"Velum x", L"Velum Software", L"Velum Next 3", 3, true},
      {L"Velum x", L"Velum Software", L"Velum developer", 2, true},
      {L"Velum x", L"Velum Software", L"Velum nightly", 1, true},
      {L"Velum x", L"Velum Software", L"Velum Nightly", 1, false},
      {L"Other", L"Velum Software", L"Velum Stable", 4, false},
      {L"Velum x", L"Someone", L"Velum Stable", 4, false},
      {L"Velum x", L"Velum Software", L"VelumStable", 4, false},
      {L"Velum x", L"Velum Software", L"Velum Stablex", 4, false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected,
              IsUninstallEntryOfStream(c.key, c.publisher, c.display, L"Velum", c.channel))
        << c.display;
  }
}

TEST(UninstallEntriesTest, CountsUpToTwoInTheRegistry) {
  const wchar_t kKey[] = L"Software\\VelumSettingsUninstallUnittest";
  const struct {
    const wchar_t* name;
    const wchar_t* display;
  } kEntries[] = {
      {L"Velum A", L"Velum Stable"}, {L"Velum B", L"Velum Next"}, {L"Velum C", L"Velum Stable 2"},
  };
  for (const auto& entry : kEntries) {
    base::RegistryKey key;
    std::wstring path = std::wstring(kKey) + L"\\" + entry.name;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Publisher", L"Velum Software"));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"DisplayName", entry.display));
  }
  {
    base::RegistryKey key;  // no publisher: skipped
    std::wstring path = std::wstring(kKey) + L"\\Velum D";
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS));
  }
  int found = 0;
  EXPECT_TRUE(CountUninstallEntries(HKEY_CURRENT_USER, 0, kKey, L"Velum", 4, &found));
  EXPECT_EQ(2, found);
  found = 0;
  EXPECT_FALSE(CountUninstallEntries(HKEY_CURRENT_USER, 0, kKey, L"Velum", 3, &found));
  EXPECT_EQ(1, found);
  // A count carried over from an earlier view adds up.
  EXPECT_TRUE(CountUninstallEntries(HKEY_CURRENT_USER, 0, kKey, L"Velum", 3, &found));
  EXPECT_EQ(2, found);
  RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
  RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

TEST(StandalonePathsTest, OrderedByRankAndPoorDrivesDropped) {
  const struct {
    const char* name;
    std::vector<StandaloneDrive> drives;
    std::vector<std::wstring> expected;
  } kCases[] = {
      {"none", {}, {}},
      {"lone cd-rom stays", {{L'D', 5}}, {L"D:\\Velum"}},
      {"removable first, stable within rank",
       {{L'C', 3}, {L'D', 5}, {L'E', 0}, {L'F', 3}, {L'Z', 1}},
       {L"E:\\Velum", L"Z:\\Velum", L"C:\\Velum", L"F:\\Velum"}},
      {"only poor drives keep the best", {{L'D', 6}, {L'E', 5}, {L'F', 7}}, {L"E:\\Velum"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::wstring> paths;
    for (const base::FilePath& path : OrderStandalonePaths(c.drives, L"Velum"))
      paths.push_back(path.value());
    EXPECT_EQ(c.expected, paths);
  }
  EXPECT_EQ(5, RankOfDriveType(DRIVE_CDROM));
  EXPECT_EQ(6, RankOfDriveType(DRIVE_UNKNOWN));
}

TEST(RegistryInstallFolderTest, FirstReadableValueDecides) {
  const wchar_t kKey[] = L"Software\\VelumSettingsUnittest";
  base::FilePath windows;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_WINDOWS, &windows));
  std::wstring existing = windows.StripTrailingSeparators().value();
  {
    base::RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Last install path", existing.c_str()));
  }
  auto read = [&](int32_t architecture, int32_t channel) {
    return ReadRegistryInstallFolder(HKEY_CURRENT_USER, kKey, architecture, channel, "beta",
                                     "Next")
        .value();
  };
  EXPECT_EQ(existing, read(0, 4));
  EXPECT_EQ(L"", read(0, 3));  // that value is only for the stable channel
  {
    base::RegistryKey key(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS);
    ASSERT_EQ(ERROR_SUCCESS,
              key.WriteValue(L"Last Next Install Path", (existing + L"\\\\").c_str()));
    ASSERT_EQ(ERROR_SUCCESS,
              key.WriteValue(L"Last beta Install Path x64", L"C:\\no\\such\\folder"));
  }
  EXPECT_EQ(existing, read(0, 3));  // trailing separators stripped
  EXPECT_EQ(L"", read(1, 4));       // the x64 value reads first and names no folder
  EXPECT_EQ(L"", ReadRegistryInstallFolder(HKEY_CURRENT_USER, L"Software\\NoSuchVelumKey", 1,
                                           4, "beta", "Next")
                     .value());
  RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

TEST(SettingsPlatformTest, StandardFoldersEndInTheProductName) {
  SettingsPlatform* platform = GetDefaultSettingsPlatform();
  for (bool all_users : {true, false}) {
    base::FilePath folder = platform->GetStandardInstallFolder(all_users, 1);
    EXPECT_TRUE(folder.IsAbsolute()) << folder.value();
    EXPECT_EQ(L"Velum", folder.BaseName().value());
  }
}

// The backend command lines of the other operations, switch for switch.
TEST_F(SettingsTest, GoldenCommandLines) {
  InstallTarget installed;
  installed.folder = base::FilePath(L"C:\\Program Files\\Velum");
  installed.valid_install_path = true;
  installed.existing_installation = true;
  installed.all_users = true;
  installed.desktop_shortcut_found = true;

  std::unique_ptr<Settings> settings = Make({L"--launchvelum=1", L"--v=1"});
  EXPECT_EQ(
      L"--backend --v=1 --install --import-browser-data=1 --enable-stats=1 "
      L"--enable-installer-stats=1 --launchvelum=0 "
      L"--installfolder=\"C:\\Program Files\\Velum\" --profile-folder --niuid --medium "
      L"--singleprofile=0 --copyonly=0 --allusers=1 --setdefaultbrowser=1 "
      L"--startmenushortcut=1 --desktopshortcut=1 --quicklaunchshortcut=0 --pintotaskbar=1",
      settings->ToCommandLine(true).GetArgumentsString());

  settings->ApplyTarget(installed);
  ASSERT_EQ(Settings::OPERATION_UPGRADE, settings->operation());
  EXPECT_EQ(
      L"--backend --v=1 --install --import-browser-data=1 --enable-stats=1 "
      L"--enable-installer-stats=1 --launchvelum=1 "
      L"--installfolder=\"C:\\Program Files\\Velum\" --profile-folder --niuid --medium "
      L"--setdefaultbrowser=1 --startmenushortcut=0 --desktopshortcut=1 "
      L"--quicklaunchshortcut=0 --pintotaskbar=1",
      settings->ToCommandLine(false).GetArgumentsString());

  platform_.existing = installed;
  command_line_ = MakeCommandLine({L"--temp-folder=tmp"});
  Settings uninstall(true, true, false, base::FilePath(), false, 1, &command_line_, &platform_);
  ASSERT_EQ(Settings::OPERATION_UNINSTALL, uninstall.operation());
  EXPECT_EQ(L"--backend --silent --temp-folder=tmp --uninstall --deleteuserprofile=0",
            uninstall.ToCommandLine(true).GetArgumentsString());
}

TEST_F(SettingsTest, StatisticsOfTheRequest) {
  platform_.admin = false;
  std::unique_ptr<Settings> settings = Make({});
  settings->WriteStats("s.", nullptr);  // nowhere to write: nothing happens
  testing::TestStatsRecord record;
  record.root.SetString("xml_status_parse_error", "old");
  settings->WriteStats("s.", &record.root);
  // The fake folder has no write access recorded, and the user is no administrator, so
  // the folder counts as privileged; the stale parse error is removed.
  EXPECT_EQ(
      "{\"autoupdate\":0,\"build_arch\":\"X64\",\"s\":{\"installation_mode\":"
      "\"current_user\",\"installation_operation\":\"installing\",\"make_default\":1,"
      "\"using_default_installation_folder\":1,\"using_privileged_installation_folder\":1}}",
      record.Json());

  settings->SetInstallFolder(base::FilePath(L"C:\\Elsewhere"));
  ASSERT_TRUE(settings->SetMode(Settings::MODE_STANDALONE));
  testing::TestStatsRecord standalone;
  settings->WriteStats("", &standalone.root);
  const std::string json = standalone.Json();
  EXPECT_NE(std::string::npos, json.find("\"installation_mode\":\"standalone\"")) << json;
  EXPECT_NE(std::string::npos, json.find("\"using_default_installation_folder\":0")) << json;
  EXPECT_NE(std::string::npos, json.find("\"make_default\":0")) << json;
}

// Work items of the worker pool, held back so that a test decides when and in which
// order they run.
struct HeldWorkItem {
  LPTHREAD_START_ROUTINE function;
  PVOID context;
};
std::vector<HeldWorkItem>* g_held_items = nullptr;

BOOL WINAPI HoldWorkItem(LPTHREAD_START_ROUTINE function, PVOID context, ULONG) {
  g_held_items->push_back({function, context});
  return TRUE;
}

class AsyncSettingsTest : public SettingsTest {
 protected:
  void SetUp() override {
    g_held_items = &items_;
    base::WorkerPool::SetQueueUserWorkItemFunctionForTesting(&HoldWorkItem);
  }
  void TearDown() override {
    base::WorkerPool::SetQueueUserWorkItemFunctionForTesting(nullptr);
    g_held_items = nullptr;
  }
  void RunItem(size_t index) { items_[index].function(items_[index].context); }
  void RunReplies() {
    base::RunLoop run_loop;
    run_loop.QuitWhenIdle();
    run_loop.Run();
  }

  base::MessageLoop loop_;
  std::vector<HeldWorkItem> items_;
};

// Two folder changes in a row: only the second folder's Status counts, whatever order
// the workers finish in.
TEST_F(AsyncSettingsTest, LaterFolderWinsOverALateReply) {
  std::unique_ptr<Settings> settings = Make({L"--installfolder=F:\\first"});
  ASSERT_EQ(1u, items_.size());
  EXPECT_TRUE(settings->fetching_status());
  EXPECT_EQ(Settings::OPERATION_INVALID, settings->operation());
  CountingObserver observer;
  settings->AddObserver(&observer);

  settings->SetInstallFolder(base::FilePath(L"F:\\second"));
  ASSERT_EQ(2u, items_.size());
  RunItem(1);
  RunItem(0);  // the first folder's Status arrives last
  RunReplies();
  EXPECT_EQ(1, observer.path_changes);
  EXPECT_EQ(L"F:\\second", settings->install_folder().value());
  EXPECT_EQ(L"F:\\second", settings->status().path().value());
  EXPECT_EQ(Settings::OPERATION_INSTALL, settings->operation());
  EXPECT_FALSE(settings->fetching_status());
  settings->RemoveObserver(&observer);
}

// Going back to the folder already applied while another one is being fetched: the
// user's last choice stands.
TEST_F(AsyncSettingsTest, ReturningToTheAppliedFolderCancelsTheFetch) {
  std::unique_ptr<Settings> settings = Make({});
  RunItem(0);
  RunReplies();
  const base::FilePath applied = settings->install_folder();
  CountingObserver observer;
  settings->AddObserver(&observer);

  settings->SetInstallFolder(base::FilePath(L"F:\\elsewhere"));
  settings->SetInstallFolder(applied);
  EXPECT_FALSE(settings->fetching_status());
  RunItem(1);
  RunReplies();
  EXPECT_EQ(applied, settings->install_folder());
  EXPECT_EQ(0, observer.path_changes);
  settings->RemoveObserver(&observer);
}

// A frozen request drops what arrives; settings that are gone are not called.
TEST_F(AsyncSettingsTest, RepliesThatFindNobody) {
  std::unique_ptr<Settings> settings = Make({});
  RunItem(0);
  RunReplies();
  ASSERT_EQ(Settings::OPERATION_INSTALL, settings->operation());

  settings->SetInstallFolder(base::FilePath(L"F:\\frozen"));
  settings->set_changeable(false);
  RunItem(1);
  RunReplies();
  EXPECT_EQ(L"C:\\Program Files\\Velum", settings->install_folder().value());

  settings->set_changeable(true);
  settings->SetInstallFolder(base::FilePath(L"F:\\late"));
  settings.reset();
  RunItem(2);
  RunReplies();

  int replies = 0;
  base::scoped_refptr<StatusRequest> request =
      new StatusRequest(base::FilePath(L"F:\\x"),
                        base::Bind([](int* count, StatusRequest*) { ++*count; }, &replies),
                        false, false);
  request->Fetch(&platform_);
  request->Reply();
  EXPECT_EQ(1, replies);
  request->ResetReply();
  request->Reply();
  EXPECT_EQ(1, replies);
}

}  // namespace
}  // namespace installer
