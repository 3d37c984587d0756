// Test helpers for the registry operations: security calls that address the 32-bit view
// the way 64-bit Windows lays it out (Wine answers that view with no descriptor).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_TEST_UTIL_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"

namespace installer {
namespace testing {

// Sends 32-bit view names under "MACHINE\Software\" to their "Wow6432Node" key and those
// under "CURRENT_USER\" to the same key of the 64-bit view; everything else to the
// system. Given to the code under test in place of the system's calls.
class Wow64SecurityInfo : public NamedSecurityInfo {
 public:

  [[nodiscard]] DWORD Get(const std::wstring& object_name, uint32_t object_type,
                          SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
                          PSECURITY_DESCRIPTOR* descriptor) override;
  [[nodiscard]] DWORD Set(const std::wstring& object_name, uint32_t object_type,
                          SECURITY_INFORMATION information, PSID owner, PSID group,
                          PACL dacl) override;

 private:
  static std::wstring Redirect(const std::wstring& object_name, uint32_t* object_type);
};

// A registry view the operations are tested in.
struct RegistryView {
  const char* name;
  HKEY root;
  REGSAM view;
};

// The 64-bit view under the user's hive, and the 32-bit view under the machine's
// "Software", which is redirected (the user's "Software" is shared by both views).
extern const RegistryView kRegistryViews[2];

// A scratch key in the view of the parameter, with the 32-bit security redirection
// installed for that view.
class RegistryViewTest : public ::testing::TestWithParam<RegistryView> {
 protected:
  void SetUp() override;
  void TearDown() override;

  HKEY root() const { return GetParam().root; }
  REGSAM view() const { return GetParam().view; }
  const std::wstring& path() const { return scratch_->path(); }
  std::wstring Child(const std::wstring& relative) const { return scratch_->Child(relative); }
  std::string Snapshot() const { return SnapshotRegistryTree(root(), path(), view()); }
  // The access-list calls for the operations of the view: Wine answers none in the
  // 32-bit view, whose names this redirects.
  NamedSecurityInfo* security() const {
    return wow64_ ? static_cast<NamedSecurityInfo*>(wow64_.get()) : SystemNamedSecurityInfo();
  }
  // True when |relative| exists where the view puts it (for the 32-bit view, below
  // "Software\Wow6432Node" as seen from the 64-bit view).
  [[nodiscard]] bool ExistsInItsView(const std::wstring& relative) const;

 private:
  std::unique_ptr<Wow64SecurityInfo> wow64_;
  std::unique_ptr<ScratchRegistryKey> scratch_;
};

std::string RegistryViewName(const ::testing::TestParamInfo<RegistryView>& info);

// The current user's SID.
std::vector<BYTE> CurrentUserSid();
// An access-list entry that denies |access| to the account |sid| (which must outlive it).
EXPLICIT_ACCESS_W DenyEntryFor(std::vector<BYTE>* sid, DWORD access);

// Adds an entry that denies the current user |access| to the key's DACL.
[[nodiscard]] bool DenyCurrentUser(HKEY root, const std::wstring& key_path, REGSAM view,
                                   DWORD access);

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_TEST_UTIL_H_
