#include "desktop/windows/installer/settings/status.h"

#include <objbase.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/log_capture_test_util.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/service/product_names.h"

namespace installer {
namespace {

// The user's application data folder is `folder` until destroyed.
class ScopedAppData {
 public:
  explicit ScopedAppData(const base::FilePath& folder)
      : active_(base::PathRegistry::Get(base::DIR_APP_DATA, &saved_) &&
                base::PathRegistry::Override(base::DIR_APP_DATA, folder, true, true)) {}
  ~ScopedAppData() {
    if (active_) {
      EXPECT_TRUE(base::PathRegistry::Override(base::DIR_APP_DATA, saved_, true, false));
    }
  }
  bool active() const { return active_; }

 private:
  base::FilePath saved_;
  bool active_;
};

class StatusTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    log_.reset(new base::ScopedLogCapture);
    install_ = Path(L"Velum");
    ASSERT_TRUE(base::CreateDirectory(install_));
    executable_ = base::UTF8ToWide(GetExecutableFileName());
  }
  void TearDown() override {
    log_.reset();
    if (com_) CoUninitialize();
  }

  bool Logged(const std::string& line) const { return log_->Has(line); }
  void WriteRecord(const InstallLog& record, const wchar_t* name = L"installation_status.xml") {
    InstallLogWriter writer;
    ASSERT_TRUE(writer.WriteFile(record, install_.Append(name)));
  }
  base::FilePath MakeShortcut(const wchar_t* name, const base::FilePath& target) {
    base::ShortcutProperties properties;
    properties.set_target(target);
    const base::FilePath path = Path(name);
    EXPECT_TRUE(base::CreateOrUpdateShortcut(path, properties, base::SHORTCUT_CREATE_ALWAYS));
    return path;
  }
  // Pins are found by their application id, which only Windows keeps in the links.
  Status::System FakePins(bool windows_8_or_later) {
    Status::System system;
    system.windows_8_or_later = windows_8_or_later;
    const base::FilePath exe = install_.Append(executable_);
    system.find_product_shortcuts = [exe](const base::FilePath& target, const std::string& id,
                                          const BY_HANDLE_FILE_INFORMATION*,
                                          std::vector<std::wstring>* found) {
      if (target == exe) found->push_back(L"pin of " + base::UTF8ToWide(id));
    };
    return system;
  }

  std::unique_ptr<base::ScopedLogCapture> log_;
  bool com_ = false;
  base::FilePath install_;
  std::wstring executable_;
};

// A drive letter the system does not have.
std::wstring MissingDrive() {
  const DWORD drives = GetLogicalDrives();
  for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter)
    if (!(drives & (1u << (letter - L'A')))) return std::wstring(1, letter) + L":";
  return L"";
}

TEST_F(StatusTest, VerdictsOnThePath) {
  Write(L"file", "x");
  const std::wstring missing_drive = MissingDrive();
  ASSERT_FALSE(missing_drive.empty());
  const struct {
    std::wstring path;
    bool valid;
    const char* verdict;
  } kCases[] = {
      {L"", false, "Path is empty"},
      {L"C:\\a<b", false, "Path is not a valid Win32 path"},
      {L"C:", false, "Path is relative"},
      {L"apps\\Velum", false, "Path is relative"},
      {Path(L"file").value(), false, "Path is a file path"},
      {Path(L"file\\sub\\deeper").value(), false, "Path is child of a file (invalid)"},
      {missing_drive + L"\\Apps\\Velum", false,
       "Path is a root folder that's not valid(probably invalid drive letter)"},
      {Path(L"new\\deeper").value(), true, "Path is valid"},
      {install_.value(), true, "Path is not an existing installation"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::WideToUTF8(c.path));
    log_.reset();
    log_.reset(new base::ScopedLogCapture);
    Status status(false);
    status.Initialize(base::FilePath(c.path), 0);
    EXPECT_EQ(c.valid, status.valid());
    EXPECT_TRUE(Logged(c.verdict));
    EXPECT_EQ(c.path, status.path().value());
    EXPECT_EQ(nullptr, status.record());
  }
}

