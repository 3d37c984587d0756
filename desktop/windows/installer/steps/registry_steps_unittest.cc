#include "desktop/windows/installer/steps/registry_steps.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/installer_test_util.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"

namespace installer {
namespace {

using testing::InstallationRun;
using testing::InstallerTest;

const wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// `key_path` and everything below it as text, one key or value per line, in a fixed
// order, with `folder` written as "<folder>".
void DumpKey(HKEY root, const std::wstring& key_path, const std::wstring& folder,
             std::string* text) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, key_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  auto show = [&folder](std::wstring value) {
    for (size_t at; !folder.empty() && (at = value.find(folder)) != std::wstring::npos;)
      value.replace(at, folder.size(), L"<folder>");
    return base::WideToUTF8(value);
  };
  *text += show(key_path) + "\n";
  std::vector<std::string> values;
  for (DWORD index = 0;; ++index) {
    wchar_t name[512];
    DWORD name_size = 512, type = 0;
    BYTE data[2048] = {};
    DWORD data_size = sizeof(data) - sizeof(wchar_t);
    if (RegEnumValueW(key, index, name, &name_size, nullptr, &type, data, &data_size) !=
        ERROR_SUCCESS)
      break;
    std::string line = "  " + (name_size ? show(name) : "@") + " ";
    if (type == REG_SZ)
      line += "= \"" + show(reinterpret_cast<const wchar_t*>(data)) + "\"";
    else if (type == REG_DWORD)
      line += "= dword:" + std::to_string(*reinterpret_cast<const DWORD*>(data));
    else
      line += "(type " + std::to_string(type) + ", " + std::to_string(data_size) + " bytes)";
    values.push_back(line);
  }
  std::sort(values.begin(), values.end());
  for (const std::string& line : values) *text += line + "\n";
  std::vector<std::wstring> subkeys;
  for (DWORD index = 0;; ++index) {
    wchar_t name[512];
    DWORD name_size = 512;
    if (RegEnumKeyExW(key, index, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subkeys.push_back(name);
  }
  RegCloseKey(key);
  std::sort(subkeys.begin(), subkeys.end());
  for (const std::wstring& subkey : subkeys) DumpKey(root, key_path + L"\\" + subkey, folder, text);
}

// What a current-user installation of version 1.0.100.0 leaves in the keys the product
// writes in.
const char kGoldenListing[] = R"(Software\Velum Software
  Last Stable Install Path = "<folder>\"
Software\Classes
Software\Classes\.htm
Software\Classes\.htm\OpenWithProgIDs
  VelumStable (type 0, 0 bytes)
Software\Classes\.html
Software\Classes\.html\OpenWithProgIDs
  VelumStable (type 0, 0 bytes)
Software\Classes\.pdf
Software\Classes\.pdf\OpenWithProgIDs
  VelumStable (type 0, 0 bytes)
Software\Classes\.shtml
Software\Classes\.shtml\OpenWithProgIDs
  VelumStable (type 0, 0 bytes)
Software\Classes\.vldownload
Software\Classes\.vldownload\OpenWithProgIDs
  VelumStable (type 0, 0 bytes)
Software\Classes\.vlx
  @ = "VelumStable.Extension"
Software\Classes\.vlx\OpenWithProgIDs
  VelumStable (type 0, 0 bytes)
Software\Classes\.xht
Software\Classes\.xht\OpenWithProgIDs
  VelumStable (type 0, 0 bytes)
Software\Classes\.xhtml
Software\Classes\.xhtml\OpenWithProgIDs
  VelumStable (type 0, 0 bytes)
Software\Classes\Applications
Software\Classes\Applications\velum.exe
Software\Classes\Applications\velum.exe\shell
Software\Classes\Applications\velum.exe\shell\open
Software\Classes\Applications\velum.exe\shell\open\command
  @ = ""<folder>\Launcher.exe" "%1""
Software\Classes\VelumStable
  FriendlyTypeName = "Velum Web Document"
  URL Protocol = ""
Software\Classes\VelumStable\DefaultIcon
  @ = "<folder>\Launcher.exe,0"
Software\Classes\VelumStable\shell
Software\Classes\VelumStable\shell\open
Software\Classes\VelumStable\shell\open\command
  @ = ""<folder>\Launcher.exe" -noautoupdate -- "%1""
Software\Classes\VelumStable\shell\open\ddeexec
  @ = ""
Software\Classes\VelumStable\shell\open\ddeexec\Application
  @ = ""
Software\Classes\VelumStable\shell\open\ddeexec\Topic
  @ = ""
Software\Clients
Software\Clients\StartMenuInternet
Software\Clients\StartMenuInternet\VelumStable
  @ = "Velum Stable"
Software\Clients\StartMenuInternet\VelumStable\Capabilities
  ApplicationDescription = "Do more on the web"
  ApplicationIcon = ""<folder>\Launcher.exe",0"
  ApplicationName = "Velum Stable"
Software\Clients\StartMenuInternet\VelumStable\Capabilities\FileAssociations
  .htm = "VelumStable"
  .html = "VelumStable"
  .pdf = "VelumStable"
  .shtml = "VelumStable"
  .vldownload = "VelumStable"
  .vlext = "VelumStable"
  .vlpack = "VelumStable"
  .xht = "VelumStable"
  .xhtml = "VelumStable"
Software\Clients\StartMenuInternet\VelumStable\Capabilities\Startmenu
  StartMenuInternet = "VelumStable"
Software\Clients\StartMenuInternet\VelumStable\Capabilities\UrlAssociations
  ftp = "VelumStable"
  http = "VelumStable"
  https = "VelumStable"
  mailto = "VelumStable"
Software\Clients\StartMenuInternet\VelumStable\DefaultIcon
  @ = "<folder>\Launcher.exe,0"
Software\Clients\StartMenuInternet\VelumStable\InstallInfo
  HideIconsCommand = ""<folder>\Launcher.exe" --hideicons"
  IconsVisible = dword:1
  ReinstallCommand = ""<folder>\Launcher.exe" --makedefaultbrowser"
  ShowIconsCommand = ""<folder>\Launcher.exe" --showicons"
Software\Clients\StartMenuInternet\VelumStable\shell
Software\Clients\StartMenuInternet\VelumStable\shell\open
Software\Clients\StartMenuInternet\VelumStable\shell\open\command
  @ = ""<folder>\Launcher.exe""
Software\RegisteredApplications
  Velum Stable = "Software\Clients\StartMenuInternet\VelumStable\Capabilities"
Software\Microsoft\Windows\CurrentVersion\App Paths
Software\Microsoft\Windows\CurrentVersion\App Paths\velum.exe
  @ = ""<folder>\Launcher.exe""
  Path = ""<folder>""
Software\Microsoft\Windows\CurrentVersion\Uninstall
Software\Microsoft\Windows\CurrentVersion\Uninstall\Velum 1.0.100.0
  DisplayIcon = ""<folder>\Launcher.exe",0"
  DisplayName = "Velum Stable 1.0.100.0"
  DisplayVersion = "1.0.100.0"
  HelpLink = "http://localhost:8080/help/"
  InstallLocation = "<folder>"
  NoModify = dword:1
  NoRepair = dword:1
  Publisher = "Velum Software"
  URLInfoAbout = "http://localhost:8080/"
  URLUpdateInfo = "http://localhost:8080/download/"
  UninstallString = ""<folder>\Launcher.exe" /uninstall"
Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags
Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Compatibility Assistant
Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Compatibility Assistant\Persisted
  <folder>\Launcher.exe = dword:32
)";

class RegistryStepsTest : public InstallerTest {
 protected:
  // Every key the product writes in, as DumpKey shows them.
  std::string Dump() {
    std::string text;
    for (const std::wstring& key : testing::GetProductRegistryKeys())
      DumpKey(HKEY_CURRENT_USER, key, install_folder_.value(), &text);
    return text;
  }
  // Moves the next run to another install folder.
  void UseInstallFolder(const wchar_t* name) {
    install_folder_ = scratch_.path().Append(name);
    interrupted_.Set(CreateEventW(
        nullptr, TRUE, FALSE,
        GetKernelObjectName(install_folder_.value(), L"VelumInstaller/InstallationInterrupted",
                            true)
            .c_str()));
    ASSERT_TRUE(interrupted_.IsValid());
  }
  std::wstring ReadText(const std::wstring& key_path, const wchar_t* name) {
    base::RegistryKey key(HKEY_CURRENT_USER, key_path.c_str(), KEY_READ);
    std::wstring text;
    if (key.ReadValue(name, &text) != ERROR_SUCCESS) return L"<missing>";
    return text;
  }
  bool KeyExists(const std::wstring& key_path) {
    base::RegistryKey key;
    return key.Open(HKEY_CURRENT_USER, key_path.c_str(), KEY_READ) == ERROR_SUCCESS;
  }
};

TEST_F(RegistryStepsTest, ACurrentUserInstallWritesTheRegistration) {
  Install();
  EXPECT_EQ(kGoldenListing, Dump());
}

TEST_F(RegistryStepsTest, SideBySideInstallationsGetTheirOwnUninstallEntries) {
  Install();
  UseInstallFolder(L"Second");
  Install();
  const std::wstring first = std::wstring(kUninstall) + L"\\Velum 1.0.100.0";
  EXPECT_EQ(scratch_.path().Append(L"Velum").value(), ReadText(first, L"InstallLocation"));
  EXPECT_EQ(install_folder_.value(), ReadText(first + L"1", L"InstallLocation"));
  EXPECT_EQ(L"Velum Stable 1.0.100.0", ReadText(first + L"1", L"DisplayName"));
  EXPECT_FALSE(KeyExists(first + L"2"));
}

// A run that ended after writing the entry but before its record: the next run took
// the next name, and uninstalling it left the first entry pointing at nothing.
TEST_F(RegistryStepsTest, AnEntryLeftForThisFolderIsReused) {
  const std::wstring first = std::wstring(kUninstall) + L"\\Velum 1.0.100.0";
  const std::wstring location = install_folder_.value() + L"\\";
  ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, first, 0, L"InstallLocation",
                                          REG_SZ, location.c_str(),
                                          (location.size() + 1) * sizeof(wchar_t)));
  Install();
  EXPECT_EQ(L"Velum Stable 1.0.100.0", ReadText(first, L"DisplayName"));
  EXPECT_FALSE(KeyExists(first + L"1"));
  EXPECT_EQ(kGoldenListing, Dump());
}

