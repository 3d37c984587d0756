// Creates a folder with every missing parent; a rollback removes the folders it created
// that are still empty.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class CreateFolderOperation : public TransactionOperation {
 public:
  explicit CreateFolderOperation(const base::FilePath& folder);
  ~CreateFolderOperation() override;

  [[nodiscard]] bool Do(Transaction& nested) override;
  void Rollback() override;

  // The deepest folder above the created ones that already existed; empty when nothing
  // was created.
  const base::FilePath& existing_ancestor() const { return existing_ancestor_; }

 private:
  base::FilePath folder_;
  base::FilePath existing_ancestor_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
