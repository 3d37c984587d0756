#include "desktop/windows/installer/service/transactions/copy_file_operation.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

CopyFileOperation::CopyFileOperation(const base::FilePath& source,
                                     const base::FilePath& destination)
    : FileTransferOperation(source, destination) {}

CopyFileOperation::~CopyFileOperation() = default;

void CopyFileOperation::LogStart() const {
  VLOG(1) << "Copying " << source().value() << " to " << destination().value();
}

bool CopyFileOperation::Transfer() {
  if (!base::CopyFile(source(), destination())) {
    LOG(ERROR) << "File copy failed " << base::Win32ErrorToString(GetLastError());
    return false;
  }
  VLOG(1) << "File copied successfully";
  return true;
}

bool CopyFileOperation::UndoTransfer() {
  base::DeleteFile(destination(), false);
  // The source was never touched.
  return true;
}

}  // namespace installer
