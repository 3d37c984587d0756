#include "desktop/windows/installer/elevated_helper/set_folder_permission.h"

#include <aclapi.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/test/log_capture_test_util.h"
#include "base/base_paths_win.h"
#include "base/win/registry.h"
#include "base/win/scoped_generic.h"
#include "base/path_service.h"
#include "base/strings/stringprintf.h"
#include "base/test/test_helper_process.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/elevated_helper/root_scratch_test_util.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"

namespace installer {
namespace {

const DWORD kBoundMs = 60000;

// The object's DACL as bytes; empty when it has none or it cannot be read.
std::string DaclBytes(const std::wstring& name, SE_OBJECT_TYPE type) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::string();
  }
  std::string bytes;
  if (dacl) bytes.assign(reinterpret_cast<const char*>(dacl), dacl->AclSize);
  LocalFree(descriptor);
  return bytes;
}

// The current user's SID, as the helper finds it from a process of that user.
std::vector<uint8_t> CurrentUserSid(const std::wstring& user) {
  base::CommandLine command_line(base::FilePath(L"installer.exe"));
  command_line.AppendSwitchNative("permissions-for-user", user);
  command_line.AppendSwitchNative("initial-pid", base::StringPrintf(L"%lu", GetCurrentProcessId()));
  internal::Requester requester;
  EXPECT_TRUE(internal::ResolvePrincipal(command_line, &requester));
  return requester.sid;
}

// Whether the DACL holds an inheritable grant for exactly `sid`.
bool HasInheritableGrantFor(const std::wstring& name, SE_OBJECT_TYPE type,
                            std::vector<uint8_t> sid) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sid.empty() || GetNamedSecurityInfoW(name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr,
                                           nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
        ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    found |= (ace->Header.AceFlags & inherit) == inherit &&
             EqualSid(reinterpret_cast<PSID>(&ace->SidStart), sid.data());
  }
  LocalFree(descriptor);
  return found;
}

// The system's calls, except that the write that takes the grant back fails.
class FailingRestore : public internal::HeldObjectSecurity {
 public:
  DWORD GetDacl(HANDLE object, int object_type, PACL* dacl,
                PSECURITY_DESCRIPTOR* descriptor) override {
    return internal::SystemHeldObjectSecurity()->GetDacl(object, object_type, dacl, descriptor);
  }
  DWORD SetDacl(HANDLE object, int object_type, PACL dacl) override {
    if (++sets_ > 1) return ERROR_ACCESS_DENIED;
    return internal::SystemHeldObjectSecurity()->SetDacl(object, object_type, dacl);
  }

 private:
  int sets_ = 0;
};

// A DACL that nothing else in the scratch folder has: full control for the user and for
// everyone, not inherited (Wine keeps a file's DACL as its Unix mode, so the difference
// must reach the mode).
void SetDistinctDacl(const base::FilePath& folder, const std::vector<uint8_t>& user) {
  std::vector<uint8_t> sid = user;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID raw_everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                       &raw_everyone));
  base::ScopedSid everyone(raw_everyone);
  EXPLICIT_ACCESSW entries[2] = {
      FullControlEntryFor(sid.data(), SUB_CONTAINERS_AND_OBJECTS_INHERIT, TRUSTEE_IS_USER),
      FullControlEntryFor(raw_everyone, NO_INHERITANCE, TRUSTEE_IS_WELL_KNOWN_GROUP)};
  PACL raw_dacl = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), SetEntriesInAclW(2, entries, nullptr, &raw_dacl));
  base::ScopedLocalAlloc<ACL> dacl(raw_dacl);
  std::wstring name = folder.value();
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, raw_dacl, nullptr));
}

class SetFolderPermissionTest : public RootScratchTest {
 protected:
  void SetUp() override {
    RootScratchTest::SetUp();
    environment_.undo_delay_ms = 0;
    // The scratch folder stands for a Program Files folder: its new folders, and this
    // product's install folder there while empty, are granted.
    environment_.more_places = {ProtectedPlace{root_, false}};
    folder_ = Path(L"Velum");
    ASSERT_TRUE(GetCurrentUserName(&user_));
    sid_ = CurrentUserSid(user_);
    ASSERT_FALSE(sid_.empty());
  }
  base::ScopedHandle CreateFolderEvent(const wchar_t* prefix, bool global, bool manual_reset) {
    const std::wstring name = GetKernelObjectName(folder_.value(), prefix, global);
    return base::ScopedHandle(CreateEventW(nullptr, manual_reset, FALSE, name.c_str()));
  }

  // The two events the installation makes for the helper of folder_.
  void CreateGrantEvents(base::ScopedHandle* granted, base::ScopedHandle* undo) {
    *granted = CreateFolderEvent(L"VelumInstaller/GiveInstallPermission", false, false);
    *undo = CreateFolderEvent(L"VelumInstaller/GiveInstallPermission/Undo", false, false);
    EXPECT_TRUE(granted->IsValid() && undo->IsValid());
  }

