#include "desktop/windows/installer/service/transactions/copy_file_operation.h"

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/service/transactions/file_operation_target.h"

// wingdi.h defines ERROR as 0, which would make LOG(ERROR) name LOG_0.
#undef ERROR

namespace installer {

CopyFileOperation::CopyFileOperation(const base::FilePath& source,
                                     const base::FilePath& destination)
    : source_(source), destination_(destination) {}

CopyFileOperation::~CopyFileOperation() = default;

bool CopyFileOperation::Do(Transaction& nested) {
  if (!PrepareFileOperationTarget(destination_, nested)) return false;
  VLOG(1) << "Copying " << source_.value() << " to " << destination_.value();
  source_was_read_only_ = ClearReadOnlyBeforeTransfer(source_);
  if (!base::CopyFile(source_, destination_)) {
    LOG(ERROR) << "File copy failed " << base::Win32ErrorToString(GetLastError());
    return false;
  }
  VLOG(1) << "File copied successfully";
  copied_ = true;
  return true;
}

void CopyFileOperation::Rollback() {
  if (copied_) base::DeleteFile(destination_, false);
  // The source is left as it was found.
  if (source_was_read_only_) RestoreReadOnly(source_);
}

}  // namespace installer
