// What copying and moving a file share: the destination is made ready through the
// nested transaction (a missing folder created, an existing file set aside), so that a
// rollback restores it exactly; in a folder the installation made, only once a first
// transfer finds something in its way. A read-only source is made writable for the
// transfer and read-only again when the transfer is undone.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_OPERATION_H_

#include <windows.h>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/path_state.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

// Where the destination lies.
enum class DestinationFolder {
  kAny,
  // In a folder this installation made: nothing but its own files can be there, so the
  // transfer is tried before the destination is read.
  kMadeByThisInstallation,
};

class FileTransferOperation : public TransactionOperation {
 public:
  [[nodiscard]] bool Do(Transaction& nested) final;
  void Rollback() final;

 protected:
  // |read_attributes| reads what is in the way (tests pass one that fails).
  FileTransferOperation(const base::FilePath& source, const base::FilePath& destination,
                        DestinationFolder folder = DestinationFolder::kAny,
                        FileAttributesReader read_attributes = &GetFileAttributesW);
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
  // Called by a failed Transfer with the system's error.
  void set_transfer_error(DWORD error) { transfer_error_ = error; }
  // The transfer is tried on an unprepared destination: a file or a missing folder in
  // the way is expected then, not an error to report.
  bool trying() const { return trying_; }
  // The error means a file is at the destination, or its folder is missing.
  static bool IsInTheWay(DWORD error);

 private:
  // The transfer onto the unprepared destination; true when done.
  [[nodiscard]] bool TryTransfer();
  // Removes what a failed transfer left at the destination, so that the folders made
  // for it can go too.
  void DiscardPartialDestination();

  const base::FilePath source_;
  const base::FilePath destination_;
  bool transferred_ = false;
  bool source_was_read_only_ = false;
  bool source_writable_ = false;
  const DestinationFolder folder_;
  const FileAttributesReader read_attributes_;
  bool trying_ = false;
  DWORD transfer_error_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_TRANSFER_OPERATION_H_
