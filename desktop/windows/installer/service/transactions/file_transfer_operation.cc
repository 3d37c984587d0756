#include "desktop/windows/installer/service/transactions/file_transfer_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/path_state.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {

namespace {

// Creates the missing folder of |destination|, or sets an existing file aside. A
// destination whose existence cannot be told stops the operation: taking it for
// missing would overwrite it, and the rollback would then delete the only copy.
[[nodiscard]] bool PrepareDestination(const base::FilePath& destination, Transaction& nested,
                                      FileAttributesReader read) {
  // One read of the destination also tells whether its folder is there, so the folder
  // of every file of a package is not read again for each.
  bool folder_exists = false;
  switch (GetPathState(destination, nullptr, &folder_exists, read)) {
    case PathState::kUnknown:
      return false;
    case PathState::kExists:
      return nested.Execute(
          std::make_unique<DeleteFileOperation>(destination, false, false, read));
    case PathState::kMissing:
      if (folder_exists) return true;
      break;
  }
  const base::FilePath folder = destination.DirName();
  DWORD folder_attributes = 0;
  switch (GetPathState(folder, &folder_attributes, read)) {
    case PathState::kUnknown:
      return false;
    case PathState::kMissing:
      return nested.Execute(std::make_unique<CreateFolderOperation>(folder));
    case PathState::kExists:
      if (!(folder_attributes & FILE_ATTRIBUTE_DIRECTORY))
        return nested.Execute(std::make_unique<CreateFolderOperation>(folder));
      break;
  }
  // The folder appeared since the destination was read: read it again.
  switch (GetPathState(destination, nullptr, read)) {
    case PathState::kUnknown:
      return false;
    case PathState::kMissing:
      return true;
    case PathState::kExists:
      break;
  }
  return nested.Execute(std::make_unique<DeleteFileOperation>(destination, false, false, read));
}

// Clears the read-only bit of |source|; true when it was set and is now cleared.
// *writable tells whether the source is known to be writable now.
[[nodiscard]] bool ClearReadOnly(const base::FilePath& source, bool* writable) {
  const DWORD attributes = GetFileAttributesW(source.value().c_str());
  *writable = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  if (!SetFileAttributesW(source.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    LOG(ERROR) << "Couldn't clear RO attribute of " << source.value();
    return false;
  }
  *writable = true;
  return true;
}

void RestoreReadOnly(const base::FilePath& path) {
  const DWORD attributes = GetFileAttributesW(path.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesW(path.value().c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

}  // namespace

FileTransferOperation::FileTransferOperation(const base::FilePath& source,
                                             const base::FilePath& destination,
                                             DestinationFolder folder,
                                             FileAttributesReader read_attributes)
    : source_(source),
      destination_(destination),
      folder_(folder),
      read_attributes_(read_attributes) {}

FileTransferOperation::~FileTransferOperation() = default;

// static
bool FileTransferOperation::IsInTheWay(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
         error == ERROR_PATH_NOT_FOUND;
}

bool FileTransferOperation::Do(Transaction& nested) {
  const bool try_first = folder_ == DestinationFolder::kMadeByThisInstallation;
  if (!try_first && !PrepareDestination(destination_, nested, read_attributes_)) return false;
  LogStart();
  source_was_read_only_ = ClearReadOnly(source_, &source_writable_);
  if (try_first) {
    if (TryTransfer()) return true;
    if (!IsInTheWay(transfer_error_)) {
      // The destination was free (the folder is this installation's): whatever is
      // there now is this transfer's own.
      DiscardPartialDestination();
      return false;
    }
    if (!PrepareDestination(destination_, nested, read_attributes_)) return false;
  }
  transfer_error_ = 0;
  transferred_ = Transfer();
  // Someone else's file at the destination is not this transfer's to remove.
  const bool taken =
      transfer_error_ == ERROR_FILE_EXISTS || transfer_error_ == ERROR_ALREADY_EXISTS;
  if (!transferred_ && !taken) DiscardPartialDestination();
  return transferred_;
}

bool FileTransferOperation::TryTransfer() {
  // Under Wine every lookup of a missing name reads the whole folder: the transfer, which
  // never replaces, tells by itself whether a file or a missing folder is in the way, so
  // a free destination is looked up once instead of twice.
  trying_ = true;
  transfer_error_ = 0;
  transferred_ = Transfer();
  trying_ = false;
  return transferred_;
}

void FileTransferOperation::DiscardPartialDestination() {
  // The destination was free before the transfer: whatever is there now (a file cut
  // short by a full disk, say) is this transfer's own, and would look complete.
  if (GetPathState(destination_, nullptr, read_attributes_) != PathState::kExists) return;
  if (GetPathState(source_, nullptr, read_attributes_) == PathState::kMissing && UndoTransfer())
    return;
  if (!base::DeleteFile(destination_, true))
    LOG(ERROR) << "Could not remove the partial " << destination_.value();
}

void FileTransferOperation::Rollback() {
  if (transferred_) {
    // A source that is not back keeps the attributes it has.
    if (!UndoTransfer()) return;
    transferred_ = false;
  }
  if (source_was_read_only_) RestoreReadOnly(source_);
}

}  // namespace installer