  // The helper's switches for folder_ and user_, asked by the process `pid`.
  base::CommandLine HelperCommandLine(DWORD pid = GetCurrentProcessId()) const {
    base::CommandLine command_line(base::FilePath(L"installer.exe"));
    command_line.AppendSwitchPath("set-folder-permission", folder_);
    command_line.AppendSwitchNative("permissions-for-user", user_);
    command_line.AppendSwitchNative("initial-pid", base::StringPrintf(L"%lu", pid));
    return command_line;
  }

  // Runs the helper on `command_line` (for folder_); true when it granted (and then let
  // go at once), false when it ended without granting.
  bool HelperGrants(const base::CommandLine& command_line) {
    base::ScopedHandle granted, undo;
    CreateGrantEvents(&granted, &undo);
    base::ScopedHandle ended(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(ended.IsValid());
    bool result = true;
    std::thread helper([&] {
      result = RunSetFolderPermission(command_line, nullptr, environment_);
      SetEvent(ended.Get());
    });
    const HANDLE waits[] = {ended.Get(), granted.Get()};
    const bool was_granted =
        WaitForMultipleObjects(2, waits, FALSE, kBoundMs) == WAIT_OBJECT_0 + 1;
    SetEvent(undo.Get());
    helper.join();
    EXPECT_EQ(was_granted, result);
    return was_granted;
  }
  bool HelperGrants(const base::FilePath& folder) {
    folder_ = folder;
    return HelperGrants(HelperCommandLine());
  }

  base::FilePath folder_;
  std::wstring user_;
  std::vector<uint8_t> sid_;
  FolderPermissionHelperEnvironment environment_;
};

// Keys keep exact DACLs under Wine (files get theirs from Unix modes), so the grant and
// its undoing are compared byte for byte on a key.
TEST_F(SetFolderPermissionTest, GrantHoldsUntilUndoThenTheOldDaclReturnsExactly) {
  testing::ScratchRegistryKey key;
  const std::wstring name = L"CURRENT_USER\\" + key.path();
  base::RegistryKey held;
  ASSERT_EQ(ERROR_SUCCESS, held.Open(HKEY_CURRENT_USER, key.path().c_str(), READ_CONTROL | WRITE_DAC));
  const std::string before = DaclBytes(name, SE_REGISTRY_KEY);
  ASSERT_FALSE(before.empty());
  base::ScopedHandle granted(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  base::ScopedHandle undo(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  base::ScopedHandle returned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  bool result = false;
  std::thread helper([&] {
    result =
        internal::GrantUntilEnd(held.Handle(), SE_REGISTRY_KEY, sid_.data(), false, granted.Get(),
                                {undo.Get()}, base::ScopedHandle(), environment_);
    SetEvent(returned.Get());
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  EXPECT_NE(before, DaclBytes(name, SE_REGISTRY_KEY));
  EXPECT_TRUE(HasInheritableGrantFor(name, SE_REGISTRY_KEY, sid_));
  // A sound helper never returns before Undo, so the wait's length only bounds how surely
  // an early return is caught, never whether a sound one passes.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(returned.Get(), 500))
      << "the grant ended before Undo";
  ASSERT_TRUE(SetEvent(undo.Get()));
  helper.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(before, DaclBytes(name, SE_REGISTRY_KEY));
}

// A grant that cannot be taken back is a failure, not a quiet success: on a key, and on a
// folder (the product's case), which is no failure only once it is gone.
TEST_F(SetFolderPermissionTest, FailedRestoreIsReported) {
  testing::ScratchRegistryKey key;
  base::RegistryKey held_key;
  ASSERT_EQ(ERROR_SUCCESS,
            held_key.Open(HKEY_CURRENT_USER, key.path().c_str(), READ_CONTROL | WRITE_DAC));
  ASSERT_TRUE(base::CreateDirectory(folder_));
  base::ScopedHandle held_folder(CreateFileW(
      folder_.value().c_str(), READ_CONTROL | WRITE_DAC,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(held_folder.IsValid());
  const struct {
    HANDLE object;
    SE_OBJECT_TYPE type;
  } objects[] = {{held_key.Handle(), SE_REGISTRY_KEY}, {held_folder.Get(), SE_FILE_OBJECT}};
  for (const auto& object : objects) {
    base::ScopedHandle granted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    base::ScopedHandle undo(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    FailingRestore failing;
    environment_.security = &failing;
    EXPECT_FALSE(internal::GrantUntilEnd(object.object, object.type, sid_.data(), false,
                                         granted.Get(), {undo.Get()}, base::ScopedHandle(),
                                         environment_))
        << object.type;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0)) << "granted first";
  }
}

// The principal is the requesting process's account, and only when the name given is
// that account: a name alone (a group, another user) never decides.
TEST_F(SetFolderPermissionTest, PrincipalIsTheRequestingUsersAccountAndNothingElse) {
  std::wstring qualified;
  ASSERT_TRUE(GetCurrentUserQualifiedName(&qualified));
  const std::wstring self = base::StringPrintf(L"%lu", GetCurrentProcessId());
  const struct {
    const char* name;
    std::wstring user;
    std::wstring pid;
    bool resolved;
  } cases[] = {
      {"the qualified name of the requester", qualified, self, true},
      {"the bare name of the requester", user_, self, true},
      {"a group", L"Everyone", self, false},
      {"another account", L"SYSTEM", self, false},
      {"an unknown name", L"no-such-user-here", self, false},
      {"no name", L"", self, false},
      {"the requester's name without its process", qualified, L"", false},
      {"a group without a process", L"Everyone", L"", false},
      {"a process that does not exist", qualified, L"4294967295", false},
  };
  for (const auto& c : cases) {
    base::CommandLine command_line(base::FilePath(L"installer.exe"));
    command_line.AppendSwitchNative("permissions-for-user", c.user);
    if (!c.pid.empty()) command_line.AppendSwitchNative("initial-pid", c.pid);
    internal::Requester requester;
    EXPECT_EQ(c.resolved, internal::ResolvePrincipal(command_line, &requester)) << c.name;
    if (c.resolved) {
      EXPECT_EQ(sid_, requester.sid) << c.name;
      // The one handle also serves the end-wait.
      EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
                WaitForSingleObject(requester.process.Get(), 0)) << c.name;
    }
  }
  // The helper itself grants nothing to a group named without a requesting process.
  base::CommandLine everyone(base::FilePath(L"installer.exe"));
  everyone.AppendSwitchPath("set-folder-permission", folder_);
  everyone.AppendSwitchNative("permissions-for-user", L"Everyone");
  EXPECT_FALSE(HelperGrants(everyone));
  EXPECT_FALSE(base::PathExists(folder_)) << "nothing was made";
}

TEST_F(SetFolderPermissionTest, PermanentGrantStays) {
  testing::ScratchRegistryKey key;
  const std::wstring name = L"CURRENT_USER\\" + key.path();
  base::RegistryKey held;
  ASSERT_EQ(ERROR_SUCCESS, held.Open(HKEY_CURRENT_USER, key.path().c_str(), READ_CONTROL | WRITE_DAC));
  base::ScopedHandle granted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_TRUE(internal::GrantUntilEnd(held.Handle(), SE_REGISTRY_KEY, sid_.data(), true,
                                      granted.Get(), {}, base::ScopedHandle(), environment_));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0));
  EXPECT_TRUE(HasInheritableGrantFor(name, SE_REGISTRY_KEY, sid_));
}

// The grant is inherited by everything below and follows links: folders where that
// reaches the system or other users are refused before anything changes, however the
// request spells them. The check's own rules (the installation record's too) are tested
// beside it.
TEST_F(SetFolderPermissionTest, RefusesLinksAndSystemFoldersHoweverSpelledChangingNothing) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"target")));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"link"), Path(L"target"), &error)) << error;
  base::FilePath program_files, windows, program_data;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_PROGRAM_FILES, &program_files));
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_WINDOWS, &windows));
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_COMMON_APP_DATA, &program_data));
  wchar_t profile_text[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile_text)));
  const base::FilePath profile(profile_text);
  const base::FilePath users = profile.DirName();
  wchar_t short_name[MAX_PATH] = {};
  ASSERT_NE(0u, GetShortPathNameW(program_files.value().c_str(), short_name, MAX_PATH));
  wchar_t users_short[MAX_PATH] = {};
  ASSERT_NE(0u, GetShortPathNameW(users.value().c_str(), users_short, MAX_PATH));
  wchar_t common_startup_text[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(
      SHGetFolderPathW(nullptr, CSIDL_COMMON_STARTUP, nullptr, 0, common_startup_text)));
  const base::FilePath common_startup(common_startup_text);
  const wchar_t kStartup[] = L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
  // A name of this run's own, removed whatever happens, so that a grant that wrongly
  // creates it cannot fail later runs.
  const base::FilePath under_windows =
      windows.Append(L"velum-test-install-" + std::to_wstring(GetCurrentProcessId()));
  struct Remove {
    base::FilePath path;
    ~Remove() { RemoveDirectoryW(path.value().c_str()); }
  } remove_under_windows{under_windows};
  auto spelled = [](const base::FilePath& path, const wchar_t* tail) {
    return base::FilePath(path.value() + tail);
  };
  const struct {
    const char* name;
    base::FilePath folder;
  } refused[] = {
      {"a link", Path(L"link")},
      {"under a link", Path(L"link\\install")},
      {"Program Files", program_files},
      {"Program Files with a trailing blank", spelled(program_files, L" \\")},
      {"Program Files with a trailing dot", spelled(program_files, L".")},
      {"Program Files by its short name", base::FilePath(short_name)},
      {"Program Files through x\\..", spelled(program_files, L"\\x\\..\\")},
      {"the Windows folder with a trailing blank", spelled(windows, L" \\")},
      {"the Windows folder with a blank and a dot", spelled(windows, L" .\\")},
      {"the Windows folder's index stream", spelled(windows, L"::$INDEX_ALLOCATION")},
      {"the Windows folder with forward slashes", spelled(windows, L"/")},
      {"the Windows folder as a device path", base::FilePath(L"\\\\?\\" + windows.value())},
      {"the Windows folder by the device namespace", base::FilePath(L"\\\\.\\" + windows.value())},
      {"ProgramData with a trailing blank", spelled(program_data, L" \\")},
      {"the profiles' root with a trailing blank", spelled(users, L" \\")},
      {"a profile", profile},
      {"a drive root", base::FilePath(program_files.value().substr(0, 3))},
      {"under the Windows folder", under_windows},
      {"another user's PowerShell profile folder",
       users.Append(L"velum-test-someone\\Documents\\WindowsPowerShell")},
      {"another user's PowerShell folder, doubled separators",
       base::FilePath(users.value() + L"\\\\velum-test-someone\\Documents\\WindowsPowerShell")},
      {"the Default profile's Startup", users.Append(L"Default").Append(kStartup)},
      {"another user's Startup", users.Append(L"velum-test-someone").Append(kStartup)},
      {"the all-users StartUp", common_startup},
      {"the all-users StartUp with a trailing blank", spelled(common_startup, L" ")},
      {"Public\\Desktop\\x", users.Append(L"Public\\Desktop\\x")},
      {"Public\\Desktop\\x by a short name", base::FilePath(std::wstring(users_short) +
                                                           L"\\Public\\Desktop\\x")},
      {"ProgramData's own folder", program_data.Append(L"Velum")},
  };
  const base::FilePath watched[] = {program_files, windows,        program_data,  users,
                                    profile,       common_startup, Path(L"target")};
  std::vector<std::string> before;
  for (const base::FilePath& folder : watched) {
    before.push_back(DaclBytes(folder.value(), SE_FILE_OBJECT));
    EXPECT_FALSE(before.back().empty()) << folder.AsUTF8();
  }
  // What a wrong grant would make outside the test's own folder goes again, whatever
  // happens, so that it cannot fail later runs.
  struct RemoveMade {
    std::vector<base::FilePath> paths;
    ~RemoveMade() {
      for (const base::FilePath& path : paths) base::DeleteFileBestEffort(path, true);
    }
  } remove_made;
  for (const auto& c : refused) {
    base::FilePath first_missing;
    for (base::FilePath path = c.folder.StripTrailingSeparators();
         path.DirName() != path && !base::PathExists(path); path = path.DirName()) {
      first_missing = path;
    }
    if (!first_missing.empty()) remove_made.paths.push_back(first_missing);
  }
  for (const auto& c : refused) EXPECT_FALSE(HelperGrants(c.folder)) << c.name;
  // A permanent grant is refused alike.
  for (const auto& c : refused) {
    folder_ = c.folder;
    base::CommandLine permanent = HelperCommandLine();
    permanent.AppendSwitch("permanent-permissions");
    EXPECT_FALSE(HelperGrants(permanent)) << c.name;
  }
  for (size_t i = 0; i < sizeof(watched) / sizeof(watched[0]); ++i)
    EXPECT_EQ(before[i], DaclBytes(watched[i].value(), SE_FILE_OBJECT)) << watched[i].AsUTF8();
  EXPECT_FALSE(base::PathExists(Path(L"target\\install")));
  EXPECT_FALSE(base::PathExists(under_windows));
  EXPECT_FALSE(base::PathExists(users.Append(L"velum-test-someone")));
  EXPECT_FALSE(base::PathExists(users.Append(L"Public\\Desktop\\x")));
  EXPECT_FALSE(base::PathExists(program_data.Append(L"Velum")));

  EXPECT_TRUE(HelperGrants(Path(L"new\\install"))) << "a new folder";
  EXPECT_TRUE(HelperGrants(program_files.Append(L"velum-test-" +
                                                std::to_wstring(GetCurrentProcessId()))))
      << "a new folder in Program Files";
  RemoveDirectoryW(folder_.value().c_str());
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"link")));
}

