#include "desktop/windows/installer/elevated_helper/admin_only_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/guid.h"
#include "base/test/log_capture_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace installer {
namespace {

// Writes `data` into `folder` as `name`.
bool WriteIn(const AdminOnlyFolder& folder, const std::string& data, const wchar_t* name,
             base::FilePath* file) {
  *file = folder.path().Append(name);
  return !folder.path().empty() &&
         base::WriteFile(*file, data.data(), static_cast<int>(data.size())) ==
             static_cast<int>(data.size());
}

// The SIDs of the folder's owner and of every entry of its access list, as text.
bool ReadSecurity(const base::FilePath& folder, std::string* owner,
                  std::vector<std::string>* entries, bool* is_protected) {
  PSID owner_sid = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetNamedSecurityInfoW(folder.value().c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner_sid,
                            nullptr, &dacl, nullptr, &raw) != ERROR_SUCCESS) {
    return false;
  }
  base::ScopedLocalAlloc<> descriptor(raw);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!descriptor.IsValid() || !dacl || !GetSecurityDescriptorControl(raw, &control, &revision))
    return false;
  *is_protected = (control & SE_DACL_PROTECTED) != 0;
  auto text = [](PSID sid) {
    WELL_KNOWN_SID_TYPE types[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
    for (WELL_KNOWN_SID_TYPE type : types) {
      if (IsWellKnownSid(sid, type)) return std::string(type == WinLocalSystemSid ? "SY" : "BA");
    }
    return std::string("other");
  };
  *owner = text(owner_sid);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return false;
    const ACE_HEADER* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      entries->push_back("not an allow entry");
      continue;
    }
    entries->push_back(text(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
  }
  return true;
}

// Whether the system keeps the access list given to a new file: Wine keeps only unix
// mode bits and reads back a made-up owner and list.
bool KeepsFileSecurity(const base::FilePath& folder) {
  const base::FilePath probe = folder.Append(L"probe");
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)", SDDL_REVISION_1,
                                                            &raw, nullptr))
    return false;
  base::ScopedLocalAlloc<> descriptor(raw);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw, FALSE};
  if (!CreateDirectoryW(probe.value().c_str(), &attributes)) return false;
  std::string owner;
  std::vector<std::string> entries;
  bool is_protected = false;
  const bool kept = ReadSecurity(probe, &owner, &entries, &is_protected) && is_protected &&
                    entries == std::vector<std::string>{"SY"};
  (void)RemoveDirectoryW(probe.value().c_str());
  return kept;
}

// What an elevated process runs or writes there, no standard user (nor the user who
// asked for the elevation) may change: the access list names the system and the
// administrators only, and inherits nothing.
TEST(AdminOnlyFolderTest, OnlyTheSystemAndAdministratorsHaveAccess) {
  AdminOnlyFolder folder;
  ASSERT_TRUE(folder.Create());
  if (!KeepsFileSecurity(folder.path()))
    GTEST_SKIP() << "this system keeps no access list of a file (Wine keeps mode bits only)";
  base::FilePath file;
  ASSERT_TRUE(WriteIn(folder, "x", L"k.bat", &file));
  {
    base::ScopedHandle held(CreateFileW(folder.path().value().c_str(), READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    EXPECT_TRUE(IsOwnedByAdministrators(held.Get()));
  }
  for (const base::FilePath& path : {folder.path(), file}) {
    SCOPED_TRACE(path.AsUTF8());
    std::string owner;
    std::vector<std::string> entries;
    bool is_protected = false;
    ASSERT_TRUE(ReadSecurity(path, &owner, &entries, &is_protected));
    if (path == folder.path()) {
      EXPECT_EQ("BA", owner);
      EXPECT_TRUE(is_protected);
    }
    ASSERT_FALSE(entries.empty());
    for (const std::string& entry : entries) EXPECT_TRUE(entry == "SY" || entry == "BA") << entry;
  }
}

// The access list as built, read from the descriptor itself, so the check holds under
// Wine too (which keeps no file access list): the system and the administrators only,
// owned by the administrators, protected from inheritance; no entry for Users, for
// everyone, or for the user who asked for the elevation.
TEST(AdminOnlyFolderTest, TheSecurityAsBuiltNamesOnlyTheSystemAndAdministrators) {
  base::ScopedLocalAlloc<> descriptor;
  ASSERT_TRUE(BuildAdminOnlySecurity(&descriptor));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
  EXPECT_NE(0, control & SE_DACL_PROTECTED);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted));
  ASSERT_TRUE(owner);
  EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  BOOL present = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);  // a null list would let everyone in

  // The requesting user: this process's own account.
  base::ScopedHandle token;
  HANDLE raw_token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token));
  token.Set(raw_token);
  alignas(8) unsigned char user_buffer[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token.Get(), TokenUser, user_buffer, sizeof(user_buffer), &size));
  const PSID user = reinterpret_cast<TOKEN_USER*>(user_buffer)->User.Sid;

  ASSERT_EQ(2u, dacl->AceCount);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, static_cast<ACE_HEADER*>(ace)->AceType);
    const PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
    EXPECT_TRUE(IsWellKnownSid(sid, WinLocalSystemSid) ||
                IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
    for (WELL_KNOWN_SID_TYPE type : {WinBuiltinUsersSid, WinWorldSid, WinAuthenticatedUserSid,
                                     WinInteractiveSid, WinCreatorOwnerSid})
      EXPECT_FALSE(IsWellKnownSid(sid, type)) << type;
    EXPECT_FALSE(EqualSid(sid, user));
  }
}

