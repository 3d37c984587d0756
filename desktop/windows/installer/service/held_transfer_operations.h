// What an installation makes below its install folder, as CreateFolderOperation,
// CopyFileOperation and MoveFileOperation make it (missing folders made, a file at the
// destination set aside, everything undone by a rollback), but only through handles: the
// folders from the install folder down, held by a HeldTree until the commit or the
// rollback, each missing one made relative to its held parent, and each name reached
// relative to its held folder. A link on the way or at a name fails the operation, logged
// ("..., reached through a link"), and nothing it leads to is written or set aside.
//
//   transaction->Execute(std::make_unique<HeldCopyOperation>(
//       context->GetHeldTree(), package.Append(L"app.exe"), install.Append(L"sub\\app.exe")));
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_TRANSFER_OPERATIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_TRANSFER_OPERATIONS_H_

#include <stdint.h>

#include <memory>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/service/held_tree.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

// Holds `folder`, below the install folder that `tree` holds, making the folders missing
// on its way; a rollback removes those it made, each while it is empty.
class HeldFolderOperation : public TransactionOperation {
 public:
  // *made, when given, tells after Do whether `folder` itself was missing and made.
  HeldFolderOperation(std::shared_ptr<HeldTree> tree, const base::FilePath& folder,
                      bool* made = nullptr);
  ~HeldFolderOperation() override;

  [[nodiscard]] bool Do(Transaction& nested) override;
  void Rollback() override;

 private:
  const std::shared_ptr<HeldTree> tree_;
  const base::FilePath folder_;
  bool* const made_folder_;
  std::vector<base::FilePath> made_;
};

// Copies `source` (anywhere) to `destination` below the install folder: the copy is a new
// file made in the held folder, never written over anything; a rollback removes it, only
// when the name still holds that very file.
class HeldCopyOperation : public TransactionOperation {
 public:
  HeldCopyOperation(std::shared_ptr<HeldTree> tree, const base::FilePath& source,
                    const base::FilePath& destination);
  ~HeldCopyOperation() override;

  [[nodiscard]] bool Do(Transaction& nested) override;
  void Rollback() override;

 private:
  const std::shared_ptr<HeldTree> tree_;
  const base::FilePath source_;
  const base::FilePath destination_;
  // The copy's index within its volume once made; 0 before.
  uint64_t copy_index_ = 0;
};

// Moves the file `source` to `destination`, both below the install folder; a rollback
// moves it back, only when the name still holds that very file.
class HeldMoveOperation : public TransactionOperation {
 public:
  HeldMoveOperation(std::shared_ptr<HeldTree> tree, const base::FilePath& source,
                    const base::FilePath& destination);
  ~HeldMoveOperation() override;

  [[nodiscard]] bool Do(Transaction& nested) override;
  void Rollback() override;

 private:
  const std::shared_ptr<HeldTree> tree_;
  const base::FilePath source_;
  const base::FilePath destination_;
  // The moved file's index within its volume once moved; 0 before.
  uint64_t moved_index_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_TRANSFER_OPERATIONS_H_
