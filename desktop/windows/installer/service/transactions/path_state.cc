#include "desktop/windows/installer/service/transactions/path_state.h"

#include "base/logging.h"

namespace installer {

namespace {

FileAttributesReader g_read_attributes = &GetFileAttributesW;

}  // namespace

PathState GetPathState(const base::FilePath& path, DWORD* attributes) {
  return GetPathState(path, attributes, nullptr);
}

PathState GetPathState(const base::FilePath& path, DWORD* attributes, bool* folder_exists) {
  if (folder_exists) *folder_exists = false;
  const DWORD read = g_read_attributes(path.value().c_str());
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

void SetFileAttributesReaderForTesting(FileAttributesReader reader) {
  g_read_attributes = reader ? reader : &GetFileAttributesW;
}

}  // namespace installer