// A folder still to be made is judged by its nearest existing ancestor.
TEST_F(StatusTest, MissingFolderUnderAnExistingOne) {
  Status status(false);
  status.Initialize(Path(L"a\\b\\c"), 0);
  EXPECT_TRUE(status.valid());
  EXPECT_EQ(scratch_.path(), status.existing_folder());
  EXPECT_NE(0u, status.write_access());  // every Wine process is an administrator
  EXPECT_TRUE(Logged("Determining write access"));
}

// Every folder looks as if its list allowed only creating subfolders (the files of this
// test prefix keep no access lists of their own).
class SubfoldersOnlySecurity : public NamedSecurityInfo {
 public:
  DWORD Get(const std::wstring&, uint32_t, SECURITY_INFORMATION, PSID* owner, PSID* group,
            PACL* dacl, PSECURITY_DESCRIPTOR* descriptor) override {
    // Add subdirectory, traverse and synchronize for everyone; nothing else.
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"O:BAG:BAD:P(A;;0x100024;;;WD)", SDDL_REVISION_1, descriptor, nullptr)) {
      return GetLastError();
    }
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    GetSecurityDescriptorGroup(*descriptor, group, &defaulted);
    GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    return ERROR_SUCCESS;
  }
  DWORD Set(const std::wstring&, uint32_t, SECURITY_INFORMATION, PSID, PSID, PACL) override {
    return ERROR_ACCESS_DENIED;
  }
};

// The folder itself must allow installing into it; for a folder still to be made, its
// ancestor only needs to allow creating a subfolder.
TEST_F(StatusTest, WriteAccessAskedOfTheFolderOrItsAncestor) {
  SubfoldersOnlySecurity security;
  Status itself(false, &security);
  itself.Initialize(install_, 0);
  Status child(false, &security);
  child.Initialize(install_.Append(L"Velum"), 0);

  EXPECT_TRUE(itself.valid());
  EXPECT_EQ(0u, itself.write_access());
  EXPECT_TRUE(child.valid());
  EXPECT_EQ(install_, child.existing_folder());
  EXPECT_NE(0u, child.write_access());
}

TEST_F(StatusTest, LauncherWithoutRecord) {
  Write(L"Velum\\launcher.exe", "MZ");
  Status status(false);
  status.Initialize(install_, 0);
  EXPECT_TRUE(status.valid());
  EXPECT_TRUE(status.has_launcher());
  EXPECT_EQ(nullptr, status.record());
  EXPECT_EQ(install_, status.existing_folder());
}

