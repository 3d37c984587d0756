#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"

#include <windows.h>

#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/path_service.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/root_scratch_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"

namespace installer {
namespace {

// An installation record of this product naming `folder` as it is written, made by a
// standalone (`copy_only`) or an all-users installation (`all_users`) when one is given.
std::string RecordNaming(const std::wstring& folder, const char* copy_only = "False",
                         const char* all_users = "False") {
  return std::string("<?xml version=\"1.0\"?>\n<install_log version='1.2.3' copy_only='") +
         copy_only + "' all_users='" + all_users + "' pinned='False'><path subfolder='1.2.3'>" +
         base::FilePath(folder).AsUTF8() +
         "</path><files><file>a.dll</file></files></install_log>\n";
}

base::FilePath KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)));
  return base::FilePath(path);
}

// Why `result` was refused; empty when it was not.
template <typename T>
std::string Refusal(const base::Result<T>& result) {
  return result.ok() ? std::string() : result.failure().text;
}

// Whether `result` was refused with a reason that starts with `why` (a system folder's
// name differs by machine), or allowed when `why` is empty.
template <typename T>
::testing::AssertionResult RefusedFor(const base::Result<T>& result, const std::string& why) {
  const bool as_expected =
      why.empty() ? result.ok() : !result.ok() && Refusal(result).compare(0, why.size(), why) == 0;
  if (as_expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << (result.ok() ? "allowed" : "refused: " + Refusal(result));
}

using GrantFolderCheckTest = base::ScratchDirTest;

// The spelling asked for becomes the one the system uses; a name the system would read
// otherwise is refused, with the reason.
TEST_F(GrantFolderCheckTest, NormalizesOrRefusesTheSpellingAsked) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"Long Folder Name")));
  wchar_t short_name[MAX_PATH] = {};
  ASSERT_NE(0u, GetShortPathNameW(Path(L"Long Folder Name").value().c_str(), short_name, MAX_PATH));
  const std::wstring scratch = scratch_.path().value();
  const struct {
    const char* name;
    std::wstring asked;
    std::wstring normalized;  // empty: refused with `refusal`
    const char* refusal;
  } cases[] = {
      {"a plain path", L"C:\\velum\\install", L"C:\\velum\\install", ""},
      {"a lower-case drive", L"c:\\velum", L"C:\\velum", ""},
      {"forward slashes, . and ..", L"C:/velum/./x/../install/", L"C:\\velum\\install", ""},
      {".. above the root stays on the drive", L"C:\\..\\velum", L"C:\\velum", ""},
      {"a short name made long", std::wstring(short_name) + L"\\new",
       Path(L"Long Folder Name\\new").value(), ""},
      {"COM0 is no device", L"C:\\velum\\COM0", L"C:\\velum\\COM0", ""},
      {"a name that starts like a device", L"C:\\velum\\console", L"C:\\velum\\console", ""},
      {"empty", L"", L"", "not a plain absolute path"},
      {"relative", L"install", L"", "not a plain absolute path"},
      {"drive-relative", L"C:install", L"", "not a plain absolute path"},
      {"a share", L"\\\\server\\share\\install", L"", "not a plain absolute path"},
      {"a device path", L"\\\\?\\C:\\install", L"", "not a plain absolute path"},
      {"the device namespace", L"\\\\.\\C:\\install", L"", "not a plain absolute path"},
      {"a trailing blank", scratch + L"\\install \\", L"",
       "a name ending in a blank or a dot, which the system drops"},
      {"a trailing dot above", L"C:\\velum.\\install", L"",
       "a name ending in a blank or a dot, which the system drops"},
      {"a stream", L"C:\\velum::$INDEX_ALLOCATION", L"", "a stream suffix or a reserved character"},
      {"a wildcard", L"C:\\velum\\*", L"", "a stream suffix or a reserved character"},
      {"a control character", L"C:\\velum\\a\x01", L"", "a stream suffix or a reserved character"},
      {"a device", scratch + L"\\nul", L"", "a device name"},
      {"a device with an extension and blanks", L"C:\\velum\\Com1 .txt", L"", "a device name"},
      {"LPT9", L"C:\\velum\\lpt9", L"", "a device name"},
      {"longer than the system reads", L"C:\\" + std::wstring(MAX_PATH, L'a'), L"",
       "the system reads the path otherwise"},
  };
  for (const auto& c : cases) {
    const base::Result<base::FilePath> result = NormalizeGrantFolder(base::FilePath(c.asked));
    EXPECT_TRUE(RefusedFor(result, c.refusal)) << c.name;
    if (result.ok()) {
      EXPECT_EQ(c.normalized, result.value().value()) << c.name;
    }
  }
}