// A run killed while it wrote the entry left only its first values: neither a folder
// nor a command, so no other installation claims it and it is this one's to reuse. An
// entry of another folder keeps its name; the next free one is taken.
TEST_F(RegistryStepsTest, AHalfWrittenEntryIsReusedAndAnotherFoldersKept) {
  const std::wstring first = std::wstring(kUninstall) + L"\\Velum 1.0.100.0";
  const std::wstring second = first + L"1";
  const std::wstring other = L"C:\\Other";
  for (const wchar_t* name : {L"DisplayName", L"DisplayIcon", L"DisplayVersion"}) {
    ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, first, 0, name, REG_SZ, L"x",
                                            2 * sizeof(wchar_t)));
  }
  ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, second, 0, L"InstallLocation",
                                          REG_SZ, other.c_str(),
                                          (other.size() + 1) * sizeof(wchar_t)));
  Install();
  EXPECT_EQ(install_folder_.value(), ReadText(first, L"InstallLocation"));
  EXPECT_EQ(L"Velum Stable 1.0.100.0", ReadText(first, L"DisplayName"));
  EXPECT_EQ(other, ReadText(second, L"InstallLocation"));
  EXPECT_FALSE(KeyExists(first + L"2"));
}

// Half-written entries of another folder: one with a command but no folder is not taken.
TEST_F(RegistryStepsTest, AnEntryWithACommandButNoFolderIsNotTaken) {
  const std::wstring first = std::wstring(kUninstall) + L"\\Velum 1.0.100.0";
  ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, first, 0, L"UninstallString",
                                          REG_SZ, L"x", 2 * sizeof(wchar_t)));
  Install();
  EXPECT_EQ(L"<missing>", ReadText(first, L"InstallLocation"));
  EXPECT_EQ(install_folder_.value(), ReadText(first + L"1", L"InstallLocation"));
}

