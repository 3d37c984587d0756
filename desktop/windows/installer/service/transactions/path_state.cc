#include "desktop/windows/installer/service/transactions/path_state.h"

#include "base/logging.h"

namespace installer {

PathState GetPathState(const base::FilePath& path, DWORD* attributes,
                       FileAttributesReader read_attributes) {
  return GetPathState(path, attributes, static_cast<bool*>(nullptr), read_attributes);
}

PathState GetPathState(const base::FilePath& path, DWORD* attributes, bool* folder_exists,
                       FileAttributesReader read_attributes) {
  if (folder_exists) *folder_exists = false;
  const DWORD read = read_attributes(path.value().c_str());
  if (read != INVALID_FILE_ATTRIBUTES) {
    if (attributes) *attributes = read;
    if (folder_exists) *folder_exists = true;
    return PathState::kExists;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) {
    if (folder_exists) *folder_exists = true;
    return PathState::kMissing;
  }
  if (error == ERROR_PATH_NOT_FOUND) return PathState::kMissing;
  LOG(ERROR) << "Cannot tell whether " << path.value() << " exists: "
             << base::Win32ErrorToString(error);
  return PathState::kUnknown;
}

}  // namespace installer
