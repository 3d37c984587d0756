// Copies a file over whatever was at the destination; a rollback deletes the copy and
// the nested preparations bring back the earlier destination.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_COPY_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_COPY_FILE_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class CopyFileOperation : public TransactionOperation {
 public:
  CopyFileOperation(const base::FilePath& source, const base::FilePath& destination);
  ~CopyFileOperation() override;

  bool Do(Transaction& nested) override;
  void Rollback() override;

 private:
  base::FilePath source_;
  base::FilePath destination_;
  bool copied_ = false;
  bool source_was_read_only_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_COPY_FILE_OPERATION_H_