// Under Wine the owner reads back made up: the tests say which folders an administrator
// made by their names.
bool NamedAsAdministrators(HANDLE folder) {
  const base::Result<base::FilePath> path = base::GetFinalPathOfHandle(folder);
  return path.ok() && path.value().BaseName().value().find(L"user") == std::wstring::npos;
}

// A later run removes the folders of ended runs (their locks held by nobody, also one a
// stopped machine left behind), leaves a live run's, a standard user's folder of the same
// name, and a link of that name with what it points to.
TEST(AdminOnlyFolderTest, ALaterRunRemovesEndedRunsFoldersOnly) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const base::FilePath parent = scratch.path();
  AdminOnlyFolder live;
  ASSERT_TRUE(live.CreateIn(parent, &NamedAsAdministrators));
  base::FilePath file;
  ASSERT_TRUE(WriteIn(live, "live", L"installer.exe", &file));
  base::FilePath ended;
  {
    AdminOnlyFolder folder;
    ASSERT_TRUE(folder.CreateIn(parent, &NamedAsAdministrators));
    ASSERT_TRUE(WriteIn(folder, "ended", L"installer.exe", &file));
    ended = folder.path();
    folder.Keep();
  }
  ASSERT_TRUE(base::DirectoryExists(ended));
  EXPECT_FALSE(base::PathExists(base::FilePath(ended.value() + L".lck")));
  const base::FilePath stopped = parent.Append(L"VelumInstaller-stopped");
  ASSERT_TRUE(base::CreateDirectory(stopped));
  ASSERT_TRUE(base::WriteFile(base::FilePath(stopped.value() + L".lck"), "", 0) == 0);
  // A lock that cannot be deleted for a reason other than a run holding it may be live.
  const base::FilePath undeletable = parent.Append(L"VelumInstaller-undeletable");
  const base::FilePath undeletable_lock(undeletable.value() + L".lck");
  ASSERT_TRUE(base::CreateDirectory(undeletable));
  ASSERT_TRUE(base::WriteFile(undeletable_lock, "", 0) == 0);
  ASSERT_TRUE(SetFileAttributesW(undeletable_lock.value().c_str(), FILE_ATTRIBUTE_READONLY));
  const base::FilePath users = parent.Append(L"VelumInstaller-users");
  ASSERT_TRUE(base::CreateDirectory(users));
  const base::FilePath target = parent.Append(L"target");
  ASSERT_TRUE(base::CreateDirectory(target));
  ASSERT_TRUE(base::WriteFile(target.Append(L"keep.txt"), "keep", 4) == 4);
  // Named exactly as a run's folder.
  const base::FilePath link =
      parent.Append(L"VelumInstaller-" + base::UTF8ToWide(base::GenerateGuid()));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(link, target, &error)) << error;

  base::ScopedLogCapture log;
  RemoveEndedAdminOnlyFolders(parent, &NamedAsAdministrators);
  EXPECT_FALSE(base::PathExists(ended));
  EXPECT_FALSE(base::PathExists(stopped));
  // Not even the link itself is removed (Wine could not remove it: the log tells).
  EXPECT_TRUE(log.LinesStartingWith("Removing the folder of an ended run: " + link.AsUTF8()).empty());
  EXPECT_EQ(1u, log.LinesStartingWith("Leaving " + link.AsUTF8() + ": not a folder").size());
  EXPECT_FALSE(base::PathExists(base::FilePath(stopped.value() + L".lck")));
  EXPECT_TRUE(base::PathExists(live.path().Append(L"installer.exe")));
  EXPECT_TRUE(base::DirectoryExists(users));
  EXPECT_TRUE(base::DirectoryExists(undeletable));
  EXPECT_TRUE(base::PathExists(target.Append(L"keep.txt")));
  EXPECT_TRUE(base::RemoveDirectoryLink(link));

  // A new folder's creation removes them too.
  {
    AdminOnlyFolder folder;
    ASSERT_TRUE(folder.CreateIn(parent, &NamedAsAdministrators));
    ended = folder.path();
    folder.Keep();
  }
  AdminOnlyFolder next;
  ASSERT_TRUE(next.CreateIn(parent, &NamedAsAdministrators));
  EXPECT_FALSE(base::PathExists(ended));
}