// A run cancelled before it wrote anything leaves no folder of its own behind, so a retry
// into the same new folder outside Program Files is granted again; a folder the run wrote
// into stays, and an empty folder made beforehand outside Program Files is refused with
// the rule's reason.
TEST_F(SetFolderPermissionTest, CancelledRunIntoANewFolderIsRetriedAndGranted) {
  environment_.more_places.clear();
  wchar_t windows[MAX_PATH] = {};
  ASSERT_NE(0u, GetWindowsDirectoryW(windows, MAX_PATH));
  const base::FilePath top(std::wstring(windows, 3) + root_.BaseName().value() + L"-new");
  struct Remove {
    base::FilePath path;
    ~Remove() { base::DeleteFileBestEffort(path, true); }
  } remove_top{top};
  const base::FilePath folder = top.Append(L"install");
  EXPECT_TRUE(HelperGrants(folder)) << "the first run";
  EXPECT_FALSE(base::PathExists(top)) << "the cancelled run's folders are left";
  EXPECT_TRUE(HelperGrants(folder)) << "the retry";
  EXPECT_FALSE(base::PathExists(top));
  {
    // A permanent grant ends the helper before the installation writes: what it made stays.
    base::ScopedHandle granted, undo;
    CreateGrantEvents(&granted, &undo);
    base::CommandLine permanent = HelperCommandLine();
    permanent.AppendSwitch("permanent-permissions");
    EXPECT_TRUE(RunSetFolderPermission(permanent, nullptr, environment_));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0));
    EXPECT_TRUE(base::DirectoryExists(folder));
    ASSERT_TRUE(base::DeleteFile(top, true));
  }

  // A run that wrote into the folder keeps it.
  base::ScopedHandle granted, undo;
  CreateGrantEvents(&granted, &undo);
  bool result = false;
  const base::CommandLine command_line = HelperCommandLine();
  std::thread helper([&] { result = RunSetFolderPermission(command_line, nullptr, environment_); });
  // The helper is let go and joined before any failure ends the test.
  const DWORD waited = WaitForSingleObject(granted.Get(), kBoundMs);
  if (waited == WAIT_OBJECT_0) {
    EXPECT_TRUE(base::WriteTextFile(folder.Append(L"launcher.exe"), "MZ"));
  }
  const bool undone = SetEvent(undo.Get()) != FALSE;
  helper.join();
  ASSERT_EQ(WAIT_OBJECT_0, waited);
  ASSERT_TRUE(undone);
  EXPECT_TRUE(result);
  EXPECT_TRUE(base::PathExists(folder.Append(L"launcher.exe")));

  // An empty folder made beforehand outside Program Files is not the product's.
  ASSERT_TRUE(base::DeleteFile(folder.Append(L"launcher.exe"), false));
  base::ScopedLogCapture log;
  EXPECT_FALSE(HelperGrants(folder));
  EXPECT_EQ(1u, log.LinesStartingWith("Refusing to give access to " + folder.AsUTF8() +
                                      ": an empty folder that this request did not make")
                    .size());
  EXPECT_TRUE(base::DirectoryExists(folder));
}

