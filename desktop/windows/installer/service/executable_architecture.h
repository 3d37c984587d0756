// The machine an executable is built for, read from its PE header.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_EXECUTABLE_ARCHITECTURE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_EXECUTABLE_ARCHITECTURE_H_

#include <stdint.h>

#include "base/files/file_path.h"

namespace installer {

enum ExecutableArchitecture : uint32_t {
  EXECUTABLE_X86 = 0,
  EXECUTABLE_OTHER_MACHINE = 1,
  EXECUTABLE_NOT_AN_IMAGE = 2,  // missing, unreadable or not a portable executable
};
ExecutableArchitecture GetExecutableArchitecture(const base::FilePath& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_EXECUTABLE_ARCHITECTURE_H_
