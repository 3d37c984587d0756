// Deletes a file or folder in two steps: Do sets it aside beside itself as
// "<name>.<seconds>.old" ("<name>.<seconds>.<n>.old" when that is taken), the commit removes it (or schedules its removal at restart), and
// a rollback puts it back.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/path_state.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

// Whether `name` is a set-aside name as Do chooses them; when it is, *original gets
// the name it was set aside from and *seconds the second it was.
[[nodiscard]] bool ParseSetAsideName(const std::wstring& name, std::wstring* original, int64_t* seconds);

// The longest suffix Do may add to a name now: a path that must be set aside one day
// needs room for it within MAX_PATH, where the rename works.
size_t LongestSetAsideSuffixSize();

// The rights a deletion asks for: DELETE with the generic write rights of a file.
const uint32_t kDeleteAccess = 0x130116;

// Whether `path` names a program file (".exe", ".dll"): one in use cannot be deleted.
bool IsProgramFile(const base::FilePath& path);

// Picks the set-aside name of `path` for this second as Do does, the first that `state`
// finds missing; false, logged, when none is or one cannot be checked.
[[nodiscard]] bool ChooseSetAsideName(
    const base::FilePath& path, const std::function<PathState(const base::FilePath&)>& state,
    base::FilePath* chosen);

// At the commit of a deletion that set `path` aside as `copy` (when `moved`): whether the
// copy is to be removed now, logged; never once a rollback failed to put it back, as it
// is then the only one.
[[nodiscard]] bool IsSetAsideCopyRemoved(bool moved, bool restore_failed,
                                         const base::FilePath& path,
                                         const base::FilePath& copy);

class DeleteFileOperation : public TransactionOperation {
 public:
  // With |check_in_use|, an ".exe" or ".dll" that cannot be opened for writing once set
  // aside (a running program, a loaded library) is put back and the deletion fails. With
  // |remove_empty_parents|, the commit also removes the folders above that became empty.
  // |read_attributes| tells what is there (tests pass one that fails).
  DeleteFileOperation(const base::FilePath& path, bool check_in_use, bool remove_empty_parents,
                      FileAttributesReader read_attributes = &GetFileAttributesW);
  ~DeleteFileOperation() override;

  [[nodiscard]] bool Do(Transaction& nested) override;
  void Rollback() override;

  // Where the item sits while set aside; empty before Do chose it.
  const base::FilePath& temporary_path() const { return temporary_path_; }

 private:
  base::FilePath path_;
  base::FilePath temporary_path_;
  bool moved_ = false;
  bool check_in_use_;
  bool remove_empty_parents_;
  const FileAttributesReader read_attributes_;
  // A rollback could not put the item back: the set-aside copy is the only one left.
  bool restore_failed_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_