// A request refused only on the folder held, after its missing folders were made, leaves
// none of them behind: here a protected place that cannot be opened (a name the system
// will not open) cannot be compared with the new folder.
TEST_F(SetFolderPermissionTest, RequestRefusedAfterMakingItsFoldersLeavesNone) {
  environment_.more_places.push_back(ProtectedPlace{Path(L"unopenable?"), true});
  const base::FilePath folder = Path(L"new\\install");
  base::ScopedLogCapture log;
  EXPECT_FALSE(HelperGrants(folder));
  EXPECT_EQ(1u, log.LinesStartingWith("Refusing to give access to " + folder.AsUTF8() +
                                      ": it cannot be compared with")
                    .size());
  EXPECT_FALSE(base::PathExists(Path(L"new")));
}

// A protected place that exists but cannot be read refuses every grant, as one that
// cannot be compared with: nothing is made or granted, and the log names the value.
TEST_F(SetFolderPermissionTest, UnreadableProtectedPlaceRefusesTheGrant) {
  testing::ScratchRegistryKey machine;
  ASSERT_FALSE(machine.path().empty());
  const std::wstring profile_list =
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  const DWORD number = 1;
  ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, machine.Child(profile_list), 0,
                                          L"ProfilesDirectory", REG_DWORD, &number,
                                          sizeof(number)));
  base::RegistryKey machine_key(HKEY_CURRENT_USER, machine.path().c_str(), KEY_READ);
  ASSERT_TRUE(machine_key.Valid());
  environment_.place_sources.machine = machine_key.Handle();
  const base::FilePath folder = Path(L"new\\install");
  base::ScopedLogCapture log;
  EXPECT_FALSE(HelperGrants(folder));
  EXPECT_EQ(1u, log.LinesStartingWith("Refusing to give access to " + folder.AsUTF8() +
                                      ": a protected place cannot be read: HKEY_LOCAL_MACHINE\\" +
                                      base::FilePath(profile_list).AsUTF8() +
                                      "\\ProfilesDirectory")
                    .size());
  EXPECT_FALSE(base::PathExists(Path(L"new")));
}

