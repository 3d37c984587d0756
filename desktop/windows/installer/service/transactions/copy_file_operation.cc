#include "desktop/windows/installer/service/transactions/copy_file_operation.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

CopyFileOperation::CopyFileOperation(const base::FilePath& source,
                                     const base::FilePath& destination,
                                     DestinationFolder folder,
                                     FileAttributesReader read_attributes)
    : FileTransferOperation(source, destination, folder, read_attributes) {}

CopyFileOperation::~CopyFileOperation() = default;

void CopyFileOperation::LogStart() const {
  VLOG(1) << "Copying " << source().value() << " to " << destination().value();
}

bool CopyFileOperation::Transfer() {
  // The destination was made free beforehand; a file that appeared there since is not
  // overwritten (the rollback would delete it).
  if (!base::CopyFileToFreePath(source(), destination(), source_writable())) {
    const DWORD error = GetLastError();
    set_transfer_error(error);
    if (!trying() || !IsInTheWay(error))
      LOG(ERROR) << "File copy failed " << base::Win32ErrorToString(error);
    return false;
  }
  VLOG(1) << "File copied successfully";
  return true;
}

bool CopyFileOperation::UndoTransfer() {
  // The source was never touched, so the undo itself succeeds; a copy that stays
  // keeps the original from coming back, which the log must show.
  if (!base::DeleteFile(destination(), false))
    LOG(ERROR) << "Could not remove the copy " << destination().AsUTF8();
  return true;
}

}  // namespace installer