// The two names a test planted as runs' folders, and the one of them that the first owner
// check turned into a file while the sweep ran.
std::vector<base::FilePath> g_planted;
base::FilePath g_swapped;
bool SwapsTheOtherForAFile(HANDLE folder) {
  const base::Result<base::FilePath> path = base::GetFinalPathOfHandle(folder);
  for (const base::FilePath& planted : g_planted) {
    if (!g_swapped.empty() || !path.ok() ||
        base::FilePath::CompareIgnoreCase(planted.BaseName().value(),
                                          path.value().BaseName().value()) == 0) {
      continue;
    }
    g_swapped = planted;
    EXPECT_TRUE(RemoveDirectoryW(planted.value().c_str()));
    EXPECT_EQ(4, base::WriteFile(planted, "file", 4));
  }
  return NamedAsAdministrators(folder);
}

// A name listed as a folder but a file by the time it is looked at (a user may swap it
// while the sweep runs; the file could be a link to any other) is left: only a folder an
// elevated run made is removed.
TEST(AdminOnlyFolderTest, ANameSwappedForAFileIsLeft) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  g_planted = {scratch.path().Append(L"VelumInstaller-a"),
               scratch.path().Append(L"VelumInstaller-b")};
  for (const base::FilePath& planted : g_planted) ASSERT_TRUE(base::CreateDirectory(planted));
  g_swapped.clear();
  base::ScopedLogCapture log;
  RemoveEndedAdminOnlyFolders(scratch.path(), &SwapsTheOtherForAFile);
  ASSERT_FALSE(g_swapped.empty());
  EXPECT_TRUE(base::PathExists(g_swapped));
  EXPECT_EQ(1u, log.LinesStartingWith("Leaving " + g_swapped.AsUTF8() + ": not a folder").size());
  // The other, still a folder, was an ended run's.
  for (const base::FilePath& planted : g_planted) {
    if (planted != g_swapped) {
      EXPECT_FALSE(base::PathExists(planted)) << planted.AsUTF8();
    }
  }
}

int g_owner_checks = 0;
bool CountedAsAdministrators(HANDLE folder) {
  ++g_owner_checks;
  return NamedAsAdministrators(folder);
}

// However many folders a user names as runs', one run looks at a bounded few, and an ended
// run's folder among them is still removed by a later run.
TEST(AdminOnlyFolderTest, SweepIsBoundedPerRun) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const base::FilePath parent = scratch.path();
  const int kPlanted = 80;
  for (int i = 0; i < kPlanted; ++i) {
    ASSERT_TRUE(base::CreateDirectory(
        parent.Append(L"VelumInstaller-0-user-" + std::to_wstring(1000 + i))));
  }
  g_owner_checks = 0;
  RemoveEndedAdminOnlyFolders(parent, &CountedAsAdministrators);
  EXPECT_GT(g_owner_checks, 0);
  EXPECT_LE(g_owner_checks, 16);

  base::FilePath ended;
  {
    AdminOnlyFolder folder;
    ASSERT_TRUE(folder.CreateIn(parent, &NamedAsAdministrators));
    ended = folder.path();
    folder.Keep();
  }
  // Picked at random: it would stay past 200 runs with a chance below 1e-26.
  for (int run = 0; run < 200 && base::PathExists(ended); ++run)
    RemoveEndedAdminOnlyFolders(parent, &NamedAsAdministrators);
  EXPECT_FALSE(base::PathExists(ended));
}

TEST(AdminOnlyFolderTest, IsRemovedUnlessKept) {
  base::FilePath removed;
  base::FilePath kept;
  {
    AdminOnlyFolder folder;
    ASSERT_TRUE(folder.Create());
    removed = folder.path();
  }
  {
    AdminOnlyFolder folder;
    ASSERT_TRUE(folder.Create());
    kept = folder.path();
    folder.Keep();
  }
  EXPECT_FALSE(base::PathExists(removed));
  EXPECT_TRUE(base::DirectoryExists(kept));
  EXPECT_TRUE(base::DeleteFile(kept, true));
}

}  // namespace
}  // namespace installer
