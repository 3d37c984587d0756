#include "desktop/windows/installer/security/access_control.h"

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/transactions/file_operation_test_util.h"
#include "desktop/windows/installer/service/transactions/registry_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"

namespace installer {
namespace {

const uint32_t kSetAndDelete = KEY_SET_VALUE | DELETE;

// Replaces the key's DACL by |entries| alone, not inheriting from the parent. (Keys, not
// files: Wine derives a file's DACL from its Unix mode and keeps no other.)
bool SetOnlyEntries(const std::wstring& key_path, std::vector<EXPLICIT_ACCESS_W> entries) {
  base::ScopedLocalAlloc<ACL> dacl;
  if (SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), nullptr,
                       dacl.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  base::ScopedHKEY key;
  DWORD result = static_cast<DWORD>(
      RegOpenKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, WRITE_DAC, key.Receive()));
  if (result == ERROR_SUCCESS) {
    result = SetSecurityInfo(key.Get(), SE_REGISTRY_KEY,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, dacl.Get(), nullptr);
  }
  return result == ERROR_SUCCESS;
}

EXPLICIT_ACCESS_W Entry(ACCESS_MODE mode, DWORD access, PSID sid) {
  EXPLICIT_ACCESS_W entry = {};
  entry.grfAccessPermissions = access;
  entry.grfAccessMode = mode;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.ptstrName = reinterpret_cast<wchar_t*>(sid);
  return entry;
}

class AccessControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    name_ = L"CURRENT_USER\\" + scratch_.path();
    user_sid_ = testing::CurrentUserSid();
    ASSERT_FALSE(user_sid_.empty());
  }
  std::string Security() const {
    return testing::SnapshotRegistryTree(HKEY_CURRENT_USER, scratch_.path(), 0);
  }

  testing::ScratchRegistryKey scratch_;
  std::wstring name_;
  std::vector<BYTE> user_sid_;
};

TEST(AccessControlFileTest, UnknownObjectTypesAndMissingObjectsHaveNoAccess) {
  base::ScratchDir scratch;
  const std::wstring file = scratch.path().Append(L"f.txt").value();
  ASSERT_TRUE(testing::MakeFile(base::FilePath(file), "x"));
  EXPECT_TRUE(HasAccess(file, kFileObject, FILE_GENERIC_READ));
  for (uint32_t type : {0u, 2u, 3u, 5u, 13u}) EXPECT_FALSE(HasAccess(file, type, 0));
  EXPECT_FALSE(HasAccess(file + L".missing", kFileObject, FILE_GENERIC_READ));
}

TEST_F(AccessControlTest, GrantLiftsTheDenyAndRestoreWritesTheOldDaclBackOnce) {
  ASSERT_TRUE(SetOnlyEntries(scratch_.path(),
                             {Entry(DENY_ACCESS, KEY_SET_VALUE | DELETE, user_sid_.data()),
                              Entry(GRANT_ACCESS, KEY_ALL_ACCESS, user_sid_.data())}));
  const std::string before = Security();
  ASSERT_FALSE(HasAccess(name_, kRegistryKeyObject, kSetAndDelete));

  std::unique_ptr<SavedSecurity> saved;
  ASSERT_TRUE(GrantAccessToCurrentUser(name_, kRegistryKeyObject, kSetAndDelete, false, &saved));
  ASSERT_TRUE(saved);
  EXPECT_TRUE(HasAccess(name_, kRegistryKeyObject, kSetAndDelete));

  // The deny entry keeps none of the granted bits; the grant is inheritable.
  base::ScopedLocalAlloc<> descriptor;
  PACL dacl = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            GetNamedSecurityInfoW(name_.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, descriptor.Receive()));
  ULONG count = 0;
  base::ScopedLocalAlloc<EXPLICIT_ACCESS_W> owned_entries;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            GetExplicitEntriesFromAclW(dacl, &count, owned_entries.Receive()));
  const EXPLICIT_ACCESS_W* entries = owned_entries.Get();
  bool inheritable_grant = false;
  for (ULONG i = 0; i < count; ++i) {
    if (entries[i].grfAccessMode == DENY_ACCESS) {
      EXPECT_EQ(0u, entries[i].grfAccessPermissions & kSetAndDelete);
    }
    if (entries[i].grfAccessMode == GRANT_ACCESS &&
        (entries[i].grfInheritance & SUB_CONTAINERS_AND_OBJECTS_INHERIT) ==
            SUB_CONTAINERS_AND_OBJECTS_INHERIT &&
        (entries[i].grfAccessPermissions & kSetAndDelete) == kSetAndDelete) {
      inheritable_grant = true;
    }
  }
  EXPECT_TRUE(inheritable_grant);

  EXPECT_TRUE(RestoreSecurity(&saved));
  EXPECT_FALSE(saved);
  EXPECT_EQ(before, Security());
  EXPECT_FALSE(HasAccess(name_, kRegistryKeyObject, kSetAndDelete));
  EXPECT_FALSE(RestoreSecurity(&saved));
}

