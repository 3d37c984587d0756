#include "desktop/windows/installer/security/access_control.h"

#include <aclapi.h>
#include <lmcons.h>
#define SECURITY_WIN32
#include <security.h>

#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"

namespace installer {

namespace {

class SystemCalls : public NamedSecurityInfo {
 public:
  DWORD Get(const std::wstring& object_name, uint32_t object_type,
            SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
            PSECURITY_DESCRIPTOR* descriptor) override {
    return GetNamedSecurityInfoW(object_name.c_str(), static_cast<SE_OBJECT_TYPE>(object_type),
                                 information, owner, group, dacl, nullptr, descriptor);
  }
  DWORD Set(const std::wstring& object_name, uint32_t object_type,
            SECURITY_INFORMATION information, PSID owner, PSID group, PACL dacl) override {
    // The call takes a non-const name.
    std::wstring name = object_name;
    return SetNamedSecurityInfoW(&name[0], static_cast<SE_OBJECT_TYPE>(object_type),
                                 information, owner, group, dacl, nullptr);
  }
};

// Reads the object's security; a "success" without a descriptor (Wine, 32-bit registry
// view) is a failure.
[[nodiscard]] DWORD GetSecurity(NamedSecurityInfo* security, const std::wstring& object_name,
                                uint32_t object_type, SECURITY_INFORMATION information,
                                PSID* owner, PSID* group, PACL* dacl,
                                base::ScopedLocalAlloc<>* descriptor) {
  const DWORD result = security->Get(object_name, object_type, information, owner, group, dacl,
                                    descriptor->Receive());
  if (result != ERROR_SUCCESS) {
    descriptor->Reset();
    return result;
  }
  if (!descriptor->Get()) return ERROR_INVALID_SECURITY_DESCR;
  return ERROR_SUCCESS;
}

[[nodiscard]] bool GetMapping(uint32_t object_type, GENERIC_MAPPING* mapping) {
  switch (object_type) {
    case kFileObject:
      *mapping = {0x120089, 0x120116, 0x1200A0, 0x1F01FF};
      return true;
    case kRegistryKeyObject:
    case kRegistryKey32Object:
      *mapping = {0x20019, 0x20006, 0x20019, 0xF003F};
      return true;
    default:
      return false;
  }
}

[[nodiscard]] bool OpenProcessTokenWith(DWORD access, base::ScopedHandle* token) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), access, &raw)) return false;
  token->Set(raw);
  return true;
}

[[nodiscard]] bool DuplicateForIdentification(const base::ScopedHandle& token,
                                              base::ScopedHandle* duplicate) {
  HANDLE raw = nullptr;
  if (!DuplicateToken(token.Get(), SecurityIdentification, &raw)) return false;
  duplicate->Set(raw);
  return true;
}

[[nodiscard]] bool MakeAdministratorsSid(base::ScopedSid* sid) {
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  return AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  sid->Receive()) != FALSE;
}

// Whether |sid| is the caller's user or one of its groups. CheckTokenMembership covers
// both on Windows; Wine's checks only the groups.
bool IsCallerSid(PSID sid) {
  BOOL member = FALSE;
  if (CheckTokenMembership(nullptr, sid, &member) && member) return true;
  base::ScopedHandle token;
  if (!OpenProcessTokenWith(TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (!size || !GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size))
    return false;
  return EqualSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, sid) != FALSE;
}

void DisableTakeOwnershipPrivilege() {
  base::ScopedHandle token;
  if (OpenProcessTokenWith(TOKEN_ADJUST_PRIVILEGES, &token) &&
      !SetPrivilege(SE_TAKE_OWNERSHIP_NAME, false, std::move(token)))
    LOG(WARNING) << "Could not drop the take-ownership privilege";
}

}  // namespace

SavedSecurity::SavedSecurity(const std::wstring& object_name, uint32_t object_type,
                             PACL old_dacl, base::ScopedLocalAlloc<> descriptor,
                             NamedSecurityInfo* security)
    : object_name_(object_name),
      object_type_(object_type),
      old_dacl_(old_dacl),
      descriptor_(std::move(descriptor)),
      security_(security) {}

SavedSecurity::~SavedSecurity() = default;

NamedSecurityInfo* SystemNamedSecurityInfo() {
  static SystemCalls calls;
  return &calls;
}