// The decision as the helper makes it, up to the hold: the spelling, the place by name,
// the missing folders made, then the folder held; what was made goes again.
base::Result<base::FilePath> Decide(const base::FilePath& asked, const GrantRules& rules) {
  const base::Result<base::FilePath> normalized = NormalizeGrantFolder(asked);
  if (!normalized.ok()) return normalized;
  const base::Result<> place = CheckGrantablePlace(normalized.value(), rules.places);
  if (!place.ok()) return place.failure();
  std::vector<MadeFolder> made;
  const base::Result<> created = CreateMissingFolders(normalized.value(), rules, &made);
  base::Result<base::FilePath> decided = normalized;
  if (!created.ok()) {
    decided = created.failure();
  } else {
    const base::Result<base::ScopedHandle> held =
        HoldGrantableFolder(normalized.value(), rules, !made.empty() &&
                                                           made.back().path == normalized.value());
    if (!held.ok()) decided = held.failure();
  }
  RemoveMadeFoldersIfEmpty(made);
  EXPECT_TRUE(made.empty() || !base::PathExists(made.front().path)) << asked.AsUTF8();
  return decided;
}

GrantRules MachineRules() {
  base::Result<std::vector<ProtectedPlace>> places = ListProtectedPlaces(nullptr);
  EXPECT_TRUE(places.ok()) << Refusal(places);
  GrantRules rules;
  if (places.ok()) rules.places = std::move(places).value();
  return rules;
}

std::wstring ShortName(const base::FilePath& path) {
  wchar_t short_name[MAX_PATH] = {};
  EXPECT_NE(0u, GetShortPathNameW(path.value().c_str(), short_name, MAX_PATH)) << path.AsUTF8();
  return short_name;
}

class GrantPlaceTest : public RootScratchTest {
 protected:
  // The machine's rules, with the scratch folder standing for a Program Files folder.
  GrantRules ScratchProgramRules() const {
    GrantRules rules = MachineRules();
    rules.places.push_back(ProtectedPlace{root_, false});
    return rules;
  }
};

const char kLiesIn[] = "it lies in the protected folder ";
const char kHolds[] = "it is or holds the protected folder ";
const char kEmptyRule[] =
    "an empty folder that this request did not make and that is not this product's own "
    "(\"Velum\" directly in a Program Files folder or a Common Files folder): choose a new "
    "folder name, and the folder is made for the installation";
const char kNewRule[] = "a new folder whose nearest existing folder ";

