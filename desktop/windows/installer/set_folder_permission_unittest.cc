#include "desktop/windows/installer/set_folder_permission.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/stringprintf.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/access_control.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/utils.h"

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

// Whether the DACL holds an inheritable full-control grant for the current user.
bool HasInheritableFullControl(const std::wstring& name, SE_OBJECT_TYPE type) {
  std::wstring user;
  if (!GetCurrentUserName(&user)) return false;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  TRUSTEE_W trustee = {};
  BuildTrusteeWithNameW(&trustee, &user[0]);
  ULONG count = 0;
  EXPLICIT_ACCESS_W* entries = nullptr;
  bool found = false;
  if (GetExplicitEntriesFromAclW(dacl, &count, &entries) == ERROR_SUCCESS) {
    for (ULONG i = 0; i < count; ++i) {
      found |= entries[i].grfAccessMode == GRANT_ACCESS &&
               (entries[i].grfInheritance & SUB_CONTAINERS_AND_OBJECTS_INHERIT) ==
                   SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    }
    LocalFree(entries);
  }
  LocalFree(descriptor);
  return found;
}

class SetFolderPermissionTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    SetUndoDelayForTesting(0);
    folder_ = Path(L"install");
    ASSERT_TRUE(GetCurrentUserName(&user_));
  }
  void TearDown() override { SetUndoDelayForTesting(10000); }

  base::ScopedHandle CreateFolderEvent(const wchar_t* prefix, bool global, bool manual_reset) {
    const std::wstring name = GetKernelObjectName(folder_.value(), prefix, global);
    return base::ScopedHandle(CreateEventW(nullptr, manual_reset, FALSE, name.c_str()));
  }

  base::CommandLine HelperCommandLine() const {
    base::CommandLine command_line(base::FilePath(L"installer.exe"));
    command_line.AppendSwitchPath("set-folder-permission", folder_);
    command_line.AppendSwitchNative("permissions-for-user", user_);
    return command_line;
  }

  base::FilePath folder_;
  std::wstring user_;
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
    result =
        internal::GrantUntilEnd(name, SE_REGISTRY_KEY, user_, false, granted.Get(), {undo.Get()});
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  EXPECT_NE(before, DaclBytes(name, SE_REGISTRY_KEY));
  EXPECT_TRUE(HasInheritableFullControl(name, SE_REGISTRY_KEY));
  ASSERT_TRUE(SetEvent(undo.Get()));
  helper.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(before, DaclBytes(name, SE_REGISTRY_KEY));
}

TEST_F(SetFolderPermissionTest, PermanentGrantStaysAndUnknownUserChangesNothing) {
  testing::ScratchRegistryKey key;
  const std::wstring name = L"CURRENT_USER\\" + key.path();
  const std::string before = DaclBytes(name, SE_REGISTRY_KEY);
  base::ScopedHandle granted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_FALSE(internal::GrantUntilEnd(name, SE_REGISTRY_KEY, L"no-such-user-here", true,
                                       granted.Get(), {}));
  EXPECT_EQ(before, DaclBytes(name, SE_REGISTRY_KEY));
  EXPECT_NE(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0));

  EXPECT_TRUE(internal::GrantUntilEnd(name, SE_REGISTRY_KEY, user_, true, granted.Get(), {}));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), 0));
  EXPECT_TRUE(HasInheritableFullControl(name, SE_REGISTRY_KEY));
}

// The helper itself on a folder: it creates the folder, signals, and ends after Undo with
// the folder's DACL as it was.
TEST_F(SetFolderPermissionTest, HelperSignalsAndRestoresTheFolderAfterUndo) {
  base::ScopedHandle granted =
      CreateFolderEvent(L"VelumInstaller/GiveInstallPermission", false, false);
  base::ScopedHandle undo =
      CreateFolderEvent(L"VelumInstaller/GiveInstallPermission/Undo", false, false);
  ASSERT_TRUE(granted.IsValid() && undo.IsValid());
  ASSERT_TRUE(base::CreateDirectory(folder_));
  const std::string before = DaclBytes(folder_.value(), SE_FILE_OBJECT);

  const base::CommandLine command_line = HelperCommandLine();
  std::thread helper([&] { RunSetFolderPermission(command_line); });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(granted.Get(), kBoundMs));
  ASSERT_TRUE(SetEvent(undo.Get()));
  helper.join();
  EXPECT_EQ(before, DaclBytes(folder_.value(), SE_FILE_OBJECT));
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
}

}  // namespace
}  // namespace installer
