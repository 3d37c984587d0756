// Moves a file or folder over whatever was at the destination; a rollback moves it back
// and the nested preparations bring back the earlier destination.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class MoveFileOperation : public TransactionOperation {
 public:
  MoveFileOperation(const base::FilePath& source, const base::FilePath& destination);
  ~MoveFileOperation() override;

  bool Do(Transaction& nested) override;
  void Rollback() override;

 private:
  base::FilePath source_;
  base::FilePath destination_;
  bool moved_ = false;
  bool source_was_read_only_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
