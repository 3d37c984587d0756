#include "desktop/windows/installer/service/transactions/registry_test_util.h"

#include <aclapi.h>

#include "base/strings/string_util.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"

namespace installer {
namespace testing {

// static
std::wstring Wow64SecurityInfo::Redirect(const std::wstring& object_name,
                                         uint32_t* object_type) {
  static const wchar_t kSoftware[] = L"MACHINE\\Software\\";
  static const wchar_t kUser[] = L"CURRENT_USER\\";
  if (*object_type == kRegistryKey32Object &&
      base::StartsWith(object_name, kUser, base::INSENSITIVE_ASCII)) {
    // The user's keys that the product writes are not redirected.
    *object_type = kRegistryKeyObject;
    return object_name;
  }
  if (*object_type != kRegistryKey32Object ||
      !base::StartsWith(object_name, kSoftware, base::INSENSITIVE_ASCII)) {
    return object_name;
  }
  *object_type = kRegistryKeyObject;
  return std::wstring(kSoftware) + L"Wow6432Node\\" +
         object_name.substr(sizeof(kSoftware) / sizeof(wchar_t) - 1);
}

DWORD Wow64SecurityInfo::Get(const std::wstring& object_name, uint32_t object_type,
                             SECURITY_INFORMATION information, PSID* owner, PSID* group,
                             PACL* dacl, PSECURITY_DESCRIPTOR* descriptor) {
  const std::wstring name = Redirect(object_name, &object_type);
  return SystemNamedSecurityInfo()->Get(name, object_type, information, owner, group, dacl,
                                        descriptor);
}

DWORD Wow64SecurityInfo::Set(const std::wstring& object_name, uint32_t object_type,
                             SECURITY_INFORMATION information, PSID owner, PSID group,
                             PACL dacl) {
  const std::wstring name = Redirect(object_name, &object_type);
  return SystemNamedSecurityInfo()->Set(name, object_type, information, owner, group, dacl);
}

const RegistryView kRegistryViews[2] = {
    {"user_64", HKEY_CURRENT_USER, 0},
    {"machine_32", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
};

void RegistryViewTest::SetUp() {
  if (view() == KEY_WOW64_32KEY) wow64_.reset(new Wow64SecurityInfo);
  scratch_.reset(new ScratchRegistryKey(root(), view(), security()));
  ASSERT_FALSE(scratch_->path().empty());
}

void RegistryViewTest::TearDown() {
  scratch_.reset();
  wow64_.reset();
}

bool RegistryViewTest::ExistsInItsView(const std::wstring& relative) const {
  std::wstring full = Child(relative);
  if (view() == KEY_WOW64_32KEY)
    full = L"Software\\Wow6432Node\\" + full.substr(wcslen(L"Software\\"));
  base::RegistryKey key;
  return key.Open(root(), full.c_str(), KEY_READ | KEY_WOW64_64KEY) == ERROR_SUCCESS;
}

std::string RegistryViewName(const ::testing::TestParamInfo<RegistryView>& info) {
  return info.param.name;
}

std::vector<BYTE> CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  base::ScopedHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return {};
  PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}

EXPLICIT_ACCESS_W DenyEntryFor(std::vector<BYTE>* sid, DWORD access) {
  EXPLICIT_ACCESS_W deny = {};
  deny.grfAccessPermissions = access;
  deny.grfAccessMode = DENY_ACCESS;
  deny.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  deny.Trustee.ptstrName = reinterpret_cast<wchar_t*>(sid->data());
  return deny;
}

bool DenyCurrentUser(HKEY root, const std::wstring& key_path, REGSAM view, DWORD access) {
  std::vector<BYTE> sid = CurrentUserSid();
  if (sid.empty()) return false;
  base::RegistryKey key;
  if (key.Open(root, key_path.c_str(), view | READ_CONTROL | WRITE_DAC) != ERROR_SUCCESS)
    return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL old_dacl = nullptr;
  if (GetSecurityInfo(key.Handle(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                      nullptr, &old_dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  EXPLICIT_ACCESS_W deny = DenyEntryFor(&sid, access);
  PACL dacl = nullptr;
  bool ok = SetEntriesInAclW(1, &deny, old_dacl, &dacl) == ERROR_SUCCESS &&
            SetSecurityInfo(key.Handle(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, dacl, nullptr) == ERROR_SUCCESS;
  LocalFree(dacl);
  LocalFree(descriptor);
  return ok;
}

}  // namespace testing
}  // namespace installer