// The folder held is the folder restored: one moved away after the grant and replaced by
// a link gets its old list back, and the link's target is never written to.
TEST_F(SetFolderPermissionTest, RestoreReachesTheHeldFolderNotALinkInItsPlace) {
  const base::FilePath target = Path(L"target");
  ASSERT_TRUE(base::CreateDirectory(target));
  SetDistinctDacl(target, sid_);
  const std::string target_before = DaclBytes(target.value(), SE_FILE_OBJECT);
  ASSERT_TRUE(base::CreateDirectory(folder_));
  const std::string before = DaclBytes(folder_.value(), SE_FILE_OBJECT);
  ASSERT_NE(before, target_before);

  base::ScopedHandle granted, undo;
  CreateGrantEvents(&granted, &undo);
  const base::CommandLine command_line = HelperCommandLine();
  bool result = false;
  std::thread helper([&] { result = RunSetFolderPermission(command_line, nullptr, environment_); });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  const base::FilePath moved = Path(L"moved");
  EXPECT_TRUE(MoveFileW(folder_.value().c_str(), moved.value().c_str())) << GetLastError();
  std::string error;
  EXPECT_TRUE(base::MakeDirectoryLink(folder_, target, &error)) << error;
  ASSERT_TRUE(SetEvent(undo.Get()));
  helper.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(target_before, DaclBytes(target.value(), SE_FILE_OBJECT));
  EXPECT_EQ(before, DaclBytes(moved.value(), SE_FILE_OBJECT));
  EXPECT_TRUE(base::RemoveDirectoryLink(folder_));
}

