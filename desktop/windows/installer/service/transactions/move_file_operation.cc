#include "desktop/windows/installer/service/transactions/move_file_operation.h"

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/service/transactions/file_operation_target.h"

// wingdi.h defines ERROR as 0, which would make LOG(ERROR) name LOG_0.
#undef ERROR

namespace installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source,
                                     const base::FilePath& destination)
    : source_(source), destination_(destination) {}

MoveFileOperation::~MoveFileOperation() = default;

bool MoveFileOperation::Do(Transaction& nested) {
  if (!PrepareFileOperationTarget(destination_, nested)) return false;
  VLOG(1) << "Moving " << source_.value() << "to" << destination_.value();
  source_was_read_only_ = ClearReadOnlyBeforeTransfer(source_);
  if (!base::MoveUnsafe(source_, destination_)) {
    LOG(ERROR) << "File copy failed";
    return false;
  }
  VLOG(1) << "File copied successfully";
  moved_ = true;
  return true;
}

void MoveFileOperation::Rollback() {
  if (moved_ && base::MoveUnsafe(destination_, source_)) {
    moved_ = false;
    VLOG(1) << "File move rolled back successfully";
  }
  if (source_was_read_only_ && !moved_) RestoreReadOnly(source_);
}

}  // namespace installer