TEST_F(StatusTest, ExistingInstallationFacts) {
  Write((L"Velum\\" + executable_).c_str(), "MZ");
  Write(L"Velum\\launcher.exe", "MZ");
  InstallLog record(SOURCE_INSTALLER);
  record.app_id = "Velum.abc";
  record.subfolder = L"1.0";
  record.desktop_shortcut = MakeShortcut(L"Velum desktop.lnk", install_.Append(executable_)).value();
  record.menu_shortcut = MakeShortcut(L"Velum menu.lnk", install_.Append(L"launcher.exe")).value();
  record.quick_launch_shortcut = Path(L"gone.lnk").value();
  WriteRecord(record);
  Write(L"Velum\\installer_prefs.json",
        "{\"single_profile\":true,\"import_browser_data\":false,\"enable_stats\":\"yes\","
        "\"language\":\"de\",\"welcome-url\":\"https://welcome\","
        "\"all-installer-experiments\":[\"installer-experiment-test@1\"]}");
  Write(L"Velum\\server_tracking_data", "tracking");
  ASSERT_TRUE(base::CreateDirectory(install_.Append(L"profile\\data")));
  Write(L"Velum\\profile\\data\\Local State", "{\"intl\":{\"app_locale\":\"fr\"}}");
  // Not read: the installer's own preferences are there.
  Write(L"Velum\\velumprefs_default.ini", "[System]\r\nVelum Product=1\r\nMulti User=0\r\n");

  for (bool windows_8 : {false, true}) {
    SCOPED_TRACE(windows_8);
    log_.reset();
    log_.reset(new base::ScopedLogCapture);
    Status status(false);
    status.set_system_for_testing(FakePins(windows_8));
    status.Initialize(install_, 0);
    ASSERT_NE(nullptr, status.record());
    EXPECT_TRUE(Logged("Path is a existing installation"));
    EXPECT_TRUE(status.desktop_shortcut_found());
    EXPECT_TRUE(status.desktop_found_for_executable());
    EXPECT_TRUE(status.start_menu_shortcut_found());  // through the launcher
    EXPECT_EQ(windows_8, status.start_menu_found_for_executable());
    EXPECT_FALSE(status.quick_launch_shortcut_found());
    EXPECT_EQ(std::vector<std::wstring>{L"pin of Velum.abc"}, status.pinned_shortcuts());
    EXPECT_EQ(std::vector<std::wstring>{L"pin of Velum.abc1"},
              status.suffixed_pinned_shortcuts());
    EXPECT_TRUE(status.pinned_found_for_executable());
    EXPECT_EQ(1, status.single_profile());
    EXPECT_EQ(0, status.import_browser_data());
    EXPECT_EQ(-1, status.enable_stats());  // not a boolean
    EXPECT_EQ(L"fr", status.language());   // the browser's choice wins
    EXPECT_EQ("https://welcome", status.welcome_url());
    EXPECT_EQ("tracking", status.server_tracking_data());
    EXPECT_EQ(install_.Append(L"profile\\data"), status.user_data_folder());
    EXPECT_TRUE(status.experiments().IsEnabled("installer-experiment-test"));
    EXPECT_TRUE(Logged("Test experiment was enabled in install folder."));
    EXPECT_EQ(Status::LEGACY_STREAM_UNKNOWN, status.legacy_stream());

    const InstallTarget target = status.ToTarget();
    EXPECT_TRUE(target.existing_installation);
    EXPECT_TRUE(target.pinned_shortcut_found);
    EXPECT_EQ(L"fr", target.language);
    EXPECT_EQ(static_cast<int>(SOURCE_STATUS_FILE), target.record_kind);
  }
}

