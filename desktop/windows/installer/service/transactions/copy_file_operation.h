// Copies a file over whatever was at the destination; a rollback deletes the copy and
// the nested preparations bring back the earlier destination.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_COPY_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_COPY_FILE_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/file_transfer_operation.h"

namespace installer {

class CopyFileOperation : public FileTransferOperation {
 public:
  CopyFileOperation(const base::FilePath& source, const base::FilePath& destination,
                    DestinationFolder folder = DestinationFolder::kAny,
                    FileAttributesReader read_attributes = &GetFileAttributesW);
  ~CopyFileOperation() override;

 private:
  void LogStart() const override;
  [[nodiscard]] bool Transfer() override;
  [[nodiscard]] bool UndoTransfer() override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_COPY_FILE_OPERATION_H_
