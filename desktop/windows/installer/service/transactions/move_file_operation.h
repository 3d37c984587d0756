// Moves a file or folder over whatever was at the destination; a rollback moves it back
// and the nested preparations bring back the earlier destination.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/file_transfer_operation.h"

namespace installer {

class MoveFileOperation : public FileTransferOperation {
 public:
  MoveFileOperation(const base::FilePath& source, const base::FilePath& destination,
                    FileAttributesReader read_attributes = &GetFileAttributesW);
  ~MoveFileOperation() override;

 private:
  void LogStart() const override;
  [[nodiscard]] bool Transfer() override;
  [[nodiscard]] bool UndoTransfer() override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
