#include "desktop/windows/installer/service/transactions/move_file_operation.h"

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source,
                                     const base::FilePath& destination,
                                     FileAttributesReader read_attributes)
    : FileTransferOperation(source, destination, DestinationFolder::kAny, read_attributes) {}

MoveFileOperation::~MoveFileOperation() = default;

void MoveFileOperation::LogStart() const {
  VLOG(1) << "Moving " << source().value() << "to" << destination().value();
}

bool MoveFileOperation::Transfer() {
  if (!base::MoveUnsafe(source(), destination())) {
    LOG(ERROR) << "File copy failed";
    return false;
  }
  VLOG(1) << "File copied successfully";
  return true;
}

bool MoveFileOperation::UndoTransfer() {
  if (!base::MoveUnsafe(destination(), source())) return false;
  VLOG(1) << "File move rolled back successfully";
  return true;
}

}  // namespace installer