// Where a writable folder would run another account's code is refused however it is
// spelled, each with its reason; a new or empty folder of the program places is granted.
TEST_F(GrantPlaceTest, GrantsOnlyWhereNoOtherAccountsCodeRuns) {
  const GrantRules rules = MachineRules();
  const base::FilePath windows = KnownFolder(CSIDL_WINDOWS);
  const base::FilePath program_files = KnownFolder(CSIDL_PROGRAM_FILES);
  const base::FilePath program_data = KnownFolder(CSIDL_COMMON_APPDATA);
  const base::FilePath profile = KnownFolder(CSIDL_PROFILE);
  const base::FilePath users = profile.DirName();
  const base::FilePath common_startup = KnownFolder(CSIDL_COMMON_STARTUP);
  const base::FilePath startup_tail(
      L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup");
  const std::wstring drive = windows.value().substr(0, 3);
  const std::wstring users_short = ShortName(users);
  const struct {
    const char* name;
    std::wstring asked;
    std::string refusal;  // empty: granted
  } cases[] = {
      {"another user's PowerShell profile folder",
       users.value() + L"\\someone\\Documents\\WindowsPowerShell", kLiesIn + users.AsUTF8()},
      {"the same with a trailing blank", users.value() + L"\\someone\\Documents\\WindowsPowerShell \\",
       "a name ending in a blank or a dot, which the system drops"},
      {"the same by the profiles' short name",
       users_short + L"\\someone\\Documents\\WindowsPowerShell", kLiesIn + users.AsUTF8()},
      {"the same with doubled separators",
       users.value() + L"\\\\someone\\\\Documents\\WindowsPowerShell", kLiesIn + users.AsUTF8()},
      {"another user's Startup", users.Append(L"someone").Append(startup_tail).value(),
       kLiesIn + users.AsUTF8()},
      {"the Default profile's Startup", users.Append(L"Default").Append(startup_tail).value(),
       kLiesIn + users.AsUTF8()},
      {"the all-users StartUp", common_startup.value(), kLiesIn + program_data.AsUTF8()},
      {"the all-users StartUp, doubled separators",
       program_data.value() + L"\\\\Microsoft\\Windows\\\\Start Menu\\Programs\\StartUp\\",
       kLiesIn + program_data.AsUTF8()},
      {"Public\\Desktop\\x", users.value() + L"\\Public\\Desktop\\x", kLiesIn + users.AsUTF8()},
      {"Public\\Desktop\\x by short names", users_short + L"\\Public\\Desktop\\x",
       kLiesIn + users.AsUTF8()},
      {"this user's own data", KnownFolder(CSIDL_LOCAL_APPDATA).Append(L"Velum").value(),
       kLiesIn + users.AsUTF8()},
      {"a folder in ProgramData", program_data.Append(L"Velum").value(),
       kLiesIn + program_data.AsUTF8()},
      {"the profiles' root", users.value(), kHolds},
      {"the Windows folder", windows.value() + L"\\", kHolds},
      {"under the Windows folder", windows.Append(L"velum").value(), kLiesIn + windows.AsUTF8()},
      {"Program Files", program_files.value(), kHolds},
      {"Program Files by its short name", ShortName(program_files), kHolds},
      {"a drive root", drive, "a drive root"},
      {"a folder in Program Files", program_files.Append(L"Velum").value(), ""},
      {"the same by a short name", ShortName(program_files) + L"\\Velum\\", ""},
      {"a new folder in another folder", root_.Append(L"new\\install").value(), kNewRule},
      {"a new folder, doubled separators", root_.value() + L"\\\\new\\\\install", kNewRule},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(RefusedFor(Decide(base::FilePath(c.asked), rules), c.refusal)) << c.name;
}

// Removes the folders a test made outside its scratch folder, whatever happens.
struct RemoveAtEnd {
  std::vector<base::FilePath> paths;
  ~RemoveAtEnd() {
    for (const base::FilePath& path : paths) base::DeleteFileBestEffort(path, true);
  }
};

// Only this product's own folders are granted: its recorded folders and new folders below
// them, and new folders below a Program Files folder or a drive root. Another program's
// folders, empty or new, an empty folder of another name right in Program Files, and a
// drive root's existing folders are refused, each with its reason; so is an all-users
// installation's folder and anything in it, new or not, whose programs the system runs.
TEST_F(GrantPlaceTest, GrantsOnlyThisProductsOwnFolders) {
  const GrantRules rules = MachineRules();
  const base::FilePath program_files = KnownFolder(CSIDL_PROGRAM_FILES);
  const base::FilePath drive(KnownFolder(CSIDL_WINDOWS).value().substr(0, 3));
  const std::wstring tag = root_.BaseName().value();
  const base::FilePath other_app = program_files.Append(tag + L"-OtherApp");
  const base::FilePath empty_in_program_files = program_files.Append(tag + L"-empty");
  const base::FilePath new_in_program_files = program_files.Append(tag + L"-Velum");
  const base::FilePath perf_logs = drive.Append(tag + L"-PerfLogs");
  const base::FilePath new_at_root = drive.Append(tag + L"-new");
  RemoveAtEnd remove{{other_app, empty_in_program_files, new_in_program_files, perf_logs,
                      new_at_root}};
  for (const base::FilePath& folder :
       {other_app.Append(L"plugins"), empty_in_program_files, perf_logs, Path(L"ours"),
        Path(L"copied"), Path(L"standalone"), Path(L"everyone\\nested"),
        Path(L"everyone\\9.9.9.9"), Path(L"single\\old_status"), Path(L"unread\\ours")}) {
    ASSERT_TRUE(base::CreateDirectory(folder)) << folder.AsUTF8();
  }
  ASSERT_TRUE(base::WriteTextFile(other_app.Append(L"app.exe"), "MZ"));
  Write(L"ours\\installation_status.xml", RecordNaming(Path(L"ours").value()));
  // A record copied from our folder into another: it names ours, not this one.
  Write(L"copied\\installation_status.xml", RecordNaming(Path(L"ours").value()));
  Write(L"standalone\\installation_status.xml",
        RecordNaming(Path(L"standalone").value(), "True"));
  // An all-users installation, and one with a single profile in its folder; below the
  // first, a folder holding a record of its own naming it, and a version folder.
  Write(L"everyone\\installation_status.xml",
        RecordNaming(Path(L"everyone").value(), "False", "True"));
  Write(L"everyone\\9.9.9.9\\velum.exe", "MZ");
  Write(L"everyone\\nested\\installation_status.xml", RecordNaming(Path(L"everyone\\nested").value()));
  Write(L"single\\installation_status.xml", RecordNaming(Path(L"single").value(), "False", "True"));
  Write(L"single\\installer_prefs.json", "{\"single_profile\": true}");
  Write(L"single\\old_status\\installation_status.xml.1", RecordNaming(Path(L"single").value()));
  // Whether a folder above is an all-users installation's is not known from a record
  // that cannot be read.
  Write(L"unread\\installation_status.xml", "<install_log>");
  Write(L"unread\\ours\\installation_status.xml", RecordNaming(Path(L"unread\\ours").value()));
  const std::string all_users = "it is or lies in the folder of an all-users installation ";
  const struct {
    const char* name;
    base::FilePath asked;
    std::string refusal;  // empty: granted
  } cases[] = {
      {"another program's empty subfolder", other_app.Append(L"plugins"), kEmptyRule},
      {"another program's new subfolder", other_app.Append(L"addons"),
       kNewRule + other_app.AsUTF8()},
      {"another program's folder", other_app, "a folder that holds another program's files"},
      {"a drive root's empty folder", perf_logs, kEmptyRule},
      {"a new folder in it", perf_logs.Append(L"x"), kNewRule + perf_logs.AsUTF8()},
      // The scratch folder sits at the drive root too, and holds files: whatever else is
      // in such a folder is not this product's.
      {"a new folder in a drive root's folder that holds files", Path(L"new"),
       kNewRule + root_.AsUTF8()},
      {"an empty folder of another name right in Program Files", empty_in_program_files,
       kEmptyRule},
      {"new folders in Program Files", new_in_program_files.Append(L"Application"), ""},
      {"new folders at a drive root", new_at_root.Append(L"install"), ""},
      {"this product's folder", Path(L"ours"), ""},
      {"new folders in it", Path(L"ours\\sub\\deeper"), ""},
      {"new folders in a folder whose record names another", Path(L"copied\\sub"),
       kNewRule + Path(L"copied").AsUTF8()},
      {"a standalone installation's folder", Path(L"standalone"), ""},
      {"an all-users installation's folder", Path(L"everyone"),
       all_users + Path(L"everyone").AsUTF8()},
      {"an all-users single-profile installation's folder", Path(L"single"),
       all_users + Path(L"single").AsUTF8()},
      {"a new folder in one", Path(L"everyone\\old_status"), all_users + Path(L"everyone").AsUTF8()},
      {"new folders deeper in one", Path(L"everyone\\9.9.9.9\\x\\y"),
       all_users + Path(L"everyone").AsUTF8()},
      {"a folder in one holding its own record", Path(L"everyone\\nested"),
       all_users + Path(L"everyone").AsUTF8()},
      {"a new folder in that", Path(L"everyone\\nested\\sub"), all_users + Path(L"everyone").AsUTF8()},
      {"an existing folder in one", Path(L"single\\old_status"), all_users + Path(L"single").AsUTF8()},
      {"a recorded folder below an unreadable record", Path(L"unread\\ours"),
       "it lies in " + Path(L"unread").AsUTF8() + ", whose installation record cannot tell"},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(RefusedFor(Decide(c.asked, rules), c.refusal)) << c.name;
  // What a request made, and nothing else, went again.
  EXPECT_FALSE(base::PathExists(other_app.Append(L"addons")));
  EXPECT_FALSE(base::PathExists(new_in_program_files));
  EXPECT_FALSE(base::PathExists(new_at_root));
  EXPECT_FALSE(base::PathExists(Path(L"ours\\sub")));
  EXPECT_FALSE(base::PathExists(Path(L"new")));
  EXPECT_FALSE(base::PathExists(Path(L"everyone\\old_status")));
  EXPECT_FALSE(base::PathExists(Path(L"everyone\\9.9.9.9\\x")));
  EXPECT_TRUE(base::DirectoryExists(empty_in_program_files));
  EXPECT_TRUE(base::DirectoryExists(perf_logs));
}

// A made folder goes only while it is empty and still the folder that was made.
TEST_F(GrantPlaceTest, MadeFoldersGoOnlyWhileEmptyAndTheSame) {
  GrantRules rules;
  rules.places = {ProtectedPlace{root_, false}};
  std::vector<MadeFolder> made;
  ASSERT_TRUE(CreateMissingFolders(Path(L"a\\b"), rules, &made).ok());
  ASSERT_EQ(2u, made.size());
  EXPECT_EQ(Path(L"a"), made.front().path);
  Write(L"a\\b\\written", "x");
  RemoveMadeFoldersIfEmpty(made);
  EXPECT_TRUE(base::PathExists(Path(L"a\\b\\written")));
  ASSERT_TRUE(base::DeleteFile(Path(L"a\\b\\written"), false));
  // Another folder in the place of the one made.
  ASSERT_TRUE(MoveFileW(Path(L"a\\b").value().c_str(), Path(L"moved-b").value().c_str()));
  ASSERT_TRUE(base::CreateDirectory(Path(L"a\\b")));
  RemoveMadeFoldersIfEmpty(made);
  EXPECT_TRUE(base::DirectoryExists(Path(L"a\\b")));
  ASSERT_TRUE(RemoveDirectoryW(Path(L"a\\b").value().c_str()));
  ASSERT_TRUE(MoveFileW(Path(L"moved-b").value().c_str(), Path(L"a\\b").value().c_str()));
  RemoveMadeFoldersIfEmpty(made);
  EXPECT_FALSE(base::PathExists(Path(L"a")));

  // The folder made moved away and a link to it put in its place: what is at the place
  // made is the link, so the folder it leads to stays.
  ASSERT_TRUE(CreateMissingFolders(Path(L"c"), rules, &made).ok());
  ASSERT_EQ(1u, made.size());
  ASSERT_TRUE(MoveFileW(Path(L"c").value().c_str(), Path(L"moved-c").value().c_str()));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"c"), Path(L"moved-c"), &error)) << error;
  RemoveMadeFoldersIfEmpty(made);
  EXPECT_TRUE(base::DirectoryExists(Path(L"moved-c")));
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"c")));
}