TEST(AccessControl32BitViewTest, MissingDescriptorIsAFailure) {
  if (!base::RunningUnderWine()) GTEST_SKIP() << "Windows answers the 32-bit view";
  testing::ScratchRegistryKey scratch(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
  ASSERT_FALSE(scratch.path().empty());
  const std::wstring name = L"MACHINE\\" + scratch.path();
  EXPECT_FALSE(HasAccess(name, kRegistryKey32Object, KEY_QUERY_VALUE));
  std::unique_ptr<SavedSecurity> saved;
  EXPECT_FALSE(GrantAccessToCurrentUser(name, kRegistryKey32Object, KEY_SET_VALUE, false, &saved));
  EXPECT_FALSE(saved);
}

// Runs the helper with the Administrators group made deny-only; its exit code.
int RunRestricted(const std::wstring& arguments) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &raw)) {
    return -1;
  }
  base::ScopedHandle token(raw);
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  base::ScopedSid administrators;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                administrators.Receive())) {
    return -1;
  }
  SID_AND_ATTRIBUTES deny_only = {administrators.Get(), 0};
  HANDLE restricted_raw = nullptr;
  if (!CreateRestrictedToken(token.Get(), 0, 1, &deny_only, 0, nullptr, 0, nullptr,
                             &restricted_raw)) {
    return -1;
  }
  base::ScopedHandle restricted(restricted_raw);

  base::LaunchOptions options;
  options.as_user = restricted.Get();
  const base::Process process = base::LaunchProcess(
      L"\"" + base::TestExeSibling(L"access_control_test_helper.exe") + L"\" " + arguments,
      options);
  int32_t exit_code = -1;
  return process.IsValid() && process.WaitForExit(&exit_code) ? exit_code : -1;
}

TEST(AccessControlElevationTest, StandardUserIsNoAdministratorAndNeedsElevation) {
  EXPECT_EQ(0, RunRestricted(L"is-admin"));
  // All users: yes; per user into a writable folder: no; into one that is not: yes.
  EXPECT_EQ(1 | 4, RunRestricted(L"needs-elevation"));
}

TEST(AccessControlElevationTest, AdministratorsOnlyKeyIsClosedToAStandardUser) {
  testing::ScratchRegistryKey scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::wstring name = L"CURRENT_USER\\" + scratch.path();
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  base::ScopedSid administrators;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                       DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                       administrators.Receive()));
  ASSERT_TRUE(SetOnlyEntries(scratch.path(),
                             {Entry(GRANT_ACCESS, KEY_ALL_ACCESS, administrators.Get())}));
  if (IsUserAdmin(false)) {
    EXPECT_TRUE(HasAccess(name, kRegistryKeyObject, KEY_SET_VALUE));
  }
  EXPECT_EQ(0, RunRestricted(L"has-access \"" + name + L"\" 4 " +
                             std::to_wstring(KEY_SET_VALUE)));
  // The scratch key is removed by this (administrator) process.
}

}  // namespace
}  // namespace installer