// The helper itself on a folder: it creates the folder, signals, and ends after Undo with
// the folder's DACL as it was.
TEST_F(SetFolderPermissionTest, HelperSignalsAndRestoresTheFolderAfterUndo) {
  base::ScopedHandle granted, undo;
  CreateGrantEvents(&granted, &undo);
  ASSERT_TRUE(base::CreateDirectory(folder_));
  const std::string before = DaclBytes(folder_.value(), SE_FILE_OBJECT);

  const base::CommandLine command_line = HelperCommandLine();
  std::thread helper(
      [&] { EXPECT_TRUE(RunSetFolderPermission(command_line, nullptr, environment_)); });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  EXPECT_TRUE(HasInheritableGrantFor(folder_.value(), SE_FILE_OBJECT, sid_));
  ASSERT_TRUE(SetEvent(undo.Get()));
  helper.join();
  EXPECT_EQ(before, DaclBytes(folder_.value(), SE_FILE_OBJECT));
}

// The installation may remove the folder (a rollback, an uninstallation) while the grant
// holds: the helper lets go of it, and finding nothing to restore is no failure.
TEST_F(SetFolderPermissionTest, FolderRemovedDuringTheGrantIsNoFailure) {
  base::ScopedHandle granted, undo;
  CreateGrantEvents(&granted, &undo);
  const base::CommandLine command_line = HelperCommandLine();
  bool result = false;
  std::thread helper([&] { result = RunSetFolderPermission(command_line, nullptr, environment_); });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  EXPECT_TRUE(RemoveDirectoryW(folder_.value().c_str())) << GetLastError();
  ASSERT_TRUE(SetEvent(undo.Get()));
  helper.join();
  EXPECT_TRUE(result);
}

TEST_F(SetFolderPermissionTest, MissingUndoEventMeansNoChangeAndNoSignal) {
  base::ScopedHandle granted =
      CreateFolderEvent(L"VelumInstaller/GiveInstallPermission", false, false);
  EXPECT_TRUE(RunSetFolderPermission(HelperCommandLine(), nullptr, environment_));
  EXPECT_NE(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0));
  EXPECT_FALSE(base::PathExists(folder_)) << "nothing was made";
}

// An installation that dies before Undo must not leave the helper (and the grant) behind.
TEST_F(SetFolderPermissionTest, HelperEndsWhenTheInstallerProcessEndsOrTheRunIsInterrupted) {
  base::ScopedHandle granted =
      CreateFolderEvent(L"VelumInstaller/GiveInstallPermission", false, false);
  base::ScopedHandle undo =
      CreateFolderEvent(L"VelumInstaller/GiveInstallPermission/Undo", false, false);
  base::ScopedHandle interrupted =
      CreateFolderEvent(L"VelumInstaller/InstallationInterrupted", true, true);
  ASSERT_TRUE(granted.IsValid() && undo.IsValid() && interrupted.IsValid());

  // The installer: a process that ends when told to.
  const std::wstring quit_name = base::StringPrintf(L"VelumTestQuit%lu", GetCurrentProcessId());
  base::ScopedHandle quit(CreateEventW(nullptr, TRUE, FALSE, quit_name.c_str()));
  base::ScopedHandle installer, thread;
  ASSERT_TRUE(base::StartTestHelper(L"installer_elevation_test_helper.exe",
                                    L"--wait-event=" + quit_name, 0, &installer, &thread));
  const base::CommandLine command_line = HelperCommandLine(GetProcessId(installer.Get()));
  std::thread helper(
      [&] { EXPECT_TRUE(RunSetFolderPermission(command_line, nullptr, environment_)); });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  ASSERT_TRUE(SetEvent(quit.Get()));
  helper.join();  // without Undo

  // Asked by a process that lives on, the interruption ends it.
  const base::CommandLine second_run = HelperCommandLine();
  std::thread second(
      [&] { EXPECT_TRUE(RunSetFolderPermission(second_run, nullptr, environment_)); });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  ASSERT_TRUE(SetEvent(interrupted.Get()));
  second.join();
}

