// What the Installer needs to know of the install folder beyond the request: the record
// of the installation already there and whether the user can write where it goes. The
// install-target status of the settings will answer this; until then the folder itself
// is read.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALL_TARGET_FACTS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALL_TARGET_FACTS_H_

#include <stdint.h>

#include <memory>

#include "base/files/file_path.h"

namespace installer {

class InstallLog;

// The rights an installation needs on its folder: list, traverse, add files and
// subfolders, read and write attributes, synchronize.
constexpr uint32_t kInstallFolderAccess = 0x1201BF;

class InstallTargetFacts {
 public:
  virtual ~InstallTargetFacts() = default;
  // The record of the installation in the folder; null when there is none.
  virtual const InstallLog* GetExistingInstallLog() = 0;
  // The deepest existing folder on the way to the install folder (the folder itself
  // when it exists).
  virtual base::FilePath GetNearestExistingFolder() = 0;
  // Whether the user may create the installation in that existing folder.
  virtual bool HasWriteAccess() = 0;
};

// Reads `install_folder` now: its status file, else the legacy record file.
std::unique_ptr<InstallTargetFacts> ReadInstallTargetFacts(const base::FilePath& install_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALL_TARGET_FACTS_H_