bool IsUserAdmin(bool use_linked_token) {
  base::ScopedHandle token;
  if (!OpenProcessTokenWith(TOKEN_DUPLICATE | TOKEN_QUERY, &token)) return false;

  if (use_linked_token && base::GetWindowsVersion() >= base::OS_VERSION_VISTA) {
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenElevationType, &type, sizeof(type), &size))
      return false;
    if (type == TokenElevationTypeLimited) {
      TOKEN_LINKED_TOKEN linked = {};
      if (!GetTokenInformation(token.Get(), TokenLinkedToken, &linked, sizeof(linked), &size))
        return false;
      token.Set(linked.LinkedToken);
    }
  }

  base::ScopedHandle duplicate;
  if (!DuplicateForIdentification(token, &duplicate)) return false;
  base::ScopedSid administrators;
  if (!MakeAdministratorsSid(&administrators)) return false;
  BOOL member = FALSE;
  return CheckTokenMembership(duplicate.Get(), administrators.Get(), &member) && member;
}

bool NeedsElevation(bool all_users, bool install_folder_writable) {
  if (IsUserAdmin(false)) return false;
  return all_users || !install_folder_writable;
}

bool HasAccess(const std::wstring& object_name, uint32_t object_type, uint32_t desired_access,
               NamedSecurityInfo* security) {
  GENERIC_MAPPING mapping;
  if (!GetMapping(object_type, &mapping)) return false;

  base::ScopedHandle token, duplicate;
  if (!OpenProcessTokenWith(TOKEN_DUPLICATE | TOKEN_QUERY, &token) ||
      !DuplicateForIdentification(token, &duplicate)) {
    return false;
  }

  base::ScopedLocalAlloc<> descriptor;
  PSID owner = nullptr, group = nullptr;
  PACL dacl = nullptr;
  if (GetSecurity(security, object_name, object_type,
                  OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                      DACL_SECURITY_INFORMATION,
                  &owner, &group, &dacl, &descriptor) != ERROR_SUCCESS) {
    return false;
  }

  // Room for one privilege.
  alignas(PRIVILEGE_SET) BYTE privileges[20] = {};
  DWORD privileges_size = sizeof(privileges);
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!AccessCheck(descriptor.Get(), duplicate.Get(), desired_access, &mapping,
                   reinterpret_cast<PRIVILEGE_SET*>(privileges), &privileges_size, &granted,
                   &status)) {
    return false;
  }
  return status != FALSE;
}

bool SetPrivilege(const wchar_t* privilege_name, bool enable, base::ScopedHandle token) {
  LUID luid;
  if (!LookupPrivilegeValueW(nullptr, privilege_name, &luid)) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = luid;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof(privileges), nullptr,
                             nullptr)) {
    return false;
  }
  // A successful adjustment still reports a privilege the token does not hold.
  return GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

bool TakeOwnership(const std::wstring& object_name, uint32_t object_type,
                   NamedSecurityInfo* security) {
  base::ScopedHandle token;
  if (!OpenProcessTokenWith(TOKEN_ADJUST_PRIVILEGES, &token) ||
      !SetPrivilege(SE_TAKE_OWNERSHIP_NAME, true, std::move(token))) {
    return false;
  }
  base::ScopedSid administrators;
  if (!MakeAdministratorsSid(&administrators)) {
    DisableTakeOwnershipPrivilege();
    return false;
  }
  const DWORD result = security->Set(object_name, object_type, OWNER_SECURITY_INFORMATION,
                                     administrators.Get(), nullptr, nullptr);
  DisableTakeOwnershipPrivilege();
  return result == ERROR_SUCCESS;
}

