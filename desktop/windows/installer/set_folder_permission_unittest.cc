#include "desktop/windows/installer/set_folder_permission.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/base_paths_win.h"
#include "base/path_service.h"
#include "base/strings/stringprintf.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_program_check.h"
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
std::vector<uint8_t> CurrentUserSid() {
  base::CommandLine command_line(base::FilePath(L"installer.exe"));
  command_line.AppendSwitchNative("initial-pid", base::StringPrintf(L"%lu", GetCurrentProcessId()));
  std::vector<uint8_t> sid;
  EXPECT_TRUE(internal::ResolvePrincipal(command_line, &sid));
  return sid;
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
class FailingRestore : public NamedSecurityInfo {
 public:
  DWORD Get(const std::wstring& object_name, uint32_t object_type,
            SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
            PSECURITY_DESCRIPTOR* descriptor) override {
    return SystemNamedSecurityInfo()->Get(object_name, object_type, information, owner, group,
                                          dacl, descriptor);
  }
  DWORD Set(const std::wstring& object_name, uint32_t object_type,
            SECURITY_INFORMATION information, PSID owner, PSID group, PACL dacl) override {
    if (++sets_ > 1) return ERROR_ACCESS_DENIED;
    return SystemNamedSecurityInfo()->Set(object_name, object_type, information, owner, group,
                                          dacl);
  }

 private:
  int sets_ = 0;
};

class SetFolderPermissionTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    SetUndoDelayForTesting(0);
    folder_ = Path(L"install");
    ASSERT_TRUE(GetCurrentUserName(&user_));
    sid_ = CurrentUserSid();
    ASSERT_FALSE(sid_.empty());
  }
  void TearDown() override {
    SetUndoDelayForTesting(10000);
    SetRunningInstallerForTesting(nullptr);
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

  base::CommandLine HelperCommandLine() const {
    base::CommandLine command_line(base::FilePath(L"installer.exe"));
    command_line.AppendSwitchPath("set-folder-permission", folder_);
    command_line.AppendSwitchNative("permissions-for-user", user_);
    return command_line;
  }

  // Runs the helper for `folder`; true when it granted (and then let go at once), false
  // when it ended without granting.
  bool HelperGrants(const base::FilePath& folder) {
    folder_ = folder;
    base::ScopedHandle granted, undo;
    CreateGrantEvents(&granted, &undo);
    base::ScopedHandle ended(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(ended.IsValid());
    const base::CommandLine command_line = HelperCommandLine();
    bool result = true;
    std::thread helper([&] {
      result = RunSetFolderPermission(command_line);
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

  base::FilePath folder_;
  std::wstring user_;
  std::vector<uint8_t> sid_;
};

// Keys keep exact DACLs under Wine (files get theirs from Unix modes), so the grant and
// its undoing are compared byte for byte on a key.
TEST_F(SetFolderPermissionTest, GrantHoldsUntilUndoThenTheOldDaclReturnsExactly) {
  testing::ScratchRegistryKey key;
  const std::wstring name = L"CURRENT_USER\\" + key.path();
  const std::string before = DaclBytes(name, SE_REGISTRY_KEY);
  ASSERT_FALSE(before.empty());
  base::ScopedHandle granted(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  base::ScopedHandle undo(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  bool result = false;
  std::thread helper([&] {
    result = internal::GrantUntilEnd(name, SE_REGISTRY_KEY, sid_.data(), false, granted.Get(),
                                     {undo.Get()});
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  EXPECT_NE(before, DaclBytes(name, SE_REGISTRY_KEY));
  EXPECT_TRUE(HasInheritableGrantFor(name, SE_REGISTRY_KEY, sid_));
  ASSERT_TRUE(SetEvent(undo.Get()));
  helper.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(before, DaclBytes(name, SE_REGISTRY_KEY));
}

// A grant that cannot be taken back is a failure, not a quiet success.
TEST_F(SetFolderPermissionTest, FailedRestoreIsReported) {
  testing::ScratchRegistryKey key;
  const std::wstring name = L"CURRENT_USER\\" + key.path();
  base::ScopedHandle granted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::ScopedHandle undo(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  FailingRestore failing;
  NamedSecurityInfo* previous = SetNamedSecurityInfoForTesting(&failing);
  const bool result = internal::GrantUntilEnd(name, SE_REGISTRY_KEY, sid_.data(), false,
                                              granted.Get(), {undo.Get()});
  SetNamedSecurityInfoForTesting(previous);
  EXPECT_FALSE(result);
}

// The principal is an account, not a name that could resolve to another one: the
// requesting process's user, or the name with its domain.
TEST_F(SetFolderPermissionTest, PrincipalIsTheRequestingUsersAccount) {
  std::wstring qualified;
  ASSERT_TRUE(GetCurrentUserQualifiedName(&qualified));
  base::CommandLine by_name(base::FilePath(L"installer.exe"));
  by_name.AppendSwitchNative("permissions-for-user", qualified);
  std::vector<uint8_t> sid;
  ASSERT_TRUE(internal::ResolvePrincipal(by_name, &sid));
  EXPECT_EQ(sid_, sid);

  // The token wins over the name.
  base::CommandLine both = by_name;
  both.AppendSwitchNative("permissions-for-user", L"no-such-user-here");
  both.AppendSwitchNative("initial-pid", base::StringPrintf(L"%lu", GetCurrentProcessId()));
  ASSERT_TRUE(internal::ResolvePrincipal(both, &sid));
  EXPECT_EQ(sid_, sid);

  // A process id that now belongs to another account than the one named picks none.
  base::CommandLine other = both;
  other.AppendSwitchNative("permissions-for-user", L"SYSTEM");
  EXPECT_FALSE(internal::ResolvePrincipal(other, &sid));

  base::CommandLine unknown(base::FilePath(L"installer.exe"));
  unknown.AppendSwitchNative("permissions-for-user", L"no-such-user-here");
  EXPECT_FALSE(internal::ResolvePrincipal(unknown, &sid));
}

TEST_F(SetFolderPermissionTest, PermanentGrantStays) {
  testing::ScratchRegistryKey key;
  const std::wstring name = L"CURRENT_USER\\" + key.path();
  base::ScopedHandle granted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_TRUE(internal::GrantUntilEnd(name, SE_REGISTRY_KEY, sid_.data(), true, granted.Get(), {}));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0));
  EXPECT_TRUE(HasInheritableGrantFor(name, SE_REGISTRY_KEY, sid_));
}

// The grant is inherited by everything below and follows links: folders where that
// reaches the system, other users or other programs are refused before anything changes.
TEST_F(SetFolderPermissionTest, RefusesLinksSystemFoldersAndForeignFolders) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"target")));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"link"), Path(L"target"), &error)) << error;
  MakeTree({L"foreign\\", L"foreign\\readme.txt", L"ours\\", L"ours\\installation_status.xml",
            L"ours\\launcher.exe"});
  base::FilePath program_files;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_PROGRAM_FILES, &program_files));
  base::FilePath windows;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_WINDOWS, &windows));
  const struct {
    const char* name;
    base::FilePath folder;
    bool granted;
  } cases[] = {
      {"a link", Path(L"link"), false},
      {"under a link", Path(L"link\\install"), false},
      {"Program Files", program_files, false},
      {"Program Files spelled otherwise", base::FilePath(program_files.value() + L"\\x\\..\\"),
       false},
      {"a drive root", base::FilePath(program_files.value().substr(0, 3)), false},
      {"under the Windows folder", windows.Append(L"velum-test-install"), false},
      {"another program's folder", Path(L"foreign"), false},
      {"a relative path", base::FilePath(L"install"), false},
      {"this product's folder", Path(L"ours"), true},
      {"a new folder", Path(L"new\\install"), true},
  };
  for (const auto& c : cases) {
    const std::string before = DaclBytes(c.folder.value(), SE_FILE_OBJECT);
    EXPECT_EQ(c.granted, HelperGrants(c.folder)) << c.name;
    if (!c.granted) {
      EXPECT_EQ(before, DaclBytes(c.folder.value(), SE_FILE_OBJECT)) << c.name;
    }
  }
  EXPECT_FALSE(base::PathExists(Path(L"target\\install")));
  EXPECT_FALSE(base::PathExists(windows.Append(L"velum-test-install")));
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"link")));
}