// Shell folders redirected anywhere and the folders of a profile's PATH are protected as
// the hive names them, %USERPROFILE% read as that profile.
TEST_F(GrantPlaceTest, HiveRedirectionsAndSearchPathsAreProtected) {
  testing::ScratchRegistryKey hive;
  ASSERT_FALSE(hive.path().empty());
  base::RegistryKey shell_folders(
      HKEY_CURRENT_USER,
      hive.Child(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders")
          .c_str(),
      KEY_ALL_ACCESS);
  base::RegistryKey environment(HKEY_CURRENT_USER, hive.Child(L"Environment").c_str(),
                                KEY_ALL_ACCESS);
  ASSERT_TRUE(shell_folders.Valid() && environment.Valid());
  const auto set = [](const base::RegistryKey& key, const wchar_t* name, const std::wstring& value,
                      DWORD type) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.Handle(), name, 0, type,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
  };
  set(shell_folders, L"Personal", L"%USERPROFILE%\\..\\Documents", REG_EXPAND_SZ);
  set(shell_folders, L"Startup", root_.value() + L"\\redirected\\Startup", REG_SZ);
  set(environment, L"Path",
      root_.value() + L"\\tools\\bin;\"" + root_.value() + L"\\quoted tools\";.;C:;relative;;\"" +
          root_.value() + L"\\q;d\";" + root_.value() + L"\\half\"way;\"in\"",
      REG_EXPAND_SZ);
  ASSERT_TRUE(base::CreateDirectory(Path(L"Velum")));
  wchar_t current[MAX_PATH] = {};
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, current));
  ASSERT_TRUE(SetCurrentDirectoryW(Path(L"Velum").value().c_str()));
  base::RegistryKey user(HKEY_CURRENT_USER, hive.path().c_str(), KEY_READ);
  GrantRules rules = ScratchProgramRules();
  const base::Result<> added =
      AddHivePlaces(user.Handle(), L"HKEY_CURRENT_USER\\" + hive.path(), Path(L"profile"),
                    &rules.places);
  ASSERT_TRUE(SetCurrentDirectoryW(current));
  ASSERT_TRUE(added.ok()) << Refusal(added);
  const struct {
    const char* name;
    std::wstring asked;
    std::string refusal;
  } cases[] = {
      {"in the profile", Path(L"profile\\x").value(), kLiesIn + Path(L"profile").AsUTF8()},
      {"redirected documents", Path(L"Documents\\WindowsPowerShell").value(),
       kLiesIn + Path(L"Documents").AsUTF8()},
      {"redirected startup", Path(L"redirected\\Startup").value(), kHolds},
      {"above redirected startup", Path(L"redirected").value(), kHolds},
      {"a PATH folder", Path(L"tools\\bin").value(), kHolds},
      {"below a PATH folder", Path(L"tools\\bin\\x").value(), kLiesIn + Path(L"tools\\bin").AsUTF8()},
      {"a quoted PATH folder", Path(L"quoted tools").value(), kHolds},
      // cmd reads a ";" inside quotes as part of the entry.
      {"a quoted PATH folder holding a ;", Path(L"q;d").value(), kHolds},
      {"where that entry would end unquoted", Path(L"q").value(), ""},
      {"the same as cmd reads it", Path(L"halfway;in").value(), kHolds},
      {"beside them", Path(L"tools\\lib").value(), ""},
      // Relative entries name the current folder of whoever searches: no place here (the
      // current folder is this product's install folder, empty, which is granted).
      {"the current folder", Path(L"Velum").value(), ""},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(RefusedFor(Decide(base::FilePath(c.asked), rules), c.refusal)) << c.name;
}