// The record a run cut short set aside (or, an upgrade, moved into "old_status") is the
// installation's where the run's note names it: undoing the run puts it back. An
// uninstallation cut while it committed is finished, so only an uninstallation takes its
// record. A copy no note names is nobody's.
TEST_F(StatusTest, TheRecordAnInterruptedRunSetAsideIsTheInstallation) {
  InstallLog record(SOURCE_INSTALLER);
  record.app_id = "Velum.abc";
  record.subfolder = L"1.0";
  record.files = {L"velum.exe"};
  const struct {
    const char* name;
    const char* note;  // null: none
    const wchar_t* copy;
    const char* current_record;  // null: none
    bool for_uninstallation;
    bool for_installation;
  } cases[] = {
      {"uninstallation cut short", "uninstall\nstart 1700000000\nremove installation_status.xml",
       L"installation_status.xml.1700000000.old.1700000100.old", nullptr, true, true},
      {"uninstallation cut while committing",
       "uninstall\nstart 1700000000\nremove installation_status.xml\ncommitting",
       L"installation_status.xml.1700000000.old", nullptr, true, false},
      {"upgrade cut after moving the record",
       "upgrade\nstart 1700000000\nsubfolder 2.0\nreplace installation_status.xml",
       L"old_status\\installation_status.xml.1700000003", nullptr, true, true},
      {"no note", nullptr, L"installation_status.xml.1700000000.old", nullptr, false, false},
      {"beside a broken record", "uninstall\nstart 1700000000\nremove installation_status.xml",
       L"installation_status.xml.1700000000.old", "<broken", false, false},
  };
  for (const auto& test : cases) {
    for (bool uninstall : {true, false}) {
      SCOPED_TRACE(std::string(test.name) + (uninstall ? ", uninstallation" : ", installation"));
      ASSERT_TRUE(base::DeleteFile(install_, true));
      ASSERT_TRUE(base::CreateDirectory(install_.Append(L"old_status")));
      WriteRecord(record, test.copy);
      if (test.note)
        Write(L"Velum\\old_status\\run.1700000000.note",
              std::string("velum run note\noperation ") + test.note + "\n");
      if (test.current_record) Write(L"Velum\\installation_status.xml", test.current_record);
      Status status(false);
      status.set_finishes_uninstallation(uninstall);
      status.Initialize(install_, 0);
      const bool taken = uninstall ? test.for_uninstallation : test.for_installation;
      EXPECT_EQ(taken, status.ToTarget().existing_installation);
      if (taken) {
        ASSERT_NE(nullptr, status.record());
        EXPECT_EQ("Velum.abc", status.record()->app_id);
        EXPECT_TRUE(status.status_file_note().empty());
      }
    }
  }
}

// Shortcuts are the installation's by the target their link names inside the install
// folder, existing or not; a missing one counts as removed by the user unless the note
// of a run cut short names it and its copy is there.
TEST_F(StatusTest, RecordedShortcutsAfterAKilledRun) {
  const struct {
    const char* name;
    const wchar_t* target;  // below the scratch folder; null: no shortcut file
    const char* note;       // the note's line about it; null: no note
    const wchar_t* copy;    // the copy beside the shortcut; null: none
    bool found;
    bool for_executable;
  } cases[] = {
      {"launcher gone", L"Velum\\launcher.exe", nullptr, nullptr, true, false},
      {"other file of the folder", L"Velum\\1.0.99.0\\velum.exe", nullptr, nullptr, true, true},
      {"a folder named alike", L"Velum Old\\launcher.exe", nullptr, nullptr, false, false},
      {"removed by the user", nullptr, nullptr, nullptr, false, false},
      {"set aside by a run cut short", nullptr, "shortcut-remove", L".1700000000.old", true, true},
      {"a copy no note names", nullptr, nullptr, L".1700000000.old", false, false},
      {"noted, no copy", nullptr, "shortcut-remove", nullptr, false, false},
      {"noted as made by the run", nullptr, "shortcut-make", L".1700000000.old", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(install_, true));
    ASSERT_TRUE(base::CreateDirectory(install_.Append(L"old_status")));
    InstallLog record(SOURCE_INSTALLER);
    record.subfolder = L"1.0";
    const base::FilePath shortcut = Path(L"Velum desktop.lnk");
    base::DeleteFileBestEffort(shortcut, false);
    const base::FilePath copy(shortcut.value() + L".1700000000.old");
    base::DeleteFileBestEffort(copy, false);
    if (c.target) MakeShortcut(L"Velum desktop.lnk", Path(c.target));
    if (c.copy) {
      ASSERT_TRUE(base::WriteFile(copy, "x", 1));
    }
    if (c.note)
      Write(L"Velum\\old_status\\run.1700000000.note",
            std::string("velum run note\noperation uninstall\nstart 1700000000\n") + c.note + " " +
                shortcut.AsUTF8() + "\n");
    record.desktop_shortcut = shortcut.value();
    WriteRecord(record);
    Status status(false);
    status.set_system_for_testing(FakePins(false));
    status.Initialize(install_, 0);
    ASSERT_NE(nullptr, status.record());
    EXPECT_EQ(c.found, status.desktop_shortcut_found());
    EXPECT_EQ(c.for_executable, status.desktop_found_for_executable());
  }
}