// The helper itself on a folder: it creates the folder, signals, and ends after Undo with
// the folder's DACL as it was.
TEST_F(SetFolderPermissionTest, HelperSignalsAndRestoresTheFolderAfterUndo) {
  base::ScopedHandle granted, undo;
  CreateGrantEvents(&granted, &undo);
  ASSERT_TRUE(base::CreateDirectory(folder_));
  const std::string before = DaclBytes(folder_.value(), SE_FILE_OBJECT);

  const base::CommandLine command_line = HelperCommandLine();
  std::thread helper([&] { EXPECT_TRUE(RunSetFolderPermission(command_line)); });
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
  std::thread helper([&] { result = RunSetFolderPermission(command_line); });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  EXPECT_TRUE(RemoveDirectoryW(folder_.value().c_str())) << GetLastError();
  ASSERT_TRUE(SetEvent(undo.Get()));
  helper.join();
  EXPECT_TRUE(result);
}

TEST_F(SetFolderPermissionTest, MissingUndoEventMeansNoChangeAndNoSignal) {
  base::ScopedHandle granted =
      CreateFolderEvent(L"VelumInstaller/GiveInstallPermission", false, false);
  RunSetFolderPermission(HelperCommandLine());
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
  base::CommandLine command_line = HelperCommandLine();
  command_line.AppendSwitchNative("initial-pid",
                                  base::StringPrintf(L"%lu", GetProcessId(installer.Get())));
  std::thread helper([&] { RunSetFolderPermission(command_line); });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  ASSERT_TRUE(SetEvent(quit.Get()));
  helper.join();  // without Undo

  const base::CommandLine without_pid = HelperCommandLine();
  std::thread second([&] { RunSetFolderPermission(without_pid); });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  ASSERT_TRUE(SetEvent(interrupted.Get()));
  second.join();
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
    ready_ = CreateFolderEvent(L"VelumInstaller/PackageReady", true, true);
    interrupted_ = CreateFolderEvent(L"VelumInstaller/InstallationInterrupted", true, true);
    ASSERT_TRUE(ready_.IsValid() && interrupted_.IsValid());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"VELUM_TEST_RECORD", nullptr);
    SetFolderPermissionTest::TearDown();
  }

  base::CommandLine WaitingCommandLine() const {
    base::CommandLine command_line = HelperCommandLine();
    command_line.AppendSwitchPath("wait-for-package", package_);
    command_line.AppendSwitchNative("initial-pid",
                                    base::StringPrintf(L"%lu", GetCurrentProcessId()));
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
  RunSetFolderPermission(WaitingCommandLine());
  EXPECT_FALSE(base::PathExists(record_));

  // Without the installer's process id it does not wait at all.
  ASSERT_TRUE(ResetEvent(interrupted_.Get()));
  ASSERT_TRUE(SetEvent(ready_.Get()));
  base::CommandLine no_pid = HelperCommandLine();
  no_pid.AppendSwitchPath("wait-for-package", package_);
  RunSetFolderPermission(no_pid);
  EXPECT_FALSE(base::PathExists(record_));
}

TEST_F(WaitingHelperTest, ReadyPackageRunsItsInstallerInHelperMode) {
  ASSERT_TRUE(SetEvent(ready_.Get()));
  RunSetFolderPermission(WaitingCommandLine());
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

// The package folder and its event belong to the user: a signed installer runs no
// installer.exe elevated that lacks the expected signature.
TEST_F(WaitingHelperTest, SignedInstallerRefusesAPlantedUnsignedPackageInstaller) {
  const base::FilePath signed_installer = testing::TestDataPath("signing/signed.exe");
  SetRunningInstallerForTesting(&signed_installer);
  ASSERT_TRUE(SetEvent(ready_.Get()));
  RunSetFolderPermission(WaitingCommandLine());
  EXPECT_FALSE(base::PathExists(record_));
}

}  // namespace
}  // namespace installer
