// The child of the access-control tests, started with a restricted token. Modes:
//   is-admin                  bit 0: IsUserAdmin(false), bit 1: IsUserAdmin(true)
//   needs-elevation           bits 0-2: NeedsElevation (all users, writable), (per user,
//                             writable), (per user, not writable)
//   has-access NAME TYPE MASK 1 when HasAccess, else 0
// 255 for bad arguments.
#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#include "desktop/windows/installer/security/access_control.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 255;
  if (!wcscmp(argv[1], L"is-admin")) {
    return (installer::IsUserAdmin(false) ? 1 : 0) | (installer::IsUserAdmin(true) ? 2 : 0);
  }
  if (!wcscmp(argv[1], L"needs-elevation")) {
    return (installer::NeedsElevation(true, true) ? 1 : 0) |
           (installer::NeedsElevation(false, true) ? 2 : 0) |
           (installer::NeedsElevation(false, false) ? 4 : 0);
  }
  if (!wcscmp(argv[1], L"has-access") && argc == 5) {
    return installer::HasAccess(argv[2], wcstoul(argv[3], nullptr, 0),
                                wcstoul(argv[4], nullptr, 0))
               ? 1
               : 0;
  }
  return 255;
}
