#include "desktop/windows/installer/private_kernel_object.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/security/access_control.h"

namespace installer {

namespace {

// This process's user, as its token says.
[[nodiscard]] bool GetTokenUser(std::vector<uint8_t>* user) {
  HANDLE raw_token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) return false;
  const base::ScopedHandle token(raw_token);
  return GetTokenUserSid(token.Get(), user);
}

// A descriptor owned by `user` giving all access to it, the administrators and the system.
base::ScopedLocalAlloc<> PrivateDescriptor(PSID user) {
  wchar_t* raw_text = nullptr;
  if (!ConvertSidToStringSidW(user, &raw_text)) return base::ScopedLocalAlloc<>();
  const base::ScopedLocalAlloc<wchar_t> text(raw_text);
  // The owner named too: a later joiner checks who made the object.
  const std::wstring sddl = std::wstring(L"O:") + raw_text + L"D:P(A;;GA;;;" + raw_text +
                            L")(A;;GA;;;BA)(A;;GA;;;SY)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return base::ScopedLocalAlloc<>();
  }
  return base::ScopedLocalAlloc<>(descriptor);
}

enum class Kind { kEvent, kMutex };

// Creates the object; `existed` tells whether the name was taken already.
[[nodiscard]] bool CreateNamed(Kind kind, const std::wstring& name, bool manual_reset,
                               bool inheritable, base::ScopedHandle* object, bool* existed) {
  std::vector<uint8_t> user;
  if (!GetTokenUser(&user)) return false;
  const base::ScopedLocalAlloc<> descriptor =
      PrivateDescriptor(user.data());
  if (!descriptor.IsValid()) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), inheritable};
  object->Set(kind == Kind::kEvent
                  ? CreateEventW(&attributes, manual_reset, FALSE, name.c_str())
                  : CreateMutexW(&attributes, FALSE, name.c_str()));
  *existed = GetLastError() == ERROR_ALREADY_EXISTS;
  return object->IsValid();
}

// Whether this user, the administrators or the system own the object.
bool IsOwnedByUs(HANDLE object) {
  std::vector<uint8_t> owner;
  std::vector<uint8_t> user;
  if (!GetObjectOwnerSid(object, SE_KERNEL_OBJECT, &owner) || !GetTokenUser(&user))
    return false;
  return EqualSid(owner.data(), user.data()) ||
         IsWellKnownSid(owner.data(), WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(owner.data(), WinLocalSystemSid);
}

}  // namespace

bool CreatePrivateEvent(const std::wstring& name, bool manual_reset, base::ScopedHandle* event) {
  bool existed = false;
  if (!CreateNamed(Kind::kEvent, name, manual_reset, false, event, &existed)) {
    PLOG(ERROR) << "Cannot create the event " << base::WideToUTF8(name);
    return false;
  }
  if (existed) {
    event->Close();
    LOG(ERROR) << "Refusing the event " << base::WideToUTF8(name)
               << ": another process made it first";
    return false;
  }
  return true;
}

bool CreateOrJoinPrivateMutex(const std::wstring& name, bool inheritable,
                              base::ScopedHandle* mutex) {
  bool existed = false;
  if (!CreateNamed(Kind::kMutex, name, false, inheritable, mutex, &existed)) {
    PLOG(ERROR) << "Cannot create the mutex " << base::WideToUTF8(name);
    return false;
  }
  if (existed && !IsOwnedByUs(mutex->Get())) {
    mutex->Close();
    LOG(ERROR) << "Refusing the mutex " << base::WideToUTF8(name)
               << ": another user's process made it";
    return false;
  }
  return true;
}

}  // namespace installer