// A lister that cannot list, as a folder the helper may open but not read.
class UnlistableLister : public HeldFolderLister {
 public:
  bool IsEmptyFolder(const HeldFile& /*folder*/, bool* /*empty*/) const override {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
};

// The decision on the folder held open: what it is, where it is, and what it holds. A
// folder that is not empty must hold this product's record naming that folder.
TEST_F(GrantPlaceTest, HeldFolderMustBeAPlainFolderEmptyOrRecordedAsOurs) {
  MakeTree({L"empty\\", L"foreign\\", L"foreign\\readme.txt", L"planted\\", L"garbled\\",
            L"elsewhere\\", L"relative\\", L"ours\\", L"ours\\launcher.exe", L"Cased\\",
            L"spelled\\", L"folder-record\\", L"folder-record\\installation_status.xml\\",
            L"target\\", L"target\\install\\", L"a-file", L"damaged\\", L"linked\\",
            L"kept\\", L"entity\\", L"Velum\\", L"ModifiableWindowsApps\\",
            L"Common Files\\", L"Common Files\\Services\\", L"target\\Velum\\",
            L"written\\"});
  Write(L"planted\\installation_status.xml", "");
  Write(L"garbled\\installation_status.xml", "<install_log>");
  Write(L"elsewhere\\installation_status.xml", RecordNaming(Path(L"ours").value()));
  Write(L"relative\\installation_status.xml", RecordNaming(L"relative"));
  Write(L"ours\\installation_status.xml", RecordNaming(Path(L"ours").value()));
  Write(L"Cased\\installation_status.xml", RecordNaming(Path(L"cASED").value()));
  Write(L"spelled\\installation_status.xml", RecordNaming(Path(L"x\\..\\spelled\\").value()));
  // Names the folder, but lists a file outside it: the reader marks it damaged.
  std::string damaged = RecordNaming(Path(L"damaged").value());
  damaged.replace(damaged.find("a.dll"), 5, "..\\..\\evil.dll");
  Write(L"damaged\\installation_status.xml", damaged);
  // Names the folder through an entity of a document type definition.
  std::string entity = RecordNaming(L"&p;");
  entity.insert(entity.find("<install_log"),
                "<!DOCTYPE install_log [<!ENTITY p \"" + Path(L"entity").AsUTF8() + "\">]>\n");
  Write(L"entity\\installation_status.xml", entity);
  // A record naming the folder, reached through a link from it.
  Write(L"kept\\installation_status.xml", RecordNaming(Path(L"linked").value()));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"linked\\installation_status.xml"),
                                      Path(L"kept\\installation_status.xml"), &error))
      << error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"link"), Path(L"target"), &error)) << error;
  // A record someone may rewrite while it is read says nothing for sure.
  Write(L"written\\installation_status.xml", RecordNaming(Path(L"written").value()));
  const base::ScopedHandle writer(CreateFileW(
      Path(L"written\\installation_status.xml").value().c_str(), GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer.IsValid());
  GrantRules rules = ScratchProgramRules();
  rules.places.push_back(ProtectedPlace{Path(L"Common Files"), false});
  const base::FilePath windows = KnownFolder(CSIDL_WINDOWS);
  const base::FilePath profile = KnownFolder(CSIDL_PROFILE);
  const std::string others_files = "a folder that holds another program's files";
  const std::string unreadable = "a folder whose installation record cannot be read";
  const struct {
    const char* name;
    base::FilePath folder;
    std::string refusal;  // empty: held
  } cases[] = {
      // An empty folder is this product's own only by its name right in Program Files.
      {"this product's empty folder right in a Program Files folder", Path(L"Velum"), ""},
      {"its name deeper down", Path(L"target\\Velum"), kEmptyRule},
      {"an empty folder of another name", Path(L"empty"), kEmptyRule},
      {"ModifiableWindowsApps", Path(L"ModifiableWindowsApps"), kEmptyRule},
      {"Common Files\\Services", Path(L"Common Files\\Services"), kEmptyRule},
      {"an empty folder deeper down", Path(L"target\\install"), kEmptyRule},
      {"this product's folder", Path(L"ours"), ""},
      {"a record naming it in other letters", Path(L"Cased"), ""},
      {"a record naming it by another spelling", Path(L"spelled"), ""},
      {"a missing folder", Path(L"missing"), "the folder cannot be opened and identified"},
      {"a file", Path(L"a-file"), "not a folder"},
      // Wine follows a host link even when asked not to: the link's target is refused.
      {"a link", Path(L"link"),
       base::RunningUnderWine() ? "the folder is " + Path(L"target").AsUTF8() : "a reparse point"},
      {"under a link", Path(L"link\\install"),
       "the folder is " + Path(L"target\\install").AsUTF8()},
      {"another program's folder", Path(L"foreign"), others_files},
      {"a record that is a folder", Path(L"folder-record"), others_files},
      {"a record open for writing", Path(L"written"), others_files},
      {"an empty record planted", Path(L"planted"), unreadable},
      {"a record that does not parse", Path(L"garbled"), unreadable},
      {"a damaged record naming it", Path(L"damaged"), unreadable},
      {"a record naming it through an entity", Path(L"entity"), unreadable},
      {"a record reached through a link", Path(L"linked"),
       "a folder whose installation record is a link"},
      {"a record of another folder", Path(L"elsewhere"),
       "a folder whose installation record names another folder"},
      {"a record naming a relative path", Path(L"relative"),
       "a folder whose installation record names another folder"},
      {"the Windows folder", windows, kHolds},
      {"the profiles' root", profile.DirName(), kHolds},
      {"a profile", profile, kHolds},
  };
  for (const auto& c : cases) {
    const base::Result<base::ScopedHandle> held = HoldGrantableFolder(c.folder, rules);
    EXPECT_TRUE(RefusedFor(held, c.refusal)) << c.name;
    if (held.ok()) {
      EXPECT_TRUE(held.value().IsValid()) << c.name;
    }
  }
  // The same empty folder made for the request is the request's own.
  EXPECT_TRUE(HoldGrantableFolder(Path(L"target\\install"), rules, true).ok());
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"link")));
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"linked\\installation_status.xml")));
}