// Broken preference files are read as empty and left where they are.
TEST_F(StatusTest, BrokenPreferencesStayUntouched) {
  WriteRecord(InstallLog(SOURCE_INSTALLER));
  Write(L"Velum\\installer_prefs.json", "{\"single_profile\":true,\"language\":\"de\"");
  Status status(false);
  status.Initialize(install_, 0);
  ASSERT_NE(nullptr, status.record());
  EXPECT_EQ(-1, status.single_profile());
  EXPECT_EQ(L"", status.language());
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(install_.Append(L"installer_prefs.json"), &text));
  EXPECT_EQ("{\"single_profile\":true,\"language\":\"de\"", text);
  EXPECT_FALSE(base::PathExists(install_.Append(L"installer_prefs.bad")));

  Write(L"Velum\\installer_prefs.json", "{\"single_profile\":true,\"language\":\"de\"}");
  ASSERT_TRUE(base::CreateDirectory(install_.Append(L"profile\\data")));
  Write(L"Velum\\profile\\data\\Local State", "not json");
  Status with_profile(false);
  with_profile.Initialize(install_, 0);
  EXPECT_EQ(L"de", with_profile.language());
  EXPECT_TRUE(base::PathExists(install_.Append(L"profile\\data\\Local State")));
}

// A broken preferences file hides only its own facts: the user data folder, the
// browser's language and the http handler are still read, and the file stays as it is.
TEST_F(StatusTest, BrokenPreferencesHideOnlyTheirOwnFacts) {
  ScopedAppData app_data(Path(L"AppData"));
  ASSERT_TRUE(app_data.active());
  base::FilePath user_data;
  ASSERT_TRUE(FolderInstallationInfo(install_).GetUserDataFolder(&user_data));
  ASSERT_TRUE(base::CreateDirectory(user_data));
  const std::string local_state = "{\"intl\":{\"app_locale\":\"fr\"}}";
  ASSERT_EQ(static_cast<int>(local_state.size()),
            base::WriteFile(user_data.Append(L"Local State"), local_state.data(),
                            static_cast<int>(local_state.size())));
  WriteRecord(InstallLog(SOURCE_INSTALLER));
  const std::string broken = "{\"single_profile\":false,\"language\":\"de\"";
  Write(L"Velum\\installer_prefs.json", broken);

  Status status(false);
  status.Initialize(install_, 0);
  ASSERT_NE(nullptr, status.record());
  EXPECT_EQ(user_data, status.user_data_folder());
  EXPECT_EQ(L"fr", status.language());
  EXPECT_EQ(-1, status.single_profile());
  EXPECT_TRUE(Logged("Determining whether we handled http"));
  EXPECT_TRUE(Logged("The installer preferences of the existing installation cannot be read; "
                     "its profile mode, language and statistics choices are unknown"));
  // And why, for whoever reads the log: the file and the reader's complaint.
  EXPECT_TRUE(Logged("Could not read " + install_.Append(L"installer_prefs.json").AsUTF8() +
                     ": Line: 1, column: 39, Syntax error."));
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(install_.Append(L"installer_prefs.json"), &text));
  EXPECT_EQ(broken, text);
  EXPECT_FALSE(base::PathExists(install_.Append(L"installer_prefs.bad")));
}

