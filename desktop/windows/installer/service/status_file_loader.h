// Finds and loads the installation record of an install folder: its status file, in
// recovery mode the newest copy in "old_status", else the legacy install log.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_STATUS_FILE_LOADER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_STATUS_FILE_LOADER_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/install_log.h"

namespace installer {

class StatusFileLoader {
 public:
  static std::unique_ptr<StatusFileLoader> Create();

  virtual ~StatusFileLoader() {}

  // The record of `install_folder`, or null with the reason in `log_text` and the raw
  // bytes of the file that could not be used in `content` (both passed empty).
  // `recovery_mode` 1 lets a saved copy stand in for a broken status file.
  virtual std::unique_ptr<InstallLog> Load(const base::FilePath& install_folder,
                                           int32_t recovery_mode, std::string* log_text,
                                           std::string* content) = 0;
};

// The record of the file that `source` names in `install_folder`, or null; a parse
// failure leaves the reader's message in `error` when given. A missing file leaves
// `error` alone.
std::unique_ptr<InstallLog> LoadInstallLog(const base::FilePath& install_folder,
                                           uint32_t source, std::string* error);

// The saved copy "old_status\installation_status.xml.<n>" with the largest positive n,
// or an empty path.
base::FilePath FindLatestOldStatusFile(const base::FilePath& install_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_STATUS_FILE_LOADER_H_
