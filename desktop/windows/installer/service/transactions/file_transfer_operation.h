// What copying and moving a file share: the destination is made ready through the
// nested transaction (a missing folder created, an existing file set aside), so that a
// rollback restores it exactly; a read-only source is made writable for the transfer
// and read-only again when the transfer is undone.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class FileTransferOperation : public TransactionOperation {
 public:
  [[nodiscard]] bool Do(Transaction& nested) final;
  void Rollback() final;

 protected:
  FileTransferOperation(const base::FilePath& source, const base::FilePath& destination);
  ~FileTransferOperation() override;

  // The verbose line that starts the transfer.
  virtual void LogStart() const = 0;
  // Copies or moves the source to the prepared destination; true when done.
  [[nodiscard]] virtual bool Transfer() = 0;
  // Undoes a done transfer; true when the source is back as it was.
  [[nodiscard]] virtual bool UndoTransfer() = 0;

  const base::FilePath& source() const { return source_; }
  const base::FilePath& destination() const { return destination_; }
  // The source is known not to be read-only when the transfer starts.
  bool source_writable() const { return source_writable_; }
  // Called by a failed Transfer that found another file at the prepared destination.
  void set_destination_taken() { destination_taken_ = true; }

 private:
  // Removes what a failed transfer left at the destination, so that the folders made
  // for it can go too.
  void DiscardPartialDestination();

  const base::FilePath source_;
  const base::FilePath destination_;
  bool transferred_ = false;
  bool source_was_read_only_ = false;
  bool source_writable_ = false;
  bool destination_taken_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_OPERATION_H_
