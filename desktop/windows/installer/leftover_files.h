// What earlier runs of the installer left in an install folder when they ended before
// their record was written or their transaction finished: a version folder that no
// record names, and set-aside copies ("<name>.<seconds>.old") of the installation's own
// files. Only what the installation's own names and lists mark as ours is touched.
#ifndef DESKTOP_WINDOWS_INSTALLER_LEFTOVER_FILES_H_
#define DESKTOP_WINDOWS_INSTALLER_LEFTOVER_FILES_H_

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

class InstallLog;
class Transaction;

// Names as Windows compares them.
struct IgnoreCaseLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return base::FilePath::CompareIgnoreCase(a, b) < 0;
  }
};
using NameSet = std::set<std::wstring, IgnoreCaseLess>;

struct LeftoverScope {
  base::FilePath install_folder;
  // Paths below a version folder that the package puts there, as in "files_list".
  NameSet version_files;
  // Names of files that installations put in the install folder itself.
  NameSet root_files;
  // Version folders that a record names: never removed, only their set-aside copies.
  NameSet recorded_subfolders;
  // Set-aside copies made in this second or later may still be this run's own.
  int64_t set_aside_before = 0;
  // The folder of the running program: a leftover version folder holding it is not
  // removed whole (it cannot go while the program runs), only named in `in_use`.
  base::FilePath running_folder;
};

// Adds what `record` names (its version folder, its files and root files) to `scope`.
void AddRecordToScope(const InstallLog& record, LeftoverScope* scope);

// Adds the files and root files of `record` to `scope`, not its version folder: that of
// an unfinished uninstallation's set-aside record is a leftover of an installation.
void AddRecordFilesToScope(const InstallLog& record, LeftoverScope* scope);

// Removes through `transaction` the root files that `record` names and that are in
// `scope`'s install folder; names that are not plain file names are skipped.
void RemoveRecordedRootFiles(const InstallLog& record, const LeftoverScope& scope,
                             Transaction* transaction);

// Whether `name` has the form of a version folder: four numbers, maybe "_<n>" after.
bool IsVersionFolderName(const std::wstring& name);

// Removes the leftovers through `transaction`; what cannot be removed stays (logged).
// A leftover version folder that holds the running program is appended to `in_use`.
void RemoveLeftovers(const LeftoverScope& scope, Transaction* transaction,
                     std::vector<base::FilePath>* in_use = nullptr);

// Removes through `transaction` the set-aside copies of `names` made before
// `set_aside_before` directly in `folder` (a shortcut folder, say).
void RemoveSetAsideCopies(const base::FilePath& folder, const NameSet& names,
                          int64_t set_aside_before, Transaction* transaction);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_LEFTOVER_FILES_H_
