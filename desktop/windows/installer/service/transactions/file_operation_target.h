// Steps that the file copy and move operations share.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_OPERATION_TARGET_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_OPERATION_TARGET_H_

#include "base/files/file_path.h"

namespace installer {

class Transaction;

// Makes room for |destination| through |nested|: creates its missing folder, or sets an
// existing file aside, so that a rollback restores the target exactly.
bool PrepareFileOperationTarget(const base::FilePath& destination, Transaction& nested);

// Clears the read-only bit of |source|; true when it was set and is now cleared.
bool ClearReadOnlyBeforeTransfer(const base::FilePath& source);

// Sets the read-only bit of |path| again after a rollback.
void RestoreReadOnly(const base::FilePath& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_OPERATION_TARGET_H_
