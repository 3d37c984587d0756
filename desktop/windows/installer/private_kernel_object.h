// Named kernel objects that another process, an elevated one too, trusts: made with an
// access list for this user, the administrators and the system only, and never adopted
// from someone who made the name first.
//
//   base::ScopedHandle ready;
//   if (!CreatePrivateEvent(name, true, &ready)) return Fail(...);
#ifndef DESKTOP_WINDOWS_INSTALLER_PRIVATE_KERNEL_OBJECT_H_
#define DESKTOP_WINDOWS_INSTALLER_PRIVATE_KERNEL_OBJECT_H_

#include <string>

#include "base/win/scoped_handle.h"

namespace installer {

// Creates the named event; false (logged) when it cannot be made, or when an object of
// that name exists already: whoever made it could signal it or wait on it.
[[nodiscard]] bool CreatePrivateEvent(const std::wstring& name, bool manual_reset,
                                      base::ScopedHandle* event);

// Creates the named mutex, or joins an existing one only when this user, the
// administrators or the system own it (another installation of this product); false
// (logged) for one that someone else made.
[[nodiscard]] bool CreateOrJoinPrivateMutex(const std::wstring& name, bool inheritable,
                                            base::ScopedHandle* mutex);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRIVATE_KERNEL_OBJECT_H_