TEST_F(RegistryStepsTest, UninstallRemovesWhatWasWrittenAndKeepsWhatOthersShare) {
  // Another browser's registration in the keys that are shared.
  const struct {
    const wchar_t* key;
    const wchar_t* name;
    const wchar_t* data;
  } others[] = {
      {L"Software\\Classes\\.htm", nullptr, L"htmlfile"},
      {L"Software\\Classes\\.htm\\OpenWithProgIDs", L"OtherHTML", L""},
      {L"Software\\Classes\\Applications\\other.exe", nullptr, L"other"},
      {L"Software\\Clients\\StartMenuInternet\\Other", nullptr, L"Other"},
      {L"Software\\RegisteredApplications", L"Other", L"Software\\Clients\\Other"},
  };
  for (const auto& other : others) {
    ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, other.key, 0, other.name, REG_SZ,
                                            other.data,
                                            (wcslen(other.data) + 1) * sizeof(wchar_t)));
  }
  Install();
  InstallationRun uninstall;
  uninstall.uninstall = true;
  Run(&uninstall);
  ASSERT_TRUE(uninstall.succeeded) << ::testing::PrintToString(uninstall.events);
  // Keys recorded with depth 0 lose only the product's values (the product's own file
  // type goes once empty); the others go whole.
  EXPECT_EQ(R"(Software\Velum Software
  Last Stable Install Path = "<folder>\"
Software\Classes
Software\Classes\.htm
  @ = "htmlfile"
Software\Classes\.htm\OpenWithProgIDs
  OtherHTML = ""
Software\Classes\.html
Software\Classes\.html\OpenWithProgIDs
Software\Classes\.pdf
Software\Classes\.pdf\OpenWithProgIDs
Software\Classes\.shtml
Software\Classes\.shtml\OpenWithProgIDs
Software\Classes\.xht
Software\Classes\.xht\OpenWithProgIDs
Software\Classes\.xhtml
Software\Classes\.xhtml\OpenWithProgIDs
Software\Classes\Applications
Software\Classes\Applications\other.exe
  @ = "other"
Software\Clients
Software\Clients\StartMenuInternet
Software\Clients\StartMenuInternet\Other
  @ = "Other"
Software\RegisteredApplications
  Other = "Software\Clients\Other"
Software\Microsoft\Windows\CurrentVersion\App Paths
Software\Microsoft\Windows\CurrentVersion\App Paths\velum.exe
Software\Microsoft\Windows\CurrentVersion\Uninstall
Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags
Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Compatibility Assistant
Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Compatibility Assistant\Persisted
)",
            Dump());
}

