#include "desktop/windows/installer/service/transactions/create_folder_operation.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

CreateFolderOperation::CreateFolderOperation(const base::FilePath& folder) : folder_(folder) {}

CreateFolderOperation::~CreateFolderOperation() = default;

bool CreateFolderOperation::Do(Transaction& /*nested*/) {
  VLOG(1) << "Attempting to create folder " << folder_.value();
  if (base::DirectoryExists(folder_)) {
    VLOG(1) << "Folder already exists";
    return true;
  }
  base::FilePath current = folder_;
  for (;;) {
    const base::FilePath parent = current.DirName();
    if (base::DirectoryExists(parent)) {
      VLOG(1) << "Valid ancestor";
      // Recorded first: a creation that fails halfway leaves folders that the rollback
      // following the failure must remove.
      existing_ancestor_ = parent;
      if (!base::CreateDirectoryAndGetError(folder_, nullptr)) break;
      VLOG(1) << "Folder created successfully";
      return true;
    }
    if (parent == current) break;
    current = parent;
  }
  LOG(ERROR) << "Failed folder creation";
  return false;
}

void CreateFolderOperation::Rollback() {
  if (existing_ancestor_.empty()) return;
  // Only empty folders go: whatever was put into them meanwhile stays.
  base::FilePath current = folder_;
  while (current != existing_ancestor_) {
    // A folder that a halfway failed creation never made is skipped.
    if (!RemoveDirectoryW(current.value().c_str()) && base::PathExists(current)) break;
    const base::FilePath parent = current.DirName();
    if (parent == current) break;
    current = parent;
  }
}

}  // namespace installer
