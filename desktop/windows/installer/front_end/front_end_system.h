// FrontEndSystem: what a front-end controller asks of the machine before it starts the
// backend. Both controllers take one; tests replace its parts.
//
//   FrontEndSystem system;  // the real machine
//   if (!system.has_sse2()) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_FRONT_END_SYSTEM_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_FRONT_END_SYSTEM_H_

#include <functional>

#include "base/files/file_path.h"

namespace installer {

struct FrontEndSystem {
  FrontEndSystem();
  std::function<bool(bool all_users, bool install_folder_writable)> needs_elevation;
  std::function<bool()> before_windows_7;
  std::function<bool()> has_sse2;
  // The folder of the running program: the package when there is no payload.
  base::FilePath own_folder;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_FRONT_END_SYSTEM_H_