// A request whose value the command line's trimming changed is not acted on: the reason is
// logged and the helper's result stays true.
TEST_F(SetFolderPermissionTest, RequestChangedByTrimmingIsRefusedWithItsReason) {
  const base::CommandLine command_line = HelperCommandLine();
  const struct {
    const char* name;
    std::wstring raw;
    std::string changed;
  } cases[] = {
      {"as written", command_line.GetCommandLineString(), ""},
      {"an ideographic space", L"installer.exe \"--set-folder-permission=C:\\x\x3000\"", "set-folder-permission"},
      {"a no-break space", L"installer.exe --permissions-for-user=me\xA0", "permissions-for-user"},
      {"a leading tab", L"installer.exe \"\t--initial-pid=1\"", "initial-pid"},
      {"another switch", L"installer.exe \"--other=x\xA0\"", ""},
      {"after the terminator", L"installer.exe -- \"--initial-pid=1\xA0\"", ""},
      {"a slash prefix", L"installer.exe \"/wait-for-package=C:\\p\x2003\"", "wait-for-package"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.changed, internal::SwitchChangedByTrimming(c.raw)) << c.name;

  base::ScopedHandle granted, undo;
  CreateGrantEvents(&granted, &undo);
  environment_.raw_command_line = L"installer.exe \"--set-folder-permission=" + folder_.value() +
                                  L"\x3000\" --permissions-for-user=" + user_;
  base::ScopedLogCapture log;
  EXPECT_TRUE(RunSetFolderPermission(command_line, nullptr, environment_));
  EXPECT_EQ(1u, log.LinesStartingWith("Refusing the request: the value of \"set-folder-permission\"")
                    .size());
  EXPECT_NE(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0));
  EXPECT_FALSE(base::PathExists(folder_)) << "nothing was made";
}

// The helper's ends without a grant say why in its log, and keep its result true.
TEST_F(SetFolderPermissionTest, QuietEndsLogTheirReason) {
  base::ScopedLogCapture log;
  EXPECT_TRUE(RunSetFolderPermission(HelperCommandLine(), nullptr, environment_));
  EXPECT_EQ(1u, log.LinesStartingWith("Not giving access to " + folder_.AsUTF8() +
                                      ": the installation's events are missing")
                    .size());
  base::CommandLine waiting = HelperCommandLine();
  waiting.AppendSwitchPath("wait-for-package", Path(L"package"));
  EXPECT_TRUE(RunSetFolderPermission(waiting, nullptr, environment_));
  EXPECT_EQ(1u, log.LinesStartingWith("Not waiting for the package: the installation's events "
                                      "are missing")
                    .size());
}

class WaitingHelperTest : public SetFolderPermissionTest {
 protected:
  void SetUp() override {
    SetFolderPermissionTest::SetUp();
    package_ = Path(L"package");
    ASSERT_TRUE(base::CreateDirectory(package_));
    ASSERT_TRUE(CopyFileW(base::TestExeSibling(L"installer_elevation_test_helper.exe").c_str(),
                          package_.Append(L"installer.exe").value().c_str(), FALSE));
    record_ = Path(L"record.txt");
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELUM_TEST_RECORD", record_.value().c_str()));
    // The package's installer is as recent as this installer unless a case says otherwise.
    SetVersions(GetBuildAndPatchNumber());
    ready_ = CreateFolderEvent(L"VelumInstaller/PackageReady", true, true);
    interrupted_ = CreateFolderEvent(L"VelumInstaller/InstallationInterrupted", true, true);
    ASSERT_TRUE(ready_.IsValid() && interrupted_.IsValid());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"VELUM_TEST_RECORD", nullptr);
    SetVersions(std::string());
    SetFolderPermissionTest::TearDown();
  }

  // What the test helper and the signed stub answer "internal-version" with; empty: unset.
  static void SetVersions(const std::string& version) {
    for (const char* name : {"VELUM_TEST_INTERNAL_VERSION", "VELUM_STUB_INTERNAL_VERSION"})
      SetEnvironmentVariableA(name, version.empty() ? nullptr : version.c_str());
  }

  base::CommandLine WaitingCommandLine() const {
    base::CommandLine command_line = HelperCommandLine();
    command_line.AppendSwitchPath("wait-for-package", package_);
    command_line.AppendSwitch("permanent-permissions");
    command_line.AppendSwitchASCII("crash-reporter-pid", "77");
    return command_line;
  }

  base::FilePath package_;
  base::FilePath record_;
  base::ScopedHandle ready_;
  base::ScopedHandle interrupted_;
};

