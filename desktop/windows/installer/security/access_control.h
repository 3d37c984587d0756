// Access control and elevation: whether the user is an administrator and whether an
// installation needs elevation, access tests on files and registry keys, taking
// ownership, and granting the current user rights while keeping the old DACL.
//
// Objects are named as the named-security calls expect: a file by its path (type 1), a
// key by "CLASSES_ROOT\", "CURRENT_USER\", "MACHINE\" or "USERS\" and its path (type 4,
// or 12 for the 32-bit registry view).
//
//   std::unique_ptr<SavedSecurity> saved;
//   if (!HasAccess(name, kRegistryKeyObject, KEY_SET_VALUE) &&
//       GrantAccessToCurrentUser(name, kRegistryKeyObject, KEY_SET_VALUE, false, &saved)) {
//     ... change the key ...
//     RestoreSecurity(&saved);
//   }
#ifndef DESKTOP_WINDOWS_INSTALLER_SECURITY_ACCESS_CONTROL_H_
#define DESKTOP_WINDOWS_INSTALLER_SECURITY_ACCESS_CONTROL_H_

#include <windows.h>

#include <accctrl.h>

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Object types (SE_OBJECT_TYPE values).
const uint32_t kFileObject = 1;
const uint32_t kRegistryKeyObject = 4;
const uint32_t kRegistryKey32Object = 12;

// The named-object security calls, replaceable where the system lacks one (Wine answers
// the 32-bit registry view with no descriptor at all).
class NamedSecurityInfo {
 public:
  virtual ~NamedSecurityInfo() = default;
  // As GetNamedSecurityInfoW; the descriptor is freed with LocalFree.
  [[nodiscard]] virtual DWORD Get(const std::wstring& object_name, uint32_t object_type,
                    SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
                    PSECURITY_DESCRIPTOR* descriptor) = 0;
  // As SetNamedSecurityInfoW.
  [[nodiscard]] virtual DWORD Set(const std::wstring& object_name, uint32_t object_type,
                    SECURITY_INFORMATION information, PSID owner, PSID group, PACL dacl) = 0;
};

// The system's calls.
NamedSecurityInfo* SystemNamedSecurityInfo();

// A DACL that GrantAccessToCurrentUser replaced. Destroying it frees the descriptor
// without writing anything back; RestoreSecurity writes it back.
class SavedSecurity {
 public:
  // Takes |descriptor| (LocalAlloc'ed by the system); |old_dacl| points into it.
  SavedSecurity(const std::wstring& object_name, uint32_t object_type, PACL old_dacl,
                base::ScopedLocalAlloc<> descriptor, NamedSecurityInfo* security);
  ~SavedSecurity();
  SavedSecurity(const SavedSecurity&) = delete;
  SavedSecurity& operator=(const SavedSecurity&) = delete;

  const std::wstring& object_name() const { return object_name_; }
  uint32_t object_type() const { return object_type_; }
  PACL old_dacl() const { return old_dacl_; }
  // The calls that read the old list, which write it back.
  NamedSecurityInfo* security() const { return security_; }

 private:
  std::wstring object_name_;
  uint32_t object_type_;
  PACL old_dacl_;
  base::ScopedLocalAlloc<> descriptor_;
  NamedSecurityInfo* security_;
};

// A GRANT_ACCESS entry of GENERIC_ALL for |sid|, which must outlive the entry, as a
// TRUSTEE_TYPE |trustee_type| with the inheritance flags |inheritance|.
EXPLICIT_ACCESSW FullControlEntryFor(PSID sid, uint32_t inheritance, uint32_t trustee_type);

// Whether the process token (or, with |use_linked_token| on Vista and later, the full
// token behind a limited one) is a member of the Administrators group.
[[nodiscard]] bool IsUserAdmin(bool use_linked_token);

// False for an administrator; otherwise true for all users, and for a per-user
// installation when the install folder is not writable.
[[nodiscard]] bool NeedsElevation(bool all_users, bool install_folder_writable);

// Whether the process token is granted |desired_access| on the object. False for object
// types other than file and registry key.
[[nodiscard]] bool HasAccess(const std::wstring& object_name, uint32_t object_type,
                             uint32_t desired_access,
                             NamedSecurityInfo* security = SystemNamedSecurityInfo());

// Enables or disables a privilege in |token|, which is closed in every case.
[[nodiscard]] bool SetPrivilege(const wchar_t* privilege_name, bool enable, base::ScopedHandle token);

// Makes the Administrators group the object's owner (with SeTakeOwnershipPrivilege).
[[nodiscard]] bool TakeOwnership(const std::wstring& object_name, uint32_t object_type,
                                 NamedSecurityInfo* security = SystemNamedSecurityInfo());

// Grants the current user |access_mask| (inherited by sub-containers and objects) and
// removes those bits from the entries that deny them to the user. Unless |keep_nothing|,
// the old DACL is kept in *saved for RestoreSecurity; any record held there before is
// discarded first. |saved| may be null with |keep_nothing|.
[[nodiscard]] bool GrantAccessToCurrentUser(const std::wstring& object_name, uint32_t object_type,
                              uint32_t access_mask, bool keep_nothing,
                              std::unique_ptr<SavedSecurity>* saved,
                              NamedSecurityInfo* security = SystemNamedSecurityInfo());

// Writes the saved DACL back and frees the record; false when none is held or the write
// failed.
[[nodiscard]] bool RestoreSecurity(std::unique_ptr<SavedSecurity>* saved);
// For destructors: writes back the DACL held in *saved, if any. A failure is logged, as
// the object then keeps the rights this process granted itself.
void RestoreSecurityIfSaved(std::unique_ptr<SavedSecurity>* saved);

[[nodiscard]] bool GetCurrentUserName(std::wstring* name);
// GetUserNameExW in |format| (an EXTENDED_NAME_FORMAT value).
[[nodiscard]] bool GetUserNameInFormat(std::wstring* name, uint32_t format);
// "DOMAIN\user": the name that resolves to this account and no other.
[[nodiscard]] bool GetCurrentUserQualifiedName(std::wstring* name);

// The bytes of the SID of `token`'s user.
[[nodiscard]] bool GetTokenUserSid(HANDLE token, std::vector<uint8_t>* sid);
// The bytes of the SID that owns `object`, an object of type `object_type` (an
// SE_OBJECT_TYPE value) held open with READ_CONTROL.
[[nodiscard]] bool GetObjectOwnerSid(HANDLE object, uint32_t object_type,
                                     std::vector<uint8_t>* sid);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SECURITY_ACCESS_CONTROL_H_