// A folder that cannot be listed may hold anything: refused, saying why. Wine lists every
// folder its (root) user can open, so the listing is the test's.
TEST_F(GrantPlaceTest, UnlistableFolderIsRefusedWithItsReason) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"Velum")));
  const UnlistableLister unlistable;
  GrantRules rules = ScratchProgramRules();
  rules.lister = &unlistable;
  const base::Result<base::ScopedHandle> held = HoldGrantableFolder(Path(L"Velum"), rules);
  ASSERT_FALSE(held.ok());
  EXPECT_EQ("the folder cannot be listed", held.failure().text);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), held.failure().error);
  EXPECT_EQ(Path(L"Velum"), held.failure().path);
  // While the system's listing holds it.
  EXPECT_TRUE(HoldGrantableFolder(Path(L"Velum"), ScratchProgramRules()).ok());
}

// Opens every place as the system does, except one that fails with `error`.
class FailingPlaceOpener : public HeldPlaceOpener {
 public:
  FailingPlaceOpener(base::FilePath failing, DWORD error)
      : failing_(std::move(failing)), error_(error) {}
  bool OpenPlace(const base::FilePath& path, HeldFile* place) const override {
    if (IsSameOrUnder(path, failing_) && IsSameOrUnder(failing_, path)) {
      SetLastError(error_);
      return false;
    }
    return SystemHeldPlaceOpener().OpenPlace(path, place);
  }