TEST_F(WaitingHelperTest, InterruptedInstallationStartsNothing) {
  ASSERT_TRUE(SetEvent(interrupted_.Get()));
  EXPECT_TRUE(RunSetFolderPermission(WaitingCommandLine(), nullptr, environment_));
  EXPECT_FALSE(base::PathExists(record_));

  // Without the installer's process id it does not wait at all.
  ASSERT_TRUE(ResetEvent(interrupted_.Get()));
  ASSERT_TRUE(SetEvent(ready_.Get()));
  base::CommandLine no_pid(base::FilePath(L"installer.exe"));
  no_pid.AppendSwitchPath("set-folder-permission", folder_);
  no_pid.AppendSwitchNative("permissions-for-user", user_);
  no_pid.AppendSwitchPath("wait-for-package", package_);
  EXPECT_TRUE(RunSetFolderPermission(no_pid, nullptr, environment_));
  EXPECT_FALSE(base::PathExists(record_));
}

TEST_F(WaitingHelperTest, ReadyPackageRunsItsInstallerInHelperMode) {
  ASSERT_TRUE(SetEvent(ready_.Get()));
  EXPECT_TRUE(RunSetFolderPermission(WaitingCommandLine(), nullptr, environment_));
  std::string line;
  ASSERT_TRUE(base::ReadFileToString(record_, &line));
  EXPECT_NE(std::string::npos, line.find("installer.exe"));
  for (const char* expected :
       {"--crash-reporter-pid=77", "--set-folder-permission=", "--permissions-for-user=",
        "--permanent-permissions", "--initial-pid="}) {
    EXPECT_NE(std::string::npos, line.find(expected)) << expected << " in " << line;
  }
  EXPECT_EQ(std::string::npos, line.find("--wait-for-package")) << line;
  // What ran was a copy out of the user's reach, not the package folder's file.
  EXPECT_EQ(std::string::npos, line.find(package_.AsUTF8())) << line;
  EXPECT_NE(std::string::npos, line.find("\\Temp\\VelumInstaller-")) << line;
}

// The package's installer's end is logged, not dropped.
TEST_F(WaitingHelperTest, PackageInstallersEndIsLogged) {
  ASSERT_TRUE(SetEvent(ready_.Get()));
  base::ScopedLogCapture log;
  EXPECT_TRUE(RunSetFolderPermission(WaitingCommandLine(), nullptr, environment_));
  EXPECT_EQ(1u, log.LinesStartingWith("The package's installer ended with ").size());
  ASSERT_TRUE(DeleteFileW(package_.Append(L"installer.exe").value().c_str()));
  EXPECT_TRUE(RunSetFolderPermission(WaitingCommandLine(), nullptr, environment_));
  EXPECT_EQ(1u, log.LinesStartingWith("Not running the package's installer").size());
}

// The package folder and its event belong to the user: a signed installer runs no
// installer.exe elevated that lacks the expected signature, not even to ask its version.
TEST_F(WaitingHelperTest, SignedInstallerRefusesAPlantedUnsignedPackageInstaller) {
  environment_.signature_rule = SignatureRule::kRequired;
  ASSERT_TRUE(SetEvent(ready_.Get()));
  EXPECT_TRUE(RunSetFolderPermission(WaitingCommandLine(), nullptr, environment_));
  EXPECT_FALSE(base::PathExists(record_));
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_unsigned.exe"),
                             package_.Append(L"installer.exe")));
  SetEnvironmentVariableW(L"VELUM_STUB_RECORD", record_.value().c_str());
  EXPECT_TRUE(RunSetFolderPermission(WaitingCommandLine(), nullptr, environment_));
  SetEnvironmentVariableW(L"VELUM_STUB_RECORD", nullptr);
  EXPECT_FALSE(base::PathExists(record_));
}

// Only a package installer no older than this installer runs, asked on the held copy: an
// older one, even of the expected signer, is refused with its reason; the same signed
// file as recent as this installer runs.
TEST_F(WaitingHelperTest, AnOlderPackageInstallerNeverRuns) {
  ASSERT_TRUE(SetEvent(ready_.Get()));
  base::ScopedLogCapture log;
  SetVersions("0.0.1");
  EXPECT_TRUE(RunSetFolderPermission(WaitingCommandLine(), nullptr, environment_));
  EXPECT_FALSE(base::PathExists(record_));
  EXPECT_EQ(1u, log.LinesStartingWith("Refusing ").size());
  EXPECT_EQ(1u, log.LinesStartingWith("Not running the package's installer").size());

  environment_.signature_rule = SignatureRule::kRequired;
  ASSERT_TRUE(base::CopyFile(testing::TestDataPath("signing/package_signed.exe"),
                             package_.Append(L"installer.exe")));
  EXPECT_TRUE(RunSetFolderPermission(WaitingCommandLine(), nullptr, environment_));
  EXPECT_EQ(2u, log.LinesStartingWith("Not running the package's installer").size());
  EXPECT_EQ(0u, log.LinesStartingWith("The package's installer ended with ").size());

  SetVersions(GetBuildAndPatchNumber());
  EXPECT_TRUE(RunSetFolderPermission(WaitingCommandLine(), nullptr, environment_));
  // The stand-in ends with 2 on the helper's switches: it ran.
  EXPECT_EQ(1u, log.LinesStartingWith("The package's installer ended with 2").size());
}

}  // namespace
}  // namespace installer
