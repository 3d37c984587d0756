#include "desktop/windows/installer/elevated_helper/admin_only_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include <string>

#include "base/files/file_util.h"
#include "base/win/scoped_generic.h"

namespace installer {
namespace {

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
  ASSERT_TRUE(folder.WriteIn("x", L"k.bat", &file));
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