 private:
  base::FilePath failing_;
  DWORD error_;
};

// A protected place that exists but cannot be opened cannot be compared with: the grant
// is refused, not the place skipped, whatever the error. Only an absent one is compared by
// its name.
TEST_F(GrantPlaceTest, PlaceThatCannotBeOpenedRefusesTheGrant) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"Velum")));
  GrantRules rules;
  rules.places = {ProtectedPlace{Path(L"elsewhere"), true}, ProtectedPlace{root_, false}};
  for (const DWORD error : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_NOT_READY,
                            ERROR_INVALID_PARAMETER, ERROR_CANT_ACCESS_FILE}) {
    const FailingPlaceOpener failing(Path(L"elsewhere"), error);
    rules.opener = &failing;
    const base::Result<base::ScopedHandle> held = HoldGrantableFolder(Path(L"Velum"), rules);
    EXPECT_TRUE(RefusedFor(held, "it cannot be compared with " + Path(L"elsewhere").AsUTF8()))
        << error;
    EXPECT_FALSE(held.ok() || held.failure().error != error) << error;
  }

  const FailingPlaceOpener absent(Path(L"Velum\\startup"), ERROR_PATH_NOT_FOUND);
  rules.opener = &absent;
  rules.places = {ProtectedPlace{Path(L"Velum\\startup"), true}, ProtectedPlace{root_, false}};
  EXPECT_TRUE(RefusedFor(HoldGrantableFolder(Path(L"Velum"), rules), kHolds));
  rules.places = {ProtectedPlace{Path(L"elsewhere"), true}, ProtectedPlace{root_, false}};
  EXPECT_TRUE(HoldGrantableFolder(Path(L"Velum"), rules).ok());
}

// A protected place that is a link protects where it leads: it is compared by its final
// path and identity, not by its name.
TEST_F(GrantPlaceTest, ProtectedLinkIsComparedByWhereItLeads) {
  MakeTree({L"real\\", L"real\\kept", L"real\\sub\\", L"beside\\"});
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"place"), Path(L"real"), &error)) << error;
  GrantRules rules;
  rules.places = {ProtectedPlace{Path(L"place"), true}};
  EXPECT_TRUE(RefusedFor(HoldGrantableFolder(Path(L"real\\sub"), rules, true),
                         kLiesIn + Path(L"real").AsUTF8()));
  EXPECT_TRUE(RefusedFor(HoldGrantableFolder(Path(L"real"), rules, true), kHolds));
  EXPECT_TRUE(HoldGrantableFolder(Path(L"beside"), rules, true).ok());
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"place")));
}

// Opens places as the system does, having first made `folder`: one that appears while the
// missing folders are made.
class PlantingPlaceOpener : public HeldPlaceOpener {
 public:
  explicit PlantingPlaceOpener(base::FilePath folder) : folder_(std::move(folder)) {}
  bool OpenPlace(const base::FilePath& path, HeldFile* place) const override {
    (void)base::CreateDirectory(folder_);
    return SystemHeldPlaceOpener().OpenPlace(path, place);
  }

 private:
  base::FilePath folder_;
};

