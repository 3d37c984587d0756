// Deletes a name below the install folder as DeleteFileOperation deletes a path (set aside
// beside itself by Do, removed by the commit, put back by a rollback), but only through
// handles: the folders from the install folder down to it, held by a HeldTree, and the
// name itself, held from Do to the commit or the rollback. A link on the way or a folder
// at the name leaves it untouched; a name that is itself a link is removed as the link.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_DELETE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_DELETE_OPERATION_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/service/held_tree.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class HeldDeleteOperation : public TransactionOperation {
 public:
  // `path` lies below the install folder that `tree` holds (null when it could not be
  // held: the deletion then fails). The flags are DeleteFileOperation's. *refused, when
  // given, is set when the name is left for a link or a folder on its way or at it: a
  // deletion that failed, which nothing that follows the name's path may try again.
  HeldDeleteOperation(std::shared_ptr<HeldTree> tree, const base::FilePath& path,
                      bool check_in_use, bool remove_empty_parents, bool* refused = nullptr);
  ~HeldDeleteOperation() override;

  [[nodiscard]] bool Do(Transaction& nested) override;
  void Rollback() override;

  // Where the item sits while set aside; empty before Do chose it.
  const base::FilePath& temporary_path() const { return temporary_path_; }

 private:
  // Logs and tells why the name is left alone.
  void Refuse(const base::Failure& failure);
  // Grants the running account delete access to the name in the held `folder`, through
  // handles opened there; false, logged, when it cannot.
  [[nodiscard]] bool GrantDeleteAccess(const HeldFile& folder);
  // Puts a program file that turns out to be in use back; false when it was.
  [[nodiscard]] bool CheckNotInUse(const HeldFile& folder);

  const std::shared_ptr<HeldTree> tree_;
  const base::FilePath path_;
  base::FilePath temporary_path_;
  // The name itself, held from Do until the commit or the rollback.
  HeldFile file_;
  bool moved_ = false;
  const bool check_in_use_;
  const bool remove_empty_parents_;
  bool* const refused_;
  // A rollback could not put the item back: the set-aside copy is the only one left.
  bool restore_failed_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_DELETE_OPERATION_H_