bool GrantAccessToCurrentUser(const std::wstring& object_name, uint32_t object_type,
                              uint32_t access_mask, bool keep_nothing,
                              std::unique_ptr<SavedSecurity>* saved,
                              NamedSecurityInfo* security) {
  if (saved) saved->reset();

  wchar_t user_name[UNLEN + 1] = {};
  DWORD user_name_size = UNLEN + 1;
  if (!GetUserNameW(user_name, &user_name_size)) return false;

  base::ScopedLocalAlloc<> descriptor;
  PACL old_dacl = nullptr;
  DWORD result = GetSecurity(security, object_name, object_type, DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, &old_dacl, &descriptor);
  if (result == ERROR_ACCESS_DENIED) {
    if (!TakeOwnership(object_name, object_type, security)) return false;
    result = GetSecurity(security, object_name, object_type, DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, &old_dacl, &descriptor);
  }
  if (result != ERROR_SUCCESS) return false;

  ULONG entry_count = 0;
  base::ScopedLocalAlloc<EXPLICIT_ACCESS_W> entries;
  if (GetExplicitEntriesFromAclW(old_dacl, &entry_count, entries.Receive()) != ERROR_SUCCESS)
    return false;

  // Entries that deny the user these rights would still win over the grant.
  for (ULONG i = 0; i < entry_count; ++i) {
    EXPLICIT_ACCESS_W& entry = entries.Get()[i];
    if (entry.grfAccessMode != DENY_ACCESS || entry.Trustee.TrusteeForm != TRUSTEE_IS_SID)
      continue;
    if (IsCallerSid(reinterpret_cast<PSID>(entry.Trustee.ptstrName)))
      entry.grfAccessPermissions &= ~access_mask;
  }

  EXPLICIT_ACCESS_W grant = {};
  BuildExplicitAccessWithNameW(&grant, user_name, access_mask, GRANT_ACCESS,
                               SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  base::ScopedLocalAlloc<ACL> grant_only, new_dacl;
  if (SetEntriesInAclW(1, &grant, nullptr, grant_only.Receive()) != ERROR_SUCCESS) return false;
  if (SetEntriesInAclW(entry_count, entries.Get(), grant_only.Get(), new_dacl.Receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  grant_only.Reset();

  result = security->Set(object_name, object_type, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                         new_dacl.Get());
  if (result == ERROR_ACCESS_DENIED && TakeOwnership(object_name, object_type, security)) {
    result = security->Set(object_name, object_type, DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, new_dacl.Get());
  }
  if (result != ERROR_SUCCESS) return false;

  if (!keep_nothing && saved) {
    saved->reset(
        new SavedSecurity(object_name, object_type, old_dacl, std::move(descriptor), security));
  }
  return true;
}

bool RestoreSecurity(std::unique_ptr<SavedSecurity>* saved) {
  if (!saved || !*saved) return false;
  const SavedSecurity& record = **saved;
  const DWORD result = record.security()->Set(record.object_name(), record.object_type(),
                                              DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                              record.old_dacl());
  saved->reset();
  return result == ERROR_SUCCESS;
}

void RestoreSecurityIfSaved(std::unique_ptr<SavedSecurity>* saved) {
  if (!saved || !*saved) return;
  const std::wstring object_name = (*saved)->object_name();
  if (!RestoreSecurity(saved))
    LOG(WARNING) << "Could not give back the access rights of " << base::WideToUTF8(object_name);
}

bool GetCurrentUserName(std::wstring* name) {
  wchar_t buffer[UNLEN + 1] = {};
  DWORD size = UNLEN + 1;
  if (!GetUserNameW(buffer, &size)) return false;
  name->assign(buffer);
  return true;
}

bool GetUserNameInFormat(std::wstring* name, uint32_t format) {
  ULONG size = 0;
  const EXTENDED_NAME_FORMAT name_format = static_cast<EXTENDED_NAME_FORMAT>(format);
  if (!GetUserNameExW(name_format, nullptr, &size) && GetLastError() != ERROR_MORE_DATA)
    return false;
  std::vector<wchar_t> buffer(size + 1, L'\0');
  ULONG buffer_size = static_cast<ULONG>(buffer.size());
  if (!GetUserNameExW(name_format, buffer.data(), &buffer_size)) return false;
  name->assign(buffer.data());
  return true;
}

EXPLICIT_ACCESSW FullControlEntryFor(PSID sid, uint32_t inheritance, uint32_t trustee_type) {
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = GENERIC_ALL;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = inheritance;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = static_cast<TRUSTEE_TYPE>(trustee_type);
  access.Trustee.ptstrName = static_cast<wchar_t*>(sid);
  return access;
}

bool GetCurrentUserQualifiedName(std::wstring* name) {
  return GetUserNameInFormat(name, NameSamCompatible);
}

namespace {

bool CopySid(PSID sid, std::vector<uint8_t>* bytes) {
  if (!sid || !IsValidSid(sid)) return false;
  const uint8_t* begin = static_cast<const uint8_t*>(sid);
  bytes->assign(begin, begin + GetLengthSid(sid));
  return true;
}

}  // namespace

bool GetTokenUserSid(HANDLE token, std::vector<uint8_t>* sid) {
  DWORD size = 0;
  (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<uint8_t> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
    return false;
  return CopySid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, sid);
}

bool GetObjectOwnerSid(HANDLE object, uint32_t object_type, std::vector<uint8_t>* sid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetSecurityInfo(object, static_cast<SE_OBJECT_TYPE>(object_type),
                      OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &raw) != ERROR_SUCCESS) {
    return false;
  }
  // Wine answers some objects with success and no descriptor.
  const base::ScopedLocalAlloc<> descriptor(raw);
  return descriptor.IsValid() && CopySid(owner, sid);
}

}  // namespace installer