TEST_F(StatusTest, RecordFlagsNormalised) {
  const struct {
    bool copy_only, all_users, shortcut, machine_key, user_key;
    bool expect_copy_only, expect_all_users;
  } kCases[] = {
      {true, false, false, false, false, true, false},
      {true, true, false, false, false, true, false},   // standalone is never all users
      {true, false, true, false, false, false, false},  // a shortcut: not standalone
      {true, false, false, false, true, false, false},  // a user key: not standalone
      {true, false, false, true, false, false, true},   // a machine key: all users
      {false, false, false, true, false, false, true},
      {false, true, false, false, false, false, true},
      {false, false, false, false, true, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.copy_only << c.all_users << c.shortcut
                                    << c.machine_key << c.user_key);
    InstallLog record(SOURCE_INSTALLER);
    record.copy_only = c.copy_only;
    record.all_users = c.all_users;
    if (c.shortcut) record.desktop_shortcut = L"C:\\nowhere\\Velum.lnk";
    InstallLog::RegistryKey key;
    key.path = "Software\\Velum";
    if (c.machine_key) record.machine_registry.push_back(key);
    if (c.user_key) record.user_registry.push_back(key);
    WriteRecord(record);
    Status status(false);
    status.Initialize(install_, 0);
    ASSERT_NE(nullptr, status.record());
    EXPECT_EQ(c.expect_copy_only, status.record()->copy_only);
    EXPECT_EQ(c.expect_all_users, status.record()->all_users);
  }
}

// The legacy engine's ini file speaks for installations without installer preferences;
// its record is taken over only when asked to.
TEST_F(StatusTest, LegacyEngineInstallation) {
  InstallLog record(SOURCE_INSTALLER);
  WriteRecord(record, L"velum_install_log.xml");
  Write(L"Velum\\velumprefs_default.ini",
        "[System]\r\nVelum Product=2\r\nMulti User=0\r\n"
        "[User Prefs]\r\nLanguage Files Directory=C:\\Velum\\locales\\nb\\\r\n");
  for (bool replace : {false, true}) {
    SCOPED_TRACE(replace);
    Status status(replace);
    status.Initialize(install_, 0);
    EXPECT_EQ(replace, status.record() != nullptr);
    if (status.record()) {
      EXPECT_EQ(static_cast<uint32_t>(SOURCE_LEGACY_LOG), status.record()->source);
    }
    EXPECT_EQ(Status::LEGACY_STREAM_LABS, status.legacy_stream());
    EXPECT_EQ(1, status.single_profile());
    EXPECT_EQ(L"nb", status.language());
  }
}

TEST_F(StatusTest, LegacyIniValues) {
  const struct {
    std::string ini;
    int32_t stream;
    int32_t single_profile;
    const wchar_t* language;
  } kCases[] = {
      {"[System]\r\nVelum Product=1\r\nMulti User=1\r\n", Status::LEGACY_STREAM_NEXT, 0, L""},
      {"[System]\r\nVelum Product=7\r\nMulti User=-1\r\n", Status::LEGACY_STREAM_NONE, -1,
       L""},
      {"[System]\r\n[User Prefs]\r\nLanguage Files Directory=D:\\l\\pt-BR\r\n",
       Status::LEGACY_STREAM_NONE, -1, L"pt-BR"},
      // A directory as long as the buffer may be cut off: no language from it.
      {"[User Prefs]\r\nLanguage Files Directory=C:\\" + std::string(300, 'x') + "\r\n",
       Status::LEGACY_STREAM_NONE, -1, L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.ini.substr(0, 60));
    Write(L"Velum\\velumprefs_default.ini", c.ini);
    Status status(false);
    status.Initialize(install_, 0);
    EXPECT_EQ(c.stream, status.legacy_stream());
    EXPECT_EQ(c.single_profile, status.single_profile());
    EXPECT_EQ(c.language, status.language());
  }
}

TEST(StatusNamesTest, LegacyStreamNames) {
  EXPECT_STREQ("", Status::GetLegacyStreamName(0));
  EXPECT_STREQ("Next", Status::GetLegacyStreamName(1));
  EXPECT_STREQ("Labs", Status::GetLegacyStreamName(2));
  EXPECT_STREQ("Invalid", Status::GetLegacyStreamName(3));
  EXPECT_STREQ("Invalid", Status::GetLegacyStreamName(-1));
}

}  // namespace
}  // namespace installer