// Missing folders are made below a held parent: a parent swapped for a link after the look
// by name makes nothing where the link points.
TEST_F(GrantPlaceTest, MissingFoldersAreMadeOnlyBelowTheHeldParent) {
  // Not empty: Wine removes an empty target through a host link it is asked to remove.
  MakeTree({L"parent\\", L"parent\\kept", L"outside\\", L"outside\\kept"});
  const base::FilePath asked = Path(L"parent\\new\\install");
  ASSERT_TRUE(CheckGrantablePlace(asked, {}).ok());
  // Where new folders may be made: the link's target and the moved folder too.
  GrantRules rules;
  rules.places = {ProtectedPlace{Path(L"outside"), false}, ProtectedPlace{Path(L"moved"), false},
                  ProtectedPlace{Path(L"parent"), false}};
  std::vector<MadeFolder> made;
  ASSERT_TRUE(MoveFileW(Path(L"parent").value().c_str(), Path(L"moved").value().c_str()));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"parent"), Path(L"outside"), &error)) << error;
  const base::Result<> through_link = CreateMissingFolders(asked, rules, &made);
  EXPECT_FALSE(through_link.ok());
  EXPECT_FALSE(base::PathExists(Path(L"outside\\new"))) << "a folder was made through the link";
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"parent")));

  // The same swap one level up: the nearest existing folder is reached through a link.
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"parent"), Path(L"moved"), &error)) << error;
  EXPECT_FALSE(CreateMissingFolders(Path(L"parent\\x\\y"), rules, &made).ok());
  EXPECT_FALSE(base::PathExists(Path(L"moved\\x")));
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"parent")));

  // Where nothing stands in the way the whole chain is made, and a hold then takes it.
  EXPECT_TRUE(CreateMissingFolders(Path(L"moved\\a\\b\\c"), rules, &made).ok());
  EXPECT_EQ(3u, made.size());
  EXPECT_TRUE(base::DirectoryExists(Path(L"moved\\a\\b\\c")));
  EXPECT_TRUE(CreateMissingFolders(Path(L"moved\\a\\b\\c"), rules, &made).ok()) << "nothing missing";
  EXPECT_TRUE(made.empty());
  EXPECT_FALSE(CreateMissingFolders(Path(L"moved\\kept\\x"), rules, &made).ok()) << "a file in the way";

  // A folder that appeared meanwhile is not one this request made: it stays.
  const PlantingPlaceOpener planting(Path(L"moved\\d"));
  rules.opener = &planting;
  ASSERT_TRUE(CreateMissingFolders(Path(L"moved\\d\\e"), rules, &made).ok());
  RemoveMadeFoldersIfEmpty(made);
  EXPECT_FALSE(base::PathExists(Path(L"moved\\d\\e")));
  EXPECT_TRUE(base::DirectoryExists(Path(L"moved\\d")));
}

// The held folder keeps its name: it cannot be renamed away and replaced while held.
TEST_F(GrantPlaceTest, HeldFolderCannotBeRenamed) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"Velum")));
  base::Result<base::ScopedHandle> held =
      HoldGrantableFolder(Path(L"Velum"), ScratchProgramRules());
  ASSERT_TRUE(held.ok()) << Refusal(held);
  EXPECT_FALSE(MoveFileW(Path(L"Velum").value().c_str(), Path(L"moved").value().c_str()));
}

TEST_F(GrantFolderCheckTest, SameOrUnderComparesWholeComponentsIgnoringCase) {
  const struct {
    const wchar_t* path;
    const wchar_t* folder;
    bool same_or_under;
  } cases[] = {
      {L"C:\\a", L"C:\\a", true},
      {L"C:\\a\\b", L"C:\\a", true},
      {L"c:\\A\\b\\", L"C:\\a\\", true},
      {L"C:\\x", L"C:\\", true},
      {L"C:\\ab", L"C:\\a", false},
      {L"C:\\a", L"C:\\a\\b", false},
      {L"C:\\a", L"", false},
      {L"D:\\a", L"C:\\a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.same_or_under, IsSameOrUnder(base::FilePath(c.path), base::FilePath(c.folder)))
        << base::FilePath(c.path).AsUTF8() << " in " << base::FilePath(c.folder).AsUTF8();
  }
}

// The walk up for a reparse point stops before `stop`: a link at or above it is not
// this walk's to find.
TEST_F(GrantFolderCheckTest, ReparsePointSearchStopsBeforeTheStop) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"target\\a\\b")));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"link"), Path(L"target"), &error)) << error;
  base::FilePath found;
  EXPECT_TRUE(FindReparsePoint(Path(L"link\\a\\b"), scratch_.path(), &found));
  EXPECT_EQ(Path(L"link"), found);
  EXPECT_TRUE(FindReparsePoint(Path(L"link\\a\\missing"), base::FilePath(), &found));
  EXPECT_EQ(Path(L"link"), found);
  EXPECT_FALSE(FindReparsePoint(Path(L"link\\a\\b"), Path(L"link"), &found));
  EXPECT_FALSE(FindReparsePoint(Path(L"target\\a\\b"), base::FilePath(), &found));
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"link")));
}

}  // namespace
}  // namespace installer
