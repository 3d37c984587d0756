#include "desktop/windows/installer/service/transactions/file_operation_target.h"

#include <windows.h>

#include <memory>

#include "base/logging.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

// wingdi.h defines ERROR as 0, which would make LOG(ERROR) name LOG_0.
#undef ERROR

namespace installer {

bool PrepareFileOperationTarget(const base::FilePath& destination, Transaction& nested) {
  const base::FilePath folder = destination.DirName();
  const DWORD folder_attributes = GetFileAttributesW(folder.value().c_str());
  if (folder_attributes == INVALID_FILE_ATTRIBUTES ||
      !(folder_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return nested.Execute(std::make_unique<CreateFolderOperation>(folder));
  }
  if (GetFileAttributesW(destination.value().c_str()) != INVALID_FILE_ATTRIBUTES)
    return nested.Execute(std::make_unique<DeleteFileOperation>(destination, false, false));
  return true;
}

bool ClearReadOnlyBeforeTransfer(const base::FilePath& source) {
  const DWORD attributes = GetFileAttributesW(source.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  if (!SetFileAttributesW(source.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    LOG(ERROR) << "Couldn't clear RO attribute of " << source.value();
    return false;
  }
  return true;
}

void RestoreReadOnly(const base::FilePath& path) {
  const DWORD attributes = GetFileAttributesW(path.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesW(path.value().c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

}  // namespace installer