TEST_F(RegistryStepsTest, ADamagedRecordNeverDeletesKeysOutsideTheProducts) {
  ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, L"Software\\Classes\\.htm", 0,
                                          nullptr, REG_SZ, L"htmlfile", 9 * sizeof(wchar_t)));
  ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, L"Software\\Other", 0, L"Kept",
                                          REG_SZ, L"yes", 4 * sizeof(wchar_t)));
  Install();
  const base::FilePath record_path = install_folder_.Append(L"installation_status.xml");
  std::unique_ptr<InstallLog> record = ReadRecord(record_path);
  ASSERT_TRUE(record);
  const struct {
    const char* path;
    int32_t clean;
  } damaged[] = {
      {"Software\\Velum Software", 3},                            // above the hive
      {"Software\\Velum Software", 2},                            // "Software"
      {"Software\\Classes\\.htm\\OpenWithProgIDs", 2},            // a shared file type
      {"Software\\Classes\\VelumStable\\shell", 3},               // "Software\\Classes"
      {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\x", 2},  // every entry
  };
  // Listed first, so that the product's own keys are still there when they come.
  std::vector<InstallLog::RegistryKey> keys;
  for (const auto& entry : damaged) {
    keys.emplace_back();
    keys.back().path = entry.path;
    keys.back().clean = entry.clean;
  }
  keys.insert(keys.end(), record->user_registry.begin(), record->user_registry.end());
  record->user_registry = keys;
  ASSERT_TRUE(InstallLogWriter().WriteFile(*record, record_path));
  InstallationRun uninstall;
  uninstall.uninstall = true;
  Run(&uninstall);
  ASSERT_TRUE(uninstall.succeeded) << ::testing::PrintToString(uninstall.events);
  EXPECT_EQ(L"htmlfile", ReadText(L"Software\\Classes\\.htm", nullptr));
  EXPECT_EQ(L"yes", ReadText(L"Software\\Other", L"Kept"));
  EXPECT_TRUE(KeyExists(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
  EXPECT_TRUE(KeyExists(L"Software\\Velum Software"));
  // The product's own keys still go.
  EXPECT_FALSE(KeyExists(L"Software\\Classes\\VelumStable"));
  EXPECT_FALSE(KeyExists(std::wstring(kUninstall) + L"\\Velum 1.0.100.0"));
}

// A record may name values of any key to be removed one by one: only the product's own
// keys and the values the table writes into shared keys (each kind once here) go.
TEST_F(RegistryStepsTest, ARecordsValuesGoOnlyFromTheProductsKeysAndTableRows) {
  const testing::ScratchRegistryKey machine(HKEY_LOCAL_MACHINE);
  ASSERT_FALSE(machine.path().empty());
  const std::wstring launcher = install_folder_.value() + L"\\Launcher.exe";
  const std::wstring app_paths = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
  const std::wstring compatibility =
      L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility "
      L"Assistant\\Persisted";
  const struct {
    HKEY hive;
    std::wstring key;
    std::wstring value;
    bool goes;
  } cases[] = {
      {HKEY_CURRENT_USER, L"Software\\Policies\\OtherVendor", L"Locked", false},
      {HKEY_LOCAL_MACHINE, machine.Child(L"CurrentControlSet\\Services\\OtherSvc"), L"ImagePath",
       false},
      {HKEY_CURRENT_USER, L"Software\\Classes\\.htm\\OpenWithProgIDs", L"OtherHTML", false},
      {HKEY_CURRENT_USER, app_paths + L"\\other.exe", L"", false},
      {HKEY_CURRENT_USER, compatibility, L"C:\\Other\\other.exe", false},
      {HKEY_CURRENT_USER, L"Software\\RegisteredApplications", L"Other", false},
      // Recorded by the installation itself.
      {HKEY_CURRENT_USER, L"Software\\Classes\\.pdf\\OpenWithProgIDs", L"VelumStable", true},
      {HKEY_CURRENT_USER, app_paths + L"\\velum.exe", L"", true},
      {HKEY_CURRENT_USER, app_paths + L"\\velum.exe", L"Path", true},
      {HKEY_CURRENT_USER, compatibility, launcher, true},
      {HKEY_CURRENT_USER, L"Software\\RegisteredApplications", L"Velum Stable", true},
      // The product's own keys keep today's rule: any recorded value goes.
      {HKEY_CURRENT_USER, L"Software\\Velum Software", L"Recorded", true},
  };
  Install();
  const base::FilePath record_path = install_folder_.Append(L"installation_status.xml");
  std::unique_ptr<InstallLog> record = ReadRecord(record_path);
  ASSERT_TRUE(record);
  for (const auto& c : cases) {
    ASSERT_TRUE(testing::WriteRegistryValue(c.hive, c.key, 0, c.value.c_str(), REG_SZ, L"x",
                                            2 * sizeof(wchar_t)));
    auto& keys = c.hive == HKEY_LOCAL_MACHINE ? record->machine_registry : record->user_registry;
    keys.emplace_back();
    keys.back().path = base::WideToUTF8(c.key);
    keys.back().values.emplace_back();
    keys.back().values.back().name = base::WideToUTF8(c.value);
  }
  ASSERT_TRUE(InstallLogWriter().WriteFile(*record, record_path));
  InstallationRun uninstall;
  uninstall.uninstall = true;
  Run(&uninstall);
  ASSERT_TRUE(uninstall.succeeded) << ::testing::PrintToString(uninstall.events);
  for (const auto& c : cases) {
    base::RegistryKey key(c.hive, c.key.c_str(), KEY_READ);
    std::wstring data;
    EXPECT_EQ(!c.goes, key.Valid() && key.ReadValue(c.value.c_str(), &data) == ERROR_SUCCESS)
        << base::WideToUTF8(c.key) << " \"" << base::WideToUTF8(c.value) << "\"";
  }
}

// Names the product as a current-user installation into C:\Apps\Velum does.
class FixedResolver : public PlaceholderResolver {
 public:
  std::wstring Resolve(const std::wstring& name) override {
    if (name == L"InstallFolder") return L"C:\\Apps\\Velum";
    if (name == L"Product") return L"Velum";
    if (name == L"Stream") return L"Stable";
    if (name == L"Executable") return L"velum.exe";
    return name;
  }
  std::vector<InstallLog::RegistryKey>* GetRegistryLog(HKEY) override { return nullptr; }
};

TEST(TableValueTest, ATableValueIsToldByItsKeyAndNameAsTheRecordNamesThem) {
  const std::wstring persisted =
      L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility "
      L"Assistant\\Persisted";
  const struct {
    const char* name;
    bool legacy;
    std::wstring key;
    std::wstring value;
    bool table;
  } cases[] = {
      {"other letters", false, L"software\\CLASSES\\.Html\\OpenWithProgids", L"VELUMstable", true},
      {"a folder given with a trailing separator", false, persisted,
       L"C:\\Apps\\Velum\\\\Launcher.exe", true},
      {"another folder's flag", false, persisted, L"C:\\Apps\\Other\\Launcher.exe", false},
      {"a legacy record's stream", true, L"Software\\Classes\\.htm\\OpenWithProgIDs",
       L"NextStable", true},
      {"the product's name in a legacy record", true, L"Software\\Classes\\.htm\\OpenWithProgIDs",
       L"VelumStable", false},
  };
  FixedResolver resolver;
  for (const auto& c : cases) {
    const RecordNaming naming = {c.legacy, c.legacy ? L"Next" : L""};
    EXPECT_EQ(c.table, IsTableValue(c.key, c.value, naming, &resolver)) << c.name;
  }
}

TEST(ProductOwnedRegistryKeyTest, OnlyKeysAtOrBelowTheProductsOwn) {
  const struct {
    const wchar_t* key;
    bool owned;
  } cases[] = {
      {L"Software\\Velum Software", true},
      {L"software\\velum software\\Sub", true},
      {L"Software\\Classes\\VelumStable", true},
      {L"Software\\Classes\\VelumStable\\shell\\open", true},
      {L"Software\\Classes\\.vlx", true},
      {L"Software\\Classes\\Applications\\velum.exe", true},
      {L"Software\\Clients\\StartMenuInternet\\VelumStable", true},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velum 1.0.100.01", true},
      {L"", false},
      {L"Software", false},
      {L"Software\\Velum Softwarex", false},
      {L"Software\\Classes", false},
      {L"Software\\Classes\\.htm", false},
      {L"Software\\Classes\\Applications", false},
      {L"Software\\Classes\\Applications\\other.exe", false},
      {L"Software\\Clients\\StartMenuInternet", false},
      {L"Software\\Clients\\StartMenuInternet\\Other", false},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", false},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\velum.exe", false},
      {L"Software\\Classes\\\\VelumStable", false},
      {L"Software\\Classes\\VelumStable\\", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.owned, IsProductOwnedRegistryKey(c.key)) << base::WideToUTF8(c.key);
}

TEST_F(RegistryStepsTest, TheUninstallEntrySearchEnds) {
  const std::wstring first = std::wstring(kUninstall) + L"\\Velum 1.0.100.0";
  for (int suffix = 0; suffix < kMaxUninstallKeySuffix; ++suffix) {
    const std::wstring key = first + (suffix ? std::to_wstring(suffix) : std::wstring());
    ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, key, 0, L"InstallLocation",
                                            REG_SZ, L"C:\\x", 4 * sizeof(wchar_t)));
  }
  const std::string before = Snapshot();
  InstallationRun run;
  Run(&run);
  EXPECT_FALSE(run.succeeded);
  EXPECT_EQ("Error(0,,Failed writing uninstallation information)", run.events[run.events.size() - 2]);
  EXPECT_EQ(before, Snapshot());
}

}  // namespace
}  // namespace installer
