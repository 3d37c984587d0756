// A fresh folder that only administrators and the system can change, for the files an
// elevated process runs although a standard user could have written them: the copy it
// checks is then the copy it runs. Beside it, "<folder>.lck" is held open, without
// sharing delete, and deleted on close, so it goes with the run also when the run is
// killed; later elevated runs remove such folders whose locks nobody holds, a few per run.
//
//   AdminOnlyFolder folder;
//   base::FilePath copy;
//   if (folder.Create() && folder.CopyIn(user_file, L"installer.exe", &copy) && Check(copy))
//     Run(copy);
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ADMIN_ONLY_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ADMIN_ONLY_FOLDER_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace installer {

class AdminOnlyFolder {
 public:
  AdminOnlyFolder() = default;
  // Removes the folder with what it holds, unless it was left.
  ~AdminOnlyFolder();
  AdminOnlyFolder(const AdminOnlyFolder&) = delete;
  AdminOnlyFolder& operator=(const AdminOnlyFolder&) = delete;

  // A new folder of a random name in the Windows folder's "Temp", which standard users
  // may add to but not rename or delete from; false (logged) when it cannot be made with
  // its access list. Removes the folders of ended runs first.
  [[nodiscard]] bool Create();
  // As Create, in `parent`, with the ended runs' folders decided by `is_administrators`
  // (tests).
  [[nodiscard]] bool CreateIn(const base::FilePath& parent, bool (*is_administrators)(HANDLE));
  // Copies `source` into the folder as `name`.
  [[nodiscard]] bool CopyIn(const base::FilePath& source, const wchar_t* name,
                            base::FilePath* copy);
  // Removes the folder with what it holds now (logged when it cannot), and lets go of
  // its lock.
  void Remove();
  // Leaves the folder and what it holds in place (a log to read later) until an elevated
  // run after this one's end removes it.
  void Keep() { path_.clear(); }

  const base::FilePath& path() const { return path_; }

 private:
  base::FilePath path_;
  // Deleted on close, after the folder.
  base::ScopedHandle lock_;
};

// The security the folder and its lock are made with: owned by the Administrators, full
// control for them and the system only, inherited by what is put inside, nothing
// inherited from the parent. False (logged) when it cannot be built.
[[nodiscard]] bool BuildAdminOnlySecurity(base::ScopedLocalAlloc<>* descriptor);

// Whether the held folder was made by an administrator (its owner is the Administrators
// or the system): only then can no standard user have put a link or anything else in it.
using OwnerCheck = bool (*)(HANDLE folder);
bool IsOwnedByAdministrators(HANDLE folder);

// Removes from `parent` (the Windows folder's "Temp" when empty) the folders that an
// AdminOnlyFolder of an ended run left: named as one, its lock held by nobody, not a
// link, and passing `is_administrators` (a standard user may add folders there too). Of
// the folders so named it looks at a random 16 per call, so a run's cost stays bounded
// however many a user made; later runs take the rest.
void RemoveEndedAdminOnlyFolders(const base::FilePath& parent = base::FilePath(),
                                 OwnerCheck is_administrators = &IsOwnedByAdministrators);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ADMIN_ONLY_FOLDER_H_
